#include "engine/RebuildRun.h"

#include <sys/uio.h>

#include <array>
#include <chrono>
#include <cstring>
#include <memory>

#include "engine/Detection.h"
#include "engine/OutputNames.h"
#include "engine/PathRules.h"
#include "engine/RunError.h"
#include "engine/TextFormat.h"

namespace strandis {

namespace {

constexpr std::size_t kUnit = 2048;
constexpr std::size_t kUnitsAhead = 4;  // the start of the unit this far on is read ahead
constexpr std::uint8_t kNoNumber = 0xFF;

bool In(std::uint8_t x, std::uint8_t first, std::uint8_t last) {
    return x >= first && x <= last;
}

// The stream tests: drop the stream when the inventory lists it in a slot whose box is not
// ticked; on keep, give it its new number the first time.
class Selection {
public:
    explicit Selection(Engine& engine) : e_(engine), host_(engine.host()) {}

    bool dropVideo(std::uint8_t x) {
        if (listedUnticked(BoxKind::Video, 2, x)) return true;
        number(
            x, e_.NextVideoNumber,
            x == 0x55 || x == 0x56 ? 0x55 + e_.NextVideoNumber : (x & 0xFE) | e_.NextVideoNumber);
        return false;
    }
    bool dropAudio(std::uint8_t x) {
        if (listedUnticked(BoxKind::Audio, 16, x)) return true;
        number(
            x, e_.NextAudioNumber,
            (x & 0xF0) == 0xC0 ? (x & 0xF0) | e_.NextAudioNumber : (x & 0xF8) | e_.NextAudioNumber);
        return false;
    }
    bool dropSub(std::uint8_t x) {
        if (listedUnticked(BoxKind::Sub, 16, x)) return true;
        number(x, e_.NextSubNumber, (x & 0xE0) | e_.NextSubNumber);
        return false;
    }

    std::uint8_t newId(std::uint8_t x) const { return e_.IdMap[x]; }

private:
    bool listedUnticked(BoxKind kind, int slots, std::uint8_t x) const {
        for (int slot = 0; slot < slots; ++slot) {
            const std::int32_t id = kind == BoxKind::Video   ? e_.StreamIds.video(slot)
                                    : kind == BoxKind::Audio ? e_.StreamIds.audio(slot)
                                                             : e_.StreamIds.sub(slot);
            if (id == x) return !host_.ticked(kind, slot);
        }
        return false;  // a stream the inventory does not list is kept
    }
    void number(std::uint8_t x, std::uint8_t& counter, int newId) {
        if (e_.IdMap[x] != kNoNumber) return;
        e_.IdMap[x] = static_cast<std::uint8_t>(newId);
        ++counter;
    }

    Engine& e_;
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
    std::array<std::size_t, 2> at{};
    std::array<std::uint8_t, 2> value{};

