#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "common/RunError.h"
#include "engine/Engine.h"
#include "ps/CountPictures.h"
#include "ps/PacketKind.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

constexpr std::size_t kBlock = 262144;

class ScannerTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;

    std::string save(const PsBuilder& ps, const std::string& name = "FEATURE_1.EVO") {
        const std::string path = dir.path(name);
        ps.save(path);
        return path;
    }
    ScanTrace check(const PsBuilder& ps, const std::string& name = "FEATURE_1.EVO") {
        return RealScan(save(ps, name), false, host);
    }
    ScanTrace demux(const PsBuilder& ps, RecordingSink* sink = nullptr) {
        return RealScan(save(ps), true, host, sink);
    }
};

PsBuilder StartWithSystemHeader(int audioBound, int videoBound) {
    PsBuilder ps;
    ps.pack().systemHeader(audioBound, videoBound, {0xE0, 0xBD}).padTo();
    ps.raw(Bytes(kBlock - ps.size(), 0xFF));
    return ps;
}

TEST_F(ScannerTest, SystemHeaderBoundsAreReportedWithTheirPlurals) {
    auto one = check(StartWithSystemHeader(3, 1));
    ASSERT_EQ(one.log.size(), 1u);
    EXPECT_EQ(one.log[0], "It contains 1 video stream and 3 audio streams.");

    auto two = check(StartWithSystemHeader(1, 2));
    ASSERT_EQ(two.log.size(), 1u);
    EXPECT_EQ(two.log[0], "It contains 2 video streams and 1 audio stream.");

    // Shorter than one block: the line needs a whole first block.
    PsBuilder shortFile;
    shortFile.pack().systemHeader(3, 1).padTo();
    EXPECT_TRUE(check(shortFile).log.empty());

    // Demux mode never says it.
    EXPECT_TRUE(demux(StartWithSystemHeader(3, 1)).log.empty());
}

TEST_F(ScannerTest, EveryKindOfStreamIsRegisteredAndLoggedOnce) {
    host.set(Option::Details, false);
    PsBuilder ps;
    ps.pack()
        .video(0xE0, Counting(100), 9000)
        .video(0xE0, Counting(100), 12000)
        .video(0xE3, Counting(100), 9000)
        .audio(0x80, Counting(50))
        .audio(0x81, Counting(50))
        .audio(0x88, Counting(50))  // DTS in slot 0, which is taken
        .audio(0xC2, Counting(50))
        .audio(0xA3, Counting(50))
        .audio(0xB4, Counting(50))
        .audio(0x95, Counting(50))  // no such sub-stream
        .subpicture(0x20, Counting(40))
        .subpicture(0x61, Counting(40))
        .subpicture(0x35, Counting(40))  // slot 21: no box, still registered
        .mpegAudio(0xC0, Counting(60));
    auto trace = check(ps);
    const std::vector<std::string> expected{
        "[b]MPEG-2[/b] video stream 0 found!",
        "[b]H.264 (AVC)[/b] video stream 1 found!",
        "[b]Dolby Digital[/b] audio stream 0 found!",
        "[b]Dolby Digital[/b] audio stream 1 found!",
        "[b]DTS HD (DTS)[/b] audio stream 0x88 takes slot 15: its own holds 0x80",
        "[b]DTS HD (DTS)[/b] audio stream 15 found!",
        "[b]Dolby Digital[/b] Plus audio stream 2 found!",
        "[b]LPCM[/b] audio stream 3 found!",
        "[b]Dolby TrueHD[/b] audio stream 4 found!",
        "[b]Subpicture[/b] stream 0 found!",
        "[b]Extended subpicture[/b] stream 1 found!",
        "[b]Subpicture[/b] stream 21 found!",
    };
    EXPECT_EQ(trace.log, expected);
    StreamInventory want;
    want.video(0) = 0xE0, want.video(1) = 0xE3;
    want.audio(0) = 0x80, want.audio(1) = 0x81, want.audio(2) = 0xC2, want.audio(3) = 0xA3,
    want.audio(4) = 0xB4, want.audio(15) = 0x88;
    want.sub(0) = 0x20, want.sub(1) = 0x61, want.sub(21) = 0x35;
    EXPECT_EQ(trace.streamIds, want.ids);
}

