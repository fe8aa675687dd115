// DVD and HD DVD subpicture units decoded field by field, and what becomes of units that do not
// decode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "analysers/HdDvdSubpicture.h"
#include "disc/IfoPalette.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "outputs/Subpictures.h"
#include "testkit/HdDvdUnit.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

using analysers::DecodeDvdUnit;
using analysers::DefaultDvdPalette;

// A unit of three lines at (10, 20): the top field holds lines 0 and 2, the bottom field line 1.
//   line 0: 1 1 1 2 2 3   one-nibble runs D (3 x 1), A (2 x 2), 7 (1 x 3)
//   line 1: 1 1 1 1 1 0   a two-nibble run 15 (5 x 1), then 4 (1 x 0)
//   line 2: 2 2 2 2 2 2   the four-nibble code 0002: colour 2 to the end of the line
// Colours 0-3 are palette entries 0-3, contrast 0 for 0 and 15 for the others; shown at once,
// stopped 100 x 1024 ticks later.
Bytes ThreeLineUnit() {
    return {0x00, 40,   0x00, 10,                      // size, control sequences
            0xDA, 0x70, 0x00, 0x02,                    // top field
            0x15, 0x40,                                // bottom field
            0x00, 0x00, 0x00, 34,                      // delay 0, next sequence
            0x03, 0x32, 0x10,                          // colours
            0x04, 0xFF, 0xF0,                          // contrast
            0x05, 0x00, 0xA0, 0x0F, 0x01, 0x40, 0x16,  // x 10..15, y 20..22
            0x06, 0x00, 0x04, 0x00, 0x08,              // field offsets
            0x01, 0xFF,                                // start
            0x00, 100,  0x00, 34,   0x02, 0xFF};       // delay 100: stop; the last sequence
}

DvdPalette Numbered() {
    DvdPalette palette;
    for (std::size_t k = 0; k < 16; ++k)
        palette[k] = {static_cast<std::uint8_t>(16 * k), static_cast<std::uint8_t>(k),
                      static_cast<std::uint8_t>(100 + k), 255};
    return palette;
}

TEST(SubpictureTest, DvdUnitsDecodeFieldByField) {
    const Bytes unit = ThreeLineUnit();
    ASSERT_EQ(unit.size(), 40u);
    std::string why;
    const auto caption = DecodeDvdUnit(unit.data(), unit.size(), 90000, Numbered(), why);
    ASSERT_TRUE(caption) << why;
    EXPECT_EQ(caption->x, 10);
    EXPECT_EQ(caption->y, 20);
    EXPECT_EQ(caption->width, 6);
    EXPECT_EQ(caption->height, 3);
    EXPECT_EQ(caption->pixels(), (std::vector<std::uint8_t>{1, 1, 1, 2, 2, 3,  //
                                                            1, 1, 1, 1, 1, 0,  //
                                                            2, 2, 2, 2, 2, 2}));
    EXPECT_EQ(caption->start, 90000);
    EXPECT_EQ(caption->end, 90000 + 100 * 1024);
    EXPECT_FALSE(caption->forced);
    for (std::size_t v = 0; v < 4; ++v) {
        EXPECT_EQ(caption->colours[v].y, 16 * v);
        EXPECT_EQ(caption->colours[v].cb, 100 + v);
        EXPECT_EQ(caption->colours[v].alpha, v == 0 ? 0 : 255);
    }
}

TEST(SubpictureTest, UnitsThatDoNotDecodeSayWhy) {
    const DvdPalette palette = DefaultDvdPalette();
    std::string why;
    Bytes unit = ThreeLineUnit();
    EXPECT_FALSE(DecodeDvdUnit(unit.data(), 39, 0, palette, why));  // shorter than its size
    EXPECT_EQ(why, "it is cut short");
    unit[3] = 200;  // control sequences past the end
    EXPECT_FALSE(DecodeDvdUnit(unit.data(), unit.size(), 0, palette, why));
    EXPECT_EQ(why, "its control sequence lies outside it");
    unit = ThreeLineUnit();
    unit[29] = 0x30;  // the top field's offset past the pixels
    EXPECT_FALSE(DecodeDvdUnit(unit.data(), unit.size(), 0, palette, why));
    EXPECT_EQ(why, "its line offsets lie outside its pixels");
    unit = ThreeLineUnit();
    unit[26] = 0x20;  // 32 lines: the fields run out of pixels
    EXPECT_FALSE(DecodeDvdUnit(unit.data(), unit.size(), 0, palette, why));
    EXPECT_EQ(why, "its lines run past its pixels");
    unit = ThreeLineUnit();
    unit[20] = 0x09;  // no such command
    EXPECT_FALSE(DecodeDvdUnit(unit.data(), unit.size(), 0, palette, why));
    EXPECT_EQ(why, "it holds an unknown command");
}

