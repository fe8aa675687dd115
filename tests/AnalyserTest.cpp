// The header readers on headers written field by field from the standards' syntax tables.
#include <gtest/gtest.h>

#include "analysers/Analysers.h"
#include "analysers/BitReader.h"
#include "testkit/BitWriter.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

using Lines = std::vector<std::string>;
using analysers::Payload;

class Sink final : public analysers::LogSink {
public:
    explicit Sink(char separator = '.') : separator_(separator) {}
    Lines lines;
    void log(std::string_view line) override { lines.emplace_back(line); }
    char decimalSeparator() const override { return separator_; }

private:
    char separator_;
};

Payload Over(const Bytes& block, std::size_t start = 0, std::size_t length = SIZE_MAX) {
    return Payload{{block.data(), block.size()}, start, std::min(length, block.size() - start)};
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// ---- VC-1 (SMPTE 421M, Advanced Profile sequence layer) ----

struct Vc1Fields {
    int profile = 3, level = 3, colordiff = 1;
    int width = 1920, height = 1080, pulldown = 0, interlace = 1;
    bool displayExt = true;
    int dispWidth = 1920, dispHeight = 1080;
    bool aspectFlag = true;
    int aspect = 1;
    bool frameRateFlag = true, frameRateInd = false;
    int nr = 1, dr = 2, exp = 0;
};

Bytes Vc1Sequence(const Vc1Fields& f) {
    BitWriter w;
    w.put(0x0000010F, 32);
    w.put(f.profile, 2)
        .put(f.level, 3)
        .put(f.colordiff, 2)
        .put(7, 3)
        .put(31, 5)
        .put(1, 1);                                        // ... POSTPROCFLAG
    w.put(f.width / 2 - 1, 12).put(f.height / 2 - 1, 12);  // MAX_CODED_WIDTH, MAX_CODED_HEIGHT
    w.put(f.pulldown, 1).put(f.interlace, 1).put(1, 1).put(0, 1).put(1, 1).put(0, 1);  // ... PSF
    w.put(f.displayExt, 1);
    if (f.displayExt) {
        w.put(f.dispWidth - 1, 14).put(f.dispHeight - 1, 14).put(f.aspectFlag, 1);
        if (f.aspectFlag) w.put(f.aspect, 4);
        w.put(f.frameRateFlag, 1);
        if (f.frameRateFlag) {
            w.put(f.frameRateInd, 1);
            if (f.frameRateInd) {
                w.put(f.exp, 16);
            } else {
                w.put(f.nr, 8).put(f.dr, 4);
            }
        }
        w.put(0, 1);  // COLOR_FORMAT_FLAG
    }
    w.put(0, 1);                            // HRD_PARAM_FLAG
    w.put(0x0000010E, 32).put(0xAAAA, 16);  // an entry point header follows
    return w.take();
}

const Bytes kVc1Frame{0x00, 0x00, 0x01, 0x0D, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};

Lines Vc1(const Bytes& data, std::uint64_t pts = 0x12345678, char separator = '.') {
    Sink sink(separator);
    analysers::VC1details(Over(data), pts, sink);
    return sink.lines;
}

TEST(Vc1Test, A1080pSequenceHeaderWithDisplayExtension) {
    const Bytes data = Join({kVc1Frame, kVc1Frame, Vc1Sequence({}), kVc1Frame, kVc1Frame});
    EXPECT_EQ(Vc1(data),
              (Lines{"   Sequence Header found", "   2 frames before first I-frame",
                     "   Advanced Profile", "   Level = 3", "   Chroma Format = 4:2:0",
                     "   Size = [bl]1920[/bl]x[bl]1080[/bl]", "   Pulldown = 0", "   Interlace = 1",
                     "   Display Horizontal size = 1920", "   Display Vertical size = 1080",
                     "   Aspect ratio = [bl]1:1[/bl] (square samples)",
                     "   Frame Rate = [bl]23.976[/bl] (24000/1001)",
                     "   First Video PTS = 0000000012345678"}));
    // One frame after the header is not enough for the time stamp line.
    const Lines oneFrame = Vc1(Join({Vc1Sequence({}), kVc1Frame}));
    EXPECT_EQ(oneFrame.back(), "   Frame Rate = [bl]23.976[/bl] (24000/1001)");
    EXPECT_EQ(Vc1(Join({Vc1Sequence({}), kVc1Frame}), 0, ',')[11],
              "   Frame Rate = [bl]23,976[/bl] (24000/1001)");
}

TEST(Vc1Test, FrameRatesAspectsAndReservedFields) {
    Vc1Fields f;
    f.frameRateInd = true, f.exp = 767, f.aspect = 10, f.profile = 2, f.level = 5;
    Lines lines = Vc1(Vc1Sequence(f));
    EXPECT_EQ(lines[2], "   Reserved Profile");
    EXPECT_EQ(lines[3], "   Level = Reserved");
    EXPECT_EQ(lines[10], "   Aspect ratio = [bl]18:11[/bl] (48$576 4:3)");
    EXPECT_EQ(lines[11], "   Frame Rate =24");

    f = {};
    f.nr = 2, f.dr = 1, f.level = 4;
    lines = Vc1(Vc1Sequence(f));
    EXPECT_EQ(lines[3], "   Level = 4");
    EXPECT_EQ(lines.back(), "   Frame Rate = [bl]25[/bl] (25000/1000)");

    // Forbidden and reserved values: the messages, and no rate.
    f.nr = 0, f.dr = 3;
    lines = Vc1(Vc1Sequence(f));
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{"   Forbidden Frame Rate!", "   Reserved Frame Rate!"}));
    f.nr = 9, f.dr = 0;
    lines =
        Vc1(Join({Vc1Sequence(f), Vc1Sequence(f)}));  // described: the second header says nothing
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{"   Reserved Frame Rate!", "   Forbidden Frame Rate!"}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "   Sequence Header found"), 1);

    // Without the frame-rate fields the header is never described: each header repeats.
    f.frameRateFlag = false;
    lines = Vc1(Join({Vc1Sequence(f), Vc1Sequence(f)}));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "   Sequence Header found"), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "   0 frames before first I-frame"), 1);
}