    void set(const std::uint8_t* u, std::size_t where, std::uint8_t to) {
        if (u[where] == to) return;
        at[static_cast<std::size_t>(count)] = where;
        value[static_cast<std::size_t>(count)] = to;
        ++count;
    }
};

// One 2,048-byte unit: whether it is written, and what changes in the copy.
bool KeepUnit(const std::uint8_t* u, std::size_t length, Selection& select, const RunHost& host,
              UnitEdit& edit) {
    if (length < 4 || u[0] != 0x00 || u[1] != 0x00 || u[2] != 0x01 || u[3] != 0xBA) return false;
    if (length <= 17) return true;
    const std::uint8_t s = u[17];  // stream id of the first packet behind a 14-byte pack header
    if (s == 0xBB && length > 24) {
        // System header: video_bound and audio_bound from the ticked boxes.
        edit.set(u, 24,
                 static_cast<std::uint8_t>((u[24] & 0xE0) + TickedCount(host, BoxKind::Video, 2)));
        edit.set(
            u, 23,
            static_cast<std::uint8_t>((u[23] & 0x03) + 4 * TickedCount(host, BoxKind::Audio, 16)));
        return true;
    }
    std::size_t at = 0;  // of the sub-stream id or stream_id_extension; 0 when there is none
    if (s == 0xBD && length > 22) {
        at = 23 + std::size_t{u[22]};  // behind the PES header
    } else if (s == 0xFD && length > 23) {
        const std::size_t k = 5 * ((u[21] >> 7) & 1) + 5 * ((u[21] >> 6) & 1);     // PTS, DTS
        if (23 + k < length) at = 23 + k + 2 + ((u[23 + k] & 0x10) != 0 ? 2 : 0);  // P-STD buffer
    }
    if (at >= length) at = 0;
    const std::uint8_t q = at != 0 ? u[at] : 0;

    bool drop = false;
    std::size_t renumber = 0;  // the byte that takes the new id
    std::uint8_t oldId = 0;
    if (s == 0xBD && at != 0 &&
        (In(q, 0xC0, 0xCF) || In(q, 0x80, 0x8F) || In(q, 0xA0, 0xA7) || In(q, 0xB0, 0xB7))) {
        drop = select.dropAudio(q), renumber = at,
        oldId = q;  // DD+, DTS, Dolby Digital, LPCM, TrueHD
    } else if (s == 0xBD && at != 0 && (In(q, 0x20, 0x3F) || In(q, 0x60, 0x7F))) {
        drop = select.dropSub(q), renumber = at, oldId = q;  // subpictures, extended subpictures
    } else if (s == 0xFD && at != 0 && In(q, 0x55, 0x56)) {
        drop = select.dropVideo(q), renumber = at, oldId = q;  // VC-1
    } else if (In(s, 0xE0, 0xE3)) {
        drop = select.dropVideo(s), renumber = 17, oldId = s;  // MPEG-2 and H.264 video
    } else if (In(s, 0xC0, 0xDF)) {
        drop = select.dropAudio(s), renumber = 17, oldId = s;  // MPEG audio
    } else {
        return true;  // navigation, padding and the rest take part in no test
    }
    if (drop) return false;
    edit.set(u, renumber, select.newId(oldId));
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

void Rebuild(Engine& engine, OutputFile& out) {
    RunHost& host = engine.host();
    const ScanActive active(host);
    engine.DemuxActive = 1;
    engine.StopFlag = 0;
    const auto started = std::chrono::steady_clock::now();

    InputFile& source = engine.SourceStream;
    const std::int64_t size = source.size();
    const std::string name = ExtractFileName(source.path());
    Selection select(engine);
    KeptUnits kept(out);
    // Large blocks; the 2,048-byte units are walked inside them.
    while (source.position() < size && engine.StopFlag == 0) {
        const std::int64_t blockStart = source.position();
        const InputFile::Block block = source.nextBlock(engine.ReadBuffer(), kBlockSize);
        const std::size_t n = block.size;
        for (std::size_t offset = 0; offset < n && engine.StopFlag == 0; offset += kUnit) {
            const std::size_t length = std::min(kUnit, n - offset);
            const std::int64_t position = blockStart + static_cast<std::int64_t>(offset + length);
            if (position % kProgressStep == 0) {
                const double elapsed =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count();
                host.slog("Rebuilding " + name + " " +
                              ProgressText(position, size, elapsed, host.timeSeparator()),
                          1);
                host.processPendingEvents();
            }
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
    engine.NextVideoNumber = engine.NextAudioNumber = engine.NextSubNumber = 0;
    engine.IdMap.fill(kNoNumber);

    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string second = TakeOutputBase(engine, sourcePath);
    const std::string target =
        OutputPrefix(host.outputFolder(), sourcePath, engine.OutputBase) + ".rebuilt.EVO";
    for (const std::string& input : {sourcePath, second}) {
        if (!input.empty() && SameFile(input, target)) {
            throw RunError("Cannot create file \"" + target +
                           "\". It is the source file, which is never overwritten.");
        }
    }

    OutputFile out;
    bool created = false;
    struct CloseSource {
        InputFile& file;
        ~CloseSource() { file.close(); }
    } closeSource{engine.SourceStream};
    try {
        host.log("Opening file " + sourceName);
        host.slog("Opening", 0);
        engine.SourceStream.open(sourcePath);
        host.log("File size: " + std::to_string(engine.SourceStream.size() / 1048576) + " Mbytes.");
        out.create(target);
        created = true;
        host.log("Creating " + target);
        host.slog("Rebuilding " + sourceName, 0);
        Rebuild(engine, out);
        if (host.option(Option::Continue) && engine.StopFlag == 0 && !second.empty()) {
            ContinueOn(engine, second, "Rebuilding ");
            Rebuild(engine, out);
        }
        engine.SourceStream.close();
        out.close();
    } catch (const RunError&) {
        if (created) host.log("Incomplete: " + target);
        throw;
    }
    outcome.files.push_back({target, out.size()});
    outcome.stoppedEarly = engine.StopFlag != 0;
    EndRun(host);
    return outcome;
}

}  // namespace strandis
