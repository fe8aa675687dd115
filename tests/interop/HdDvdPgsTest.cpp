// HD DVD subpicture units as PGS, judged by ffmpeg: it must paint our PGS as it paints the units
// straight out of the EVO (same captions, times within 1 ms, the same opacity at every pixel),
// and our PGS must carry the units' Y Cr Cb entries unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "testkit/HdDvdUnit.h"
#include "testkit/PsBuilder.h"
#include "tests/support/Shell.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr std::size_t kCanvasBytes = std::size_t{kWidth} * kHeight * 4;

// One picture ffmpeg's sub2video paints for a subtitle stream, and when (90 kHz ticks).
struct Canvas {
    std::int64_t ticks;
    Bytes rgba;
};

// The canvases ffmpeg paints for the subtitle stream of `input`, a repeated canvas kept once.
std::vector<Canvas> Canvases(const std::string& input, const std::string& scratch) {
    const ShellRun run =
        Shell("ffmpeg -nostdin -hide_banner -y -canvas_size 1920x1080 -i '" + input +
              "' -filter_complex '[0:s]format=rgba,showinfo' -fps_mode "
              "passthrough -f rawvideo -pix_fmt rgba '" +
              scratch + "' 2>&1");
    std::vector<double> times;
    const std::regex shown(R"(n: *\d+ pts: *-?\d+ pts_time:(-?[0-9.]+))");
    for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), shown);
         it != std::sregex_iterator(); ++it)
        times.push_back(std::stod((*it)[1]));
    std::vector<Canvas> canvases;
    std::ifstream raw(scratch, std::ios::binary);
    Bytes frame(kCanvasBytes);
    for (std::size_t k = 0; k < times.size(); ++k) {
        if (!raw.read(reinterpret_cast<char*>(frame.data()),
                      static_cast<std::streamsize>(frame.size())))
            break;
        if (!canvases.empty() && canvases.back().rgba == frame) continue;
        canvases.push_back({std::llround(times[k] * 90000), frame});
    }
    std::filesystem::remove(scratch);
    return canvases;
}

// A PGS display set as our file holds it: when, whether it shows an object, its palette.
struct DisplaySet {
    std::int64_t pts;
    bool shows;
    std::vector<std::array<std::uint8_t, 5>> palette;  // index, Y, Cr, Cb, opacity
};

std::vector<DisplaySet> DisplaySets(const Bytes& pgs) {
    std::vector<DisplaySet> sets;
    for (std::size_t at = 0; at + 13 <= pgs.size();) {
        const std::int64_t pts = (std::int64_t{pgs[at + 2]} << 24) | (pgs[at + 3] << 16) |
                                 (pgs[at + 4] << 8) | pgs[at + 5];
        const std::size_t size = (std::size_t{pgs[at + 11]} << 8) | pgs[at + 12];
        const std::uint8_t* body = pgs.data() + at + 13;
        if (pgs[at + 10] == 0x16) sets.push_back({pts, body[10] > 0, {}});
        if (pgs[at + 10] == 0x14 && !sets.empty()) {
            for (std::size_t e = 2; e + 5 <= size; e += 5)
                sets.back().palette.push_back(
                    {body[e], body[e + 1], body[e + 2], body[e + 3], body[e + 4]});
        }
        at += 13 + size;
    }
    return sets;
}

class HdDvdPgsTest : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override {
        if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    }
    // `strandis-cli demux --sub-format pgs` of `source` into the folder; its log.
    std::string demux(const std::string& source) {
        const ShellRun run = Shell(std::string(STRANDIS_CLI) + " demux --sub-format pgs -o '" +
                                   dir.root().string() + "' '" + source + "' 2>&1");
        EXPECT_EQ(run.exitCode, 0) << run.out;
        return run.out;
    }
    // The two renderings agree: as many canvases, each at the same time (against the first
    // caption) within 1 ms, with the same opacity at every pixel; `sameColour` where ffmpeg's
    // two colour conversions agree (grey palettes).
    void sameRendering(const std::vector<Canvas>& source, const std::vector<Canvas>& pgs,
                       bool sameColour) {
        ASSERT_EQ(source.size(), pgs.size());
        ASSERT_GT(source.size(), 1u);
        for (std::size_t k = 1; k < source.size(); ++k) {
            EXPECT_NEAR(static_cast<double>(pgs[k].ticks - pgs[1].ticks),
                        static_cast<double>(source[k].ticks - source[1].ticks), 90.0)
                << "canvas " << k;
            std::size_t alpha = 0, colour = 0;
            for (std::size_t b = 0; b < kCanvasBytes; b += 4) {
                alpha += source[k].rgba[b + 3] != pgs[k].rgba[b + 3] ? 1 : 0;
                for (std::size_t c = 0; sameColour && source[k].rgba[b + 3] != 0 && c < 3; ++c)
                    colour += std::abs(source[k].rgba[b + c] - pgs[k].rgba[b + c]) > 1 ? 1 : 0;
            }
            EXPECT_EQ(alpha, 0u) << "canvas " << k << ": pixels of another opacity";
            EXPECT_EQ(colour, 0u) << "canvas " << k << ": pixels of another colour";
        }
    }
};

