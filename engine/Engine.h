#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/DiscState.h"
#include "engine/FileStream.h"
#include "engine/PayloadChunk.h"
#include "engine/RunHost.h"

namespace strandis {

enum class ScanMode { Check = 0, Demux = 1 };

// Pictures counted in video slots 0 and 1; 64 bits, since a crafted stream can hold more than
// 2^31 start codes.
using FrameCounts = std::array<std::int64_t, 2>;

inline constexpr std::size_t kBlockSize = 0x40000;       // 262,144 bytes a read
inline constexpr std::int64_t kProgressStep = 0x400000;  // 4 MiB
inline constexpr std::int64_t kRepaintStep = 0x4000000;  // 64 MiB
inline constexpr std::int64_t kFastCheckLimit = 300'000'000;

// The machinery the runs share: one input file, one block buffer, the counters of the pass
// going on, and what one run leaves for the next (`disc`). One Engine per window or command;
// nothing is global.
class Engine {
public:
    explicit Engine(RunHost& host);

    RunHost& host() { return host_; }

    // Scans SourceStream from its position to its end (or until StopFlag). In check mode the
    // streams found are logged and described; in demux mode every payload chunk goes to
    // `writer`.
    void demux(ScanMode mode, ChunkSink* writer = nullptr);

    DiscState disc;
    // Written by the detection and demux runs (cleared at their start) and the scanner (adds,
    // clears after a stop); read by those runs' closing lines.
    FrameCounts FrameCount{};
    // Written by the scanner and the rebuild pass (cleared at a pass's start, set by the fast
    // check) and by the front end's Cancel; read by the passes at every block and by the runs
    // after a pass.
    std::uint8_t StopFlag = 0;
    // Written by the scanner and the rebuild pass: 1 while a demux or rebuild pass goes on, 0
    // otherwise. Read by the front end's Cancel, which asks before it stops such a pass.
    std::uint8_t DemuxActive = 0;
    // Opened and closed by each run.
    InputFile SourceStream;

    std::uint8_t* ReadBuffer() { return readBuffer_.get(); }

private:
    RunHost& host_;
    std::unique_ptr<std::uint8_t[]> readBuffer_;
};

}  // namespace strandis