TEST(Vc1Test, AHeaderCutByTheEndOfThePayload) {
    const Bytes header = Vc1Sequence({});
    EXPECT_EQ(Vc1(Bytes(header.begin(), header.begin() + 9)),  // up to MAX_CODED_HEIGHT
              (Lines{"   Sequence Header found", "   0 frames before first I-frame",
                     "   Advanced Profile", "   Level = 3", "   Chroma Format = 4:2:0",
                     "   Size = [bl]1920[/bl]x[bl]1080[/bl]"}));
    EXPECT_TRUE(Vc1(Join({kVc1Frame, kVc1Frame})).empty());
}

// ---- MPEG-2 video (ISO/IEC 13818-2) ----

Bytes Mpeg2Sequence(int width = 1920, int height = 1080, int aspect = 3, int frameRate = 1,
                    int bitRate = 62500) {
    BitWriter w;
    w.put(0x000001B3, 32).put(width, 12).put(height, 12).put(aspect, 4).put(frameRate, 4);
    w.put(bitRate, 18).put(1, 1).put(597, 10).put(0, 1).put(0, 1).put(0, 1);
    return w.take();
}

Bytes Mpeg2SequenceExtension(int progressive) {
    BitWriter w;
    w.put(0x000001B5, 32)
        .put(1, 4)
        .put(0x44, 8)
        .put(progressive, 1)
        .put(1, 2)
        .put(0, 2)
        .put(0, 2)
        .put(0, 12);
    w.put(1, 1).put(0, 8).put(0, 1).put(0, 2).put(0, 5);
    return w.take();
}

// A picture header and its coding extension.
Bytes Mpeg2Picture(int codingType, bool extension = true) {
    BitWriter w;
    w.put(0x00000100, 32).put(5, 10).put(codingType, 3).put(0xFFFF, 16).put(0, 3);
    if (extension) {
        w.put(0x000001B5, 32)
            .put(8, 4)
            .put(0xFFFF, 16)
            .put(0, 2)
            .put(3, 2)
            .put(0, 6)
            .put(1, 1)
            .put(0, 3)
            .put(0, 14);
    }
    w.put(0x00000101, 32).put(0xAAAA, 16);
    return w.take();
}

Lines Mpeg2(const Bytes& data, std::uint32_t pts = 0xABCDEF) {
    Sink sink;
    analysers::MPEG2details(Over(data), pts, sink);
    return sink.lines;
}

TEST(Mpeg2Test, SequenceHeaderExtensionPicturesAndTimeStamp) {
    const Bytes data = Join({Mpeg2Picture(1), Mpeg2Picture(3), Mpeg2Picture(2), Mpeg2Sequence(),
                             Mpeg2SequenceExtension(1), Mpeg2Picture(1), Mpeg2Picture(4),
                             Mpeg2Sequence(), Mpeg2SequenceExtension(0), Mpeg2Picture(2)});
    EXPECT_EQ(
        Mpeg2(data),
        (Lines{"   Sequence Header found", "   3 frames before first Sequence Header",
               "   size = [bl]1920[/bl]x[bl]1080[/bl]", "   Aspect ratio = [bl]16:9[/bl]",
               "   Frame rate = [bl]23.976[/bl] fps",
               "  Sequence header bitrate = [bl]25000[/bl] kbps", "   Progressive Sequence = 1",
               "   illegal picture_coding_type = 4", "   First Video PTS = 00ABCDEF"}));
}

