// What discs from professional authoring tools carry: DVD-Audio headers that say their own
// length, DTS in the secondary ids, Dolby Digital in the DD+ ids, packs behind system headers,
// streams that share a slot.
#include <gtest/gtest.h>

#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/RebuildRun.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class RealDiscTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};

    std::string save(const PsBuilder& ps, const std::string& name) {
        ps.save(dir.path(name));
        return dir.path(name);
    }
    DetectionResult detect(const std::string& source) {
        host.source = source;
        const DetectionResult result = RunDetection(engine, source);
        host.takeBoxes(result.boxes);
        return result;
    }
    Bytes demuxed(const std::string& name) { return LoadFile(dir.path(name)); }
};

// A DVD-Audio LPCM header: id, continuity counter, length 8, first access unit pointer, then
// byte 6, the sample sizes (group 1 high nibble), the rates, a reserved byte, the channel
// assignment and 0x80.
Bytes AobLpcmHeader(std::uint8_t id, std::uint8_t sizes, std::uint8_t rates,
                    std::uint8_t assignment) {
    return {id, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, sizes, rates, 0x00, assignment, 0x80};
}

TEST_F(RealDiscTest, DvdAudioLpcmAndMlpLoseExactlyTheirOwnHeaderLength) {
    const Bytes lpcm1 = Counting(1500, 1), lpcm2 = Counting(1800, 2);
    Bytes mlp1 = Cat({{0xF8, 0x72, 0x6F, 0xBB, 0x22, 0x11, 0x00, 0x01}, Counting(900, 3)});
    const Bytes mlp2 = Counting(1000, 4);
    // MLP: a 10-byte header, whose length field (6) is what counts.
    const Bytes mlpHeader{0xA1, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    // A header with more padding than usual: the length field (12) wins.
    const Bytes longHeader = Cat({AobLpcmHeader(0xA0, 0x22, 0x11, 0x01), {0x00, 0x00, 0x00, 0x00}});
    Bytes lengthTwelve = longHeader;
    lengthTwelve[3] = 12;
    PsBuilder ps;
    ps.pack()
        .private1(Cat({AobLpcmHeader(0xA0, 0x22, 0x11, 0x01), lpcm1}), {.pts = 0x9000})
        .private1(Cat({mlpHeader, mlp1}), {.pts = 0x9000})
        .private1(Cat({lengthTwelve, lpcm2}), {.pts = 0xA000})
        .private1(Cat({mlpHeader, mlp2}), {.pts = 0xA000});
    const std::string source = save(ps, "ATS_01_1.AOB");
    host.folder = dir.path("");
    detect(source);
    const std::vector<std::string> lines(host.lines.begin() + 2, host.lines.end() - 2);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[b]LPCM[/b] audio stream 0 found!",
                         "   First PTS = 00009000",
                         "   Stream id = A0",
                         "   Sample size = [bl]24[/bl] bit",
                         "   Sampling frequency = [bl]96[/bl] kHz",
                         "   Channel arrangement = L + R",
                         "[b]MLP[/b] audio stream 1 found!",
                         "   First PTS = 00009000",
                         "   Stream id = A1",
                         "   [b]Standard MLP[/b] stream (up to 6 channels) ",
                         "   Quantization length = [bl]24[/bl] bits",
                         "   Sampling frequency = [bl]96[/bl] kHz",
                         "   Channel arrangement = [bl]L + R[/bl]",
                     }));
    RunDemux(engine, source);
    EXPECT_EQ(demuxed("ATS_01_1.LPCM.stream.00.mpa"), Cat({lpcm1, lpcm2}));
    EXPECT_EQ(demuxed("ATS_01_1.LPCM.stream.01.mpa"), Cat({mlp1, mlp2}));
}

TEST_F(RealDiscTest, DvdAudioLpcmCodesOfEveryRateAndAssignment) {
    struct Case {
        std::uint8_t sizes, rates, assignment;
        const char *size, *rate, *channels;
    };
    const Case cases[] = {
        {0x00, 0x00, 0x00, "16", "48", "C (mono)"},
        {0x11, 0x88, 0x03, "20", "44.1", "Lf + Rf + Ls + Rs"},
        {0x20, 0x9F, 0x11, "24", "88.2", "Lf + Rf + C + LFE + Ls + Rs"},
        {0x22, 0xAA, 0x14, "24", "176.4", "Lf + Rf + Ls + Rs + C + LFE"},
        {0x00, 0x22, 0x01, "16", "192", "L + R"},
    };
    for (const Case& c : cases) {
        PsBuilder ps;
        ps.pack().private1(Cat({AobLpcmHeader(0xA0, c.sizes, c.rates, c.assignment), Counting(64)}),
                           {.pts = 0x9000});
        host.lines.clear();
        detect(save(ps, "ATS_01_1.AOB"));
        ASSERT_GE(host.lines.size(), 8u);
        EXPECT_EQ(host.lines[5], "   Sample size = [bl]" + std::string(c.size) + "[/bl] bit");
        EXPECT_EQ(host.lines[6], "   Sampling frequency = [bl]" + std::string(c.rate) + "[/bl] kHz");
        EXPECT_EQ(host.lines[7], "   Channel arrangement = " + std::string(c.channels));
    }
}