// A unit cut short by the next one is left out with a line naming its time; the next is written.
TEST(SubpictureTest, ACutUnitIsLeftOutAndTheRestGoOn) {
    TempDir dir;
    LogLines host;
    OutputFile file;
    file.create(dir.path("s.sup"));
    SubpictureOutput out(file, nullptr, 720, 480, DefaultDvdPalette(), host);
    const Bytes unit = ThreeLineUnit();
    out.write(unit.data(), 20, true, 90000);
    out.write(unit.data(), 25, true, 180000);
    out.write(unit.data() + 25, unit.size() - 25, false, 0);
    out.finish();
    file.close();
    EXPECT_EQ(
        host.lines,
        (std::vector<std::string>{"The subpicture at 00:00:01:000 is left out: it is cut short."}));
    // One caption: a display set of five segments and a clearing one of three.
    const Bytes pgs = LoadFile(dir.path("s.sup"));
    std::vector<std::uint8_t> types;
    for (std::size_t at = 0; at + 13 <= pgs.size();) {
        ASSERT_EQ(pgs[at], 'P');
        ASSERT_EQ(pgs[at + 1], 'G');
        types.push_back(pgs[at + 10]);
        at += 13 + ((std::size_t{pgs[at + 11]} << 8) | pgs[at + 12]);
    }
    EXPECT_EQ(types, (std::vector<std::uint8_t>{0x16, 0x17, 0x14, 0x15, 0x80, 0x16, 0x17, 0x80}));
}

// A caption of 150 x 5 at (11, 22) with every run form: single pixels of 2- and 8-bit colours,
// runs of 2-9 and 10-136, a run of 200 cut into 136 + 64, and runs to the line's end; entry k of
// the palette is (k, 255 - k, k / 2), its transparency byte k % 7 * 40.
HdDvdCaption EveryRunForm() {
    HdDvdCaption c;
    c.x = 11, c.y = 22, c.width = 150, c.height = 5;
    for (int line = 0; line < c.height; ++line) {
        for (int x = 0; x < c.width; ++x) {
            std::uint8_t colour = 0;
            if (line == 0) colour = static_cast<std::uint8_t>(x % 2 == 0 ? x % 256 : 3);
            if (line == 1) colour = static_cast<std::uint8_t>(x < 7 ? 2 : x < 140 ? 200 : 1);
            if (line == 2) colour = 7;  // the whole line: to its end
            if (line == 3) colour = static_cast<std::uint8_t>(x < 3 ? 255 : 0);
            if (line == 4) colour = static_cast<std::uint8_t>(x < 12 ? 9 : x < 149 ? 10 : 11);
            c.pixels.push_back(colour);
        }
    }
    for (std::size_t k = 0; k < 256; ++k) {
        c.palette[k] = {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k),
                        static_cast<std::uint8_t>(k / 2)};
        c.transparency[k] = static_cast<std::uint8_t>(k % 7 * 40);
    }
    c.startDelay = 3;
    c.stopDelay = 50;
    return c;
}

TEST(HdDvdUnitTest, EveryRunFormDecodesToItsBitmapPaletteAndTimes) {
    for (const bool allEightBit : {false, true}) {
        HdDvdCaption made = EveryRunForm();
        made.allEightBit = allEightBit;
        const Bytes unit = MakeHdDvdUnit(made);
        std::string why;
        const auto caption = analysers::DecodeHdDvdUnit(unit.data(), unit.size(), 90000, why);
        ASSERT_TRUE(caption) << why;
        EXPECT_EQ(caption->x, 11);
        EXPECT_EQ(caption->y, 22);
        EXPECT_EQ(caption->width, 150);
        EXPECT_EQ(caption->height, 5);
        EXPECT_EQ(caption->pixels(), made.pixels);
        ASSERT_EQ(caption->colours.size(), 256u);
        for (std::size_t k = 0; k < 256; ++k) {
            EXPECT_EQ(caption->colours[k].y, made.palette[k][0]);
            EXPECT_EQ(caption->colours[k].cr, made.palette[k][1]);
            EXPECT_EQ(caption->colours[k].cb, made.palette[k][2]);
            EXPECT_EQ(caption->colours[k].alpha, 255 - made.transparency[k]);
        }
        EXPECT_EQ(caption->start, 90000 + 3 * 1024);  // each delay counts from the time stamp
        EXPECT_EQ(caption->end, 90000 + 50 * 1024);
        EXPECT_FALSE(caption->forced);
    }
    // A fade keeps the first table; a forced start marks the caption.
    HdDvdCaption faded = EveryRunForm();
    faded.forced = true;
    faded.fade = {{20, {}}};
    const Bytes unit = MakeHdDvdUnit(faded);
    std::string why;
    const auto caption = analysers::DecodeHdDvdUnit(unit.data(), unit.size(), 0, why);
    ASSERT_TRUE(caption) << why;
    EXPECT_TRUE(caption->forced);
    EXPECT_EQ(caption->colours[6].alpha, 255 - 6 * 40);
}

