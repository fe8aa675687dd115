// MPEG-2 video (ISO/IEC 13818-2) sequence headers and extensions.
#include <array>
#include <string>

#include "analysers/Analysers.h"

namespace strandis::analysers {

namespace {

// aspect_ratio_information.
constexpr std::array<std::string_view, 5> kAspects{
    "   Aspect ratio = forbidden", "   Aspect ratio = [bl]1:1[/bl] (square samples)",
    "   Aspect ratio = [bl]4:3[/bl]", "   Aspect ratio = [bl]16:9[/bl]",
    "   Aspect ratio = [bl]2.21:1[/bl]"};

// frame_rate_code.
constexpr std::array<std::string_view, 9> kFrameRates{
    "   Frame rate = forbidden",          "   Frame rate = [bl]23.976[/bl] fps",
    "   Frame rate = [bl]24[/bl] fps",    "   Frame rate = [bl]25[/bl] fps",
    "   Frame rate = [bl]29.97[/bl] fps", "   Frame rate = [bl]30[/bl] fps",
    "   Frame rate = [bl]50[/bl] fps",    "   Frame rate = [bl]59.94[/bl] fps",
    "   Frame rate = [bl]60[/bl] fps"};

// The same codes as numbers.
constexpr std::array<std::string_view, 5> kAspectNames{"", "1:1", "4:3", "16:9", "2.21:1"};
constexpr std::array<std::array<int, 2>, 9> kRates{{{0, 0},
                                                    {24000, 1001},
                                                    {24, 1},
                                                    {25, 1},
                                                    {30000, 1001},
                                                    {30, 1},
                                                    {50, 1},
                                                    {60000, 1001},
                                                    {60, 1}}};

}  // namespace

StreamInfo MPEG2details(const Payload& payload, std::uint32_t videoPts, LogSink& sink) {
    StreamInfo info;
    info.codec = "mpeg2video";
    std::uint32_t w = 0;
    std::int32_t picturesBefore = 0;
    bool sequenceSeen = false, described = false;
    int sequenceLeft = 0, pictureLeft = 0, extensionIdLeft = 0, codingExtensionLeft = 0,
        sequenceExtensionLeft = 0, firstPtsLeft = 0;

    for (const std::uint8_t* p = payload.begin(); p != payload.end(); ++p) {
        const std::uint8_t b = *p;
        w = (w << 8) | b;
        if (w == 0x00000100) {  // picture start code
            pictureLeft = 2;
        } else if (w == 0x000001B3) {  // sequence header code
            sequenceLeft = 7;
            if (!sequenceSeen) {
                sink.log("   Sequence Header found");
                sink.log("   " + std::to_string(picturesBefore) +
                         " frames before first Sequence Header");
                sequenceSeen = true;
                firstPtsLeft = 2;
            }
            picturesBefore = 0;
        } else if (sequenceLeft != 0) {
            const int k = --sequenceLeft;
            if (described) continue;
            if (k == 4) {  // horizontal_size_value, vertical_size_value
                info.width = static_cast<int>((w >> 12) & 0xFFF);
                info.height = static_cast<int>(w & 0xFFF);
                sink.log("   size = [bl]" + std::to_string((w >> 12) & 0xFFF) + "[/bl]x[bl]" +
                         std::to_string(w & 0xFFF) + "[/bl]");
            } else if (k == 3) {      // aspect_ratio_information, frame_rate_code
                if ((b >> 4) == 1) {  // square samples: the picture's own shape
                    info.displayAspect = ReducedRatio(info.width, info.height);
                } else if ((b >> 4) < kAspectNames.size()) {
                    info.displayAspect = kAspectNames[b >> 4];
                }
                if ((b & 0xF) < kRates.size()) {
                    info.frameRateNum = kRates[b & 0xF][0];
                    info.frameRateDen = kRates[b & 0xF][1];
                }
                sink.log((b >> 4) < kAspects.size() ? kAspects[b >> 4]
                                                    : "   Aspect ratio = reserved");
                sink.log((b & 0xF) < kFrameRates.size() ? kFrameRates[b & 0xF]
                                                        : "   Frame rate = reserved");
            } else if (k == 0) {  // bit_rate_value, in units of 400 bit/s
                // All ones: variable, no figure.
                if (((w >> 6) & 0x3FFFF) != 0x3FFFF)
                    info.bitRate = static_cast<std::int64_t>((w >> 6) & 0x3FFFF) * 400;
                sink.log("  Sequence header bitrate = [bl]" +
                         std::to_string(((w >> 6) & 0x3FFFF) * 400 / 1000) + "[/bl] kbps");
            }
        } else if (pictureLeft != 0) {
            if (--pictureLeft == 0) {
                const unsigned type = (b >> 3) & 7;  // picture_coding_type
                if (type == 0 || type > 3)
                    sink.log("   illegal picture_coding_type = " + std::to_string(type));
            }
        } else if (w == 0x000001B5) {  // extension start code
            extensionIdLeft = 1;
        } else if (extensionIdLeft != 0) {
            extensionIdLeft = 0;
            if ((b >> 4) == 8) {  // picture coding extension
                ++picturesBefore;
                if (sequenceSeen) codingExtensionLeft = 5;
            } else if ((b >> 4) == 1) {  // sequence extension
                sequenceExtensionLeft = 1;
            }
        } else if (codingExtensionLeft != 0) {
            if (--codingExtensionLeft == 1 && firstPtsLeft != 0 && --firstPtsLeft == 0) {
                sink.log("   First Video PTS = " + Hex(videoPts, 8));
            }
        } else if (sequenceExtensionLeft != 0) {
            sequenceExtensionLeft = 0;
            if (!described) {
                info.progressive = (b >> 3) & 1;
                sink.log("   Progressive Sequence = " + std::to_string((b >> 3) & 1));
                described = true;
            }
        }
    }
    return info;
}

}  // namespace strandis::analysers
