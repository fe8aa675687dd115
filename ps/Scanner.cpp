// The pack and PES scanner: a byte machine over the program stream that registers every
// stream it meets and hands each payload on. Header bytes go through the machine one at a
// time; payloads, skipped packets and the bytes between packets are taken in bulk.
#include <array>
#include <bitset>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ps/Scanner.h"

#include "common/ByteOrder.h"
#include "common/Progress.h"
#include "common/TextFormat.h"
#include "ps/CountPictures.h"
#include "ps/PacketKind.h"

namespace strandis {

namespace {

// A mapped file's bytes come straight from memory: while one packet's payload is passed over,
// the cache lines 32 packs further on are asked for (the pack's start, and the end of the pack
// in front of it, which ShiftReg takes in), so that header bytes rarely wait: a load from
// memory takes about as long as passing over that many packs.
constexpr std::size_t kPrefetchAhead = 65536;

// The machine's registers, all fresh at every scan.
struct Registers {
    // The last eight bytes examined, newest in the low byte; its low 32 bits are the machine's
    // ShiftReg (eight, so that a bulk step can load them in one go).
    std::uint64_t ShiftReg = 0;
    std::uint8_t PacketKind = PacketKind::Nothing;
    std::int32_t LengthLeft = 0;  // bytes of the PES packet not yet consumed
    std::uint8_t LengthBytes = 0;
    std::uint8_t FixedHeaderLeft = 0;
    std::uint8_t HeaderFlags = 0;  // PTS_DTS_flags in bits 7..6, PES_extension_flag in bit 0
    std::uint8_t HeaderLeft = 0;   // PES_header_data_length countdown
    std::uint32_t PtsBytes = 0;
    std::uint32_t PtsDtsBytes = 0;
    std::uint32_t ExtFlagsBytes = 0;
    std::uint32_t ExtFlags = 0;
    std::uint32_t PstdBytes = 0;
    std::uint32_t Ext2Bytes = 0;
    std::uint8_t SubHeaderBytes = 0;
    std::uint32_t LpcmHeaderBytes = 0;  // 3, or a DVD-Audio header's own length
    std::uint32_t TrueHdHeaderBytes = 0;
    std::uint32_t SkipBytes = 0;
    std::uint8_t InPayload = 0;
    std::uint32_t TimeAcc = 0;
    std::uint8_t TimeHigh = 0;  // bit 32 of the time stamp in TimeAcc
    std::uint32_t PtsReg = 0;
    std::uint32_t DtsReg = 0;
    std::uint32_t VideoPts = 0;
    std::uint32_t FirstAudioPts = 0;
    bool MpegAudioFound = false;  // an MPEG audio stream registered at this packet's start code
    std::uint32_t FirstSubPts = 0;
    std::int32_t VideoSlot = -1;
    std::int32_t AudioSlot = -1;
    std::int32_t SubSlot = -1;
    std::uint8_t VideoType = 0;
    std::uint8_t AudioType = 0;
    std::uint8_t AudioExtraBytes = 0;  // of the last recognised audio range, behind its 4 bytes
    std::int32_t VideoId = 0;
    std::int32_t AudioSubId = 0;
    std::int32_t SubId = 0;
    // For the writer: whether this packet's own header carried a PTS (until its first chunk
    // is handed on), and the sub-stream id that opened it.
    bool OwnPts = false;
    bool PacketStart = false;  // the next payload chunk is the first of its packet
    std::uint32_t PacketPts = 0;
    std::uint8_t PacketPtsHigh = 0;  // bit 32 of PacketPts, which the registers leave out
    std::int32_t PacketSubId = -1;
    // The private-stream-1 header bytes of the packet, from the sub-stream id on.
    std::array<std::uint8_t, 16> SubHeader{};
    std::uint8_t SubHeaderLength = 0;
};

// The machine's AudioType for each audio codec of the id table.
std::uint8_t AudioTypeOf(Codec codec) {
    switch (codec) {
        case Codec::Ac3:
            return AudioType::DolbyDigital;
        case Codec::Eac3:
            return AudioType::DolbyDigitalPlus;
        case Codec::Dts:
            return AudioType::Dts;
        case Codec::TrueHd:
            return AudioType::TrueHd;
        default:
            return AudioType::Lpcm;
    }
}

// The stream ids at which startCode takes a packet in: the ones it names and those of the table.
constexpr std::array<bool, 256> kOpensPacket = [] {
    std::array<bool, 256> opens{};
    for (std::uint32_t id = 0; id < 256; ++id)
        opens[id] = id == 0xFD || id == 0xBC || id == 0xBE || id == 0xBF || id == 0xBD ||
                    kIdRangeIndex[static_cast<std::size_t>(IdSpace::StreamId)][id] >= 0;
    return opens;
}();

class Scanner {
public:
    Scanner(const ScanInput& input, FactSink* describer, ChunkSink* writer)
        : in_(input),
          host_(input.host),
          describer_(describer),
          check_(describer != nullptr),
          writer_(writer),
          buffer_(input.buffer),
          aob_(input.aob),
          mpegAudio_(input.mpegAudio) {}

