#pragma once

#include <cstdint>
#include <string>

namespace strandis {

// The caption of a stream box, from the stream id in its slot; empty for an id of no range.
// `plainAc3`: the Dolby Digital Plus id carries plain Dolby Digital.
std::string VideoCaption(std::int32_t id);
std::string AudioCaption(std::int32_t id, bool plainAc3 = false);
std::string SubCaption(std::int32_t id);

struct IdRange;

// The log line for a stream that gets no box because its slot holds another id, such as
// "[b]DTS HD (DTS)[/b] audio stream 0x88 not listed: its slot holds 0x80"; `file` names the
// later file of a run that found it there.
std::string NotListedLine(const IdRange& range, std::int32_t id, std::int32_t holder,
                          const std::string& file = {});

// The box's suffix: ".0"/".1" for video, ".00".. ".15" for audio and subpictures.
std::string VideoSuffix(int slot);
std::string TwoDigitSuffix(int slot);

}  // namespace strandis
