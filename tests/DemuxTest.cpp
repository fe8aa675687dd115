#include <gtest/gtest.h>

#include <filesystem>

#include "common/RunError.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

namespace fs = std::filesystem;

class DemuxTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;

    std::string save(const PsBuilder& ps, const std::string& name = "FEATURE_1.EVO") {
        ps.save(dir.path(name));
        return dir.path(name);
    }
    // "Read EVO", then "Demux" with the boxes as the detection left them.
    RunOutcome detectAndDemux(const std::string& source) {
        host.source = source;
        detected = RunDetection(engine, source);
        host.takeBoxes(detected.boxes);
        host.lines.clear();
        return RunDemux(engine, detected, source);
    }
    Bytes out(const std::string& name) { return LoadFile(dir.path("out/" + name)); }
    void useOutputFolder() {
        fs::create_directory(dir.path("out"));
        host.folder = dir.path("out");
    }
};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(DemuxTest, EachKindLosesItsHeaderBytesAndNothingElse) {
    const Bytes ac3a = Counting(2012, 1), ac3b = Counting(2012, 2);
    const Bytes lpcm = Counting(2009, 3), truehd = Counting(2011, 4), dts = Counting(2012, 5),
                ddp = Counting(700, 6);
    const Bytes mpeg = Counting(3000, 7), vc1a = Counting(1000, 8), vc1b = Counting(900, 9);
    PsBuilder ps;
    ps.pack()
        .audio(0x80, ac3a, 0x1000)  // 2,016-byte PES payloads
        .audio(0xA1, lpcm, 0x1000)
        .audio(0xB2, truehd, 0x1000)
        .audio(0x8B, dts, 0x1000)
        .audio(0xC4, ddp)
        .video(0xE1, mpeg, 0x2000, 0x1F00)
        .pes(0xFD, {.pts = 0x2100, .pstd = true, .streamIdExtension = 0x55}, vc1a)
        .audio(0x80, ac3b)
        .pes(0xFD, {.pts = 0x2200, .streamIdExtension = 0x55, .stuffing = 3}, vc1b);
    useOutputFolder();
    const RunOutcome outcome = detectAndDemux(save(ps));

    EXPECT_EQ(out("FEATURE_1.DD.stream.00.mpa"), Cat({ac3a, ac3b}));
    EXPECT_EQ(out("FEATURE_1.LPCM.stream.01.mpa"), lpcm);
    EXPECT_EQ(out("FEATURE_1.MLP.stream.02.mpa"), truehd);
    EXPECT_EQ(out("FEATURE_1.DTSHD.stream.03.mpa"), dts);
    EXPECT_EQ(out("FEATURE_1.DD+.stream.04.mpa"), ddp);
    EXPECT_EQ(out("FEATURE_1.VC-1.stream.0.mpv"), Cat({vc1a, vc1b}));
    EXPECT_EQ(out("FEATURE_1.MPEG-2.stream.1.mpv"), mpeg);
    ASSERT_EQ(outcome.files.size(), 7u);
    EXPECT_EQ(outcome.files[0].path, dir.path("out/FEATURE_1.VC-1.stream.0.mpv"));
    EXPECT_EQ(outcome.files[0].size, 1900);

    const std::vector<std::string> log{
        "Opening file FEATURE_1.EVO",
        "File size: 0 Mbytes.",
        "Creating " + dir.path("out/FEATURE_1.VC-1.stream.0.mpv"),
        "Creating " + dir.path("out/FEATURE_1.MPEG-2.stream.1.mpv"),
        "Creating " + dir.path("out/FEATURE_1.DD.stream.00.mpa"),
        "Creating " + dir.path("out/FEATURE_1.LPCM.stream.01.mpa"),
        "Creating " + dir.path("out/FEATURE_1.MLP.stream.02.mpa"),
        "Creating " + dir.path("out/FEATURE_1.DTSHD.stream.03.mpa"),
        "Creating " + dir.path("out/FEATURE_1.DD+.stream.04.mpa"),
        // Each stream's start against the earliest (the audio's 0x1000); DD+ has no time stamp.
        "VC-1.stream.0",
        "   Delay = 48 ms",
        "MPEG-2.stream.1",
        "   Delay = 46 ms",
        "DD.stream.00",
        "   Delay = 0 ms",
        "LPCM.stream.01",
        "   Delay = 0 ms",
        "MLP.stream.02",
        "   Delay = 0 ms",
        "DTSHD.stream.03",
        "   Delay = 0 ms",
        "Done.",
        "",
    };
    EXPECT_EQ(host.lines, log);
}

