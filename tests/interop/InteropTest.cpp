// strandis-cli on program streams written by ffmpeg's DVD muxer and dvdauthor's spumux, with
// ffmpeg and ffprobe as the judges. The fixtures are committed (make_fixtures.sh makes them);
// the tests that run ffmpeg or ffprobe themselves are skipped when those are not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <tuple>

#include "testkit/HdDvdUnit.h"
#include "testkit/PsBuilder.h"
#include "tests/support/ScanHelpers.h"
#include "tests/support/Shell.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

std::string Fixture(const std::string& name) {
    return std::string(FIXTURES_DIR) + "/" + name;
}

// The streams ffprobe lists: id -> codec name.
std::map<int, std::string> ProbeStreams(const std::string& file) {
    const auto json =
        nlohmann::json::parse(Shell("ffprobe -v error -show_streams -of json '" + file + "'").out);
    std::map<int, std::string> streams;
    for (const auto& s : json["streams"])
        streams[std::stoi(s["id"].get<std::string>(), nullptr, 16)] = s["codec_name"];
    return streams;
}

// Each PES packet of a program stream of 2,048-byte packs, by where it starts and ends.
void ForEachPes(const Bytes& data,
                const std::function<void(std::size_t at, std::size_t end)>& visit) {
    for (std::size_t pack = 0; pack + 2048 <= data.size(); pack += 2048) {
        std::size_t at = pack + 14 + (data[pack + 13] & 7);  // behind the pack's stuffing
        while (at + 9 <= pack + 2048 && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1) {
            const std::size_t end = at + 6 + ((std::size_t{data[at + 4]} << 8) | data[at + 5]);
            visit(at, end);
            at = end;
        }
    }
}

// The video payload of a DVD program stream in the pieces a scanner of 262,144-byte blocks meets:
// PES payloads, cut again where a block ends. Returns the picture start code's last byte too.
std::vector<Bytes> VideoPieces(const Bytes& data, std::uint8_t& code) {
    std::vector<Bytes> pieces;
    ForEachPes(data, [&](std::size_t at, std::size_t end) {
        const std::uint8_t id = data[at + 3];
        if (id != 0xE0 && id != 0xE2) return;
        code = id == 0xE0 ? 0x00 : 0x09;
        for (std::size_t from = at + 9 + data[at + 8]; from < end;) {
            const std::size_t cut = std::min(end, (from / 262144 + 1) * 262144);
            pieces.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(from),
                                data.begin() + static_cast<std::ptrdiff_t>(cut));
            from = cut;
        }
    });
    return pieces;
}

// Counted on its own, a piece that opens with 01 <code> or 00 01 <code> counts one, and a start
// code split so that only its last byte opens the piece counts none. This gives how far that
// differs from the true count at every place where two pieces meet.
int ChunkBoundaryDifference(const std::string& file) {
    std::uint8_t code = 0;
    const std::vector<Bytes> pieces = VideoPieces(LoadFile(file), code);
    int difference = 0;
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        const Bytes& a = pieces[k - 1];
        const Bytes& b = pieces[k];
        Bytes joined(a.end() - static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, a.size())),
                     a.end());
        const std::size_t tail = joined.size();
        joined.insert(joined.end(), b.begin(),
                      b.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(3, b.size())));
        int truth = 0;  // true start codes that straddle the meeting point
        for (std::size_t s = 0; s + 4 <= joined.size(); ++s) {
            if (s < tail && s + 3 >= tail && joined[s] == 0 && joined[s + 1] == 0 &&
                joined[s + 2] == 1 && joined[s + 3] == code) {
                ++truth;
            }
        }
        int counted = 0;  // what counting the piece on its own finds at its start
        if (b.size() >= 2 && b[0] == 1 && b[1] == code) ++counted;
        if (b.size() >= 3 && b[0] == 0 && b[1] == 1 && b[2] == code) ++counted;
        difference += counted - truth;
    }
    return difference;
}

class InteropTest : public ::testing::Test {
protected:
    TempDir dir;

