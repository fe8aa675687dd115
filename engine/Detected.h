#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysers/Analysers.h"
#include "analysers/DvdSubpicture.h"
#include "common/RunHost.h"
#include "io/InputFile.h"
#include "ps/Scanner.h"
#include "ps/StreamIds.h"

namespace strandis {

// What the detection learnt of one stream of the source.
struct StreamReport {
    std::optional<std::uint64_t> firstPts;  // of its first packet with a time stamp, all 33 bits
    bool described = false;                 // `info` holds what its header reader read
    analysers::StreamInfo info;
};

struct StreamReports {
    std::array<StreamReport, StreamInventory::kVideoSlots> video;
    std::array<StreamReport, StreamInventory::kAudioSlots> audio;
    std::array<StreamReport, StreamInventory::kSubSlots> sub;
};

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
    const StreamBox& at(BoxKind kind, int slot) const;
    bool any() const;  // whether any box holds a stream
};

// The captions of boxes that hold no stream.
inline constexpr const char* kNoVideoStream = "No video stream";
inline constexpr const char* kNoAudioStream = "No audio stream";
inline constexpr const char* kNoSubpicture = "No subpicture";

// A title of a disc, read instead of a whole file: the pieces of the files its cells cover.
struct SourceTitle {
    std::string name;        // "Title 2", as the log names it
    std::string outputBase;  // of the outputs' names
    std::vector<InputExtent> extents;
    std::vector<std::uint32_t> knownCells;         // its title set's (vob << 8 | cell) ids
    std::optional<analysers::DvdPalette> palette;  // its subpicture colours
};

// What "Read EVO" found: the value the writing runs take, and the front ends keep, for one
// source.
struct Detected {
    std::string source;
    std::optional<SourceTitle> title;  // the disc title read, when a title was read
    std::vector<std::string> files;    // the files scanned, first file first
    // The outputs' base name: the source's name less its extension, and "_" and the last
    // following file's when the run went on into files that follow it.
    std::string outputBase;
    std::int64_t firstSize = 0;  // in bytes
    // Every file's streams by slot; where two files fill a slot with different ids, the first's.
    StreamInventory inventory;
    // Each slot's first time stamp and header facts, from the first file that has the stream.
    StreamReports reports;
    // What subpicture times count from: the first file's earliest first time stamp of its audio
    // and video streams (of any file's when the first has none); none when no file has one.
    std::optional<std::uint32_t> subpictureBase;
    StreamBoxes boxes;
    FrameCounts frames{};
    bool stoppedEarly = false;  // Cancel or the fast-check limit
    // Packets the scan found encrypted (CSS scrambling bits set), whose contents it left out.
    std::int64_t scrambled = 0;
};

}  // namespace strandis