TEST_F(DemuxTest, OnlyTickedBoxesGetFilesAndTheFolderDefaultsToTheSources) {
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(100)).audio(0x83, Counting(50)).audio(0x81, Counting(60));
    const std::string source = save(ps);
    host.source = source;
    const Detected detected = RunDetection(engine, source);
    host.takeBoxes(detected.boxes);
    host.untickAll();
    host.tick(BoxKind::Audio, 3, true);
    host.extensions[1] = "ac3";
    host.lines.clear();
    const RunOutcome outcome =
        RunDemux(engine, detected, source);  // no output folder: beside the source
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0].path, dir.path("FEATURE_1.DD.stream.03.ac3"));
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.DD.stream.03.ac3")), Counting(50));
    EXPECT_EQ(host.lines[2], "Creating " + dir.path("FEATURE_1.DD.stream.03.ac3"));
    EXPECT_FALSE(fs::exists(dir.path("FEATURE_1.DD.stream.01.ac3")));

    // A label with a "/" stays inside the folder.
    host.captions[2 + 3] = "../DD.stream.03/x";
    RunDemux(engine, detected, source);
    EXPECT_TRUE(fs::exists(dir.path("FEATURE_1..._DD.stream.03_x.ac3")));
}

TEST_F(DemuxTest, SharedSlotsAndMpegAudioNeverMixIntoAnotherStreamsFile) {
    // Dolby Digital 0x80 and DTS 0x88 share audio slot 0 (DTS takes the last free one, 15);
    // MPEG audio 0xC0 has no slot of its own.
    const Bytes ac3a = Counting(500, 1), ac3b = Counting(400, 2);
    PsBuilder ps;
    ps.pack()
        .audio(0x80, ac3a, 0x100)
        .audio(0x88, Counting(300, 3), 0x100)
        .mpegAudio(0xC0, Counting(200, 4), 0x100)
        .audio(0x80, ac3b)
        .audio(0x88, Counting(300, 5));
    useOutputFolder();
    const RunOutcome outcome = detectAndDemux(save(ps));
    ASSERT_EQ(outcome.files.size(), 2u);
    EXPECT_EQ(out("FEATURE_1.DD.stream.00.mpa"), Cat({ac3a, ac3b}));
    EXPECT_EQ(out("FEATURE_1.DTSHD.stream.15.mpa"), Cat({Counting(300, 3), Counting(300, 5)}));
}

// A ".sup" record: "SP", the PTS relative to the time base (little-endian), 4 zero bytes.
Bytes Record(std::uint32_t pts, const Bytes& unit) {
    Bytes r{'S',
            'P',
            static_cast<std::uint8_t>(pts),
            static_cast<std::uint8_t>(pts >> 8),
            static_cast<std::uint8_t>(pts >> 16),
            static_cast<std::uint8_t>(pts >> 24),
            0,
            0,
            0,
            0};
    r.insert(r.end(), unit.begin(), unit.end());
    return r;
}

