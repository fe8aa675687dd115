#pragma once

#include <cstddef>
#include <cstdint>

namespace strandis::analysers {

// Reads fields of up to 16 bits, most significant bit first, keeping four bytes ahead of the
// first unread bit. Bytes at or past `end` are not there: they read as zeros, and complete()
// tells whether every bit taken so far came from real bytes.
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t end, std::size_t position)
        : position(position), data_(data), end_(end) {}

    // Fills the window with the four bytes at the position.
    void bitsStart();
    // Appends the byte at the position to the window's 8 free low bits.
    void bitsRefill();
    void bitsSkip(unsigned n);
    std::uint32_t bitsGet(unsigned n);
    bool complete() const { return bitsTaken_ <= bitsPresent_; }

    std::size_t position;
    std::uint32_t window = 0;
    int used = 0;

private:
    std::uint8_t fetch();

    const std::uint8_t* data_;
    std::size_t end_;
    std::uint64_t bitsTaken_ = 0;
    std::uint64_t bitsPresent_ = 0;
};

}  // namespace strandis::analysers