// The units of the shared samples (made by their own generator from chosen bitmaps): placed and
// timed as their cases say; the one whose run goes past its line is left out.
TEST(HdDvdUnitTest, TheSampleUnitsDecodeWhereAndWhenTheirCasesSay) {
    std::ifstream json(std::string(HDDVD_SAMPLES_DIR) + "/cases.json");
    if (!json) GTEST_SKIP() << "the shared HD DVD samples are not beside the project";
    const auto cases = nlohmann::json::parse(json)["files"];
    for (const char* name : {"basic.sup", "timing.sup", "big.sup", "span.sup"}) {
        const auto records = WalkSup(LoadFile(std::string(HDDVD_SAMPLES_DIR) + "/" + name));
        const auto& expected = cases[name]["captions"];
        ASSERT_EQ(records.size(), expected.size()) << name;
        for (std::size_t k = 0; k < records.size(); ++k) {
            const auto& [pts, unit] = records[k];
            const auto& c = expected[k];
            std::string why;
            const auto caption = analysers::DecodeHdDvdUnit(unit.data(), unit.size(), pts, why);
            if (c["name"] == "span") {
                EXPECT_FALSE(caption);
                EXPECT_EQ(why, "a run goes past the end of its line");
                continue;
            }
            ASSERT_TRUE(caption) << c["name"] << ": " << why;
            EXPECT_EQ(caption->x, c["x"]);
            EXPECT_EQ(caption->y, c["y"]);
            EXPECT_EQ(caption->width, c["width"]);
            EXPECT_EQ(caption->height, c["height"]);
            EXPECT_EQ(caption->start, c["start"]) << c["name"];
            EXPECT_EQ(caption->end, c["end"].get<std::int64_t>()) << c["name"];
            const std::string palette = c["palette_y_cr_cb_a_hex"];
            for (std::size_t e = 0; e < 256; ++e) {
                const auto byte = [&](std::size_t n) {
                    return std::stoi(palette.substr(8 * e + 2 * n, 2), nullptr, 16);
                };
                const analysers::YCrCbA& colour = caption->colours[e];
                ASSERT_EQ((std::array<int, 4>{colour.y, colour.cr, colour.cb, colour.alpha}),
                          (std::array<int, 4>{byte(0), byte(1), byte(2), byte(3)}))
                    << c["name"] << " entry " << e;
            }
        }
    }
}

TEST(HdDvdUnitTest, UnitsThatDoNotDecodeSayWhy) {
    const auto why = [](const Bytes& unit) {
        std::string reason;
        EXPECT_FALSE(analysers::DecodeHdDvdUnit(unit.data(), unit.size(), 0, reason));
        return reason;
    };
    HdDvdCaption oneLine = EveryRunForm();
    oneLine.height = 1;
    oneLine.pixels.resize(150);
    EXPECT_EQ(why(MakeHdDvdUnit(oneLine)), "its area is one line high");

    const Bytes good = MakeHdDvdUnit(EveryRunForm());
    EXPECT_EQ(why(Bytes(good.begin(), good.end() - 1)), "it is cut short");
    Bytes bad = good;
    bad[6] = 0x7F;  // the first sequence far past the end
    EXPECT_EQ(why(bad), "its control sequence lies outside it");
    // The odd field's offset (the 0x86 command's second value) past the unit.
    bad = good;
    const std::size_t offsets = good.size() - 8 - 1 - 4;  // behind it: FF, then the stop sequence
    ASSERT_EQ(good[offsets - 5], 0x86);
    bad[offsets] = 0x7F;
    EXPECT_EQ(why(bad), "its line offsets lie outside it");
    // Its odd field starting on the last byte of the unit: its lines run out.
    bad = good;
    const auto last = static_cast<std::uint32_t>(good.size() - 1);
    for (int k = 0; k < 4; ++k)
        bad[offsets + static_cast<std::size_t>(k)] =
            static_cast<std::uint8_t>(last >> (24 - 8 * k));
    EXPECT_EQ(why(bad), "its lines run past its pixels");
}

