#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "analysers/Analysers.h"
#include "engine/StreamIds.h"

namespace strandis {

// What the detection learnt of one stream of the source.
struct StreamReport {
    bool hasPts = false;
    std::uint64_t firstPts = 0;  // of its first packet with a time stamp, all 33 bits
    bool described = false;      // `info` holds what its header reader read
    analysers::StreamInfo info;
};

struct StreamReports {
    std::array<StreamReport, StreamInventory::kVideoSlots> video;
    std::array<StreamReport, StreamInventory::kAudioSlots> audio;
    std::array<StreamReport, StreamInventory::kSubSlots> sub;
};

// What one run leaves for the next. The box ticks are the front end's, read through RunHost.
struct DiscState {
    // Written by the scanner (each file afresh), the detection (then every file's streams, the
    // first file's id where two differ), the demux (put back after its scans) and the playlist
    // run (kListedByPlaylist marks). Read by the demux writer (which stream a box's file takes),
    // the rebuild's selection and the front ends' stream lists.
    StreamInventory StreamIds;
    // Written by the detection: all ones, then lowered by its scans to the first file's
    // earliest audio or video time stamp. Read by the demux writer: subpicture record times
    // count from it.
    std::uint32_t MinPts = 0;
    // Written by the detection's scans (the first file that has the stream): each slot's first
    // time stamp and header facts. Read by the front ends' stream lists.
    StreamReports Reports;
    // Written by every run from the source's name and the last file it goes on into. Read by
    // the playlist run, which finds the title by it, and by the front ends.
    std::string OutputBase;
    // Written by every run and by the front ends when a source is chosen: the source's name less
    // its extension. Read by the playlist run: the title that plays the source names its first
    // clip so, also when the run went on into a second feature file.
    std::string SourceBase;
};

}  // namespace strandis
