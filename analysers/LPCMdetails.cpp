// The LPCM private header: sample size, sampling frequency and channels.
#include <string>

#include "analysers/Analysers.h"
#include "analysers/Tables.h"

namespace strandis::analysers {

void LPCMdetails(const Payload& payload, bool dvdVideo, LogSink& sink) {
    // The header's bytes counted from the sub-stream id as byte 0.
    const auto& header = payload.before;
    if (dvdVideo) {
        // DVD-Video: byte 5 holds quantization (bits 7-6), frequency (5-4) and channels - 1 (2-0).
        const std::uint8_t codes = header[5];
        const unsigned quantization = codes >> 6, frequency = (codes >> 4) & 3;
        sink.log("   Sample size = [bl]" +
                 std::string(quantization < 3 ? SampleSizeNames[quantization] : "") + "[/bl] bit");
        sink.log("   Sampling frequency = [bl]" +
                 std::string(frequency < 2 ? SampleRateNames[frequency] : "") + "[/bl] kHz");
        sink.log("   Channel arrangement = " + std::to_string((codes & 7) + 1) + " channels");
        return;
    }
    // DVD-Audio and HD DVD: sample size in byte 2, frequency in byte 3, assignment in byte 5.
    sink.log("   Sample size = [bl]" + std::string(SampleSizeNames[header[2] >> 4]) + "[/bl] bit");
    if ((header[3] >> 4) != 15)
        sink.log("   Sampling frequency = [bl]" + std::string(SampleRateNames[header[3] >> 4]) +
                 "[/bl] kHz");
    sink.log("   Channel arrangement = " + std::string(ChannelNames[header[5] & 0x1F]));
}

}  // namespace strandis::analysers