    ScanPass run();

private:
    void scanBlock(std::size_t n);
    std::size_t payloadChunk(std::size_t i, std::size_t n);
    std::size_t skipBulk(std::size_t i, std::size_t n);
    std::size_t behindNextOne(std::size_t i, std::size_t n) const;
    std::size_t idleAdvance(std::size_t i, std::size_t n);
    void shiftIn(std::size_t from, std::size_t to);
    void prefetch(std::size_t i) const {
        __builtin_prefetch(buf_ + i + kPrefetchAhead - 64);
        __builtin_prefetch(buf_ + i + kPrefetchAhead);
    }
    bool startCode();
    std::size_t startCodeFree(std::size_t i) const;
    std::size_t wholeHeader(std::size_t i, std::size_t n);
    bool headerRules(std::uint8_t b, std::size_t i);
    void headerEnd();
    void lengthField();
    void fixedHeaderByte(std::uint8_t b);
    void timeStampByte(std::uint8_t b);
    void timeStampStep(std::uint32_t step, std::uint8_t b);
    void extensionByte(std::uint8_t b);
    void subStreamHeaderByte(std::uint8_t b, std::size_t i);
    void codecHeaderByte(std::uint8_t b);
    void timeStampDone();
    void extension2(std::uint8_t b);
    void subpictureId(std::uint8_t b);
    void classifyAudio(std::uint8_t id, std::size_t i);
    void registerVideo(const IdRange& range, std::int32_t id, bool setPts);
    void keepSubHeader(std::uint8_t b) {
        if (r_.SubHeaderLength < r_.SubHeader.size()) r_.SubHeader[r_.SubHeaderLength++] = b;
    }
    int place(const IdRange& range, std::int32_t id, int natural, bool& registered);
    int placeNew(const IdRange& range, std::int32_t id, int natural, bool& registered);
    std::int32_t& slotEntry(const IdRange& range, int slot) {
        return range.kind == StreamKind::Video   ? ids_.video(slot)
               : range.kind == StreamKind::Audio ? ids_.audio(slot)
                                                 : ids_.sub(slot);
    }
    // A stream's name as the log gives it: LPCM's 0xA1 of a DVD-Audio object is MLP.
    std::string_view nameOf(const IdRange& range, std::int32_t id) const {
        return id == 0xA1 && aob_ && range.codec == Codec::Lpcm ? "[b]MLP[/b] audio stream "
                                                                : range.found;
    }
    void consume(std::size_t i, std::uint32_t len);

    const ScanInput& in_;
    RunHost& host_;
    FactSink* describer_;  // check mode's consumer
    const bool check_;
    ChunkSink* writer_;
    std::uint8_t* buffer_;               // for a file that is read rather than mapped
    const std::uint8_t* buf_ = nullptr;  // the block being scanned
    std::size_t valid_ = 0;
    Registers r_;
    ScanPass pass_;
    StreamInventory& ids_ = pass_.registered;
    std::bitset<3 * 256> slotTakenSaid_;  // by id space and id
    // The slot a stream was moved to because its own was taken, by id space and id; -1: none.
    std::array<std::array<std::int8_t, 256>, 3> moved_ = [] {
        std::array<std::array<std::int8_t, 256>, 3> none{};
        for (auto& space : none)
            space.fill(-1);
        return none;
    }();
    const bool aob_;
    const bool mpegAudio_;
    std::optional<PictureCounter> counter_;  // a pass that writes nothing counts on a thread
};

ScanPass Scanner::run() {
    const ScanActive active(host_, in_.demuxActive, !check_);

    in_.stopFlag = 0;
    InputFile& source = in_.source;
    const std::int64_t size = source.size();
    Progress progress(host_);
    while (source.position() < size && in_.stopFlag == 0) {
        // The chunks being counted must stay where they are.
        if (counter_ && !source.keepsLastBlock(kBlockSize)) counter_->settle();
        const InputFile::Block block = source.nextBlock(buffer_, kBlockSize);
        // A pass that writes nothing counts its pictures beside the scan, once it is seen that
        // the file's blocks stay where they are from one to the next (a mapped file).
        if (!counter_ && writer_ == nullptr && source.position() < size &&
            source.keepsLastBlock(kBlockSize))
            counter_.emplace();
        const std::size_t n = block.size;
        buf_ = block.data;
        valid_ = n;
        const std::int64_t position = source.position();
        progress.at(position, size);
        // "Fast EVO checking" may be ticked while the scan goes on: read at every block past
        // the limit.
        if (check_ && position > kFastCheckLimit && host_.option(Option::FastCheck))
            in_.stopFlag = 1;
        if (position % kRepaintStep == 0) host_.repaint();
        if (check_ && position == static_cast<std::int64_t>(kBlockSize) && n > 24 &&
            buf_[16] == 0x01 && buf_[17] == 0xBB) {
            // A system header right behind a 14-byte pack header: video_bound and audio_bound.
            const int video = buf_[24] & 0x1F;
            const int audio = buf_[23] >> 2;
            host_.log("It contains " + std::to_string(video) + " video stream" +
                      (video > 1 ? "s" : "") + " and " + std::to_string(audio) + " audio stream" +
                      (audio > 1 ? "s." : "."));
        }
        scanBlock(n);
    }
    if (counter_) {
        counter_->settle();
        const auto counted = counter_->counts();
        pass_.frames[0] += counted[0];
        pass_.frames[1] += counted[1];
    }
    source.checkIntact();
    if (in_.stopFlag != 0) pass_.frames = {0, 0};
    return std::move(pass_);
}

void Scanner::scanBlock(std::size_t n) {
    std::size_t i = 0;
    while (i < n) {
        r_.ShiftReg = (r_.ShiftReg << 8) | buf_[i];
        if (r_.InPayload != 0) {
            prefetch(i);
            i += payloadChunk(i, n);  // a payload of 0 bytes sees its byte again
        } else if (r_.SkipBytes > 0) {
            prefetch(i);
            i += skipBulk(i, n);
        } else if (startCode()) {
            i = wholeHeader(i, n);
        } else if (headerRules(buf_[i], i)) {
            ++i;
        } else {
            i = idleAdvance(i, n);
        }
    }
}

// Shifts the bytes [from, to) into ShiftReg.
inline void Scanner::shiftIn(std::size_t from, std::size_t to) {
    if (to - from >= 8) {
        r_.ShiftReg = Be64(buf_ + to - 8);
    } else {
        for (std::size_t k = from; k < to; ++k)
            r_.ShiftReg = (r_.ShiftReg << 8) | buf_[k];
    }
}

// A packet skipped whole (padding, private stream 2, program stream map): the rest of it, or of
// the block, in one step. Byte i is already in ShiftReg.
std::size_t Scanner::skipBulk(std::size_t i, std::size_t n) {
    const std::size_t count = std::min<std::size_t>(r_.SkipBytes, n - i);
    shiftIn(i + 1, i + count);
    r_.SkipBytes -= static_cast<std::uint32_t>(count);
    r_.LengthLeft -= static_cast<std::int32_t>(count);
    return count;
}

// The place behind the first 01 byte from i on (n when there is none). Mostly it is a few bytes
// on (the next packet's start code behind a pack header), so the 16 bytes from i are looked at
// before memchr is called.
std::size_t Scanner::behindNextOne(std::size_t i, std::size_t n) const {
    std::size_t from = i;  // where memchr looks from: past the bytes already looked at
#if defined(__SSE2__)
    if (n - i >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_ + i));
        const auto near =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(1))));
        if (near != 0) return i + static_cast<std::size_t>(__builtin_ctz(near)) + 1;
        from = i + 16;
    }
