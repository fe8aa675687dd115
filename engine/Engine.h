#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/FileStream.h"
#include "engine/PayloadChunk.h"
#include "engine/RunHost.h"
#include "engine/StreamIds.h"

namespace strandis {

enum class ScanMode { Check = 0, Demux = 1 };

// Pictures counted in video slots 0 and 1; 64 bits, since a crafted stream can hold more than
// 2^31 start codes.
using FrameCounts = std::array<std::int64_t, 2>;

inline constexpr std::size_t kBlockSize = 0x40000;       // 262,144 bytes a read
inline constexpr std::int64_t kProgressStep = 0x400000;  // 4 MiB
inline constexpr std::int64_t kRepaintStep = 0x4000000;  // 64 MiB
inline constexpr std::int64_t kFastCheckLimit = 300'000'000;

// The program-wide state that the runs share: one input file, one block buffer, the stream
// inventory and the counters. One Engine per window or command; nothing is global.
class Engine {
public:
    explicit Engine(RunHost& host);

    RunHost& host() { return host_; }

    // Scans SourceStream from its position to its end (or until StopFlag). In check mode the
    // streams found are logged and described; in demux mode every payload chunk goes to
    // `writer`.
    void demux(ScanMode mode, ChunkSink* writer = nullptr);

    StreamInventory StreamIds;
    // Detail lines already logged, by slot.
    std::array<std::uint8_t, 2> DetailsShownVideo{};
    std::array<std::uint8_t, 16> DetailsShownAudio{};
    std::array<std::uint8_t, StreamInventory::kSubSlots> DetailsShownSub{};
    FrameCounts FrameCount{};
    std::uint32_t MinPts = 0;
    std::uint8_t StopFlag = 0;
    std::uint8_t DemuxActive = 0;
    InputFile SourceStream;
    std::string OutputBase;
    // The rebuild run's renumbering: the new id of each old id (0xFF: none yet), and the number
    // of streams of each kind that have one.
    std::array<std::uint8_t, 256> IdMap{};
    std::uint8_t NextVideoNumber = 0;
    std::uint8_t NextAudioNumber = 0;
    std::uint8_t NextSubNumber = 0;

    std::uint8_t* ReadBuffer() { return readBuffer_.get(); }

private:
    RunHost& host_;
    std::unique_ptr<std::uint8_t[]> readBuffer_;
};

}  // namespace strandis
