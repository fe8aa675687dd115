// Dolby Digital (ATSC A/52) and Dolby Digital Plus (its Annex E) syncframe headers.
#include <array>
#include <string>

#include "analysers/Analysers.h"
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

}  // namespace

void AC3details(const Payload& payload, int audioSlot, LogSink& sink) {
    std::uint32_t syncReg = 0;
    bool syncSeen = false;
    int headerBytesLeft = 0;
    std::uint32_t frameSizeCode = 0, bitRate = 0, acmod = 0, lfe = 0, bsid = 0, bsmod = 0;
    std::int32_t sampleRate = 0, blocks = 1;
    const std::string stream = "   Stream " + std::to_string(audioSlot) + " is ";

    for (const std::uint8_t* p = payload.begin(); p != payload.end(); ++p) {
        const std::uint8_t b = *p;
        syncReg = (syncReg << 8) | b;
        if ((syncReg & 0xFFFF) == 0x0B77) {
            if (!syncSeen) syncSeen = true, headerBytesLeft = 5;
            continue;  // the byte that completes a sync word is never a header byte
        }
        if (headerBytesLeft <= 0) continue;
        switch (--headerBytesLeft) {
            case 4:
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
                if (bsid >= 11 && bsid <= 16) {  // Dolby Digital Plus
                    if (sampleRate == 0) {
                        syncSeen = false;
                    } else {
                        // The frame rate at 48 kHz, whatever the sample rate.
                        bitRate = ((frameSizeCode + 1) * 2 * 8) *
                                  (750 / static_cast<std::uint32_t>(blocks)) / 4;
                    }
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
                } else {
                    acmod = b >> 5;
                    if (sampleRate == 0 || bitRate == 0) syncSeen = false;
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
}

}  // namespace strandis::analysers

namespace strandis::analysers {

bool StartsWithPlainAc3(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i + 6 <= length; ++i) {
        if (data[i] == 0x0B && data[i + 1] == 0x77) return (data[i + 5] >> 3) <= 10;  // bsid
    }
    return false;
}

}  // namespace strandis::analysers
