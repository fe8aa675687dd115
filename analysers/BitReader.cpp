#include "analysers/BitReader.h"

namespace strandis::analysers {

std::uint8_t BitReader::fetch() {
    const std::size_t at = position++;
    if (at >= end_) return 0;
    bitsPresent_ += 8;
    return data_[at];
}

void BitReader::bitsStart() {
    used = 0;
    window = 0;
    bitsTaken_ = 0;
    bitsPresent_ = 0;
    for (int k = 0; k < 4; ++k)
        window = (window << 8) | fetch();
}

void BitReader::bitsRefill() {
    used -= 8;
    window |= fetch();
}

void BitReader::bitsSkip(unsigned n) {
    bitsTaken_ += n;
    if (n + static_cast<unsigned>(used) > 8) {
        const unsigned rest = 8 - static_cast<unsigned>(used);
        window <<= rest;
        n -= rest;
        used = 8;
        bitsRefill();
    }
    if (n <= 8) {
        window <<= n;
        used += static_cast<int>(n);
        if (used == 8) bitsRefill();
    } else {
        window <<= 8;
        used = 8;
        bitsRefill();
        window <<= n - 8;
        used = static_cast<int>(n - 8);
        if (used == 8) bitsRefill();
    }
}

std::uint32_t BitReader::bitsGet(unsigned n) {
    const std::uint32_t value = window >> (32 - n);
    bitsSkip(n);
    return value;
}

}  // namespace strandis::analysers
