#include "engine/DemuxWriter.h"

#include "ps/PacketKind.h"

namespace strandis {

namespace {

// 90 kHz ticks as seconds with three decimals, whatever the locale: 123.456.
std::string Seconds90kHz(std::uint32_t ticks) {
    const std::string millis = std::to_string(ticks % 90000 / 90 + 1000);
    return std::to_string(ticks / 90000) + "." + millis.substr(1);
}

}  // namespace

DemuxWriter::DemuxWriter(RunHost& host, const Detected& detected,
                         const std::array<StreamOutput*, kBoxTotal>& outputs)
    : host_(host), detected_(detected), outputs_(outputs) {
    for (auto& kind : boxOf_)
        kind.fill(-1);
    const StreamInventory& ids = detected.inventory;
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio, BoxKind::Sub}) {
        for (int slot = 0; slot < BoxCount(kind); ++slot) {
            const std::int32_t id = kind == BoxKind::Video   ? ids.video(slot)
                                    : kind == BoxKind::Audio ? ids.audio(slot)
                                                             : ids.sub(slot);
            if (id >= 0 && id < 256)
                boxOf_[static_cast<std::size_t>(kind)][static_cast<std::size_t>(id)] =
                    static_cast<std::int8_t>(slot);
        }
    }
}

void DemuxWriter::nextFile(const std::string& name) {
    fileName_ = name;
    firstOfFile_ = true;
    endBefore_ = end_;
}

// Follows the time stamps of the audio and video packets, and finds a clock that restarts.
void DemuxWriter::clock(const PayloadChunk& c) {
    if (!c.ownPts) return;
    if (firstOfFile_ && seen_) {
        firstOfFile_ = false;
        if (static_cast<std::uint32_t>(c.pts + offset_) < endBefore_) {
            const std::uint32_t frame = frame_ != 0 ? frame_ : 3754;  // 1001/24000 s
            offset_ = endBefore_ + frame - c.pts;
            host_.log("Time stamps restart in " + fileName_ +
                      ": its subpicture times are moved on by " + std::to_string(offset_) + " (" +
                      Seconds90kHz(offset_) + " s)");
        }
    }
    if (c.kind != PacketKind::Video && c.kind != PacketKind::Audio) return;
    const std::uint32_t pts = c.pts + offset_;
    if (!seen_ || pts > end_) end_ = pts;
    seen_ = true;
    if (c.kind == PacketKind::Video) {
        const std::uint32_t step = pts - lastVideoPts_;
        if (lastVideoSeen_ && step >= 1000 && step <= 9000 && (frame_ == 0 || step < frame_))
            frame_ = step;
        lastVideoPts_ = pts;
        lastVideoSeen_ = true;
    }
}

// The boxes stay clickable during the run: a file takes a chunk only while its box is ticked,
// read at every chunk (files exist only for the boxes ticked when the run began).
void DemuxWriter::chunk(const PayloadChunk& c) {
    clock(c);
    BoxKind kind = BoxKind::Video;
    switch (c.kind) {
        case PacketKind::Video:
            break;
        case PacketKind::Audio:
            kind = BoxKind::Audio;
            break;
        case PacketKind::Subpicture:
            kind = BoxKind::Sub;
            break;
        default:
            return;  // MPEG audio has no box of its own: skipped
    }
    // The box of the stream the detection listed under this id, in whichever slot it took; for
    // a stream it did not list, the scan's own choice while the detection listed nothing in
    // that slot (no detection was made). Two streams can share a slot (Dolby Digital 0x80 and
    // DTS 0x88): each goes to its own box, or to none.
    int slot = c.streamId >= 0 && c.streamId < 256
                   ? boxOf_[static_cast<std::size_t>(kind)][static_cast<std::size_t>(c.streamId)]
                   : -1;
    if (slot < 0 && c.listed && HasBox(kind, c.slot)) {
        const StreamInventory& ids = detected_.inventory;
        const std::int32_t there = kind == BoxKind::Video   ? ids.video(c.slot)
                                   : kind == BoxKind::Audio ? ids.audio(c.slot)
                                                            : ids.sub(c.slot);
        if (there < 0) slot = c.slot;
    }
    if (slot < 0) return;
    const std::size_t box = BoxIndex(kind, slot);
    StreamOutput* out = outputs_[box];
    if (out == nullptr || !host_.ticked(kind, slot)) return;
    if (kind == BoxKind::Sub) {
        // Subpicture times count from the detection's time base, on the joined files' clock.
        std::int64_t time = std::int64_t{c.pts} + offset_;
        if (detected_.subpictureBase) time -= *detected_.subpictureBase;
        out->write(c.data, c.length, c.ownPts, time);
        return;
    }
    // A file that starts mid-stream begins with data without a time stamp: the first time
    // stamp is where the stream's time starts.
    auto& first = first_[box];
    if (c.ownPts && !first) first = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
    if (kind == BoxKind::Audio && !first)
        audioBytesBefore_[static_cast<std::size_t>(slot)] += c.length;
    out->write(c.data, c.length, c.ownPts, 0);
}

}  // namespace strandis
