#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/OutputFile.h"
#include "engine/RunHost.h"

namespace strandis {

// A colour as DVD palettes hold it, with its opacity: 0 transparent, 255 opaque.
struct YCrCbA {
    std::uint8_t y = 0, cr = 128, cb = 128, alpha = 0;
};

// The 16 colours of a DVD title set's colour lookup table.
using DvdPalette = std::array<YCrCbA, 16>;

// One caption: a bitmap of palette indices at a place on the screen, shown from `start` to
// `end` (90 kHz ticks of the outputs' time base).
struct Caption {
    std::int64_t start = 0;
    std::optional<std::int64_t> end;  // none: until the next caption
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width * height indices into `colours`
    std::array<YCrCbA, 4> colours{};
    bool forced = false;
};

// Decodes a whole DVD subpicture unit (its 2-byte size first) shown from `pts`: the control
// sequences' start and stop delays, colours, contrast, display area and the two fields'
// 2-bit run-length coded lines. Returns nothing, and says why, for a unit that does not decode
// (truncated, offsets outside the unit, a display area of no size).
std::optional<Caption> DecodeDvdUnit(const std::uint8_t* unit, std::size_t length, std::int64_t pts,
                                     const DvdPalette& palette, std::string& why);

// The colour lookup table of the first program chain of a title set's IFO file; nothing when
// the file cannot be read or is not an IFO.
std::optional<DvdPalette> ReadIfoPalette(const std::string& path);
// The palette used when no IFO is found: the usual DVD default, all 16 colours opaque.
DvdPalette DefaultDvdPalette();

// The PGS (presentation graphics) segments of captions: each caption is a display set of PCS,
// WDS, PDS, ODS and END at its start, and a PCS without objects, WDS and END at its end.
class PgsWriter {
public:
    PgsWriter(OutputFile& file, int videoWidth, int videoHeight)
        : file_(file), videoWidth_(videoWidth), videoHeight_(videoHeight) {}
    void caption(const Caption& caption);
    // Ends the last caption, when it had no end of its own: at `fallbackEnd`.
    void finish(std::int64_t fallbackEnd);

private:
    void segment(std::uint8_t type, std::int64_t pts, const std::vector<std::uint8_t>& body);
    void clear(std::int64_t at);
    void window(std::int64_t at, const Caption& caption);

    OutputFile& file_;
    int videoWidth_, videoHeight_;
    std::uint16_t composition_ = 0;
    std::optional<Caption> shown_;  // shown, waiting for its end
    std::vector<std::uint8_t> rle_, body_;
};

// VobSub: the units as they are in MPEG program stream packs (.sub), and the index of their
// times, places in the file and palette (.idx, written when the run ends).
class VobSubWriter {
public:
    VobSubWriter(OutputFile& sub, OutputFile& idx, int videoWidth, int videoHeight,
                 const DvdPalette& palette);
    void unit(const std::uint8_t* unit, std::size_t length, std::int64_t pts);
    // Writes the index.
    void finish();

private:
    OutputFile& sub_;
    OutputFile& idx_;
    int videoWidth_, videoHeight_;
    DvdPalette palette_;
    std::vector<std::pair<std::int64_t, std::int64_t>> entries_;  // time, file position
    std::vector<std::uint8_t> pack_;
};

// The subpicture stream of one slot converted as its records are written: the chunks become
// whole units, each decoded and written as PGS or stored as VobSub.
class SubpictureOutput {
public:
    // `idx` is the VobSub index, for that format.
    SubpictureOutput(SubFormat format, OutputFile& file, OutputFile* idx, int videoWidth,
                     int videoHeight, const DvdPalette& palette, RunHost& host);
    // A chunk of the stream; `start` for the first chunk of a packet whose header carried its
    // time stamp, `pts` being that time on the outputs' time base.
    void chunk(const std::uint8_t* data, std::size_t length, bool start, std::int64_t pts);
    // Ends the stream: the last unit, the last caption, the index.
    void finish();

private:
    void unitDone();
    void skip(const std::string& why);

    SubFormat format_;
    RunHost& host_;
    DvdPalette palette_;
    std::optional<PgsWriter> pgs_;
    std::optional<VobSubWriter> vobsub_;
    std::vector<std::uint8_t> unit_;
    std::size_t expected_ = 0;  // the unit's size, once its first two bytes are in
    std::int64_t pts_ = 0;
    bool collecting_ = false;
    std::int64_t last_ = 0;
};

}  // namespace strandis
