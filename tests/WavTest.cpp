// LPCM written as WAV: the header byte for byte, the samples put back in order and
// little-endian, and sizes that are right however the run ends.
#include <gtest/gtest.h>

#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "outputs/WavOutput.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

void Le(Bytes& to, std::uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k)
        to.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}
void Tag(Bytes& to, const char* text) {
    to.insert(to.end(), text, text + 4);
}

// The header a WAVE_FORMAT_EXTENSIBLE file of these figures must start with, written out field
// by field.
Bytes ExpectedHeader(int channels, int containerBits, int validBits, int rate, std::uint32_t mask,
                     std::uint32_t dataBytes) {
    const int align = channels * containerBits / 8;
    Bytes h;
    Tag(h, "RIFF");
    Le(h, 96 + dataBytes + dataBytes % 2, 4);
    Tag(h, "WAVE");
    Tag(h, "JUNK");
    Le(h, 28, 4);
    h.resize(h.size() + 28, 0);
    Tag(h, "fmt ");
    Le(h, 40, 4);
    Le(h, 0xFFFE, 2);
    Le(h, static_cast<std::uint64_t>(channels), 2);
    Le(h, static_cast<std::uint64_t>(rate), 4);
    Le(h, static_cast<std::uint64_t>(rate * align), 4);
    Le(h, static_cast<std::uint64_t>(align), 2);
    Le(h, static_cast<std::uint64_t>(containerBits), 2);
    Le(h, 22, 2);
    Le(h, static_cast<std::uint64_t>(validBits), 2);
    Le(h, mask, 4);
    const Bytes pcm{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                    0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    h.insert(h.end(), pcm.begin(), pcm.end());
    Tag(h, "data");
    Le(h, dataBytes, 4);
    return h;
}

class WavTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;

    // "Read EVO" and "Demux" with LPCM as WAV.
    void demux(const PsBuilder& ps, const std::string& name) {
        ps.save(dir.path(name));
        host.source = dir.path(name);
        detected = RunDetection(engine, host.source);
        host.takeBoxes(detected.boxes);
        host.set(Option::LpcmWav, true);
        host.lines.clear();
        RunDemux(engine, detected, host.source);
    }
};

// HD DVD LPCM, 16-bit, 48 kHz, channel assignment 18 (Lf + Rf + Ls + Rs + LFE): WAVE wants the
// LFE before the surrounds. The second packet starts inside a sample.
TEST_F(WavTest, HdDvdSamplesAreSwappedAndPutInSpeakerOrder) {
    Bytes samples;  // 3 frames of 5 channels, each sample 0xFfCc (frame f, channel c)
    for (int frame = 1; frame <= 3; ++frame) {
        for (int channel = 1; channel <= 5; ++channel)
            samples.push_back(static_cast<std::uint8_t>(frame << 4)),
                samples.push_back(static_cast<std::uint8_t>(channel));
    }
    const Bytes header{0xA0, 0x01, 0x00, 0x00, 0x00, 18, 0x00};  // 16 bits, 48 kHz, 18
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .private1(
            [&] {
                Bytes first = header;
                first.insert(first.end(), samples.begin(), samples.begin() + 13);
                return first;
            }(),
            {.pts = 0x1000})
        .private1([&] {
            Bytes second = header;
            second.insert(second.end(), samples.begin() + 13, samples.end());
            return second;
        }());
    demux(ps, "FEATURE_1.EVO");

    Bytes expected = ExpectedHeader(5, 16, 16, 48000, 0x1 | 0x2 | 0x8 | 0x10 | 0x20, 30);
    for (int frame = 1; frame <= 3; ++frame) {
        for (int channel : {1, 2, 5, 3, 4}) {  // L R LFE Ls Rs
            expected.push_back(static_cast<std::uint8_t>(channel));
            expected.push_back(static_cast<std::uint8_t>(frame << 4));
        }
    }
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.LPCM.stream.00.wav")), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.path("FEATURE_1.LPCM.stream.00.mpa")));
}