TEST_F(DemuxTest, SubpictureRecordsCarryTimesFromTheFirstAudioOrVideoTimeStamp) {
    host.set(Option::Details, false);  // the time base does not depend on it
    const Bytes unitA = Counting(300, 1), unitB = Counting(200, 2), unitC = Counting(100, 3);
    PsBuilder ps;
    ps.pack()
        .audio(0x80, Counting(100), 0x10000)  // the time base
        .subpicture(0x20, unitA, 0x12345)
        .subpicture(0x20, unitB, 0x10000);  // at the time base itself: relative time 0
    ps.raw(Bytes(262144 - 60 - ps.size(), 0xFF))
        .subpicture(0x20, unitC, 0x10001);  // across two blocks
    useOutputFolder();
    detectAndDemux(save(ps));
    EXPECT_EQ(detected.subpictureBase, 0x10000u);
    const Bytes sup = out("FEATURE_1.Subpicture.00.sup");
    const Bytes first(sup.begin(), sup.begin() + 10);
    EXPECT_EQ(first, (Bytes{0x53, 0x50, 0x45, 0x23, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sup, Cat({Record(0x2345, unitA), Record(0, unitB), Record(1, unitC)}));
}

Bytes DvdUnit(std::size_t size, std::uint8_t seed) {
    Bytes unit = Counting(size, seed);
    unit[0] = static_cast<std::uint8_t>(size >> 8), unit[1] = static_cast<std::uint8_t>(size);
    return unit;
}

Bytes HdUnit(std::size_t size, std::uint8_t seed) {
    Bytes unit = Counting(size, seed);
    unit[0] = unit[1] = 0;
    for (int k = 0; k < 4; ++k)
        unit[2 + k] = static_cast<std::uint8_t>(size >> (24 - 8 * k));
    return unit;
}

TEST_F(DemuxTest, SupReadersFindEveryUnitWholeWithItsOwnTime) {
    // Units of several packets, interleaved with video and audio packets that carry their own
    // time stamps, some of them in the middle of a unit.
    const std::vector<std::pair<std::uint32_t, Bytes>> dvd{
        {0x20000, DvdUnit(5000, 1)}, {0x30000, DvdUnit(90, 2)}, {0x40000, DvdUnit(4100, 3)}};
    const std::vector<std::pair<std::uint32_t, Bytes>> hd{{0x25000, HdUnit(7000, 4)},
                                                          {0x35000, HdUnit(3000, 5)}};
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(500), 0x18000, 0x17000).audio(0x81, Counting(500), 0x19000);
    std::uint32_t clock = 0x20000;
    const auto packets = [&](std::uint8_t subId, const std::pair<std::uint32_t, Bytes>& unit) {
        for (std::size_t at = 0; at < unit.second.size(); at += 2000) {
            const Bytes piece(unit.second.begin() + static_cast<std::ptrdiff_t>(at),
                              unit.second.begin() + static_cast<std::ptrdiff_t>(
                                                        std::min(at + 2000, unit.second.size())));
            ps.subpicture(subId, piece,
                          at == 0 ? std::optional<std::uint64_t>(unit.first) : std::nullopt);
            clock += 3003;
            ps.video(0xE0, Counting(700), clock).audio(0x81, Counting(300), clock + 100);
            ps.mpegAudio(0xC0, Counting(100), clock + 7);
        }
    };
    for (std::size_t k = 0; k < 3; ++k) {
        packets(0x21, dvd[k]);
        if (k < hd.size()) packets(0x60, hd[k]);
    }
    useOutputFolder();
    detectAndDemux(save(ps));
    EXPECT_EQ(detected.subpictureBase, 0x18000u);
    const auto relative = [](std::vector<std::pair<std::uint32_t, Bytes>> units) {
        for (auto& unit : units)
            unit.first -= 0x18000;
        return units;
    };
    EXPECT_EQ(WalkSup(out("FEATURE_1.Subpicture.01.sup")), relative(dvd));
    EXPECT_EQ(WalkSup(out("FEATURE_1.Ext.Subpicture.00.sup")), relative(hd));
}

TEST_F(DemuxTest, TheSecondFeatureFileIsAppendedFirstFileFirst) {
    PsBuilder first, second;
    first.pack()
        .video(0xE0, Counting(100, 1), 0x5000)
        .audio(0x80, Counting(90, 2))
        .subpicture(0x20, DvdUnit(40, 3), 0x6000);
    second.pack()
        .video(0xE0, Counting(80, 4), 0x5000)
        .audio(0x80, Counting(70, 5))
        .subpicture(0x20, DvdUnit(30, 6), 0x7000);
    save(second, "FEATURE_2.EVO");
    useOutputFolder();
    const RunOutcome outcome = detectAndDemux(save(first));
    EXPECT_EQ(outcome.outputBase, "FEATURE_1_FEATURE_2");
    EXPECT_EQ(outcome.files.size(), 3u);
    EXPECT_EQ(out("FEATURE_1_FEATURE_2.MPEG-2.stream.0.mpv"),
              Cat({Counting(100, 1), Counting(80, 4)}));
    EXPECT_EQ(out("FEATURE_1_FEATURE_2.DD.stream.00.mpa"), Cat({Counting(90, 2), Counting(70, 5)}));
    EXPECT_EQ(out("FEATURE_1_FEATURE_2.Subpicture.00.sup"),
              Cat({Record(0x1000, DvdUnit(40, 3)), Record(0x2000, DvdUnit(30, 6))}));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), "Continue on FEATURE_2.EVO"),
              host.lines.end());
    EXPECT_EQ(host.lines.back(), "");
}

