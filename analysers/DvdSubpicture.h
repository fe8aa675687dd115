#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace strandis::analysers {

// A colour as DVD palettes hold it, with its opacity: 0 transparent, 255 opaque.
struct YCrCbA {
    std::uint8_t y = 0, cr = 128, cb = 128, alpha = 0;
};

// The 16 colours of a DVD title set's colour lookup table.
using DvdPalette = std::array<YCrCbA, 16>;

// Pixels of one colour next to each other on a line.
struct Run {
    std::uint8_t colour;  // an index into the caption's colours
    std::uint16_t length;
};

// One caption: a bitmap of palette indices at a place on the screen, shown from `start` to
// `end` (90 kHz ticks of the outputs' time base).
struct Caption {
    std::int64_t start = 0;
    std::optional<std::int64_t> end;          // none: until the next caption
    int x = 0, y = 0, width = 0, height = 0;  // width at most 4096 (12 bits)
    // The bitmap's lines top to bottom as runs; each line's runs add up to `width`. Both
    // subpicture codings and PGS are run-length codes: kept as runs, a caption costs its runs.
    std::vector<Run> runs;
    // Its colours by index: 4 for a DVD unit (pixel values 0-3), 256 for an HD DVD unit.
    std::vector<YCrCbA> colours;
    bool forced = false;

    // The bitmap as width * height indices, line after line.
    std::vector<std::uint8_t> pixels() const;
};

// Decodes a whole DVD subpicture unit (its 2-byte size first) shown from `pts`: the control
// sequences' start and stop delays, colours, contrast, display area and the two fields'
// 2-bit run-length coded lines. Returns nothing, and says why, for a unit that does not decode
// (truncated, offsets outside the unit, a display area of no size).
std::optional<Caption> DecodeDvdUnit(const std::uint8_t* unit, std::size_t length, std::int64_t pts,
                                     const DvdPalette& palette, std::string& why);

// The palette used when no IFO is found: the usual DVD default, all 16 colours opaque.
DvdPalette DefaultDvdPalette();

}  // namespace strandis::analysers
