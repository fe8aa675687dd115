#include "engine/DemuxRun.h"

#include <cmath>
#include <memory>
#include <optional>

#include "common/RunError.h"
#include "engine/OutputNames.h"
#include "engine/PacketKind.h"
#include "engine/PathRules.h"
#include "engine/RunScope.h"
#include "engine/StreamIdTable.h"
#include "engine/TextFormat.h"

namespace strandis {

namespace {

constexpr std::uint32_t kNoFirstPts = 0xFFFFFFFFu;

// 90 kHz ticks as seconds with three decimals, whatever the locale: 123.456.
std::string Seconds90kHz(std::uint32_t ticks) {
    const std::string millis = std::to_string(ticks % 90000 / 90 + 1000);
    return std::to_string(ticks / 90000) + "." + millis.substr(1);
}

void PutLittleEndian(std::uint8_t* to, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        to[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// The outputs of one run, in box order, with the box each belongs to.
struct Outputs {
    std::vector<std::unique_ptr<OutputFile>> files;
    std::array<std::unique_ptr<SubpictureOutput>, 16> subpictures;
    std::array<std::unique_ptr<WavOutput>, 16> wav;  // after the files: gone before they are
    std::array<OutputFile*, 2> video{};
    std::array<OutputFile*, 16> audio{};
    std::array<OutputFile*, 16> sub{};

    // Closes every file still open, without writing what is buffered.
    void abandonAll() noexcept {
        for (auto& file : files)
            file->abandon();
    }
};

// The WAV format of the LPCM stream in an audio slot, from what the detection read of it;
// nothing for another codec, and a log line for LPCM that cannot be written as WAV.
std::optional<WavOutput::Format> WavFormat(Engine& engine, int slot) {
    // By what the detection read: the playlist may have put its marks in the inventory since.
    const bool aob = IsAobPath(engine.host().sourcePath());
    if (engine.disc.Reports.audio[static_cast<std::size_t>(slot)].info.codec != "pcm_dvd") {
        const std::int32_t id = engine.disc.StreamIds.audio(slot);
        const IdRange* range = FindInventoryRange(StreamKind::Audio, id);
        if (range == nullptr || range->codec != Codec::Lpcm || (aob && id == 0xA1)) return {};
    }
    const StreamReport& report = engine.disc.Reports.audio[static_cast<std::size_t>(slot)];
    const analysers::StreamInfo& info = report.info;
    WavOutput::Format format;
    std::string why = "its header was not read";
    // A DVD-Audio stream of two channel groups may give them different sizes and rates.
    if (aob && info.channels > 2) {
        why = "a DVD-Audio stream of two channel groups has no WAV form";
    } else if (report.described &&
               WavOutput::FormatOf(info.channels, info.bitsPerSample, info.sampleRate,
                                   info.channelLayout, format, why)) {
        return format;
    }
    engine.host().log("LPCM stream " + std::to_string(slot) + " is written as it is: " + why + ".");
    return {};
}

// What a subpicture slot's file is written as: PGS or VobSub when asked and the stream's units
// are DVD units, "SP" records otherwise (HD DVD units: a log line says so).
SubFormat SubpictureFormat(Engine& engine, int slot) {
    const SubFormat asked = engine.host().subFormat();
    if (asked == SubFormat::Sup) return asked;
    const StreamReport& report = engine.disc.Reports.sub[static_cast<std::size_t>(slot)];
    if (report.described && report.info.subpictureBits == 2) return asked;
    engine.host().log("Subpicture stream " + std::to_string(slot) +
                      " is written as .sup records: only DVD subpicture units are converted.");
    return SubFormat::Sup;
}

// The picture size the captions are placed on: the first video stream's, or a DVD's.
std::pair<int, int> VideoSize(Engine& engine) {
    const analysers::StreamInfo& video = engine.disc.Reports.video[0].info;
    if (video.width > 0 && video.height > 0) return {video.width, video.height};
    return {720, 480};
}

// The colours of the title set the source belongs to (VTS_01_1.VOB: VTS_01_0.IFO beside it),
// or the default palette, which the log then names.
DvdPalette SourcePalette(Engine& engine, const std::string& sourcePath) {
    const std::string name = ExtractFileName(sourcePath);
    std::string ifo;
    if (name.size() == 12 && (name.compare(0, 4, "VTS_") == 0 || name.compare(0, 4, "vts_") == 0)) {
        ifo = ExtractFilePath(sourcePath) + name.substr(0, 7) + "0" +
              (name[9] == 'v' ? ".ifo" : ".IFO");
        if (const std::optional<DvdPalette> palette = ReadIfoPalette(ifo)) {
            engine.host().log("Subpicture colours from " + ExtractFileName(ifo));
            return *palette;
        }
    }
    engine.host().log("Subpicture colours: the default DVD palette (no title set IFO file " +
                      std::string(ifo.empty() ? "for this source" : "\"" + ifo + "\"") + ")");
    return DefaultDvdPalette();
}

}  // namespace

DemuxWriter::DemuxWriter(Engine& engine, std::array<OutputFile*, 2> video,
                         std::array<OutputFile*, 16> audio, std::array<OutputFile*, 16> sub,
                         const StreamInventory& selected)
    : engine_(engine), video_(video), audio_(audio), sub_(sub), selected_(selected) {}

bool DemuxWriter::wanted(std::int32_t listed, std::int32_t registered, std::int32_t id) const {
    return listed >= 0 && listed != kListedByPlaylist ? id == listed : id == registered;
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
            engine_.host().log("Time stamps restart in " + fileName_ +
                               ": its subpicture times are moved on by " + std::to_string(offset_) +
                               " (" + Seconds90kHz(offset_) + " s)");
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
void DemuxWriter::chunk(const PayloadChunk& c, std::uint32_t& ptsReg) {
    RunHost& host = engine_.host();
    clock(c);
    switch (c.kind) {
        case PacketKind::Video:
            if (c.slot >= 0 && c.slot < 2 && video_[c.slot] != nullptr &&
                wanted(selected_.video(c.slot), engine_.disc.StreamIds.video(c.slot), c.streamId) &&
                host.ticked(BoxKind::Video, c.slot)) {
                // A file that starts mid-stream begins with pictures without a time stamp:
                // the first time stamp is where the stream's time starts.
                auto& first = firstVideo_[static_cast<std::size_t>(c.slot)];
                if (c.ownPts && !first) first = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
                video_[c.slot]->write(c.data, c.length);
            }
            break;
        case PacketKind::Audio:
            // Two sub-streams can share a slot (Dolby Digital 0x80 and DTS 0x88): only the one
            // listed in the slot goes to its file.
            if (c.slot >= 0 && c.slot < 16 && audio_[c.slot] != nullptr &&
                wanted(selected_.audio(c.slot), engine_.disc.StreamIds.audio(c.slot), c.streamId) &&
                host.ticked(BoxKind::Audio, c.slot)) {
                auto& first = firstAudio_[static_cast<std::size_t>(c.slot)];
                if (c.ownPts && !first) first = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
                if (!first) audioBytesBefore_[static_cast<std::size_t>(c.slot)] += c.length;
                if (WavOutput* wav = wav_[static_cast<std::size_t>(c.slot)]) {
                    wav->write(c.data, c.length);
                } else {
                    audio_[c.slot]->write(c.data, c.length);
                }
            }
            break;
        case PacketKind::Subpicture: {
            if (c.slot < 0 || c.slot >= 16 || sub_[c.slot] == nullptr ||
                !wanted(selected_.sub(c.slot), engine_.disc.StreamIds.sub(c.slot), c.streamId) ||
                !host.ticked(BoxKind::Sub, c.slot))
                break;
            if (SubpictureOutput* out = subOut_[static_cast<std::size_t>(c.slot)]) {
                const std::int64_t time = std::int64_t{ptsReg} + offset_;
                out->chunk(c.data, c.length, c.ownPts,
                           engine_.disc.MinPts == kNoFirstPts ? time : time - engine_.disc.MinPts);
                if (c.ownPts) ptsReg = 0;
                break;
            }
            // A record holds one whole subpicture unit: its header goes before the first chunk of
            // a packet whose own PES header carried the time stamp.
            if (c.ownPts) {
                const std::uint32_t time = ptsReg + offset_;
                const std::uint32_t pts =
                    engine_.disc.MinPts == kNoFirstPts ? time : time - engine_.disc.MinPts;
                std::uint8_t header[10] = {'S', 'P'};
                PutLittleEndian(header + 2, pts);
                PutLittleEndian(header + 6, 0);
                sub_[c.slot]->write(header, sizeof header);
                ptsReg = 0;
            }
            sub_[c.slot]->write(c.data, c.length);
            break;
        }
        default:
            break;  // MPEG audio has no box of its own: skipped
    }
}

std::string DemuxFrameCountLine(std::int64_t count, int slot, char timeSeparator) {
    return std::to_string(count) + " frames (" + FormatHms(count / 23.976, timeSeparator) +
           " s) count in video stream " + std::to_string(slot) + ".";
}

namespace {

// Each written stream's start against the earliest start among them: video and audio from the
// first time stamp written to their files, subpictures from the time base their captions count
// from.
template <typename Planned>
std::vector<StreamDelay> Delays(Engine& engine, const std::vector<Planned>& planned,
                                const DemuxWriter& writer) {
    std::vector<std::pair<const Planned*, std::uint64_t>> starts;
    for (const Planned& p : planned) {
        std::optional<std::uint64_t> first;
        if (p.kind == BoxKind::Video) first = writer.firstVideoPts(p.slot);
        if (p.kind == BoxKind::Audio) {
            first = writer.firstAudioPts(p.slot);
            // LPCM written before the first time stamp starts the file that much earlier.
            const analysers::StreamInfo& info =
                engine.disc.Reports.audio[static_cast<std::size_t>(p.slot)].info;
            const std::int64_t bytesPerSecond =
                std::int64_t{info.sampleRate} * info.channels * info.bitsPerSample / 8;
            const std::int64_t before = writer.audioBytesBefore(p.slot);
            if (first && info.codec == "pcm_dvd" && bytesPerSecond > 0 && before > 0) {
                const auto ticks = static_cast<std::uint64_t>(before * 90000 / bytesPerSecond);
                first = *first > ticks ? *first - ticks : 0;
            }
        }
        if (p.kind == BoxKind::Sub && !p.vobsubIndex && engine.disc.MinPts != kNoFirstPts)
            first = engine.disc.MinPts;
        if (first) starts.emplace_back(&p, *first);
    }
    std::vector<StreamDelay> delays;
    if (starts.empty()) return delays;
    std::uint64_t zero = starts.front().second;
    for (const auto& [p, start] : starts)
        zero = std::min(zero, start);
    for (const auto& [p, start] : starts) {
        delays.push_back({p->path, engine.host().caption(p->kind, p->slot),
                          static_cast<double>(start - zero) / 90.0});
    }
    return delays;
}

}  // namespace

RunOutcome RunDemux(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    RunOutcome outcome;
    engine.FrameCount = {0, 0};

    RunScope scope(engine, sourcePath);
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string prefix =
        OutputPrefix(host.outputFolder(), sourcePath, engine.disc.OutputBase);

    // The boxes ticked now decide which files exist for the whole run.
    struct Planned {
        BoxKind kind;
        int slot;
        std::string path;
        std::optional<WavOutput::Format> wav;
        SubFormat subFormat = SubFormat::Sup;
        bool vobsubIndex = false;  // the .idx beside a VobSub .sub
    };
    std::vector<Planned> planned;
    const auto plan = [&](BoxKind kind, int slot) {
        if (!host.ticked(kind, slot)) return;
        std::optional<WavOutput::Format> wav;
        if (kind == BoxKind::Audio && host.option(Option::LpcmWav)) wav = WavFormat(engine, slot);
        const SubFormat subFormat =
            kind == BoxKind::Sub ? SubpictureFormat(engine, slot) : SubFormat::Sup;
        const std::string extension = wav                              ? std::string("wav")
                                      : subFormat == SubFormat::VobSub ? std::string("sub")
                                      : subFormat == SubFormat::Pgs    ? std::string("sup")
                                                                       : host.extension(kind);
        const std::string base = prefix + "." + FileNamePart(host.caption(kind, slot)) + ".";
        planned.push_back({kind, slot, base + extension, wav, subFormat});
        // The VobSub index comes right behind its .sub.
        if (subFormat == SubFormat::VobSub)
            planned.push_back({kind, slot, base + "idx", std::nullopt, SubFormat::Sup, true});
    };
    for (int slot = 0; slot < 2; ++slot)
        plan(BoxKind::Video, slot);
    for (int slot = 0; slot < 16; ++slot)
        plan(BoxKind::Audio, slot);
    for (int slot = 0; slot < 16; ++slot)
        plan(BoxKind::Sub, slot);
    for (const Planned& p : planned)
        scope.refuseToOverwrite(p.path);

    WriteBehind behind;  // outlives the outputs, which wait for it when they close
    Outputs outputs;
    // The scans register each file's streams afresh; the detection's inventory is put back after.
    const StreamInventory selected = engine.disc.StreamIds;
    struct PutBack {
        Engine& engine;
        Outputs& outputs;
        const StreamInventory& selected;
        ~PutBack() {
            outputs.abandonAll();
            engine.disc.StreamIds = selected;
        }
    } putBack{engine, outputs, selected};

    scope.guard([&] {
        scope.openSource("Opening file " + sourceName, "Opening");
        std::optional<DvdPalette> palette;
        OutputFile* vobsubFile = nullptr;
        for (const Planned& p : planned) {
            outputs.files.push_back(std::make_unique<OutputFile>());
            OutputFile* file = outputs.files.back().get();
            scope.createOutput(*file, p.path, &behind);
            host.log("Creating " + p.path);
            const auto slot = static_cast<std::size_t>(p.slot);
            if (p.kind == BoxKind::Sub && p.subFormat != SubFormat::Sup) {
                if (!palette) palette = SourcePalette(engine, sourcePath);
                const auto [width, height] = VideoSize(engine);
                if (p.subFormat == SubFormat::VobSub) {
                    vobsubFile = file;  // its index follows
                    continue;
                }
                outputs.sub[slot] = file;
                outputs.subpictures[slot] = std::make_unique<SubpictureOutput>(
                    SubFormat::Pgs, *file, nullptr, width, height, *palette, host);
                continue;
            }
            if (vobsubFile != nullptr) {  // the index of the .sub before it
                const auto [width, height] = VideoSize(engine);
                outputs.sub[slot] = vobsubFile;
                outputs.subpictures[slot] = std::make_unique<SubpictureOutput>(
                    SubFormat::VobSub, *vobsubFile, file, width, height, *palette, host);
                vobsubFile = nullptr;
                continue;
            }
            if (p.kind == BoxKind::Video) outputs.video[static_cast<std::size_t>(p.slot)] = file;
            if (p.kind == BoxKind::Audio) outputs.audio[static_cast<std::size_t>(p.slot)] = file;
            if (p.wav)
                outputs.wav[static_cast<std::size_t>(p.slot)] =
                    std::make_unique<WavOutput>(*file, *p.wav);
            if (p.kind == BoxKind::Sub) outputs.sub[static_cast<std::size_t>(p.slot)] = file;
        }
        DemuxWriter writer(engine, outputs.video, outputs.audio, outputs.sub, selected);
        for (int slot = 0; slot < 16; ++slot) {
            writer.convertToWav(slot, outputs.wav[static_cast<std::size_t>(slot)].get());
            writer.convertSubpictures(slot,
                                      outputs.subpictures[static_cast<std::size_t>(slot)].get());
        }
        host.slog("Demuxing " + sourceName, 0);
        scope.eachFile("Demuxing ", [&](const std::string& path, bool first) {
            if (!first) writer.nextFile(ExtractFileName(path));
            engine.demux(ScanMode::Demux, &writer);
        });
        for (auto& subpictures : outputs.subpictures) {
            if (subpictures) subpictures->finish();
        }
        outcome.delays = Delays(engine, planned, writer);
        for (const StreamDelay& delay : outcome.delays) {
            host.log(delay.caption);
            host.log("   Delay = " + std::to_string(std::llround(delay.milliseconds)) + " ms");
        }
        outcome.files = scope.closeOutputs();
        for (const Planned& p : planned) {
            if (!p.vobsubIndex) outcome.streams.push_back({p.kind, p.slot, p.path});
        }
    });

    outcome.stoppedEarly = engine.StopFlag != 0;
    outcome.frames = engine.FrameCount;
    EndRun(host);
    for (int slot = 0; slot < 2; ++slot) {
        if (engine.FrameCount[slot] > 0)
            host.log(DemuxFrameCountLine(engine.FrameCount[slot], slot, host.timeSeparator()));
    }
    return outcome;
}

}  // namespace strandis
