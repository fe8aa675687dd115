#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "testkit/PsBuilder.h"

namespace strandis::test {

// What an HD DVD subpicture unit shows: a bitmap of palette indices at a place on a 1920x1080
// screen, its 256 Y Cr Cb entries and their transparency bytes (0 opaque, 255 invisible).
struct HdDvdCaption {
    int x = 0, y = 0, width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // width * height indices
    std::array<std::array<std::uint8_t, 3>, 256> palette{};
    std::array<std::uint8_t, 256> transparency{};
    std::uint16_t startDelay = 0;  // in 1024 ticks of 90 kHz, from the unit's time stamp
    std::optional<std::uint16_t> stopDelay;
    bool forced = false;  // 0x00 in place of 0x01
    // A second transparency table at a later sequence (a fade).
    std::optional<std::pair<std::uint16_t, std::array<std::uint8_t, 256>>> fade;
    bool allEightBit = false;  // colours 0-3 in the 8-bit form too
};

// The unit as the format note lays it out: 00 00, size, first sequence's offset, the even
// field's lines, the odd field's, then the sequences (start with 83 84 85 86, an optional fade,
// stop). Runs are the longest each form allows; a run reaching the line's end of 10 pixels or
// more uses the "to the end of the line" form.
Bytes MakeHdDvdUnit(const HdDvdCaption& caption);

}  // namespace strandis::test
