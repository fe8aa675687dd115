#include "engine/Detection.h"

#include "engine/PathRules.h"
#include "engine/RunScope.h"
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

DetectionResult RunDetection(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    DetectionResult result;

    engine.FrameCount = {0, 0};
    engine.disc.MinPts = 0xFFFFFFFFu;
    engine.disc.Reports = {};
    RunScope scope(engine, sourcePath);
    const std::string sourceName = ExtractFileName(sourcePath);

    scope.openSource("Opening file [b]" + sourceName + "[/b]", {});
    host.slog("Reading " + sourceName + " ", 0);
    result.firstSize = engine.SourceStream.size();
    // Each file is scanned with a fresh inventory; the boxes offer every stream of any of them,
    // and the subpicture times stay those of the first file's clock.
    StreamInventory found;
    std::uint32_t firstMinPts = 0;
    scope.eachFile("Reading ", [&](const std::string& path, bool first) {
        result.files.push_back(path);
        engine.demux(ScanMode::Check);
        if (first) {
            found = engine.disc.StreamIds;
            firstMinPts = engine.disc.MinPts;
        } else {
            MergeInventory(found, engine.disc.StreamIds, ExtractFileName(path), host);
        }
    });
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