TEST_F(ScannerTest, DetailLinesGiveFirstTimeStampAndIdOncePerSlot) {
    PsBuilder ps;
    ps.pack()
        .audio(0x80, Counting(50), 111111)
        .audio(0x80, Counting(50), 222222)
        .video(0xE0, Counting(64), 0x1234567, 0x1230000)
        .subpicture(0x20, Counting(10), 0x2000)
        .subpicture(0x3F, Counting(10), 0x3000)  // slot 31
        .subpicture(0x3F, Counting(10), 0x4000);
    auto trace = check(ps);
    const std::vector<std::string> expected{
        "[b]Dolby Digital[/b] audio stream 0 found!",
        "   First PTS = 0001B207",
        "   Stream id = 80",
        "[b]MPEG-2[/b] video stream 0 found!",
        // A header with PTS and DTS refreshes the video time stamp.
        "   First PTS = 01234567",
        "   Stream id = E0",
        "[b]Subpicture[/b] stream 0 found!",
        "   First PTS = 00002000",
        "   Stream id = 20",
        "   Format = [bl]2bitRLE[/bl]",
        "[b]Subpicture[/b] stream 31 found!",
        "   First PTS = 00003000",
        "   Stream id = 3F",
        "   Format = [bl]2bitRLE[/bl]",
    };
    EXPECT_EQ(trace.log, expected);
    EXPECT_EQ(trace.minPts, 111111u);
}

TEST_F(ScannerTest, MpegVideoTakesTheTimeStampLeftByAnEarlierPacket) {
    // VideoPts is taken from PtsReg at the start code, before the packet's own header.
    PsBuilder ps;
    ps.pack().mpegAudio(0xC0, Counting(10), 0x5000).video(0xE0, Counting(10), 0x6000);
    auto trace = check(ps);
    ASSERT_GE(trace.log.size(), 2u);
    EXPECT_EQ(trace.log[1], "   First PTS = 00005000");
}

TEST_F(ScannerTest, PacketsCrossingABlockBoundaryAtAnyOffsetArriveWhole) {
    const Bytes video = Counting(3000, 7);
    const Bytes lpcm = Counting(1500, 99);
    for (std::size_t k = 1; k <= 48; ++k) {
        PsBuilder ps;
        ps.raw(Bytes(kBlock - k, 0xFF)).video(0xE0, video, 0x10000 + k);
        ps.raw(Bytes(2 * kBlock - k / 2 - ps.size(), 0xFF)).audio(0xA0, lpcm, 0x20000 + k).padTo();
        RecordingSink sink;
        auto trace = demux(ps, &sink);
        ASSERT_EQ(Joined(trace.chunks, PacketKind::Video, 0), video) << "offset " << k;
        ASSERT_EQ(Joined(trace.chunks, PacketKind::Audio, 0), lpcm) << "offset " << k;
        // A PES header of 14 bytes: whether the payload is split depends on where the block ends.
        EXPECT_EQ(trace.chunks.front().pts, 0x10000 + k);
        EXPECT_TRUE(sink.ownPts.front());
        // Headers of 14 (video) and 21 (LPCM) bytes: a payload is split when its header fits before
        // the block's end.
        EXPECT_EQ(trace.chunks.size(), (k > 14 ? 2u : 1u) + (k / 2 > 21 ? 2u : 1u))
            << "offset " << k;
        EXPECT_EQ(trace.streamIds[16], 0xA0);
    }
}

TEST_F(ScannerTest, SkippedPacketsHideTheStartCodesTheyCarry) {
    const Bytes fake{0x00, 0x00, 0x01, 0xE0, 0x00, 0x10, 0x81,
                     0x80, 0x05, 0x21, 0x00, 0x01, 0x00, 0x01};
    PsBuilder ps;
    ps.pack()
        .private2(fake)
        .raw({0x00, 0x00, 0x01, 0xBE, 0x00, 0x0E})
        .raw(fake)
        .private2(Bytes(1000, 0));
    auto trace = check(ps);
    EXPECT_TRUE(trace.log.empty());
    EXPECT_EQ(trace.streamIds[0], -1);
}

TEST_F(ScannerTest, SubStreamA1IsMlpInAnAudioObjectOnly) {
    PsBuilder ps;
    ps.pack().audio(0xA1, Counting(100), 0x100);
    host.set(Option::Details, false);
    EXPECT_EQ(check(ps, "ATS_01_1.aob").log,
              std::vector<std::string>{"[b]MLP[/b] audio stream 1 found!"});
    host.source.clear();
    EXPECT_EQ(check(ps, "ATS_01_1.AOB").log,
              std::vector<std::string>{"[b]MLP[/b] audio stream 1 found!"});
    host.source.clear();
    EXPECT_EQ(check(ps, "FEATURE_1.EVO").log,
              std::vector<std::string>{"[b]LPCM[/b] audio stream 1 found!"});
    host.source = dir.path("x.aob/FEATURE_1");  // a folder's dot is no extension
    EXPECT_EQ(check(ps).log, std::vector<std::string>{"[b]LPCM[/b] audio stream 1 found!"});
}