    nlohmann::json cli(const std::string& args) {
        const ShellRun run = Shell(std::string(STRANDIS_CLI) + " " + args + " --full --json 2>&1");
        EXPECT_EQ(run.exitCode, 0) << args << "\n" << run.out;
        return nlohmann::json::parse(run.out);
    }
    // One stream of `file` as ffmpeg writes it: a stream copy in `format`, or a decode to it.
    Bytes ffmpeg(const std::string& file, int id, const std::string& options) {
        const std::string out = dir.path("ffmpeg.out");
        Shell("ffmpeg -nostdin -y -v error -i '" + file + "' -map 0:i:" + std::to_string(id) + " " +
              options + " '" + out + "' 2>/dev/null");
        return LoadFile(out);
    }
    // The lines ffmpeg prints while decoding a file; none when it decodes cleanly.
    std::string decodeErrors(const std::string& input) {
        return Shell("ffmpeg -nostdin -v error " + input + " -f null - 2>&1").out;
    }
    void needFfmpeg() {
        if (!Installed("ffmpeg") || !Installed("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }
};

// A stream's id as ffprobe gives it: PES stream ids (video, MPEG audio) with 0x100, sub-stream ids
// as they are.
int ProbeId(const nlohmann::json& stream) {
    const int id = stream["id"];
    const bool pes = stream["kind"] == "video" ||
                     (id >= 0xC0 && id <= 0xC7 && stream.value("codec", "").starts_with("mp"));
    return pes ? 0x100 | id : id;
}

TEST_F(InteropTest, ScanListsTheStreamsFfprobeListsAndCountsItsFrames) {
    needFfmpeg();
    for (const char* name : {"mix.VOB", "pal.VOB", "avc.VOB", "dts.VOB", "lpcm.VOB"}) {
        const nlohmann::json report = cli("scan " + Fixture(name));
        std::set<int> ours;
        for (const auto& s : report["streams"])
            ours.insert(ProbeId(s));
        // Every stream ffprobe lists is ours, but for navigation; a sub-stream whose slot an
        // earlier one of another codec holds takes another.
        std::set<int> expected;
        for (const auto& [id, codec] : ProbeStreams(Fixture(name))) {
            if (id == 0x1BF) continue;
            expected.insert(id);
        }
        EXPECT_EQ(ours, expected) << name;

        const auto frames =
            nlohmann::json::parse(Shell("ffprobe -v error -count_frames -select_streams v:0 "
                                        "-show_entries stream=nb_read_frames -of json '" +
                                        Fixture(name) + "'")
                                      .out);
        // The scanner counts the start codes of each payload chunk on its own, as if zeros stood
        // in front of it; where chunks meet, that differs from the true count by what the
        // boundaries show.
        const int boundaryDifference = ChunkBoundaryDifference(Fixture(name));
        EXPECT_EQ(report["frames"][0].get<int>(),
                  std::stoi(frames["streams"][0]["nb_read_frames"].get<std::string>()) +
                      boundaryDifference)
            << name;
    }
}

// The facts of each listed stream are those ffprobe reads, field by field where ffprobe has the
// field, and each delay is the difference of the streams' start times.
TEST_F(InteropTest, StreamFactsAgreeWithFfprobe) {
    needFfmpeg();
    for (const char* name : {"mix.VOB", "pal.VOB", "avc.VOB", "dts.VOB", "lpcm.VOB"}) {
        SCOPED_TRACE(name);
        const nlohmann::json report = cli("scan " + Fixture(name));
        EXPECT_EQ(report["format_version"], 1);
        ASSERT_EQ(report["files"].size(), 1u);
        EXPECT_EQ(report["files"][0]["size_bytes"], std::filesystem::file_size(Fixture(name)));
        const auto probe = nlohmann::json::parse(
            Shell("ffprobe -v error -show_streams -of json '" + Fixture(name) + "'").out);
        std::map<int, nlohmann::json> probed;
        double videoStart = -1;
        for (const auto& s : probe["streams"]) {
            const int id = std::stoi(s["id"].get<std::string>(), nullptr, 16);
            probed[id] = s;
            if (s["codec_type"] == "video")
                videoStart = std::stod(s["start_time"].get<std::string>());
        }
        ASSERT_GE(videoStart, 0);
        for (const auto& ours : report["streams"]) {
            const int id = ProbeId(ours);
            SCOPED_TRACE(ours["id_hex"].get<std::string>());
            ASSERT_TRUE(probed.count(id));
            const nlohmann::json& theirs = probed[id];
            EXPECT_EQ(ours["codec"], theirs["codec_name"]);
            const double start = std::stod(theirs["start_time"].get<std::string>());
            EXPECT_NEAR(ours["first_pts"].get<double>() / 90.0, start * 1000.0, 0.001);
            EXPECT_NEAR(ours["delay_ms"].get<double>(), (start - videoStart) * 1000.0, 0.002);
            if (ours["kind"] == "video") {
                EXPECT_EQ(ours.value("width", 0), theirs["width"]);
                EXPECT_EQ(ours.value("height", 0), theirs["height"]);
                if (ours.contains("display_aspect_ratio")) {
                    EXPECT_EQ(ours["display_aspect_ratio"], theirs["display_aspect_ratio"]);
                }
                if (ours.contains("frame_rate")) {
                    EXPECT_EQ(ours["frame_rate"], theirs["r_frame_rate"]);
                }
            }
            if (ours["kind"] == "audio") {
                EXPECT_EQ(std::to_string(ours["sample_rate"].get<int>()), theirs["sample_rate"]);
                EXPECT_EQ(ours["channels"], theirs["channels"]);
                if (theirs.contains("bits_per_raw_sample")) {
                    EXPECT_EQ(std::to_string(ours["bits_per_sample"].get<int>()),
                              theirs["bits_per_raw_sample"]);
                }
                if (ours["codec"] != "pcm_dvd" && ours.contains("bit_rate")) {
                    EXPECT_EQ(std::to_string(ours["bit_rate"].get<std::int64_t>()),
                              theirs["bit_rate"]);
                }
            }
        }
    }
}

// LPCM as WAV decodes to exactly the samples ffmpeg decodes from the source, for 16 and 24 bits
// and 2 and 6 channels, and mkvmerge takes the files.
TEST_F(InteropTest, LpcmAsWavDecodesToTheSourcesSamples) {
    needFfmpeg();
    for (const auto& [channels, format] : std::vector<std::pair<int, std::string>>{
             {2, "s16"}, {2, "s32"}, {6, "s16"}, {6, "s32"}, {1, "s32"}}) {
        const std::string name = "lpcm" + std::to_string(channels) + format;
        SCOPED_TRACE(name);
        const std::string vob = dir.path(name + ".VOB");
        Shell(
            "ffmpeg -nostdin -y -v error -f lavfi -i "
            "anoisesrc=sample_rate=48000:amplitude=0.8:color=white:seed=7 -t 0.7 -ac " +
            std::to_string(channels) + " -c:a pcm_dvd -sample_fmt " + format + " -f vob '" + vob +
            "' 2>&1");
        const ShellRun run =
            Shell(std::string(STRANDIS_CLI) + " demux --lpcm-wav '" + vob + "' 2>&1");
        ASSERT_EQ(run.exitCode, 0) << run.out;
        const std::string wav = dir.path(name + ".LPCM.stream.00.wav");
        ASSERT_TRUE(std::filesystem::exists(wav)) << run.out;
        const auto decode = [](const std::string& file) {
            return Shell("ffmpeg -nostdin -v error -i '" + file + "' -f s32le - 2>/dev/null").out;
        };
        const std::string expected = decode(vob);
        EXPECT_GT(expected.size(), 48000u * 2);
        EXPECT_TRUE(decode(wav) == expected);
        EXPECT_EQ(decodeErrors("-i '" + wav + "'"), "");
        if (Installed("mkvmerge")) {
            const auto probe = nlohmann::json::parse(Shell("mkvmerge -J '" + wav + "'").out);
            EXPECT_TRUE(probe["container"]["recognized"].get<bool>());
            EXPECT_TRUE(probe["container"]["supported"].get<bool>());
            EXPECT_EQ(probe["tracks"][0]["properties"]["audio_channels"], channels);
        }
    }
}

// A subtitle stream's captions as ffprobe decodes them: start and end in seconds.
std::vector<std::pair<double, double>> Captions(const std::string& file,
                                                const std::string& stream) {
    const auto frames =
        nlohmann::json::parse(Shell("ffprobe -v error -show_frames -select_streams " + stream +
                                    " -of json '" + file + "'")
                                  .out);
    std::vector<std::pair<double, double>> captions;
    for (const auto& f : frames["frames"]) {
        const double pts = std::stod(f["pts_time"].get<std::string>());
        const int rects = f["num_rects"];
        const double from = f["start_display_time"].get<double>() / 1000.0;
        const double to = f["end_display_time"].get<double>();
        if (rects == 0) {  // PGS: a composition without objects ends the caption shown
            if (!captions.empty()) captions.back().second = pts;
            continue;
        }
        captions.emplace_back(pts + from, to < 4e9 ? pts + to / 1000.0 : -1);
    }
    return captions;
}

// The masks of the pixels a subtitle stream covers on a grey picture, one per run of frames
// (50 a second) that show the same: a caption's opaque pixels at their place.
std::vector<std::vector<int>> Masks(const std::string& file, const std::string& stream) {
    const std::string raw =
        Shell("ffmpeg -nostdin -v error -f lavfi -i color=c=0x808080:s=720x480:r=50:d=3 -i '" +
              file + "' -filter_complex '[0:v][1:" + stream +
              "]overlay=eof_action=pass,format=gray' -f rawvideo - 2>/dev/null")
            .out;
    const std::size_t frame = 720 * 480;
    std::vector<std::vector<int>> masks;
    std::vector<int> last;
    for (std::size_t at = 0; at + frame <= raw.size(); at += frame) {
        std::vector<int> covered;
        for (std::size_t k = 0; k < frame; ++k) {
            if (std::abs(static_cast<unsigned char>(raw[at + k]) - 128) > 8)
                covered.push_back(static_cast<int>(k));
        }
        if (covered != last && !covered.empty()) masks.push_back(covered);
        last = covered;
    }
    return masks;
}

// DVD subpictures as PGS and as VobSub: the same captions at the same times (within 1 ms, on
// the outputs' time base) and the same opaque pixels at the same place as ffmpeg's dvdsub
// decoder gives for the source; mkvmerge takes them, and muxes every output of the disc.
TEST_F(InteropTest, SubpicturesAsPgsAndVobSubShowWhatTheSourceShows) {
    needFfmpeg();
    const std::string source = dir.path("mix.VOB");
    std::filesystem::copy_file(Fixture("mix.VOB"), source);
    const nlohmann::json scan = cli("scan '" + source + "'");
    std::int64_t base = -1;  // the earliest audio or video time stamp: the outputs' zero
    for (const auto& s : scan["streams"]) {
        if (s["kind"] != "subpicture" && (base < 0 || s["first_pts"].get<std::int64_t>() < base))
            base = s["first_pts"];
    }
    for (const char* format : {"pgs", "vobsub"}) {
        std::filesystem::create_directory(dir.path(format));
        const ShellRun run = Shell(std::string(STRANDIS_CLI) + " demux --lpcm-wav --sub-format " +
                                   format + " -o '" + dir.path(format) + "' '" + source + "' 2>&1");
        ASSERT_EQ(run.exitCode, 0) << run.out;
    }
    for (const auto& [id, slot] :
         {std::pair<std::string, std::string>{"0x20", "00"}, {"0x21", "01"}}) {
        SCOPED_TRACE(id);
        const auto expected = Captions(source, "i:" + id);
        ASSERT_EQ(expected.size(), 2u);
        const std::string pgs = dir.path("pgs/mix.Subpicture." + slot + ".sup");
        const std::string idx = dir.path("vobsub/mix.Subpicture." + slot + ".idx");
        for (const std::string& output : {pgs, idx}) {
            SCOPED_TRACE(output);
            const auto got = Captions(output, "s:0");
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t k = 0; k < got.size(); ++k) {
                EXPECT_NEAR(got[k].first, expected[k].first - base / 90000.0, 0.001);
                EXPECT_NEAR(got[k].second, expected[k].second - base / 90000.0, 0.001);
            }
            // Decoding them says nothing.
            EXPECT_EQ(Shell("ffprobe -v error -show_frames '" + output + "' 2>&1 >/dev/null").out,
                      "");
            const auto probe = nlohmann::json::parse(Shell("mkvmerge -J '" + output + "'").out);
            if (Installed("mkvmerge")) {
                EXPECT_TRUE(probe["container"]["recognized"].get<bool>());
                EXPECT_TRUE(probe["container"]["supported"].get<bool>());
                // Muxed, every caption is in the Matroska file.
                const std::string mkv = dir.path("one.mkv");
                EXPECT_LT(Shell("mkvmerge -q -o '" + mkv + "' '" + output + "'").exitCode, 2);
                const auto packets = nlohmann::json::parse(
                    Shell("ffprobe -v error -count_packets -show_entries stream=nb_read_packets "
                          "-of json '" +
                          mkv + "'")
                        .out);
                // PGS: a display set to show each caption and one to clear it; VobSub: a unit.
                const std::size_t blocks = output == pgs ? 2 * got.size() : got.size();
                EXPECT_EQ(packets["streams"][0]["nb_read_packets"], std::to_string(blocks));
                std::filesystem::remove(mkv);
            }
        }
        const auto masks = Masks(source, "i:" + id);
        ASSERT_EQ(masks.size(), 2u);
        EXPECT_TRUE(Masks(pgs, "s:0") == masks);
        EXPECT_TRUE(Masks(idx, "s:0") == masks);
    }
    if (Installed("mkvmerge")) {
        std::string all;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path("pgs")))
            all += " '" + entry.path().string() + "'";
        const ShellRun mux = Shell("mkvmerge -q -o '" + dir.path("all.mkv") + "'" + all + " 2>&1");
        EXPECT_LT(mux.exitCode, 2) << mux.out;
        const auto tracks =
            nlohmann::json::parse(Shell("mkvmerge -J '" + dir.path("all.mkv") + "'").out);
        // Video, AC-3, DTS, two LPCM, MP2 (ffmpeg numbers each codec from its base: DTS 0x88,
        // LPCM 0xA0 and MP2 0xC0 take free slots), two subtitle streams.
        EXPECT_EQ(tracks["tracks"].size(), 8u);
    }
}