#endif
    const void* one = std::memchr(buf_ + from, 0x01, n - from);
    return one == nullptr
               ? n
               : static_cast<std::size_t>(static_cast<const std::uint8_t*>(one) - buf_) + 1;
}

// With no countdown running only a start code can change the state, and a start code needs an
// 01 byte right in front of its id: go from byte i (in ShiftReg) straight to the next byte that
// opens a packet, passing over the 01 bytes behind which none stands (a pack header's own code,
// or an 01 among its clock bytes).
std::size_t Scanner::idleAdvance(std::size_t i, std::size_t n) {
    for (;;) {
        const std::size_t next = behindNextOne(i, n);
        shiftIn(i + 1, next);
        if (next == n || (kOpensPacket[buf_[next]] && (r_.ShiftReg & 0xFFFFFF) == 0x000001))
            return next;
        i = next;  // an idle byte too
        r_.ShiftReg = (r_.ShiftReg << 8) | buf_[i];
    }
}

// The slot of stream `id` of `range` in this pass: its own (`natural`) while that is free or
// holds it. A stream whose own slot holds another stream takes, the first time, the last free
// slot of its kind that has a box (so that it is least in the way of the streams numbered into
// theirs), and the log says so; when every such slot is taken it keeps
// its own without being registered (its chunks are then no box's), and the log says that once.
// `registered` tells a stream registered just now.
inline int Scanner::place(const IdRange& range, std::int32_t id, int natural, bool& registered) {
    registered = false;
    const std::int8_t moved = moved_[static_cast<std::size_t>(range.space)][PacketId(id)];
    if (moved >= 0) return moved;
    if (slotEntry(range, natural) == id) return natural;
    return placeNew(range, id, natural, registered);
}

// The slot of a stream not yet in its own (see place).
int Scanner::placeNew(const IdRange& range, std::int32_t id, int natural, bool& registered) {
    const auto entry = [this, &range](int slot) -> std::int32_t& { return slotEntry(range, slot); };
    std::int8_t& moved = moved_[static_cast<std::size_t>(range.space)][PacketId(id)];
    const std::int32_t holder = entry(natural);
    if (holder == -1) {
        entry(natural) = id;
        registered = true;
        return natural;
    }
    const BoxKind boxes = range.kind == StreamKind::Video   ? BoxKind::Video
                          : range.kind == StreamKind::Audio ? BoxKind::Audio
                                                            : BoxKind::Sub;
    // From the last box down: the low slots are the ones streams are numbered into.
    for (int slot = BoxCount(boxes) - 1; slot >= 0; --slot) {
        if (entry(slot) != -1) continue;
        entry(slot) = id;
        moved = static_cast<std::int8_t>(slot);
        registered = true;
        if (check_) host_.log(MovedLine(range, id, slot, holder, {}, nameOf(range, id)));
        return slot;
    }
    const std::size_t key =
        static_cast<std::size_t>(range.space) * 256 + static_cast<std::size_t>(id);
    if (check_ && !slotTakenSaid_[key]) {
        slotTakenSaid_[key] = true;
        host_.log(NotListedLine(range, id, holder, {}, nameOf(range, id)));
    }
    return natural;
}

