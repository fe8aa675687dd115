#pragma once

#include <cstdint>

namespace strandis {

// What the packet under the scanner is.
namespace PacketKind {
inline constexpr std::uint8_t Video = 0;        // video payload
inline constexpr std::uint8_t Audio = 1;        // private-stream-1 audio payload
inline constexpr std::uint8_t SkipPayload = 2;  // unrecognised sub-stream or extension
inline constexpr std::uint8_t SkipPacket = 3;   // 0xBC, 0xBE, 0xBF: skipped whole
inline constexpr std::uint8_t MpegAudio = 4;    // 0xC0-0xCF
inline constexpr std::uint8_t Private1 = 5;     // 0xBD, sub-stream not yet known
inline constexpr std::uint8_t Subpicture = 6;   // subpicture payload
inline constexpr std::uint8_t Nothing = 8;      // nothing recognised yet
}  // namespace PacketKind

// The kinds of video stream (VideoType).
namespace VideoType {
inline constexpr std::uint8_t Mpeg2 = 0;
inline constexpr std::uint8_t H264 = 1;
inline constexpr std::uint8_t Vc1 = 2;
}  // namespace VideoType

// The kinds of audio sub-stream (AudioType).
namespace AudioType {
inline constexpr std::uint8_t DolbyDigital = 0;
inline constexpr std::uint8_t DolbyDigitalPlus = 1;
inline constexpr std::uint8_t Dts = 2;
inline constexpr std::uint8_t Lpcm = 3;  // MLP in a .AOB
inline constexpr std::uint8_t TrueHd = 4;
inline constexpr std::uint8_t Mpeg = 5;  // MPEG-1/2 audio in PES packets of its own (0xC0-0xC7)
}  // namespace AudioType

}  // namespace strandis
