#include "engine/Detection.h"

#include <gtest/gtest.h>

#include "common/RunError.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

class DetectionTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};

    Detected run(const std::string& name) {
        host.source = dir.path(name);
        return RunDetection(engine, host.source);
    }
};

PsBuilder FourStreams() {
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00}, 0x1000)
        .audio(0x80, Counting(100), 0x1100)
        .audio(0x89, Counting(100), 0x1200)
        .subpicture(0x20, Counting(30), 0x1300)
        .subpicture(0x30, Counting(30), 0x1400);  // slot 16: no box
    return ps;
}

TEST_F(DetectionTest, BoxesAreEnabledTickedAndCaptionedFromTheInventory) {
    host.set(Option::Details, false);
    FourStreams().save(dir.path("VTS_01_1.VOB"));
    const Detected result = run("VTS_01_1.VOB");

    StreamBoxes expected;
    expected.video[0] = {true, true, "MPEG-2.stream.0"};
    expected.audio[0] = {true, true, "DD.stream.00"};
    expected.audio[1] = {true, true, "DTSHD.stream.01"};
    expected.sub[0] = {true, true, "Subpicture.00"};
    for (std::size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(result.boxes.video[k].enabled, expected.video[k].enabled) << k;
        EXPECT_EQ(result.boxes.video[k].caption, expected.video[k].caption) << k;
    }
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_EQ(result.boxes.audio[k].ticked, expected.audio[k].ticked) << k;
        EXPECT_EQ(result.boxes.audio[k].caption, expected.audio[k].caption) << k;
        EXPECT_EQ(result.boxes.sub[k].ticked, expected.sub[k].ticked) << k;
        EXPECT_EQ(result.boxes.sub[k].caption, expected.sub[k].caption) << k;
    }
    EXPECT_EQ(result.outputBase, "VTS_01_1");  // VTS_11_1.VOB does not exist
    EXPECT_FALSE(engine.SourceStream.isOpen());

    const std::vector<std::string> log{
        "Opening file [b]VTS_01_1.VOB[/b]",
        "File size: 0 Mbytes.",
        "[b]MPEG-2[/b] video stream 0 found!",
        "[b]Dolby Digital[/b] audio stream 0 found!",
        "[b]DTS HD (DTS)[/b] audio stream 1 found!",
        "[b]Subpicture[/b] stream 0 found!",
        "[b]Subpicture[/b] stream 16 found!",
        "Done.",
        "",
        "2 frames ([b]0:00:00 s[/b]) count in video stream 0.",
        "",
    };
    EXPECT_EQ(host.lines, log);
    const std::vector<std::pair<int, std::string>> status{
        {0, "Reading VTS_01_1.VOB "}, {0, "Ready"}, {1, ""}};
    EXPECT_EQ(host.status, status);
}

TEST_F(DetectionTest, TheSecondFeatureFileIsScannedAndNamesTheOutputs) {
    host.set(Option::Details, false);
    PsBuilder first, second;
    first.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00}).audio(0x80, Counting(10));
    second.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00})
        .audio(0xC1, Counting(10));
    first.save(dir.path("FEATURE_1.EVO"));
    second.save(dir.path("FEATURE_2.EVO"));

    const Detected result = run("FEATURE_1.EVO");
    EXPECT_EQ(result.outputBase, "FEATURE_1_FEATURE_2");
    EXPECT_EQ(result.files,
              (std::vector<std::string>{dir.path("FEATURE_1.EVO"), dir.path("FEATURE_2.EVO")}));
    // The boxes offer the streams of both files; the frames are counted over both.
    EXPECT_EQ(result.boxes.audio[0].caption, "DD.stream.00");
    EXPECT_EQ(result.boxes.audio[1].caption, "DD+.stream.01");
    EXPECT_EQ(result.frames, (FrameCounts{3, 0}));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), "Continue on FEATURE_2.EVO"),
              host.lines.end());
    EXPECT_EQ(host.status[1], (std::pair<int, std::string>{0, "Reading FEATURE_2.EVO"}));

    // Unticked: the first file alone.
    host.lines.clear();
    host.set(Option::Continue, false);
    const Detected alone = run("FEATURE_1.EVO");
    EXPECT_EQ(alone.outputBase, "FEATURE_1");
    EXPECT_EQ(alone.files.size(), 1u);
    EXPECT_EQ(alone.frames, (FrameCounts{1, 0}));
}

TEST_F(DetectionTest, ACancelledFirstScanReadsNoSecondFileAndCountsNothing) {
    PsBuilder first;
    first.video(0xE0, {0x00, 0x00, 0x01, 0x00}).audio(0x80, Counting(10)).padTo();
    first.raw(Bytes(8 * 1048576 - first.size(), 0xFF));
    first.save(dir.path("FEATURE_1.EVO"));
    PsBuilder().pack().audio(0x81, Counting(10)).save(dir.path("FEATURE_2.EVO"));
    host.onPendingEvents = [&] { engine.StopFlag = 1; };

    const Detected result = run("FEATURE_1.EVO");
    EXPECT_TRUE(result.stoppedEarly);
    EXPECT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.frames, (FrameCounts{0, 0}));
    EXPECT_TRUE(result.boxes.video[0].ticked);  // what was found so far
    EXPECT_EQ(std::find(host.lines.begin(), host.lines.end(), "Continue on FEATURE_2.EVO"),
              host.lines.end());
    EXPECT_EQ(host.lines.back(), "");
    EXPECT_EQ(host.lines[host.lines.size() - 2], "Done.");
}

TEST_F(DetectionTest, AFileThatCannotBeOpenedEndsTheRunWithItsName) {
    try {
        run("missing.EVO");
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + dir.path("missing.EVO") +
                                                 "\". No such file or directory");
    }
    EXPECT_EQ(host.lines, std::vector<std::string>{"Opening file [b]missing.EVO[/b]"});
    EXPECT_FALSE(engine.SourceStream.isOpen());
}

TEST(FrameCountLineTest, DurationsAt24000Over1001FramesASecond) {
    EXPECT_EQ(FrameCountLine(171000, 0),
              "171000 frames ([b]1:58:52 s[/b]) count in video stream 0.");
    EXPECT_EQ(FrameCountLine(86400, 1), "86400 frames ([b]1:00:03 s[/b]) count in video stream 1.");
    // 24 hours and more: the hours wrap.
    EXPECT_EQ(FrameCountLine(2071529, 0),
              "2071529 frames ([b]0:00:00 s[/b]) count in video stream 0.");
    EXPECT_EQ(FrameCountLine(2100000, 0),
              "2100000 frames ([b]0:19:47 s[/b]) count in video stream 0.");
}

}  // namespace
}  // namespace strandis::test
