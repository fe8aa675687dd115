// DTS core frame headers (ETSI TS 102 114) and the XCh / X96 extension sync words.
#include <algorithm>
#include <array>
#include <string>

#include "analysers/Analysers.h"
#include "analysers/BitReader.h"

namespace strandis::analysers {

namespace {

// AMODE: the channel arrangement; 16..63 are user defined.
constexpr std::array<std::string_view, 16> kArrangements{
    "A (mono)",
    "A+B (dual mono)",
    "L + R (stereo)",
    "(L+R) + (L-R) (sum-difference)",
    "LT + RT (left and right total)",
    "C + L + R",
    "L + R + S",
    "C + L + R + S",
    "L + R + Ls + Rs",
    "C + L + R + Ls + Rs",
    "CL + CR + L + R + Ls + Rs",
    "C + L + R + Lr + Rr + OV",
    "Cf + Cr + Lf + Rf + Lr + Rr",
    "CL + C + CR + L + R + Ls + Rs",
    "CL + CR + L + R + Ls1 + Ls2 + Rs1 + Rs2",
    "CL + C + CR + L + R + Ls + S + Rs",
};

// SFREQ, kHz.
constexpr std::array<std::string_view, 16> kFrequencies{"Invalid", "8",     "16",   "32", "", "",
                                                        "11.025",  "22.05", "44.1", "",   "", "12",
                                                        "24",      "48",    "",     ""};

// RATE, kbit/s.
constexpr std::array<std::string_view, 32> kBitRates{
    "32",   "56",   "64",   "96",   "112",  "128",  "192",      "224",
    "256",  "320",  "384",  "448",  "512",  "576",  "640",      "768",
    "960",  "1024", "1152", "1280", "1344", "1408", "1411.2",   "1472",
    "1536", "1920", "2048", "3072", "3840", "open", "Variable", "Loss-less"};

// EXT_AUDIO_ID.
constexpr std::array<std::string_view, 8> kExtensions{"Channel extension",
                                                      "Reserved",
                                                      "Frequency extension",
                                                      "Channel and Frequency extension",
                                                      "Reserved",
                                                      "Reserved",
                                                      "Reserved",
                                                      "Reserved"};

// LFF.
constexpr std::array<std::string_view, 4> kLfe{"not present", "[bl]present[/bl] (IF:128)",
                                               "[bl]present[/bl] (IF:64)", "invalid"};

// PCMR: source PCM resolution.
constexpr std::array<std::string_view, 8> kResolutions{"[bl]16[/bl] bits",
                                                       "[bl]16[/bl] bits, [bl]DTS ES[/bl]",
                                                       "[bl]20[/bl] bits",
                                                       "[bl]20[/bl] bits, [bl]DTS ES[/bl]",
                                                       "",
                                                       "[bl]24[/bl] bits, [bl]DTS ES[/bl]",
                                                       "[bl]24[/bl] bits",
                                                       ""};

// The same fields as numbers: channels by AMODE (LFE not counted), Hz by SFREQ, bit/s by RATE
// (0: open, variable or lossless), bits by PCMR.
constexpr std::array<int, 16> kAmodeChannels{1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
constexpr std::array<int, 16> kFrequencyHz{0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                                           44100, 0,    0,     12000, 24000, 48000, 0,     0};
constexpr std::array<int, 32> kBitRatesBits{
    32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,
    256000,  320000,  384000,  448000,  512000,  576000,  640000,  768000,
    960000,  1024000, 1152000, 1280000, 1344000, 1408000, 1411200, 1472000,
    1536000, 1920000, 2048000, 3072000, 3840000, 0,       0,       0};
constexpr std::array<int, 8> kResolutionBits{16, 16, 20, 20, 0, 24, 24, 0};

// The core frame header behind a sync word. A line is logged only when all bits of its field
// lie in the block's valid data; the description stops at the first that does not.
void CoreHeader(BitReader& r, StreamInfo& info, LogSink& sink) {
    r.bitsStart();
    const auto say = [&](const std::string& line) {
        if (!r.complete()) return false;
        sink.log(line);
        return true;
    };
    r.bitsSkip(1);  // FTYPE
    const std::uint32_t shortCount = r.bitsGet(5);
    if (!say("   PCM core samples = " + std::to_string(shortCount + 1))) return;
    const std::uint32_t cpf = r.bitsGet(1);
    const std::uint32_t blocks = r.bitsGet(7);
    if (!say("   PCM sample blocks = " + std::to_string(blocks + 1))) return;
    if (!say("   Primary frame byte size = " + std::to_string(r.bitsGet(14)))) return;
    const std::uint32_t amode = r.bitsGet(6);
    if (r.complete() && amode < 16) {
        info.channels = kAmodeChannels[amode];
        info.lfe = 0;
    }
    if (!say("   Channel arrangement = [bl]" +
             std::string(amode < 16 ? kArrangements[amode] : "User defined") + "[/bl]"))
        return;
    const std::uint32_t frequency = r.bitsGet(4);
    if (!say("   Sampling frequency = [bl]" + std::string(kFrequencies[frequency]) + "[/bl] kHz"))
        return;
    info.sampleRate = kFrequencyHz[frequency];
    const std::uint32_t rate = r.bitsGet(5);
    if (!say("   Transmission bitrate = [bl]" + std::string(kBitRates[rate]) + "[/bl] kbit/s"))
        return;
    info.bitRate = kBitRatesBits[rate];
    r.bitsSkip(5);  // fixed bit, DYNF, TIMEF, AUXF, HDCD
    const std::uint32_t extensionId = r.bitsGet(3);
    if (r.bitsGet(1) == 1 && !say("   Extension audio = " + std::string(kExtensions[extensionId])))
        return;
    r.bitsSkip(1);  // ASPF
    const std::uint32_t lfe = r.bitsGet(2);
    if (!say("   LFE channel = " + std::string(kLfe[lfe]))) return;
    if (lfe == 1 || lfe == 2) info.lfe = 1, ++info.channels;
    r.bitsSkip(1);  // HFLAG
    if (cpf == 1 && !say("   Header CRC = " + Hex(r.bitsGet(16), 4))) return;
    r.bitsSkip(1);  // FILTS
    const std::uint32_t version = r.bitsGet(4);
    const char* suffix = version <= 6   ? ", Future rev. (compatible)"
                         : version == 7 ? ", Current"
                                        : ", Future rev. (incompatible";
    if (!say("   Encoder software rev. = " + std::to_string(version) + suffix)) return;
    r.bitsSkip(2);  // CHIST
    const std::uint32_t resolution = r.bitsGet(3);
    if (!say("   Source PCM resolution = " + std::string(kResolutions[resolution]))) return;
    info.bitsPerSample = kResolutionBits[resolution];
    if (resolution == 1 || resolution == 3 || resolution == 5) info.profile = "DTS-ES";
}

// nuMaxSampleRate of an asset, Hz.
constexpr std::array<std::uint32_t, 16> kAssetRates{8000,  16000, 32000,  64000,  128000, 22050,
                                                    44100, 88200, 176400, 352800, 12000,  24000,
                                                    48000, 96000, 192000, 384000};

// The sync words of the coding components an extension substream's assets may carry.
struct Component {
    std::uint32_t sync;
    std::string_view line;
    std::string_view profile;  // ffprobe's
};
constexpr std::array<Component, 4> kComponents{{
    {0x41A29547, "   Extension = [bl]Master Audio[/bl] (XLL lossless)", "DTS-HD MA"},
    {0x655E315E, "   Extension = [bl]High Resolution[/bl] (XBR)", "DTS-HD HRA"},
    {0x1D95F262, "   Extension = [bl]High Resolution[/bl] (X96)", "DTS-HD HRA"},
    {0x0A801921, "   Extension = [bl]Express[/bl] (LBR)", "DTS Express"},
}};

std::uint32_t Bits(BitReader& r, unsigned n) {
    return n > 16 ? (r.bitsGet(n - 16) << 16) | r.bitsGet(16) : r.bitsGet(n);
}

void SkipBits(BitReader& r, std::uint32_t n) {
    for (; n > 16; n -= 16)
        r.bitsSkip(16);
    r.bitsSkip(n);
}

// The DTS-HD extension substream header behind its sync word at `at` (ETSI TS 102 114, 7.5):
// its index and sizes, the first asset's sampling rate and channel count when the static fields
// are there, and the components its assets carry, found by their sync words.
void ExtensionSubstream(const Payload& payload, std::size_t at, StreamInfo& info, LogSink& sink) {
    BitReader r(payload.block.data(), payload.block.size(), at);
    r.bitsStart();
    r.bitsSkip(8);  // UserDefinedBits
    const std::uint32_t index = r.bitsGet(2);
    const bool longSizes = r.bitsGet(1) == 1;
    const std::uint32_t headerSize = r.bitsGet(longSizes ? 12 : 8) + 1;
    const unsigned sizeBits = longSizes ? 20 : 16;
    const std::uint32_t frameSize = Bits(r, sizeBits) + 1;
    if (!r.complete()) return;
    sink.log("   [b]DTS-HD[/b] extension substream " + std::to_string(index) +
             ": header size = " + std::to_string(headerSize) +
             " bytes, frame size = " + std::to_string(frameSize) + " bytes");
    if (r.bitsGet(1) == 1) {                     // bStaticFieldsPresent
        r.bitsSkip(5);                           // nuRefClockCode, nuExSSFrameDurationCode
        if (r.bitsGet(1) == 1) SkipBits(r, 36);  // nuTimeStamp, nLSB
        const std::uint32_t presentations = r.bitsGet(3) + 1;
        const std::uint32_t assets = r.bitsGet(3) + 1;
        std::array<std::uint32_t, 8> active{};
        for (std::uint32_t k = 0; k < presentations; ++k)
            active[k] = r.bitsGet(index + 1);
        for (std::uint32_t k = 0; k < presentations; ++k) {
            for (std::uint32_t ss = 0; ss <= index; ++ss) {
                if (((active[k] >> ss) & 1) != 0) r.bitsSkip(8);  // nuActiveAssetMask
            }
        }
        if (r.bitsGet(1) == 1) {  // bMixMetadataEnbl
            r.bitsSkip(2);
            const std::uint32_t maskBits = (r.bitsGet(2) + 1) << 2;
            const std::uint32_t configs = r.bitsGet(2) + 1;
            SkipBits(r, maskBits * configs);
        }
        SkipBits(r, sizeBits * assets);          // nuAssetFsize
        r.bitsSkip(12);                          // nuAssetDescriptFsize, nuAssetIndex
        if (r.bitsGet(1) == 1) r.bitsSkip(4);    // nuAssetTypeDescriptor
        if (r.bitsGet(1) == 1) SkipBits(r, 24);  // LanguageDescriptor
        if (r.bitsGet(1) == 1) SkipBits(r, 8 * (r.bitsGet(10) + 1));  // InfoTextString
        r.bitsSkip(5);                                                // nuBitResolution
        const std::uint32_t rate = kAssetRates[r.bitsGet(4)];
        const std::uint32_t channels = r.bitsGet(8) + 1;
        if (r.complete()) {
            // The asset is the whole stream, of which the core is a part: its figures win.
            info.sampleRate = static_cast<int>(rate);
            info.channels = static_cast<int>(channels);
            sink.log("   Asset sampling frequency = [bl]" +
                     FormatGeneral(rate / 1000.0, sink.decimalSeparator()) +
                     "[/bl] kHz, channels = [bl]" + std::to_string(channels) + "[/bl]");
        }
    }
    // The components, in the bytes of this substream that the block holds.
    const std::size_t end = std::min<std::size_t>(payload.block.size(), at - 4 + frameSize);
    std::array<bool, kComponents.size()> said{};
    std::uint32_t window = 0;
    for (std::size_t k = at - 4 + std::min<std::size_t>(headerSize, frameSize); k < end; ++k) {
        window = (window << 8) | payload.block[k];
        for (std::size_t c = 0; c < kComponents.size(); ++c) {
            if (window != kComponents[c].sync || said[c]) continue;
            said[c] = true;
            sink.log(kComponents[c].line);
            // Master Audio outranks High Resolution, which outranks the core's own.
            if (info.profile != "DTS-HD MA") info.profile = kComponents[c].profile;
        }
    }
}

}  // namespace

StreamInfo DTSdetails(const Payload& payload, LogSink& sink) {
    StreamInfo info;
    info.codec = "dts";
    if (payload.length < 2) return info;
    BitReader r(payload.block.data(), payload.block.size(), payload.start);
    const std::size_t last = payload.start + payload.length - 1;  // never taken in
    bool core = false;
    while (r.position < last) {
        r.window = (r.window << 8) | payload.block[r.position++];
        if (r.window == 0x7FFE8001 && !core) {  // core sync word: the first frame's header
            core = true;
            CoreHeader(r, info, sink);
        } else if (r.window == 0x5A5A5A5A) {  // XCh
            sink.log("   Channel extension found");
        } else if (r.window == 0x1D95F262) {  // X96
            sink.log("   Frequency extensiond found ([bl]96[/bl] kHz)");
            if (info.profile.empty()) info.profile = "DTS 96/24";
        } else if (r.window == 0x64582025) {  // DTS-HD extension substream
            ExtensionSubstream(payload, r.position, info, sink);
        }
    }
    return info;
}

}  // namespace strandis::analysers
