#pragma once

#include <cstdint>
#include <string>

namespace strandis {

// The caption of a stream box, from the stream id in its slot; empty for an id of no range.
// `plainAc3`: the Dolby Digital Plus id carries plain Dolby Digital.
std::string VideoCaption(std::int32_t id);
std::string AudioCaption(std::int32_t id, bool plainAc3 = false);
std::string SubCaption(std::int32_t id);

// The box's suffix: ".0"/".1" for video, ".00".. ".15" for audio and subpictures.
std::string VideoSuffix(int slot);
std::string TwoDigitSuffix(int slot);

}  // namespace strandis
