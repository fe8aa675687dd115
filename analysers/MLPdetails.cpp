// The major sync of MLP (DVD-Audio) and Dolby TrueHD, and the format information behind it.
#include <string>

#include "analysers/Analysers.h"
#include "analysers/Tables.h"

namespace strandis::analysers {

void MLPdetails(const Payload& payload, LogSink& sink) {
    if (payload.length < 2) return;
    std::uint32_t syncReg = 0;
    int mlpLeft = 0, trueHdLeft = 0;
    std::uint32_t modifier2ch = 0, modifier6ch = 0, modifier8ch = 0, assign6ch = 0;
    // The last byte of the range is not read.
    for (const std::uint8_t* p = payload.begin(); p != payload.end() - 1; ++p) {
        const std::uint8_t b = *p;
        syncReg = (syncReg << 8) | b;
        if (syncReg == 0xF8726FBA) {  // Dolby TrueHD format sync
            trueHdLeft = 4;
            sink.log("   [b]TrueHD[/b] stream (up to 8 channels)");
        } else if (syncReg == 0xF8726FBB) {  // MLP format sync
            mlpLeft = 4;
            sink.log("   [b]Standard MLP[/b] stream (up to 6 channels) ");
        } else if (mlpLeft > 0) {
            switch (--mlpLeft) {
                case 3:
                    sink.log("   Quantization length = [bl]" +
                             std::string(SampleSizeNames[b >> 4]) + "[/bl] bits");
                    break;
                case 2:
                    sink.log("   Sampling frequency = [bl]" + std::string(SampleRateNames[b >> 4]) +
                             "[/bl] kHz");
                    break;
                case 0:
                    sink.log("   Channel arrangement = [bl]" + std::string(ChannelNames[b & 0x1F]) +
                             "[/bl]");
                    break;
                default:
                    break;
            }
        } else if (trueHdLeft > 0) {
            switch (--trueHdLeft) {
                case 3:
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
                    modifier8ch = (b >> 5) & 3;
                    sink.log("   2 ch. decoder channel modifier = " + std::to_string(modifier2ch));
                    sink.log("   6 ch. decoder");
                    sink.log("      channel modifier = " + std::to_string(modifier6ch));
                    sink.log("      channel arrangement = [bl]" +
                             std::string(TrueHdChannelNames[assign6ch]) + "[/bl]");
                    break;
                default:
                    sink.log("   8 ch. decoder");
                    sink.log("      channel modifier = " + std::to_string(modifier8ch));
                    sink.log("      channel arrangement = " + std::to_string(syncReg & 0x1FFF));
                    break;
            }
        }
    }
}

}  // namespace strandis::analysers
