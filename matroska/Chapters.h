#pragma once

#include <string>

#include "playlist/Xpl.h"

namespace strandis {

// A title's chapters as Matroska XML chapters (names in the playlist's default language, where
// it has one) or as the simple OGM text; both are what mkvmerge --chapters reads.
std::string MatroskaChapters(const playlist::TitleInfo& title);
std::string OgmChapters(const playlist::TitleInfo& title);

// Nanoseconds as HH:MM:SS.nnnnnnnnn, or with `digits` decimals.
std::string ClockTime(std::int64_t ns, int digits = 9);

}  // namespace strandis
