// What the command line does with damaged, missing and hostile input and with outputs that
// cannot be written: a clear message, nothing reported as done that is not, the source untouched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "testkit/PsBuilder.h"
#include "tests/support/CliRunner.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

namespace fs = std::filesystem;

// Under AddressSanitizer the shadow memory counts in the resident set: memory is not judged.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif

// A program stream of 2,048-byte packs: MPEG-2 video, Dolby Digital, LPCM and subpictures.
PsBuilder Disc(int packs) {
    PsBuilder ps;
    ps.pack().systemHeader(2, 1, {0xE0, 0xBD}).padTo();
    for (int k = 0; k < packs; ++k) {
        const auto seed = static_cast<std::uint8_t>(k);
        const std::uint64_t pts = 0x1000 + 3003u * static_cast<unsigned>(k);
        ps.pack(300u * static_cast<unsigned>(k));
        switch (k % 4) {
            case 0:
                ps.video(0xE0, Counting(1900, seed), pts);
                break;
            case 1:
                ps.audio(0x80, Counting(1900, seed), pts);
                break;
            case 2:
                ps.audio(0xA1, Counting(1900, seed), pts);
                break;
            default:
                ps.subpicture(0x20, Counting(1900, seed), pts);
                break;
        }
        ps.padTo();
    }
    return ps;
}

class FaultTest : public ::testing::Test {
protected:
    TempDir dir;

    CliResult run(std::vector<std::string> args, const CliLimits& limits = {}) {
        return RunCli(std::move(args), dir.root().string(), limits);
    }
    std::string save(const PsBuilder& ps, const std::string& name = "FEATURE_1.EVO") {
        ps.save(dir.path(name));
        return dir.path(name);
    }
    std::string out(const std::string& name = "") {
        fs::create_directories(dir.path("out"));
        return name.empty() ? dir.path("out") : dir.path("out/" + name);
    }
};

