#include "engine/Detection.h"

#include "common/TextFormat.h"
#include "disc/PathRules.h"
#include "disc/StreamCaption.h"
#include "engine/Describer.h"
#include "engine/RunScope.h"
#include "ps/StreamIdTable.h"

namespace strandis {

void StreamBoxes::reset() {
    for (StreamBox& box : video)
        box = {false, false, kNoVideoStream};
    for (StreamBox& box : audio)
        box = {false, false, kNoAudioStream};
    for (StreamBox& box : sub)
        box = {false, false, kNoSubpicture};
}

const StreamBox& StreamBoxes::at(BoxKind kind, int slot) const {
    const auto k = static_cast<std::size_t>(slot);
    return kind == BoxKind::Video ? video[k] : kind == BoxKind::Audio ? audio[k] : sub[k];
}

bool StreamBoxes::any() const {
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio, BoxKind::Sub}) {
        for (int slot = 0; slot < BoxCount(kind); ++slot) {
            if (at(kind, slot).enabled) return true;
        }
    }
    return false;
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

Detected RunDetection(Engine& engine, const std::string& sourcePath) {
    RunHost& host = engine.host();
    host.beginStep("detect");
    Detected found;
    found.source = sourcePath;

    RunScope scope(engine, sourcePath);
    found.outputBase = scope.outputBase();
    const std::string sourceName = ExtractFileName(sourcePath);

    scope.openSource("Opening file [b]" + sourceName + "[/b]", {});
    host.slog("Reading " + sourceName + " ", 0);
    found.firstSize = engine.SourceStream.size();
    // Each file is scanned with a fresh inventory; the boxes offer every stream of any of them,
    // and the subpicture times stay those of the first file's clock.
    std::uint32_t timeBase = 0xFFFFFFFFu;  // lowered by each file's first time stamps
    std::uint32_t firstTimeBase = timeBase;
    scope.eachFile("Reading ", [&](const std::string& path, bool first) {
        found.files.push_back(path);
        Describer describer(host, found.reports, timeBase);
        const ScanPass pass = engine.demux(describer);
        if (first) {
            found.inventory = pass.registered;
            firstTimeBase = timeBase;
        } else {
            MergeInventory(found.inventory, pass.registered, ExtractFileName(path), host);
        }
        AddFrames(found.frames, pass.frames, engine.StopFlag != 0);
    });
    if (firstTimeBase != 0xFFFFFFFFu) timeBase = firstTimeBase;
    if (timeBase != 0xFFFFFFFFu) found.subpictureBase = timeBase;
    engine.SourceStream.close();
    found.stoppedEarly = engine.StopFlag != 0;

    const StreamInventory& ids = found.inventory;
    for (int slot = 0; slot < BoxCount(BoxKind::Video); ++slot) {
        if (ids.video(slot) > -1)
            found.boxes.video[slot] = {true, true,
                                       VideoCaption(ids.video(slot)) + VideoSuffix(slot)};
    }
    for (int slot = 0; slot < BoxCount(BoxKind::Audio); ++slot) {
        if (ids.audio(slot) > -1)
            found.boxes.audio[slot] = {
                true, true,
                AudioCaption(ids.audio(slot), ids.plainAc3[static_cast<std::size_t>(slot)]) +
                    TwoDigitSuffix(slot)};
    }
    for (int slot = 0; slot < BoxCount(BoxKind::Sub); ++slot) {
        if (ids.sub(slot) > -1)
            found.boxes.sub[slot] = {true, true, SubCaption(ids.sub(slot)) + TwoDigitSuffix(slot)};
    }

    EndRun(host);

    for (int slot = 0; slot < 2; ++slot) {
        if (found.frames[slot] > 0)
            host.log(FrameCountLine(found.frames[slot], slot, host.timeSeparator()));
    }
    if (found.frames[0] + found.frames[1] > 0) host.log("");
    return found;
}

}  // namespace strandis
