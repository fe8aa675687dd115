// DVD subpicture units decoded field by field, and what becomes of units that do not decode.
#include <gtest/gtest.h>

#include "disc/IfoPalette.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "outputs/Subpictures.h"
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
    EXPECT_EQ(caption->pixels, (std::vector<std::uint8_t>{1, 1, 1, 2, 2, 3,  //
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

// HD DVD units are not converted: their stream keeps its "SP" records, and the log says so. A
// DVD stream of the same run becomes PGS, placed on the picture size of the video.
TEST(SubpictureTest, OnlyDvdUnitsAreConverted) {
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;
    const Bytes hdUnit{0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x06};
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00}, 0x1000)
        .subpicture(0x20, ThreeLineUnit(), 0x1000 + 90000)
        .subpicture(0x61, hdUnit, 0x1000 + 90000);
    ps.save(dir.path("FEATURE_1.EVO"));
    host.source = dir.path("FEATURE_1.EVO");
    detected = RunDetection(engine, host.source);
    host.takeBoxes(detected.boxes);
    host.subpictures = SubFormat::Pgs;
    host.lines.clear();
    RunDemux(engine, detected, host.source);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "Subpicture stream 1 is written as .sup records: only DVD subpicture units "
                        "are converted."),
              host.lines.end());
    const Bytes records = LoadFile(dir.path("FEATURE_1.Ext.Subpicture.01.sup"));
    EXPECT_EQ(Bytes(records.begin() + 10, records.end()), hdUnit);
    const Bytes pgs = LoadFile(dir.path("FEATURE_1.Subpicture.00.sup"));
    ASSERT_GT(pgs.size(), 20u);
    // The first segment: a composition at 1 s past the video's first time stamp.
    EXPECT_EQ(Bytes(pgs.begin(), pgs.begin() + 6), (Bytes{'P', 'G', 0x00, 0x01, 0x5F, 0x90}));
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
    const auto palette = ReadIfoPalette(dir.path("VTS_01_0.IFO"));
    ASSERT_TRUE(palette);
    EXPECT_EQ((*palette)[15].y, 16);
    EXPECT_EQ((*palette)[15].cr, 17);
    EXPECT_EQ((*palette)[15].cb, 18);
    ifo[0] = 'X';
    SaveFile(dir.path("bad.IFO"), ifo);
    EXPECT_FALSE(ReadIfoPalette(dir.path("bad.IFO")));
    EXPECT_FALSE(ReadIfoPalette(dir.path("missing.IFO")));
}

}  // namespace
}  // namespace strandis::test
