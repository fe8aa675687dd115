#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/RunHost.h"
#include "engine/Detected.h"
#include "outputs/StreamOutput.h"
#include "ps/PayloadChunk.h"

namespace strandis {

// What a stream file for a muxer waits for: its first sequence header (MPEG video), or its first
// whole frame in a packet with a time stamp (AC-3 and E-AC-3, DTS, MPEG audio).
enum class LeadRule : std::uint8_t { None, Video, Ac3, Dts, Mpa };

// Hands the payload chunks of a demux-mode scan to the outputs of the ticked boxes: each box's
// output takes the stream that the detection lists in its slot, wherever the scan of this file
// puts it (where the detection lists none, the stream the scan registered there).
class DemuxWriter final : public ChunkSink {
public:
    // `outputs` by BoxIndex; none for a box without a file.
    DemuxWriter(RunHost& host, const Detected& detected,
                const std::array<StreamOutput*, kBoxTotal>& outputs);
    void chunk(const PayloadChunk& chunk) override;
    // The time stamp of the first packet with one written to each video and audio file (all 33
    // bits); none for a file that got none.
    std::optional<std::uint64_t> firstPts(BoxKind kind, int slot) const {
        return first_[BoxIndex(kind, slot)];
    }
    // The bytes written to an audio file before its first time stamp: a file that starts
    // mid-stream holds samples from before it.
    std::int64_t audioBytesBefore(int slot) const {
        return audioBytesBefore_[static_cast<std::size_t>(slot)];
    }
    // The scan goes on in the following file `name`: when its clock starts below the end of the
    // files before it, its subpicture times are moved on past that end.
    void nextFile(const std::string& name);
    // For a muxer: each MPEG video file starts at its first sequence header, each AC-3, E-AC-3
    // and DTS file at the first frame whose packet carries its time stamp, and that unit's time
    // is the file's start (for video, the first picture of its group in display order). The
    // bytes left out are named in the log. Call before the first chunk.
    void startAtWholeUnits();
    // Writes what is still held back (a video that never had a sequence header); before the
    // outputs finish.
    void flush();

private:
    void clock(const PayloadChunk& chunk);
    struct Lead;
    // A chunk of a box whose file has not started yet: held, dropped, or written from its
    // first unit on.
    bool lead(std::size_t box, const PayloadChunk& chunk, StreamOutput& out);
    void videoLead(std::size_t box, StreamOutput& out);
    void releaseVideo(std::size_t box, StreamOutput& out, std::size_t from);
    void logLeftOut(const Lead& lead, std::int64_t bytes, const char* what);

    // The state of a file that waits for its first whole unit.
    struct Lead {
        LeadRule rule = LeadRule::None;
        BoxKind kind = BoxKind::Video;
        int slot = 0;
        std::int64_t dropped = 0;
        // Video: the bytes held back until a sequence header and the picture after it are
        // seen, and where each packet began in them.
        std::vector<std::uint8_t> held;
        struct Packet {
            std::size_t offset;
            bool hasPts;
            std::uint64_t pts;
        };
        std::vector<Packet> packets;
        std::size_t sequence = static_cast<std::size_t>(-1);  // of the first sequence header
        std::size_t searched = 0;                             // where the search goes on
    };

    RunHost& host_;
    const Detected& detected_;
    std::array<StreamOutput*, kBoxTotal> outputs_;
    // The slot the detection listed each id in, by box kind; -1: none.
    std::array<std::array<std::int8_t, 512>, 3> boxOf_;  // by inventory id (MPEG audio's keyed)
    std::array<std::optional<std::uint64_t>, kBoxTotal> first_{};
    std::array<std::int64_t, 16> audioBytesBefore_{};
    std::array<Lead, kBoxTotal> leads_{};
    bool leading_ = false;  // some file still waits for its first unit
    // The join of two files: the offset added to the current file's time stamps, the highest
    // time stamp (offset included) of the files before, and the shortest step between two
    // video time stamps, taken as one frame.
    std::string fileName_;
    bool firstOfFile_ = false;
    std::uint32_t offset_ = 0;
    std::uint32_t end_ = 0;
    std::uint32_t endBefore_ = 0;
    bool seen_ = false;
    std::uint32_t lastVideoPts_ = 0;
    bool lastVideoSeen_ = false;
    std::uint32_t frame_ = 0;
};

}  // namespace strandis
