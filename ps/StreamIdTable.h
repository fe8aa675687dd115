#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>

#include "ps/StreamIds.h"

namespace strandis {

// Where an id is found in a program stream.
enum class IdSpace : std::uint8_t {
    StreamId,     // the PES stream_id behind 00 00 01 (ISO/IEC 13818-1, table 2-18)
    SubStreamId,  // the first payload byte of a private stream 1 (0xBD) packet
    ExtensionId,  // the 7-bit stream_id_extension of an extended stream (0xFD) packet
};

enum class StreamKind : std::uint8_t { Video, Audio, Sub };

enum class Codec : std::uint8_t {
    Mpeg2,
    H264,
    Vc1,
    Ac3,
    Eac3,
    Dts,
    Lpcm,  // MLP for sub-stream 0xA1 of a DVD-Audio object (ResolvedCodec tells)
    TrueHd,
    MpegAudio,
    Subpicture,
    ExtSubpicture,
    Mlp,  // only as ResolvedCodec gives it: LPCM's 0xA1 in a DVD-Audio object
};

// One range of ids that carry one kind of stream.
struct IdRange {
    IdSpace space;
    std::uint8_t first, last;
    StreamKind kind;
    Codec codec;
    // The inventory slot of an id: (id - slotBase) AND slotMask; slotMask 0 means no slot.
    std::uint8_t slotBase, slotMask;
    // Bytes removed from the front of each packet's payload, from the sub-stream id on.
    std::uint8_t headerBytes;
    std::string_view caption;  // of the stream's box, which names its output file
    std::string_view found;    // the detection's log line up to the slot number

