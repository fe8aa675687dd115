#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/RunError.h"
#include "engine/Detection.h"
#include "engine/RebuildRun.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

// One 2,048-byte pack of a test disc: its kind, the stream's id and the seed of its payload.
//   's' system header, 'v' video stream id, 'x' VC-1 stream_id_extension, 'a' audio sub-stream,
//   'p' subpicture sub-stream, 'm' MPEG audio, 'n' navigation
struct Pack {
    char kind;
    std::uint8_t id;
    std::uint8_t seed;
};

Bytes Disc(const std::vector<Pack>& packs, int videoBound, int audioBound) {
    PsBuilder ps;
    for (const Pack& p : packs) {
        const std::uint64_t pts = 3000u * p.seed;
        ps.pack(300u * p.seed);
        switch (p.kind) {
            case 's':
                ps.systemHeader(audioBound, videoBound, {0xE0, 0xBD, 0xBF});
                break;
            case 'v':
                ps.video(p.id, Counting(1200, p.seed), pts, pts - 3000);
                break;
            case 'x':
                ps.pes(0xFD, {.pts = pts, .pstd = true, .streamIdExtension = p.id},
                       Counting(1200, p.seed));
                break;
            case 'a':
                ps.audio(p.id, Counting(1500, p.seed), pts);
                break;
            case 'p':
                ps.subpicture(p.id, Counting(900, p.seed), pts);
                break;
            case 'm':
                ps.mpegAudio(p.id, Counting(1000, p.seed), pts);
                break;
            default:
                ps.private2(Counting(1000, p.seed));
                break;
        }
        ps.padTo(2048);
    }
    return ps.bytes();
}

// The disc as the rebuild should write it: dropped streams left out, the others renamed.
std::vector<Pack> Expect(const std::vector<Pack>& packs,
                         const std::map<std::uint8_t, std::uint8_t>& rename,
                         const std::set<std::uint8_t>& dropped) {
    std::vector<Pack> out;
    for (Pack p : packs) {
        if (p.kind != 's' && p.kind != 'n' && dropped.count(p.id)) continue;
        if (const auto it = rename.find(p.id); p.kind != 's' && p.kind != 'n' && it != rename.end())
            p.id = it->second;
        out.push_back(p);
    }
    return out;
}

const std::vector<Pack> kStreams{
    {'s', 0, 1},     {'v', 0xE0, 2},  {'a', 0x89, 3},  {'a', 0xC2, 4},  {'a', 0x80, 5},
    {'n', 0, 6},     {'a', 0xA3, 7},  {'a', 0xB4, 8},  {'p', 0x20, 9},  {'p', 0x61, 10},
    {'v', 0xE0, 11}, {'a', 0x89, 12}, {'a', 0xC2, 13}, {'a', 0x80, 14}, {'a', 0xA3, 15},
    {'a', 0xB4, 16}, {'p', 0x20, 17}, {'p', 0x61, 18},
};

class RebuildTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    Detected detected;

    std::string save(const Bytes& data, const std::string& name = "FEATURE_1.EVO") {
        SaveFile(dir.path(name), data);
        return dir.path(name);
    }
    void detect(const std::string& source) {
        host.source = source;
        detected = RunDetection(engine, source);
        host.takeBoxes(detected.boxes);
        host.lines.clear();
    }
    Bytes rebuilt(const std::string& base = "FEATURE_1") {
        return LoadFile(dir.path(base + ".rebuilt.EVO"));
    }
};

TEST_F(RebuildTest, EverythingTickedKeepsEveryPackWithNewNumbersAndBounds) {
    Bytes source = Disc(kStreams, 1, 4);
    const Bytes garbage = Counting(2048, 99);  // no pack start code: dropped
    source.insert(source.end(), garbage.begin(), garbage.end());
    detect(save(source));
    const RunOutcome outcome = RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));

    // Numbers in the order of first appearance, shared by the audio codecs: DTS 0x89 comes first.
    const Bytes expected =
        Disc(Expect(kStreams, {{0x89, 0x88}, {0xC2, 0xC1}, {0x80, 0x82}}, {}), 1, 5);
    EXPECT_EQ(rebuilt(), expected);
    EXPECT_EQ(rebuilt().size(), source.size() - 2048);
    ASSERT_EQ(outcome.files.size(), 1u);
    EXPECT_EQ(outcome.files[0].size, static_cast<std::int64_t>(expected.size()));
    const std::vector<std::string> log{"Opening file FEATURE_1.EVO", "File size: 0 Mbytes.",
                                       "Creating " + dir.path("FEATURE_1.rebuilt.EVO"), "Done.",
                                       ""};
    EXPECT_EQ(host.lines, log);
}

// Past the first blocks the kept units are written from the source's blocks, and a renumbered
// unit around its changed bytes: a source of many blocks comes out the same as a small one.
TEST_F(RebuildTest, ASourceOfManyBlocksIsRenumberedAsASmallOne) {
    std::vector<Pack> packs;
    for (int round = 0; round < 48; ++round) {
        for (Pack p : kStreams) {
            p.seed = static_cast<std::uint8_t>(p.seed + 18 * round);
            packs.push_back(p);
        }
    }
    detect(save(Disc(packs, 1, 4)));
    host.tick(BoxKind::Audio, 0, false);  // Dolby Digital 0x80
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(rebuilt(),
              Disc(Expect(packs, {{0x89, 0x88}, {0xC2, 0xC1}, {0xA3, 0xA2}, {0xB4, 0xB3}}, {0x80}),
                   1, 4));
}

