// A DVD-Video disc authored by dvdauthor (tests/interop/make_disc.sh): its titles as lsdvd and
// the authoring script describe them, and each title's Matroska file judged by ffprobe and
// mkvmerge against the clip that went into that title.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/support/Shell.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

using Json = nlohmann::json;
constexpr double kNtscFrameMs = 1001.0 / 30.0;

class DvdDiscTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!Installed("dvdauthor") || !Installed("spumux") || !Installed("ffmpeg")) return;
        folder_ = new TempDir();
        const ShellRun made = Shell(std::string(SOURCE_DIR) + "/tests/interop/make_disc.sh '" +
                                    folder_->path("disc") + "' 2>&1");
        if (made.exitCode == 0)
            disc_ = folder_->path("disc");
        else
            ADD_FAILURE() << made.out;
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        if (disc_.empty()) GTEST_SKIP() << "dvdauthor, spumux or ffmpeg is not installed";
    }

    static Json Cli(const std::string& args) {
        const ShellRun run = Shell(std::string(STRANDIS_CLI) + " " + args + " --json 2>/dev/null");
        return Json::parse(run.out);
    }
    static Json Probe(const std::string& args) {
        return Json::parse(Shell("ffprobe -v error -of json " + args).out);
    }
    static std::string Clip(int title) {
        return disc_ + "/clips/t" + std::to_string(title) + ".mpg";
    }

    static TempDir* folder_;
    static std::string disc_;
};
TempDir* DvdDiscTest::folder_ = nullptr;
std::string DvdDiscTest::disc_;

TEST_F(DvdDiscTest, TitlesAgreeWithWhatWasAuthoredAndWithLsdvd) {
    const Json disc = Cli("titles '" + disc_ + "/VIDEO_TS/VTS_01_0.IFO'");
    const Json& titles = disc["titles"];
    ASSERT_EQ(titles.size(), 4u) << disc.dump(1);
    const int sets[] = {1, 1, 1, 2}, chapters[] = {2, 3, 1, 2};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(titles[k]["title_set"], sets[k]);
        EXPECT_EQ(titles[k]["chapters"].size(), static_cast<std::size_t>(chapters[k]));
        EXPECT_EQ(titles[k]["main"], k == 0);  // the longest
    }
    const Json& audio = titles[0]["audio"];
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(audio[0]["language"], "en");
    EXPECT_EQ(audio[1]["language"], "fr");
    EXPECT_EQ(audio[1]["kind"], "commentary");
    EXPECT_EQ(titles[3]["audio"][1]["stream_id"], "0xC1");
    EXPECT_EQ(titles[3]["audio"][1]["kind"], "visually impaired");
    const Json& subs = titles[1]["subpictures"];
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[1]["language"], "de");
    EXPECT_TRUE(subs[1]["forced"]);
    EXPECT_EQ(titles[3]["video"], "MPEG-2 720x576 PAL 16:9");

    if (!Installed("lsdvd")) GTEST_SKIP() << "lsdvd is not installed";
    // lsdvd's Python form, as JSON (its CSS notice goes to stdout too, before the data).
    const ShellRun listed =
        Shell("lsdvd -x -Oy '" + disc_ +
              "' 2>/dev/null | python3 -c \"import ast, json, sys; t = sys.stdin.read(); "
              "print(json.dumps(ast.literal_eval(t[t.index('{'):])))\"");
    const Json lsdvd = Json::parse(listed.out);
    ASSERT_EQ(lsdvd["track"].size(), titles.size());
    for (std::size_t k = 0; k < titles.size(); ++k) {
        const Json& theirs = lsdvd["track"][k];
        const Json& ours = titles[k];
        const double frame = theirs["fps"].get<double>() > 29 ? kNtscFrameMs : 40.0;
        EXPECT_NEAR(ours["duration_ms"].get<double>(), theirs["length"].get<double>() * 1000, frame)
            << "title " << k + 1;
        double start = 0;
        ASSERT_EQ(ours["chapters"].size(), theirs["chapter"].size());
        for (std::size_t c = 0; c < theirs["chapter"].size(); ++c) {
            EXPECT_NEAR(ours["chapters"][c]["start_ms"].get<double>(), start, frame);
            start += theirs["chapter"][c]["length"].get<double>() * 1000;
        }
        ASSERT_EQ(ours["audio"].size(), theirs["audio"].size());
        for (std::size_t a = 0; a < theirs["audio"].size(); ++a) {
            EXPECT_EQ(ours["audio"][a]["language"], theirs["audio"][a]["langcode"]);
            std::string id = ours["audio"][a]["stream_id"];
            std::transform(id.begin(), id.end(), id.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            EXPECT_EQ(id, theirs["audio"][a]["streamid"].get<std::string>());
        }
        ASSERT_EQ(ours["subpictures"].size(), theirs["subp"].size());
        for (std::size_t s = 0; s < theirs["subp"].size(); ++s)
            EXPECT_EQ(ours["subpictures"][s]["language"], theirs["subp"][s]["langcode"]);
    }
}