void Scanner::registerVideo(const IdRange& range, std::int32_t id, bool setPts) {
    bool registered = false;
    const int slot = place(range, id, range.slotOf(static_cast<std::uint32_t>(id)), registered);
    r_.VideoId = id;
    r_.VideoSlot = slot;
    if (registered) {
        if (check_) host_.log(std::string(range.found) + std::to_string(slot) + " found!");
        // PtsReg still holds the time stamp of an earlier packet here.
        if (setPts) r_.VideoPts = r_.PtsReg;
    }
}

bool Scanner::startCode() {
    if ((r_.ShiftReg & 0xFFFFFF00u) != 0x00000100u) return false;
    const std::uint8_t id = r_.ShiftReg & 0xFF;
    switch (id) {
        case 0xFD:  // extended stream id: VC-1 is recognised by its stream_id_extension
            r_.VideoType = VideoType::Vc1;
            r_.PacketKind = PacketKind::Video;
            break;
        case 0xBC:  // program stream map
        case 0xBE:  // padding
        case 0xBF:  // private stream 2 (navigation)
            r_.PacketKind = PacketKind::SkipPacket;
            break;
        case 0xBD:  // private stream 1
            r_.PacketKind = PacketKind::Private1;
            break;
        default: {
            const IdRange* range = FindIdRange(IdSpace::StreamId, id);
            if (range == nullptr) return false;
            if (range->kind == StreamKind::Video) {
                // H.264 takes no first PTS here: its readers have none to show.
                registerVideo(*range, id, range->codec == Codec::Mpeg2);
                r_.VideoType = range->codec == Codec::Mpeg2 ? VideoType::Mpeg2 : VideoType::H264;
                r_.PacketKind = PacketKind::Video;
            } else if (mpegAudio_ && range->hasSlot()) {  // a DVD's MPEG audio stream
                bool registered = false;
                const std::int32_t key = kMpegAudioKey | id;
                r_.AudioSlot = place(*range, key, range->slotOf(id), registered);
                r_.AudioType = AudioType::Mpeg;
                r_.AudioSubId = id;
                r_.PacketSubId = key;
                r_.PacketKind = PacketKind::Audio;
                if (registered && check_)
                    host_.log(std::string(range->found) + std::to_string(r_.AudioSlot) + " found!");
                r_.MpegAudioFound = registered;
            } else {  // MPEG audio without a box
                r_.PacketKind = PacketKind::MpegAudio;
                r_.PacketSubId = id;
            }
            break;
        }
    }
    r_.LengthBytes = 2;
    r_.OwnPts = false;
    r_.PacketStart = true;
    return true;
}

// The bytes from a packet's stream id that startCodeFree looks at, and so the most a header
// taken in one step may span.
constexpr std::size_t kHeaderReach = 35;

// The first place from byte i + 1 on that a start code could open a packet at, as far as the
// 32 bytes from i + 3 tell: the byte behind the first 00 00 01 among them, or i + kHeaderReach.
// The bytes i + 1 and i + 2 cannot end a start code, since byte i (a stream id) is not 00.
// Needs the kHeaderReach bytes from i in the block.
std::size_t Scanner::startCodeFree(std::size_t i) const {
#if defined(__SSE2__)
    const auto mask = [this](std::size_t at, std::uint8_t value) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_ + at));
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)))));
    };
    // Bit j: byte i + 1 + j is 00; byte i + 3 + j is 01.
    const std::uint32_t zeros = mask(i + 1, 0) | mask(i + 17, 0) << 16;
    const std::uint32_t ones = (mask(i + 3, 1) | mask(i + 19, 1) << 16) & 0x7FFFFFFFu;
    const std::uint32_t codes = ones & zeros & (zeros >> 1);
    return codes == 0 ? i + kHeaderReach : i + 4 + static_cast<std::size_t>(__builtin_ctz(codes));
#else
    for (std::size_t at = i + 3; at + 1 < i + kHeaderReach; ++at) {
        if (buf_[at] == 0x01 && buf_[at - 1] == 0 && buf_[at - 2] == 0) return at + 1;
    }
    return i + kHeaderReach;
#endif
}

