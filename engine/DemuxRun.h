#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/DemuxWriter.h"
#include "engine/Detected.h"
#include "engine/Engine.h"
#include "engine/RunScope.h"
#include "outputs/StreamOutput.h"

namespace strandis {

// "Demux": one output file per box ticked at the start, the source (and the files that follow
// it) scanned in demux mode into them; `detected` is what "Read EVO" found in that source.
// Raises RunError when a file cannot be opened, created, read or written; every file is closed
// in every case, and after a failure the log names the outputs that are incomplete.
// `forMuxer`: each video and audio file starts at its first whole unit, and the delays count
// from there (what a muxer keeps of a stream cut mid-group); the bytes left out are logged.
RunOutcome RunDemux(Engine& engine, const Detected& detected, const std::string& sourcePath,
                    bool forMuxer = false);

// The frame-count line of the demultiplexing run: count at 23.976 pictures per second.
std::string DemuxFrameCountLine(std::int64_t count, int slot, char timeSeparator = ':');

}  // namespace strandis