// The first decoded frame's time of each stream of a file, by kind ("video", "audio"...), first
// stream of a kind only.
std::map<std::string, double> FirstFrames(const std::string& file) {
    std::map<std::string, double> first;
    const Json streams = Json::parse(
        Shell("ffprobe -v error -of json -show_entries stream=index,codec_type '" + file + "'")
            .out)["streams"];
    for (const Json& stream : streams) {
        const std::string kind = stream["codec_type"];
        if (first.count(kind) != 0 || (kind != "video" && kind != "audio")) continue;
        const Json frames =
            Json::parse(Shell("ffprobe -v error -of json -select_streams " +
                              std::to_string(stream["index"].get<int>()) +
                              " -read_intervals %+#1 -show_entries frame=pts_time '" + file + "'")
                            .out)["frames"];
        if (!frames.empty()) first[kind] = std::stod(frames[0]["pts_time"].get<std::string>());
    }
    return first;
}

TEST_F(DvdDiscTest, EachTitlesMkvHoldsItsOwnFramesTracksAndChapters) {
    const Json titles = Cli("titles '" + disc_ + "'")["titles"];
    for (int n = 1; n <= 4; ++n) {
        SCOPED_TRACE("title " + std::to_string(n));
        const std::string mkv = folder_->path("t" + std::to_string(n) + ".mkv");
        const Json made =
            Cli("mkv '" + disc_ + "' --title " + std::to_string(n) + " -o '" + mkv + "'");
        ASSERT_TRUE(made.contains("tracks")) << made.dump(1);

        // Exactly the title's own pictures: the clip authored into it, no more, no less (title 2
        // lies between titles 1 and 3 in the same VOB).
        const auto frames = [](const std::string& file) {
            return Probe(
                       "-count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames '" +
                       file + "'")["streams"][0]["nb_read_frames"]
                .get<std::string>();
        };
        EXPECT_EQ(frames(mkv), frames(Clip(n)));

        const Json info = Json::parse(Shell("mkvmerge -J '" + mkv + "'").out);
        std::vector<std::string> languages;
        bool commentary = false, forced = false, impaired = false;
        for (const Json& track : info["tracks"]) {
            const Json& p = track["properties"];
            if (track["type"] != "video") languages.push_back(p.value("language", ""));
            commentary = commentary || p.value("flag_commentary", false);
            forced = forced || p.value("forced_track", false);
            impaired = impaired || p.value("flag_visual_impaired", false);
        }
        const Json& title = titles[n - 1];
        if (n <= 3) {
            EXPECT_EQ(languages[0], "eng");
            EXPECT_EQ(languages[1], "fre");
            EXPECT_TRUE(commentary);
        }
        if (n == 2) {
            // English mixes a forced caption with a normal one: its forced one again, alone, in
            // a track behind it.
            EXPECT_EQ(languages, (std::vector<std::string>{"eng", "fre", "eng", "eng", "ger"}));
            ASSERT_EQ(info["tracks"].size(), 6u);
            const Json& alone = info["tracks"][4];
            EXPECT_EQ(alone["properties"]["track_name"], "Forced");
            EXPECT_TRUE(alone["properties"].value("forced_track", false));
            const auto packets = [&](int track) {
                return Probe("-count_packets -select_streams " + std::to_string(track) +
                             " -show_entries stream=nb_read_packets '" + mkv +
                             "'")["streams"][0]["nb_read_packets"]
                    .get<std::string>();
            };
            EXPECT_EQ(std::stoi(packets(3)), 2 * std::stoi(packets(4)));
            EXPECT_TRUE(forced);
        }

        if (n == 4) {  // AC-3, the MP2 stream 0xC1 and LPCM 0xA2
            EXPECT_EQ(languages, (std::vector<std::string>{"ger", "eng", "ita"}));
            EXPECT_TRUE(impaired);
        }

        // The chapters, where the title's program map puts them.
        const Json chapters = Probe("-show_chapters '" + mkv + "'")["chapters"];
        ASSERT_EQ(chapters.size(), title["chapters"].size());
        for (std::size_t c = 0; c < chapters.size(); ++c)
            EXPECT_NEAR(std::stod(chapters[c]["start_time"].get<std::string>()) * 1000,
                        title["chapters"][c]["start_ms"].get<double>(), 1.0);

        // The audio starts against the video as it does in the clip.
        auto source = FirstFrames(Clip(n));
        auto ours = FirstFrames(mkv);
        ASSERT_TRUE(source.count("audio") && ours.count("audio") && ours.count("video"));
        EXPECT_NEAR((ours["audio"] - ours["video"]) * 1000,
                    (source["audio"] - source["video"]) * 1000, 1.5);
    }
}

