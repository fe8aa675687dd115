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
// chunk is block[start, start + length). For private stream 1, `header` holds the bytes the
// scanner took off in front of the chunk, from the sub-stream id on (at most 16 of them),
// wherever the block boundary fell: for an LPCM packet its id, the three bytes behind it and
// its codes.
struct Payload {
    std::span<const std::uint8_t> block;
    std::size_t start;
    std::size_t length;
    std::array<std::uint8_t, 16> header{};
    std::size_t headerLength = 0;

    const std::uint8_t* begin() const { return block.data() + start; }
    const std::uint8_t* end() const { return block.data() + start + length; }
};

// Whose LPCM header a packet carries: the codes sit in different places.
enum class LpcmLayout {
    HdDvd,     // sample size in byte 2, frequency in byte 3, channel assignment in byte 5
    DvdVideo,  // quantization, frequency and channels - 1 in byte 5
    DvdAudio,  // header length in bytes 2-3; group sizes in byte 7, rates in 8, assignment in 10
};

// A real number in the general format (up to 15 significant digits, no trailing zeros) with the
// user's decimal separator: 48, 44.1, 23.976.
std::string FormatGeneral(double value, char decimalSeparator);

// Upper-case hexadecimal with exactly `digits` digits (time stamps 8 or 16, stream ids 2).
std::string Hex(std::uint64_t value, int digits);

// The header readers, one per codec. Each describes the stream in the log and reads nothing
// outside `block`.
void AC3details(const Payload& payload, int audioSlot, LogSink& sink);
// Whether the first syncframe in [data, data + length) is plain Dolby Digital (bsid 10 or
// less) rather than Dolby Digital Plus; false when no whole header is there.
bool StartsWithPlainAc3(const std::uint8_t* data, std::size_t length);
void DTSdetails(const Payload& payload, LogSink& sink);
void MLPdetails(const Payload& payload, LogSink& sink);
void LPCMdetails(const Payload& payload, LpcmLayout layout, LogSink& sink);
void VC1details(const Payload& payload, std::uint64_t videoPts, LogSink& sink);
void H264details(const Payload& payload, std::uint32_t videoPts, LogSink& sink);
void MPEG2details(const Payload& payload, std::uint32_t videoPts, std::uint32_t dts, LogSink& sink);
void SUBdetails(const Payload& payload, LogSink& sink);

}  // namespace strandis::analysers
