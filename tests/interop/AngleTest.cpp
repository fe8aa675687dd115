// A title of two seamless angles stored as interleaved units (tests/interop/make_interleaved.sh),
// judged by what libdvdnav plays of each angle (tests/interop/dvdnav_play.cpp): the blocks a
// player reads of angle K are what a run over angle K reads, with the IFO or without it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "testkit/PsBuilder.h"
#include "tests/support/Shell.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr std::size_t kSector = 2048;

class AngleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Installed("dvdauthor") || !Installed("ffmpeg") || std::string(DVDNAV_PLAY).empty())
            return;
        folder_ = new TempDir();
        const ShellRun made =
            Shell(std::string(SOURCE_DIR) + "/tests/interop/make_interleaved.sh '" +
                  folder_->path("disc") + "' 2>&1");
        if (made.exitCode != 0) {
            ADD_FAILURE() << made.out;
            return;
        }
        disc_ = folder_->path("disc");
        fs::create_directories(folder_->path("lone"));
        fs::copy_file(disc_ + "/VIDEO_TS/VTS_01_1.VOB", Lone());
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (disc_.empty()) GTEST_SKIP() << "dvdauthor, ffmpeg or libdvdnav is not installed";
    }

    static std::string Lone() { return folder_->path("lone") + "/VTS_01_1.VOB"; }
    // What libdvdnav plays of the angle, as a VOB.
    static std::string Played(const std::string& disc, int angle) {
        const std::string out = folder_->path("played" + std::to_string(angle) + ".VOB");
        // libdvdnav keeps a few blocks to its end, which a sanitizer's build would count.
        const ShellRun run =
            Shell("ASAN_OPTIONS=detect_leaks=0 " + std::string(DVDNAV_PLAY) + " '" + disc + "' 1 " +
                  std::to_string(angle) + " '" + out + "' 2>&1");
        EXPECT_EQ(run.exitCode, 0) << run.out;
        return out;
    }
    static Json Cli(const std::string& args) {
        const ShellRun run = Shell(std::string(STRANDIS_CLI) + " " + args + " --json 2>/dev/null");
        return Json::parse(run.out);
    }
    static std::string Log(const std::string& args) {
        return Shell(std::string(STRANDIS_CLI) + " " + args + " 2>&1").out;
    }
    // The video and audio files a demux of `source` writes into `out`, in box order.
    static std::vector<Bytes> Demuxed(const std::string& source, const std::string& out,
                                      const std::string& options = "") {
        const Json made =
            Cli("demux '" + source + "' " + options + " --streams v0,a0 -o '" + out + "'");
        std::vector<Bytes> files;
        for (const Json& file : made["files"])
            files.push_back(LoadFile(file["path"]));
        EXPECT_EQ(files.size(), 2u) << made.dump(1);
        return files;
    }
    // The colour of each picture ffmpeg decodes, as one letter: grey, red, blue or green.
    static std::string Colours(const std::string& file) {
        const ShellRun run = Shell("ffmpeg -v error -i '" + file +
                                   "' -map 0:v -vf scale=1:1 -f rawvideo -pix_fmt rgb24 -");
        std::string colours;
        for (std::size_t k = 0; k + 3 <= run.out.size(); k += 3) {
            const auto r = static_cast<std::uint8_t>(run.out[k]);
            const auto g = static_cast<std::uint8_t>(run.out[k + 1]);
            const auto b = static_cast<std::uint8_t>(run.out[k + 2]);
            colours += r > 100 && g > 100 ? 'y'
                       : r > 200          ? 'r'
                       : b > 200          ? 'b'
                       : g > 100          ? 'g'
                                          : '?';
        }
        return colours;
    }

    static TempDir* folder_;
    static std::string disc_;
};
TempDir* AngleTest::folder_ = nullptr;
std::string AngleTest::disc_;