// The header of the packet whose stream id is byte i, taken in one step when it is of the
// common kind and no start code stands among its bytes: the registers come out as the byte
// machine leaves them, byte for byte. A private-stream-1 packet's sub-stream and codec header
// bytes follow through the machine's own steps, as far as they are free of start codes too.
// Returns the place of the next byte to scan: i + 1 when the header is left to the byte machine.
std::size_t Scanner::wholeHeader(std::size_t i, std::size_t n) {
    Registers& r = r_;
    if (i + kHeaderReach > n) return i + 1;
    if (r.FixedHeaderLeft != 0 || r.PtsBytes != 0 || r.PtsDtsBytes != 0 || r.ExtFlagsBytes != 0 ||
        r.PstdBytes != 0 || r.Ext2Bytes != 0 || r.HeaderLeft != 0 || r.SubHeaderBytes != 0 ||
        r.LpcmHeaderBytes != 0 || r.TrueHdHeaderBytes != 0)
        return i + 1;  // a start code inside another header: its countdowns go on
    const std::uint8_t* p = buf_ + i;
    const auto length = static_cast<std::int32_t>(Be16(p + 1));
    if (r.PacketKind == PacketKind::SkipPacket) {  // its length, then a countdown of the rest
        r.LengthBytes = 0;
        r.LengthLeft = length;
        r.SkipBytes = static_cast<std::uint32_t>(length);
        shiftIn(i + 1, i + 3);
        return i + 3;
    }
    const std::uint8_t marker = p[3], flags = p[4], headerLength = p[5];
    if ((marker & 0xC0) == 0x80 && (marker & 0x30) != 0) return i + 1;  // scrambled
    if ((flags & 0x01) != 0) return i + 1;                              // a PES extension
    const std::uint32_t stamps = (flags & 0xC0) == 0x80 ? 5 : (flags & 0xC0) == 0xC0 ? 10 : 0;
    const std::size_t end = i + 6 + headerLength;  // the first byte past the PES header
    const std::size_t free = startCodeFree(i);
    if (headerLength < stamps || end > free) return i + 1;
    r.LengthBytes = 0;
    r.HeaderFlags = flags;
    r.LengthLeft = length - 3 - headerLength;
    if (stamps != 0) {
        for (std::uint32_t step = 0; step < 5; ++step)
            timeStampStep(4 - step, p[6 + step]);
        r.PtsReg = r.TimeAcc;
        r.OwnPts = true;
        r.PacketPts = r.TimeAcc;
        r.PacketPtsHigh = r.TimeHigh;
        if (stamps == 10) {
            r.VideoPts = r.TimeAcc;
            for (std::uint32_t step = 0; step < 5; ++step)
                timeStampStep(4 - step, p[11 + step]);
            r.DtsReg = r.TimeAcc;
        }
    }
    shiftIn(i + 1, end);
    headerEnd();
    std::size_t k = end;
    while (r.InPayload == 0 && k < free &&
           (r.SubHeaderBytes > 0 || r.LpcmHeaderBytes > 0 || r.TrueHdHeaderBytes > 0)) {
        r.ShiftReg = (r.ShiftReg << 8) | buf_[k];
        if (r.SubHeaderBytes > 0) {
            subStreamHeaderByte(buf_[k], k);
        } else {
            codecHeaderByte(buf_[k]);
        }
        ++k;
    }
    return k;
}

void Scanner::headerEnd() {
    if (r_.MpegAudioFound) {  // its first time stamp is this packet's, read by now
        r_.FirstAudioPts = r_.PtsReg;
        r_.MpegAudioFound = false;
    }
    if (r_.PacketKind == PacketKind::Private1) {
        r_.SubHeaderBytes = 4;
        r_.SubHeaderLength = 0;
    } else {
        r_.InPayload = 1;
    }
}

// One byte of a 5-byte time stamp field; `step` counts down 4..0. Bit 32 is kept apart.
void Scanner::timeStampStep(std::uint32_t step, std::uint8_t b) {
    switch (step) {
        case 4:
            r_.TimeAcc = std::uint32_t{b & 0x06u} << 29;
            r_.TimeHigh = (b >> 3) & 1;
            break;
        case 3:
            r_.TimeAcc |= std::uint32_t{b} << 22;
            break;
        case 2:
            r_.TimeAcc |= std::uint32_t{b & 0xFEu} << 14;
            break;
        case 1:
            r_.TimeAcc |= std::uint32_t{b} << 7;
            break;
        default:
            r_.TimeAcc |= std::uint32_t{b & 0xFEu} >> 1;
            break;
    }
}

// After the last time stamp of the header.
void Scanner::timeStampDone() {
    if (r_.HeaderLeft == 0) {
        headerEnd();
    } else if (r_.PacketKind == PacketKind::Video && (r_.HeaderFlags & 0x01) != 0) {
        r_.ExtFlagsBytes = 1;
    }
}

// The second byte of PES extension 2: stream_id_extension.
void Scanner::extension2(std::uint8_t b) {
    const std::int32_t e = b & 0x7F;
    const IdRange* range = FindIdRange(IdSpace::ExtensionId, static_cast<std::uint32_t>(e));
    if (range != nullptr) {  // VC-1
        registerVideo(*range, e, true);
        r_.PacketKind = PacketKind::Video;
    } else {
        r_.PacketKind = PacketKind::SkipPayload;
    }
    if (r_.HeaderLeft == 0) r_.InPayload = 1;
}

