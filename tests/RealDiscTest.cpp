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

// A DVD subpicture unit of `size` bytes: its size field, then counting bytes.
Bytes Unit(std::size_t size, std::uint8_t seed) {
    Bytes unit = Counting(size, seed);
    unit[0] = static_cast<std::uint8_t>(size >> 8);
    unit[1] = static_cast<std::uint8_t>(size);
    return unit;
}

class RealDiscTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;

    std::string save(const PsBuilder& ps, const std::string& name) {
        ps.save(dir.path(name));
        return dir.path(name);
    }
    Detected detect(const std::string& source) {
        host.source = source;
        detected = RunDetection(engine, source);
        host.takeBoxes(detected.boxes);
        return detected;
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
    RunDemux(engine, detected, source);
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
        EXPECT_EQ(host.lines[6],
                  "   Sampling frequency = [bl]" + std::string(c.rate) + "[/bl] kHz");
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
    const Detected result = detect(save(ps, "FEATURE_1.EVO"));
    EXPECT_EQ(std::vector<std::string>(host.lines.begin() + 2, host.lines.begin() + 6),
              (std::vector<std::string>{"[b]DTS HD (DTS)[/b] audio stream 8 found!",
                                        "[b]Dolby Digital[/b] audio stream 2 found!",
                                        "[b]Dolby Digital[/b] Plus audio stream 3 found!",
                                        "[b]DTS HD (DTS)[/b] audio stream 11 found!"}));
    EXPECT_EQ(result.boxes.audio[8].caption, "DTSHD.stream.08");
    EXPECT_EQ(result.boxes.audio[11].caption, "DTSHD.stream.11");
    EXPECT_EQ(result.boxes.audio[2].caption, "DD.stream.02");
    EXPECT_EQ(result.boxes.audio[3].caption, "DD+.stream.03");

    RunDemux(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(demuxed("FEATURE_1.DTSHD.stream.08.mpa"), dts);
    EXPECT_EQ(demuxed("FEATURE_1.DTSHD.stream.11.mpa"), dts);
    EXPECT_EQ(demuxed("FEATURE_1.DD.stream.02.mpa"), ac3);

    // The rebuild numbers them in order of appearance, each within its codec's ids.
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.rebuilt.EVO")), disc({0x88, 0xC1, 0xC2, 0x8B}).bytes());
}

TEST_F(RealDiscTest, AStreamWhoseSlotIsTakenTakesTheLastFreeOne) {
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
    const Detected found = detect(save(ps, "FEATURE_1.EVO"));
    EXPECT_EQ(std::vector<std::string>(host.lines.begin() + 2, host.lines.end() - 2),
              (std::vector<std::string>{
                  "[b]Dolby Digital[/b] audio stream 0 found!",
                  "[b]DTS HD (DTS)[/b] audio stream 0x88 takes slot 15: its own holds 0x80",
                  "[b]DTS HD (DTS)[/b] audio stream 15 found!",
                  "[b]LPCM[/b] audio stream 0xA0 takes slot 14: its own holds 0x80",
                  "[b]LPCM[/b] audio stream 14 found!",
                  "[b]Subpicture[/b] stream 1 found!",
                  "[b]Extended subpicture[/b] stream 0x61 takes slot 15: its own holds 0x21",
                  "[b]Extended subpicture[/b] stream 15 found!",
              }));
    EXPECT_EQ(found.boxes.audio[15].caption, "DTSHD.stream.15");
    EXPECT_EQ(found.boxes.audio[14].caption, "LPCM.stream.14");

    // With every audio slot taken, a stream gets no box: named once.
    PsBuilder full;
    full.pack();
    for (std::uint8_t id = 0x80; id <= 0x87; ++id)
        full.audio(id, Counting(40), 0x9000);
    for (std::uint8_t id = 0xC8; id <= 0xCF; ++id)
        full.audio(id, Counting(40), 0x9000);
    full.audio(0x89, Counting(40), 0x9000).audio(0x89, Counting(40), 0xA000);
    host.lines.clear();
    detect(save(full, "FEATURE_1.EVO"));
    EXPECT_EQ(std::count(host.lines.begin(), host.lines.end(),
                         "[b]DTS HD (DTS)[/b] audio stream 0x89 not listed: its slot holds 0x81"),
              1);
}

TEST_F(RealDiscTest, PacksBehindSystemHeadersAreSelectedAndRenumberedByTheirOwnPacket) {
    const auto disc = [](std::uint8_t first, std::uint8_t second, bool withFirst, int audioBound) {
        PsBuilder ps;
        for (int round = 0; round < 2; ++round) {
            if (withFirst) {
                ps.pack()
                    .systemHeader(audioBound, 0, {0xBD})
                    .audio(first, Counting(1500, 1), 0x9000);
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
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    // No pack of 0x80 is left, and 0x81 is 0x80 now in every pack, system header or not.
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.rebuilt.EVO")), disc(0x80, 0x80, false, 1).bytes());
}

TEST_F(RealDiscTest, AStreamOfTheFirstFeatureFileAloneKeepsItsBoxAndDemuxesWhole) {
    const Bytes sub1 = Unit(300, 1), sub2 = Unit(300, 2);
    const Bytes ac3a = Counting(500, 3), dtsb = Counting(500, 5);
    PsBuilder first, second;
    first.pack()
        .video(0xE0, Counting(100, 6), 0x9000)
        .audio(0x80, ac3a, 0x9000)
        .subpicture(0x21, sub1, 0xA000)
        .subpicture(0x21, sub2, 0xB000);
    // The second file: the same video, DTS where the first has nothing, and DTS 0x88 in the
    // slot of the first file's Dolby Digital.
    second.pack()
        .video(0xE0, Counting(100, 7), 0x20000)
        .audio(0x8A, dtsb, 0x20000)
        .audio(0x88, Counting(50, 8), 0x20000);
    save(first, "FEATURE_1.EVO");
    save(second, "FEATURE_2.EVO");
    host.set(Option::Details, false);
    host.folder = dir.path("");
    const Detected result = detect(dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(result.boxes.sub[1].caption, "Subpicture.01");
    EXPECT_EQ(result.boxes.audio[0].caption, "DD.stream.00");
    EXPECT_EQ(result.boxes.audio[2].caption, "DTSHD.stream.02");
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "[b]DTS HD (DTS)[/b] audio stream 0x88 of FEATURE_2.EVO takes slot 15: its "
                        "own holds 0x80"),
              host.lines.end());
    EXPECT_EQ(result.boxes.audio[15].caption, "DTSHD.stream.15");

    RunDemux(engine, detected, dir.path("FEATURE_1.EVO"));
    const auto records = WalkSup(demuxed("FEATURE_1_FEATURE_2.Subpicture.01.sup"));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].second, sub1);
    EXPECT_EQ(records[1].second, sub2);
    // Slot 0 holds the first file's Dolby Digital in both files, never the second's DTS 0x88,
    // which has a box of its own.
    EXPECT_EQ(demuxed("FEATURE_1_FEATURE_2.DD.stream.00.mpa"), ac3a);
    EXPECT_EQ(demuxed("FEATURE_1_FEATURE_2.DTSHD.stream.02.mpa"), dtsb);
    EXPECT_EQ(demuxed("FEATURE_1_FEATURE_2.DTSHD.stream.15.mpa"), Counting(50, 8));

    // The rebuild keeps both files' streams with the same numbers.
    host.tick(BoxKind::Sub, 1, false);
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    const Bytes rebuilt = LoadFile(dir.path("FEATURE_1_FEATURE_2.rebuilt.EVO"));
    EXPECT_EQ(rebuilt.size(), first.size() + second.size());  // one packet a pack: none dropped
}

TEST_F(RealDiscTest, ADvdTitleSetIsReadPartAfterPartIntoOneSetOfOutputs) {
    const Bytes a = Counting(700, 1), b = Counting(700, 2), c = Counting(700, 3);
    int part = 1;
    for (const Bytes* es : {&a, &b, &c}) {
        PsBuilder ps;
        ps.pack().video(0xE0, *es, 0x9000u * part);
        save(ps, "VTS_01_" + std::to_string(part++) + ".VOB");
    }
    PsBuilder other;  // another title set: never read
    other.pack().video(0xE0, Counting(700, 4), 0x9000);
    save(other, "VTS_11_1.VOB");
    host.set(Option::Details, false);
    host.folder = dir.path("");
    const Detected result = detect(dir.path("VTS_01_1.VOB"));
    EXPECT_EQ(result.files.size(), 3u);
    EXPECT_EQ(result.outputBase, "VTS_01_1_VTS_01_3");
    RunDemux(engine, detected, dir.path("VTS_01_1.VOB"));
    EXPECT_EQ(demuxed("VTS_01_1_VTS_01_3.MPEG-2.stream.0.mpv"), Cat({a, b, c}));
}

TEST_F(RealDiscTest, SubpictureTimesKeepRisingWhenTheSecondFilesClockRestarts) {
    // The first file runs from 1:00:00 (324,000,000) for 10 frames of 3,600; the second starts
    // its clock again at 1:00:00.
    const std::uint64_t start = 324000000;
    const auto feature = [&](std::uint8_t seed) {
        PsBuilder ps;
        for (int k = 0; k < 10; ++k) {
            ps.pack().video(0xE0, Counting(200, seed), start + 3600u * k);
            if (k == 2) ps.subpicture(0x20, Unit(100, seed), start + 3600u * k);
            if (k == 8) ps.subpicture(0x20, Unit(100, seed + 1), start + 3600u * k);
        }
        return ps;
    };
    save(feature(1), "FEATURE_1.EVO");
    save(feature(3), "FEATURE_2.EVO");
    host.set(Option::Details, false);
    host.folder = dir.path("");
    detect(dir.path("FEATURE_1.EVO"));
    host.lines.clear();
    RunDemux(engine, detected, dir.path("FEATURE_1.EVO"));
    const auto records = WalkSup(demuxed("FEATURE_1_FEATURE_2.Subpicture.00.sup"));
    ASSERT_EQ(records.size(), 4u);
    // The second file's times go on from the first's last frame (9 × 3,600) plus one frame.
    const std::vector<std::uint32_t> times{2 * 3600, 8 * 3600, 10 * 3600 + 2 * 3600,
                                           10 * 3600 + 8 * 3600};
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(records[k].first, times[k]) << k;
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Time stamps restart in FEATURE_2.EVO: its subpicture times are moved on "
                        "by 36000 (0.400 s)"),
              host.lines.end());

    // A clock that runs on is left alone.
    PsBuilder later;
    later.pack()
        .video(0xE0, Counting(200, 5), start + 36000)
        .subpicture(0x20, Unit(100, 6), start + 36000);
    save(later, "FEATURE_2.EVO");
    detect(dir.path("FEATURE_1.EVO"));
    host.lines.clear();
    RunDemux(engine, detected, dir.path("FEATURE_1.EVO"));
    const auto onward = WalkSup(demuxed("FEATURE_1_FEATURE_2.Subpicture.00.sup"));
    ASSERT_EQ(onward.size(), 3u);
    EXPECT_EQ(onward[2].first, 36000u);
    for (const std::string& line : host.lines)
        EXPECT_EQ(line.find("restart"), std::string::npos) << line;
}

}  // namespace
}  // namespace strandis::test