TEST_F(ScannerTest, Vc1IsRecognisedByItsStreamIdExtension) {
    PsBuilder ps;
    ps.pack()
        .pes(0xFD, {.pts = 0x100}, Counting(30))  // no extension 2, no VC-1 stream yet: no slot
        .vc1(0x60, Counting(30), 0x200)           // not VC-1: skipped
        .vc1(0x55, {0x00, 0x00, 0x01, 0x0D, 0x00, 0x00, 0x01, 0x0D}, 0x300)
        .pes(0xFD, {.pts = 0x400, .pstd = true, .streamIdExtension = 0x56},
             {0x00, 0x00, 0x01, 0x0D});
    host.set(Option::Details, false);
    RecordingSink sink;
    auto trace = RealScan(save(ps), false, host);
    EXPECT_EQ(trace.log, (std::vector<std::string>{"[b]VC-1[/b] video stream 0 found!",
                                                   "[b]VC-1[/b] video stream 1 found!"}));
    EXPECT_EQ(trace.streamIds[0], 0x55);
    EXPECT_EQ(trace.streamIds[1], 0x56);
    EXPECT_EQ(trace.frames, (FrameCounts{2, 1}));

    auto demuxed = RealScan(save(ps), true, host, &sink);
    ASSERT_EQ(demuxed.chunks.size(), 2u);  // the slot-less and the skipped packets give nothing
    EXPECT_EQ(demuxed.chunks[0].slot, 0);
    EXPECT_EQ(sink.streamIds[0], 0x55);
    EXPECT_EQ(demuxed.chunks[1].slot, 1);
}

TEST(PictureCounterTest, CountsEveryChunkOnceWhoeverTakesIt) {
    // More chunks than its ring holds between two settles, of every type and both slots, some
    // settled midway: the sums are those of counting each chunk in place.
    Bytes memory(4096);
    std::mt19937 random(11);
    for (auto& byte : memory)
        byte = static_cast<std::uint8_t>(random() % 4 == 0   ? 0x00
                                         : random() % 3 == 0 ? 0x01
                                                             : 0x09);
    for (int settleEvery : {0, 1000}) {
        PictureCounter counter;
        FrameCounts expected{};
        for (int k = 0; k < 30000; ++k) {
            const std::size_t at = random() % 3000, length = random() % 1000;
            const auto type = static_cast<std::uint8_t>(k % 3);
            const int slot = k % 2;
            expected[static_cast<std::size_t>(slot)] += CountPictures(&memory[at], length, type);
            counter.add(&memory[at], length, type, slot);
            if (settleEvery != 0 && k % settleEvery == 0) counter.settle();
        }
        counter.settle();
        const auto counted = counter.counts();
        EXPECT_EQ(counted[0], expected[0]) << settleEvery;
        EXPECT_EQ(counted[1], expected[1]) << settleEvery;
    }
}

