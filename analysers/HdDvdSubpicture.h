#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "analysers/DvdSubpicture.h"

namespace strandis::analysers {

// The most bytes an HD DVD subpicture unit may declare: a whole 1920x1080 screen of single-pixel
// 8-bit runs (18 bits each) is about 4.7 MB. A unit that declares more is not read.
inline constexpr std::size_t kMaxHdDvdUnit = 8u << 20;

// Decodes a whole HD DVD subpicture unit ("8bitRLE": 00 00, its 32-bit size, the offset of its
// first display control sequence) shown from `pts`: the sequences' start and stop delays (each
// counted from `pts` in 1024 ticks), its 256-entry Y Cr Cb palette (0x83) and the opacity of
// each entry (255 less the byte of the first 0x84 table: a later table, a fade, is not kept),
// the display area (0x85) and the two fields' 2- and 8-bit run-length coded lines (0x86).
// Returns nothing, and says why, for a unit that does not decode: cut short, an offset or a
// size outside the unit, a run past the end of its line, an area of one line.
std::optional<Caption> DecodeHdDvdUnit(const std::uint8_t* unit, std::size_t length,
                                       std::int64_t pts, std::string& why);

}  // namespace strandis::analysers
