#include "engine/DemuxWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "disc/PathRules.h"
#include "ps/PacketKind.h"
#include "ps/StreamIdTable.h"

namespace strandis {

namespace {

// 90 kHz ticks as seconds with three decimals, whatever the locale: 123.456.
std::string Seconds90kHz(std::uint32_t ticks) {
    const std::string millis = std::to_string(ticks % 90000 / 90 + 1000);
    return std::to_string(ticks / 90000) + "." + millis.substr(1);
}

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
// A video without a sequence header in its first 16 MiB, or an audio stream without a frame in
// the packets of its first MiB, is written as it comes.
constexpr std::size_t kMaxVideoLead = std::size_t{16} << 20;
constexpr std::int64_t kMaxAudioLead = std::int64_t{1} << 20;

// Where the start code 00 00 01 `code` begins at or after `from` in `b`; kNone if nowhere.
std::size_t FindStartCode(const std::vector<std::uint8_t>& b, std::size_t from, std::uint8_t code) {
    const std::uint8_t* d = b.data();
    const std::size_t n = b.size();
    while (from + 4 <= n) {
        const void* one = std::memchr(d + from + 2, 1, n - from - 3);
        if (one == nullptr) return kNone;
        const std::size_t k = static_cast<std::size_t>(static_cast<const std::uint8_t*>(one) - d);
        if (d[k - 1] == 0 && d[k - 2] == 0 && d[k + 1] == code) return k - 2;
        from = k - 1;
    }
    return kNone;
}

// One picture's time in 90 kHz ticks, by a sequence header's frame_rate_code; 0 if unknown.
double FrameTicks(std::uint8_t frameRateCode) {
    static constexpr double kTicks[16] = {0,    3753.75, 3750, 3600, 3003, 3000, 1800, 1501.5,
                                          1500, 0,       0,    0,    0,    0,    0,    0};
    return kTicks[frameRateCode & 0x0F];
}

// Where the first frame header of an AC-3 / E-AC-3 (0B 77) or DTS core (7F FE 80 01) stream
// begins in `data`, with the bytes of its header that tell it from payload; kNone if none.
std::size_t FindAudioSync(const std::uint8_t* data, std::size_t length, LeadRule rule) {
    const bool dts = rule == LeadRule::Dts;
    if (rule == LeadRule::Mpa) {
        // A header, followed by another where the chunk still holds it.
        for (std::size_t k = 0; k + 4 <= length; ++k) {
            const std::size_t frame = analysers::MpaFrameLength(data + k);
            if (frame == 0) continue;
            if (k + frame + 4 > length || analysers::MpaFrameLength(data + k + frame) != 0)
                return k;
        }
        return kNone;
    }
    for (std::size_t k = 0; k + 6 <= length; ++k) {
        const void* at = std::memchr(data + k, dts ? 0x7F : 0x0B, length - k - 5);
        if (at == nullptr) return kNone;
        k = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - data);
        const std::uint8_t* h = data + k;
        if (dts) {
            if (h[1] == 0xFE && h[2] == 0x80 && h[3] == 0x01) return k;
            continue;
        }
        if (h[1] != 0x77) continue;
        const int bsid = h[5] >> 3;
        if (bsid <= 10 && (h[4] >> 6) != 3 && (h[4] & 0x3F) < 38) return k;  // AC-3
        if (bsid >= 11 && bsid <= 16 && (h[2] >> 6) != 3) return k;          // E-AC-3
    }
    return kNone;
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
            if (id >= 0 && id < 512)
                boxOf_[static_cast<std::size_t>(kind)][static_cast<std::size_t>(id)] =
                    static_cast<std::int8_t>(slot);
        }
    }
}

void DemuxWriter::startAtWholeUnits() {
    const bool aob = IsAobPath(host_.sourcePath());
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio}) {
        for (int slot = 0; slot < BoxCount(kind); ++slot) {
            const auto codec = ResolvedCodec(
                detected_.inventory, kind == BoxKind::Video ? StreamKind::Video : StreamKind::Audio,
                slot, aob);
            if (!codec) continue;
            Lead& lead = leads_[BoxIndex(kind, slot)];
            lead.kind = kind;
            lead.slot = slot;
            if (*codec == Codec::Mpeg2) lead.rule = LeadRule::Video;
            if (*codec == Codec::Ac3 || *codec == Codec::Eac3) lead.rule = LeadRule::Ac3;
            if (*codec == Codec::Dts) lead.rule = LeadRule::Dts;
            if (*codec == Codec::MpegAudio) lead.rule = LeadRule::Mpa;
            if (lead.rule != LeadRule::None) leading_ = true;
        }
    }
}

