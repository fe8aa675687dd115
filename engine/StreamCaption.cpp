#include "engine/StreamCaption.h"

namespace strandis {

namespace {

struct IdRange {
    std::int32_t first, last;
    const char* caption;
};

// Stream id ranges and the captions of their boxes.
constexpr IdRange kVideoRanges[] = {
    {0x55, 0x56, "VC-1.stream"},    // VC-1 stream_id_extension
    {0xE0, 0xE1, "MPEG-2.stream"},  // MPEG-2 video stream ids
    {0xE2, 0xE3, "H.264.stream"},   // H.264 video stream ids
};
constexpr IdRange kAudioRanges[] = {
    {0x80, 0x87, "DD.stream"},     // Dolby Digital sub-streams
    {0x88, 0x8F, "DTSHD.stream"},  // DTS / DTS-HD
    {0xA0, 0xA7, "LPCM.stream"},   // LPCM (MLP in a .AOB)
    {0xB0, 0xB7, "MLP.stream"},    // Dolby TrueHD
    {0xC0, 0xCF, "DD+.stream"},    // Dolby Digital Plus
};
constexpr IdRange kSubRanges[] = {
    {0x20, 0x2F, "Subpicture"},      // subpicture sub-streams
    {0x60, 0x6F, "Ext.Subpicture"},  // extended subpicture sub-streams
};

template <std::size_t N>
std::string Lookup(const IdRange (&ranges)[N], std::int32_t id) {
    for (const IdRange& range : ranges) {
        if (id >= range.first && id <= range.last) return range.caption;
    }
    return {};
}

}  // namespace

std::string VideoCaption(std::int32_t id) {
    return Lookup(kVideoRanges, id);
}
std::string AudioCaption(std::int32_t id) {
    return Lookup(kAudioRanges, id);
}
std::string SubCaption(std::int32_t id) {
    return Lookup(kSubRanges, id);
}

std::string VideoSuffix(int slot) {
    return "." + std::to_string(slot);
}

std::string TwoDigitSuffix(int slot) {
    return {'.', static_cast<char>('0' + slot / 10), static_cast<char>('0' + slot % 10)};
}

}  // namespace strandis
