#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace strandis::analysers {

// Where a reader writes its lines (mark-up as in the message log).
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void log(std::string_view markedUpLine) = 0;
    // The user's decimal separator for real numbers.
    virtual char decimalSeparator() const { return '.'; }
};

// The first payload chunk of a stream: `block` is the valid part of the block buffer and the
// chunk is block[start, start + length). `before` holds the seven bytes the scanner examined
// right before the chunk, oldest first: for an LPCM packet its sub-stream id, the three bytes
// behind it and the three LPCM header bytes, wherever the block boundary fell.
struct Payload {
    std::span<const std::uint8_t> block;
    std::size_t start;
    std::size_t length;
    std::array<std::uint8_t, 7> before{};

    const std::uint8_t* begin() const { return block.data() + start; }
    const std::uint8_t* end() const { return block.data() + start + length; }
};

// A real number in the general format (up to 15 significant digits, no trailing zeros) with the
// user's decimal separator: 48, 44.1, 23.976.
std::string FormatGeneral(double value, char decimalSeparator);

// Upper-case hexadecimal with exactly `digits` digits (time stamps 8 or 16, stream ids 2).
std::string Hex(std::uint64_t value, int digits);

// The header readers, one per codec. Each describes the stream in the log and reads nothing
// outside `block`.
void AC3details(const Payload& payload, int audioSlot, LogSink& sink);
void DTSdetails(const Payload& payload, LogSink& sink);
void MLPdetails(const Payload& payload, LogSink& sink);
// `dvdVideo`: the source is a DVD-Video object (.VOB), whose LPCM header holds its codes
// elsewhere.
void LPCMdetails(const Payload& payload, bool dvdVideo, LogSink& sink);
void VC1details(const Payload& payload, std::uint64_t videoPts, LogSink& sink);
void H264details(const Payload& payload, std::uint32_t videoPts, LogSink& sink);
void MPEG2details(const Payload& payload, std::uint32_t videoPts, std::uint32_t dts, LogSink& sink);
void SUBdetails(const Payload& payload, LogSink& sink);

}  // namespace strandis::analysers
