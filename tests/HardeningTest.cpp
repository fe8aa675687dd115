// Sources that shrink, lie about their size or are no files at all, and counts past 32 bits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/RunError.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/XplRun.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

std::string ErrorOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const RunError& error) {
        return error.what();
    }
    return "no error";
}

// Cut inside the last page of the last block, between reading that block and scanning it: the
// kernel gives the rest of the page as zeros, and only the file's size tells.
TEST(HardeningTest, ASourceCutInsideItsLastPageIsReportedAsCutShort) {
    TempDir dir;
    constexpr std::size_t kSize = 4 * 1024 * 1024;  // the progress point falls on the last block
    PsBuilder ps;
    while (ps.size() + 2048 <= kSize)
        ps.pack().video(0xE0, Counting(2000, 1), 0x9000).padTo(2048);
    ASSERT_EQ(ps.size(), kSize);
    const std::string path = dir.path("FEATURE_1.EVO");
    ps.save(path);

    TestHost host;
    host.source = path;
    host.folder = dir.path("");
    Engine engine(host);
    Detected detected;
    detected = RunDetection(engine, path);
    host.takeBoxes(detected.boxes);
    host.lines.clear();
    host.onPendingEvents = [&] { ASSERT_EQ(::truncate(path.c_str(), kSize - 372), 0); };
    EXPECT_EQ(ErrorOf([&] { RunDemux(engine, detected, path); }),
              "Cannot read file \"" + path + "\". It ended after " + std::to_string(kSize - 372) +
                  " of " + std::to_string(kSize) + " bytes.");
    EXPECT_EQ(host.lines.back(), "Incomplete: " + dir.path("FEATURE_1.MPEG-2.stream.0.mpv"));
}

TEST(HardeningTest, FrameCountsGoPastTwoToTheThirtyFirst) {
    TempDir dir;
    PsBuilder ps;
    ps.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00});
    ps.save(dir.path("FEATURE_1.EVO"));
    TestHost host;
    host.source = dir.path("FEATURE_1.EVO");
    Engine engine(host);
    // The runs add up each pass's counts, 64 bits wide: past 2^31 a sum stays exact.
    static_assert(std::is_same_v<FrameCounts::value_type, std::int64_t>);
    engine.SourceStream.open(host.source);
    const ScanPass pass = CheckPass(engine);
    EXPECT_EQ(FrameCounts{0x7FFFFFFF - 1}[0] + pass.frames[0], 0x7FFFFFFFLL + 2);

    // 3,000,000,000 pictures at 24000/1001 a second are 125,125,000 s: 4:56:40 past whole days.
    EXPECT_EQ(FrameCountLine(3000000000LL, 0),
              "3000000000 frames ([b]4:56:40 s[/b]) count in video stream 0.");
    EXPECT_EQ(DemuxFrameCountLine(3000000000LL, 1).substr(0, 19), "3000000000 frames (");
    // Every count the 32-bit counters could hold reads as before.
    EXPECT_EQ(FrameCountLine(171000, 0),
              "171000 frames ([b]1:58:52 s[/b]) count in video stream 0.");
}

TEST(HardeningTest, PipesDevicesAndProcFilesAreRefusedAtOnce) {
    TempDir dir;
    const std::string fifo = dir.path("FEATURE_1.EVO");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TestHost host;
    Engine engine(host);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { RunDetection(engine, fifo); }),
              "Cannot open file \"" + fifo +
                  "\". It is not a regular file (a pipe, a device or a socket).");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(ErrorOf([&] { RunDetection(engine, "/dev/zero"); }),
              "Cannot open file \"/dev/zero\". It is not a regular file (a pipe, a device or a "
              "socket).");
    EXPECT_EQ(ErrorOf([&] { RunDetection(engine, "/proc/self/status"); }),
              "Cannot open file \"/proc/self/status\". Its size is not known (it says 0 bytes but "
              "holds data); copy it into a regular file first.");
    EXPECT_NE(ErrorOf([&] { RunDetection(engine, dir.root().string()); }).find("Is a directory"),
              std::string::npos);
    // An empty regular file is a file like any other: scanned, nothing found.
    SaveFile(dir.path("EMPTY.EVO"), {});
    EXPECT_EQ(ErrorOf([&] { RunDetection(engine, dir.path("EMPTY.EVO")); }), "no error");
}

