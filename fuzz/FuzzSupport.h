#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "common/RunHost.h"

namespace strandis::fuzz {

// A front end with every option and box ticked that says nothing.
class QuietHost final : public RunHost {
public:
    explicit QuietHost(std::string source) : source_(std::move(source)) {}
    void log(std::string_view line) override { logged_ += line.size(); }
    void slog(std::string_view, int) override {}
    void processPendingEvents() override {}
    bool option(Option) const override { return true; }
    bool ticked(BoxKind, int) const override { return true; }
    std::string_view sourcePath() const override { return source_; }
    std::string caption(BoxKind, int slot) const override { return "box" + std::to_string(slot); }

private:
    std::string source_;
    std::size_t logged_ = 0;
};

// The input as a file in memory, with `lead` bytes of 0xFF in front so that the fuzzer's bytes
// can meet a block boundary anywhere.
class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size, std::size_t lead = 0) {
        fd_ = ::memfd_create("fuzz", 0);
        std::string filler(lead, '\xFF');
        Write(filler.data(), filler.size());
        Write(data, size);
    }
    ~MemoryFile() { ::close(fd_); }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    void Write(const void* data, std::size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t done = ::write(fd_, p, size);
            if (done <= 0) return;
            p += done;
            size -= static_cast<std::size_t>(done);
        }
    }
    int fd_ = -1;
};

// The filler in front of the input: the first byte picks how far before the end of the first
// block the input starts (0 = at the very start of the file).
inline std::size_t Lead(std::uint8_t selector) {
    return selector == 0 ? 0 : 262144 - selector * 7u;
}

}  // namespace strandis::fuzz
