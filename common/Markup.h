#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace strandis {

// The message log's inline mark-up: "[name]text[/name]" formats `text`; tags do not nest.
enum class TagStyle { Bold, Italic, Underline, Size10, Size12, Colour, BoldBlue, Regular };

struct MarkupSegment {
    std::size_t start;  // in the plain line
    std::size_t length;
    TagStyle style;
    std::uint32_t colour;  // for Colour: red in the lowest byte, then green, then blue
};

struct MarkupLine {
    std::string plain;                    // the line without its tags
    std::vector<MarkupSegment> segments;  // the tagged segments, in order
};

// Reads a line of mark-up. Only a complete pair "[name]" ... "[/name]" is mark-up; any other
// bracket stays in the text, so "Movie [1].EVO" reads whole.
MarkupLine ParseMarkup(std::string_view line);

// The style of a tag name: compared exactly, "c:" by its first two characters, any other name
// (also the empty one) regular.
TagStyle StyleOf(std::string_view tagName);

// Hexadecimal digits of `text` (either case; other characters skipped), unsigned 32-bit.
std::uint32_t HexToInt(std::string_view text);

}  // namespace strandis
