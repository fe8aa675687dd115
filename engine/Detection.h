#pragma once

#include <cstdint>
#include <string>

#include "engine/Detected.h"
#include "engine/Engine.h"

namespace strandis {

// "Read EVO": scans the source (and, when asked, the files that follow it), turns what it found
// into box states, logs the frame counts and returns it all. Raises RunError when a file cannot
// be opened or read; the source is closed in every case.
// With a title, only the title's pieces are read (see SourceTitle), and the value keeps them for
// the runs that follow.
Detected RunDetection(Engine& engine, const std::string& sourcePath,
                      const SourceTitle* title = nullptr);

// Adds the streams of a later file's inventory to `into` that it does not list yet: in their own
// slot when it is empty, or else in the last empty slot with a box, and the log says so; when
// none is empty the stream gets no box, and the log says that.
void MergeInventory(StreamInventory& into, const StreamInventory& from, const std::string& fileName,
                    RunHost& host);

// The frame-count line of the detection run: count at 24000/1001 pictures per second.
std::string FrameCountLine(std::int64_t count, int slot, char timeSeparator = ':');

}  // namespace strandis
