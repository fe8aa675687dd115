#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <sys/uio.h>

#include "io/WriteBehind.h"

namespace strandis {

// A file created for writing, with a buffer in front of it so that many small chunks cost few
// system calls. The bytes on disk are exactly those of the writes, in order. Errors raise
// RunError with a message for the user. Closed (without flushing) by its destructor.
//
// What is written goes into a batch of parts, written with one gathering call: the bytes copied
// into the buffer, and, for a file that took a good share of the block before, the bytes of the
// block lent to its WriteBehind by reference, uncopied. With a WriteBehind, batches are written
// by its thread while the next ones fill: the buffer is two halves, one filling while the
// thread writes from the other, and a few batches may wait for the thread at once.
class OutputFile final : private WriteBehind::Borrower {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;  // a half
    static constexpr int kParts = 512;                      // in a batch
    static constexpr std::size_t kBatches = 16;             // with the thread at most
    // Bytes of one loan that make a file write the next loan's by reference: a stream with a
    // smaller share of the source is copied into the buffer, to be written in few calls.
    static constexpr std::size_t kByReference = 64 * 1024;
    // Blocks allocated ahead of a file written by the thread: as much again as it holds, from
    // 1 to 32 MiB, while its file system keeps 1 GiB free besides.
    static constexpr std::int64_t kReserveMost = std::int64_t{32} << 20;
    static constexpr std::int64_t kKeepFree = std::int64_t{1} << 30;
    // A batch handed to the thread ends on a multiple of kAlign bytes of the file, and the bytes
    // past it go in the next batch: a write that ends inside a 64 KiB stretch leaves the page
    // cache with small pieces to start the next from, and writing into those costs the kernel a
    // fifth more. A tail of more parts than kCarryParts is written as it is.
    static constexpr std::size_t kAlign = 64 * 1024;
    static constexpr int kCarryParts = 64;

    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or truncates an existing one. With `behind`, batches are written by its
    // thread; a failure shows at a later write, flush or close.
    void create(const std::string& path, WriteBehind* behind = nullptr);
    void write(const std::uint8_t* data, std::size_t length);
    // Room for the next `length` bytes of the file (at most kBufferSize), to be filled before
    // the next call: for bytes made in place.
    std::uint8_t* append(std::size_t length);
    void flush();
    // Writes `length` bytes at `offset` over what is there, behind everything written so far.
    void rewrite(std::int64_t offset, const std::uint8_t* data, std::size_t length);
    // Called first when the file closes (not when it is abandoned): the last words of a writer
    // whose header holds sizes.
    void setCloseHook(std::function<void()> hook) { closeHook_ = std::move(hook); }
    // Flushes and closes; raises RunError when the last bytes cannot be written.
    void close();
    // Closes without writing what is still buffered; for the way out of a failed run.
    void abandon() noexcept;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // Bytes written so far, buffered ones included.
    std::int64_t size() const { return written_ + queued_ + static_cast<std::int64_t>(bytes_); }

private:
    struct Half {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t used = 0;
        std::uint64_t ticket = 0;  // of the last batch with parts in it
    };
    struct Batch {
        std::unique_ptr<iovec[]> parts;
        std::uint64_t ticket = 0;  // while with the thread
    };

    void add(const std::uint8_t* data, std::size_t length);
    std::uint8_t* room(std::size_t length);
    void countLoan(std::size_t length);
    // Hands the batch to the thread, or writes it here without one. Raises RunError for a
    // failed write, or, unless `raise` is false, for one the thread met before.
    void post(bool raise);
    // Takes the bytes past the batch's last kAlign boundary off it (all of them, when it crosses
    // none), into the carry, when there are at most `room` of them in at most kCarryParts
    // parts; false when there is no such tail to carry.
    bool cutTail(std::size_t room);
    // Puts the carry back as the first parts of the new batch: where they lie, or copied into
    // the filling half (which has room for them) when they lie in a loan that ends or in the
    // half that was full.
    void carryOn(bool copy);
    void nextHalf(bool raise);
    void loanEnds() noexcept override;
    void clear() noexcept;
    WriteBehind::Reserve reserveFor(std::int64_t end);
    void trim() noexcept;
    void writeOut(const std::uint8_t* data, std::size_t length);
    // Waits for `ticket`, if any; raises RunError when a write of the thread failed.
    void settle(std::uint64_t ticket);
    // settle(), or without `raise` only the wait.
    void awaitTicket(std::uint64_t ticket, bool raise);
    [[noreturn]] void writeFailed(int error) const;

    int fd_ = -1;
    std::string path_;
    Half halves_[2];
    int half_ = 0;  // the one filling
    std::unique_ptr<Batch[]> batches_;
    std::size_t batch_ = 0;     // the one filling
    int count_ = 0;             // its parts
    std::size_t bytes_ = 0;     // in them
    bool borrows_ = false;      // some part lies in the lent block
    std::uint64_t ticket_ = 0;  // of the last batch posted; 0: none
    std::int64_t written_ = 0;  // by this thread
    WriteBehind* behind_ = nullptr;
    std::int64_t queued_ = 0;    // bytes handed to the thread
    std::int64_t reserved_ = 0;  // blocks allocated ahead (or not, for want of room) up to here
    std::atomic<int> behindError_{0};  // set by the thread
    std::uint64_t loan_ = 0;           // the loan whose bytes were counted
    std::size_t loanBytes_ = 0;
    bool hot_ = false;  // the loan before gave this file kByReference bytes or more
    iovec carry_[kCarryParts]{};
    int carried_ = 0;
    std::function<void()> closeHook_;
};

}  // namespace strandis
