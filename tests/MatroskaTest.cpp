// The Matroska step around mkvmerge, with a stand-in mkvmerge (a shell script) that says what a
// real one would: its exit codes, a stop during the mux, and a stop left over from the
// detection's fast check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>

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

    // A stand-in that speaks mkvmerge's GUI mode: it writes its -o file, reports progress and
    // exits with `code`, saying "#GUI#error" or "#GUI#warning" lines as mkvmerge does; with
    // `slow` it keeps reporting for seconds. Asked -J, it says the file is Matroska with
    // `tracks` tracks (none: not Matroska).
    std::string standIn(int code, bool slow = false, std::optional<int> tracks = 2) {
        const std::string path = dir.path("mkvmerge");
        std::ofstream script(path);
        script << "#!/bin/sh\n"
               << "if [ \"$1\" = -J ]; then\n"
               << (tracks ? "  printf '{\"container\":{\"type\":\"Matroska\",\"recognized\":true},"
                            "\"tracks\":[" +
                                std::string(*tracks > 0 ? "{}" : "") +
                                std::string(*tracks > 1 ? ",{}" : "") + "]}\\n'\n"
                          : "  echo '{\"container\":{\"recognized\":false}}'\n")
               << "  exit 0\nfi\n"
               << "while [ \"$1\" != -o ]; do shift; done\n"
               << "head -c 1000 /dev/zero > \"$2\"\n"
               << "echo '#GUI#progress 10%'\n"
               << (slow ? "for i in 1 2 3 4 5 6 7 8 9 10; do echo '#GUI#progress 20%'; sleep 1; "
                          "done\n"
                        : "")
               << (code == 2   ? "echo '#GUI#error The file could not be read.'\n"
                   : code == 1 ? "echo '#GUI#warning something odd.'\n"
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

TEST_F(MatroskaTest, AnErrorOrAStopLeavesNoMkvAndNoStreams) {
    detect();
    MatroskaRequest request;
    request.mkvmerge = standIn(2);
    try {
        RunMatroska(engine, detected, host.source, request);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_STREQ(error.what(), "mkvmerge failed: The file could not be read.");
    }
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "mkvmerge: Error: The file could not be read."),
              host.lines.end());
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"FEATURE_1.EVO", "mkvmerge"}));

    // Asked to keep the streams, the step keeps them and says where.
    request.keepWork = true;
    EXPECT_THROW(RunMatroska(engine, detected, host.source, request), RunError);
    std::vector<std::string> left = leftovers();
    ASSERT_EQ(left.size(), 3u);  // the source, the stand-in and the kept folder
    EXPECT_EQ(left[0].rfind(".strandis-FEATURE_1-", 0), 0u);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "The demultiplexed streams stay in " + dir.path(left[0])),
              host.lines.end());
    fs::remove_all(dir.path(left[0]));
    request.keepWork = false;

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

    // Cancel during the mux: the stand-in is stopped at once, nothing is left.
    request.mkvmerge = standIn(0, true);
    host.onPendingEvents = [this] {
        if (std::any_of(host.status.begin(), host.status.end(),
                        [](const auto& s) { return s.second == "Muxing 10 %"; }))
            engine.StopFlag = 1;
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(RunMatroska(engine, detected, host.source, request), RunError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"FEATURE_1.EVO", "mkvmerge"}));
}

// mkvmerge's zero exit is not taken on trust: a file that is not Matroska with the tracks asked
// for is not made the output.
TEST_F(MatroskaTest, AFileThatIsNotTheMatroskaFileAskedForIsRefused) {
    detect();
    MatroskaRequest request;
    for (const std::optional<int> tracks : {std::optional<int>(), std::optional<int>(1)}) {
        request.mkvmerge = standIn(0, false, tracks);
        try {
            RunMatroska(engine, detected, host.source, request);
            FAIL() << "no error";
        } catch (const RunError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "mkvmerge ended without an error, but \"" +
                          dir.path(".FEATURE_1.mkv.partial") + "\" is not " +
                          (tracks ? "the Matroska file of the 2 tracks asked for (it holds 1)."
                                  : "a Matroska file."));
        }
        EXPECT_EQ(leftovers(), (std::vector<std::string>{"FEATURE_1.EVO", "mkvmerge"}));
    }
}

// The output is not written through a link planted at the partial file's name, and a file that
// appears under the output's name during the mux is kept.
TEST_F(MatroskaTest, NothingIsWrittenThroughALinkOrOverAFileThatAppeared) {
    detect();
    MatroskaRequest request;
    request.mkvmerge = standIn(0);
    SaveFile(dir.path("precious"), Bytes{1, 2, 3});
    fs::create_symlink(dir.path("precious"), dir.path(".FEATURE_1.mkv.partial"));
    host.onPendingEvents = [this] {
        if (!fs::exists(dir.path("FEATURE_1.mkv"))) SaveFile(dir.path("FEATURE_1.mkv"), Bytes{9});
    };
    try {
        RunMatroska(engine, detected, host.source, request);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "\"" + dir.path("FEATURE_1.mkv") +
                      "\" appeared during the mux and is kept; the new Matroska file is \"" +
                      dir.path(".FEATURE_1.mkv.partial") + "\".");
    }
    EXPECT_EQ(LoadFile(dir.path("precious")), (Bytes{1, 2, 3}));
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.mkv")), Bytes{9});
    EXPECT_EQ(fs::file_size(dir.path(".FEATURE_1.mkv.partial")), 1000u);
}

// A relative output whose folder begins with "+", "=" or "@" reaches mkvmerge as a path.
TEST_F(MatroskaTest, OutputsThatLookLikeMkvmergeSyntaxArePassedAsPaths) {
    detect();
    const fs::path before = fs::current_path();
    fs::current_path(dir.root());
    for (const char* folder : {"+out", "=out", "@out"}) {
        fs::create_directory(dir.path(folder));
        MatroskaRequest request;
        request.mkvmerge = standIn(0);
        request.output = std::string(folder) + "/film.mkv";
        const MatroskaOutcome made = RunMatroska(engine, detected, host.source, request);
        for (const std::string& argument : made.command) {
            EXPECT_TRUE(argument.empty() || argument[0] == '/' || argument[0] == '-' ||
                        std::isdigit(static_cast<unsigned char>(argument[0])) != 0)
                << argument;
        }
        EXPECT_TRUE(fs::exists(dir.path(std::string(folder) + "/film.mkv")));
    }
    fs::current_path(before);
}
}  // namespace
}  // namespace strandis::test
