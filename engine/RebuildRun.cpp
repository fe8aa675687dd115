#include "engine/RebuildRun.h"

#include <sys/uio.h>

#include <array>
#include <cstring>
#include <memory>

#include "common/RunError.h"
#include "engine/OutputNames.h"
#include "engine/PathRules.h"
#include "engine/RunScope.h"
#include "engine/StreamIdTable.h"
#include "engine/TextFormat.h"

namespace strandis {

namespace {

constexpr std::size_t kUnit = 2048;
constexpr std::size_t kUnitsAhead = 4;  // the start of the unit this far on is read ahead
constexpr std::uint8_t kNoNumber = 0xFF;

// The stream tests: drop the stream when the inventory lists it in a slot whose box is not
// ticked; on keep, give it its new number the first time.
class Selection {
public:
    Selection(Engine& engine, Renumbering& numbers)
        : e_(engine), n_(numbers), host_(engine.host()) {}

    // Whether the packs of stream `x` of `range` leave the copy.
    bool drop(const IdRange& range, std::uint8_t x) {
        if (listedUnticked(range.kind, x)) return true;
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

    std::uint8_t newId(std::uint8_t x) const { return n_.IdMap[x]; }

private:
    bool listedUnticked(StreamKind kind, std::uint8_t x) const {
        const BoxKind box = kind == StreamKind::Video   ? BoxKind::Video
                            : kind == StreamKind::Audio ? BoxKind::Audio
                                                        : BoxKind::Sub;
        const int slots = kind == StreamKind::Video ? 2 : 16;
        for (int slot = 0; slot < slots; ++slot) {
            const std::int32_t id = kind == StreamKind::Video   ? e_.disc.StreamIds.video(slot)
                                    : kind == StreamKind::Audio ? e_.disc.StreamIds.audio(slot)
                                                                : e_.disc.StreamIds.sub(slot);
            if (id == x) return !host_.ticked(box, slot);
        }
        return false;  // a stream the inventory does not list is kept
    }

    Engine& e_;
    Renumbering& n_;
    RunHost& host_;
};

int TickedCount(const RunHost& host, BoxKind kind, int slots) {
    int count = 0;
    for (int slot = 0; slot < slots; ++slot)
        count += host.ticked(kind, slot) ? 1 : 0;
    return count;
}

// The bytes of a kept unit that differ in the copy: new bounds or a new stream number.
struct UnitEdit {
    int count = 0;
    std::array<std::size_t, 3> at{};
    std::array<std::uint8_t, 3> value{};

    void set(const std::uint8_t* u, std::size_t where, std::uint8_t to) {
        if (u[where] == to) return;
        at[static_cast<std::size_t>(count)] = where;
        value[static_cast<std::size_t>(count)] = to;
        ++count;
    }
};

// One 2,048-byte unit: whether it is written, and what changes in the copy. The unit's stream
// is that of its first packet behind the 14-byte pack header, or behind the system header when
// the pack opens with one (navigation packs do, and so do some muxers' first audio packs).
bool KeepUnit(const std::uint8_t* u, std::size_t length, Selection& select, const RunHost& host,
              UnitEdit& edit) {
    if (length < 4 || u[0] != 0x00 || u[1] != 0x00 || u[2] != 0x01 || u[3] != 0xBA) return false;
    if (length <= 17) return true;
    std::size_t p = 14;  // the packet that decides
    if (u[17] == 0xBB) {
        if (length <= 24) return true;
        // System header: video_bound and audio_bound from the ticked boxes.
        edit.set(u, 24,
                 static_cast<std::uint8_t>((u[24] & 0xE0) + TickedCount(host, BoxKind::Video, 2)));
        edit.set(
            u, 23,
            static_cast<std::uint8_t>((u[23] & 0x03) + 4 * TickedCount(host, BoxKind::Audio, 16)));
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

// The kept units of one block, written with one gathering call: unchanged units straight from
// the block, changed ones from copies. Flushed before the block's bytes go away.
class KeptUnits {
public:
    explicit KeptUnits(OutputFile& out) : out_(out), copies_(new std::uint8_t[kBlockSize]) {}

    void add(const std::uint8_t* unit, std::size_t length, const UnitEdit& edit) {
        const std::uint8_t* from = unit;
        if (edit.count > 0) {
            std::uint8_t* copy = copies_.get() + copied_;
            std::memcpy(copy, unit, length);
            for (int k = 0; k < edit.count; ++k)
                copy[edit.at[static_cast<std::size_t>(k)]] =
                    edit.value[static_cast<std::size_t>(k)];
            copied_ += length;
            from = copy;
        }
        if (count_ > 0 && static_cast<const std::uint8_t*>(parts_[count_ - 1].iov_base) +
                                  parts_[count_ - 1].iov_len ==
                              from) {
            parts_[count_ - 1].iov_len += length;  // runs on from the part before
        } else {
            parts_[count_++] = {const_cast<std::uint8_t*>(from), length};
        }
    }

    void flush() {
        out_.writeVector(parts_.data(), count_);
        count_ = 0;
        copied_ = 0;
    }

private:
    OutputFile& out_;
    std::unique_ptr<std::uint8_t[]> copies_;  // room for every unit of a block
    std::size_t copied_ = 0;
    std::array<iovec, kBlockSize / kUnit + 1> parts_{};
    int count_ = 0;
};

}  // namespace

void Rebuild(Engine& engine, OutputFile& out, Renumbering& numbers) {
    RunHost& host = engine.host();
    const ScanActive active(host, engine.DemuxActive, true);
    engine.StopFlag = 0;

    InputFile& source = engine.SourceStream;
    const std::int64_t size = source.size();
    Progress progress(host, "Rebuilding " + ExtractFileName(source.path()) + " ");
    Selection select(engine, numbers);
    KeptUnits kept(out);
    // Large blocks; the 2,048-byte units are walked inside them.
    while (source.position() < size && engine.StopFlag == 0) {
        const std::int64_t blockStart = source.position();
        const InputFile::Block block = source.nextBlock(engine.ReadBuffer(), kBlockSize);
        const std::size_t n = block.size;
        for (std::size_t offset = 0; offset < n && engine.StopFlag == 0; offset += kUnit) {
            const std::size_t length = std::min(kUnit, n - offset);
            progress.at(blockStart + static_cast<std::int64_t>(offset + length), size);
            const std::uint8_t* unit = block.data + offset;
            __builtin_prefetch(unit + kUnitsAhead * kUnit);  // so that its header is at hand
            UnitEdit edit;
            if (KeepUnit(unit, length, select, host, edit)) kept.add(unit, length, edit);
        }
        kept.flush();
    }
    source.checkIntact();
}

RunOutcome RunRebuild(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    RunOutcome outcome;
    Renumbering numbers;

    RunScope scope(engine, sourcePath);
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string target =
        OutputPrefix(host.outputFolder(), sourcePath, engine.disc.OutputBase) + ".rebuilt.EVO";
    scope.refuseToOverwrite(target);

    OutputFile out;
    scope.guard([&] {
        scope.openSource("Opening file " + sourceName, "Opening");
        scope.createOutput(out, target);
        host.log("Creating " + target);
        host.slog("Rebuilding " + sourceName, 0);
        scope.eachFile("Rebuilding ",
                       [&](const std::string&, bool) { Rebuild(engine, out, numbers); });
        outcome.files = scope.closeOutputs();
    });
    outcome.stoppedEarly = engine.StopFlag != 0;
    EndRun(host);
    return outcome;
}

}  // namespace strandis