// Both chapter formats are what mkvmerge --chapters reads, and the chapters land at the
// playlist's times (frames of a 50 fps time base here).
TEST_F(InteropTest, ChapterFilesAreReadByMkvmerge) {
    needFfmpeg();
    if (!Installed("mkvmerge")) GTEST_SKIP() << "mkvmerge is not installed";
    const std::string playlist =
        R"(<Playlist displayName="Disc"><TitleSet timeBase="50fps" defaultLanguage="en">
<Title id="Main" displayName="Film" titleDuration="00:00:05:00"><PrimaryAudioVideoClip src="FEATURE_1.MAP"/>
<ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="One"/>
<Chapter titleTimeBegin="00:00:01:30" displayName="Two"/>
<Chapter titleTimeBegin="00:00:02:59" displayName="Three"/></ChapterList></Title></TitleSet></Playlist>)";
    SaveFile(dir.path("VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    Shell("ffmpeg -nostdin -y -v error -f lavfi -i sine=sample_rate=48000 -t 5 '" +
          dir.path("tone.wav") + "'");
    for (const char* format : {"xml", "ogm"}) {
        SCOPED_TRACE(format);
        const std::string chapters = dir.path(std::string("chapters.") + format);
        const ShellRun written = Shell(
            std::string(STRANDIS_CLI) + " xpl -q --chapters '" + chapters + "' --chapter-format " +
            format + " --source FEATURE_1.EVO '" + dir.path("VPLST000.XPL") + "' 2>&1");
        ASSERT_EQ(written.exitCode, 0) << written.out;
        const std::string mkv = dir.path(std::string("chapters-") + format + ".mkv");
        const ShellRun mux = Shell("mkvmerge -q -o '" + mkv + "' --chapters '" + chapters + "' '" +
                                   dir.path("tone.wav") + "' 2>&1");
        ASSERT_LT(mux.exitCode, 2) << mux.out;
        const auto probe = nlohmann::json::parse(
            Shell("ffprobe -v error -show_chapters -of json '" + mkv + "'").out);
        ASSERT_EQ(probe["chapters"].size(), 3u);
        const double starts[] = {0.0, 1.6, 3.18};
        const char* names[] = {"One", "Two", "Three"};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(std::stod(probe["chapters"][k]["start_time"].get<std::string>()), starts[k],
                        0.001);
            EXPECT_EQ(probe["chapters"][k]["tags"]["title"], names[k]);
        }
    }
}

// The delays a demux reports are where ffprobe says the streams start in the source, against the
// earliest of them, for an ffmpeg-made VOB whose audio starts a few milliseconds before its
// video, and for the same cut at a pack boundary in mid-stream (as a VTS_nn_2.VOB is).
TEST_F(InteropTest, DemuxDelaysAreTheSourcesStartTimes) {
    needFfmpeg();
    const Bytes whole = LoadFile(Fixture("pal.VOB"));
    const std::size_t cut = (whole.size() / 2048 / 2) * 2048;
    SaveFile(dir.path("cut.VOB"),
             Bytes(whole.begin() + static_cast<std::ptrdiff_t>(cut), whole.end()));
    std::filesystem::copy_file(Fixture("pal.VOB"), dir.path("pal.VOB"));
    for (const char* name : {"pal.VOB", "cut.VOB"}) {
        SCOPED_TRACE(name);
        const std::string source = dir.path(name);
        const ShellRun run = Shell(std::string(STRANDIS_CLI) +
                                   " demux --json --streams v0,a0,a1 '" + source + "' 2>/dev/null");
        ASSERT_EQ(run.exitCode, 0);
        const auto report = nlohmann::json::parse(run.out);
        const auto probe = nlohmann::json::parse(
            Shell("ffprobe -v error -show_streams -of json '" + source + "'").out);
        std::map<std::string, double> starts;  // by ffprobe's id
        for (const auto& s : probe["streams"])
            starts[s["id"]] = std::stod(s["start_time"].get<std::string>());
        // The streams written, by their captions: the cut file meets its LPCM first, which then
        // takes audio slot 0.
        const std::map<std::string, std::string> ids{{"MPEG-2.stream.0", "0x1e0"},
                                                     {"DD.stream.00", "0x80"},
                                                     {"LPCM.stream.00", "0xa0"},
                                                     {"DD.stream.01", "0x81"}};
        std::vector<std::pair<double, double>> written;  // ours, ffprobe's start
        for (const auto& file : report["files"]) {
            const std::string path = file["path"];
            for (const auto& [caption, id] : ids) {
                if (path.find("." + caption + ".") != std::string::npos)
                    written.emplace_back(file["delay_ms"].get<double>(), starts.at(id));
            }
        }
        ASSERT_EQ(written.size(), 3u);
        double earliest = 1e9;
        for (const auto& [ours, theirs] : written)
            earliest = std::min(earliest, theirs);
        for (const auto& [ours, theirs] : written)
            EXPECT_NEAR(ours, (theirs - earliest) * 1000.0, 1.0);
    }
}

