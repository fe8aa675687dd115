#include "engine/DemuxRun.h"

#include <memory>

#include "engine/Detection.h"
#include "engine/OutputNames.h"
#include "engine/PacketKind.h"
#include "engine/PathRules.h"
#include "engine/RunError.h"
#include "engine/TextFormat.h"

namespace strandis {

namespace {

constexpr std::uint32_t kNoFirstPts = 0xFFFFFFFFu;

void PutLittleEndian(std::uint8_t* to, std::uint32_t value) {
    for (int k = 0; k < 4; ++k)
        to[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// The outputs of one run, in box order, with the box each belongs to.
struct Outputs {
    std::vector<std::unique_ptr<OutputFile>> files;
    std::array<OutputFile*, 2> video{};
    std::array<OutputFile*, 16> audio{};
    std::array<OutputFile*, 16> sub{};

    // Closes every file still open, without writing what is buffered.
    void abandonAll() noexcept {
        for (auto& file : files)
            file->abandon();
    }
};

}  // namespace

DemuxWriter::DemuxWriter(Engine& engine, std::array<OutputFile*, 2> video,
                         std::array<OutputFile*, 16> audio, std::array<OutputFile*, 16> sub)
    : engine_(engine), video_(video), audio_(audio), sub_(sub) {}

void DemuxWriter::chunk(const PayloadChunk& c, std::uint32_t& ptsReg) {
    RunHost& host = engine_.host();
    switch (c.kind) {
        case PacketKind::Video:
            if (c.slot >= 0 && c.slot < 2 && video_[c.slot] != nullptr &&
                host.ticked(BoxKind::Video, c.slot)) {
                video_[c.slot]->write(c.data, c.length);
            }
            break;
        case PacketKind::Audio:
            // Two sub-streams can share a slot (Dolby Digital 0x80 and DTS 0x88): only the one
            // registered in the slot goes to its file.
            if (c.slot >= 0 && c.slot < 16 && audio_[c.slot] != nullptr &&
                c.streamId == engine_.StreamIds.audio(c.slot) &&
                host.ticked(BoxKind::Audio, c.slot)) {
                audio_[c.slot]->write(c.data, c.length);
            }
            break;
        case PacketKind::Subpicture: {
            if (c.slot < 0 || c.slot >= 16 || sub_[c.slot] == nullptr ||
                !host.ticked(BoxKind::Sub, c.slot))
                break;
            // A record holds one whole subpicture unit: its header goes before the first chunk of
            // a packet whose own PES header carried the time stamp.
            if (c.ownPts) {
                const std::uint32_t pts =
                    engine_.MinPts == kNoFirstPts ? ptsReg : ptsReg - engine_.MinPts;
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

std::string DemuxFrameCountLine(std::int32_t count, int slot, char timeSeparator) {
    return std::to_string(count) + " frames (" + FormatHms(count / 23.976, timeSeparator) +
           " s) count in video stream " + std::to_string(slot) + ".";
}

RunOutcome RunDemux(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    RunOutcome outcome;
    engine.FrameCount = {0, 0};

    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string second = TakeOutputBase(engine, sourcePath);
    const std::string prefix = OutputPrefix(host.outputFolder(), sourcePath, engine.OutputBase);

    // The boxes ticked now decide which files exist for the whole run.
    struct Planned {
        BoxKind kind;
        int slot;
        std::string path;
    };
    std::vector<Planned> planned;
    const auto plan = [&](BoxKind kind, int slot) {
        if (!host.ticked(kind, slot)) return;
        planned.push_back(
            {kind, slot,
             prefix + "." + FileNamePart(host.caption(kind, slot)) + "." + host.extension(kind)});
    };
    for (int slot = 0; slot < 2; ++slot)
        plan(BoxKind::Video, slot);
    for (int slot = 0; slot < 16; ++slot)
        plan(BoxKind::Audio, slot);
    for (int slot = 0; slot < 16; ++slot)
        plan(BoxKind::Sub, slot);
    for (const Planned& p : planned) {
        for (const std::string& input : {sourcePath, second}) {
            if (!input.empty() && SameFile(input, p.path)) {
                throw RunError("Cannot create file \"" + p.path +
                               "\". It is the source file, which is never overwritten.");
            }
        }
    }

    WriteBehind behind;  // outlives the outputs, which wait for it when they close
    Outputs outputs;
    struct CloseAll {
        Engine& engine;
        Outputs& outputs;
        ~CloseAll() {
            engine.SourceStream.close();
            outputs.abandonAll();
        }
    } closeAll{engine, outputs};

    try {
        host.log("Opening file " + sourceName);
        host.slog("Opening", 0);
        engine.SourceStream.open(sourcePath);
        host.log("File size: " + std::to_string(engine.SourceStream.size() / 1048576) + " Mbytes.");
        for (const Planned& p : planned) {
            outputs.files.push_back(std::make_unique<OutputFile>());
            OutputFile* file = outputs.files.back().get();
            file->create(p.path, &behind);
            if (p.kind == BoxKind::Video) outputs.video[static_cast<std::size_t>(p.slot)] = file;
            if (p.kind == BoxKind::Audio) outputs.audio[static_cast<std::size_t>(p.slot)] = file;
            if (p.kind == BoxKind::Sub) outputs.sub[static_cast<std::size_t>(p.slot)] = file;
            host.log("Creating " + p.path);
        }

        DemuxWriter writer(engine, outputs.video, outputs.audio, outputs.sub);
        host.slog("Demuxing " + sourceName, 0);
        engine.demux(ScanMode::Demux, &writer);
        if (host.option(Option::Continue) && engine.StopFlag == 0 && !second.empty()) {
            ContinueOn(engine, second, "Demuxing ");
            engine.demux(ScanMode::Demux, &writer);
        }
        engine.SourceStream.close();
        for (auto& file : outputs.files) {
            file->close();
            outcome.files.push_back({file->path(), file->size()});
        }
    } catch (const RunError&) {
        // The files closed before the failure are whole; the others are not.
        for (std::size_t k = outcome.files.size(); k < outputs.files.size(); ++k) {
            host.log("Incomplete: " + outputs.files[k]->path());
        }
        throw;
    }

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
