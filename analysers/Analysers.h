#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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
// chunk is block[start, start + length). The PES and sub-stream header bytes stand in front of
// `start` unless the packet header crossed a block boundary.
struct Payload {
    std::span<const std::uint8_t> block;
    std::size_t start;
    std::size_t length;
};

// The header readers, one per codec. Each describes the stream in the log and reads nothing
// outside `block`.
void AC3details(const Payload& payload, int audioSlot, LogSink& sink);
void DTSdetails(const Payload& payload, LogSink& sink);
void MLPdetails(const Payload& payload, LogSink& sink);
void LPCMdetails(const Payload& payload, LogSink& sink);
void VC1details(const Payload& payload, std::uint64_t videoPts, LogSink& sink);
void H264details(const Payload& payload, std::uint32_t videoPts, LogSink& sink);
void MPEG2details(const Payload& payload, std::uint32_t videoPts, std::uint32_t dts, LogSink& sink);
void SUBdetails(const Payload& payload, LogSink& sink);

}  // namespace strandis::analysers
