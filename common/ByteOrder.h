#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strandis {

// Big-endian fields as the disc formats store them, and little-endian as RIFF and the "SP"
// records do.
constexpr std::uint32_t Be16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}
constexpr std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}
constexpr std::uint64_t Be64(const std::uint8_t* p) {
    return (std::uint64_t{Be32(p)} << 32) | Be32(p + 4);
}
inline void PutLe32(std::uint8_t* to, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        to[k] = static_cast<std::uint8_t>(value >> (8 * k));
}
// Appends the low `bytes` bytes of `value`, most significant first.
inline void PutBe(std::vector<std::uint8_t>& to, std::uint32_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        to.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

}  // namespace strandis
