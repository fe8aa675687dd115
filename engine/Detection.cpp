#include "engine/Detection.h"

#include "engine/PathRules.h"
#include "engine/StreamCaption.h"
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

std::string FrameCountLine(std::int32_t count, int slot, char timeSeparator) {
    const double seconds = static_cast<double>(count) * 1001.0 / 24000.0;
    return std::to_string(count) + " frames ([b]" + FormatHms(seconds, timeSeparator) +
           " s[/b]) count in video stream " + std::to_string(slot) + ".";
}

std::string TakeOutputBase(Engine& engine, const std::string& sourcePath) {
    engine.OutputBase = CutExt(ExtractFileName(sourcePath));
    if (!engine.host().option(Option::Continue)) return {};
    std::string second = getsecond(sourcePath);
    if (!second.empty()) engine.OutputBase += "_" + CutExt(ExtractFileName(second));
    return second;
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
    engine.MinPts = 0xFFFFFFFFu;
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string second = TakeOutputBase(engine, sourcePath);
    const bool continuing = !second.empty();

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

    if (host.option(Option::Continue) && engine.StopFlag == 0 && continuing) {
        ContinueOn(engine, second, "Reading ");
        result.files.push_back(second);
        engine.demux(ScanMode::Check);
    }
    engine.SourceStream.close();
    result.stoppedEarly = engine.StopFlag != 0;

    const StreamInventory& ids = engine.StreamIds;
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
    if (static_cast<std::int64_t>(engine.FrameCount[0]) + engine.FrameCount[1] > 0) host.log("");
    return result;
}

}  // namespace strandis