TEST_F(ScannerTest, PictureCountsFollowTheVideoTypeAndTheChunkStartRule) {
    const Bytes two{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(CountPictures(two.data(), two.size(), VideoType::Mpeg2), 2);
    const Bytes opensWithTail{0x01, 0x00, 0x55, 0x00, 0x00, 0x01, 0x00};
    EXPECT_EQ(CountPictures(opensWithTail.data(), opensWithTail.size(), VideoType::Mpeg2), 2);
    const Bytes lastByteOnly{0x00, 0x55, 0x00, 0x00, 0x01, 0x09};
    EXPECT_EQ(CountPictures(lastByteOnly.data(), lastByteOnly.size(), VideoType::H264), 1);
    const Bytes notPreceded{0x02, 0x00, 0x01, 0x0D, 0x01, 0x01, 0x0D};
    EXPECT_EQ(CountPictures(notPreceded.data(), notPreceded.size(), VideoType::Vc1), 0);

    // The vector search and the plain one against the definition, on chunks dense with start
    // codes and near-misses, at every length and position in memory.
    std::mt19937 random(7);
    const Bytes alphabet{0x00, 0x00, 0x00, 0x01, 0x01, 0x09, 0x0D, 0x47};
    Bytes memory(300);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t length = random() % 260;
        const std::size_t at = random() % 33;
        for (std::size_t k = 0; k < length; ++k)
            memory[at + k] = alphabet[random() % 8];
        const std::uint8_t* chunk = memory.data() + at;
        for (std::uint8_t type : {VideoType::Mpeg2, VideoType::H264, VideoType::Vc1}) {
            Bytes withZeros(length + 2, 0x00);  // the chunk as if zeros stood in front of it
            std::copy(chunk, chunk + length, withZeros.begin() + 2);
            std::int32_t expected = 0;
            for (std::size_t p = 0; length >= 2 && p + 4 <= withZeros.size(); ++p) {
                expected += withZeros[p] == 0 && withZeros[p + 1] == 0 && withZeros[p + 2] == 1 &&
                            withZeros[p + 3] == kPictureCode[type];
            }
            ASSERT_EQ(CountPictures(chunk, length, type), expected) << length << " at " << at;
            ASSERT_EQ(CountPicturesPlain(chunk, length, type), expected) << length << " at " << at;
        }
    }

    // Through the scanner: a start code split over two packets is not counted, one split over
    // two blocks neither; demux mode counts only ticked slots.
    PsBuilder ps;
    ps.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00, 0x55, 0x00, 0x00})
        .video(0xE0, {0x01, 0x00, 0x00, 0x00, 0x01, 0x00})  // 01 00 at the start counts
        .video(0xE1, {0x00, 0x00, 0x01, 0x00});
    ps.raw(Bytes(kBlock - 12 - ps.size(), 0xFF))
        .video(0xE0, {0x00, 0x00, 0x01, 0x00});  // 00 00 01 | 00
    auto trace = check(ps);
    EXPECT_EQ(trace.frames, (FrameCounts{3, 1}));
    host.tick(BoxKind::Video, 1, false);
    EXPECT_EQ(demux(ps).frames, (FrameCounts{3, 0}));
    host.set(Option::CountFrames, false);
    EXPECT_EQ(check(ps).frames, (FrameCounts{0, 0}));
}

TEST_F(ScannerTest, MalformedLengthsNeverMoveTheMachineBackwards) {
    PsBuilder ps;
    ps.pack()
        .pes(0xE0, {.pts = 0x100, .packetLength = 4},
             Counting(20))  // length smaller than the header
        .audio(0x80, Counting(30), 0x200)
        .pes(0xBD, {.packetLength = 0}, {})
        .subpicture(0x21, Counting(12), 0x300);
    host.set(Option::Details, false);
    auto trace = check(ps);
    EXPECT_EQ(trace.streamIds[0], 0xE0);
    EXPECT_EQ(trace.streamIds[16], 0x80);
    EXPECT_EQ(trace.streamIds[33], 0x21);
    RecordingSink sink;
    auto demuxed = demux(ps, &sink);
    EXPECT_EQ(Joined(demuxed.chunks, PacketKind::Subpicture, 1), Counting(12));
}

TEST_F(ScannerTest, DemuxModeRoutesChunksWithSlotsIdsAndTimeStamps) {
    PsBuilder ps;
    ps.pack()
        .audio(0x80, Counting(40), 0x1000)
        .audio(0x88, Counting(41), 0x1100)  // DTS shares slot 0
        .audio(0xB2, Counting(42), 0x1200)
        .subpicture(0x22, Counting(43), 0x1300)
        .subpicture(0x22, Counting(44))  // the unit's second packet: no PTS of its own
        .mpegAudio(0xC0, Counting(45), 0x1400);
    RecordingSink sink;
    auto trace = demux(ps, &sink);
    EXPECT_TRUE(trace.log.empty());
    ASSERT_EQ(trace.chunks.size(), 6u);
    const std::vector<SeenChunk> expected{
        {PacketKind::Audio, 0, 0x1000, Counting(40)},   // each packet's own time stamp
        {PacketKind::Audio, 15, 0x1100, Counting(41)},  // its slot taken: the last free one
        {PacketKind::Audio, 2, 0x1200, Counting(42)},
        {PacketKind::Subpicture, 2, 0x1300, Counting(43)},
        {PacketKind::Subpicture, 2, 0, Counting(44)},      // none of its own
        {PacketKind::MpegAudio, 2, 0x1400, Counting(45)},  // the slot of the last audio packet
    };
    EXPECT_EQ(trace.chunks, expected);
    EXPECT_EQ(sink.streamIds, (std::vector<std::int32_t>{0x80, 0x88, 0xB2, 0x22, 0x22, 0xC0}));
    EXPECT_EQ(sink.ownPts, (std::vector<bool>{true, true, true, true, false, true}));
}