// DVD-Video LPCM, 20-bit stereo at 96 kHz: a group of four samples (L0 R0 L1 R1) holds their
// high 16 bits, then one byte of low nibbles for each pair. 24-bit mono groups hold two.
TEST_F(WavTest, DvdTwentyAndTwentyFourBitGroupsAreUnpacked) {
    // byte 5: quantization 1 (20 bits), frequency 1 (96 kHz), channels - 1 = 1
    const Bytes twenty{0xA0, 0x07, 0x00, 0x04, 0x80, 0x51, 0x80, 0x12, 0x34,
                       0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0xAB, 0xCD};
    PsBuilder ps;
    ps.pack().video(0xE0, {0x00, 0x00, 0x01, 0xB3}, 0x1000).private1(twenty, {.pts = 0x1000});
    demux(ps, "VTS_01_1.VOB");
    Bytes expected = ExpectedHeader(2, 24, 20, 96000, 0x3, 12);
    for (const Bytes& sample : {Bytes{0xA0, 0x34, 0x12}, Bytes{0xB0, 0x78, 0x56},
                                Bytes{0xC0, 0xBC, 0x9A}, Bytes{0xD0, 0xF0, 0xDE}})
        expected.insert(expected.end(), sample.begin(), sample.end());
    EXPECT_EQ(LoadFile(dir.path("VTS_01_1.LPCM.stream.00.wav")), expected);

    // byte 5: quantization 2 (24 bits), 48 kHz, one channel; a group and a half: the half is
    // not a sample and is left out, and the data's odd size gets its pad byte.
    const Bytes mono{0xA1, 0x07, 0x00, 0x04, 0x80, 0x80, 0x80, 0x11,
                     0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    PsBuilder second;
    second.pack().video(0xE0, {0x00, 0x00, 0x01, 0xB3}, 0x1000).private1(mono, {.pts = 0x1000});
    demux(second, "VTS_02_1.VOB");
    Bytes expectedMono = ExpectedHeader(1, 24, 24, 48000, 0x4, 6);
    for (const Bytes& sample : {Bytes{0x55, 0x22, 0x11}, Bytes{0x66, 0x44, 0x33}})
        expectedMono.insert(expectedMono.end(), sample.begin(), sample.end());
    EXPECT_EQ(LoadFile(dir.path("VTS_02_1.LPCM.stream.01.wav")), expectedMono);
}

TEST_F(WavTest, LpcmWithoutAWaveFormIsWrittenAsItIsAndSaysWhy) {
    // Three 20-bit channels: DVD packs no groups for them that a decoder agrees on.
    const Bytes odd{0xA0, 0x07, 0x00, 0x04, 0x80, 0x42, 0x80, 0x01, 0x02, 0x03};
    PsBuilder ps;
    ps.pack().video(0xE0, {0x00, 0x00, 0x01, 0xB3}, 0x1000).private1(odd, {.pts = 0x1000});
    demux(ps, "VTS_01_1.VOB");
    EXPECT_EQ(LoadFile(dir.path("VTS_01_1.LPCM.stream.00.mpa")), (Bytes{0x01, 0x02, 0x03}));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "LPCM stream 0 is written as it is: its sample groups are not known for 3 "
                        "channels."),
              host.lines.end());
}

// The sizes are written when the file closes, whatever stopped the writing; past 4 GiB the file
// becomes RF64.
TEST(WavOutputTest, SizesCoverWhatWasWrittenAndBigFilesBecomeRf64) {
    TempDir dir;
    WavOutput::Format format;
    std::string why;
    ASSERT_TRUE(WavOutput::FormatOf(2, 24, 48000, "", format, why));
    {
        OutputFile file;
        file.create(dir.path("cut.wav"));
        WavOutput wav(file, format);
        const Bytes group = Counting(12);
        wav.write(group.data(), group.size());
        wav.write(group.data(), 7);  // a group cut by the stop
        file.close();
    }
    const Bytes cut = LoadFile(dir.path("cut.wav"));
    ASSERT_EQ(cut.size(), 104u + 12u);
    EXPECT_EQ(Bytes(cut.begin(), cut.begin() + 104), ExpectedHeader(2, 24, 24, 48000, 0x3, 12));

    OutputFile unused;
    unused.create(dir.path("big.wav"));
    const WavOutput big(unused, format);
    const std::int64_t size = 5'000'000'004;  // bytes of samples
    const std::vector<std::uint8_t> head = big.header(size);
    Bytes expected;
    Tag(expected, "RF64");
    Le(expected, 0xFFFFFFFF, 4);
    Tag(expected, "WAVE");
    Tag(expected, "ds64");
    Le(expected, 28, 4);
    Le(expected, 96 + static_cast<std::uint64_t>(size), 8);
    Le(expected, static_cast<std::uint64_t>(size), 8);
    Le(expected, static_cast<std::uint64_t>(size) / 6, 8);
    Le(expected, 0, 4);
    EXPECT_EQ(Bytes(head.begin(), head.begin() + 48), expected);
    EXPECT_EQ(Bytes(head.begin() + 96, head.end()),
              (Bytes{'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF}));
    unused.abandon();
}

}  // namespace
}  // namespace strandis::test