// Each packet of each stream of `file` that has a time stamp, by codec name: its time and the MD5
// of its data, as ffprobe reads them.
std::map<std::string, std::vector<std::pair<double, std::string>>> PacketHashes(
    const std::string& file) {
    const auto json = nlohmann::json::parse(
        Shell("ffprobe -v error -show_data_hash MD5 -show_entries "
              "packet=stream_index,pts_time,data_hash:stream=index,codec_name -of json '" +
              file + "'")
            .out);
    std::map<int, std::string> codecs;
    for (const auto& s : json["streams"])
        codecs[s["index"]] = s["codec_name"];
    std::map<std::string, std::vector<std::pair<double, std::string>>> packets;
    for (const auto& p : json["packets"]) {
        if (p.contains("pts_time"))
            packets[codecs[p["stream_index"]]].emplace_back(
                std::stod(p["pts_time"].get<std::string>()), p["data_hash"]);
    }
    return packets;
}

// A VOB cut at a pack boundary inside a group of pictures and inside an AC-3 and a DTS frame:
// every track of the .mkv lies where its units lie in the uncut source, all moved by the same
// time. The units are found again by their bytes (video pictures, AC-3 and DTS frames) or, for
// LPCM, by the samples ffmpeg decodes; the noise makes every unit unlike the others.
TEST_F(InteropTest, MkvOfAStreamCutMidGroupKeepsTheTracksInSync) {
    needFfmpeg();
    if (!Installed("mkvmerge")) GTEST_SKIP() << "mkvmerge is not installed";
    const std::string whole = dir.path("whole.VOB");
    Shell(
        "ffmpeg -nostdin -y -v error -fflags +bitexact -flags +bitexact -f lavfi "
        "-i testsrc=size=720x480:rate=30000/1001 -f lavfi "
        "-i anoisesrc=sample_rate=48000:seed=7:amplitude=0.3 -t 3 -map 0:v -map 1:a -map 1:a "
        "-map 1:a -c:v mpeg2video -b:v 3M -g 15 -bf 2 -c:a:0 ac3 -b:a:0 448k -ac:a:0 2 "
        "-c:a:1 dca -strict -2 -ac:a:1 2 -c:a:2 pcm_s16be -ac:a:2 2 -f dvd -muxrate 10080000 '" +
        whole + "' 2>/dev/null");
    const Bytes data = LoadFile(whole);
    ASSERT_GT(data.size(), 400u * 2048);
    const std::size_t cut = data.size() / 2048 / 2 * 2048;
    const std::string source = dir.path("cut.VOB");
    SaveFile(source, Bytes(data.begin() + static_cast<std::ptrdiff_t>(cut), data.end()));
    const std::string mkv = dir.path("cut.mkv");
    const ShellRun run =
        Shell(std::string(STRANDIS_CLI) + " mkv '" + source + "' -o '" + mkv + "' 2>&1");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    // The cut falls inside a group and inside a frame of each coded audio stream.
    EXPECT_NE(run.out.find("before its first sequence header are left out"), std::string::npos);
    EXPECT_NE(run.out.find("DD.stream.15: the "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("DTSHD.stream.14: the "), std::string::npos) << run.out;

    // The shift of each coded track: the .mkv's time of a unit less the source's, on average
    // over its first units found in the source (the .mkv keeps whole milliseconds).
    const auto inMkv = PacketHashes(mkv);
    const auto inSource = PacketHashes(whole);
    std::map<std::string, double> shift;
    for (const char* codec : {"mpeg2video", "ac3", "dts"}) {
        SCOPED_TRACE(codec);
        ASSERT_TRUE(inMkv.count(codec) && inSource.count(codec));
        std::map<std::string, double> sourceTime;
        for (const auto& [time, hash] : inSource.at(codec))
            sourceTime.emplace(hash, time);
        double sum = 0;
        int found = 0;
        for (const auto& [time, hash] : inMkv.at(codec)) {
            if (found == 10) break;
            if (!sourceTime.count(hash)) continue;
            sum += time - sourceTime.at(hash);
            ++found;
        }
        ASSERT_GE(found, 5);
        shift[codec] = sum / found;
    }
    // LPCM: where the .mkv's first samples lie among the source's.
    Shell("ffmpeg -nostdin -y -v error -i '" + mkv + "' -map 0:a:0 -f s16le '" +
          dir.path("mkv.pcm") + "'");
    Shell("ffmpeg -nostdin -y -v error -i '" + whole + "' -map 0:i:0xa0 -f s16le '" +
          dir.path("source.pcm") + "'");
    const Bytes ours = LoadFile(dir.path("mkv.pcm"));
    const Bytes theirs = LoadFile(dir.path("source.pcm"));
    ASSERT_GT(ours.size(), 1024u);
    const auto at = std::search(theirs.begin(), theirs.end(), ours.begin(), ours.begin() + 1024);
    ASSERT_NE(at, theirs.end());
    const auto firstTime = [&](const std::string& file, const std::string& stream) {
        return std::stod(Shell("ffprobe -v error -select_streams " + stream +
                               " -show_entries packet=pts_time -of csv=p=0 '" + file +
                               "' | head -1")
                             .out);
    };
    const double sampleTime =
        firstTime(whole, "i:0xa0") + static_cast<double>(at - theirs.begin()) / 4 / 48000;
    shift["pcm"] = firstTime(mkv, "a:0") - sampleTime;

    for (const auto& [codec, time] : shift)
        EXPECT_NEAR((time - shift.at("mpeg2video")) * 1000, 0, 1.5) << codec;
}

// "mkv": a Matroska file from an ffmpeg-made VOB and a playlist with a decoy first title: the
// playlist's names, languages, forced flag, order, title and chapters, and every track starting
// where ffprobe says it starts in the source (mkvmerge keeps whole milliseconds).
TEST_F(InteropTest, MkvMakesThePlayableFileWithThePlaylistsFacts) {
    needFfmpeg();
    if (!Installed("mkvmerge")) GTEST_SKIP() << "mkvmerge is not installed";
    const std::string source = dir.path("mix.VOB");
    std::filesystem::copy_file(Fixture("mix.VOB"), source);
    const std::string playlist = R"(<Playlist displayName="Disc"><MediaAttributeList>
<VideoAttributeItem index="1" codec="MPEG-2"/><AudioAttributeItem index="1" codec="DD" channels="6"/>
<AudioAttributeItem index="2" codec="LPCM" channels="2"/><SubpictureAttributeItem index="1" codec="2bitRLE"/>
</MediaAttributeList><TitleSet timeBase="60fps" defaultLanguage="en">
<Title id="Menu" displayName="Menu" titleDuration="00:00:02:00"><PrimaryAudioVideoClip src="MENU.MAP"/></Title>
<Title id="Main" displayName="The Mix" titleDuration="00:00:02:00"><PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/mix.MAP">
<Video track="1" mediaAttr="1"/>
<Audio track="1" streamNumber="2" mediaAttr="2" description="Music" langcode="fr:00"/>
<Audio track="2" streamNumber="1" mediaAttr="1" description="Surround" langcode="en:00"/>
<Subtitle track="1" streamNumber="2" mediaAttr="1" description="Signs" langcode="de:00" forced="true"/>
<Subtitle track="2" streamNumber="1" mediaAttr="1" description="Full" langcode="de:00"/>
</PrimaryAudioVideoClip><ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="Start"/>
<Chapter titleTimeBegin="00:00:01:30" displayName="Half"/></ChapterList></Title></TitleSet></Playlist>)";
    SaveFile(dir.path("VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    const ShellRun run = Shell(std::string(STRANDIS_CLI) + " mkv --json --playlist '" +
                               dir.path("VPLST000.XPL") + "' '" + source + "' 2>&1");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const std::string mkv = dir.path("mix.mkv");
    ASSERT_TRUE(std::filesystem::exists(mkv));
    for (const auto& entry : std::filesystem::directory_iterator(dir.root()))
        EXPECT_EQ(entry.path().filename().string().rfind(".strandis-", 0), std::string::npos);

    const auto info = nlohmann::json::parse(Shell("mkvmerge -J '" + mkv + "'").out);
    EXPECT_EQ(info["container"]["properties"]["title"], "The Mix");
    EXPECT_EQ(info["chapters"][0]["num_entries"], 2);
    const std::vector<std::tuple<std::string, std::string, std::string, bool>> expected{
        {"MPEG-1/2", "", "und", false},
        {"PCM", "Music", "fre", false},
        {"AC-3", "Surround", "eng", false},
        {"HDMV PGS", "Signs", "ger", true},
        {"HDMV PGS", "Full", "ger", false}};
    ASSERT_EQ(info["tracks"].size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const auto& track = info["tracks"][k];
        const auto& [codec, name, language, forced] = expected[k];
        EXPECT_EQ(track["codec"], codec) << k;
        if (!name.empty()) {
            EXPECT_EQ(track["properties"]["track_name"], name) << k;
        }
        EXPECT_EQ(track["properties"]["language"], language) << k;
        EXPECT_EQ(track["properties"].value("forced_track", false), forced) << k;
    }
    EXPECT_TRUE(info["tracks"][1]["properties"]["default_track"].get<bool>());
    EXPECT_FALSE(info["tracks"][2]["properties"]["default_track"].get<bool>());

    // Start times: the source's, less the earliest audio or video start (the subpictures' time
    // base, which counts every audio stream of the source, the MP2 one unticked here too).
    const auto probe = [](const std::string& file) {
        return nlohmann::json::parse(
            Shell("ffprobe -v error -show_streams -of json '" + file + "'").out)["streams"];
    };
    std::map<std::string, double> sourceStarts;
    double earliest = 1e9;
    for (const auto& s : probe(source)) {
        sourceStarts[s["id"]] = std::stod(s["start_time"].get<std::string>());
        if (s["id"] == "0x1e0" || s["id"] == "0x80" || s["id"] == "0xa1" || s["id"] == "0x1c0")
            earliest = std::min(earliest, sourceStarts[s["id"]]);
    }
    const std::vector<std::string> ids{"0x1e0", "0xa1", "0x80", "0x21", "0x20"};
    const auto mkvStreams = probe(mkv);
    ASSERT_EQ(mkvStreams.size(), ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) {
        EXPECT_NEAR(std::stod(mkvStreams[k]["start_time"].get<std::string>()),
                    sourceStarts[ids[k]] - earliest, 0.001)
            << ids[k];
    }
    const auto chapters = nlohmann::json::parse(
        Shell("ffprobe -v error -show_chapters -of json '" + mkv + "'").out)["chapters"];
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_NEAR(std::stod(chapters[1]["start_time"].get<std::string>()), 1.5, 0.001);

    // Cut at a pack boundary mid-stream, as a VTS_nn_2.VOB is: the audio tracks still start
    // where ffprobe says they start in the cut file, against each other (its LPCM, met first,
    // takes audio slot 0). The video, cut mid-group, starts at its first sequence header: see
    // MkvOfAStreamCutMidGroupKeepsTheTracksInSync.
    const Bytes whole = LoadFile(Fixture("pal.VOB"));
    const std::size_t cut = (whole.size() / 2048 / 2) * 2048;
    SaveFile(dir.path("cut.VOB"),
             Bytes(whole.begin() + static_cast<std::ptrdiff_t>(cut), whole.end()));
    ASSERT_EQ(Shell(std::string(STRANDIS_CLI) + " mkv -q --streams v0,a0,a1 '" +
                    dir.path("cut.VOB") + "'")
                  .exitCode,
              0);
    std::map<std::string, double> cutStarts;
    for (const auto& s : probe(dir.path("cut.VOB")))
        cutStarts[s["id"]] = std::stod(s["start_time"].get<std::string>());
    const auto cutStreams = probe(dir.path("cut.mkv"));
    ASSERT_EQ(cutStreams.size(), 3u);
    EXPECT_NEAR(std::stod(cutStreams[2]["start_time"].get<std::string>()) -
                    std::stod(cutStreams[1]["start_time"].get<std::string>()),
                cutStarts["0x81"] - cutStarts["0xa0"], 0.001);

    // What fails says so and leaves no Matroska file under the final name.
    const ShellRun again = Shell(std::string(STRANDIS_CLI) + " mkv '" + source + "' 2>&1");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.out.find("exists already"), std::string::npos);
    const ShellRun noFolder = Shell(std::string(STRANDIS_CLI) + " mkv -o '" +
                                    dir.path("none/x.mkv") + "' '" + source + "' 2>&1");
    EXPECT_EQ(noFolder.exitCode, 1);
    EXPECT_NE(noFolder.out.find("its folder does not exist"), std::string::npos);
    const ShellRun noMkvmerge = Shell("PATH=/nonexistent " + std::string(STRANDIS_CLI) +
                                      " mkv -o '" + dir.path("y.mkv") + "' '" + source + "' 2>&1");
    EXPECT_EQ(noMkvmerge.exitCode, 1);
    EXPECT_NE(noMkvmerge.out.find("mkvmerge is not installed"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path("y.mkv")));
}

