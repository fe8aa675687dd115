#pragma once

#include <nlohmann/json.hpp>

#include "engine/Detection.h"

namespace strandis::cli {

// The version of the JSON the command line prints; raised on any change a reader of an earlier
// version would misread.
constexpr int kFormatVersion = 1;

// One object per stream with a box: its box, kind, ids, caption, first time stamp, delay and
// the facts its header reader read.
nlohmann::json StreamList(const Detected& detected);

// The files a run read, each with its size in bytes.
nlohmann::json FileList(const std::vector<std::string>& paths);

}  // namespace strandis::cli
