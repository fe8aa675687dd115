#include "engine/Detection.h"

#include "engine/PathRules.h"
#include "engine/StreamCaption.h"
#include "engine/StreamIdTable.h"
#include "engine/TextFormat.h"

namespace strandis {

void StreamBoxes::reset() {
    for (StreamBox& box : video)
        box = {false, false, "No video stream"};
    for (StreamBox& box : audio)
        box = {false, false, "No audio stream"};
    for (StreamBox& box : sub)
        box = {false, false, "No subpicture"};
}

std::string FrameCountLine(std::int64_t count, int slot, char timeSeparator) {
    const double seconds = static_cast<double>(count) * 1001.0 / 24000.0;
    return std::to_string(count) + " frames ([b]" + FormatHms(seconds, timeSeparator) +
           " s[/b]) count in video stream " + std::to_string(slot) + ".";
}

std::vector<std::string> TakeOutputBase(Engine& engine, const std::string& sourcePath) {
    engine.disc.OutputBase = CutExt(ExtractFileName(sourcePath));
    if (!engine.host().option(Option::Continue)) return {};
    std::vector<std::string> following = FollowingFiles(sourcePath);
    if (!following.empty())
        engine.disc.OutputBase += "_" + CutExt(ExtractFileName(following.back()));
    return following;
}

void MergeInventory(StreamInventory& into, const StreamInventory& from, const std::string& fileName,
                    RunHost& host) {
    const auto merge = [&](StreamKind kind, std::int32_t& held, std::int32_t found, bool* plainHeld,
                           bool plainFound) {
        if (found < 0 || held == found) return;
        if (held < 0) {
            held = found;
            if (plainHeld != nullptr) *plainHeld = plainFound;
            return;
        }
        if (const IdRange* range = FindInventoryRange(kind, found))
            host.log(NotListedLine(*range, found, held, fileName));
    };
    for (int slot = 0; slot < StreamInventory::kVideoSlots; ++slot)
        merge(StreamKind::Video, into.video(slot), from.video(slot), nullptr, false);
    for (int slot = 0; slot < StreamInventory::kAudioSlots; ++slot) {
        const auto k = static_cast<std::size_t>(slot);
        merge(StreamKind::Audio, into.audio(slot), from.audio(slot), &into.plainAc3[k],
              from.plainAc3[k]);
    }
    for (int slot = 0; slot < StreamInventory::kSubSlots; ++slot)
        merge(StreamKind::Sub, into.sub(slot), from.sub(slot), nullptr, false);
}

void ContinueOn(Engine& engine, const std::string& second, const std::string& activity) {
    engine.SourceStream.close();
    engine.SourceStream.open(second);
    const std::string name = ExtractFileName(second);
    engine.host().log("Continue on " + name);
    engine.host().slog(activity + name, 0);
}

void EndRun(RunHost& host) {
    host.log("Done.");
    host.log("");
    host.slog("Ready", 0);
    host.slog("", 1);
}

namespace {

void OpenSource(Engine& engine, const std::string& path, const std::string& status) {
    engine.SourceStream.open(path);
    engine.host().slog(status, 0);
}

}  // namespace

DetectionResult RunDetection(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    DetectionResult result;

    engine.FrameCount = {0, 0};
    engine.disc.MinPts = 0xFFFFFFFFu;
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::vector<std::string> following = TakeOutputBase(engine, sourcePath);

    struct CloseSource {
        InputFile& file;
        ~CloseSource() { file.close(); }
    } closeSource{engine.SourceStream};

    host.log("Opening file [b]" + sourceName + "[/b]");
    OpenSource(engine, sourcePath, "Reading " + sourceName + " ");
    result.files.push_back(sourcePath);
    result.firstSize = engine.SourceStream.size();
    host.log("File size: " + std::to_string(result.firstSize / 1048576) + " Mbytes.");
    engine.demux(ScanMode::Check);

    // Each file is scanned with a fresh inventory; the boxes offer every stream of any of them,
    // and the subpicture times stay those of the first file's clock.
    StreamInventory found = engine.disc.StreamIds;
    const std::uint32_t firstMinPts = engine.disc.MinPts;
    for (const std::string& next : following) {
        if (!host.option(Option::Continue) || engine.StopFlag != 0) break;
        ContinueOn(engine, next, "Reading ");
        result.files.push_back(next);
        engine.demux(ScanMode::Check);
        MergeInventory(found, engine.disc.StreamIds, ExtractFileName(next), host);
    }
    engine.disc.StreamIds = found;
    if (firstMinPts != 0xFFFFFFFFu) engine.disc.MinPts = firstMinPts;
    engine.SourceStream.close();
    result.stoppedEarly = engine.StopFlag != 0;

    const StreamInventory& ids = engine.disc.StreamIds;
    for (int slot = 0; slot < 2; ++slot) {
        if (ids.video(slot) > -1)
            result.boxes.video[slot] = {true, true,
                                        VideoCaption(ids.video(slot)) + VideoSuffix(slot)};
    }
    for (int slot = 0; slot < 16; ++slot) {
        if (ids.audio(slot) > -1)
            result.boxes.audio[slot] = {
                true, true,
                AudioCaption(ids.audio(slot), ids.plainAc3[static_cast<std::size_t>(slot)]) +
                    TwoDigitSuffix(slot)};
        if (ids.sub(slot) > -1)
            result.boxes.sub[slot] = {true, true, SubCaption(ids.sub(slot)) + TwoDigitSuffix(slot)};
    }

    EndRun(host);

    result.frames = engine.FrameCount;
    for (int slot = 0; slot < 2; ++slot) {
        if (engine.FrameCount[slot] > 0)
            host.log(FrameCountLine(engine.FrameCount[slot], slot, host.timeSeparator()));
    }
    if (engine.FrameCount[0] + engine.FrameCount[1] > 0) host.log("");
    return result;
}

}  // namespace strandis