TEST_F(FaultTest, SourcesThatCannotBeRead) {
    const std::string source = save(Disc(8));
    ::chmod(source.c_str(), 0);
    const CliResult unreadable = run({"scan", source}, {.asNobody = true});
    ::chmod(source.c_str(), 0644);
    EXPECT_EQ(unreadable.exitCode, 1);
    EXPECT_EQ(unreadable.err, "Cannot open file \"" + source + "\". Permission denied\n");

    for (const char* command : {"demux", "rebuild"}) {
        const CliResult missing = run({command, "-o", out(), dir.path("none.EVO")});
        EXPECT_EQ(missing.exitCode, 1) << command;
        EXPECT_EQ(missing.err,
                  "Cannot open file \"" + dir.path("none.EVO") + "\". No such file or directory\n");
        const CliResult folder = run({command, dir.root().string()});
        EXPECT_EQ(folder.exitCode, 1) << command;
        EXPECT_NE(folder.err.find("Is a directory"), std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(out()));
}

TEST_F(FaultTest, TruncatedSourcesGiveWhatIsThere) {
    const PsBuilder ps = Disc(8);
    const Bytes whole = ps.bytes();
    // Cut inside the PES header of the second video packet (pack 5), inside its payload, and
    // inside the pack header of the first.
    for (const std::size_t cut :
         {std::size_t{5 * 2048 + 14 + 7}, std::size_t{5 * 2048 + 1000}, std::size_t{2048 + 5}}) {
        const std::string source = dir.path("CUT.EVO");
        SaveFile(source, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
        fs::remove_all(out());
        const CliResult result = run({"demux", "--json", "-o", out(), source});
        // The video file holds the payloads present, whole packets and the piece of the last.
        Bytes expected;
        for (int k = 0; k < 8; k += 4) {
            const std::size_t payload = (static_cast<std::size_t>(k) + 1) * 2048 + 14 + 14;
            if (payload >= cut) break;
            const Bytes piece = Counting(1900, static_cast<std::uint8_t>(k));
            expected.insert(expected.end(), piece.begin(),
                            piece.begin() + static_cast<std::ptrdiff_t>(
                                                std::min<std::size_t>(1900, cut - payload)));
        }
        if (!expected.empty()) {
            ASSERT_EQ(result.exitCode, 0) << result.err;
            EXPECT_FALSE(nlohmann::json::parse(result.out)["stopped_early"].get<bool>());
            EXPECT_EQ(LoadFile(out("CUT.MPEG-2.stream.0.mpv")), expected) << cut;
        } else {  // cut before the first stream: nothing to find, and it says so
            EXPECT_EQ(result.exitCode, 3) << cut;
            EXPECT_TRUE(nlohmann::json::parse(result.out).contains("error"));
        }
        EXPECT_EQ(LoadFile(source).size(), cut);
    }
}

TEST_F(FaultTest, NoiseZerosAndAHugeEmptyFile) {
    Bytes noise(1 << 20);
    std::mt19937 rng(11);
    for (auto& byte : noise)
        byte = static_cast<std::uint8_t>(rng());
    SaveFile(dir.path("NOISE.EVO"), noise);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"scan"}, {"demux", "-o", out()}, {"rebuild", "-o", out()}}) {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--full", dir.path("NOISE.EVO")});
        const CliResult result = run(full);
        EXPECT_EQ(result.exitCode, 3) << args[0] << result.err;
        EXPECT_NE(result.out.find("Done."), std::string::npos) << args[0];
        EXPECT_NE(result.err.find("No program stream was recognised"), std::string::npos);
    }
    EXPECT_EQ(LoadFile(dir.path("NOISE.EVO")), noise);

    // 2 GB of zeros (sparse): read through without a stream, in bounded time and memory.
    SaveFile(dir.path("ZEROS.EVO"), {});
    fs::resize_file(dir.path("ZEROS.EVO"), 2ull << 30);
    const auto started = std::chrono::steady_clock::now();
    const CliResult zeros = run({"scan", "--full", "--json", dir.path("ZEROS.EVO")});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    ASSERT_EQ(zeros.exitCode, 3) << zeros.err;
    EXPECT_EQ(nlohmann::json::parse(zeros.out)["error"]["path"], dir.path("ZEROS.EVO"));
    if (kMeasuresMemory) {
        EXPECT_LT(zeros.peakKiB, 32 * 1024);
    }
}

TEST_F(FaultTest, OutputsThatCannotBeWritten) {
    const PsBuilder ps = Disc(8);
    const std::string source = save(ps);

    const CliResult missing = run({"demux", "-o", dir.path("no/such/folder"), source});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Cannot create the output folder \"" + dir.path("no/such/folder") +
                               "\": the folder it would be in does not exist.\n");
    EXPECT_FALSE(fs::exists(dir.path("no")));

    // A folder the user may not write to.
    fs::create_directories(dir.path("locked"));
    ::chmod(dir.root().c_str(), 0755);
    ::chmod(dir.path("locked").c_str(), 0555);
    for (const char* command : {"demux", "rebuild"}) {
        const CliResult locked =
            run({command, "-o", dir.path("locked"), source}, {.asNobody = true});
        EXPECT_EQ(locked.exitCode, 1) << command;
        EXPECT_NE(locked.err.find("Permission denied"), std::string::npos) << locked.err;
        EXPECT_EQ(locked.out.find("Done."), locked.out.rfind("Done."));  // the detection's only
    }
    EXPECT_TRUE(fs::is_empty(dir.path("locked")));

    // An output that is the source under another name.
    fs::create_symlink(source, out("FEATURE_1.rebuilt.EVO"));
    const CliResult self = run({"rebuild", "-o", out(), source});
    EXPECT_EQ(self.exitCode, 1);
    EXPECT_NE(self.err.find("It is the source file"), std::string::npos);
    EXPECT_EQ(LoadFile(source), ps.bytes());
}

