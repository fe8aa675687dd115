#include "engine/DemuxRun.h"

#include "disc/IfoPalette.h"
#include "outputs/Subpictures.h"
#include "outputs/WavOutput.h"

#include <cmath>
#include <memory>
#include <optional>

#include "common/RunError.h"
#include "common/TextFormat.h"
#include "disc/OutputNames.h"
#include "disc/PathRules.h"
#include "engine/RunScope.h"
#include "ps/PacketKind.h"
#include "ps/StreamIdTable.h"

namespace strandis {

namespace {

// The log lines of a converter go to the run's log.
class HostLog final : public analysers::LogSink {
public:
    explicit HostLog(RunHost& host) : host_(host) {}
    void log(std::string_view line) override { host_.log(line); }

private:
    RunHost& host_;
};

// The files and converters of one run. The converters come after the files: they write to
// them, and are gone before them.
struct Outputs {
    std::vector<std::unique_ptr<OutputFile>> files;
    std::vector<std::unique_ptr<StreamOutput>> streams;
    std::array<StreamOutput*, kBoxTotal> byBox{};

    // Closes every file still open, without writing what is buffered; the converters go
    // first, so that no thread of theirs writes on.
    void abandonAll() noexcept {
        streams.clear();
        for (auto& file : files)
            file->abandon();
    }
};

// The WAV format of the LPCM stream in an audio slot, from what the detection read of it;
// nothing for another codec, and a log line for LPCM that cannot be written as WAV.
std::optional<WavOutput::Format> WavFormat(RunHost& host, const Detected& detected, int slot) {
    const bool aob = IsAobPath(host.sourcePath());
    if (ResolvedCodec(detected.inventory, StreamKind::Audio, slot, aob) != Codec::Lpcm) return {};
    const StreamReport& report = detected.reports.audio[static_cast<std::size_t>(slot)];
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
    host.log("LPCM stream " + std::to_string(slot) + " is written as it is: " + why + ".");
    return {};
}

// What a subpicture slot's file is written as: what was asked, but VobSub only for DVD units
// (HD DVD units, whose 256 colours VobSub cannot hold, become PGS) and nothing but "SP" records
// for a stream whose units the detection did not see. The log says why when it differs.
SubFormat SubpictureFormat(RunHost& host, const Detected& detected, int slot) {
    const SubFormat asked = host.subFormat();
    if (asked == SubFormat::Sup) return asked;
    const StreamReport& report = detected.reports.sub[static_cast<std::size_t>(slot)];
    if (!report.described) {
        host.log("Subpicture stream " + std::to_string(slot) +
                 " is written as .sup records: its units were not seen by the detection.");
        return SubFormat::Sup;
    }
    if (asked == SubFormat::VobSub && report.info.subpictureBits == 8) {
        host.log("Subpicture stream " + std::to_string(slot) +
                 " is written as PGS: its HD DVD units have more colours than VobSub holds.");
        return SubFormat::Pgs;
    }
    return asked;
}

// The picture size the captions are placed on: the first video stream's, or else the screen
// the units are made for (HD DVD units: 1920x1080; DVD units: 720x480).
std::pair<int, int> VideoSize(const Detected& detected, int slot) {
    const analysers::StreamInfo& video = detected.reports.video[0].info;
    if (video.width > 0 && video.height > 0) return {video.width, video.height};
    if (detected.reports.sub[static_cast<std::size_t>(slot)].info.subpictureBits == 8)
        return {1920, 1080};
    return {720, 480};
}

// The colours of the title set the source belongs to (VTS_01_1.VOB: VTS_01_0.IFO beside it),
// or the default palette, and the log says which, and why when an IFO is there but not usable.
DvdPalette SourcePalette(RunHost& host, const std::string& sourcePath) {
    const std::string name = ExtractFileName(sourcePath);
    std::string ifo;
    if (name.size() == 12 && (name.compare(0, 4, "VTS_") == 0 || name.compare(0, 4, "vts_") == 0)) {
        ifo = ExtractFilePath(sourcePath) + name.substr(0, 7) + "0" +
              (name[9] == 'v' ? ".ifo" : ".IFO");
        const IfoPalette read = ReadIfoPalette(ifo);
        if (read.palette) {
            host.log("Subpicture colours from " + ExtractFileName(ifo));
            return *read.palette;
        }
        if (!read.missing) {
            host.log("Subpicture colours: the default DVD palette (\"" + ifo +
                     "\" cannot be used: " + read.why + ")");
            return analysers::DefaultDvdPalette();
        }
    }
    host.log("Subpicture colours: the default DVD palette (no title set IFO file " +
             std::string(ifo.empty() ? "for this source" : "\"" + ifo + "\"") + ")");
    return analysers::DefaultDvdPalette();
}

}  // namespace

std::string DemuxFrameCountLine(std::int64_t count, int slot, char timeSeparator) {
    return std::to_string(count) + " frames (" + FormatHms(count / 23.976, timeSeparator) +
           " s) count in video stream " + std::to_string(slot) + ".";
}

namespace {

// Each written stream's start against the earliest start among them: video and audio from the
// first time stamp written to their files, subpictures from the time base their captions count
// from.
template <typename Planned>
std::vector<StreamDelay> Delays(RunHost& host, const Detected& detected,
                                const std::vector<Planned>& planned, const DemuxWriter& writer) {
    const bool aob = IsAobPath(host.sourcePath());
    std::vector<std::pair<const Planned*, std::uint64_t>> starts;
    for (const Planned& p : planned) {
        std::optional<std::uint64_t> first;
        if (p.kind != BoxKind::Sub) first = writer.firstPts(p.kind, p.slot);
        if (p.kind == BoxKind::Audio &&
            ResolvedCodec(detected.inventory, StreamKind::Audio, p.slot, aob) == Codec::Lpcm) {
            // LPCM written before the first time stamp starts the file that much earlier.
            const analysers::StreamInfo& info =
                detected.reports.audio[static_cast<std::size_t>(p.slot)].info;
            const std::int64_t bytesPerSecond =
                std::int64_t{info.sampleRate} * info.channels * info.bitsPerSample / 8;
            const std::int64_t before = writer.audioBytesBefore(p.slot);
            if (first && bytesPerSecond > 0 && before > 0) {
                const auto ticks = static_cast<std::uint64_t>(before * 90000 / bytesPerSecond);
                first = *first > ticks ? *first - ticks : 0;
            }
        }
        if (p.kind == BoxKind::Sub && !p.vobsubIndex && detected.subpictureBase)
            first = *detected.subpictureBase;
        if (first) starts.emplace_back(&p, *first);
    }
    std::vector<StreamDelay> delays;
    if (starts.empty()) return delays;
    std::uint64_t zero = starts.front().second;
    for (const auto& [p, start] : starts)
        zero = std::min(zero, start);
    for (const auto& [p, start] : starts) {
        delays.push_back(
            {p->path, host.caption(p->kind, p->slot), static_cast<double>(start - zero) / 90.0});
    }
    return delays;
}

}  // namespace

RunOutcome RunDemux(Engine& engine, const Detected& detected, const std::string& sourcePath,
                    bool forMuxer) {
    RunHost& host = engine.host();
    host.beginStep("demux");
    RefuseEncrypted(detected);
    RunOutcome outcome;

    RunScope scope(engine, sourcePath, detected.title ? &*detected.title : nullptr);
    outcome.outputBase = scope.outputBase();
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string prefix = OutputPrefix(host.outputFolder(), sourcePath, scope.outputBase());

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
        if (kind == BoxKind::Audio && host.option(Option::LpcmWav))
            wav = WavFormat(host, detected, slot);
        const SubFormat subFormat =
            kind == BoxKind::Sub ? SubpictureFormat(host, detected, slot) : SubFormat::Sup;
        // The user's extension, or with none or "auto" the codec's usual one.
        std::string own = host.extension(kind);
        if (own.empty() || own == "auto") {
            const auto codec = ResolvedCodec(detected.inventory,
                                             kind == BoxKind::Video   ? StreamKind::Video
                                             : kind == BoxKind::Audio ? StreamKind::Audio
                                                                      : StreamKind::Sub,
                                             slot, IsAobPath(sourcePath));
            own = codec ? UsualExtension(*codec) : std::string("bin");
        }
        const std::string extension = wav                              ? std::string("wav")
                                      : subFormat == SubFormat::VobSub ? std::string("sub")
                                      : subFormat == SubFormat::Pgs    ? std::string("sup")
                                                                       : own;
        const std::string base = prefix + "." + FileNamePart(host.caption(kind, slot)) + ".";
        planned.push_back({kind, slot, base + extension, wav, subFormat});
        // The VobSub index comes right behind its .sub.
        if (subFormat == SubFormat::VobSub)
            planned.push_back({kind, slot, base + "idx", std::nullopt, SubFormat::Sup, true});
    };
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio, BoxKind::Sub}) {
        for (int slot = 0; slot < BoxCount(kind); ++slot)
            plan(kind, slot);
    }
    for (const Planned& p : planned)
        scope.refuseToOverwrite(p.path);

    WriteBehind behind;  // outlives the outputs, which wait for it when they close
    const Lending lending(engine.SourceStream, behind, kBlockSize);
    HostLog converterLog(host);
    Outputs outputs;
    struct Abandon {
        Outputs& outputs;
        ~Abandon() { outputs.abandonAll(); }
    } abandon{outputs};
    FrameCounts frames{};
    std::vector<std::pair<ForcedCaptions, SubpictureOutput*>> forced;

    scope.guard([&] {
        scope.openSource("Opening file " + sourceName, "Opening");
        std::optional<DvdPalette> palette;
        for (std::size_t k = 0; k < planned.size(); ++k) {
            const Planned& p = planned[k];
            if (p.vobsubIndex) continue;  // created with its .sub
            const auto create = [&](const std::string& path) {
                outputs.files.push_back(std::make_unique<OutputFile>());
                OutputFile* file = outputs.files.back().get();
                scope.createOutput(*file, path, &behind);
                host.log("Creating " + path);
                return file;
            };
            OutputFile* file = create(p.path);
            std::unique_ptr<StreamOutput> stream;
            if (p.kind == BoxKind::Sub && p.subFormat != SubFormat::Sup) {
                // HD DVD units carry their own colours; DVD units take the title set's.
                const bool hdDvd =
                    detected.reports.sub[static_cast<std::size_t>(p.slot)].info.subpictureBits == 8;
                if (!palette && !hdDvd && detected.title && detected.title->palette) {
                    palette = detected.title->palette;
                    host.log("Subpicture colours from the program chain of " +
                             detected.title->name);
                }
                if (!palette && !hdDvd) palette = SourcePalette(host, sourcePath);
                const auto [width, height] = VideoSize(detected, p.slot);
                OutputFile* idx =
                    p.subFormat == SubFormat::VobSub ? create(planned[k + 1].path) : nullptr;
                auto subpictures = std::make_unique<SubpictureOutput>(
                    *file, idx, width, height, palette.value_or(analysers::DefaultDvdPalette()),
                    converterLog);
                // For a muxer, the forced captions once more on their own: a stream that mixes
                // them with others gets a forced track of them.
                if (forMuxer && p.subFormat == SubFormat::Pgs) {
                    const std::string alone = p.path.substr(0, p.path.size() - 4) + ".forced.sup";
                    scope.refuseToOverwrite(alone);
                    subpictures->alsoForced(*create(alone));
                    forced.push_back({{p.slot, alone}, subpictures.get()});
                }
                stream = std::move(subpictures);
            } else if (p.wav) {
                stream = std::make_unique<WavOutput>(*file, *p.wav);
            } else if (p.kind == BoxKind::Sub) {
                stream = std::make_unique<SupRecordOutput>(*file);
            } else {
                stream = std::make_unique<RawOutput>(*file);
            }
            outputs.byBox[BoxIndex(p.kind, p.slot)] = stream.get();
            outputs.streams.push_back(std::move(stream));
        }
        DemuxWriter writer(host, detected, outputs.byBox);
        if (forMuxer) writer.startAtWholeUnits();
        host.slog("Demuxing " + sourceName, 0);
        scope.eachFile("Demuxing ", [&](const std::string& path, bool first) {
            if (!first) writer.nextFile(ExtractFileName(path));
            const ScanPass pass = engine.demux(&writer);
            AddFrames(frames, pass.frames, engine.StopFlag != 0);
            // Past where a fast check stopped: named, and left out as the detection would.
            if (pass.scrambled > 0) host.log(EncryptedLine(pass.scrambled));
        });
        writer.flush();
        for (auto& stream : outputs.streams)
            stream->finish();
        for (auto& [counts, output] : forced) {
            counts.forced = output->forcedCaptions();
            counts.captions = output->captions();
            outcome.forced.push_back(counts);
        }
        outcome.delays = Delays(host, detected, planned, writer);
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
    outcome.frames = frames;
    EndRun(host);
    for (int slot = 0; slot < 2; ++slot) {
        if (frames[slot] > 0)
            host.log(DemuxFrameCountLine(frames[slot], slot, host.timeSeparator()));
    }
    return outcome;
}

}  // namespace strandis
