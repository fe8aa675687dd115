// strandis-cli as a user meets it: arguments, exit codes, output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <filesystem>

#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/PsBuilder.h"
#include "tests/support/TestHost.h"

extern char** environ;

namespace strandis::test {
namespace {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliTest : public ::testing::Test {
protected:
    TempDir dir;

    // Runs the command; with `interruptAfterMs`, sends it SIGINT after that many milliseconds.
    CliResult run(std::vector<std::string> args, int interruptAfterMs = -1) {
        args.insert(args.begin(), STRANDIS_CLI);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const std::string out = dir.path("stdout"), err = dir.path("stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        CliResult result;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            if (interruptAfterMs >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
                kill(pid, SIGINT);
            }
            int status = 0;
            waitpid(pid, &status, 0);
            result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = ReadText(out);
        result.err = ReadText(err);
        return result;
    }
};

TEST_F(CliTest, ScanPrintsTheLogWithoutMarkUpWhenNotOnATerminal) {
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .audio(0x81, Counting(20), 0x2000)
        .subpicture(0x22, Counting(8));
    ps.save(dir.path("Movie [1].EVO"));
    const CliResult result = run({"scan", dir.path("Movie [1].EVO")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "Opening file Movie [1].EVO\n"
              "File size: 0 Mbytes.\n"
              "MPEG-2 video stream 0 found!\n"
              "   First PTS = 00000000\n"
              "   Stream id = E0\n"
              "Dolby Digital audio stream 1 found!\n"
              "   First PTS = 00002000\n"
              "   Stream id = 81\n"
              "Subpicture stream 2 found!\n"
              "   First PTS = 00000000\n"
              "   Stream id = 22\n"
              "Done.\n"
              "\n"
              "1 frames (0:00:00 s) count in video stream 0.\n"
              "\n");

    const CliResult coloured =
        run({"scan", "--color=always", "--no-details", "--no-count", dir.path("Movie [1].EVO")});
    EXPECT_NE(coloured.out.find("\x1b[1mMPEG-2\x1b[0m video stream 0 found!\n"), std::string::npos)
        << coloured.out;
    EXPECT_EQ(coloured.out.find("First PTS"), std::string::npos);
    EXPECT_EQ(coloured.out.find("frames"), std::string::npos);
}

TEST_F(CliTest, JsonReportListsStreamsFramesAndTheLog) {
    PsBuilder first, second;
    first.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00}).audio(0x80, Counting(20));
    second.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00})
        .audio(0x89, Counting(20))
        .subpicture(0x61, Counting(5));
    first.save(dir.path("FEATURE_1.EVO"));
    second.save(dir.path("FEATURE_2.EVO"));

    const CliResult result = run({"scan", "--json", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["files"],
              nlohmann::json({dir.path("FEATURE_1.EVO"), dir.path("FEATURE_2.EVO")}));
    EXPECT_EQ(report["size_bytes"], first.size());
    EXPECT_EQ(report["streams"], nlohmann::json::parse(R"([
        {"box": "v0", "kind": "video", "id": 224, "caption": "MPEG-2.stream.0"},
        {"box": "a1", "kind": "audio", "id": 137, "caption": "DTSHD.stream.01"},
        {"box": "s1", "kind": "subpicture", "id": 97, "caption": "Ext.Subpicture.01"}])"));
    EXPECT_EQ(report["frames"], nlohmann::json({2, 0}));
    EXPECT_EQ(report["stopped_early"], false);
    EXPECT_EQ(report["log"][0], "Opening file FEATURE_1.EVO");

    const auto alone = nlohmann::json::parse(
        run({"scan", "--json", "--no-continue", dir.path("FEATURE_1.EVO")}).out);
    EXPECT_EQ(alone["files"].size(), 1u);
    EXPECT_EQ(alone["streams"][1]["caption"], "DD.stream.00");
}

TEST_F(CliTest, BadFilesGiveAClearMessageOrACleanEmptyScan) {
    const CliResult missing = run({"scan", dir.path("nothing.EVO")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "Cannot open file \"" + dir.path("nothing.EVO") + "\". No such file or directory\n");

    const CliResult folder = run({"scan", dir.root().string()});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_NE(folder.err.find("Is a directory"), std::string::npos);

    SaveFile(dir.path("empty.EVO"), {});
    SaveFile(dir.path("one.EVO"), {0x00});
    Bytes noise(3 * 262144 + 77);
    std::mt19937 rng(7);
    for (auto& byte : noise)
        byte = static_cast<std::uint8_t>(rng());
    SaveFile(dir.path("noise.EVO"), noise);
    for (const char* name : {"empty.EVO", "one.EVO", "noise.EVO"}) {
        const CliResult result = run({"scan", "--no-details", dir.path(name)});
        EXPECT_EQ(result.exitCode, 0) << name << result.err;
        EXPECT_NE(result.out.find("Done.\n"), std::string::npos) << name;
    }
}

TEST_F(CliTest, CtrlCStopsTheScanAndExitsWith130) {
    // A sparse file of 16 GB of zeros takes seconds to read; the stop comes at the next 4 MiB.
    PsBuilder start;
    start.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00});
    start.save(dir.path("huge.EVO"));
    std::filesystem::resize_file(dir.path("huge.EVO"), 16ull << 30);
    const auto began = std::chrono::steady_clock::now();
    const CliResult result = run({"scan", "--full", "--json", dir.path("huge.EVO")}, 300);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(3));
    EXPECT_EQ(result.exitCode, 130) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["stopped_early"], true);
    EXPECT_EQ(report["frames"], nlohmann::json({0, 0}));
    EXPECT_EQ(report["streams"][0]["caption"], "MPEG-2.stream.0");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"scan"}).exitCode, 2);
    EXPECT_EQ(run({"scan", "--bogus", "x"}).exitCode, 2);
    EXPECT_EQ(run({"scan", "--color=sometimes", "x"}).exitCode, 2);
    const CliResult help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("scan"), std::string::npos);
}

}  // namespace
}  // namespace strandis::test