// A unit that declares 4 GiB is not gathered: the stream goes on with the next unit.
TEST(HdDvdUnitTest, AUnitOfFourGibibytesIsLeftOutAndTheNextIsWritten) {
    TempDir dir;
    LogLines log;
    OutputFile file;
    file.create(dir.path("s.sup"));
    SubpictureOutput out(file, nullptr, 1920, 1080, DefaultDvdPalette(), log);
    const Bytes huge{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x0A};
    out.write(huge.data(), huge.size(), true, 90000);
    out.write(huge.data(), huge.size(), false, 0);
    const Bytes unit = MakeHdDvdUnit(EveryRunForm());
    out.write(unit.data(), 100, true, 180000);
    out.write(unit.data() + 100, unit.size() - 100, false, 0);
    out.finish();
    file.close();
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "The subpicture at 00:00:01:000 is left out: it declares 4294967295 "
                             "bytes, more than a subpicture unit holds."}));
    EXPECT_EQ(out.captions(), 1);
}

// HD DVD units become PGS like DVD units, placed on the video's picture; asked for VobSub, they
// are PGS all the same, and the log says so.
TEST(SubpictureTest, HdDvdUnitsAreConvertedToPgs) {
    TempDir dir;
    TestHost host;
    Engine engine{host};
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .subpicture(0x20, ThreeLineUnit(), 0x1000 + 90000)
        .subpicture(0x61, MakeHdDvdUnit(EveryRunForm()), 0x1000 + 90000);
    ps.save(dir.path("FEATURE_1.EVO"));
    host.source = dir.path("FEATURE_1.EVO");
    const Detected detected = RunDetection(engine, host.source);
    host.takeBoxes(detected.boxes);
    host.subpictures = SubFormat::VobSub;
    host.lines.clear();
    RunDemux(engine, detected, host.source);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Subpicture stream 1 is written as PGS: its HD DVD units have more colours "
                        "than VobSub holds."),
              host.lines.end());
    const Bytes pgs = LoadFile(dir.path("FEATURE_1.Ext.Subpicture.01.sup"));
    ASSERT_GT(pgs.size(), 20u);
    // The first segment: a composition at 1 s plus the start delay past the video's first time
    // stamp, for a 720x480 picture (the video's size is not known here: the DVD default).
    EXPECT_EQ(Bytes(pgs.begin(), pgs.begin() + 6), (Bytes{'P', 'G', 0x00, 0x01, 0x6B, 0x90}));
    EXPECT_TRUE(std::filesystem::exists(dir.path("FEATURE_1.Subpicture.00.idx")));
}

TEST(SubpictureTest, TheTitleSetsPaletteComesFromItsIfo) {
    TempDir dir;
    Bytes ifo(4096, 0);
    const std::string magic = "DVDVIDEO-VTS";
    std::copy(magic.begin(), magic.end(), ifo.begin());
    ifo[0xCF] = 1;        // VTS_PGCIT in sector 1
    ifo[2048 + 15] = 16;  // its first program chain 16 bytes in
    for (std::size_t k = 0; k < 16; ++k) {
        const std::size_t at = 2048 + 16 + 0xA4 + 4 * k;
        ifo[at + 1] = static_cast<std::uint8_t>(k + 1);
        ifo[at + 2] = static_cast<std::uint8_t>(k + 2);
        ifo[at + 3] = static_cast<std::uint8_t>(k + 3);
    }
    SaveFile(dir.path("VTS_01_0.IFO"), ifo);
    const auto palette = ReadIfoPalette(dir.path("VTS_01_0.IFO")).palette;
    ASSERT_TRUE(palette);
    EXPECT_EQ((*palette)[15].y, 16);
    EXPECT_EQ((*palette)[15].cr, 17);
    EXPECT_EQ((*palette)[15].cb, 18);
    ifo[0] = 'X';
    SaveFile(dir.path("bad.IFO"), ifo);
    EXPECT_FALSE(ReadIfoPalette(dir.path("bad.IFO")).palette);
    EXPECT_FALSE(ReadIfoPalette(dir.path("missing.IFO")).palette);
}

}  // namespace
}  // namespace strandis::test
