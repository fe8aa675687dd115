#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/InputFile.h"
#include "playlist/Xpl.h"

namespace strandis::dvd {

// A DVD-Video disc's titles as its IFO files describe them (read with libdvdread), and what a
// run over one title reads: the packs of its cells, in the program chain's order.

struct Cell {
    int vobId = 0;
    int cellId = 0;
    std::int64_t firstSector = 0;  // of the title set's title VOBs (VTS_nn_1.VOB on), inclusive
    std::int64_t lastSector = 0;
    double durationMs = 0;
    bool angleBlock = false;  // one of the cells of an angle block
    bool firstOfBlock = false;
    bool interleaved = false;  // its units alternate on the disc with another cell's
};

struct Chapter {
    int number = 0;
    int entryCell = 0;  // its first cell, counted from 1
    double startMs = 0;
};

// What a track of the title is for, from its attribute's code extension.
enum class TrackPurpose { Unspecified, Normal, Commentary, VisuallyImpaired, Forced, Other };

struct AudioTrack {
    int track = 0;     // the title's track number, from 1
    int streamId = 0;  // the sub-stream id (0x80.. AC-3, 0x88.. DTS, 0xA0.. LPCM) or, for MPEG
                       // audio, the PES stream id (0xC0..)
    int slot = 0;      // the stream number: its box
    std::string codec;
    int channels = 0;
    int sampleRate = 0;
    std::string language;  // ISO 639-1 code as the IFO gives it; "" when none
    std::string kind;      // "normal", "commentary", "visually impaired", ...
    TrackPurpose purpose = TrackPurpose::Unspecified;
};

struct SubpictureTrack {
    int track = 0;
    int streamId = 0;  // 0x20..0x3F
    int slot = 0;
    std::string language;
    std::string kind;
    TrackPurpose purpose = TrackPurpose::Unspecified;
    bool forced = false;
};

struct Title {
    int number = 0;  // from 1, as the title table numbers them
    int titleSet = 0;
    int titleInSet = 0;
    int programChain = 0;
    int angles = 1;
    int angle = 1;  // the angle its pieces hold
    double durationMs = 0;
    bool main = false;  // the longest title: the main feature
    std::string video;  // "MPEG-2 720x576 PAL 16:9"
    std::vector<Chapter> chapters;
    std::vector<Cell> cells;
    std::vector<AudioTrack> audio;
    std::vector<SubpictureTrack> subpictures;
    std::array<std::uint32_t, 16> palette{};  // 0x00YYCrCb
    std::vector<std::string> files;           // the VOB parts it reads
    std::vector<InputExtent> extents;         // what a run over it reads, in order
    std::vector<std::uint32_t> setCells;      // (vob << 8 | cell) of every cell of its title set
    std::string problem;                      // why it cannot be read; "" when it can
};

struct Disc {
    std::string videoTs;  // the VIDEO_TS folder
    std::string name;     // the disc's name: the folder holding VIDEO_TS
    std::vector<Title> titles;
    // The titles and title sets libdvdread could not read, each with the file it concerns.
    std::vector<std::string> problems;
    const Title* find(int number) const;
    const Title* mainTitle() const;
};

// Whether `path` names a DVD-Video disc rather than a file to scan: a folder (the disc's, or its
// VIDEO_TS) or an .IFO or .BUP file.
bool IsDiscPath(const std::string& path);
// The VIDEO_TS folder of a disc folder, of VIDEO_TS itself or of a file in it; "" when none.
std::string FindVideoTs(const std::string& path);

// Reads the disc's title table and each title set it names. Raises RunError naming the file when
// the title table cannot be read; a title set that cannot be read is named in `problems` and its
// titles carry the reason. libdvdread does the reading in a child process (see the source).
// Each title's pieces are those of angle `angle` (1 for the first) of its angle blocks, or of
// its last angle when it has fewer.
Disc ReadDisc(const std::string& path, int angle = 1);
// The same, in this process.
Disc ReadDiscHere(const std::string& path, int angle = 1);

// The title as the Matroska step and the boxes take a playlist's title: its duration, chapters,
// and tracks with languages, names and flags.
playlist::TitleInfo TitleInfoOf(const Title& title);

// The disc's titles as lines of text, as the titles command and the window show them.
std::string DiscText(const Disc& disc);

// "Title 2 (1:32:05, 12 chapters)".
std::string DescribeTitle(const Title& title);
std::string FormatDuration(double ms);

}  // namespace strandis::dvd