TEST_F(DemuxTest, TheSourceIsNeverAnOutput) {
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(100)).audio(0x80, Counting(50));
    const std::string source = save(ps);
    useOutputFolder();
    fs::create_symlink(source, dir.path("out/FEATURE_1.DD.stream.00.mpa"));
    try {
        detectAndDemux(source);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_NE(std::string(error.what()).find("It is the source file"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(LoadFile(source), ps.bytes());
    EXPECT_FALSE(fs::exists(dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv")));  // nothing was created
}

TEST_F(DemuxTest, AFullDiskEndsTheRunAndNamesTheIncompleteFiles) {
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(60000)).audio(0x80, Counting(50));
    const std::string source = save(ps);
    useOutputFolder();
    fs::create_symlink("/dev/full", dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv"));
    try {
        detectAndDemux(source);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot write file \"" +
                                                 dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv") +
                                                 "\". No space left on device");
    }
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Incomplete: " + dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv")),
              host.lines.end());
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Incomplete: " + dir.path("out/FEATURE_1.DD.stream.00.mpa")),
              host.lines.end());
    EXPECT_EQ(std::find(host.lines.begin(), host.lines.end(), "Done."), host.lines.end());
    EXPECT_FALSE(engine.SourceStream.isOpen());
    EXPECT_EQ(LoadFile(source), ps.bytes());
}

TEST(DemuxFrameCountLineTest, DurationsAt23976FramesASecond) {
    EXPECT_EQ(DemuxFrameCountLine(86400, 0), "86400 frames (1:00:03 s) count in video stream 0.");
    EXPECT_EQ(DemuxFrameCountLine(24, 1), "24 frames (0:00:01 s) count in video stream 1.");
}