TEST(Mpeg2Test, TablesAndOddValues) {
    Lines lines = Mpeg2(Join({Mpeg2Sequence(720, 576, 2, 3, 3), Mpeg2Picture(1)}));
    EXPECT_EQ(lines[2], "   size = [bl]720[/bl]x[bl]576[/bl]");
    EXPECT_EQ(lines[3], "   Aspect ratio = [bl]4:3[/bl]");
    EXPECT_EQ(lines[4], "   Frame rate = [bl]25[/bl] fps");
    EXPECT_EQ(lines[5], "  Sequence header bitrate = [bl]1[/bl] kbps");
    EXPECT_EQ(lines.size(), 6u);  // one coding extension after the header: no time stamp yet
    lines = Mpeg2(Mpeg2Sequence(1, 1, 0, 9, 0));
    EXPECT_EQ(lines[3], "   Aspect ratio = forbidden");
    EXPECT_EQ(lines[4], "   Frame rate = reserved");
    EXPECT_EQ(Mpeg2(Mpeg2Sequence(1, 1, 7, 0, 0))[3], "   Aspect ratio = reserved");
    // MPEG-1 style pictures without a coding extension count 0; type 0 is illegal.
    lines = Mpeg2(Join({Mpeg2Picture(0, false), Mpeg2Picture(1, false), Mpeg2Sequence()}));
    EXPECT_EQ(lines[0], "   illegal picture_coding_type = 0");
    EXPECT_EQ(lines[2], "   0 frames before first Sequence Header");
    const Bytes header = Mpeg2Sequence();
    EXPECT_EQ(Mpeg2(Bytes(header.begin(), header.begin() + 8)).size(),
              5u);  // cut before the bit rate
}

// ---- H.264 (ISO/IEC 14496-10) ----

Lines H264(const Bytes& data) {
    Sink sink;
    analysers::H264details(Over(data), sink);
    return sink.lines;
}

// A parameter set whose exponential-Golomb code runs on in zeros past 32 bits is not read for a
// size (the fuzzer found one); its profile and level still are.
TEST(H264Test, AZeroRunPastThirtyTwoBitsGivesNoSize) {
    Bytes sps = {0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x28};  // High, level 40
    for (int k = 0; k < 6; ++k)  // zero bytes kept apart by emulation-prevention bytes
        sps.insert(sps.end(), {0x00, 0x00, 0x03});
    sps.push_back(0x80);
    Sink sink;
    const analysers::StreamInfo info = analysers::H264details(Over(sps), sink);
    EXPECT_EQ(info.width, 0);
    EXPECT_EQ(info.profile, "High");
    EXPECT_EQ(info.level, 40);
    EXPECT_EQ(sink.lines, (Lines{"   High Profile", "   Level = 40"}));
}

TEST(H264Test, DelimitersAndSequenceParameterSets) {
    const Bytes aud = {0x00, 0x00, 0x01, 0x09};
    const Bytes data = Join({aud,
                             {0x30},
                             {0x00, 0x00, 0x01, 0x29, 0x10},
                             aud,
                             {0x50},
                             aud,
                             {0x10},  // types 1, 2, 0
                             {0x00, 0x00, 0x01, 0x67, 100, 0x00, 41, 0xAA},
                             {0x00, 0x00, 0x01, 0x47, 77, 0x00, 30},
                             {0x00, 0x00, 0x01, 0x27, 66, 0x10, 11, 0xAA},
                             {0x00, 0x00, 0x01, 0x67, 77, 0x00, 11, 0xAA},
                             aud,
                             {0x10},
                             {0x00, 0x00, 0x01, 0x67, 244, 0x00}});  // cut after two bytes
    EXPECT_EQ(H264(data), (Lines{"   2 frames before first I-frame", "   High Profile",
                                 "   Level = 41", "   Baseline Profile", "   Level = 1b",
                                 "   Main Profile", "   Level = 11", "   Unknown Profile"}));
    EXPECT_EQ(H264(Join({aud, {0x10}})), Lines{"   0 frames before first I-frame"});
}

// ---- Dolby Digital and Dolby Digital Plus (ATSC A/52 and its Annex E) ----

