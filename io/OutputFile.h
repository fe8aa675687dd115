#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "io/WriteBehind.h"

struct iovec;

namespace strandis {

// A file created for writing, with a buffer in front of it so that many small chunks cost few
// system calls. The bytes on disk are exactly those of the writes, in order. Errors raise
// RunError with a message for the user. Closed (without flushing) by its destructor.
class OutputFile {
public:
    static constexpr std::size_t kBufferSize = 256 * 1024;

    OutputFile() = default;
    ~OutputFile() { abandon(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or truncates an existing one. With `behind`, full buffers are written
    // by its thread while the next one fills; a failure shows at a later write, flush or close.
    void create(const std::string& path, WriteBehind* behind = nullptr);
    void write(const std::uint8_t* data, std::size_t length);
    // Writes the parts in order, behind what is buffered, without copying them; `parts` is
    // used up on the way.
    void writeVector(iovec* parts, int count);
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
    std::int64_t size() const { return written_ + queued_ + static_cast<std::int64_t>(used_); }

private:
    void writeOut(const std::uint8_t* data, std::size_t length);
    // Waits for the buffer handed to the thread, if any; raises RunError when its writing failed.
    void settle();
    [[noreturn]] void writeFailed(int error) const;

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    std::int64_t written_ = 0;  // by this thread
    WriteBehind* behind_ = nullptr;
    std::unique_ptr<std::uint8_t[]> spare_;  // filled while the thread writes buffer_'s twin
    std::uint64_t ticket_ = 0;               // of the buffer with the thread; 0: none
    std::int64_t queued_ = 0;                // bytes handed to the thread
    int behindError_ = 0;                    // set by the thread; read after waiting for it
    std::function<void()> closeHook_;
};

}  // namespace strandis