    constexpr bool holds(IdSpace s, std::uint32_t id) const {
        return s == space && id >= first && id <= last;
    }
    constexpr bool hasSlot() const { return slotMask != 0; }
    constexpr int slotOf(std::uint32_t id) const {
        return hasSlot() ? static_cast<int>((id - slotBase) & slotMask) : -1;
    }
};

// Every stream the program knows, by its ids. Two ranges may share slots (Dolby Digital 0x80
// and DTS 0x88 both fill slot 0): the first id met keeps the slot.
inline constexpr IdRange kIdRanges[] = {
    // MPEG-2 video stream ids 0xE0-0xE1 (110x xxxx video, HD DVD numbers its two streams so).
    {IdSpace::StreamId, 0xE0, 0xE1, StreamKind::Video, Codec::Mpeg2, 0x00, 0x01, 0, "MPEG-2.stream",
     "[b]MPEG-2[/b] video stream "},
    // H.264 video: HD DVD gives it stream ids 0xE2-0xE3.
    {IdSpace::StreamId, 0xE2, 0xE3, StreamKind::Video, Codec::H264, 0x00, 0x01, 0, "H.264.stream",
     "[b]H.264 (AVC)[/b] video stream "},
    // VC-1: extended stream 0xFD with stream_id_extension 0x55-0x56 (SMPTE RP 227).
    {IdSpace::ExtensionId, 0x55, 0x56, StreamKind::Video, Codec::Vc1, 0x55, 0x01, 0, "VC-1.stream",
     "[b]VC-1[/b] video stream "},
    // MPEG-1/2 audio stream ids 0xC0-0xC7 (110x xxxx audio), as DVD-Video numbers its eight
    // audio streams: boxes of their own in DVD-Video objects (not in EVOs). The inventory
    // keeps them as kMpegAudioKey | id, apart from the sub-stream ids of the same values.
    {IdSpace::StreamId, 0xC0, 0xC7, StreamKind::Audio, Codec::MpegAudio, 0x00, 0x07, 0,
     "MPA.stream", "[b]MPEG[/b] audio stream "},
    // The rest of the MPEG audio ids: no box.
    {IdSpace::StreamId, 0xC8, 0xDF, StreamKind::Audio, Codec::MpegAudio, 0x00, 0x00, 0, "", ""},
    // Private stream 1 sub-streams, as DVD-Video, DVD-Audio and HD DVD number them:
    // subpictures 0x20-0x3F, behind their one-byte id.
    {IdSpace::SubStreamId, 0x20, 0x3F, StreamKind::Sub, Codec::Subpicture, 0x00, 0x1F, 1,
     "Subpicture", "[b]Subpicture[/b] stream "},
    // HD DVD high-definition subpictures 0x60-0x7F.
    {IdSpace::SubStreamId, 0x60, 0x7F, StreamKind::Sub, Codec::ExtSubpicture, 0x00, 0x1F, 1,
     "Ext.Subpicture", "[b]Extended subpicture[/b] stream "},
    // Dolby Digital 0x80-0x87: id, frame count, first access unit pointer.
    {IdSpace::SubStreamId, 0x80, 0x87, StreamKind::Audio, Codec::Ac3, 0x00, 0x07, 4, "DD.stream",
     "[b]Dolby Digital[/b] audio stream "},
    // DTS 0x88-0x8F (DVD-Video and HD DVD primary audio).
    {IdSpace::SubStreamId, 0x88, 0x8F, StreamKind::Audio, Codec::Dts, 0x00, 0x07, 4, "DTSHD.stream",
     "[b]DTS HD (DTS)[/b] audio stream "},
    // DTS 0x98-0x9F: HD DVD secondary audio, in slots 8-15.
    {IdSpace::SubStreamId, 0x98, 0x9F, StreamKind::Audio, Codec::Dts, 0x00, 0x0F, 4, "DTSHD.stream",
     "[b]DTS HD (DTS)[/b] audio stream "},
    // LPCM 0xA0-0xA7: the 4 bytes and three of codes (a DVD-Audio object says its own length).
    {IdSpace::SubStreamId, 0xA0, 0xA7, StreamKind::Audio, Codec::Lpcm, 0x00, 0x0F, 7, "LPCM.stream",
     "[b]LPCM[/b] audio stream "},
    // Dolby TrueHD 0xB0-0xB7: one header byte more than Dolby Digital.
    {IdSpace::SubStreamId, 0xB0, 0xB7, StreamKind::Audio, Codec::TrueHd, 0x00, 0x07, 5,
     "MLP.stream", "[b]Dolby TrueHD[/b] audio stream "},
    // Dolby Digital Plus 0xC0-0xC7 primary and 0xC8-0xCF secondary audio.
    {IdSpace::SubStreamId, 0xC0, 0xCF, StreamKind::Audio, Codec::Eac3, 0x00, 0x0F, 4, "DD+.stream",
     "[b]Dolby Digital[/b] Plus audio stream "},
};

// For each id space, the index in kIdRanges of the range that holds each id (-1: none), so that
// the scanner finds a range in one step.
inline constexpr auto kIdRangeIndex = [] {
    std::array<std::array<std::int8_t, 256>, 3> index{};
    for (auto& space : index)
        space.fill(-1);
    for (std::size_t k = 0; k < std::size(kIdRanges); ++k) {
        const IdRange& range = kIdRanges[k];
        for (int id = range.first; id <= range.last; ++id)
            index[static_cast<std::size_t>(range.space)][static_cast<std::size_t>(id)] =
                static_cast<std::int8_t>(k);
    }
    return index;
}();

// The range that holds `id` in `space`, or nullptr.
constexpr const IdRange* FindIdRange(IdSpace space, std::uint32_t id) {
    if (id > 0xFF) return nullptr;
    const int k = kIdRangeIndex[static_cast<std::size_t>(space)][id];
    return k < 0 ? nullptr : &kIdRanges[k];
}

// How the inventory keeps an MPEG audio stream id (0xC0-0xC7): apart from the private stream's
// audio sub-stream ids of the same values.
inline constexpr std::int32_t kMpegAudioKey = 0x100;

// The id a packet carries of a stream the inventory keeps as `id`.
constexpr std::uint32_t PacketId(std::int32_t id) {
    return static_cast<std::uint32_t>(id) & 0xFF;
}

// The range of an id as the inventory stores it: sub-stream ids for audio and subpictures (MPEG
// audio stream ids with kMpegAudioKey), stream ids or VC-1 extension ids for video.
constexpr const IdRange* FindInventoryRange(StreamKind kind, std::int32_t id) {
    if (kind == StreamKind::Audio && (id & ~0xFF) == kMpegAudioKey) {
        const IdRange* range = FindIdRange(IdSpace::StreamId, PacketId(id));
        return range != nullptr && range->kind == kind && range->hasSlot() ? range : nullptr;
    }
    if (id < 0 || id > 0xFF) return nullptr;
    const auto u = static_cast<std::uint32_t>(id);
    const IdRange* range =
        kind == StreamKind::Video
            ? (u < 0x80 ? FindIdRange(IdSpace::ExtensionId, u) : FindIdRange(IdSpace::StreamId, u))
            : FindIdRange(IdSpace::SubStreamId, u);
    return range != nullptr && range->kind == kind ? range : nullptr;
}

// The id a stream of `range` takes when it becomes number `number` of its kind: the id of the
// same codec whose slot is that number, so that the stream keeps its codec; -1 when the codec
// has no id for that slot. MPEG audio (no slot) counts on from 0xC0.
constexpr int RenumberedId(const IdRange& range, int number) {
    if (range.codec == Codec::MpegAudio) return number < 32 ? 0xC0 + number : -1;
    for (const IdRange& other : kIdRanges) {
        if (other.space != range.space || other.codec != range.codec) continue;
        for (int id = other.first; id <= other.last; ++id) {
            if (other.slotOf(static_cast<std::uint32_t>(id)) == number) return id;
        }
    }
    return -1;
}

// Whether the first syncframe in [data, data + length) is plain Dolby Digital (bsid 10 or less)
// rather than Dolby Digital Plus; false when no whole header is there. The Dolby Digital Plus
// ids carry both.
constexpr bool StartsWithPlainAc3(const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i + 6 <= length; ++i) {
        if (data[i] == 0x0B && data[i + 1] == 0x77) return (data[i + 5] >> 3) <= 10;  // bsid
    }
    return false;
}

// The codec of the stream that an inventory slot lists, as it really is: sub-stream 0xA1 of a
// DVD-Audio object (`aob`) is MLP, and a stream of the Dolby Digital Plus range whose first frame
// is plain Dolby Digital is Dolby Digital. Nothing for an empty slot or an id of no range.
inline std::optional<Codec> ResolvedCodec(const StreamInventory& inventory, StreamKind kind,
                                          int slot, bool aob) {
    const std::int32_t id = kind == StreamKind::Video   ? inventory.video(slot)
                            : kind == StreamKind::Audio ? inventory.audio(slot)
                                                        : inventory.sub(slot);
    const IdRange* range = FindInventoryRange(kind, id);
    if (range == nullptr) return std::nullopt;
    if (range->codec == Codec::Lpcm && aob && id == 0xA1) return Codec::Mlp;
    if (range->codec == Codec::Eac3 && inventory.plainAc3[static_cast<std::size_t>(slot)])
        return Codec::Ac3;
    return range->codec;
}

}  // namespace strandis
