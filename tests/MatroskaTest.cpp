// The Matroska step around mkvmerge, with a stand-in mkvmerge (a shell script) that says what a
// real one would: its exit codes, a stop during the mux, and a stop left over from the
// detection's fast check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "common/RunError.h"
#include "engine/Detection.h"
#include "matroska/MatroskaRun.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

namespace fs = std::filesystem;

class MatroskaTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;

    // A stand-in that writes its -o file, reports progress and exits with `code`; with `slow`
    // it keeps reporting for seconds.
    std::string standIn(int code, bool slow = false) {
        const std::string path = dir.path("mkvmerge");
        std::ofstream script(path);
        script << "#!/bin/sh\n"
               << "while [ \"$1\" != -o ]; do shift; done\n"
               << "echo 'Error: not a real muxer' > \"$2\"\n"
               << "echo '#GUI#progress 10%'\n"
               << (slow ? "for i in 1 2 3 4 5 6 7 8 9 10; do echo '#GUI#progress 20%'; sleep 1; "
                          "done\n"
                        : "")
               << (code == 2   ? "echo 'Error: The file could not be read.'\n"
                   : code == 1 ? "echo 'Warning: something odd.'\n"
                               : "")
               << "echo '#GUI#progress 100%'\n"
               << "exit " << code << "\n";
        script.close();
        ::chmod(path.c_str(), 0755);
        return path;
    }
    void detect() {
        PsBuilder ps;
        ps.pack().video(0xE0, Counting(100), 0x1000).audio(0x80, Counting(100), 0x1000).padTo();
        ps.save(dir.path("FEATURE_1.EVO"));
        host.source = dir.path("FEATURE_1.EVO");
        detected = RunDetection(engine, host.source);
        host.takeBoxes(detected.boxes);
        host.lines.clear();
    }
    std::vector<std::string> leftovers() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.root()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(MatroskaTest, SuccessRenamesThePartialFileAndRemovesTheStreams) {
    detect();
    engine.StopFlag = 1;  // as the detection's fast check leaves it
    MatroskaRequest request;
    request.mkvmerge = standIn(1);
    const MatroskaOutcome made = RunMatroska(engine, detected, host.source, request);
    EXPECT_EQ(made.output, dir.path("FEATURE_1.mkv"));
    EXPECT_EQ(made.mkvmergeExitCode, 1);
    EXPECT_EQ(made.tracks.size(), 2u);
    EXPECT_EQ(leftovers(),
              (std::vector<std::string>{"FEATURE_1.EVO", "FEATURE_1.mkv", "mkvmerge"}));
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), "mkvmerge: Warning: something odd."),
              host.lines.end());
    EXPECT_NE(
        std::find(host.lines.begin(), host.lines.end(), "mkvmerge finished with warnings (above)."),
        host.lines.end());
    // Its progress became ours.
    EXPECT_NE(std::find(host.status.begin(), host.status.end(),
                        std::pair<int, std::string>{1, "Muxing 100 %"}),
              host.status.end());
}

TEST_F(MatroskaTest, AnErrorOrAStopLeavesNoMkvAndKeepsTheStreams) {
    detect();
    MatroskaRequest request;
    request.mkvmerge = standIn(2);
    try {
        RunMatroska(engine, detected, host.source, request);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "mkvmerge failed: The file could not be read.");
    }
    std::vector<std::string> left = leftovers();
    ASSERT_EQ(left.size(), 3u);  // the source, the stand-in and the kept folder
    EXPECT_EQ(left[0].rfind(".strandis-FEATURE_1-", 0), 0u);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "The demultiplexed streams stay in " + dir.path(left[0])),
              host.lines.end());
    fs::remove_all(dir.path(left[0]));

    // A folder that takes no files, even from root: refused before anything is written.
    request.output = "/proc/strandis-test.mkv";
    try {
        RunMatroska(engine, detected, host.source, request);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Cannot create a folder in \"/proc\".", 0), 0u)
            << error.what();
    }
    EXPECT_FALSE(fs::exists(request.output));
    request.output.clear();

    // Cancel during the mux: the stand-in is stopped at once, nothing under the final name.
    request.mkvmerge = standIn(0, true);
    host.onPendingEvents = [this] {
        if (std::any_of(host.status.begin(), host.status.end(),
                        [](const auto& s) { return s.second == "Muxing 10 %"; }))
            engine.StopFlag = 1;
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(RunMatroska(engine, detected, host.source, request), RunError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    left = leftovers();
    EXPECT_EQ(std::count_if(
                  left.begin(), left.end(),
                  [](const std::string& name) { return name.find(".mkv") != std::string::npos; }),
              0);
}

}  // namespace
}  // namespace strandis::test
