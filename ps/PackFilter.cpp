#include "ps/PackFilter.h"

namespace strandis {

namespace {

constexpr std::uint8_t kNoNumber = 0xFF;

int TickedCount(const RunHost& host, BoxKind kind) {
    int count = 0;
    for (int slot = 0; slot < BoxCount(kind); ++slot)
        count += host.ticked(kind, slot) ? 1 : 0;
    return count;
}

}  // namespace

bool PackSelection::drop(const IdRange& range, std::uint8_t x) {
    // MPEG audio with a box is listed by its key, apart from the sub-stream ids of its values.
    const std::int32_t listed =
        range.codec == Codec::MpegAudio && range.hasSlot() ? (kMpegAudioKey | x) : x;
    if (listedUnticked(range.kind, listed)) return true;
    if (n_.IdMap[x] == kNoNumber) {
        std::uint8_t& counter = range.kind == StreamKind::Video   ? n_.NextVideoNumber
                                : range.kind == StreamKind::Audio ? n_.NextAudioNumber
                                                                  : n_.NextSubNumber;
        // A codec with no id for that number keeps its own, so that it stays what it is.
        const int renumbered = RenumberedId(range, counter);
        n_.IdMap[x] = static_cast<std::uint8_t>(renumbered >= 0 ? renumbered : x);
        ++counter;
    }
    return false;
}

bool PackSelection::listedUnticked(StreamKind kind, std::int32_t x) const {
    const BoxKind box = kind == StreamKind::Video   ? BoxKind::Video
                        : kind == StreamKind::Audio ? BoxKind::Audio
                                                    : BoxKind::Sub;
    for (int slot = 0; slot < BoxCount(box); ++slot) {
        const std::int32_t id = kind == StreamKind::Video   ? inventory_.video(slot)
                                : kind == StreamKind::Audio ? inventory_.audio(slot)
                                                            : inventory_.sub(slot);
        if (id == x) return !host_.ticked(box, slot);
    }
    return false;  // a stream the inventory does not list is kept
}

bool KeepUnit(const std::uint8_t* u, std::size_t length, PackSelection& select, const RunHost& host,
              UnitEdit& edit) {
    if (length < 4 || u[0] != 0x00 || u[1] != 0x00 || u[2] != 0x01 || u[3] != 0xBA) return false;
    if (length <= 17) return true;
    std::size_t p = 14;  // the packet that decides
    if (u[17] == 0xBB) {
        if (length <= 24) return true;
        // System header: video_bound and audio_bound from the ticked boxes.
        edit.set(u, 24,
                 static_cast<std::uint8_t>((u[24] & 0xE0) + TickedCount(host, BoxKind::Video)));
        edit.set(u, 23,
                 static_cast<std::uint8_t>((u[23] & 0x03) + 4 * TickedCount(host, BoxKind::Audio)));
        p = 20 + ((std::size_t{u[18]} << 8) | u[19]);
        if (p + 3 >= length || u[p] != 0x00 || u[p + 1] != 0x00 || u[p + 2] != 0x01) return true;
    }
    const std::uint8_t s = u[p + 3];  // stream id
    const std::size_t data = p + 9;   // the PES header data
    std::size_t at = 0;  // of the sub-stream id or stream_id_extension; 0 when there is none
    const IdRange* range = nullptr;
    if (s == 0xBD && p + 8 < length) {
        at = data + u[p + 8];  // behind the PES header
        if (at < length) range = FindIdRange(IdSpace::SubStreamId, u[at]);
    } else if (s == 0xFD && p + 9 < length) {
        const std::size_t k = 5 * ((u[p + 7] >> 7) & 1) + 5 * ((u[p + 7] >> 6) & 1);  // PTS, DTS
        if (data + k < length)
            at = data + k + 2 + ((u[data + k] & 0x10) != 0 ? 2 : 0);  // behind the P-STD buffer
        if (at < length) range = FindIdRange(IdSpace::ExtensionId, u[at] & 0x7Fu);
    } else {
        at = p + 3;
        range = FindIdRange(IdSpace::StreamId, s);  // video, MPEG audio
    }
    if (range == nullptr) return true;  // navigation, padding and the rest take part in no test
    const std::uint8_t flag = s == 0xFD ? (u[at] & 0x80) : 0;  // stream_id_extension_flag
    const auto id = static_cast<std::uint8_t>(u[at] & ~flag);
    if (select.drop(*range, id)) return false;
    edit.set(u, at, static_cast<std::uint8_t>(select.newId(id) | flag));
    return true;
}

}  // namespace strandis
