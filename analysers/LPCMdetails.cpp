// The LPCM private header: sample size, sampling frequency and channels.
#include <string>

#include "analysers/Analysers.h"
#include "analysers/Tables.h"

namespace strandis::analysers {

namespace {

void Codes(unsigned sizeCode, unsigned rateCode, unsigned assignment, StreamInfo& info,
           LogSink& sink) {
    info.bitsPerSample = SampleSizeBits[sizeCode & 15];
    info.sampleRate = SampleRateHz[rateCode & 15];
    info.channelLayout = ChannelNames[assignment & 0x1F];
    info.channels = CountChannels(info.channelLayout);
    info.lfe = info.channelLayout.find("LFE") != std::string::npos ? 1 : 0;
    sink.log("   Sample size = [bl]" + std::string(SampleSizeNames[sizeCode & 15]) + "[/bl] bit");
    if ((rateCode & 15) != 15)
        sink.log("   Sampling frequency = [bl]" + std::string(SampleRateNames[rateCode & 15]) +
                 "[/bl] kHz");
    sink.log("   Channel arrangement = " + std::string(ChannelNames[assignment & 0x1F]));
}

}  // namespace

StreamInfo LPCMdetails(const Payload& payload, LpcmLayout layout, LogSink& sink) {
    StreamInfo info;
    info.codec = "pcm_dvd";
    // The header's bytes counted from the sub-stream id as byte 0.
    const auto& header = payload.header;
    if (layout == LpcmLayout::DvdAudio) {
        // Group 1's sample size and rate codes in the high nibbles; group 2 follows in the low.
        if (payload.headerLength < 11) return info;
        Codes(header[7] >> 4, header[8] >> 4, header[10], info, sink);
        return info;
    }
    if (layout == LpcmLayout::DvdVideo) {
        // DVD-Video: byte 5 holds quantization (bits 7-6), frequency (5-4) and channels - 1 (2-0).
        const std::uint8_t codes = header[5];
        const unsigned quantization = codes >> 6, frequency = (codes >> 4) & 3;
        info.bitsPerSample = quantization < 3 ? SampleSizeBits[quantization] : 0;
        info.sampleRate = frequency < 2 ? SampleRateHz[frequency] : 0;
        info.channels = static_cast<int>(codes & 7) + 1;
        sink.log("   Sample size = [bl]" +
                 std::string(quantization < 3 ? SampleSizeNames[quantization] : "") + "[/bl] bit");
        sink.log("   Sampling frequency = [bl]" +
                 std::string(frequency < 2 ? SampleRateNames[frequency] : "") + "[/bl] kHz");
        sink.log("   Channel arrangement = " + std::to_string((codes & 7) + 1) + " channels");
        return info;
    }
    // HD DVD: sample size in byte 2, frequency in byte 3, assignment in byte 5.
    Codes(header[2] >> 4, header[3] >> 4, header[5], info, sink);
    return info;
}

}  // namespace strandis::analysers