Bytes Ac3Frame(int fscod, int frmsizecod, int bsid, int bsmod, int acmod) {
    BitWriter w;
    w.put(0x0B77, 16)
        .put(0x1234, 16)
        .put(fscod, 2)
        .put(frmsizecod, 6)
        .put(bsid, 5)
        .put(bsmod, 3)
        .put(acmod, 3);
    w.put(0, 2).put(0, 2).put(1, 1).put(0, 20);  // cmixlev, surmixlev, lfeon, ...
    return w.take();
}

Bytes Eac3Frame(int fscod, int frmsiz = 767, int numblkscod = 3) {
    BitWriter w;
    w.put(0x0B77, 16)
        .put(0, 2)
        .put(0, 3)
        .put(frmsiz, 11)
        .put(fscod, 2)
        .put(numblkscod, 2)
        .put(7, 3)
        .put(1, 1);
    w.put(16, 5).put(31, 5).put(0, 1).put(0, 20);  // bsid, dialnorm, compre, ...
    return w.take();
}

Lines Ac3(const Bytes& data, int slot = 0, char separator = '.') {
    Sink sink(separator);
    analysers::AC3details(Over(data), slot, sink);
    return sink.lines;
}

TEST(Ac3Test, DolbyDigitalAndDolbyDigitalPlusHeaders) {
    const Lines dd{"   Stream 0 is [b]Dolby Digital[/b]", "   Sampling frequency = [bl]48[/bl] kHz",
                   "   Transmission bitrate = [bl]448[/bl] kbit/s",
                   "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 8, bsmod =0"};
    EXPECT_EQ(Ac3(Join({{0x11}, Ac3Frame(0, 30, 8, 0, 7)})), dd);
    EXPECT_EQ(Ac3(Join({Ac3Frame(0, 30, 8, 0, 7), Ac3Frame(1, 2, 8, 0, 1)})),
              dd);  // one report per call

    const Lines ddp{"   Stream 1 is [b]Dolby Digital Plus[/b]",
                    "   frame size = 1536 bytes, number of blocks per frame = 6",
                    "   Sampling frequency = [bl]48[/bl] kHz",
                    "   Transmission bitrate = [bl]384[/bl] kbit/s",
                    "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 16",
                    "   LFE channel = [bl]present[/bl]"};
    EXPECT_EQ(Ac3(Eac3Frame(0), 1), ddp);
    const Lines at441 = Ac3(Eac3Frame(1), 1, ',');
    EXPECT_EQ(at441[2], "   Sampling frequency = [bl]44,1[/bl] kHz");
    EXPECT_EQ(at441[3], "   Transmission bitrate = [bl]384[/bl] kbit/s");  // reckoned at 48 kHz
}

TEST(Ac3Test, SyncSearchAndItsReArming) {
    const Bytes frame = Ac3Frame(0, 30, 8, 0, 7);
    EXPECT_TRUE(Ac3(Bytes(frame.begin() + 1, frame.end()))
                    .empty());  // the sync split by the payload's start
    EXPECT_TRUE(Ac3(Bytes(frame.begin(), frame.begin() + 6)).empty());
    // 0B 77 inside the header bytes: the byte completing it is skipped, the rest come one later.
    EXPECT_EQ(
        Ac3({0x0B, 0x77, 0x0B, 0x77, 0x1E, 0x40, 0xE0, 0x40, 0x00}),
        (Lines{"   Stream 0 is [b]Dolby Digital[/b]", "   Sampling frequency = [bl]44.1[/bl] kHz",
               "   Transmission bitrate = [bl]32[/bl] kbit/s",
               "   Channel arrangement = [bl]L + R[/bl], bsid = 28, bsmod =0"}));
    // A reserved fscod or frmsizecod reports 0 and searches on.
    const Lines twice = Ac3(Join({Ac3Frame(3, 30, 8, 0, 7), Ac3Frame(0, 38, 6, 1, 2), frame}));
    ASSERT_EQ(twice.size(), 12u);
    EXPECT_EQ(twice[1], "   Sampling frequency = [bl]0[/bl] kHz");
    EXPECT_EQ(twice[6], "   Transmission bitrate = [bl]0[/bl] kbit/s");
    EXPECT_EQ(twice[11],
              "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 8, bsmod =0");
}

