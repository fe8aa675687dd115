#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Engine.h"

namespace strandis {

// The state of one stream check box.
struct StreamBox {
    bool enabled = false;
    bool ticked = false;
    std::string caption;
};

// The 40 stream boxes: cbVideo0..7, cbAudio00..15, cbSub00..15.
struct StreamBoxes {
    std::array<StreamBox, 8> video;
    std::array<StreamBox, 16> audio;
    std::array<StreamBox, 16> sub;

    StreamBoxes() { reset(); }
    // Every box disabled, unticked and captioned as holding no stream.
    void reset();
};

struct DetectionResult {
    StreamBoxes boxes;
    std::vector<std::string> files;  // the files scanned, first file first
    std::int64_t firstSize = 0;      // in bytes
    bool stoppedEarly = false;       // Cancel or the fast-check limit
    FrameCounts frames{};
};

// "Read EVO": scans the source (and, when asked, the second feature file), turns the stream
// inventory into box states and logs the frame counts. Raises RunError when a file cannot be
// opened or read; the source is closed in every case.
DetectionResult RunDetection(Engine& engine, const std::string& sourcePath);

// Adds the streams of a later file's inventory to `into`: an empty slot takes the later file's
// stream; a slot that both fill with different ids keeps the first, and the log says so.
void MergeInventory(StreamInventory& into, const StreamInventory& from, const std::string& fileName,
                    RunHost& host);

// The frame-count line of the detection run: count at 24000/1001 pictures per second.
std::string FrameCountLine(std::int64_t count, int slot, char timeSeparator = ':');

}  // namespace strandis
