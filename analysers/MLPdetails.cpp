// The major sync of MLP (DVD-Audio) and Dolby TrueHD, and the format information behind it.
#include <string>

#include "analysers/Analysers.h"
#include "analysers/Tables.h"

namespace strandis::analysers {

namespace {

// The 6-channel decoder's assignment as the table names it, or else from its bits: L + R, C,
// LFE, Ls + Rs, Lvh + Rvh.
std::string TrueHdArrangement(unsigned assignment) {
    const std::string_view named =
        assignment < TrueHdChannelNames.size() ? TrueHdChannelNames[assignment] : "";
    if (!named.empty() && !named.starts_with("???")) return std::string(named);
    static constexpr std::array<std::string_view, 5> kGroups{"Lf + Rf", "C", "LFE", "Ls + Rs",
                                                             "Lvh + Rvh"};
    std::string names;
    for (std::size_t k = 0; k < kGroups.size(); ++k) {
        if (((assignment >> k) & 1) == 0) continue;
        names += (names.empty() ? "" : " + ") + std::string(kGroups[k]);
    }
    return names.empty() ? std::string(named) : names;
}

}  // namespace

namespace {

// Channels by the bits of a TrueHD channel assignment: L/R, C, LFE, Ls/Rs, Lvh/Rvh, Lc/Rc,
// Lrs/Rrs, Cs, Ts, Lsd/Rsd, Lw/Rw, Cvh, LFE2.
int TrueHdChannels(std::uint32_t assignment) {
    constexpr int kWidths[13] = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};
    int channels = 0;
    for (int k = 0; k < 13; ++k)
        channels += ((assignment >> k) & 1) != 0 ? kWidths[k] : 0;
    return channels;
}

}  // namespace

StreamInfo MLPdetails(const Payload& payload, LogSink& sink) {
    StreamInfo info;
    if (payload.length < 2) return info;
    std::uint32_t syncReg = 0;
    int mlpLeft = 0, trueHdLeft = 0;
    std::uint32_t modifier2ch = 0, modifier6ch = 0, modifier8ch = 0, assign6ch = 0;
    // The last byte of the range is not read.
    for (const std::uint8_t* p = payload.begin(); p != payload.end() - 1; ++p) {
        const std::uint8_t b = *p;
        syncReg = (syncReg << 8) | b;
        if (syncReg == 0xF8726FBA) {  // Dolby TrueHD format sync
            trueHdLeft = 4;
            info.codec = "truehd";
            sink.log("   [b]TrueHD[/b] stream (up to 8 channels)");
        } else if (syncReg == 0xF8726FBB) {  // MLP format sync
            mlpLeft = 4;
            info.codec = "mlp";
            sink.log("   [b]Standard MLP[/b] stream (up to 6 channels) ");
        } else if (mlpLeft > 0) {
            switch (--mlpLeft) {
                case 3:
                    info.bitsPerSample = SampleSizeBits[b >> 4];
                    sink.log("   Quantization length = [bl]" +
                             std::string(SampleSizeNames[b >> 4]) + "[/bl] bits");
                    break;
                case 2:
                    info.sampleRate = SampleRateHz[b >> 4];
                    sink.log("   Sampling frequency = [bl]" + std::string(SampleRateNames[b >> 4]) +
                             "[/bl] kHz");
                    break;
                case 0:
                    info.channelLayout = ChannelNames[b & 0x1F];
                    info.channels = CountChannels(info.channelLayout);
                    sink.log("   Channel arrangement = [bl]" + std::string(ChannelNames[b & 0x1F]) +
                             "[/bl]");
                    break;
                default:
                    break;
            }
        } else if (trueHdLeft > 0) {
            switch (--trueHdLeft) {
                case 3:
                    info.sampleRate = SampleRateHz[b >> 4];
                    sink.log("   Sampling frequency = [bl]" + std::string(SampleRateNames[b >> 4]) +
                             "[/bl] kHz");
                    break;
                case 2:
                    modifier2ch = b >> 6;
                    modifier6ch = (b >> 4) & 3;
                    assign6ch = (b & 0x0Fu) * 2;
                    break;
                case 1:
                    assign6ch += b >> 7;
                    info.channels = TrueHdChannels(assign6ch);
                    modifier8ch = (b >> 5) & 3;
                    sink.log("   2 ch. decoder channel modifier = " + std::to_string(modifier2ch));
                    sink.log("   6 ch. decoder");
                    sink.log("      channel modifier = " + std::to_string(modifier6ch));
                    sink.log("      channel arrangement = [bl]" + TrueHdArrangement(assign6ch) +
                             "[/bl]");
                    break;
                default:
                    if ((syncReg & 0x1FFF) != 0) info.channels = TrueHdChannels(syncReg & 0x1FFF);
                    sink.log("   8 ch. decoder");
                    sink.log("      channel modifier = " + std::to_string(modifier8ch));
                    sink.log("      channel arrangement = " + std::to_string(syncReg & 0x1FFF));
                    break;
            }
        }
    }
    return info;
}

}  // namespace strandis::analysers
