#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "disc/DvdTitles.h"

namespace strandis::cli {

// "titles": per title its number, duration, chapters, angles, files and cells, video, audio and
// subpicture tracks and palette; the main feature marked.
nlohmann::json TitlesJson(const dvd::Disc& disc);

}  // namespace strandis::cli