void Scanner::subpictureId(std::uint8_t b) {
    const IdRange* range = FindIdRange(IdSpace::SubStreamId, b);
    if (range == nullptr || range->kind != StreamKind::Sub) return;
    const bool plain = range->codec == Codec::Subpicture;
    bool registered = false;
    r_.SubSlot = place(*range, b, range->slotOf(b), registered);
    r_.SubId = b;
    r_.PacketSubId = b;
    if (registered && check_) {
        host_.log(std::string(range->found) + std::to_string(r_.SubSlot) + " found!");
        r_.FirstSubPts = r_.PtsReg;
    }
    if (check_ && plain) r_.PtsReg = 0;
    r_.SubHeaderBytes = 0;
    r_.PacketKind = PacketKind::Subpicture;
    r_.InPayload = 1;
}

// The fourth byte of a private-stream-1 audio header; `i` is its place in the block.
void Scanner::classifyAudio(std::uint8_t id, std::size_t i) {
    // The slot by the id's own rule decides which packets carry the stream (below); the stream
    // may be registered in another, when that one is taken.
    int natural = id & 0x0F;
    r_.AudioSlot = natural;
    const IdRange* range = FindIdRange(IdSpace::SubStreamId, id);
    if (range != nullptr && range->kind == StreamKind::Audio) {
        natural = range->slotOf(id);
        bool registered = false;
        const int slot = place(*range, id, natural, registered);
        r_.AudioSlot = slot;
        r_.AudioType = AudioTypeOf(range->codec);
        r_.AudioSubId = id;
        r_.AudioExtraBytes = static_cast<std::uint8_t>(range->headerBytes - 4);
        if (registered) {
            std::string found(range->found);
            if (range->codec == Codec::Eac3) {
                // The Dolby Digital Plus ids also carry plain Dolby Digital: the packet's first
                // frame, as far as it lies in this block, tells.
                const std::size_t length = std::min<std::size_t>(
                    static_cast<std::size_t>(std::max(r_.LengthLeft, 0)), valid_ - (i + 1));
                if (StartsWithPlainAc3(buf_ + i + 1, length)) {
                    ids_.plainAc3[static_cast<std::size_t>(slot)] = true;
                    found = "[b]Dolby Digital[/b] audio stream ";
                }
            }
            if (check_) {
                if (id == 0xA1 && aob_) found = "[b]MLP[/b] audio stream ";
                host_.log(found + std::to_string(slot) + " found!");
            }
            r_.FirstAudioPts = r_.PtsReg;
        }
    }
    r_.PtsReg = 0;
    r_.PacketSubId = id;
    const auto slotId = static_cast<std::int32_t>(natural);
    switch (r_.AudioType) {
        case AudioType::TrueHd:  // one more header byte: 5 in all
            if (id == (slotId | 0xB0)) {
                r_.TrueHdHeaderBytes = r_.AudioExtraBytes;
            } else {
                r_.PacketKind = PacketKind::SkipPayload;
                r_.InPayload = 1;
            }
            break;
        case AudioType::Lpcm:
            if (id == (slotId | 0xA0)) {
                // DVD-Video and HD DVD: 3 bytes of codes, 7 in all. DVD-Audio: the header says
                // its own length in bytes 2-3, and the samples start 4 + length bytes in.
                r_.LpcmHeaderBytes =
                    aob_ ? std::min<std::uint32_t>(
                               r_.ShiftReg & 0xFFFF,
                               static_cast<std::uint32_t>(std::max(r_.LengthLeft, 0)))
                         : r_.AudioExtraBytes;
                if (r_.LpcmHeaderBytes == 0) {
                    r_.InPayload = 1;
                    r_.PacketKind = PacketKind::Audio;
                }
            } else {
                r_.PacketKind = PacketKind::SkipPayload;
                r_.InPayload = 1;
            }
            break;
        default:  // Dolby Digital, DD+ and DTS lose the 4 sub-stream header bytes
            r_.InPayload = 1;
            r_.PacketKind =
                id == (slotId | r_.AudioSubId) ? PacketKind::Audio : PacketKind::SkipPayload;
            break;
    }
}

// The countdowns over PES and sub-stream header bytes, in their order of precedence; at most one
// runs at a time. Returns false when none is running (the byte has no effect).
bool Scanner::headerRules(std::uint8_t b, std::size_t i) {
    const Registers& r = r_;
    if (r.LengthBytes > 0) {
        lengthField();
    } else if (r.FixedHeaderLeft > 0) {
        fixedHeaderByte(b);
    } else if (r.PtsBytes > 0 || r.PtsDtsBytes > 0) {
        timeStampByte(b);
    } else if (r.ExtFlagsBytes > 0 || r.PstdBytes > 0 || r.Ext2Bytes > 0) {
        extensionByte(b);
    } else if (r.HeaderLeft > 0) {
        --r_.HeaderLeft;
        --r_.LengthLeft;
        if (r_.HeaderLeft == 0) headerEnd();
    } else if (r.SubHeaderBytes > 0) {
        subStreamHeaderByte(b, i);
    } else if (r.LpcmHeaderBytes > 0 || r.TrueHdHeaderBytes > 0) {
        codecHeaderByte(b);
    } else {
        return false;
    }
    return true;
}

