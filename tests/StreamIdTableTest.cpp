// Every id, run through the detection, the demux and the rebuild: the box a stream gets, the
// bytes its output keeps and the pack the rebuild writes must tell one story.
#include <gtest/gtest.h>

#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/RebuildRun.h"
#include "ps/StreamIdTable.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

struct Probe {
    IdSpace space;
    std::uint8_t id;
};

// One pack holding one packet of the stream: the private-stream-1 header of the sub-stream
// (id, three bytes, and as many more as the range takes off), then counting bytes.
Bytes OnePack(Probe probe, const Bytes& payload) {
    PsBuilder ps;
    ps.pack();
    if (probe.space == IdSpace::SubStreamId) {
        Bytes data{probe.id, 0x01, 0x00, 0x01, 0x20, 0x10, 0x00};
        data.insert(data.end(), payload.begin(), payload.end());
        ps.private1(data, {.pts = 0x9000});
    } else if (probe.space == IdSpace::ExtensionId) {
        ps.pes(0xFD, {.pts = 0x9000, .streamIdExtension = probe.id}, payload);
    } else {
        ps.pes(probe.id, {.pts = 0x9000}, payload);
    }
    ps.padTo(2048);
    return ps.bytes();
}

class StreamIdTableTest : public ::testing::Test {
protected:
    TempDir dir;

    // `name` is the source's: MPEG audio has boxes in DVD-Video objects, not in EVOs.
    void agree(Probe probe, const std::string& name = "FEATURE_1.EVO") {
        SCOPED_TRACE(::testing::Message() << "space " << static_cast<int>(probe.space) << " id 0x"
                                          << std::hex << int{probe.id});
        const Bytes payload = Counting(600, probe.id);
        const Bytes file = OnePack(probe, payload);
        const std::string source = dir.path(name);
        SaveFile(source, file);
        const IdRange* found = FindIdRange(probe.space, probe.id);
        const bool evo = name.ends_with(".EVO");
        // What the scan takes the id for: nothing when it has no box here.
        const IdRange* range =
            found != nullptr && found->codec == Codec::MpegAudio && evo ? nullptr : found;

        TestHost host;
        host.source = source;
        host.folder = dir.path("");
        Engine engine(host);
        const Detected detected = RunDetection(engine, source);

        // The scanner: registered in the table's slot, or not at all.
        const bool video = range != nullptr && range->kind == StreamKind::Video;
        const bool boxed =
            range != nullptr && range->hasSlot() && range->slotOf(probe.id) < (video ? 2 : 16);
        int registered = 0;
        for (std::int32_t id : detected.inventory.ids)
            registered += id >= 0 ? 1 : 0;
        ASSERT_EQ(registered, range != nullptr && range->hasSlot() ? 1 : 0);

        // The captions: the table's caption on the box of that slot, no box otherwise.
        const StreamBox* box = nullptr;
        BoxKind kind = BoxKind::Video;
        int enabled = 0;
        for (const StreamBox& b : detected.boxes.video)
            enabled += b.enabled;
        for (const StreamBox& b : detected.boxes.audio)
            enabled += b.enabled;
        for (const StreamBox& b : detected.boxes.sub)
            enabled += b.enabled;
        ASSERT_EQ(enabled, boxed ? 1 : 0);
        std::size_t strip = 0;
        if (boxed) {
            const int slot = range->slotOf(probe.id);
            kind = range->kind == StreamKind::Video   ? BoxKind::Video
                   : range->kind == StreamKind::Audio ? BoxKind::Audio
                                                      : BoxKind::Sub;
            box = kind == BoxKind::Video   ? &detected.boxes.video[static_cast<std::size_t>(slot)]
                  : kind == BoxKind::Audio ? &detected.boxes.audio[static_cast<std::size_t>(slot)]
                                           : &detected.boxes.sub[static_cast<std::size_t>(slot)];
            ASSERT_TRUE(box->enabled);
            EXPECT_EQ(box->caption.substr(0, range->caption.size()), range->caption);
            strip = range->headerBytes;

            // The demux: the payload behind the header bytes the table names.
            host.takeBoxes(detected.boxes);
            const RunOutcome demuxed = RunDemux(engine, detected, source);
            ASSERT_EQ(demuxed.files.size(), 1u);
            Bytes sent = probe.space == IdSpace::SubStreamId
                             ? Bytes{probe.id, 0x01, 0x00, 0x01, 0x20, 0x10, 0x00}
                             : Bytes{};
            sent.insert(sent.end(), payload.begin(), payload.end());
            Bytes want(sent.begin() + static_cast<std::ptrdiff_t>(strip), sent.end());
            if (kind == BoxKind::Sub)  // a record of its own time stamp, no video to be relative to
                want.insert(want.begin(), {'S', 'P', 0x00, 0x90, 0x00, 0x00, 0, 0, 0, 0});
            EXPECT_EQ(LoadFile(demuxed.files[0].path), want);
        }

        // The rebuild, ticked: kept, and the stream takes number 0 of its codec.
        RunRebuild(engine, detected, source);
        const std::string rebuiltPath = dir.path(name.substr(0, name.size() - 4) + ".rebuilt.EVO");
        const Bytes rebuilt = LoadFile(rebuiltPath);
        Bytes expected = file;
        if (found != nullptr) {
            const std::size_t at = probe.space == IdSpace::SubStreamId   ? 14 + 9 + 5
                                   : probe.space == IdSpace::ExtensionId ? 14 + 9 + 5 + 2
                                                                         : 17;
            expected[at] = static_cast<std::uint8_t>(RenumberedId(*found, 0));
        }
        EXPECT_EQ(rebuilt, expected);

        // Unticked: its pack leaves the copy; a stream with no box stays.
        if (boxed) {
            host.tick(kind, range->slotOf(probe.id), false);
            RunRebuild(engine, detected, source);
            EXPECT_EQ(LoadFile(rebuiltPath).size(), 0u);
        }
    }
};