TEST_F(FaultTest, InterruptedRunsLeaveWholePrefixesAndTheSourceIntact) {
    const PsBuilder ps = Disc(40000);  // about 80 MB
    const std::string source = save(ps);
    // The outputs of runs that finish, to compare with.
    ASSERT_EQ(run({"demux", "--full", "-o", out(), source}).exitCode, 0);
    ASSERT_EQ(run({"rebuild", "--full", "-o", out(), source}).exitCode, 0);
    std::map<std::string, Bytes> whole;
    for (const auto& entry : fs::directory_iterator(out()))
        whole[entry.path().filename()] = LoadFile(entry.path());
    ASSERT_EQ(whole.size(), 5u);

    std::mt19937 rng(5);
    int stopped = 0;
    for (int round = 0; round < 8; ++round) {
        const int delay = 5 + static_cast<int>(rng() % 120);
        const bool rebuild = round % 2 == 1;
        fs::remove_all(dir.path("cut"));
        fs::create_directories(dir.path("cut"));
        const CliResult result =
            run({rebuild ? "rebuild" : "demux", "--full", "--json", "-o", dir.path("cut"), source},
                {.interruptAfterMs = delay});
        ASSERT_TRUE(result.exitCode == 130 || result.exitCode == 0)
            << result.exitCode << result.err;
        if (result.exitCode == 130) ++stopped;
        // Whatever was written is a prefix of the finished run's file: closed and flushed.
        for (const auto& entry : fs::directory_iterator(dir.path("cut"))) {
            const Bytes part = LoadFile(entry.path());
            const Bytes& full = whole.at(entry.path().filename());
            ASSERT_LE(part.size(), full.size()) << entry.path();
            EXPECT_TRUE(std::equal(part.begin(), part.end(), full.begin()))
                << entry.path() << " after " << delay << " ms";
        }
        if (result.exitCode == 0 && !result.out.empty()) {
            EXPECT_FALSE(nlohmann::json::parse(result.out)["stopped_early"].get<bool>());
        }
    }
    EXPECT_GT(stopped, 0);
    EXPECT_EQ(LoadFile(source), ps.bytes());
}

// Under a tight limit on memory the helper threads (the mapper's, the writer's) cannot start:
// the run goes on without them, or stops with a message that says what failed.
TEST_F(FaultTest, TooLittleMemoryForTheHelperThreads) {
    if (!kMeasuresMemory) GTEST_SKIP() << "the sanitizers' shadow memory needs no limit";
    const PsBuilder disc = Disc(400);
    disc.save(dir.path("FEATURE_1.EVO"));
    int done = 0;
    for (rlim_t mib = 6; mib <= 40; mib += 2) {
        const CliResult result = run({"demux", "--streams", "v0,a0", dir.path("FEATURE_1.EVO")},
                                     {.addressSpaceLimit = mib << 20});
        if (result.exitCode == 0) {
            ++done;
            EXPECT_EQ(fs::file_size(dir.path("FEATURE_1.DD.stream.00.mpa")), 100u * 1900) << mib;
        } else {
            // Too little even to start is the loader's business; once running, a clear message.
            EXPECT_EQ(result.err.find("Resource temporarily unavailable"), std::string::npos)
                << mib << ": " << result.err;
            EXPECT_EQ(result.err.find("bad_alloc"), std::string::npos) << mib << ": " << result.err;
        }
    }
    EXPECT_GT(done, 0);
}