TEST_F(InteropTest, TheSystemHeaderBoundsAreReported) {
    for (const char* name :
         {"mix.VOB", "pal.VOB", "dts.VOB"}) {  // avc.VOB is shorter than one block
        // The first system header of the file, read by its syntax: behind the start code, the
        // header length (2 bytes) and rate_bound (3), audio_bound in the top six bits of the
        // next byte and video_bound in the low five of the one after.
        const Bytes data = LoadFile(Fixture(name));
        std::size_t at = 0;
        while (at + 12 < data.size() &&
               !(data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1 && data[at + 3] == 0xBB))
            ++at;
        ASSERT_LT(at + 12, data.size()) << name;
        const int audio = data[at + 9] >> 2, video = data[at + 10] & 0x1F;
        const nlohmann::json report = cli("scan --no-details " + Fixture(name));
        const std::string line = "It contains " + std::to_string(video) + " video stream" +
                                 (video > 1 ? "s" : "") + " and " + std::to_string(audio) +
                                 " audio stream" + (audio > 1 ? "s." : ".");
        EXPECT_EQ(report["log"][2], line) << name;
    }
}

TEST_F(InteropTest, DemuxedStreamsEqualFfmpegsCopiesAndDecodeCleanly) {
    needFfmpeg();
    const std::string out = dir.root().string();
    const auto written = [&](const std::string& name) { return LoadFile(dir.path(name)); };

    cli("demux -o " + out + " " + Fixture("mix.VOB"));
    EXPECT_EQ(written("mix.MPEG-2.stream.0.mpv"),
              ffmpeg(Fixture("mix.VOB"), 0x1E0, "-c copy -f mpeg2video"));
    // AC-3 0x80 holds audio slot 0: neither DTS 0x88 nor LPCM 0xA0 (same slot) nor MP2 reach it.
    EXPECT_EQ(written("mix.DD.stream.00.mpa"), ffmpeg(Fixture("mix.VOB"), 0x80, "-c copy -f ac3"));
    EXPECT_EQ(written("mix.LPCM.stream.01.mpa"), ffmpeg(Fixture("mix.VOB"), 0xA1, "-f s16be"));
    EXPECT_EQ(decodeErrors("-f mpegvideo -i " + dir.path("mix.MPEG-2.stream.0.mpv")), "");
    EXPECT_EQ(decodeErrors("-f ac3 -i " + dir.path("mix.DD.stream.00.mpa")), "");
    EXPECT_EQ(decodeErrors("-f s16be -ar 48000 -ac 2 -i " + dir.path("mix.LPCM.stream.01.mpa")),
              "");

    cli("demux -o " + out + " " + Fixture("avc.VOB"));
    EXPECT_EQ(written("avc.H.264.stream.0.mpv"),
              ffmpeg(Fixture("avc.VOB"), 0x1E2, "-c copy -f h264"));
    EXPECT_EQ(written("avc.DD.stream.00.mpa"), ffmpeg(Fixture("avc.VOB"), 0x80, "-c copy -f ac3"));
    EXPECT_EQ(decodeErrors("-f h264 -i " + dir.path("avc.H.264.stream.0.mpv")), "");

    cli("demux -o " + out + " " + Fixture("dts.VOB"));
    EXPECT_EQ(written("dts.DTSHD.stream.00.mpa"),
              ffmpeg(Fixture("dts.VOB"), 0x88, "-c copy -f dts"));
    EXPECT_EQ(decodeErrors("-f dts -i " + dir.path("dts.DTSHD.stream.00.mpa")), "");

    cli("demux -o " + out + " " + Fixture("pal.VOB"));
    EXPECT_EQ(written("pal.DD.stream.00.mpa"), ffmpeg(Fixture("pal.VOB"), 0x80, "-c copy -f ac3"));
    EXPECT_EQ(written("pal.DD.stream.01.mpa"), ffmpeg(Fixture("pal.VOB"), 0x81, "-c copy -f ac3"));
    EXPECT_EQ(decodeErrors("-f ac3 -i " + dir.path("pal.DD.stream.01.mpa")), "");

    cli("demux -o " + out + " " + Fixture("lpcm.VOB"));
    EXPECT_EQ(written("lpcm.LPCM.stream.00.mpa"), ffmpeg(Fixture("lpcm.VOB"), 0xA0, "-f s16be"));
    EXPECT_EQ(decodeErrors("-f s16be -ar 48000 -ac 6 -i " + dir.path("lpcm.LPCM.stream.00.mpa")),
              "");
}

