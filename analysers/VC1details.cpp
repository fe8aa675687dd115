// VC-1 Advanced Profile sequence headers (SMPTE 421M).
#include <array>
#include <cmath>
#include <string>

#include "analysers/Analysers.h"

namespace strandis::analysers {

namespace {

// ASPECT_RATIO.
constexpr std::array<std::string_view, 16> kAspects{
    "unspecified",
    "[bl]1:1[/bl] (square samples)",
    "[bl]12:11[/bl] (704x576 4:3)",
    "[bl]10:11[/bl] (704x480 4:3)",
    "[bl]16:11[/bl] (704x576 16:9)",
    "[bl]40:33[/bl] (704x480 16:9)",
    "[bl]24:11[/bl] (352x576 4:3)",
    "[bl]20:11[/bl] (352x480 4:3)",
    "[bl]32:11[/bl] (352x576 16:9)",
    "[bl]80:33[/bl] (352x480 16:9)",
    "[bl]18:11[/bl] (48$576 4:3)",
    "[bl]15:11[/bl] (48$480 4:3)",
    "[bl]64:33[/bl] (528x576 16:9)",
    "[bl]160:99[/bl] (528x480 16:9)",
    "Reserved",
    "",
};

// The sample aspect ratios of ASPECT_RATIO 1..13.
constexpr std::array<std::array<int, 2>, 14> kSampleAspects{{{0, 0},
                                                             {1, 1},
                                                             {12, 11},
                                                             {10, 11},
                                                             {16, 11},
                                                             {40, 33},
                                                             {24, 11},
                                                             {20, 11},
                                                             {32, 11},
                                                             {80, 33},
                                                             {18, 11},
                                                             {15, 11},
                                                             {64, 33},
                                                             {160, 99}}};

// FRAMERATENR 1..7 and FRAMERATEDR 1..2.
constexpr std::array<std::int32_t, 8> kNumerators{0,     24000, 25000, 30000,
                                                  50000, 60000, 48000, 72000};
constexpr std::array<std::int32_t, 3> kDenominators{0, 1000, 1001};

}  // namespace

StreamInfo VC1details(const Payload& payload, std::uint64_t videoPts, LogSink& sink) {
    StreamInfo info;
    info.codec = "vc1";
    std::uint32_t w = 0;  // the last four bytes, first byte highest
    std::int32_t framesBefore = 0;
    bool sequenceSeen = false, described = false;
    int sequenceLeft = 0, displayLeft = 0, aspectLeft = 0, frameRateLeft = 0, frameHeaderLeft = 0,
        firstPtsLeft = 0;
    const char separator = sink.decimalSeparator();

    for (const std::uint8_t* p = payload.begin(); p != payload.end(); ++p) {
        const std::uint8_t b = *p;
        w = (w << 8) | b;
        if (w == 0x0000010D) {  // frame start code
            ++framesBefore;
            if (sequenceSeen) frameHeaderLeft = 4;
        } else if (frameHeaderLeft != 0) {
            if (--frameHeaderLeft == 0 && firstPtsLeft != 0 && --firstPtsLeft == 0) {
                sink.log("   First Video PTS = " + Hex(videoPts, 16));
            }
        } else if (w == 0x0000010F) {  // sequence start code
            if (!described) {
                sink.log("   Sequence Header found");
                sequenceLeft = 6;
            }
            if (!sequenceSeen) {
                sink.log("   " + std::to_string(framesBefore) + " frames before first I-frame");
                sequenceSeen = true;
                firstPtsLeft = 2;
            }
        } else if (sequenceLeft != 0) {
            const int k = --sequenceLeft;
            if (described) continue;
            if (k == 5) {  // PROFILE, LEVEL, COLORDIFF_FORMAT
                if ((b >> 6) == 3) info.profile = "Advanced";
                info.level = (b >> 3) & 7;
                sink.log((b >> 6) == 3 ? "   Advanced Profile" : "   Reserved Profile");
                const unsigned level = (b >> 3) & 7;
                sink.log(level > 4 ? std::string("   Level = Reserved")
                                   : "   Level = " + std::to_string(level));
                sink.log(((b >> 1) & 3) == 1 ? "   Chroma Format = 4:2:0"
                                             : "   Chroma Format = Reserved");
            } else if (k == 1) {  // MAX_CODED_WIDTH, MAX_CODED_HEIGHT
                info.width = static_cast<int>(2 * ((w >> 12) & 0xFFF) + 2);
                info.height = static_cast<int>(2 * (w & 0xFFF) + 2);
                sink.log("   Size = [bl]" + std::to_string(2 * ((w >> 12) & 0xFFF) + 2) +
                         "[/bl]x[bl]" + std::to_string(2 * (w & 0xFFF) + 2) + "[/bl]");
            } else if (k == 0) {  // PULLDOWN, INTERLACE, DISPLAY_EXT
                sink.log("   Pulldown = " + std::to_string(b >> 7));
                sink.log("   Interlace = " + std::to_string((b >> 6) & 1));
                info.progressive = ((b >> 6) & 1) == 0 ? 1 : 0;
                if ((b & 0x02) != 0) displayLeft = 4;
            }
        } else if (displayLeft != 0) {
            const int k = --displayLeft;
            if (described) continue;
            if (k == 2) {  // DISP_HORIZ_SIZE
                sink.log("   Display Horizontal size = " + std::to_string(((w >> 3) & 0x3FFF) + 1));
            } else if (k == 0) {  // DISP_VERT_SIZE, ASPECT_RATIO_FLAG, ASPECT_RATIO
                sink.log("   Display Vertical size = " + std::to_string(((w >> 5) & 0x3FFF) + 1));
                if ((w & 0x10) != 0) {
                    aspectLeft = 1;
                    if ((w & 0xF) != 0 && (w & 0xF) < kSampleAspects.size())
                        info.displayAspect =
                            ReducedRatio(std::int64_t{info.width} * kSampleAspects[w & 0xF][0],
                                         std::int64_t{info.height} * kSampleAspects[w & 0xF][1]);
                    sink.log("   Aspect ratio = " + std::string(kAspects[w & 0xF]));
                }
            }
        } else if (aspectLeft != 0) {
            if (--aspectLeft == 0 && !described && (b & 0x80) != 0)
                frameRateLeft = 2;  // FRAMERATE_FLAG
        } else if (frameRateLeft != 0) {
            if (--frameRateLeft != 0 || described) continue;
            described = true;
            if ((w & (1u << 22)) != 0) {  // FRAMERATEIND: FRAMERATEEXP
                info.frameRateNum = static_cast<int>(((w >> 6) & 0xFFFF) + 1);
                info.frameRateDen = 32;
                sink.log("   Frame Rate =" +
                         FormatGeneral((((w >> 6) & 0xFFFF) + 1) / 32.0, separator));
                continue;
            }
            const std::uint32_t nr = (w >> 14) & 0xFF, dr = (w >> 10) & 0xF;
            if (nr == 0) sink.log("   Forbidden Frame Rate!");
            if (nr >= 8) sink.log("   Reserved Frame Rate!");
            if (dr == 0) sink.log("   Forbidden Frame Rate!");
            if (dr >= 3) sink.log("   Reserved Frame Rate!");
            if (nr == 0 || nr >= 8 || dr == 0 || dr >= 3) continue;  // no rate to show
            info.frameRateNum = kNumerators[nr];
            info.frameRateDen = kDenominators[dr];
            const double rate = static_cast<double>(kNumerators[nr]) / kDenominators[dr];
            sink.log("   Frame Rate = [bl]" +
                     FormatGeneral(std::nearbyint(rate * 1000.0) / 1000.0, separator) + "[/bl] (" +
                     std::to_string(kNumerators[nr]) + "/" + std::to_string(kDenominators[dr]) +
                     ")");
        }
    }
    return info;
}

}  // namespace strandis::analysers
