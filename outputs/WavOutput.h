#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/OutputFile.h"
#include "outputs/StreamOutput.h"

namespace strandis {

// LPCM as a RIFF/WAVE file the sound tools read: WAVE_FORMAT_EXTENSIBLE with the channel mask
// of the stream's channels, samples little-endian and in the mask's order. DVD LPCM is
// big-endian, and its 20- and 24-bit samples come in groups of four (two for mono): the high 16
// bits of the group's samples first, then their low bits (a nibble or a byte each). Groups may
// be cut anywhere by the packets; the cut part waits for the rest.
class WavOutput final : public StreamOutput {
public:
    struct Format {
        int channels = 0;
        int bits = 0;  // 16, 20 or 24 as coded; 20-bit samples take 24-bit slots
        int sampleRate = 0;
        // The channels in the stream's order, as WAVE speaker bits (SPEAKER_FRONT_LEFT = 1...).
        std::vector<std::uint32_t> speakers;
    };

    // The format of an LPCM stream from its reader's facts (channel names "L + R + C", or only
    // a count), or why it cannot be written as WAV.
    static bool FormatOf(int channels, int bits, int sampleRate, const std::string& layout,
                         Format& format, std::string& why);

    // Writes a header whose sizes are filled in when the file closes (the file's close hook).
    WavOutput(OutputFile& file, Format format);
    WavOutput(const WavOutput&) = delete;
    WavOutput& operator=(const WavOutput&) = delete;

    void write(const std::uint8_t* data, std::size_t length);
    void write(const std::uint8_t* data, std::size_t length, bool, std::int64_t) override {
        write(data, length);
    }
    // The header as it stands for `dataBytes` of samples; RF64 from 4 GiB on.
    std::vector<std::uint8_t> header(std::int64_t dataBytes) const;
    static constexpr std::size_t kHeaderSize = 104;

private:
    void convert(const std::uint8_t* group, std::uint8_t* out) const;

    OutputFile& file_;
    Format format_;
    std::size_t inGroup_;     // bytes of one coded group
    std::size_t outGroup_;    // bytes it becomes
    std::vector<int> order_;  // out value k takes the group's value order_[k]
    bool swapOnly_ = false;   // 16-bit samples whose order stays
    std::array<std::uint8_t, 64> carry_{};
    std::size_t carried_ = 0;
    std::vector<std::uint8_t> out_;
    std::int64_t dataBytes_ = 0;
};

}  // namespace strandis