TEST_F(ScannerTest, FastCheckStopsAtTheBlockThatPassesTheLimit) {
    // 300,000,000 bytes end inside the block that ends at 1,145 x 262,144 = 300,154,880.
    const std::string path = dir.path("big.EVO");
    {
        PsBuilder inLastBlock, pastIt;
        inLastBlock.video(0xE0, {0x00, 0x00, 0x01, 0x00});
        pastIt.audio(0x80, Counting(20));
        SaveFile(path, {});
        std::filesystem::resize_file(path, 310'000'000);
        FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 300'100'000, SEEK_SET);
        std::fwrite(inLastBlock.bytes().data(), 1, inLastBlock.size(), f);
        std::fseek(f, 300'200'000, SEEK_SET);
        std::fwrite(pastIt.bytes().data(), 1, pastIt.size(), f);
        std::fclose(f);
    }
    host.set(Option::Details, false);
    auto trace = RealScan(path, false, host);
    EXPECT_EQ(trace.stopFlag, 1);
    EXPECT_EQ(trace.streamIds[0], 0xE0);
    EXPECT_EQ(trace.streamIds[16], -1);
    EXPECT_EQ(trace.frames, (FrameCounts{0, 0}));  // discarded with the stop
    ASSERT_FALSE(trace.progress.empty());
    EXPECT_EQ(trace.progress.back(), "284/295 Mbytes");

    host.set(Option::FastCheck, false);
    host.status.clear();
    auto full = RealScan(path, false, host);
    EXPECT_EQ(full.stopFlag, 0);
    EXPECT_EQ(full.streamIds[16], 0x80);
    EXPECT_EQ(full.frames[0], 1);
}

TEST_F(ScannerTest, ProgressEveryFourMebibytesAndStopOnCancel) {
    PsBuilder ps;
    ps.video(0xE0, {0x00, 0x00, 0x01, 0x00}).padTo();
    ps.raw(Bytes(9 * 1048576 - ps.size(), 0xFF)).audio(0x80, Counting(10));
    const std::string path = save(ps);

    auto whole = RealScan(path, false, host);
    EXPECT_EQ(whole.progress, (std::vector<std::string>{"4/9 Mbytes", "8/9 Mbytes"}));
    EXPECT_EQ(host.pendingEventCalls, 2);
    EXPECT_EQ(whole.frames[0], 1);
    EXPECT_FALSE(host.active);
    ASSERT_FALSE(host.status.empty());
    EXPECT_EQ(host.status[0].second.rfind("4/9 Mbytes, Remaining time: 0:00:0", 0), 0u)
        << host.status[0].second;

    Engine engine(host);
    host.onPendingEvents = [&] { engine.StopFlag = 1; };
    engine.SourceStream.open(path);
    const ScanPass stopped = CheckPass(engine);
    EXPECT_EQ(engine.StopFlag, 1);
    EXPECT_EQ(engine.SourceStream.position(), 4 * 1048576);
    EXPECT_EQ(stopped.frames, (FrameCounts{0, 0}));
    EXPECT_EQ(stopped.registered.audio(0), -1);
}

TEST_F(ScannerTest, ASourceDeletedWhileReadIsReadToItsEnd) {
    PsBuilder ps;
    ps.raw(Bytes(2 * kBlock, 0xFF)).audio(0x80, Counting(100), 0x100);
    const std::string path = save(ps);
    Engine engine(host);
    engine.SourceStream.open(path);
    std::filesystem::remove(path);  // the open file keeps its data
    host.set(Option::Details, false);
    EXPECT_EQ(CheckPass(engine).registered.audio(0), 0x80);
    EXPECT_EQ(engine.SourceStream.position(), static_cast<std::int64_t>(ps.size()));
}

TEST_F(ScannerTest, ASourceThatShrinksWhileReadIsAnErrorNotAHang) {
    PsBuilder ps;
    ps.raw(Bytes(3 * kBlock, 0xFF));
    const std::string path = save(ps);
    Engine engine(host);
    engine.SourceStream.open(path);
    ASSERT_EQ(::truncate(path.c_str(), kBlock + 100), 0);
    try {
        CheckPass(engine);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_NE(std::string(error.what()).find("Cannot read file \"" + path + "\""),
                  std::string::npos);
    }
    EXPECT_FALSE(host.active);
}

}  // namespace
}  // namespace strandis::test
