// MPEG-1 and MPEG-2 audio frame headers (ISO/IEC 11172-3, 2.4.1.3; ISO/IEC 13818-3, 2.4.1.3),
// layers I to III, and the MPEG-2.5 low rates.
#include <array>
#include <string>

#include "analysers/Analysers.h"

namespace strandis::analysers {

namespace {

// kbit/s by bitrate_index: MPEG-1 layers I, II, III; MPEG-2 (and 2.5) layer I, layers II and III.
constexpr std::array<std::array<int, 15>, 5> kRates{{
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};
constexpr std::array<int, 3> kMpeg1Rates{44100, 48000, 32000};
constexpr std::array<const char*, 4> kModes{"stereo", "joint stereo", "dual channel", "mono"};
constexpr std::array<const char*, 4> kLayers{"", "III", "II", "I"};

bool ValidHeader(const std::uint8_t* h) {
    return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && ((h[1] >> 3) & 3) != 1 &&
           ((h[1] >> 1) & 3) != 0 && (h[2] >> 4) != 15 && ((h[2] >> 2) & 3) != 3;
}

// The row of kRates for a version (3 MPEG-1) and layer (3 layer I).
int RateRow(int version, int layer) {
    return version == 3 ? 3 - layer : layer == 3 ? 3 : 4;
}

// The sampling rate: MPEG-2 halves MPEG-1's, MPEG-2.5 quarters it.
int SampleRate(int version, int index) {
    const int shift = version == 3 ? 0 : version == 2 ? 1 : 2;
    return kMpeg1Rates[static_cast<std::size_t>(index)] >> shift;
}

}  // namespace

std::size_t MpaFrameLength(const std::uint8_t* h) {
    if (!ValidHeader(h)) return 0;
    const int version = (h[1] >> 3) & 3, layer = (h[1] >> 1) & 3;
    const int kbits = kRates[static_cast<std::size_t>(RateRow(version, layer))]
                            [static_cast<std::size_t>(h[2] >> 4)];
    const int hz = SampleRate(version, (h[2] >> 2) & 3);
    const int padding = (h[2] >> 1) & 1;
    if (kbits == 0) return 0;
    if (layer == 3) return static_cast<std::size_t>((12 * kbits * 1000 / hz + padding) * 4);
    // Layer III of MPEG-2 and 2.5 has half as many samples per frame.
    const int perFrame = layer == 1 && version != 3 ? 72 : 144;
    return static_cast<std::size_t>(perFrame * kbits * 1000 / hz + padding);
}

StreamInfo MPAdetails(const Payload& payload, LogSink& sink) {
    StreamInfo info;
    const std::uint8_t* p = payload.begin();
    const std::uint8_t* end = payload.end();
    while (p + 4 <= end && !ValidHeader(p))
        ++p;
    if (p + 4 > end) {
        sink.log("   No MPEG audio frame header in the first packet");
        return info;
    }
    const int version = (p[1] >> 3) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int layer = (p[1] >> 1) & 3;    // 3 layer I, 2 layer II, 1 layer III
    const int rateIndex = p[2] >> 4;
    const int mode = p[3] >> 6;
    const int kbits = kRates[static_cast<std::size_t>(RateRow(version, layer))]
                            [static_cast<std::size_t>(rateIndex)];
    const int sampleRate = SampleRate(version, (p[2] >> 2) & 3);

    const char* versionName = version == 3 ? "MPEG-1" : version == 2 ? "MPEG-2" : "MPEG-2.5";
    sink.log(std::string("   ") + versionName + " audio, layer [bl]" +
             kLayers[static_cast<std::size_t>(layer)] + "[/bl]");
    if (kbits > 0)
        sink.log("   Bit rate = [bl]" + std::to_string(kbits) + "[/bl] kbit/s");
    else
        sink.log("   Bit rate = free format");
    sink.log("   Sampling frequency = [bl]" +
             FormatGeneral(sampleRate / 1000.0, sink.decimalSeparator()) + "[/bl] kHz");
    sink.log(std::string("   Mode = ") + kModes[static_cast<std::size_t>(mode)]);

    info.codec = layer == 3 ? "mp1" : layer == 2 ? "mp2" : "mp3";
    info.profile = std::string(versionName) + " layer " + kLayers[static_cast<std::size_t>(layer)];
    info.sampleRate = sampleRate;
    info.bitRate = static_cast<std::int64_t>(kbits) * 1000;
    info.channels = mode == 3 ? 1 : 2;
    info.channelLayout = mode == 3 ? "C" : mode == 2 ? "dual mono" : "L + R";
    info.lfe = 0;
    return info;
}

}  // namespace strandis::analysers