TEST_F(RealDiscTest, DtsInTheSecondaryIdsAndDolbyDigitalInTheDdPlusIds) {
    // An AC-3 frame header (bsid 8) and an E-AC-3 one (bsid 16).
    const Bytes ac3 = Cat({{0x0B, 0x77, 0x00, 0x00, 0x1E, 0x40, 0xE0}, Counting(700, 1)});
    const Bytes eac3 = Cat({{0x0B, 0x77, 0x02, 0xFF, 0x3F, 0x80, 0x00}, Counting(700, 2)});
    const Bytes dts = Counting(800, 3);
    // One packet a pack, as the rebuild reads them.
    const auto disc = [&](std::initializer_list<std::uint8_t> ids) {
        PsBuilder ps;
        const Bytes* payloads[] = {&dts, &ac3, &eac3, &dts};
        int k = 0;
        for (std::uint8_t id : ids)
            ps.pack().audio(id, *payloads[k++], 0x9000).padTo(2048);
        return ps;
    };
    const PsBuilder ps = disc({0x98, 0xC2, 0xC3, 0x9B});
    host.set(Option::Details, false);
    host.folder = dir.path("");
    const DetectionResult result = detect(save(ps, "FEATURE_1.EVO"));
    EXPECT_EQ(std::vector<std::string>(host.lines.begin() + 2, host.lines.begin() + 6),
              (std::vector<std::string>{"[b]DTS HD (DTS)[/b] audio stream 8 found!",
                                        "[b]Dolby Digital[/b] audio stream 2 found!",
                                        "[b]Dolby Digital[/b] Plus audio stream 3 found!",
                                        "[b]DTS HD (DTS)[/b] audio stream 11 found!"}));
    EXPECT_EQ(result.boxes.audio[8].caption, "DTSHD.stream.08");
    EXPECT_EQ(result.boxes.audio[11].caption, "DTSHD.stream.11");
    EXPECT_EQ(result.boxes.audio[2].caption, "DD.stream.02");
    EXPECT_EQ(result.boxes.audio[3].caption, "DD+.stream.03");

    RunDemux(engine, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(demuxed("FEATURE_1.DTSHD.stream.08.mpa"), dts);
    EXPECT_EQ(demuxed("FEATURE_1.DTSHD.stream.11.mpa"), dts);
    EXPECT_EQ(demuxed("FEATURE_1.DD.stream.02.mpa"), ac3);

    // The rebuild numbers them in order of appearance, each within its codec's ids.
    RunRebuild(engine, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.rebuilt.EVO")), disc({0x88, 0xC1, 0xC2, 0x8B}).bytes());
}

TEST_F(RealDiscTest, AStreamLeftWithoutASlotIsNamedOnce) {
    // ffmpeg's DVD muxer numbers each codec from 0: all three land in slot 0.
    PsBuilder ps;
    ps.pack()
        .audio(0x80, Counting(100), 0x9000)
        .audio(0x88, Counting(100), 0x9000)
        .audio(0xA0, Counting(100), 0x9000)
        .audio(0x88, Counting(100), 0xA000)
        .subpicture(0x21, Counting(50), 0x9000)
        .subpicture(0x61, Counting(50), 0x9000);
    host.set(Option::Details, false);
    detect(save(ps, "FEATURE_1.EVO"));
    EXPECT_EQ(std::vector<std::string>(host.lines.begin() + 2, host.lines.end() - 2),
              (std::vector<std::string>{
                  "[b]Dolby Digital[/b] audio stream 0 found!",
                  "[b]DTS HD (DTS)[/b] audio stream 0x88 not listed: its slot holds 0x80",
                  "[b]LPCM[/b] audio stream 0xA0 not listed: its slot holds 0x80",
                  "[b]Subpicture[/b] stream 1 found!",
                  "[b]Extended subpicture[/b] stream 0x61 not listed: its slot holds 0x21",
              }));
}

TEST_F(RealDiscTest, PacksBehindSystemHeadersAreSelectedAndRenumberedByTheirOwnPacket) {
    const auto disc = [](std::uint8_t first, std::uint8_t second, bool withFirst, int audioBound) {
        PsBuilder ps;
        for (int round = 0; round < 2; ++round) {
            if (withFirst) {
                ps.pack().systemHeader(audioBound, 0, {0xBD}).audio(first, Counting(1500, 1), 0x9000);
                ps.padTo(2048);
            }
            ps.pack().systemHeader(audioBound, 0, {0xBD}).audio(second, Counting(1500, 2), 0x9000);
            ps.padTo(2048);
            if (withFirst) {
                ps.pack().audio(first, Counting(1500, 3), 0xA000);
                ps.padTo(2048);
            }
            ps.pack().audio(second, Counting(1500, 4), 0xA000);
            ps.padTo(2048);
        }
        return ps;
    };
    detect(save(disc(0x80, 0x81, true, 2), "FEATURE_1.EVO"));
    host.tick(BoxKind::Audio, 0, false);
    RunRebuild(engine, dir.path("FEATURE_1.EVO"));
    // No pack of 0x80 is left, and 0x81 is 0x80 now in every pack, system header or not.
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.rebuilt.EVO")), disc(0x80, 0x80, false, 1).bytes());
}

}  // namespace
}  // namespace strandis::test