void DemuxWriter::logLeftOut(const Lead& lead, std::int64_t bytes, const char* what) {
    if (bytes <= 0) return;
    host_.log(host_.caption(lead.kind, lead.slot) + ": the " + std::to_string(bytes) +
              " bytes before its first " + what + " are left out of the Matroska file.");
}

// A video file starts at the sequence header in front of its first picture: the bytes before
// it are pictures that refer to pictures before the cut. That picture's time stamp, less the
// pictures its group shows before it (its temporal_reference), is where the file's time starts.
void DemuxWriter::videoLead(std::size_t box, StreamOutput& out) {
    Lead& lead = leads_[box];
    std::vector<std::uint8_t>& held = lead.held;
    if (lead.sequence == kNone) {
        lead.sequence = FindStartCode(held, lead.searched, 0xB3);
        if (lead.sequence == kNone) {
            lead.searched = held.size() > 3 ? held.size() - 3 : 0;
            if (held.size() > kMaxVideoLead) releaseVideo(box, out, 0);
            return;
        }
        lead.searched = lead.sequence + 4;
    }
    const std::size_t picture = FindStartCode(held, lead.searched, 0x00);
    if (picture == kNone || picture + 6 > held.size() || lead.sequence + 8 > held.size()) {
        if (picture == kNone) lead.searched = std::max(lead.searched, held.size() - 3);
        return;
    }
    // The PES time stamp belongs to the first picture that begins in its packet.
    const Lead::Packet* packet = nullptr;
    for (const Lead::Packet& p : lead.packets) {
        if (p.offset <= picture) packet = &p;
    }
    auto& first = first_[box];
    if (packet != nullptr && packet->hasPts &&
        FindStartCode(held, packet->offset, 0x00) == picture) {
        const int temporalReference = (held[picture + 4] << 2) | (held[picture + 5] >> 6);
        const auto before = static_cast<std::uint64_t>(
            std::llround(temporalReference * FrameTicks(held[lead.sequence + 7])));
        first = packet->pts > before ? packet->pts - before : 0;
    }
    releaseVideo(box, out, lead.sequence);
}

// Writes the held video from `from` on, and lets the rest of the stream pass straight through.
void DemuxWriter::releaseVideo(std::size_t box, StreamOutput& out, std::size_t from) {
    Lead& lead = leads_[box];
    auto& first = first_[box];
    for (const Lead::Packet& p : lead.packets) {
        if (!first && p.hasPts && p.offset >= from) first = p.pts;
    }
    logLeftOut(lead, static_cast<std::int64_t>(from), "sequence header");
    if (lead.held.size() > from)
        out.write(lead.held.data() + from, lead.held.size() - from, false, 0);
    lead.rule = LeadRule::None;
    lead.held = {};
    lead.packets = {};
}

void DemuxWriter::flush() {
    for (std::size_t box = 0; box < kBoxTotal; ++box) {
        if (leads_[box].rule == LeadRule::Video && outputs_[box] != nullptr)
            releaseVideo(box, *outputs_[box], 0);
    }
}

// Returns whether the chunk was taken care of; false: it is written as any other.
bool DemuxWriter::lead(std::size_t box, const PayloadChunk& c, StreamOutput& out) {
    Lead& lead = leads_[box];
    const std::uint64_t pts = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
    if (lead.rule == LeadRule::Video) {
        if (c.packetStart) lead.packets.push_back({lead.held.size(), c.ownPts, pts});
        lead.held.insert(lead.held.end(), c.data, c.data + c.length);
        videoLead(box, out);
        return true;
    }
    // Audio: the first frame that begins in a packet with a time stamp is the one it times.
    if (c.ownPts) {
        const std::size_t sync = FindAudioSync(c.data, c.length, lead.rule);
        if (sync != kNone) {
            first_[box] = pts;
            logLeftOut(lead, lead.dropped + static_cast<std::int64_t>(sync), "whole frame");
            out.write(c.data + sync, c.length - sync, false, 0);
            lead.rule = LeadRule::None;
            return true;
        }
    }
    lead.dropped += c.length;
    if (lead.dropped <= kMaxAudioLead) return true;
    lead.rule = LeadRule::None;  // no frame found: the stream is written as it is from here
    return false;
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
    int slot = c.streamId >= 0 && c.streamId < 512
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
    if (leading_ && leads_[box].rule != LeadRule::None && lead(box, c, *out)) return;
    // A file that starts mid-stream begins with data without a time stamp: the first time
    // stamp is where the stream's time starts.
    auto& first = first_[box];
    if (c.ownPts && !first) first = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
    if (kind == BoxKind::Audio && !first)
        audioBytesBefore_[static_cast<std::size_t>(slot)] += c.length;
    out->write(c.data, c.length, c.ownPts, 0);
}

}  // namespace strandis
