#pragma once

#include <cstddef>
#include <cstdint>

namespace strandis {

// Picture start codes by VideoType: MPEG-2 picture_start_code, H.264 access unit delimiter,
// VC-1 frame start code.
inline constexpr std::uint8_t kPictureCode[3] = {0x00, 0x09, 0x0D};

// Counts the start codes 00 00 01 <code> of `videoType` in one payload chunk. Each chunk is
// counted on its own, as if it were preceded by zero bytes: a chunk that opens with 01 <code>
// or 00 01 <code> counts one, whatever ended the previous chunk.
// Uses the processor's 256-bit vector instructions where it has them.
std::int32_t CountPictures(const std::uint8_t* data, std::size_t length, std::uint8_t videoType);
// The same count without vector instructions.
std::int32_t CountPicturesPlain(const std::uint8_t* data, std::size_t length,
                                std::uint8_t videoType);

}  // namespace strandis