TEST(HardeningTest, APlaylistCannotTakeMoreThanAFewTensOfMebibytes) {
    TempDir dir;
    TestHost host;
    Engine engine(host);
    playlist::AttributeLabels labels;

    // Larger than any playlist: refused before it is read.
    const std::string big = dir.path("BIG.XPL");
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(static_cast<std::streamoff>(kMaxPlaylistBytes));
        out.put('>');
    }
    EXPECT_EQ(ErrorOf([&] { RunXpl(engine, big, "", labels); }),
              "Cannot read file \"" + big + "\". It holds " +
                  std::to_string(kMaxPlaylistBytes + 1) +
                  " bytes, more than a playlist may (16 MiB).");

    // Too many tags.
    std::string many;
    for (int k = 0; k < 100001; ++k)
        many += "<a/>";
    SaveFile(dir.path("MANY.XPL"), Bytes(many.begin(), many.end()));
    EXPECT_EQ(ErrorOf([&] { RunXpl(engine, dir.path("MANY.XPL"), "", labels); }),
              "The playlist holds more than 100000 tags, more than any disc's playlist does.");

    // One huge tag, and elements nested a hundred thousand deep: each line stays short.
    std::string deep = "<Playlist displayName=\"" + std::string(10 << 20, 'x') + "\">";
    for (int k = 0; k < 50000; ++k)
        deep += "<a>";
    SaveFile(dir.path("DEEP.XPL"), Bytes(deep.begin(), deep.end()));
    const XplOutcome outcome = RunXpl(engine, dir.path("DEEP.XPL"), "", labels);
    ASSERT_EQ(outcome.lines.size(), 50001u);
    EXPECT_EQ(outcome.lines[0].size(), 16384u);
    EXPECT_EQ(outcome.lines.back(), std::string(64, ' ') + "<a>");
}

TEST(HardeningTest, AStoppedOrFailedRunNeverEndsLikeAWholeOne) {
    TempDir dir;
    PsBuilder ps;
    while (ps.size() < (9u << 20))
        ps.pack().audio(0x80, Counting(2000, 1), 0x9000).padTo(2048);
    const std::string path = dir.path("FEATURE_1.EVO");
    ps.save(path);
    TestHost host;
    host.source = path;
    Engine engine(host);
    Detected detected;
    detected = RunDetection(engine, path);
    host.takeBoxes(detected.boxes);

    // Cancelled: one line names the outputs as incomplete before "Done.".
    host.lines.clear();
    host.onPendingEvents = [&] { engine.StopFlag = 1; };
    const RunOutcome stopped = RunDemux(engine, detected, path);
    EXPECT_TRUE(stopped.stoppedEarly);
    ASSERT_GE(host.lines.size(), 3u);
    EXPECT_EQ(host.lines[host.lines.size() - 3],
              "Stopped before the end; these outputs are incomplete: " +
                  dir.path("FEATURE_1.DD.stream.00.mpa"));
    EXPECT_EQ(host.lines[host.lines.size() - 2], "Done.");

    // Beside the source, where the output cannot be made (here a folder has its name; on a
    // mounted disc the file system is read-only): the message says what to do.
    host.onPendingEvents = nullptr;
    std::filesystem::remove(dir.path("FEATURE_1.DD.stream.00.mpa"));
    std::filesystem::create_directory(dir.path("FEATURE_1.DD.stream.00.mpa"));
    const std::string error = ErrorOf([&] { RunDemux(engine, detected, path); });
    EXPECT_EQ(
        error.rfind("Cannot create file \"" + dir.path("FEATURE_1.DD.stream.00.mpa") + "\".", 0),
        0u)
        << error;
    EXPECT_NE(error.find("The outputs go beside the source, in \"" + dir.path("") +
                         "\": an output folder can be chosen on the Options page."),
              std::string::npos)
        << error;
    // With an output folder chosen, the message is the file system's alone.
    host.folder = dir.root().string();
    EXPECT_EQ(ErrorOf([&] { RunDemux(engine, detected, path); }).find("Options page"),
              std::string::npos);
}

}  // namespace
}  // namespace strandis::test
