#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteOrder.h"
#include "io/OutputFile.h"

namespace strandis {

// One stream's output as the demux fills it, chunk by chunk in stream order. `start` marks the
// first chunk of a packet whose PES header carried a time stamp, and `pts` is that time on the
// outputs' clock (90 kHz ticks from the subpicture time base; it may be negative).
class StreamOutput {
public:
    virtual ~StreamOutput() = default;
    virtual void write(const std::uint8_t* data, std::size_t length, bool start,
                       std::int64_t pts) = 0;
    // The end of the stream: what a converter still holds goes out.
    virtual void finish() {}
};

// The stream as it is: an elementary stream.
class RawOutput final : public StreamOutput {
public:
    explicit RawOutput(OutputFile& file) : file_(file) {}
    void write(const std::uint8_t* data, std::size_t length, bool, std::int64_t) override {
        file_.write(data, length);
    }

private:
    OutputFile& file_;
};

// Subpicture units as they are, each behind a 10-byte "SP" record header: "SP", the time
// (32 bits, little-endian, wrapping), and 4 bytes of 0. A record starts at the first chunk of a
// packet with its own time stamp.
class SupRecordOutput final : public StreamOutput {
public:
    explicit SupRecordOutput(OutputFile& file) : file_(file) {}
    void write(const std::uint8_t* data, std::size_t length, bool start,
               std::int64_t pts) override {
        if (start) {
            std::uint8_t header[10] = {'S', 'P'};
            PutLe32(header + 2, static_cast<std::uint32_t>(pts));
            PutLe32(header + 6, 0);
            file_.write(header, sizeof header);
        }
        file_.write(data, length);
    }

private:
    OutputFile& file_;
};

}  // namespace strandis
