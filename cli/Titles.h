#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "disc/DvdTitles.h"
#include "engine/XplRun.h"

namespace strandis::cli {

// "titles": per title its number, duration, chapters, angles, files and cells, video, audio and
// subpicture tracks and palette; the main feature marked.
nlohmann::json TitlesJson(const dvd::Disc& disc);

// The playlist of the HD DVD that `path` names (the disc's folder, HVDVD_TS or ADV_OBJ, an EVO
// or the playlist itself); "" when it names none.
std::string HdDvdPlaylist(const std::string& path);
// An HD DVD's titles from its playlist: per title its number, name, duration, chapters, the
// EVOs of HVDVD_TS that its clips play and its tracks; the longest marked as the main feature.
nlohmann::json HdDvdTitlesJson(const std::vector<PlaylistTitle>& titles,
                               const std::string& playlist);
std::string HdDvdTitlesText(const std::vector<PlaylistTitle>& titles, const std::string& playlist);

}  // namespace strandis::cli
