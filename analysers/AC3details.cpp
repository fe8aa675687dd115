// Dolby Digital (ATSC A/52) and Dolby Digital Plus (its Annex E) syncframe headers.
#include <algorithm>
#include <array>
#include <string>

#include "analysers/Analysers.h"
#include "analysers/BitReader.h"
#include "analysers/Tables.h"

namespace strandis::analysers {

namespace {

// Audio blocks per frame by the DD+ numblkscod.
constexpr std::array<std::int32_t, 4> BlocksPerFrame{1, 2, 3, 6};

// Channels by the audio coding mode acmod.
constexpr std::array<std::string_view, 8> AcmodNames{
    "dual mono", "mono",          "L + R",           "L + R + C",
    "L + R + S", "L + R + C + S", "L + R + Ls + Rs", "L + R + C + Ls + Rs"};

// A bit rate by frmsizecod; the reserved codes 38..63 have none.
std::uint32_t Ac3BitRate(std::uint8_t frmsizecod) {
    const std::size_t index = 4 + (frmsizecod >> 1);
    return index < RateTable.size() ? static_cast<std::uint32_t>(RateTable[index]) : 0;
}

// The channel locations of a Dolby Digital Plus chanmap, bit 15 first (Annex E, table E2.5);
// pairs count two channels.
struct Location {
    std::string_view name;
    int channels;
};
constexpr std::array<Location, 16> kLocations{{{"L", 1},
                                               {"C", 1},
                                               {"R", 1},
                                               {"Ls", 1},
                                               {"Rs", 1},
                                               {"Lc + Rc", 2},
                                               {"Lrs + Rrs", 2},
                                               {"Cs", 1},
                                               {"Ts", 1},
                                               {"Lsd + Rsd", 2},
                                               {"Lw + Rw", 2},
                                               {"Lvh + Rvh", 2},
                                               {"Cvh", 1},
                                               {"Lts + Rts", 2},
                                               {"LFE2", 1},
                                               {"LFE", 1}}};

// The chanmap bit of location k.
constexpr std::uint32_t Bit(int k) {
    return 0x8000u >> k;
}

// The locations an acmod and lfeon fill, as a chanmap.
std::uint32_t AcmodMap(std::uint32_t acmod, std::uint32_t lfe) {
    constexpr std::array<std::uint32_t, 8> maps{
        Bit(0) | Bit(2),                             // 1+1: the two channels taken as L and R
        Bit(1),                                      // C
        Bit(0) | Bit(2),                             // L R
        Bit(0) | Bit(1) | Bit(2),                    // L C R
        Bit(0) | Bit(2) | Bit(7),                    // L R S
        Bit(0) | Bit(1) | Bit(2) | Bit(7),           // L C R S
        Bit(0) | Bit(2) | Bit(3) | Bit(4),           // L R Ls Rs
        Bit(0) | Bit(1) | Bit(2) | Bit(3) | Bit(4),  // L C R Ls Rs
    };
    return maps[acmod & 7] | (lfe != 0 ? Bit(15) : 0);
}

// The dependent substreams that follow an independent frame at `frame` in the same access
// unit: one line each with the channels it carries, then the layout of them all ("7.1").
std::uint32_t DependentFrames(const Payload& payload, std::size_t frame, std::size_t frameBytes,
                              std::uint32_t channels, LogSink& sink) {
    const std::size_t end = payload.start + payload.length;
    int dependents = 0;
    for (std::size_t at = frame + frameBytes; at + 8 <= end;) {
        const std::uint8_t* p = payload.block.data() + at;
        if (p[0] != 0x0B || p[1] != 0x77) break;
        BitReader r(payload.block.data(), end, at + 2);
        r.bitsStart();
        const std::uint32_t strmtyp = r.bitsGet(2);
        const std::uint32_t substream = r.bitsGet(3);
        const std::uint32_t frmsiz = r.bitsGet(11);
        if (strmtyp != 1) break;  // the next access unit
        r.bitsSkip(4);            // fscod, numblkscod
        const std::uint32_t acmod = r.bitsGet(3);
        const std::uint32_t lfe = r.bitsGet(1);
        r.bitsSkip(10);                        // bsid, dialnorm
        if (r.bitsGet(1) == 1) r.bitsSkip(8);  // compr
        if (acmod == 0) {
            r.bitsSkip(5);  // dialnorm2
            if (r.bitsGet(1) == 1) r.bitsSkip(8);
        }
        std::uint32_t map = AcmodMap(acmod, lfe);
        if (r.bitsGet(1) == 1) map = r.bitsGet(16);  // chanmape, chanmap
        if (!r.complete()) break;
        std::string names;
        for (int k = 0; k < 16; ++k) {
            if ((map & Bit(k)) == 0) continue;
            if (!names.empty()) names += " + ";
            names += kLocations[static_cast<std::size_t>(k)].name;
        }
        sink.log("   Dependent substream " + std::to_string(substream) + ": channel map = [bl]" +
                 names + "[/bl]");
        channels |= map;
        ++dependents;
        at += (frmsiz + 1) * 2;
    }
    if (dependents == 0) return channels;
    int main = 0, lfe = 0;
    for (int k = 0; k < 16; ++k) {
        if ((channels & Bit(k)) == 0) continue;
        (k >= 14 ? lfe : main) += kLocations[static_cast<std::size_t>(k)].channels;
    }
    sink.log("   Total channel layout = [bl]" + std::to_string(main) + "." + std::to_string(lfe) +
             "[/bl]");
    return channels;
}

// The channel count and names of a chanmap.
void MapInfo(std::uint32_t map, StreamInfo& info) {
    info.channels = 0;
    info.channelLayout.clear();
    for (int k = 0; k < 16; ++k) {
        if ((map & Bit(k)) == 0) continue;
        info.channels += kLocations[static_cast<std::size_t>(k)].channels;
        if (!info.channelLayout.empty()) info.channelLayout += " + ";
        info.channelLayout += kLocations[static_cast<std::size_t>(k)].name;
    }
    info.lfe = (map & Bit(15)) != 0 ? 1 : 0;
}

// Whether a Dolby Digital frame's LFE channel is on: lfeon follows acmod and the mix levels
// that acmod calls for, in `bits` (the byte of acmod and the next, acmod in the top 3 bits).
std::uint32_t Ac3LfeOn(std::uint32_t bits) {
    const std::uint32_t acmod = bits >> 13;
    int at = 3;
    if ((acmod & 1) != 0 && acmod != 1) at += 2;  // cmixlev
    if ((acmod & 4) != 0) at += 2;                // surmixlev
    if (acmod == 2) at += 2;                      // dsurmod
    return (bits >> (15 - at)) & 1;
}

}  // namespace

StreamInfo AC3details(const Payload& payload, int audioSlot, LogSink& sink) {
    StreamInfo info;
    std::uint32_t syncReg = 0;
    bool syncSeen = false;
    int headerBytesLeft = 0;
    std::uint32_t frameSizeCode = 0, bitRate = 0, acmod = 0, lfe = 0, bsid = 0, bsmod = 0;
    std::uint32_t streamType = 0;
    std::size_t syncAt = 0;  // of the frame's 0B
    std::int32_t sampleRate = 0, blocks = 1;
    const std::string stream = "   Stream " + std::to_string(audioSlot) + " is ";

    for (const std::uint8_t* p = payload.begin(); p != payload.end(); ++p) {
        const std::uint8_t b = *p;
        syncReg = (syncReg << 8) | b;
        if ((syncReg & 0xFFFF) == 0x0B77) {
            if (!syncSeen) {
                syncSeen = true, headerBytesLeft = 5;
                syncAt = static_cast<std::size_t>(p - payload.block.data()) - 1;
            }
            continue;  // the byte that completes a sync word is never a header byte
        }
        if (headerBytesLeft <= 0) continue;
        switch (--headerBytesLeft) {
            case 4:
                streamType = b >> 6;  // DD+ strmtyp
                frameSizeCode = (b & 7u) << 8;
                break;  // DD+ frmsiz
            case 3:
                frameSizeCode |= b;
                break;
            case 2:  // fscod + frmsizecod (DD), fscod + numblkscod + acmod + lfeon (DD+)
                sampleRate = RateTable[b >> 6];
                bitRate = Ac3BitRate(b & 0x3F);
                blocks = BlocksPerFrame[(b >> 4) & 3];
                acmod = (b >> 1) & 7;
                lfe = b & 1;
                break;
            case 1:
                bsid = b >> 3, bsmod = b & 7;
                break;
            default: {
                const std::string kHz = FormatGeneral(sampleRate / 1000.0, sink.decimalSeparator());
                if (bsid >= 11 && bsid <= 16 && streamType == 1) {
                    // A dependent substream: the stream is described from the next independent
                    // frame, which starts behind this one.
                    syncSeen = false;
                    syncReg = 0;
                    const std::size_t here = static_cast<std::size_t>(p - payload.block.data());
                    const std::size_t next =
                        std::max<std::size_t>(syncAt + (frameSizeCode + 1) * 2, here + 1);
                    if (next >= static_cast<std::size_t>(payload.end() - payload.block.data()))
                        return info;
                    p = payload.block.data() + next - 1;
                    break;
                }
                if (bsid >= 11 && bsid <= 16) {  // Dolby Digital Plus
                    if (sampleRate == 0) {
                        syncSeen = false;
                    } else {
                        // The frame rate at 48 kHz, whatever the sample rate.
                        bitRate = ((frameSizeCode + 1) * 2 * 8) *
                                  (750 / static_cast<std::uint32_t>(blocks)) / 4;
                    }
                    info.codec = "eac3";
                    info.sampleRate = sampleRate;
                    info.bitRate = bitRate;
                    MapInfo(AcmodMap(acmod, lfe), info);
                    sink.log(stream + "[b]Dolby Digital Plus[/b]");
                    sink.log("   frame size = " + std::to_string((frameSizeCode + 1) * 2) +
                             " bytes, number of blocks per frame = " + std::to_string(blocks));
                    sink.log("   Sampling frequency = [bl]" + kHz + "[/bl] kHz");
                    sink.log("   Transmission bitrate = [bl]" + std::to_string(bitRate / 1000) +
                             "[/bl] kbit/s");
                    sink.log("   Channel arrangement = [bl]" + std::string(AcmodNames[acmod]) +
                             "[/bl], bsid = " + std::to_string(bsid));
                    sink.log(std::string("   LFE channel = [bl]") +
                             (lfe == 1 ? "present" : "not present") + "[/bl]");
                    if (syncSeen)
                        MapInfo(DependentFrames(payload, syncAt, (frameSizeCode + 1) * 2,
                                                AcmodMap(acmod, lfe), sink),
                                info);
                } else {
                    acmod = b >> 5;
                    if (sampleRate == 0 || bitRate == 0) syncSeen = false;
                    info.codec = "ac3";
                    info.sampleRate = sampleRate;
                    info.bitRate = bitRate;
                    if (p + 1 != payload.end()) {
                        MapInfo(AcmodMap(acmod, Ac3LfeOn((std::uint32_t{b} << 8) | p[1])), info);
                        if (acmod == 0) info.channelLayout = "dual mono";
                    }
                    sink.log(stream + "[b]Dolby Digital[/b]");
                    sink.log("   Sampling frequency = [bl]" + kHz + "[/bl] kHz");
                    sink.log("   Transmission bitrate = [bl]" + std::to_string(bitRate / 1000) +
                             "[/bl] kbit/s");
                    sink.log("   Channel arrangement = [bl]" + std::string(AcmodNames[acmod]) +
                             "[/bl], bsid = " + std::to_string(bsid) +
                             ", bsmod =" + std::to_string(bsmod));
                }
                break;
            }
        }
    }
    return info;
}

}  // namespace strandis::analysers

namespace strandis::analysers {}  // namespace strandis::analysers