// For a muxer, a stream cut mid-group starts at its sequence header, and its time at the first
// picture its group shows (the I-picture's time stamp less 2 pictures of 3,003 ticks); an AC-3
// stream starts at the first frame of a packet with a time stamp; a video that never has a
// sequence header is written whole.
TEST_F(DemuxTest, ForAMuxerEachFileStartsAtItsFirstWholeUnit) {
    const Bytes before = Cat({{0, 0, 1, 0, 0x01, 0x40}, Counting(40, 1)});  // a B-picture
    const Bytes tail = Counting(20, 2);
    const Bytes group = Cat({{0, 0, 1, 0xB3, 0x2D, 0x01, 0xE0, 0x24},  // 720x480, 29.97 fps
                             Counting(8, 3),
                             {0, 0, 1, 0xB8, 0, 0, 0, 0},
                             {0, 0, 1, 0x00, 0x00, 0x80},  // temporal_reference 2: an I-picture
                             Counting(50, 4)});
    const Bytes next = Counting(30, 5);
    const Bytes frame = Cat({{0x0B, 0x77, 0, 0, 0x14, 0x40}, Counting(60, 6)});
    const Bytes other = Counting(70, 7);
    PsBuilder ps;
    ps.pack()
        .video(0xE0, before, 0x3000)
        .audio(0x80, Counting(90, 8))  // the rest of a frame, without a time stamp
        .video(0xE0, Cat({tail, group}), 0x4000)
        .audio(0x80, Cat({Counting(33, 9), frame}), 0x3800)
        .video(0xE0, next)
        .video(0xE1, other, 0x2000);
    useOutputFolder();
    host.source = save(ps);
    detected = RunDetection(engine, host.source);
    host.takeBoxes(detected.boxes);
    host.lines.clear();
    const RunOutcome outcome = RunDemux(engine, detected, host.source, true);

    EXPECT_EQ(out("FEATURE_1.MPEG-2.stream.0.mpv"), Cat({group, next}));
    EXPECT_EQ(out("FEATURE_1.MPEG-2.stream.1.mpv"), other);
    EXPECT_EQ(out("FEATURE_1.DD.stream.00.mpa"), frame);
    std::map<std::string, double> delays;
    for (const StreamDelay& delay : outcome.delays)
        delays[delay.caption] = delay.milliseconds;
    const double videoStart = 0x4000 - 2 * 3003;
    EXPECT_DOUBLE_EQ(delays["MPEG-2.stream.1"], 0.0);
    EXPECT_DOUBLE_EQ(delays["MPEG-2.stream.0"], (videoStart - 0x2000) / 90.0);
    EXPECT_DOUBLE_EQ(delays["DD.stream.00"], (0x3800 - 0x2000) / 90.0);
    const auto logged = [&](const std::string& line) {
        return std::find(host.lines.begin(), host.lines.end(), line) != host.lines.end();
    };
    EXPECT_TRUE(logged("MPEG-2.stream.0: the " + std::to_string(before.size() + tail.size()) +
                       " bytes before its first sequence header are left out of the Matroska "
                       "file."));
    EXPECT_TRUE(logged(
        "DD.stream.00: the 123 bytes before its first whole frame are left out of the Matroska "
        "file."));
}

}  // namespace
}  // namespace strandis::test

namespace strandis::test {
namespace {

// Each stream's start against the earliest: the first time stamp written to its file (a video
// packet without one before it does not count), LPCM pulled earlier by the samples written
// before its first time stamp; subpictures from their time base.
TEST_F(DemuxTest, DelaysCountFromTheEarliestStartWritten) {
    PsBuilder ps;
    // 16-bit stereo at 48 kHz: 192 bytes before the first time stamp are 1 ms, 90 ticks.
    const Bytes header{0xA1, 0x01, 0x00, 0x00, 0x00, 0x01, 0x80};
    Bytes early = header;
    const Bytes samples = Counting(192);
    early.insert(early.end(), samples.begin(), samples.end());
    ps.pack()
        .video(0xE0, Counting(100, 1))  // no time stamp: mid-stream
        .private1(early)                // LPCM without a time stamp
        .audio(0x80, Counting(100, 2), 0x1000)
        .video(0xE0, Counting(100, 3), 0x2000)
        .audio(0xA1, Counting(96, 4), 0x1200)
        .subpicture(0x20, Counting(10, 5), 0x3000);
    useOutputFolder();
    const RunOutcome outcome = detectAndDemux(save(ps));
    std::map<std::string, double> delays;
    for (const StreamDelay& delay : outcome.delays)
        delays[delay.caption] = delay.milliseconds;
    EXPECT_EQ(delays.size(), 4u);
    EXPECT_DOUBLE_EQ(delays["DD.stream.00"], 0.0);
    EXPECT_DOUBLE_EQ(delays["MPEG-2.stream.0"], 0x1000 / 90.0);
    EXPECT_DOUBLE_EQ(delays["LPCM.stream.01"], (0x1200 - 90 - 0x1000) / 90.0);
    EXPECT_DOUBLE_EQ(delays["Subpicture.00"], 0.0);  // its captions count from 0x1000
    const auto at = std::find(host.lines.begin(), host.lines.end(), "MPEG-2.stream.0");
    ASSERT_NE(at, host.lines.end());
    EXPECT_EQ(*(at + 1), "   Delay = 46 ms");
}

}  // namespace
}  // namespace strandis::test
