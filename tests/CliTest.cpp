// strandis-cli as a user meets it: arguments, exit codes, output.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "testkit/PsBuilder.h"
#include "tests/support/CliRunner.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

class CliTest : public ::testing::Test {
protected:
    TempDir dir;

    // Runs the command; with `interruptAfterMs`, sends it SIGINT after that many milliseconds;
    // with `fileSizeLimit`, no file it writes may grow past that many bytes (a full disk).
    CliResult run(std::vector<std::string> args, int interruptAfterMs = -1,
                  rlim_t fileSizeLimit = RLIM_INFINITY) {
        return RunCli(std::move(args), dir.root().string(), {interruptAfterMs, fileSizeLimit});
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
              "   Format = 2bitRLE\n"
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
    first.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000).audio(0x80, Counting(20), 0x0F00);
    second.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .audio(0x89, Counting(20), 0x100002000)  // bit 32 set
        .subpicture(0x61, {0x00, 0x00, 0x00, 0x00, 0x00, 0x20}, 0x1000 + 90 * 1234567);
    first.save(dir.path("FEATURE_1.EVO"));
    second.save(dir.path("FEATURE_2.EVO"));

    const CliResult result = run({"scan", "--json", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["format_version"], 1);
    EXPECT_EQ(report["files"],
              nlohmann::json::array({
                  {{"path", dir.path("FEATURE_1.EVO")}, {"size_bytes", first.size()}},
                  {{"path", dir.path("FEATURE_2.EVO")}, {"size_bytes", second.size()}},
              }));
    EXPECT_EQ(report["size_bytes"], first.size());
    // Payloads too short to describe name their codec by their id; delays count from the video's
    // first time stamp (0x1000), taken from the first file that has the stream.
    EXPECT_EQ(report["streams"], nlohmann::json::parse(R"([
        {"box": "v0", "kind": "video", "id": 224, "id_hex": "0xE0", "caption": "MPEG-2.stream.0",
         "codec": "mpeg2video", "first_pts": 4096, "delay_ms": 0.0},
        {"box": "a0", "kind": "audio", "id": 128, "id_hex": "0x80", "caption": "DD.stream.00",
         "codec": "ac3", "first_pts": 3840, "delay_ms": -2.844},
        {"box": "a1", "kind": "audio", "id": 137, "id_hex": "0x89", "caption": "DTSHD.stream.01",
         "codec": "dts", "first_pts": 4294975488, "delay_ms": 47721904.356},
        {"box": "s1", "kind": "subpicture", "id": 97, "id_hex": "0x61",
         "caption": "Ext.Subpicture.01", "codec": "hddvd_subtitle", "subpicture_bits": 8,
         "first_pts": 111115126, "delay_ms": 1234567.0}])"));
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
    // Files in which no program stream is found end their scan, and say so with their own code.
    SaveFile(dir.path("text.VOB"), Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
    for (const char* name : {"empty.EVO", "one.EVO", "noise.EVO", "text.VOB"}) {
        const CliResult result = run({"scan", "--no-details", dir.path(name)});
        EXPECT_EQ(result.exitCode, 3) << name << result.err;
        EXPECT_NE(result.out.find("Done.\n"), std::string::npos) << name;
        EXPECT_EQ(result.err, "No program stream was recognised in \"" + dir.path(name) + "\".\n");
        EXPECT_EQ(run({"demux", dir.path(name)}).exitCode, 3) << name;
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

    // A demux stopped so says which outputs are incomplete. (The detection stops at its fast
    // check's limit long before the interrupt; the demux reads on.)
    const CliResult demux = run({"demux", dir.path("huge.EVO")}, 1500);
    EXPECT_EQ(demux.exitCode, 130) << demux.err;
    EXPECT_NE(demux.err.find("Interrupted: outputs are incomplete: " +
                             dir.path("huge.MPEG-2.stream.0.mpv")),
              std::string::npos)
        << demux.err;
}

PsBuilder ThreeStreams() {
    PsBuilder ps;
    ps.pack()
        .video(0xE0, Counting(30000, 1), 0x1000)
        .audio(0x80, Counting(20000, 2), 0x1000)
        .subpicture(0x20, Counting(50, 3), 0x2000)
        .padTo()
        .pack()
        .video(0xE0, Counting(30000, 4))
        .audio(0x80, Counting(20000, 5))
        .padTo();
    return ps;
}

TEST_F(CliTest, DemuxWritesTheChosenStreamsAndReportsThem) {
    const PsBuilder ps = ThreeStreams();
    ps.save(dir.path("FEATURE_1.EVO"));
    std::filesystem::create_directory(dir.path("out"));
    const CliResult result = run({"demux", "--json", "-o", dir.path("out"), "--streams", "a0,s0",
                                  "--audio-ext", "ac3", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    ASSERT_EQ(report["files"].size(), 2u);
    EXPECT_EQ(report["files"][0]["path"], dir.path("out/FEATURE_1.DD.stream.00.ac3"));
    EXPECT_EQ(report["files"][0]["size_bytes"], 40000);
    EXPECT_EQ(report["files"][1]["path"], dir.path("out/FEATURE_1.Subpicture.00.sup"));
    EXPECT_EQ(report["files"][1]["size_bytes"], 60);
    Bytes audio = Counting(20000, 2);
    const Bytes more = Counting(20000, 5);
    audio.insert(audio.end(), more.begin(), more.end());
    EXPECT_EQ(LoadFile(dir.path("out/FEATURE_1.DD.stream.00.ac3")), audio);
    EXPECT_FALSE(std::filesystem::exists(dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv")));

    // Without --streams every stream detected; without -o beside the source.
    const CliResult all = run({"demux", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_NE(all.out.find("Creating " + dir.path("FEATURE_1.MPEG-2.stream.0.mpv") + "\n"),
              std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(dir.path("FEATURE_1.MPEG-2.stream.0.mpv")), 60000u);
    EXPECT_NE(all.out.find("Done.\n"), std::string::npos);

    const CliResult unknown = run({"demux", "--streams", "a0,a5", dir.path("FEATURE_1.EVO")});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("a5"), std::string::npos);
    EXPECT_EQ(run({"demux", "--streams", "x9", dir.path("FEATURE_1.EVO")}).exitCode, 2);
}

TEST_F(CliTest, RebuildWritesTheCopyWithoutTheLeftOutStreams) {
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(1000), 0x1000).padTo();
    ps.pack().audio(0x80, Counting(1000), 0x1000).padTo();
    ps.pack().subpicture(0x20, Counting(1000), 0x1000).padTo();
    ps.pack().audio(0x80, Counting(1000)).padTo();
    ps.save(dir.path("FEATURE_1.EVO"));
    const CliResult result =
        run({"rebuild", "--json", "--streams", "v0,s0", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto report = nlohmann::json::parse(result.out);
    EXPECT_EQ(report["files"][0]["path"], dir.path("FEATURE_1.rebuilt.EVO"));
    EXPECT_EQ(report["files"][0]["size_bytes"], 2 * 2048);  // the audio packs are gone
    const Bytes rebuilt = LoadFile(dir.path("FEATURE_1.rebuilt.EVO"));
    const Bytes source = ps.bytes();
    EXPECT_TRUE(std::equal(rebuilt.begin(), rebuilt.begin() + 2048, source.begin()));
    EXPECT_TRUE(std::equal(rebuilt.begin() + 2048, rebuilt.end(), source.begin() + 4096,
                           source.begin() + 6144));
}

// With --playlist the title that plays the source ticks its tracks: a stream it leaves out
// leaves the copy; "+KEY" and "-KEY" change that choice.
// The JSON error names the file whole, whatever its name holds.
TEST_F(CliTest, TheJsonErrorNamesAFileWithAQuoteWhole) {
    const std::string missing = dir.path("say \"cheese\".EVO");
    const CliResult result = run({"demux", "--json", missing});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(result.out)["error"]["path"], missing);
}

TEST_F(CliTest, RebuildWithAPlaylistKeepsTheTitlesTracks) {
    PsBuilder ps;
    ps.pack().video(0xE0, Counting(1000), 0x1000).padTo();
    ps.pack().audio(0x80, Counting(1000), 0x1000).padTo();
    ps.pack().audio(0x81, Counting(1000), 0x1000).padTo();
    ps.save(dir.path("FEATURE_1.EVO"));
    const std::string playlist = R"(<Playlist><VideoAttributeItem index="1" codec="MPEG-2"/>
<AudioAttributeItem index="1" codec="DD" channels="2"/>
<Title displayName="Film"><Clip src="FEATURE_1.MAP"/><Video track="1" mediaAttr="1"/>
<Audio streamNumber="1" mediaAttr="1" description="English"/></Title></Playlist>)";
    SaveFile(dir.path("VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    const auto size = [&](const std::string& streams) {
        std::vector<std::string> args{"rebuild", "-q", "--playlist", dir.path("VPLST000.XPL")};
        if (!streams.empty()) args.insert(args.end(), {"--streams", streams});
        args.push_back(dir.path("FEATURE_1.EVO"));
        const CliResult result = run(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return std::filesystem::file_size(dir.path("FEATURE_1.rebuilt.EVO"));
    };
    EXPECT_EQ(size(""), 2u * 2048);     // video and 0x80, not 0x81
    EXPECT_EQ(size("+a1"), 3u * 2048);  // 0x81 added
    EXPECT_EQ(size("-v0,+a1"), 2u * 2048);
    EXPECT_EQ(size("a1"), 1u * 2048);  // plain keys choose alone
}

TEST_F(CliTest, AFullDiskIsAClearFailureAndTheSourceStaysWhole) {
    const PsBuilder ps = ThreeStreams();
    ps.save(dir.path("FEATURE_1.EVO"));
    std::filesystem::create_directory(dir.path("out"));
    const CliResult result =
        run({"demux", "-o", dir.path("out"), dir.path("FEATURE_1.EVO")}, -1, 50000);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "Cannot write file \"" + dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv") +
                              "\". File too large\n");
    EXPECT_NE(result.out.find("Incomplete: " + dir.path("out/FEATURE_1.MPEG-2.stream.0.mpv")),
              std::string::npos);
    EXPECT_EQ(result.out.find("Done."), result.out.rfind("Done."));  // only the detection's
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.EVO")), ps.bytes());

    const CliResult rebuild =
        run({"rebuild", "-o", dir.path("out"), dir.path("FEATURE_1.EVO")}, -1, 3000);
    EXPECT_EQ(rebuild.exitCode, 1);
    EXPECT_NE(rebuild.err.find("File too large"), std::string::npos);
    EXPECT_NE(rebuild.out.find("Incomplete: " + dir.path("out/FEATURE_1.rebuilt.EVO")),
              std::string::npos);
}

TEST_F(CliTest, XplListsTheTitleOfTheSourceAsLinesTreeAndBoxes) {
    const std::string playlist = R"(<Playlist displayName="Disc">
<AudioAttributeItem index="1" codec="DD+" channels="6"/>
<Title displayName="Film" titleDuration="01:00:00:00"><Clip src="FEATURE_1.MAP"/>
<Audio streamNumber="2" mediaAttr="1" description="English"/>
<Chapter titleTimeBegin="00:00:00:00" displayName="Chapter 1"/></Title></Playlist>)";
    SaveFile(dir.path("VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    const CliResult json = run(
        {"xpl", "--json", "--source", "/disc/HVDVD_TS/FEATURE_1.EVO", dir.path("VPLST000.XPL")});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["title"]["name"], "Film");
    EXPECT_EQ(parsed["title"]["chapters"],
              nlohmann::json::parse(R"([{"start_ms": 0.0, "name": "Chapter 1"}])"));
    parsed.erase("title");
    EXPECT_EQ(parsed, nlohmann::json::parse(R"({
        "format_version": 1,
        "lines": ["  <Title displayName=\"Film\" titleDuration=\"01:00:00:00\">", "    <Clip src=\"FEATURE_1.MAP\"/>",
                  "    <Audio streamNumber=\"2\" mediaAttr=\"1\" description=\"English\"/>",
                  "    <Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Chapter 1\"/>", "  </Title>"],
        "tree": {"Info": ["Title: Disc", "Name: Film", "Duration: 01:00:00:00"], "Video": [],
                 "Audio": ["DD+.6ch.stream.01.English"], "Subtitle": [], "Chapter": ["00:00:00:00: Chapter 1"]},
        "boxes": [{"box": "a1", "caption": "DD+.6ch.stream.01.English"}]})"));

    const CliResult text = run({"xpl", dir.path("VPLST000.XPL")});  // no source: the whole playlist
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), "<Playlist displayName=\"Disc\">");
    EXPECT_NE(text.out.find("\nInfo\nVideo\nAudio\nSubtitle\nChapter\n\nOpen VPLST000.XPL\n"),
              std::string::npos);
    EXPECT_EQ(run({"xpl", dir.path("none.XPL")}).exitCode, 1);
}

// With --json every command reports its error as one object on stdout, the message on stderr
// too, and exits with the error's code; a name that is not UTF-8 keeps the JSON valid.
TEST_F(CliTest, ErrorsAreJsonToo) {
    const std::string missing = dir.path("missing.EVO");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"scan", "--json", missing},
          {"demux", "--json", missing},
          {"rebuild", "--json", missing},
          {"xpl", "--json", dir.path("missing.XPL")}}) {
        const CliResult result = run(args);
        EXPECT_EQ(result.exitCode, 1) << args[0];
        const auto error = nlohmann::json::parse(result.out);
        EXPECT_EQ(error["format_version"], 1);
        const std::string message = error["error"]["message"];
        EXPECT_EQ(result.err, message + "\n");
        EXPECT_EQ(error["error"]["path"], args[0] == "xpl" ? dir.path("missing.XPL") : missing);
    }
    const CliResult usage = run({"scan", "--json", "--bogus", missing});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(nlohmann::json::parse(usage.out).contains("error"));

    // A name with a byte that is not UTF-8: the stream is written, and the report says so.
    const std::string odd = dir.path("Film\xff.EVO");
    ThreeStreams().save(odd);
    const CliResult demux = run({"demux", "--json", "--streams", "a0", odd});
    ASSERT_EQ(demux.exitCode, 0) << demux.err;
    const auto report = nlohmann::json::parse(demux.out);
    EXPECT_EQ(report["files"][0]["path"], dir.path("Film\xef\xbf\xbd.DD.stream.00.mpa"));
    EXPECT_TRUE(std::filesystem::exists(dir.path("Film\xff.DD.stream.00.mpa")));
}

// What can be checked before reading the source is checked first: the output folder (made when
// its parent exists) and the stream keys (blanks after commas allowed).
TEST_F(CliTest, OutputFolderAndStreamKeysAreCheckedBeforeTheScan) {
    ThreeStreams().save(dir.path("FEATURE_1.EVO"));
    const CliResult noParent =
        run({"demux", "-o", dir.path("no/such/folder"), dir.path("FEATURE_1.EVO")});
    EXPECT_EQ(noParent.exitCode, 1);
    EXPECT_EQ(noParent.out, "");  // nothing was scanned
    EXPECT_EQ(noParent.err, "Cannot create the output folder \"" + dir.path("no/such/folder") +
                                "\": the folder it would be in does not exist.\n");
    SaveFile(dir.path("plain"), Bytes{1});
    EXPECT_EQ(run({"demux", "-o", dir.path("plain"), dir.path("FEATURE_1.EVO")}).exitCode, 1);

    const CliResult badKey = run({"demux", "--streams", "a0,b7", dir.path("FEATURE_1.EVO")});
    EXPECT_EQ(badKey.exitCode, 2);
    EXPECT_EQ(badKey.out, "");
    EXPECT_EQ(badKey.err, "--streams: \"b7\" is not a box key (v0-v1, a0-a15, s0-s15)\n");

    const CliResult made = run(
        {"demux", "-o", dir.path("made"), "--streams", "v0, a0 ,s0", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    for (const char* name : {"FEATURE_1.MPEG-2.stream.0.mpv", "FEATURE_1.DD.stream.00.mpa",
                             "FEATURE_1.Subpicture.00.sup"})
        EXPECT_TRUE(std::filesystem::exists(dir.path(std::string("made/") + name))) << name;
}

// Scripts and front ends: quiet runs, progress as JSON lines into a pipe, several files in one
// call (a feature's second file, named too, is not read twice).
TEST_F(CliTest, QuietProgressAndSeveralFiles) {
    PsBuilder first, second;
    first.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000).audio(0x80, Counting(20), 0x1000);
    while (first.size() < (9u << 20))
        first.pack().padding(2048 - 14 - 6);
    second.pack().video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000).audio(0x81, Counting(20), 0x1000);
    first.save(dir.path("FEATURE_1.EVO"));
    second.save(dir.path("FEATURE_2.EVO"));
    ThreeStreams().save(dir.path("other.EVO"));

    const CliResult quiet =
        run({"scan", "-q", "--progress=json", "--full", dir.path("FEATURE_1.EVO")});
    ASSERT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");
    std::istringstream lines(quiet.err);
    int steps = 0;
    for (std::string line; std::getline(lines, line); ++steps) {
        const auto step = nlohmann::json::parse(line);
        EXPECT_EQ(step["bytes_total"], first.size());
        EXPECT_LE(step["bytes_done"].get<std::int64_t>(), step["bytes_total"].get<std::int64_t>());
        EXPECT_GE(step["percent"].get<double>(), 0.0);
    }
    EXPECT_GE(steps, 2);

    const CliResult several = run({"scan", "--json", dir.path("FEATURE_1.EVO"),
                                   dir.path("FEATURE_2.EVO"), dir.path("other.EVO")});
    ASSERT_EQ(several.exitCode, 0) << several.err;
    const auto reports = nlohmann::json::parse(several.out);
    ASSERT_TRUE(reports.is_array());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0]["files"].size(), 2u);
    EXPECT_EQ(reports[1]["files"][0]["path"], dir.path("other.EVO"));
}