// An E-AC-3 frame of `bytes` bytes written field by field (Annex E, E.1.2.1): strmtyp,
// substreamid, frmsiz, fscod, numblkscod, acmod, lfeon, bsid 16, dialnorm, no compr, and for a
// dependent substream its chanmap.
Bytes Eac3Unit(int strmtyp, int substream, int bytes, int acmod, int lfe, int chanmap = -1) {
    BitWriter w;
    w.put(0x0B77, 16).put(strmtyp, 2).put(substream, 3).put(bytes / 2 - 1, 11);
    w.put(0, 2).put(3, 2).put(acmod, 3).put(lfe, 1).put(16, 5).put(31, 5).put(0, 1);
    if (strmtyp == 1) {
        w.put(chanmap >= 0 ? 1 : 0, 1);
        if (chanmap >= 0) w.put(static_cast<std::uint64_t>(chanmap), 16);
    }
    Bytes frame = w.take();
    const Bytes rest = Counting(static_cast<std::size_t>(bytes) - frame.size(), 9);
    frame.insert(frame.end(), rest.begin(), rest.end());
    return frame;
}

TEST(Ac3Test, DependentSubstreamsOfTheFirstAccessUnit) {
    // 5.1 in the independent substream, the back surround pair Lrs/Rrs (chanmap bit 6) in a
    // dependent one: 7.1.
    const Bytes independent = Eac3Unit(0, 0, 1000, 7, 1);
    const Bytes dependent = Eac3Unit(1, 0, 400, 2, 0, 0x8000 >> 6);
    const Lines lines = Ac3(Join({independent, dependent, independent}));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "   Stream 0 is [b]Dolby Digital Plus[/b]");
    EXPECT_EQ(lines[4], "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 16");
    EXPECT_EQ(lines[6], "   Dependent substream 0: channel map = [bl]Lrs + Rrs[/bl]");
    EXPECT_EQ(lines[7], "   Total channel layout = [bl]7.1[/bl]");

    // Two dependents, one without a chanmap (its acmod says L R), one with Lw/Rw and Cvh.
    const Lines two = Ac3(Join({independent, Eac3Unit(1, 0, 300, 2, 0),
                                Eac3Unit(1, 1, 300, 2, 0, (0x8000 >> 10) | (0x8000 >> 12))}));
    ASSERT_EQ(two.size(), 9u);
    EXPECT_EQ(two[6], "   Dependent substream 0: channel map = [bl]L + R[/bl]");
    EXPECT_EQ(two[7], "   Dependent substream 1: channel map = [bl]Lw + Rw + Cvh[/bl]");
    EXPECT_EQ(two[8], "   Total channel layout = [bl]8.1[/bl]");

    // A payload that opens with a dependent frame is described from the next independent one.
    const Lines late = Ac3(Join({dependent, independent, dependent}));
    ASSERT_EQ(late.size(), 8u);
    EXPECT_EQ(late[0], "   Stream 0 is [b]Dolby Digital Plus[/b]");
    EXPECT_EQ(late[7], "   Total channel layout = [bl]7.1[/bl]");
    // A plain 5.1 stream says nothing more than before.
    EXPECT_EQ(Ac3(Join({independent, independent})).size(), 6u);
}

// ---- LPCM ----

Lines Lpcm(const Bytes& header, bool dvdVideo = false,
           analysers::LpcmLayout layout = analysers::LpcmLayout::HdDvd) {
    const Bytes samples(20, 0x55);
    Payload payload = Over(samples);
    std::copy(header.begin(), header.end(), payload.header.begin());
    payload.headerLength = header.size();
    Sink sink;
    analysers::LPCMdetails(payload, dvdVideo ? analysers::LpcmLayout::DvdVideo : layout, sink);
    return sink.lines;
}

TEST(LpcmTest, TheCodesOfTheHeader) {
    EXPECT_EQ(Lpcm({0xA0, 0x01, 0x20, 0x10, 0x00, 0x01, 0x00}),
              (Lines{"   Sample size = [bl]24[/bl] bit", "   Sampling frequency = [bl]96[/bl] kHz",
                     "   Channel arrangement = L + R"}));
    EXPECT_EQ(Lpcm({0xA0, 0x01, 0x00, 0x80, 0x00, 0x14, 0x00})[1],
              "   Sampling frequency = [bl]44.1[/bl] kHz");
    EXPECT_EQ(Lpcm({0xA0, 0x01, 0x00, 0xF0, 0x00, 0x14, 0x00}),  // frequency code 15: no line
              (Lines{"   Sample size = [bl]16[/bl] bit",
                     "   Channel arrangement = Lf + Rf + Ls + Rs + C + LFE"}));
    EXPECT_EQ(Lpcm({0xA0, 0x01, 0x30, 0x00, 0x00, 0x35, 0x00}),
              (Lines{"   Sample size = [bl][/bl] bit", "   Sampling frequency = [bl]48[/bl] kHz",
                     "   Channel arrangement = "}));
    // DVD-Video: quantization, frequency and channels - 1 in byte 5.
    EXPECT_EQ(Lpcm({0xA0, 0x07, 0x00, 0x04, 0x00, 0x95, 0x80}, true),
              (Lines{"   Sample size = [bl]24[/bl] bit", "   Sampling frequency = [bl]96[/bl] kHz",
                     "   Channel arrangement = 6 channels"}));
    EXPECT_EQ(Lpcm({0xA0, 0x07, 0x00, 0x04, 0x00, 0x01, 0x80}, true)[2],
              "   Channel arrangement = 2 channels");
}

