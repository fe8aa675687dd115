#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace strandis {

// A file opened for reading, with 64-bit size and position. Errors raise RunError with a
// message for the user. Closed by its destructor.
class InputFile {
public:
    InputFile() = default;
    ~InputFile() { close(); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    void open(const std::string& path);
    void close() noexcept;
    bool isOpen() const { return fd_ >= 0; }

    // Reads until `count` bytes are in `into` or the file ends; returns the bytes read.
    std::size_t read(std::uint8_t* into, std::size_t count);
    // The next block of up to `count` bytes; raises RunError when the file ends before the size
    // it had when it was opened (it shrank while being read).
    std::size_t readBlock(std::uint8_t* into, std::size_t count);
    void seek(std::int64_t position);

    std::int64_t size() const { return size_; }
    std::int64_t position() const { return position_; }
    const std::string& path() const { return path_; }

private:
    int fd_ = -1;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::string path_;
};

// True when `path` names an existing file (not a folder).
bool FileExists(const std::string& path);

}  // namespace strandis