// The shared samples (made from chosen bitmaps): our PGS shows and clears each caption at the
// ticks its case gives, ffmpeg paints it as it paints the units, and its colours are the
// intended pixels' (ref/, converted with BT.709 as ffmpeg's PGS decoder does) within 2.
TEST_F(HdDvdPgsTest, TheSharedSamplesRenderAsTheirUnits) {
    const std::string samples = HDDVD_SAMPLES_DIR;
    std::ifstream json(samples + "/cases.json");
    if (!json) GTEST_SKIP() << "the shared HD DVD samples are not beside the project";
    const auto files = nlohmann::json::parse(json)["files"];
    std::filesystem::copy_file(samples + "/samples.EVO", dir.path("samples.EVO"));
    demux(dir.path("samples.EVO"));
    const std::string pgs = dir.path("samples.Subpicture.00.sup");
    const std::vector<DisplaySet> sets = DisplaySets(LoadFile(pgs));

    std::vector<std::pair<std::string, nlohmann::json>> cases;
    for (const char* file : {"basic", "timing", "big"}) {
        int n = 0;
        for (const auto& c : files[std::string(file) + ".sup"]["captions"]) {
            char ref[32];
            std::snprintf(ref, sizeof ref, "%s_%02d", file, ++n);
            cases.emplace_back(ref, c);
        }
    }
    ASSERT_EQ(sets.size(), 2 * cases.size());
    for (std::size_t k = 0; k < cases.size(); ++k) {
        EXPECT_TRUE(sets[2 * k].shows && !sets[2 * k + 1].shows);
        EXPECT_EQ(sets[2 * k].pts, cases[k].second["start"]) << cases[k].first;
        EXPECT_EQ(sets[2 * k + 1].pts, cases[k].second["end"]) << cases[k].first;
    }

    const std::vector<Canvas> source = Canvases(dir.path("samples.EVO"), dir.path("a.rgba"));
    const std::vector<Canvas> ours = Canvases(pgs, dir.path("b.rgba"));
    sameRendering(source, ours, false);
    ASSERT_EQ(ours.size(), 1 + 2 * cases.size());
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto& c = cases[k].second;
        Shell("ffmpeg -nostdin -v error -y -i '" + samples + "/ref/" + cases[k].first +
              ".png' -f rawvideo -pix_fmt rgba '" + dir.path("ref.rgba") + "'");
        const Bytes ref = LoadFile(dir.path("ref.rgba"));
        const int x = c["x"], y = c["y"], w = c["width"], h = c["height"];
        ASSERT_EQ(ref.size(), std::size_t(w) * h * 4) << cases[k].first;
        const Bytes& canvas = ours[1 + 2 * k].rgba;
        int worst = 0;
        for (int line = 0; line < h; ++line) {
            for (int col = 0; col < w; ++col) {
                const std::size_t at = 4 * (std::size_t(y + line) * kWidth + std::size_t(x + col));
                const std::size_t r = 4 * (std::size_t(line) * w + std::size_t(col));
                ASSERT_EQ(canvas[at + 3], ref[r + 3])
                    << cases[k].first << " " << col << "," << line;
                for (std::size_t ch = 0; ref[r + 3] != 0 && ch < 3; ++ch)
                    worst = std::max(worst, std::abs(canvas[at + ch] - ref[r + ch]));
            }
        }
        EXPECT_LE(worst, 2) << cases[k].first;
    }
}

// Grey entries (Cr = Cb = 128) of `count` levels, opacity falling with the index.
HdDvdCaption GreyCaption(int x, int y, int width, int height, int levels) {
    HdDvdCaption c;
    c.x = x, c.y = y, c.width = width, c.height = height;
    for (int line = 0; line < height; ++line) {
        for (int col = 0; col < width; ++col)
            c.pixels.push_back(static_cast<std::uint8_t>((col / 3 + line * 7) % levels));
    }
    for (std::size_t k = 0; k < 256; ++k) {
        c.palette[k] = {static_cast<std::uint8_t>(16 + k * 219 / 255), 128, 128};
        c.transparency[k] = static_cast<std::uint8_t>(k * 5 % 256);
    }
    c.stopDelay = 60;
    return c;
}