// A damaged system header of no length, whose bytes are those of the next packet's start: the
// bound and the stream number land on the same byte, and the number, set last, is what is left.
TEST_F(RebuildTest, ABoundAndAStreamNumberOnOneByteLeaveTheNumber) {
    Bytes pack{0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89,
               0xC3, 0xF8, 0x00, 0x00, 0x01, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x01, 0xE1,
               0x07, 0xE6, 0x81, 0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01};
    pack.resize(2048, 0xAA);
    detect(save(pack));
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    Bytes expected = pack;
    expected[23] = 0xE0;  // the first video stream's number
    expected[24] = 0x01;  // a video bound of one
    EXPECT_EQ(rebuilt(), expected);
}

TEST_F(RebuildTest, AnUntickedStreamLosesItsPacksAndTheNextTakesItsNumber) {
    detect(save(Disc(kStreams, 1, 4)));
    host.tick(BoxKind::Audio, 0, false);  // Dolby Digital 0x80
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(
        rebuilt(),
        Disc(Expect(kStreams, {{0x89, 0x88}, {0xC2, 0xC1}, {0xA3, 0xA2}, {0xB4, 0xB3}}, {0x80}), 1,
             4));

    // TrueHD, Dolby Digital and LPCM all leave when unticked; so does a subpicture stream.
    host.tick(BoxKind::Audio, 3, false);
    host.tick(BoxKind::Audio, 4, false);
    host.tick(BoxKind::Sub, 0, false);
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(rebuilt(), Disc(Expect(kStreams, {{0x89, 0x88}, {0xC2, 0xC1}, {0x61, 0x60}},
                                     {0x80, 0xA3, 0xB4, 0x20}),
                              1, 2));
}

TEST_F(RebuildTest, VideoNumbersAreSharedByVc1AndMpegVideo) {
    const std::vector<Pack> packs{
        {'s', 0, 1}, {'x', 0x56, 2}, {'v', 0xE0, 3}, {'m', 0xC3, 4}, {'x', 0x56, 5}};
    detect(save(Disc(packs, 2, 0)));
    EXPECT_EQ(detected.inventory.video(1), 0x56);
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    // MPEG audio is not listed in the inventory: kept, and numbered in the audio sequence.
    EXPECT_EQ(rebuilt(), Disc(Expect(packs, {{0x56, 0x55}, {0xE0, 0xE1}, {0xC3, 0xC0}}, {}), 2, 0));

    host.tick(BoxKind::Video, 1, false);
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(rebuilt(), Disc(Expect(packs, {{0xC3, 0xC0}}, {0x56}), 1, 0));
}

TEST_F(RebuildTest, TheSecondFileGetsTheSameNumbers) {
    const std::vector<Pack> first{{'s', 0, 1}, {'a', 0x81, 2}, {'a', 0x83, 3}, {'v', 0xE0, 4}};
    const std::vector<Pack> second{{'s', 0, 5}, {'a', 0x83, 6}, {'a', 0x81, 7}, {'v', 0xE0, 8}};
    save(Disc(second, 1, 2), "FEATURE_2.EVO");
    detect(save(Disc(first, 1, 2)));
    host.tick(BoxKind::Audio, 1, false);
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    Bytes expected = Disc(Expect(first, {{0x83, 0x80}}, {0x81}), 1, 1);
    const Bytes secondExpected = Disc(Expect(second, {{0x83, 0x80}}, {0x81}), 1, 1);
    expected.insert(expected.end(), secondExpected.begin(), secondExpected.end());
    EXPECT_EQ(rebuilt("FEATURE_1_FEATURE_2"), expected);
}

TEST_F(RebuildTest, EmptyAndRaggedSourcesAndTheSourceAsOutput) {
    detect(save({}));
    const RunOutcome empty = RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(empty.files[0].size, 0);
    EXPECT_EQ(host.lines[host.lines.size() - 2], "Done.");

    // A last unit shorter than 2,048 bytes is copied with its true length.
    Bytes ragged = Disc({{'s', 0, 1}, {'a', 0x80, 2}}, 0, 1);
    PsBuilder tail;
    tail.pack().private2(Counting(100));
    ragged.insert(ragged.end(), tail.bytes().begin(), tail.bytes().end());
    detect(save(ragged));
    RunRebuild(engine, detected, dir.path("FEATURE_1.EVO"));
    EXPECT_EQ(rebuilt(), ragged);

    // An output whose name leads to the source: refused, the source untouched.
    std::filesystem::create_symlink(dir.path("FEATURE_1.EVO"), dir.path("LINK.rebuilt.EVO"));
    std::filesystem::create_hard_link(dir.path("FEATURE_1.EVO"), dir.path("LINK.EVO"));
    EXPECT_THROW(RunRebuild(engine, detected, dir.path("LINK.EVO")), RunError);
    EXPECT_EQ(LoadFile(dir.path("FEATURE_1.EVO")), ragged);
}

}  // namespace
}  // namespace strandis::test
