#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/TextFormat.h"

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

// What a header reader read of a stream; a field stays at its zero value when the reader did not
// come to it. The codec is named as ffprobe names it.
struct StreamInfo {
    std::string codec;  // mpeg2video, h264, vc1, ac3, eac3, dts, truehd, mlp, pcm_dvd, ...
    std::string profile;
    int level = -1;
    int width = 0;
    int height = 0;
    std::string displayAspect;  // "16:9"
    int frameRateNum = 0;       // frames per second as a fraction
    int frameRateDen = 0;
    int progressive = -1;  // 1 or 0 where the header says
    int sampleRate = 0;    // Hz
    int bitsPerSample = 0;
    int channels = 0;           // LFE included
    std::string channelLayout;  // the header's own names: "L + R + C + Ls + Rs"
    int lfe = -1;               // 1 or 0 where the header says
    std::int64_t bitRate = 0;   // bit/s; 0 when variable or unknown
    int subpictureBits = 0;     // 2 or 8
};

// The channels of a layout written as names joined by " + " ("Lc + Rc" counts two).
int CountChannels(std::string_view layout);

// x:y in lowest terms ("16:9"); "" when both are 0.
std::string ReducedRatio(std::int64_t x, std::int64_t y);

// A real number in the general format (up to 15 significant digits, no trailing zeros) with the
// user's decimal separator: 48, 44.1, 23.976.
std::string FormatGeneral(double value, char decimalSeparator);

using ::strandis::Hex;

// The header readers, one per codec. Each describes the stream in the log, returns what it read
// and reads nothing outside `block`.
StreamInfo AC3details(const Payload& payload, int audioSlot, LogSink& sink);
StreamInfo DTSdetails(const Payload& payload, LogSink& sink);
StreamInfo MLPdetails(const Payload& payload, LogSink& sink);
StreamInfo LPCMdetails(const Payload& payload, LpcmLayout layout, LogSink& sink);
StreamInfo VC1details(const Payload& payload, std::uint64_t videoPts, LogSink& sink);
StreamInfo H264details(const Payload& payload, LogSink& sink);
StreamInfo MPEG2details(const Payload& payload, std::uint32_t videoPts, LogSink& sink);
StreamInfo SUBdetails(const Payload& payload, LogSink& sink);
StreamInfo MPAdetails(const Payload& payload, LogSink& sink);
// The length in bytes of the MPEG audio frame whose 4-byte header is at `header`; 0 when it is
// no valid frame header (or of the free format, whose length it does not say).
std::size_t MpaFrameLength(const std::uint8_t* header);

}  // namespace strandis::analysers