// MPEG audio (0xC1 here): its .mp2 file decodes, in ffmpeg, to the samples ffmpeg decodes from
// the VOB.
TEST_F(DvdDiscTest, MpegAudioIsDemuxedToTheSamplesOfTheVob) {
    const std::string out = folder_->path("mp2");
    const Json made =
        Cli("demux '" + disc_ + "' --title 4 --streams a1 --audio-ext mp2 -o '" + out + "'");
    ASSERT_EQ(made["files"].size(), 1u) << made.dump(1);
    const std::string file = made["files"][0]["path"];
    EXPECT_TRUE(file.ends_with(".mp2")) << file;
    const auto samples = [](const std::string& input, const std::string& map) {
        return Shell("ffmpeg -nostdin -v error -i '" + input + "' " + map + " -f s16le - | md5sum")
            .out;
    };
    const std::string ours = samples(file, "");
    EXPECT_EQ(ours, samples(disc_ + "/VIDEO_TS/VTS_02_1.VOB", "-map i:0x1c1"));
    EXPECT_NE(ours, samples("/dev/null", "2>/dev/null"));
}

// A damaged disc: each fault named with its file and title, the other titles and the file-level
// runs on the VOBs unharmed.
TEST_F(DvdDiscTest, DamagedDiscsAreNamedAndTheVobsStillRead) {
    namespace fs = std::filesystem;
    const std::string copy = folder_->path("damaged");
    fs::copy(disc_, copy, fs::copy_options::recursive);
    const std::string videoTs = copy + "/VIDEO_TS";

    // Title 4's VOB cut in half: its cells point past the end.
    fs::resize_file(videoTs + "/VTS_02_1.VOB", fs::file_size(videoTs + "/VTS_02_1.VOB") / 2);
    Json titles = Cli("titles '" + copy + "'")["titles"];
    ASSERT_EQ(titles.size(), 4u);
    EXPECT_FALSE(titles[0].contains("problem"));
    EXPECT_NE(titles[3].value("problem", "").find("past the end of"), std::string::npos);
    const Json refused = Cli("mkv '" + copy + "' --title 4 -o '" + folder_->path("cut.mkv") + "'");
    EXPECT_NE(refused["error"]["message"].get<std::string>().find("Title 4"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder_->path("cut.mkv")));
    EXPECT_FALSE(Cli("scan '" + videoTs + "/VTS_02_1.VOB'")["streams"].empty());

    // IFO files on which libdvdread itself crashes (found by fuzzing): a clear error, no crash.
    std::ifstream input(std::string(SOURCE_DIR) + "/fuzz/corpus/ifo/libdvdread-segv",
                        std::ios::binary);
    const std::string hostile((std::istreambuf_iterator<char>(input)), {});
    const std::size_t vmg =
        (std::size_t(std::uint8_t(hostile[0])) << 8 | std::uint8_t(hostile[1])) * 16;
    std::ofstream(videoTs + "/VIDEO_TS.IFO", std::ios::binary) << hostile.substr(2, vmg);
    std::ofstream(videoTs + "/VTS_01_0.IFO", std::ios::binary) << hostile.substr(2 + vmg);
    fs::remove(videoTs + "/VIDEO_TS.BUP");
    fs::remove(videoTs + "/VTS_01_0.BUP");
    const ShellRun run = Shell(std::string(STRANDIS_CLI) + " titles '" + copy + "' 2>&1");
    EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.out;
    EXPECT_NE(run.out.find("VTS_01_0.IFO"), std::string::npos) << run.out;
    EXPECT_FALSE(Cli("scan '" + videoTs + "/VTS_01_1.VOB'")["streams"].empty());

    // The title table replaced by zeros: the message names VIDEO_TS.IFO.
    std::ofstream(videoTs + "/VIDEO_TS.IFO", std::ios::binary) << std::string(6144, '\0');
    const Json none = Cli("titles '" + copy + "'");
    EXPECT_NE(none["error"]["message"].get<std::string>().find("VIDEO_TS.IFO"), std::string::npos);
}