TEST_F(AngleTest, EachAngleIsWhatLibdvdnavPlaysWithTheIfoOrWithout) {
    EXPECT_NE(Shell("lsdvd -n '" + disc_ + "' 2>/dev/null").out.find("Number of Angles: 2"),
              std::string::npos);
    for (const int angle : {1, 2}) {
        const std::string k = std::to_string(angle);
        const Bytes played = LoadFile(Played(disc_, angle));
        ASSERT_GT(played.size(), 0u);
        const std::string out = folder_->path("rebuilt" + k);
        Cli("rebuild '" + disc_ + "' --angle " + k + " -o '" + out + "'");
        EXPECT_EQ(LoadFile(out + "/disc_title01.rebuilt.EVO"), played) << "angle " << k;

        const std::vector<Bytes> expected =
            Demuxed(folder_->path("played" + k + ".VOB"), folder_->path("fromplayed" + k));
        EXPECT_EQ(Demuxed(disc_, folder_->path("fromdisc" + k), "--angle " + k), expected)
            << "angle " << k;
        EXPECT_EQ(Demuxed(Lone(), folder_->path("fromlone" + k), "--angle " + k), expected)
            << "angle " << k;
    }
    const std::string log = Log("scan '" + Lone() + "' --angle 2");
    EXPECT_NE(log.find("2 angles (VOB 2 cell 1, VOB 3 cell 1), numbered in the order they come, "
                       "a guess without the disc's IFO: angle 2 is read."),
              std::string::npos)
        << log;
}

// The Matroska file of each angle: the pictures of the cells before and after the block (grey,
// green) and of its own angle (red or blue), as many as libdvdnav plays, none of the other.
TEST_F(AngleTest, EachAnglesMatroskaFileHoldsItsOwnPictures) {
    if (!Installed("mkvmerge")) GTEST_SKIP() << "mkvmerge is not installed";
    for (const int angle : {1, 2}) {
        const std::string k = std::to_string(angle);
        const std::string out = folder_->path("angle" + k + ".mkv");
        Cli("mkv '" + disc_ + "' --angle " + k + " -o '" + out + "'");
        const std::string colours = Colours(out);
        EXPECT_EQ(colours, Colours(Played(disc_, angle))) << "angle " << k;
        EXPECT_EQ(colours.find(angle == 1 ? 'b' : 'r'), std::string::npos) << colours;
        EXPECT_NE(colours.find(angle == 1 ? 'r' : 'b'), std::string::npos) << colours;
    }
}

// A unit whose navigation pack names a cell the title set lacks is named and left out; a unit
// whose end points past the file is named and read to the next navigation pack.
TEST_F(AngleTest, DamagedNavigationIsNamedAndNothingOfAnotherAngleIsRead) {
    const std::string copy = folder_->path("damaged");
    fs::copy(disc_, copy, fs::copy_options::recursive);
    const std::string vob = copy + "/VIDEO_TS/VTS_01_1.VOB";
    Bytes data = LoadFile(vob);
    std::vector<std::size_t> angle2;  // the navigation packs of angle 2's units (VOB 3)
    std::vector<std::size_t> navs;
    for (std::size_t at = 0; at + kSector <= data.size(); at += kSector) {
        if (data[at + 38] == 0 && data[at + 41] == 0xBF && data[at + 44] == 0x00) {
            navs.push_back(at);
            if (data[at + 1031 + 25] == 3) angle2.push_back(at);
        }
    }
    ASSERT_GE(angle2.size(), 3u);
    const std::size_t damaged = angle2[1];
    const std::size_t next = *std::upper_bound(navs.begin(), navs.end(), damaged);
    const Bytes unit(data.begin() + static_cast<std::ptrdiff_t>(damaged),
                     data.begin() + static_cast<std::ptrdiff_t>(next));
    data[damaged + 1031 + 27] = 9;  // VOB 3 cell 9
    data[1031 + 9] = 0x10;          // the first unit ends 1 Mi sectors on
    SaveFile(vob, data);

    Bytes expected = LoadFile(Played(disc_, 2));
    expected[1031 + 9] = 0x10;
    const auto found = std::search(expected.begin(), expected.end(), unit.begin(), unit.end());
    ASSERT_NE(found, expected.end());
    expected.erase(found, found + static_cast<std::ptrdiff_t>(unit.size()));

    const std::string out = folder_->path("damagedout");
    const std::string log = Log("rebuild '" + copy + "' --angle 2 -o '" + out + "'");
    EXPECT_EQ(LoadFile(out + "/damaged_title01.rebuilt.EVO"), expected);
    EXPECT_NE(log.find("Navigation pack at byte " + std::to_string(damaged) + " of \"" + vob +
                       "\" names VOB 3 cell 9, which no program chain of the title set has: "
                       "its unit is left out."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Navigation pack at byte 0 of \"" + vob + "\" says its unit ends at byte "),
              std::string::npos)
        << log;
}

}  // namespace
}  // namespace strandis::test