TEST_F(InteropTest, SupRecordsHoldWholeDvdUnits) {
    const std::string out = dir.root().string();
    const nlohmann::json report = cli("demux --streams s0,s1 -o " + out + " " + Fixture("mix.VOB"));
    ASSERT_EQ(report["files"].size(), 2u);
    for (const auto& file : report["files"]) {
        const auto units = WalkSup(LoadFile(file["path"]));
        std::uint32_t lastPts = 0;
        for (const auto& [pts, unit] : units) {
            EXPECT_GT(pts, lastPts);
            lastPts = pts;
            ASSERT_GT(unit.size(), 4u);
            // Its control sequence table lies inside the unit.
            const std::size_t control = (std::size_t{unit[2]} << 8) | unit[3];
            EXPECT_LT(control, unit.size());
        }
        EXPECT_EQ(units.size(), 2u) << file["path"];
    }
}

TEST_F(InteropTest, RebuildWithoutOneAudioStreamKeepsTheOthersIntact) {
    needFfmpeg();
    const std::string source = Fixture("pal.VOB");
    const nlohmann::json report =
        cli("rebuild --streams -a0 -o " + dir.root().string() + " " + source);
    const std::string rebuilt = report["files"][0]["path"];

    // Exactly the packs of the dropped stream are gone.
    const Bytes data = LoadFile(source);
    std::size_t dropped = 0;
    for (std::size_t at = 0; at + 2048 <= data.size(); at += 2048) {
        const std::uint8_t* pack = data.data() + at;
        if (pack[17] == 0xBD && pack[23 + pack[22]] == 0x80) ++dropped;
    }
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(std::filesystem::file_size(rebuilt), data.size() - 2048 * dropped);

    // ffprobe reads the rest; the stereo AC-3 that was 0x81 is now 0x80, the LPCM kept.
    const auto streams = ProbeStreams(rebuilt);
    EXPECT_EQ(streams.count(0x1E0), 1u);
    EXPECT_EQ(streams.at(0x80), "ac3");
    EXPECT_EQ(std::count_if(streams.begin(), streams.end(),
                            [](const auto& s) { return s.second == "ac3"; }),
              1);
    int lpcm = -1;
    for (const auto& [id, codec] : streams) {
        if (codec == "pcm_dvd") lpcm = id;
    }
    ASSERT_NE(lpcm, -1);
    EXPECT_EQ(ffmpeg(rebuilt, 0x1E0, "-c copy -f mpeg2video"),
              ffmpeg(source, 0x1E0, "-c copy -f mpeg2video"));
    EXPECT_EQ(ffmpeg(rebuilt, 0x80, "-c copy -f ac3"), ffmpeg(source, 0x81, "-c copy -f ac3"));
    EXPECT_EQ(ffmpeg(rebuilt, lpcm, "-f s16be"), ffmpeg(source, 0xA0, "-f s16be"));
}

// A two-file HD DVD feature made by the test: ffmpeg's MPEG-2 video, E-AC-3, AC-3, DTS, TrueHD
// and 16-bit LPCM, and spumux's subtitles as a subpicture and an extended subpicture stream, cut
// into their units by their own headers and packed with time stamps we choose, then split at a
// pack boundary into FEATURE_1.EVO and FEATURE_2.EVO. An 8-bit HD DVD subpicture unit appears
// only in the second file.
enum class Es { Video, Ac3, Eac3, Dts, TrueHd, Lpcm };

// One access unit (a picture with its headers, an audio frame) and its time stamp.
struct EsUnit {
    std::size_t at = 0;
    std::size_t size = 0;
    std::uint64_t pts = 0;
};

std::vector<EsUnit> EsUnits(const Bytes& es, Es kind, std::uint64_t start) {
    std::vector<EsUnit> units;
    if (kind == Es::Video) {
        // A picture starts with the sequence or GOP header in front of it, if any.
        std::vector<std::size_t> starts;
        bool headers = false;
        for (std::size_t k = 0; k + 3 < es.size(); ++k) {
            if (es[k] != 0 || es[k + 1] != 0 || es[k + 2] != 1) continue;
            const std::uint8_t code = es[k + 3];
            if (code == 0xB3 || code == 0xB8) {
                if (!headers) starts.push_back(k);
                headers = true;
            } else if (code == 0x00) {
                if (!headers) starts.push_back(k);
                headers = false;
            }
        }
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : es.size();
            units.push_back({starts[k], end - starts[k], start + 3600 * k});  // 25 pictures/s
        }
        return units;
    }
    std::uint64_t pts = start;
    for (std::size_t at = 0; at < es.size();) {
        const std::uint8_t* b = es.data() + at;
        std::size_t size = 0;
        std::uint64_t ticks = 0;
        switch (kind) {
            case Es::Ac3:  // 192 kbit/s at 48 kHz: 768 bytes, 1536 samples
                size = 768;
                ticks = 2880;
                break;
            case Es::Eac3:  // frmsiz, six blocks of 256 samples
                size = ((((b[2] & 7u) << 8) | b[3]) + 1) * 2;
                ticks = 2880;
                break;
            case Es::Dts:  // FSIZE and NBLKS
                size = ((((b[5] & 3u) << 12) | (b[6] << 4) | (b[7] >> 4)) + 1);
                ticks = (((((b[4] & 1u) << 6) | (b[5] >> 2)) + 1) * 32) * 90000 / 48000;
                break;
            case Es::TrueHd:  // access unit length in 16-bit words; 40 samples at 48 kHz
                size = ((((b[0] & 0x0Fu) << 8) | b[1])) * 2;
                ticks = 75;
                break;
            case Es::Lpcm:  // 480 stereo 16-bit samples
                size = 1920;
                ticks = 900;
                break;
            case Es::Video:
                break;
        }
        if (size == 0) break;
        size = std::min(size, es.size() - at);
        units.push_back({at, size, pts});
        pts += ticks;
        at += size;
    }
    return units;
}

