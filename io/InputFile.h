#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/Navigation.h"

namespace strandis {

class WriteBehind;

// A byte range of a file: one piece of a source made of pieces of files (a disc title's cells).
struct InputExtent {
    std::string path;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    // A DVD cell whose units are interleaved with others' (an angle block, seamless branching):
    // only the units whose navigation pack names this VOB and cell id are read; 0 reads all.
    int vobId = 0;
    int cellId = 0;
};

// A file opened for reading, with 64-bit size and position. Errors raise RunError with a
// message for the user. Closed by its destructor.
//
// Blocks are read where they lie in the page cache: the file is mapped a window at a time, so
// that a pass over it costs no copy and little memory, and a helper thread maps the windows
// ahead of the reader and lets go of those behind it. Where a file cannot be mapped its blocks
// are read into the caller's buffer instead.
class InputFile {
public:
    // Bytes mapped at a time. Each window costs a mapping and an unmapping, whose TLB
    // shoot-down interrupts the process's other threads, and its pages count in the process's
    // resident memory while mapped. A pass that only reads maps 8 MiB windows, one ahead of
    // the one being read: on a file that sits in the page cache as a file read from disk does
    // (in 2 MiB pieces), it scans up to a seventh faster than with 2 MiB windows, for 10 MiB
    // more of resident memory. A pass that lends its blocks keeps windows mapped until their
    // writes are done, so it maps 2 MiB ones, two ahead: about 8 MiB in its address space.
    static constexpr std::size_t kWindow = 8 * 1024 * 1024;
    static constexpr std::size_t kLentWindow = 2 * 1024 * 1024;

    struct Block {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
    };

    InputFile();
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    void open(const std::string& path);
    // Opens the pieces as one source of their summed length, read in the order given: size()
    // and position() count through the pieces, path() names the file being read. Each file is
    // opened when the reading reaches it and must still hold its piece. Read with pread into the
    // caller's buffer (a title's pieces are rarely long enough for mapping to pay).
    void open(const std::vector<InputExtent>& extents);
    void close() noexcept;
    bool isOpen() const { return fd_ >= 0; }

    // The next block of up to `count` bytes, read into `buffer` only when the file is not mapped
    // or the block spans two windows. Its bytes stay valid until the next call or close(). Raises
    // RunError when the file ends before the size it had when it was opened (it shrank while
    // being read).
    Block nextBlock(std::uint8_t* buffer, std::size_t count);
    // Whether the next nextBlock(…, count) leaves the bytes of the block handed out last where
    // they are: a block read in place whose window the next one does not leave.
    bool keepsLastBlock(std::size_t count) const;
    // Copies the next block of up to `count` bytes into `into`; returns its size. As nextBlock.
    std::size_t readBlock(std::uint8_t* into, std::size_t count);
    // Raises the same RunError when a mapped page vanished while it was read (the file was cut
    // short under us); the bytes of that page were read as zeros. Called when a pass is done.
    void checkIntact();

    // Lends each block handed out to `behind` (see WriteBehind), for a run whose outputs write
    // on that thread: the block's bytes stay where they are, mapped or in one of this file's
    // own buffers of `blockSize` bytes, until the writes that refer to them are done, and the
    // caller's buffer is not used. Null ends the lending once those writes are done; opening
    // and closing a file wait for them too.
    void lendTo(WriteBehind* behind, std::size_t blockSize);

    // Which units of a DVD source are read (see UnitChooser): set before the source is opened;
    // a lone VOB's angle holds across the files a run goes on into.
    UnitChooser& units() { return units_; }

    std::int64_t size() const { return size_; }
    std::int64_t position() const { return position_; }
    const std::string& path() const { return path_; }

private:
    class Mapper;
    struct Loans;

    Block readNext(std::uint8_t* buffer, std::size_t count);
    // Ends the loan of the last block handed out; with `all`, waits for every loan's writes.
    void endLoan(bool all) noexcept;

    std::size_t available(std::size_t count);
    std::size_t readExtents(std::uint8_t* into, std::size_t count);
    Block nextWhole(std::uint8_t* buffer, std::size_t count);
    Block keptRun();
    std::int64_t openDescriptor(const std::string& path);
    void openExtent(std::size_t index);
    std::size_t readAt(std::uint8_t* into, std::size_t count);
    [[noreturn]] void ended(std::int64_t after);

    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::string path_;
    std::unique_ptr<Mapper> mapper_;    // none once mapping has failed: the file is then read
    std::vector<InputExtent> extents_;  // when the source is made of pieces
    std::size_t extent_ = 0;            // the piece being read
    std::int64_t extentStart_ = 0;      // its position in the source
    std::int64_t fileSize_ = 0;         // of the file being read
    UnitChooser units_;
    std::unique_ptr<Loans> loans_;        // while lending
    const std::uint8_t* last_ = nullptr;  // the bytes of the block handed out last
    // A block of a lone VOB read for one angle whose kept runs are being handed out.
    struct Pending {
        const std::uint8_t* data = nullptr;
        std::size_t size = 0;
        std::size_t whole = 0;  // bytes of whole packs
        std::int64_t start = 0;
        std::pair<std::size_t, std::size_t> run;  // its next run of kept packs
    } pending_;
};

// Lends the blocks of a source to a WriteBehind while it lives (see InputFile::lendTo).
class Lending {
public:
    Lending(InputFile& source, WriteBehind& behind, std::size_t blockSize) : source_(source) {
        source.lendTo(&behind, blockSize);
    }
    ~Lending() { source_.lendTo(nullptr, 0); }
    Lending(const Lending&) = delete;
    Lending& operator=(const Lending&) = delete;

private:
    InputFile& source_;
};

}  // namespace strandis
