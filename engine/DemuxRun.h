#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Engine.h"
#include "engine/OutputFile.h"

namespace strandis {

// A file a run wrote, with its size in bytes.
struct WrittenFile {
    std::string path;
    std::int64_t size = 0;
};

struct RunOutcome {
    std::vector<WrittenFile> files;
    bool stoppedEarly = false;
    std::array<std::int32_t, 2> frames{};
};

// Appends the payload chunks of a demux-mode scan to the files of the ticked boxes: video and
// audio as raw elementary streams, subpictures as "SP" records.
class DemuxWriter final : public ChunkSink {
public:
    DemuxWriter(Engine& engine, std::array<OutputFile*, 2> video, std::array<OutputFile*, 16> audio,
                std::array<OutputFile*, 16> sub);
    void chunk(const PayloadChunk& chunk, std::uint32_t& ptsReg) override;

private:
    Engine& engine_;
    std::array<OutputFile*, 2> video_;
    std::array<OutputFile*, 16> audio_;
    std::array<OutputFile*, 16> sub_;
};

// "Demux": one output file per box ticked at the start, the source (and the second feature
// file) scanned in demux mode into them. Raises RunError when a file cannot be opened, created,
// read or written; every file is closed in every case, and after a failure the log names the
// outputs that are incomplete.
RunOutcome RunDemux(Engine& engine, const std::string& sourcePath);

// The frame-count line of the demultiplexing run: count at 23.976 pictures per second.
std::string DemuxFrameCountLine(std::int32_t count, int slot, char timeSeparator = ':');

}  // namespace strandis
