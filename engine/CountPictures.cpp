#include "engine/CountPictures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace strandis {

namespace {

// Start codes 00 00 01 <code> that lie wholly inside [data, data + length).
std::int32_t CountWhole(const std::uint8_t* data, std::size_t length, std::uint8_t code) {
    std::int32_t count = 0;
    std::size_t p = 0;  // where a start code would begin
#if defined(__SSE2__)
    // Sixteen places at a time: a bit for each p with 00 at p, 00 at p + 1 and 01 at p + 2.
    const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
    for (; p + 18 <= length; p += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p + 2));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)),
                          _mm_cmpeq_epi8(c, one))));
        while (mask != 0) {
            const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
            if (at + 3 < length && data[at + 3] == code) ++count;
            mask &= mask - 1;
        }
    }
#endif
    for (; p + 4 <= length; ++p) {
        if (data[p] == 0 && data[p + 1] == 0 && data[p + 2] == 1 && data[p + 3] == code) ++count;
    }
    return count;
}

}  // namespace

std::int32_t CountPictures(const std::uint8_t* data, std::size_t length, std::uint8_t videoType) {
    if (videoType > 2 || length < 2) return 0;
    const std::uint8_t code = kPictureCode[videoType];
    // The bytes in front of the chunk count as zeros: 01 <code> or 00 01 <code> at its start is
    // a start code too.
    std::int32_t count = data[0] == 1 && data[1] == code ? 1 : 0;
    if (length >= 3 && data[0] == 0 && data[1] == 1 && data[2] == code) ++count;
    return count + CountWhole(data, length, code);
}

}  // namespace strandis