TEST_F(FaultTest, PeakMemoryDoesNotGrowWithTheInput) {
    if (!kMeasuresMemory) GTEST_SKIP() << "memory is not measured under AddressSanitizer";
    // 40 MB and 400 MB of real packs (repeated), scanned and demultiplexed.
    const PsBuilder unit = Disc(2000);
    long peak[2][2] = {};
    for (int size = 0; size < 2; ++size) {
        const std::string source = dir.path("BIG.EVO");
        {
            std::ofstream file(source, std::ios::binary | std::ios::trunc);
            for (int k = 0; k < (size == 0 ? 10 : 100); ++k) {
                file.write(reinterpret_cast<const char*>(unit.bytes().data()),
                           static_cast<std::streamsize>(unit.size()));
            }
        }
        peak[size][0] = run({"scan", "--full", source}).peakKiB;
        fs::remove_all(out());
        peak[size][1] = run({"demux", "--full", "-o", out(), source}).peakKiB;
        fs::remove(source);
        fs::remove_all(out());
    }
    for (int command = 0; command < 2; ++command) {
        EXPECT_LT(std::labs(peak[1][command] - peak[0][command]), 10 * 1024) << command;
        EXPECT_LT(peak[1][command], 32 * 1024) << command;
    }
}

// The title set's IFO is only where the subpicture colours come from: whatever is wrong with it
// (an I/O error, a folder, a pipe, a device, no program chain table), the run goes on with the
// default palette and one line says why.
TEST_F(FaultTest, AnUnusableIfoFileLeavesTheDefaultPalette) {
    Disc(8).save(dir.path("VTS_01_1.VOB"));
    const std::string ifo = dir.path("VTS_01_0.IFO");
    Bytes tableless(4096, 0);
    const std::string magic = "DVDVIDEO-VTS";
    std::copy(magic.begin(), magic.end(), tableless.begin());
    const std::vector<std::pair<std::string, std::function<void()>>> cases{
        {"Input/output error", [&] { SaveFile(ifo, tableless); }},
        {"it is a folder", [&] { fs::create_directory(ifo); }},
        {"it is not a regular file", [&] { ASSERT_EQ(::mkfifo(ifo.c_str(), 0600), 0); }},
        {"it is not a regular file", [&] { fs::create_symlink("/dev/zero", ifo); }},
        {"it has no program chain table", [&] { SaveFile(ifo, tableless); }},
    };
    bool eio = true;
    for (const auto& [why, make] : cases) {
        fs::remove_all(ifo);
        make();
        CliLimits limits;
        if (eio)
            limits.environment = {"LD_PRELOAD=" EIO_SHIM, "ASAN_OPTIONS=verify_asan_link_order=0"};
        eio = false;
        const CliResult result =
            run({"demux", "--sub-format", "pgs", "-o", dir.path("out"), dir.path("VTS_01_1.VOB")},
                limits);
        fs::remove_all(dir.path("out"));
        EXPECT_EQ(result.exitCode, 0) << why << "\n" << result.err;
        const std::string line = "Subpicture colours: the default DVD palette (\"" + ifo +
                                 "\" cannot be used: " + why + ")\n";
        EXPECT_NE(result.out.find(line), std::string::npos) << why << "\n" << result.out;
        EXPECT_EQ(result.out.find("Subpicture colours:"), result.out.rfind("Subpicture colours:"));
    }
}

// A stand-in mkvmerge on PATH that speaks its GUI mode: `body` runs after it has written 1,000
// bytes to its -o file; asked -J, it calls the file Matroska with two tracks.
std::string StandInMkvmerge(const TempDir& dir, const std::string& body) {
    fs::create_directory(dir.path("bin"));
    const std::string path = dir.path("bin/mkvmerge");
    std::ofstream script(path);
    script << "#!/bin/sh\n"
              "if [ \"$1\" = -J ]; then\n"
              "  echo '{\"container\":{\"type\":\"Matroska\"},\"tracks\":[{},{}]}'; exit 0\n"
              "fi\n"
              "while [ \"$1\" != -o ]; do shift; done\n"
              "head -c 1000 /dev/zero > \"$2\"\n"
           << body << "\n";
    script.close();
    ::chmod(path.c_str(), 0755);
    return "PATH=" + dir.path("bin") + ":/usr/bin:/bin";
}

