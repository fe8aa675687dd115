// DTS core frame headers (ETSI TS 102 114) and the XCh / X96 extension sync words.
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
                                                        "11,025",  "22,05", "44,1", "",   "", "12",
                                                        "24",      "48",    "",     ""};

// RATE, kbit/s.
constexpr std::array<std::string_view, 32> kBitRates{
    "32",   "56",   "64",   "96",   "112",  "128",  "192",      "224",
    "256",  "320",  "384",  "448",  "512",  "576",  "640",      "768",
    "960",  "1024", "1152", "1280", "1344", "1408", "1411,2",   "1472",
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

// The core frame header behind a sync word. A line is logged only when all bits of its field
// lie in the block's valid data; the description stops at the first that does not.
void CoreHeader(BitReader& r, LogSink& sink) {
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
    if (!say("   Channel arrangement = [bl]" +
             std::string(amode < 16 ? kArrangements[amode] : "User defined") + "[/bl]"))
        return;
    if (!say("   Sampling frequency = [bl]" + std::string(kFrequencies[r.bitsGet(4)]) +
             "[/bl] kHz"))
        return;
    if (!say("   Transmission bitrate = [bl]" + std::string(kBitRates[r.bitsGet(5)]) +
             "[/bl] kbit/s"))
        return;
    r.bitsSkip(5);  // fixed bit, DYNF, TIMEF, AUXF, HDCD
    const std::uint32_t extensionId = r.bitsGet(3);
    if (r.bitsGet(1) == 1 && !say("   Extension audio = " + std::string(kExtensions[extensionId])))
        return;
    r.bitsSkip(1);  // ASPF
    if (!say("   LFE channel = " + std::string(kLfe[r.bitsGet(2)]))) return;
    r.bitsSkip(1);  // HFLAG
    if (cpf == 1 && !say("   Header CRC = " + Hex(r.bitsGet(16), 4))) return;
    r.bitsSkip(1);  // FILTS
    const std::uint32_t version = r.bitsGet(4);
    const char* suffix = version <= 6   ? ", Future rev. (compatible)"
                         : version == 7 ? ", Current"
                                        : ", Future rev. (incompatible";
    if (!say("   Encoder software rev. = " + std::to_string(version) + suffix)) return;
    r.bitsSkip(2);  // CHIST
    say("   Source PCM resolution = " + std::string(kResolutions[r.bitsGet(3)]));
}

}  // namespace

void DTSdetails(const Payload& payload, LogSink& sink) {
    if (payload.length < 2) return;
    BitReader r(payload.block.data(), payload.block.size(), payload.start);
    const std::size_t last = payload.start + payload.length - 1;  // never taken in
    while (r.position < last) {
        r.window = (r.window << 8) | payload.block[r.position++];
        if (r.window == 0x7FFE8001) {  // core sync word
            CoreHeader(r, sink);
        } else if (r.window == 0x5A5A5A5A) {  // XCh
            sink.log("   Channel extension found");
        } else if (r.window == 0x1D95F262) {  // X96
            sink.log("   Frequency extensiond found ([bl]96[/bl] kHz)");
        }
    }
}

}  // namespace strandis::analysers
