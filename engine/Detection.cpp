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
    const auto merge = [&](StreamKind kind, BoxKind boxes, int slots, auto entry) {
        for (int slot = 0; slot < slots; ++slot) {
            const std::int32_t found = entry(from, slot);
            if (found < 0) continue;
            bool listed = false;
            for (int k = 0; k < slots && !listed; ++k)
                listed = entry(into, k) == found;
            if (listed) continue;  // the first file has it, in whichever slot
            const auto take = [&](int to) {
                entry(into, to) = found;
                if (kind == StreamKind::Audio)
                    into.plainAc3[static_cast<std::size_t>(to)] =
                        from.plainAc3[static_cast<std::size_t>(slot)];
            };
            if (entry(into, slot) < 0) {
                take(slot);
                continue;
            }
            // Its slot holds another stream: the last free one with a box, as in a scan.
            const IdRange* range = FindInventoryRange(kind, found);
            int free = -1;
            for (int k = BoxCount(boxes) - 1; k >= 0 && free < 0; --k)
                free = entry(into, k) < 0 ? k : -1;
            if (free >= 0) {
                take(free);
                if (range != nullptr)
                    host.log(MovedLine(*range, found, free, entry(into, slot), fileName));
            } else if (range != nullptr) {
                host.log(NotListedLine(*range, found, entry(into, slot), fileName));
            }
        }
    };
    merge(
        StreamKind::Video, BoxKind::Video, StreamInventory::kVideoSlots,
        [](auto& inventory, int slot) -> auto& { return inventory.ids[slot]; });
    merge(
        StreamKind::Audio, BoxKind::Audio, StreamInventory::kAudioSlots,
        [](auto& inventory, int slot) -> auto& {
            return inventory.ids[StreamInventory::kAudioBase + slot];
        });
    merge(
        StreamKind::Sub, BoxKind::Sub, StreamInventory::kSubSlots,
        [](auto& inventory, int slot) -> auto& {
            return inventory.ids[StreamInventory::kSubBase + slot];
        });
}

Detected RunDetection(Engine& engine, const std::string& sourcePath, const SourceTitle* title) {
    RunHost& host = engine.host();
    host.beginStep("detect");
    Detected found;
    found.source = sourcePath;

    RunScope scope(engine, sourcePath, title);
    if (title != nullptr) found.title = *title;
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
        found.scrambled += pass.scrambled;
    });
    if (found.scrambled > 0) host.log(EncryptedLine(found.scrambled));
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