// An EVO of our own making: video time stamps from 0x10000, then units of every kind in
// packets of at most 2,000 bytes (only the first of a unit with its time stamp): every run form
// in 2- and 8-bit colours, a forced one, a start delay, one of 120 KiB over full width, and one
// whose run goes past its line (ffmpeg drops it; we leave it out and say so).
TEST_F(HdDvdPgsTest, AnEvoOfOurOwnRendersAsItsUnits) {
    constexpr std::uint64_t kVideo = 0x10000;
    struct Unit {
        std::uint64_t pts;
        HdDvdCaption caption;
    };
    std::vector<Unit> units;
    units.push_back({kVideo + 90000, GreyCaption(100, 900, 301, 41, 256)});
    HdDvdCaption small = GreyCaption(700, 100, 64, 16, 4);  // 2-bit colours only
    small.forced = true;
    units.push_back({kVideo + 3 * 90000, small});
    HdDvdCaption late = GreyCaption(0, 0, 40, 10, 20);
    late.startDelay = 30;
    late.stopDelay = 100;
    units.push_back({kVideo + 5 * 90000, late});
    HdDvdCaption wide = GreyCaption(0, 1000, 1920, 80, 256);
    for (std::size_t k = 0; k < wide.pixels.size(); ++k)
        wide.pixels[k] = static_cast<std::uint8_t>(k % 2 == 0 ? k % 251 : 255 - k % 200);
    units.push_back({kVideo + 7 * 90000, wide});
    Bytes bad = MakeHdDvdUnit(GreyCaption(300, 300, 40, 6, 1));  // every line colour 0

    PsBuilder ps;
    for (std::uint64_t t = kVideo; t < kVideo + 10 * 90000; t += 3600)
        ps.pack(t > 9000 ? t - 9000 : 0).video(0xE0, {0x00, 0x00, 0x01, 0x00}, t);
    const auto put = [&ps](const Bytes& unit, std::uint64_t pts) {
        for (std::size_t at = 0; at < unit.size(); at += 2000) {
            const Bytes piece(
                unit.begin() + static_cast<std::ptrdiff_t>(at),
                unit.begin() + static_cast<std::ptrdiff_t>(std::min(unit.size(), at + 2000)));
            ps.pack(pts - 9000)
                .subpicture(0x20, piece, at == 0 ? std::optional(pts) : std::nullopt);
        }
    };
    std::vector<Bytes> made;
    for (const Unit& u : units) {
        made.push_back(MakeHdDvdUnit(u.caption));
        put(made.back(), u.pts);
    }
    ASSERT_GT(made.back().size(), 65536u);
    // Its first line, one run "to the end of the line" (1 0 00 1 0000000), made a run of 44
    // pixels (n = 35) on a line of 40: ffmpeg drops the unit.
    ASSERT_EQ(bad[10], 0x88);
    ASSERT_EQ(bad[11], 0x00);
    bad[10] = 0x8A;
    bad[11] = 0x30;
    put(bad, kVideo + 9 * 90000);
    ps.save(dir.path("FEATURE_1.EVO"));

    const std::string log = demux(dir.path("FEATURE_1.EVO"));
    EXPECT_NE(log.find("The subpicture at 00:00:09:000 is left out: a run goes past the end of its "
                       "line."),
              std::string::npos)
        << log;
    const std::string pgs = dir.path("FEATURE_1.Subpicture.00.sup");
    const std::vector<DisplaySet> sets = DisplaySets(LoadFile(pgs));
    ASSERT_EQ(sets.size(), 2 * units.size());
    for (std::size_t k = 0; k < units.size(); ++k) {
        const HdDvdCaption& c = units[k].caption;
        const auto start = static_cast<std::int64_t>(units[k].pts - kVideo) + c.startDelay * 1024;
        EXPECT_EQ(sets[2 * k].pts, start) << k;
        EXPECT_EQ(sets[2 * k + 1].pts,
                  static_cast<std::int64_t>(units[k].pts - kVideo) + *c.stopDelay * 1024)
            << k;
        // The entries the pixels use, carried over as the unit has them.
        std::set<std::uint8_t> used(c.pixels.begin(), c.pixels.end());
        ASSERT_EQ(sets[2 * k].palette.size(), used.size()) << k;
        for (const auto& entry : sets[2 * k].palette) {
            const std::size_t e = entry[0];
            EXPECT_TRUE(used.count(entry[0]));
            EXPECT_EQ((std::array<int, 4>{entry[1], entry[2], entry[3], entry[4]}),
                      (std::array<int, 4>{c.palette[e][0], c.palette[e][1], c.palette[e][2],
                                          255 - c.transparency[e]}))
                << k << " entry " << e;
        }
    }
    sameRendering(Canvases(dir.path("FEATURE_1.EVO"), dir.path("a.rgba")),
                  Canvases(pgs, dir.path("b.rgba")), true);
}

}  // namespace
}  // namespace strandis::test