// Colour: a bare --color means always; "auto" is on for a terminal, unless NO_COLOR or
// TERM=dumb says otherwise. The help names the program, not the path it was started by.
TEST_F(CliTest, ColourAndTheUsageLine) {
    ThreeStreams().save(dir.path("FEATURE_1.EVO"));
    const std::string bold = "Opening file \x1b[1mFEATURE_1.EVO\x1b[0m";
    EXPECT_NE(run({"scan", "--color", dir.path("FEATURE_1.EVO")}).out.find(bold),
              std::string::npos);
    EXPECT_EQ(run({"scan", dir.path("FEATURE_1.EVO")}).out.find("\x1b["), std::string::npos);
    // On a terminal, through script(1).
    const auto onTerminal = [&](const std::string& environment) {
        const std::string command = environment + " script -qec '" + std::string(STRANDIS_CLI) +
                                    " scan " + dir.path("FEATURE_1.EVO") + "' /dev/null";
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                out.append(buffer, n);
            ::pclose(pipe);
        }
        return out;
    };
    if (std::system("command -v script >/dev/null 2>&1") == 0) {
        EXPECT_NE(onTerminal("TERM=xterm").find(bold), std::string::npos);
        EXPECT_EQ(onTerminal("NO_COLOR=1 TERM=xterm").find("\x1b[1m"), std::string::npos);
        EXPECT_EQ(onTerminal("TERM=dumb").find("\x1b[1m"), std::string::npos);
    }
    const CliResult help = run({"scan", "--help"});
    EXPECT_NE(help.out.find("Usage: strandis-cli scan"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("--color[=WHEN]"), std::string::npos);
    EXPECT_EQ(help.out.find("->"), std::string::npos);  // no internal mapping
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

// An HD DVD's titles come from its playlist: names, durations, chapters, the EVOs their clips
// play (a missing one said so) and tracks, the longest the main feature.
TEST_F(CliTest, TitlesOfAnHdDvdComeFromItsPlaylist) {
    std::filesystem::create_directories(dir.path("disc/ADV_OBJ"));
    std::filesystem::create_directories(dir.path("disc/HVDVD_TS"));
    const std::string playlist = R"(<Playlist><MediaAttributeList>
<AudioAttributeItem index="1" codec="DD" channels="6"/><SubpictureAttributeItem index="1" codec="2bitRLE"/>
</MediaAttributeList><TitleSet timeBase="50fps">
<Title id="T" displayName="Trailer" titleDuration="00:01:00:00"><PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER.MAP"/></Title>
<Title id="F" displayName="Feature" titleDuration="01:30:00:00"><PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
<Audio track="1" streamNumber="2" mediaAttr="1" description="English" langcode="en:00"/>
<Subtitle track="1" streamNumber="1" mediaAttr="1" description="Signs" langcode="de:00" forced="true"/>
</PrimaryAudioVideoClip><ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="Start"/>
<Chapter titleTimeBegin="00:10:00:25" displayName="Two"/></ChapterList></Title></TitleSet></Playlist>)";
    SaveFile(dir.path("disc/ADV_OBJ/VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    SaveFile(dir.path("disc/HVDVD_TS/FEATURE_1.EVO"), Bytes(2048, 0));
    const CliResult result = run({"titles", dir.path("disc/HVDVD_TS/FEATURE_1.EVO"), "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto titles = nlohmann::json::parse(result.out)["titles"];
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0]["name"], "Trailer");
    EXPECT_EQ(titles[0]["files"][0], "TRAILER.EVO (missing)");
    EXPECT_FALSE(titles[0]["main"].get<bool>());
    const auto& feature = titles[1];
    EXPECT_TRUE(feature["main"].get<bool>());
    EXPECT_EQ(feature["files"][0], "FEATURE_1.EVO");
    EXPECT_EQ(feature["duration_ms"], 5400000.0);
    ASSERT_EQ(feature["chapters"].size(), 2u);
    EXPECT_EQ(feature["chapters"][1]["start_ms"], 600500.0);  // 25 of 50 frames: half a second
    EXPECT_EQ(feature["audio"][0]["box"], "a1");
    EXPECT_EQ(feature["audio"][0]["language"], "en");
    EXPECT_TRUE(feature["subpictures"][0]["forced"].get<bool>());
}

}  // namespace
}  // namespace strandis::test