TEST(LpcmTest, AHeaderAcrossTheBlockBoundaryIsReadWhole) {
    TempDir dir;
    for (std::size_t cut = 1; cut <= 7; ++cut) {
        // The block ends `cut` bytes before the end of the 7-byte sub-stream header.
        PsBuilder ps;
        ps.raw(Bytes(262144 - 14 - 7 + cut, 0xFF)).audio(0xA2, Counting(500), 0x1000);
        ps.save(dir.path("FEATURE_1.EVO"));
        TestHost host;
        const ScanTrace trace = RealScan(dir.path("FEATURE_1.EVO"), false, host);
        ASSERT_EQ(trace.log.size(), 6u) << cut;
        EXPECT_EQ(
            Lines(trace.log.begin() + 3, trace.log.end()),
            (Lines{"   Sample size = [bl]24[/bl] bit", "   Sampling frequency = [bl]96[/bl] kHz",
                   "   Channel arrangement = L + R"}))
            << cut;
    }
}

// ---- MLP and Dolby TrueHD ----

Lines Mlp(const Bytes& data) {
    Sink sink;
    analysers::MLPdetails(Over(data), sink);
    return sink.lines;
}

TEST(MlpTest, MajorSyncsOfTrueHdAndMlp) {
    const Bytes trueHd{0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x47, 0x80, 0x01};
    const Lines trueHdLines{"   [b]TrueHD[/b] stream (up to 8 channels)",
                            "   Sampling frequency = [bl]48[/bl] kHz",
                            "   2 ch. decoder channel modifier = 1",
                            "   6 ch. decoder",
                            "      channel modifier = 0",
                            "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]",
                            "   8 ch. decoder",
                            "      channel modifier = 0",
                            "      channel arrangement = 1"};
    EXPECT_EQ(Mlp(Join({trueHd, {0x00}})), trueHdLines);
    EXPECT_EQ(Mlp(Join({{0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x01, 0x80, 0x01, 0x00}}))[5],
              "      channel arrangement = [bl]Lf + Rf + C[/bl]");  // named by its bits
    EXPECT_EQ(Mlp(Join({{0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x0E, 0x00, 0x01, 0x00}}))[5],
              "      channel arrangement = [bl]LFE + Ls + Rs + Lvh + Rvh[/bl]");
    EXPECT_EQ(Mlp({0x11, 0xF8, 0x72, 0x6F, 0xBB, 0x22, 0x11, 0x00, 0x01, 0x00}),
              (Lines{"   [b]Standard MLP[/b] stream (up to 6 channels) ",
                     "   Quantization length = [bl]24[/bl] bits",
                     "   Sampling frequency = [bl]96[/bl] kHz",
                     "   Channel arrangement = [bl]L + R[/bl]"}));
    EXPECT_EQ(Mlp(Join({trueHd, trueHd, {0x00}})).size(), 18u);
    EXPECT_EQ(Mlp(trueHd).size(), 6u);  // the last byte of the range is not read
    EXPECT_TRUE(Mlp({0xF8, 0x72, 0x6F, 0xBA}).empty());
    EXPECT_EQ(Mlp({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x00}).size(), 2u);
}

TEST(MlpTest, APayloadThatStartsInsideAnAccessUnitIsReadFromItsFirstMajorSync) {
    // The tail of an access unit, then one with a major sync: its check nibble and length, its
    // timing, the sync, the format information.
    const Bytes tail = Counting(37, 5);
    const Bytes unit{0x50, 0x40, 0x12, 0x34, 0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x47, 0x80, 0x01, 0x00};
    const Lines lines = Mlp(Join({tail, unit}));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "   [b]TrueHD[/b] stream (up to 8 channels)");
    EXPECT_EQ(lines[5], "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]");
}

// ---- DTS (ETSI TS 102 114) ----

struct DtsFields {
    int shortCount = 31, cpf = 1, blocks = 15, fsize = 2012, amode = 9, sfreq = 8, rate = 22;
    int extId = 2, ext = 1, lff = 1, hcrc = 0xBEEF, version = 7, pcmr = 6;
};