// The two bytes of PES_packet_length; a packet skipped whole then runs as SkipBytes.
void Scanner::lengthField() {
    Registers& r = r_;
    if (--r.LengthBytes > 0) return;
    r.LengthLeft = static_cast<std::int32_t>(r.ShiftReg & 0xFFFF);
    if (r.PacketKind == PacketKind::SkipPacket) {
        r.SkipBytes = static_cast<std::uint32_t>(r.LengthLeft);
    } else {
        r.FixedHeaderLeft = 3;
    }
}

// The three fixed PES header bytes: the '10' marker byte with PES_scrambling_control, the flags,
// and PES_header_data_length, which starts the countdowns of the fields the flags announce. An
// encrypted packet (scrambling bits set, as a CSS-protected disc copied without decryption has
// them) is skipped whole: its payload is no stream's data.
void Scanner::fixedHeaderByte(std::uint8_t b) {
    Registers& r = r_;
    --r.FixedHeaderLeft;
    --r.LengthLeft;
    if (r.FixedHeaderLeft == 2 && (b & 0xC0) == 0x80 && (b & 0x30) != 0) {
        ++pass_.scrambled;
        r.FixedHeaderLeft = 0;
        r.PacketKind = PacketKind::SkipPacket;
        r.SkipBytes = static_cast<std::uint32_t>(std::max(r.LengthLeft, 0));
        return;
    }
    if (r.FixedHeaderLeft == 1) {
        r.HeaderFlags = b;
    } else if (r.FixedHeaderLeft == 0) {
        r.HeaderLeft = b;
        if ((r.HeaderFlags & 0xC0) == 0x80) r.PtsBytes = 5;
        if ((r.HeaderFlags & 0xC0) == 0xC0) r.PtsDtsBytes = 10;
        if ((r.HeaderFlags & 0xC1) == 0x01) r.ExtFlagsBytes = 1;
        if (r.HeaderLeft == 0) headerEnd();
    }
}

// A byte of the PTS field, or of the PTS and DTS fields. PtsReg keeps the PTS until the next
// header with one (or an audio sub-stream header, or a written subpicture record) replaces it;
// VideoPts takes the PTS of every header that carries both, whatever its stream.
void Scanner::timeStampByte(std::uint8_t b) {
    Registers& r = r_;
    --r.LengthLeft;
    --r.HeaderLeft;
    if (r.PtsBytes > 0) {
        --r.PtsBytes;
        timeStampStep(r.PtsBytes, b);
        if (r.PtsBytes == 0) {
            r.PtsReg = r.TimeAcc;
            r.OwnPts = true;
            r.PacketPts = r.TimeAcc;
            r.PacketPtsHigh = r.TimeHigh;
            timeStampDone();
        }
        return;
    }
    --r.PtsDtsBytes;
    timeStampStep(r.PtsDtsBytes >= 5 ? r.PtsDtsBytes - 5 : r.PtsDtsBytes, b);
    if (r.PtsDtsBytes == 5) {
        r.PtsReg = r.TimeAcc;
        r.VideoPts = r.TimeAcc;
        r.OwnPts = true;
        r.PacketPts = r.TimeAcc;
        r.PacketPtsHigh = r.TimeHigh;
    } else if (r.PtsDtsBytes == 0) {
        r.DtsReg = r.TimeAcc;
        timeStampDone();
    }
}

// The PES extension: its flags byte, the P-STD buffer field, and PES extension 2 with the
// stream_id_extension that tells VC-1.
void Scanner::extensionByte(std::uint8_t b) {
    Registers& r = r_;
    --r.LengthLeft;
    --r.HeaderLeft;
    if (r.ExtFlagsBytes > 0) {
        if (--r.ExtFlagsBytes > 0) return;
        r.ExtFlags = b;
        if ((r.ExtFlags & 0x10) != 0) {  // P-STD_buffer_flag
            r.PstdBytes = 2;
        } else if ((r.ExtFlags & 0x01) != 0) {  // PES_extension_flag_2
            r.Ext2Bytes = 2;
        }
    } else if (r.PstdBytes > 0) {
        if (--r.PstdBytes > 0) return;
        if ((r.ExtFlags & 0x01) != 0) {
            r.Ext2Bytes = 2;
        } else if (r.HeaderLeft == 0) {
            headerEnd();
        }
    } else if (--r.Ext2Bytes == 0) {
        extension2(b);
    }
}

// The four bytes behind a private-stream-1 PES header: a subpicture is known by the first (its
// id), audio by the fourth. AudioType and AudioSubId keep the last recognised audio sub-stream
// across packets, so a packet of an id of no range is judged by that one (the rules after the
// classification).
inline void Scanner::subStreamHeaderByte(std::uint8_t b, std::size_t i) {
    Registers& r = r_;
    --r.SubHeaderBytes;
    --r.LengthLeft;
    keepSubHeader(b);
    if (r.SubHeaderBytes == 3) {
        subpictureId(b);
    } else if (r.SubHeaderBytes == 0) {
        classifyAudio(static_cast<std::uint8_t>(r.ShiftReg >> 24), i);
    }
}