// A PES packet of the feature: whole units while they fit, a unit too big for one packet in
// pieces of which the first carries the time stamp.
struct FeaturePacket {
    std::uint8_t id = 0;  // 0xE0, or the private stream 1 sub-stream id
    Bytes payload;
    std::optional<std::uint64_t> pts;
    std::uint64_t key = 0;  // where it goes in the multiplex
};

void AddPackets(std::vector<FeaturePacket>& packets, std::uint8_t id, const Bytes& es,
                const std::vector<EsUnit>& units) {
    constexpr std::size_t kMax = 2000;
    for (std::size_t k = 0; k < units.size();) {
        FeaturePacket packet{id, {}, units[k].pts, units[k].pts};
        const auto take = [&](std::size_t from, std::size_t size) {
            packet.payload.insert(packet.payload.end(),
                                  es.begin() + static_cast<std::ptrdiff_t>(from),
                                  es.begin() + static_cast<std::ptrdiff_t>(from + size));
        };
        if (units[k].size > kMax) {
            for (std::size_t done = 0; done < units[k].size; done += kMax) {
                take(units[k].at + done, std::min(kMax, units[k].size - done));
                packets.push_back(packet);
                packet.payload.clear();
                packet.pts.reset();
            }
            ++k;
            continue;
        }
        while (k < units.size() && packet.payload.size() + units[k].size <= kMax) {
            take(units[k].at, units[k].size);
            ++k;
        }
        packets.push_back(packet);
    }
}

// The subpicture packets of one sub-stream of a DVD program stream: payload behind the
// sub-stream id, and the PES time stamp.
std::vector<FeaturePacket> SubpicturePackets(const Bytes& data, std::uint8_t subId) {
    std::vector<FeaturePacket> packets;
    ForEachPes(data, [&](std::size_t at, std::size_t end) {
        const std::size_t payload = at + 9 + data[at + 8];
        if (data[at + 3] != 0xBD || data[payload] != subId) return;
        FeaturePacket packet{subId, Bytes(data.begin() + static_cast<std::ptrdiff_t>(payload + 1),
                                          data.begin() + static_cast<std::ptrdiff_t>(end))};
        if (data[at + 7] & 0x80) {
            const std::uint8_t* t = data.data() + at + 9;
            packet.pts = (std::uint64_t{t[0] & 0x0Eu} << 29) | (std::uint64_t{t[1]} << 22) |
                         (std::uint64_t{t[2] & 0xFEu} << 14) | (std::uint64_t{t[3]} << 7) |
                         (t[4] >> 1);
        }
        packets.push_back(packet);
    });
    return packets;
}