Bytes DtsCore(const DtsFields& f) {
    BitWriter w;
    w.put(0x7FFE8001, 32)
        .put(1, 1)
        .put(f.shortCount, 5)
        .put(f.cpf, 1)
        .put(f.blocks, 7)
        .put(f.fsize, 14);
    w.put(f.amode, 6)
        .put(f.sfreq, 4)
        .put(f.rate, 5)
        .put(0, 1)
        .put(0, 1)
        .put(0, 1)
        .put(0, 1)
        .put(0, 1);
    w.put(f.extId, 3).put(f.ext, 1).put(0, 1).put(f.lff, 2).put(0, 1);
    if (f.cpf) w.put(f.hcrc, 16);
    w.put(0, 1).put(f.version, 4).put(0, 2).put(f.pcmr, 3).put(0, 1).put(0, 1).put(0, 4).put(0, 32);
    return w.take();
}

Lines Dts(const Bytes& data) {
    Sink sink;
    analysers::DTSdetails(Over(data), sink);
    return sink.lines;
}

TEST(DtsTest, CoreHeaderLines) {
    EXPECT_EQ(Dts(DtsCore({})),
              (Lines{"   PCM core samples = 32", "   PCM sample blocks = 16",
                     "   Primary frame byte size = 2012",
                     "   Channel arrangement = [bl]C + L + R + Ls + Rs[/bl]",
                     "   Sampling frequency = [bl]44.1[/bl] kHz",
                     "   Transmission bitrate = [bl]1411.2[/bl] kbit/s",
                     "   Extension audio = Frequency extension",
                     "   LFE channel = [bl]present[/bl] (IF:128)", "   Header CRC = BEEF",
                     "   Encoder software rev. = 7, Current",
                     "   Source PCM resolution = [bl]24[/bl] bits"}));
    DtsFields f;
    f.cpf = 0, f.ext = 0, f.amode = 16, f.version = 9, f.pcmr = 1, f.sfreq = 4, f.lff = 0;
    EXPECT_EQ(
        Dts(DtsCore(f)),
        (Lines{"   PCM core samples = 32", "   PCM sample blocks = 16",
               "   Primary frame byte size = 2012",
               "   Channel arrangement = [bl]User defined[/bl]",
               "   Sampling frequency = [bl][/bl] kHz",
               "   Transmission bitrate = [bl]1411.2[/bl] kbit/s", "   LFE channel = not present",
               "   Encoder software rev. = 9, Future rev. (incompatible",
               "   Source PCM resolution = [bl]16[/bl] bits, [bl]DTS ES[/bl]"}));
    f.amode = 40, f.version = 3;
    const Lines lines = Dts(DtsCore(f));
    EXPECT_EQ(lines[3], "   Channel arrangement = [bl]User defined[/bl]");
    EXPECT_EQ(lines[7], "   Encoder software rev. = 3, Future rev. (compatible)");
}

TEST(DtsTest, ExtensionSyncWordsTwoFramesAndTheEndOfTheData) {
    const Bytes core = DtsCore({});
    const Lines lines =
        Dts(Join({{0x5A, 0x5A, 0x5A, 0x5A}, core, {0x1D, 0x95, 0xF2, 0x62}, core, {0x00}}));
    // The first core frame's header is described; the next frame's would say the same again.
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "   Channel extension found");
    EXPECT_EQ(lines[1], "   PCM core samples = 32");
    EXPECT_EQ(lines[12], "   Frequency extensiond found ([bl]96[/bl] kHz)");
    // A sync word whose last byte is the payload's last byte is not taken in.
    EXPECT_TRUE(Dts({0x7F, 0xFE, 0x80, 0x01}).empty());
    // A header cut by the end of the valid data: the complete fields only.
    const Bytes cut(core.begin(), core.begin() + 9);
    EXPECT_EQ(Dts(cut), (Lines{"   PCM core samples = 32", "   PCM sample blocks = 16",
                               "   Primary frame byte size = 2012",
                               "   Channel arrangement = [bl]C + L + R + Ls + Rs[/bl]",
                               "   Sampling frequency = [bl]44.1[/bl] kHz"}));
    // The header may lie past the payload as long as it is in the block.
    Sink sink;
    analysers::DTSdetails(Over(core, 0, 6), sink);
    EXPECT_EQ(sink.lines.size(), 11u);
}