// The batch a user runs on a whole disc: one file per title that lasts long enough.
TEST_F(DvdDiscTest, AllTitlesMakesAFilePerLongEnoughTitle) {
    namespace fs = std::filesystem;
    const std::string out = folder_->path("all");
    const Json made = Cli("mkv '" + disc_ + "' --all-titles --min-length 2.5 -o '" + out + "'");
    ASSERT_EQ(made["titles"].size(), 3u) << made.dump(1);
    for (const int title : {1, 2, 4})
        EXPECT_TRUE(fs::exists(out + "/disc_title0" + std::to_string(title) + ".mkv")) << title;
    EXPECT_FALSE(fs::exists(out + "/disc_title03.mkv"));  // 2 s
}

// Title 1's two cells made into an angle block of two angles (make_angles.sh): each angle's demux
// holds its own cell's pictures, none of the other's.
TEST_F(DvdDiscTest, EachAngleOfAnAngleBlockIsReadAlone) {
    namespace fs = std::filesystem;
    const std::string copy = folder_->path("angles");
    fs::copy(disc_, copy, fs::copy_options::recursive);
    const ShellRun patched =
        Shell(std::string(SOURCE_DIR) + "/tests/interop/make_angles.sh '" + copy + "' 2>&1");
    ASSERT_EQ(patched.exitCode, 0) << patched.out;
    const Json title = Cli("titles '" + copy + "'")["titles"][0];
    EXPECT_EQ(title["angles"], 2);
    // Pictures as the demux counts them (its start codes): a cell cut out of an open group
    // starts with B-pictures that ffprobe cannot decode, but they are there.
    const int whole = Cli("scan '" + disc_ + "' --title 1")["frames"][0];
    int total = 0;
    for (const int angle : {1, 2}) {
        const std::string out = folder_->path("angle" + std::to_string(angle));
        const Json made = Cli("demux '" + copy + "' --title 1 --angle " + std::to_string(angle) +
                              " --streams v0 -o '" + out + "'");
        ASSERT_EQ(made["files"].size(), 1u) << made.dump(1);
        const int count = made["frames"][0];
        EXPECT_GT(count, 0) << angle;
        EXPECT_LT(count, whole) << angle;
        total += count;
    }
    EXPECT_EQ(total, whole);  // the two angles share no picture and lose none
}

}  // namespace
}  // namespace strandis::test
