#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strandis::test {

// Writes fields most significant bit first, as the standards' syntax tables give them.
class BitWriter {
public:
    BitWriter& put(std::uint64_t value, int bits) {
        for (int k = bits - 1; k >= 0; --k) {
            if (fill_ == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<std::uint8_t>(((value >> k) & 1) << (7 - fill_));
            fill_ = (fill_ + 1) % 8;
        }
        return *this;
    }
    // The bits written so far.
    std::size_t bits() const { return bytes_.size() * 8 - (fill_ == 0 ? 0 : 8 - fill_); }
    // Zero bits up to the next byte boundary.
    BitWriter& align() {
        fill_ = 0;
        return *this;
    }
    // Pads the last byte with zero bits and hands the bytes over.
    std::vector<std::uint8_t> take() {
        fill_ = 0;
        return std::move(bytes_);
    }

private:
    std::vector<std::uint8_t> bytes_;
    int fill_ = 0;
};

}  // namespace strandis::test
