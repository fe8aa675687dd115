#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/RunHost.h"
#include "engine/Engine.h"
#include "testkit/PsBuilder.h"

namespace strandis::test {

// A payload chunk as seen by a writer.
struct SeenChunk {
    std::uint8_t kind;
    std::int32_t slot;
    std::uint32_t pts;
    Bytes data;
    bool operator==(const SeenChunk&) const = default;
};

// The result of a scan, in the terms both scanners share.
struct ScanTrace {
    std::vector<std::string> log;
    std::vector<std::string> progress;  // panel-1 lines up to ", Remaining time"
    std::array<std::int32_t, 64> streamIds{};
    FrameCounts frames{};
    std::uint32_t minPts = 0;
    std::uint8_t stopFlag = 0;
    std::vector<SeenChunk> chunks;
};

// A deliberately literal scanner: one byte at a time through every rule, no bulk steps, the
// picture counter with its shift register. It is the reference the real scanner is held to.
// `host` answers the options and ticks; its log receives the lines.
ScanTrace LiteralScan(const Bytes& file, bool demuxMode, RunHost& host, FrameCounts frames,
                      std::uint32_t minPts);

}  // namespace strandis::test