// The LPCM codes (or a DVD-Audio header's rest) and TrueHD's extra byte, before the payload.
void Scanner::codecHeaderByte(std::uint8_t b) {
    Registers& r = r_;
    --r.LengthLeft;
    keepSubHeader(b);
    std::uint32_t& left = r.LpcmHeaderBytes > 0 ? r.LpcmHeaderBytes : r.TrueHdHeaderBytes;
    if (--left > 0) return;
    r.InPayload = 1;
    r.PacketKind = PacketKind::Audio;
}

// A payload chunk at byte i: the rest of the packet or of the block, whichever ends first.
// Returns the bytes consumed; 0 for a packet that ended with its header (or whose length field
// was smaller than its header), which ends the payload without consuming the byte.
std::size_t Scanner::payloadChunk(std::size_t i, std::size_t n) {
    const std::int32_t left = r_.LengthLeft;
    if (left <= 0) {
        r_.InPayload = 0;
        return 0;
    }
    const auto len =
        static_cast<std::uint32_t>(std::min<std::size_t>(static_cast<std::size_t>(left), n - i));
    switch (r_.PacketKind) {
        case PacketKind::Video:
        case PacketKind::Audio:
        case PacketKind::MpegAudio:
        case PacketKind::Subpicture:
            consume(i, len);
            break;
        default:
            break;
    }
    r_.OwnPts = false;
    r_.PacketStart = false;
    r_.LengthLeft -= static_cast<std::int32_t>(len);
    if (static_cast<std::int32_t>(len) == left) r_.InPayload = 0;
    return len;
}

// Hands a chunk on: pictures counted, then to the describer (check mode) or the writer.
void Scanner::consume(std::size_t i, std::uint32_t len) {
    // A 0xFD packet without a VC-1 extension before any VC-1 packet has no video slot.
    if (r_.PacketKind == PacketKind::Video && r_.VideoSlot < 0) return;
    // "Count frames" and the video boxes may change while a scan goes on: read at every chunk.
    if (r_.PacketKind == PacketKind::Video && host_.option(Option::CountFrames) &&
        (check_ || host_.ticked(BoxKind::Video, r_.VideoSlot))) {
        if (counter_) {
            counter_->add(buf_ + i, len, r_.VideoType, r_.VideoSlot);
        } else {
            pass_.frames[static_cast<std::size_t>(r_.VideoSlot)] +=
                CountPictures(buf_ + i, len, r_.VideoType);
        }
    }
    if (!check_ && writer_ == nullptr) return;
    std::int32_t slot = r_.AudioSlot, id = r_.PacketSubId;
    bool listed = false;  // whether this pass registered the chunk's stream in its slot
    if (r_.PacketKind == PacketKind::Video) {
        slot = r_.VideoSlot, id = r_.VideoId;
        listed = ids_.video(slot) == id;
    } else if (r_.PacketKind == PacketKind::Subpicture) {
        slot = r_.SubSlot;
        listed = ids_.sub(slot) == id;
    } else if (r_.PacketKind == PacketKind::Audio) {
        listed = slot >= 0 && slot < StreamInventory::kAudioSlots && ids_.audio(slot) == id;
    }
    const PayloadChunk chunk{r_.PacketKind,
                             buf_ + i,
                             static_cast<std::uint32_t>(i),
                             len,
                             slot,
                             id,
                             listed,
                             r_.OwnPts,
                             r_.PacketStart,
                             r_.PacketPts,
                             r_.PacketPtsHigh};
    if (!check_) {
        writer_->chunk(chunk);
        return;
    }
    if (!describer_->wants(chunk)) return;
    StreamFacts facts;
    facts.block = {buf_, valid_};
    facts.videoType = r_.VideoType;
    facts.audioType = r_.AudioType;
    facts.audioSubId = r_.AudioSubId;
    facts.videoPts = r_.VideoPts;
    facts.firstAudioPts = r_.FirstAudioPts;
    facts.firstSubPts = r_.FirstSubPts;
    facts.subHeader = &r_.SubHeader;
    facts.subHeaderLength = r_.SubHeaderLength;
    describer_->chunk(chunk, facts);
}

}  // namespace

ScanPass Scan(const ScanInput& input, FactSink& describer) {
    return Scanner(input, &describer, nullptr).run();
}

ScanPass Scan(const ScanInput& input, ChunkSink* writer) {
    return Scanner(input, nullptr, writer).run();
}

std::string MovedLine(const IdRange& range, std::int32_t id, int slot, std::int32_t holder,
                      const std::string& file, std::string_view name) {
    return std::string(name.empty() ? range.found : name) + "0x" + Hex(PacketId(id), 2) +
           (file.empty() ? "" : " of " + file) + " takes slot " + std::to_string(slot) +
           ": its own holds 0x" + Hex(PacketId(holder), 2);
}

std::string NotListedLine(const IdRange& range, std::int32_t id, std::int32_t holder,
                          const std::string& file, std::string_view name) {
    return std::string(name.empty() ? range.found : name) + "0x" + Hex(PacketId(id), 2) +
           (file.empty() ? "" : " of " + file) + " not listed: its slot holds 0x" +
           Hex(PacketId(holder), 2);
}

}  // namespace strandis
