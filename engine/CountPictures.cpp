#include "engine/CountPictures.h"

#include <cstring>

namespace strandis {

std::int32_t CountPictures(const std::uint8_t* data, std::size_t length, std::uint8_t videoType) {
    if (videoType > 2 || length < 2) return 0;
    const std::uint8_t code = kPictureCode[videoType];
    std::int32_t count = 0;
    // Look for the 01 byte of each start code; bytes in front of the chunk count as zeros.
    const std::uint8_t* p = data;
    const std::uint8_t* last = data + length - 1;  // the 01 byte needs one byte behind it
    while (p < last) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, 0x01, static_cast<std::size_t>(last - p)));
        if (p == nullptr) break;
        const std::size_t at = static_cast<std::size_t>(p - data);
        if (p[1] == code && (at < 1 || p[-1] == 0) && (at < 2 || p[-2] == 0)) ++count;
        ++p;
    }
    return count;
}

}  // namespace strandis