// A DTS-HD extension substream header (ETSI TS 102 114, 7.5) with static fields, one
// presentation and one asset, then `body`.
Bytes ExtensionSubstream(int rateCode, int channels, const Bytes& body) {
    const int headerSize = 32;
    const int frameSize = headerSize + static_cast<int>(body.size());
    BitWriter w;
    w.put(0x64582025, 32).put(0, 8).put(0, 2).put(0, 1);  // user bits, index 0, short sizes
    w.put(headerSize - 1, 8).put(frameSize - 1, 16);
    w.put(1, 1).put(0, 2).put(1, 3).put(0, 1);  // static fields, clock, duration, no time stamp
    w.put(0, 3).put(0, 3).put(1, 1).put(1, 8);  // 1 presentation, 1 asset, its masks
    w.put(0, 1);                                // no mixing metadata
    w.put(static_cast<std::uint64_t>(body.size()) - 1, 16);                  // nuAssetFsize
    w.put(20, 9).put(0, 3).put(0, 1).put(1, 1).put(0x656E67, 24).put(0, 1);  // language "eng"
    w.put(23, 5).put(static_cast<std::uint64_t>(rateCode), 4).put(channels - 1, 8);
    Bytes header = w.take();
    header.resize(headerSize, 0);
    header.insert(header.end(), body.begin(), body.end());
    return header;
}

TEST(DtsTest, TheExtensionSubstreamBehindTheCoreAndItsComponents) {
    const Bytes xll = Join({{0x41, 0xA2, 0x95, 0x47}, Counting(60, 1)});
    const Lines lines = Dts(Join({DtsCore({}), ExtensionSubstream(12, 8, xll), {0x00}}));
    ASSERT_EQ(lines.size(), 14u);
    EXPECT_EQ(lines[11],
              "   [b]DTS-HD[/b] extension substream 0: header size = 32 bytes, frame "
              "size = 96 bytes");
    EXPECT_EQ(lines[12], "   Asset sampling frequency = [bl]48[/bl] kHz, channels = [bl]8[/bl]");
    EXPECT_EQ(lines[13], "   Extension = [bl]Master Audio[/bl] (XLL lossless)");

    const Bytes lbr = Join({{0x0A, 0x80, 0x19, 0x21}, Counting(20, 2)});
    const Lines express = Dts(Join({ExtensionSubstream(6, 2, lbr), {0x00}}));
    ASSERT_EQ(express.size(), 3u);
    EXPECT_EQ(express[1], "   Asset sampling frequency = [bl]44.1[/bl] kHz, channels = [bl]2[/bl]");
    EXPECT_EQ(express[2], "   Extension = [bl]Express[/bl] (LBR)");
    const Bytes xbr = Join({{0x65, 0x5E, 0x31, 0x5E}, Counting(20, 3)});
    EXPECT_EQ(Dts(Join({ExtensionSubstream(13, 6, xbr), {0x00}}))[2],
              "   Extension = [bl]High Resolution[/bl] (XBR)");
}

TEST(BitReaderTest, FieldsMostSignificantBitFirst) {
    const Bytes data{0x00, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
    analysers::BitReader r(data.data(), data.size(), 1);
    r.bitsStart();
    EXPECT_EQ(r.bitsGet(4), 0x1u);
    EXPECT_EQ(r.bitsGet(8), 0x23u);
    EXPECT_EQ(r.bitsGet(16), 0x4567u);
    EXPECT_EQ(r.position, 8u);
    EXPECT_EQ(r.used, 4);
    EXPECT_EQ(r.window, 0x89ABCDE0u);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.bitsGet(12), 0x89Au);
    EXPECT_EQ(r.bitsGet(8), 0xBCu);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.bitsGet(8), 0xDEu);
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(r.bitsGet(1), 0u);  // past the data: zeros, and no longer complete
    EXPECT_FALSE(r.complete());

    analysers::BitReader ones(data.data(), data.size(), 0);
    ones.bitsStart();
    for (int k = 0; k < 8; ++k)
        ones.bitsGet(1);
    EXPECT_EQ(ones.position, 5u);  // one byte fetched for eight bits
}

// ---- Subpictures ----

TEST(SubpictureTest, TheFirstTwoBytesTellTheCoding) {
    const auto format = [](const Bytes& unit) {
        Sink sink;
        analysers::SUBdetails(Over(unit), sink);
        return sink.lines;
    };
    EXPECT_EQ(format({0x00, 0x00, 0x12}), Lines{"   Format = [bl]8bitRLE[/bl]"});
    EXPECT_EQ(format({0x00, 0x01}), Lines{"   Format = [bl]2bitRLE[/bl]"});
    EXPECT_EQ(format({0x01, 0x00}), Lines{"   Format = [bl]2bitRLE[/bl]"});
    EXPECT_TRUE(format({0x00}).empty());
}

}  // namespace
}  // namespace strandis::test