TEST_F(StreamIdTableTest, EverySubStreamIdAgreesAcrossScannerCaptionsDemuxAndRebuild) {
    for (int id = 0; id < 256; ++id)
        agree({IdSpace::SubStreamId, static_cast<std::uint8_t>(id)});
}

TEST_F(StreamIdTableTest, EveryStreamIdAndExtensionIdAgrees) {
    for (int id = 0xC0; id < 0xFD; ++id) {
        agree({IdSpace::StreamId, static_cast<std::uint8_t>(id)});
        agree({IdSpace::StreamId, static_cast<std::uint8_t>(id)}, "VTS_01_1.VOB");
    }
    for (int id = 0; id < 128; ++id)
        agree({IdSpace::ExtensionId, static_cast<std::uint8_t>(id)});
}

// The ranges as the formats' documents give them, written out here rather than read from the
// table, so that a slip in the table shows.
TEST(StreamIdTable, RangesSlotsAndHeaderSizes) {
    struct Want {
        IdSpace space;
        int id;
        StreamKind kind;
        int slot;
        int headerBytes;
        const char* caption;
    };
    const Want wants[] = {
        {IdSpace::StreamId, 0xE1, StreamKind::Video, 1, 0, "MPEG-2.stream"},
        {IdSpace::StreamId, 0xE2, StreamKind::Video, 0, 0, "H.264.stream"},
        {IdSpace::ExtensionId, 0x56, StreamKind::Video, 1, 0, "VC-1.stream"},
        {IdSpace::StreamId, 0xC3, StreamKind::Audio, 3, 0, "MPA.stream"},
        {IdSpace::StreamId, 0xC8, StreamKind::Audio, -1, 0, ""},
        {IdSpace::StreamId, 0xDF, StreamKind::Audio, -1, 0, ""},
        {IdSpace::SubStreamId, 0x3F, StreamKind::Sub, 31, 1, "Subpicture"},
        {IdSpace::SubStreamId, 0x61, StreamKind::Sub, 1, 1, "Ext.Subpicture"},
        {IdSpace::SubStreamId, 0x87, StreamKind::Audio, 7, 4, "DD.stream"},
        {IdSpace::SubStreamId, 0x89, StreamKind::Audio, 1, 4, "DTSHD.stream"},
        {IdSpace::SubStreamId, 0x98, StreamKind::Audio, 8, 4, "DTSHD.stream"},
        {IdSpace::SubStreamId, 0x9F, StreamKind::Audio, 15, 4, "DTSHD.stream"},
        {IdSpace::SubStreamId, 0xA7, StreamKind::Audio, 7, 7, "LPCM.stream"},
        {IdSpace::SubStreamId, 0xB3, StreamKind::Audio, 3, 5, "MLP.stream"},
        {IdSpace::SubStreamId, 0xCA, StreamKind::Audio, 10, 4, "DD+.stream"},
    };
    for (const Want& want : wants) {
        const IdRange* range = FindIdRange(want.space, static_cast<std::uint32_t>(want.id));
        ASSERT_NE(range, nullptr) << want.id;
        EXPECT_EQ(range->kind, want.kind) << want.id;
        EXPECT_EQ(range->slotOf(static_cast<std::uint32_t>(want.id)), want.slot) << want.id;
        EXPECT_EQ(range->headerBytes, want.headerBytes) << want.id;
        EXPECT_EQ(range->caption, want.caption) << want.id;
    }
    for (int id : {0x00, 0x1F, 0x40, 0x5F, 0x90, 0x97, 0xA8, 0xAF, 0xB8, 0xBF, 0xD0, 0xFF})
        EXPECT_EQ(FindIdRange(IdSpace::SubStreamId, static_cast<std::uint32_t>(id)), nullptr) << id;

    // Renumbering stays within a codec: DTS number 9 is 0x99, Dolby Digital has no number 8.
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::SubStreamId, 0x8B), 2), 0x8A);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::SubStreamId, 0x8B), 9), 0x99);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::SubStreamId, 0x83), 8), -1);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::SubStreamId, 0xC9), 1), 0xC1);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::SubStreamId, 0x65), 0), 0x60);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::ExtensionId, 0x56), 0), 0x55);
    EXPECT_EQ(RenumberedId(*FindIdRange(IdSpace::StreamId, 0xE3), 0), 0xE2);
}

}  // namespace
}  // namespace strandis::test