// mkvmerge's own error line, as its GUI mode writes it, reaches the log, stderr and the JSON.
TEST_F(FaultTest, MkvmergesErrorIsQuotedEverywhere) {
    Disc(8).save(dir.path("FEATURE_1.EVO"));
    CliLimits limits;
    limits.environment = {StandInMkvmerge(
        dir, "echo '#GUI#progress 50%'\necho '#GUI#error Not enough space on the disk.'\nexit 2")};
    const CliResult text = run({"mkv", dir.path("FEATURE_1.EVO")}, limits);
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.err, "mkvmerge failed: Not enough space on the disk.\n");
    EXPECT_NE(text.out.find("mkvmerge: Error: Not enough space on the disk.\n"), std::string::npos)
        << text.out;
    const CliResult json =
        run({"mkv", "--json", "--progress=json", dir.path("FEATURE_1.EVO")}, limits);
    // The mux's progress is a percentage of its own step.
    EXPECT_NE(json.err.find("{\"step\":\"mux\",\"percent\":50}\n"), std::string::npos) << json.err;
    EXPECT_EQ(nlohmann::json::parse(json.out)["error"]["message"],
              "mkvmerge failed: Not enough space on the disk.");
    // Nothing is left behind: no partial file, no folder of streams; unless asked to keep them.
    const auto hidden = [this] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.root())) {
            const std::string name = entry.path().filename().string();
            if (name[0] == '.') names.push_back(name);
        }
        return names;
    };
    EXPECT_TRUE(hidden().empty());
    run({"mkv", "--keep-work", dir.path("FEATURE_1.EVO")}, limits);
    ASSERT_EQ(hidden().size(), 1u);
    EXPECT_EQ(hidden()[0].rfind(".strandis-FEATURE_1-", 0), 0u);
}

// A hung mkvmerge is stopped by Ctrl-C and by SIGTERM to us: both processes end, nothing of the
// mux is left, and silence is named in the log.
TEST_F(FaultTest, AHungMkvmergeIsStoppedWithUs) {
    Disc(8).save(dir.path("FEATURE_1.EVO"));
    for (const int signal : {SIGINT, SIGTERM}) {
        CliLimits limits;
        limits.environment = {StandInMkvmerge(
            dir, "echo $$ > '" + dir.path("pid") + "'\necho '#GUI#progress 1%'\nexec sleep 600")};
        limits.interruptAfterMs = 1500;
        limits.signal = signal;
        const auto started = std::chrono::steady_clock::now();
        const CliResult result = run({"mkv", dir.path("FEATURE_1.EVO")}, limits);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(result.exitCode, 130) << result.err;
        const pid_t pid = std::stoi(ReadText(dir.path("pid")));
        EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << "the stand-in still runs";
        for (const auto& entry : fs::directory_iterator(dir.root())) {
            const std::string name = entry.path().filename().string();
            EXPECT_NE(name[0], '.') << name;
        }
    }
}

// A VOB copied from a CSS-protected disc without decrypting it: the packets with scrambling
// bits are named once, and nothing is written from them.
TEST_F(FaultTest, AnEncryptedVobIsNamedAndNothingIsWritten) {
    Bytes bytes = Disc(40).bytes();
    int scrambled = 0;
    for (std::size_t k = 10; k < 40; ++k) {
        const std::size_t pes = 2048 * (k + 1) + 14;
        ASSERT_EQ(bytes[pes + 2], 0x01);
        bytes[pes + 6] |= 0x10;  // PES_scrambling_control 01
        ++scrambled;
    }
    const std::string source = dir.path("VTS_01_1.VOB");
    SaveFile(source, bytes);

    const CliResult scan = run({"scan", source});
    EXPECT_NE(scan.out.find("Encrypted: " + std::to_string(scrambled) + " packets"),
              std::string::npos)
        << scan.out;
    for (const char* command : {"demux", "rebuild"}) {
        const CliResult written = run({command, "-o", out(), source});
        EXPECT_EQ(written.exitCode, 1) << command;
        EXPECT_NE(written.err.find("is encrypted"), std::string::npos) << written.err;
        EXPECT_TRUE(fs::is_empty(out())) << command;
    }
}

}  // namespace
}  // namespace strandis::test