TEST_F(InteropTest, MkvOfATwoFileHdDvdFeature) {
    needFfmpeg();
    if (!Installed("mkvmerge")) GTEST_SKIP() << "mkvmerge is not installed";
    const auto make = [&](const std::string& name, const std::string& options) {
        const std::string path = dir.path(name);
        Shell("ffmpeg -nostdin -y -v error -fflags +bitexact " + options + " -t 3 '" + path +
              "' 2>&1");
        return LoadFile(path);
    };
    const std::string tone = "-f lavfi -i sine=frequency=440:sample_rate=48000 -ac 2 ";
    const Bytes video = make("v.m2v",
                             "-f lavfi -i testsrc=size=720x576:rate=25 -c:v mpeg2video "
                             "-b:v 2M -g 12 -bf 0 -f mpeg2video");
    const Bytes ac3 = make("a.ac3", tone + "-c:a ac3 -b:a 192k -f ac3");
    const Bytes eac3 = make("a.eac3", tone + "-c:a eac3 -b:a 192k -f eac3");
    const Bytes dts = make("a.dts", tone + "-c:a dca -strict -2 -b:a 768k -f dts");
    const Bytes truehd = make("a.thd", tone + "-c:a truehd -strict -2 -f truehd");
    const Bytes lpcm = make("a.pcm", tone + "-c:a pcm_s16be -f s16be");
    for (const Bytes* es : {&video, &ac3, &eac3, &dts, &truehd, &lpcm})
        ASSERT_GT(es->size(), 10000u);

    // The first starts: AC-3 20 ms before the video, the others after it.
    constexpr std::uint64_t kVideo = 90000;
    const std::map<std::uint8_t, std::uint64_t> first{{0xE0, kVideo},       {0x81, kVideo - 1800},
                                                      {0xC0, kVideo},       {0x8A, kVideo + 900},
                                                      {0xB4, kVideo + 450}, {0xA3, kVideo + 2700}};
    std::vector<FeaturePacket> packets;
    AddPackets(packets, 0xE0, video, EsUnits(video, Es::Video, first.at(0xE0)));
    AddPackets(packets, 0x81, ac3, EsUnits(ac3, Es::Ac3, first.at(0x81)));
    AddPackets(packets, 0xC0, eac3, EsUnits(eac3, Es::Eac3, first.at(0xC0)));
    AddPackets(packets, 0x8A, dts, EsUnits(dts, Es::Dts, first.at(0x8A)));
    AddPackets(packets, 0xB4, truehd, EsUnits(truehd, Es::TrueHd, first.at(0xB4)));
    AddPackets(packets, 0xA3, lpcm, EsUnits(lpcm, Es::Lpcm, first.at(0xA3)));
    // spumux's two caption streams: 0x20 stays a subpicture, 0x21 becomes the extended
    // subpicture 0x61; both move to start 0.2 s after the video.
    const Bytes mix = LoadFile(Fixture("mix.VOB"));
    std::map<std::uint8_t, std::uint64_t> subStart;
    for (const auto& [from, to] :
         {std::pair<std::uint8_t, std::uint8_t>{0x20, 0x20}, {0x21, 0x61}}) {
        std::vector<FeaturePacket> subs = SubpicturePackets(mix, from);
        ASSERT_FALSE(subs.empty());
        ASSERT_TRUE(subs.front().pts);
        const std::uint64_t shift = kVideo + 18000 - *subs.front().pts;
        std::uint64_t key = 0;
        for (FeaturePacket& p : subs) {
            p.id = to;
            if (p.pts) *p.pts += shift;
            key = p.pts.value_or(key);
            p.key = key;
            packets.push_back(p);
        }
        subStart[to] = *subs.front().pts;
    }
    // An HD DVD unit (8-bit runs): only in the second file, 2 s in, on the 720x576 picture.
    HdDvdCaption high;
    high.x = 100, high.y = 400, high.width = 200, high.height = 40;
    for (int k = 0; k < high.width * high.height; ++k)
        high.pixels.push_back(static_cast<std::uint8_t>(k % 200 < 100 ? 7 : 200));
    high.palette[7] = {235, 128, 128};
    high.palette[200] = {81, 90, 240};
    high.stopDelay = 50;
    packets.push_back({0x22, MakeHdDvdUnit(high), kVideo + 180000, kVideo + 180000});
    // Packets without their own time stamp follow the one before them.
    std::uint64_t key = 0;
    for (FeaturePacket& p : packets)
        p.key = key = p.pts ? p.key : key;
    std::stable_sort(packets.begin(), packets.end(),
                     [](const FeaturePacket& a, const FeaturePacket& b) { return a.key < b.key; });

    PsBuilder ps;
    for (const FeaturePacket& p : packets) {
        ps.pack(p.key > 9000 ? p.key - 9000 : 0);
        if (p.id == 0xE0) {
            ps.video(0xE0, p.payload, p.pts);
        } else if (p.id < 0x80) {
            ps.subpicture(p.id, p.payload, p.pts);
        } else {
            // Sub-stream id, frame count, first access unit pointer; TrueHD has one byte more,
            // LPCM three of codes (16-bit, 48 kHz, L + R).
            Bytes data{p.id, 0x01, 0x00, 0x01};
            if (p.id == 0xA3) data = {p.id, 0x01, 0x00, 0x00, 0x00, 0x01, 0x80};
            if (p.id == 0xB4) data.push_back(0x00);
            data.insert(data.end(), p.payload.begin(), p.payload.end());
            ps.pes(0xBD, {.pts = p.pts}, data);
        }
        ps.padTo(2048);
        ASSERT_EQ(ps.size() % 2048, 0u);
    }
    const Bytes& feature = ps.bytes();
    const std::size_t cut = feature.size() / 2048 / 2 * 2048;
    SaveFile(dir.path("FEATURE_1.EVO"),
             Bytes(feature.begin(), feature.begin() + static_cast<std::ptrdiff_t>(cut)));
    SaveFile(dir.path("FEATURE_2.EVO"),
             Bytes(feature.begin() + static_cast<std::ptrdiff_t>(cut), feature.end()));

    const std::string playlist = R"(<Playlist><MediaAttributeList>
<VideoAttributeItem index="1" codec="MPEG-2"/><AudioAttributeItem index="1" codec="DD+" channels="2"/>
<AudioAttributeItem index="2" codec="MLP" channels="2"/><AudioAttributeItem index="3" codec="AC-3" channels="2"/>
<AudioAttributeItem index="4" codec="DTS" channels="2"/><AudioAttributeItem index="5" codec="LPCM" channels="2"/>
<SubpictureAttributeItem index="1" codec="2bitRLE"/><SubpictureAttributeItem index="2" codec="8bitRLE"/>
</MediaAttributeList><TitleSet timeBase="50fps" defaultLanguage="en">
<Title id="Menu" displayName="Menu" titleDuration="00:00:03:00"><PrimaryAudioVideoClip src="MENU.MAP"/></Title>
<Title id="Feature" displayName="The Feature" titleDuration="00:00:03:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
<Video track="1" mediaAttr="1"/>
<Audio track="1" streamNumber="5" mediaAttr="2" description="Lossless" langcode="en:00"/>
<Audio track="2" streamNumber="1" mediaAttr="1" description="Plus" langcode="fr:00"/>
<Audio track="3" streamNumber="2" mediaAttr="3" description="Commentary" langcode="en:01"/>
<Audio track="4" streamNumber="3" mediaAttr="4" description="Coherent" langcode="es:00"/>
<Audio track="5" streamNumber="4" mediaAttr="5" description="Linear" langcode="ja:00"/>
<Subtitle track="1" streamNumber="2" mediaAttr="1" description="Signs" langcode="de:00" forced="true"/>
<Subtitle track="2" streamNumber="1" mediaAttr="1" description="Full" langcode="de:00"/>
<Subtitle track="3" streamNumber="3" mediaAttr="2" description="High" langcode="de:00"/>
</PrimaryAudioVideoClip><ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="Opening"/>
<Chapter titleTimeBegin="00:00:01:25" displayName="Middle"/><Chapter titleTimeBegin="00:00:02:49" displayName="End"/>
</ChapterList></Title></TitleSet></Playlist>)";
    SaveFile(dir.path("VPLST000.XPL"), Bytes(playlist.begin(), playlist.end()));
    const ShellRun run =
        Shell(std::string(STRANDIS_CLI) + " mkv --json --playlist '" + dir.path("VPLST000.XPL") +
              "' '" + dir.path("FEATURE_1.EVO") + "' 2>/dev/null");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    const auto report = nlohmann::json::parse(run.out);
    const std::string mkv = report["output"];
    ASSERT_TRUE(std::filesystem::exists(mkv));
    std::string log;
    for (const auto& line : report["log"])
        log += line.get<std::string>() + "\n";
    EXPECT_EQ(log.find("left out of the Matroska file"), std::string::npos) << log;

    const auto info = nlohmann::json::parse(Shell("mkvmerge -J '" + mkv + "'").out);
    EXPECT_EQ(info["container"]["properties"]["title"], "The Feature");
    EXPECT_EQ(info["chapters"][0]["num_entries"], 3);
    // In the playlist's order, each with its start in the source against the earliest (AC-3).
    const std::vector<std::tuple<std::string, std::string, std::string, bool, std::uint64_t>>
        expected{{"MPEG-1/2", "", "und", false, first.at(0xE0)},
                 {"TrueHD", "Lossless", "eng", false, first.at(0xB4)},
                 {"E-AC-3", "Plus", "fre", false, first.at(0xC0)},
                 {"AC-3", "Commentary", "eng", false, first.at(0x81)},
                 {"DTS", "Coherent", "spa", false, first.at(0x8A)},
                 {"PCM", "Linear", "jpn", false, first.at(0xA3)},
                 {"HDMV PGS", "Signs", "ger", true, subStart.at(0x61)},
                 {"HDMV PGS", "Full", "ger", false, subStart.at(0x20)},
                 {"HDMV PGS", "High", "ger", false, kVideo + 180000}};
    ASSERT_EQ(info["tracks"].size(), expected.size()) << info.dump(1);
    const auto streams = nlohmann::json::parse(
        Shell("ffprobe -v error -show_streams -of json '" + mkv + "'").out)["streams"];
    ASSERT_EQ(streams.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const auto& track = info["tracks"][k];
        const auto& [codec, name, language, forced, start] = expected[k];
        EXPECT_EQ(track["codec"], codec) << k;
        if (!name.empty()) {
            EXPECT_EQ(track["properties"]["track_name"], name) << k;
        }
        EXPECT_EQ(track["properties"]["language"], language) << k;
        EXPECT_EQ(track["properties"].value("forced_track", false), forced) << k;
        if (k >= 1 && k <= 5) {  // the playlist's first audio track is the default one
            EXPECT_EQ(track["properties"]["default_track"].get<bool>(), k == 1) << k;
        }
        EXPECT_NEAR(std::stod(streams[k]["start_time"].get<std::string>()),
                    static_cast<double>(start - first.at(0x81)) / 90000.0, 0.001)
            << codec;
    }
    const auto chapters = nlohmann::json::parse(
        Shell("ffprobe -v error -show_chapters -of json '" + mkv + "'").out)["chapters"];
    ASSERT_EQ(chapters.size(), 3u);
    EXPECT_NEAR(std::stod(chapters[1]["start_time"].get<std::string>()), 1.5, 0.001);
    EXPECT_NEAR(std::stod(chapters[2]["start_time"].get<std::string>()), 2.98, 0.001);

    // The LPCM track holds the samples ffmpeg made, from both files.
    Shell("ffmpeg -nostdin -y -v error -i '" + mkv + "' -map 0:5 -f s16be '" + dir.path("out.pcm") +
          "' 2>/dev/null");
    EXPECT_EQ(LoadFile(dir.path("out.pcm")), lpcm);
}

}  // namespace
}  // namespace strandis::test
