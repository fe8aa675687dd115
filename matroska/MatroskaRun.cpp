#include "matroska/MatroskaRun.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/RunError.h"
#include "disc/OutputNames.h"
#include "disc/PathRules.h"
#include "engine/DemuxRun.h"
#include "matroska/Chapters.h"

namespace strandis {

namespace {

namespace fs = std::filesystem;

// The front end as the demux into the working folder sees it: the same boxes, captions and
// events, but its outputs in that folder, LPCM as WAV and subpictures as PGS. A stop asked for
// on the front end's engine stops this run's engine.
class MatroskaHost final : public RunHost {
public:
    MatroskaHost(Engine& outer, std::string folder)
        : inner_(outer.host()), outer_(outer), folder_(std::move(folder)) {}
    void attach(Engine& engine) { engine_ = &engine; }

    void log(std::string_view line) override { inner_.log(line); }
    void slog(std::string_view text, int panel) override { inner_.slog(text, panel); }
    void progress(std::int64_t position, std::int64_t size) override {
        inner_.progress(position, size);
    }
    void processPendingEvents() override {
        inner_.processPendingEvents();
        if (outer_.StopFlag != 0 && engine_ != nullptr) engine_->StopFlag = 1;
    }
    void repaint() override { inner_.repaint(); }
    void scanActive(bool active) override { inner_.scanActive(active); }
    bool option(Option which) const override {
        return which == Option::LpcmWav || inner_.option(which);
    }
    SubFormat subFormat() const override { return SubFormat::Pgs; }
    bool ticked(BoxKind kind, int slot) const override { return inner_.ticked(kind, slot); }
    std::string_view sourcePath() const override { return inner_.sourcePath(); }
    std::string caption(BoxKind kind, int slot) const override {
        return inner_.caption(kind, slot);
    }
    std::string outputFolder() const override { return folder_; }
    std::string extension(BoxKind kind) const override { return inner_.extension(kind); }
    char decimalSeparator() const override { return inner_.decimalSeparator(); }
    char timeSeparator() const override { return inner_.timeSeparator(); }

private:
    RunHost& inner_;
    Engine& outer_;
    Engine* engine_ = nullptr;
    std::string folder_;
};

}  // namespace

const playlist::TrackInfo* FindTrack(const playlist::TitleInfo& title, BoxKind kind, int slot) {
    for (const playlist::TrackInfo& track : title.tracks) {
        const bool same = (kind == BoxKind::Video && track.kind == playlist::TrackKind::Video) ||
                          (kind == BoxKind::Audio && track.kind == playlist::TrackKind::Audio) ||
                          (kind == BoxKind::Sub && track.kind == playlist::TrackKind::Subtitle);
        if (same && track.streamNumber == slot + 1) return &track;
    }
    return nullptr;
}

MatroskaOutcome RunMatroska(Engine& engine, const Detected& detected, const std::string& sourcePath,
                            const MatroskaRequest& request) {
    RunHost& host = engine.host();
    MatroskaOutcome outcome;
    engine.StopFlag = 0;  // a new run: the detection's fast check may have left it set
    std::string mkvmerge = request.mkvmerge;
    if (mkvmerge.empty()) {
        const std::optional<std::string> found = FindMkvmerge();
        if (!found) {
            throw RunError(kNoMkvmerge);
        }
        mkvmerge = *found;
    }
    const std::string base = SourceBase(sourcePath);
    const fs::path output =
        request.output.empty()
            ? fs::path(OutputPrefix(host.outputFolder(), sourcePath, detected.outputBase) + ".mkv")
            : fs::path(request.output);
    const fs::path folder = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    std::error_code fsError;
    if (!fs::is_directory(folder, fsError))
        throw RunError("Cannot write \"" + output.string() + "\": its folder does not exist.");
    if (fs::exists(output, fsError))
        throw RunError("\"" + output.string() + "\" exists already; it is not overwritten.");
    std::string work = (folder / (".strandis-" + base + "-XXXXXX")).string();
    if (::mkdtemp(work.data()) == nullptr)
        throw RunError("Cannot create a folder in \"" + folder.string() + "\". " +
                       std::strerror(errno));
    const auto fail = [&](const std::string& message) {
        host.log("The demultiplexed streams stay in " + work);
        throw RunError(message);
    };

    // The streams, into the working folder.
    MatroskaHost demuxHost(engine, work);
    Engine demuxEngine(demuxHost);
    demuxHost.attach(demuxEngine);
    RunOutcome demuxed;
    engine.DemuxActive = 1;  // a stop asks first, as during a demux
    try {
        demuxed = RunDemux(demuxEngine, detected, sourcePath);
    } catch (const RunError& error) {
        engine.DemuxActive = 0;
        fail(error.what());
    }
    engine.DemuxActive = 0;
    if (demuxEngine.StopFlag != 0 || engine.StopFlag != 0)
        fail("Stopped before the end: no Matroska file was made.");

    MkvPlan plan;
    plan.mkvmerge = mkvmerge;
    plan.output = output.string();
    plan.partial = (folder / ("." + output.filename().string() + ".partial")).string();
    plan.title = request.title.name;
    if (!request.title.chapters.empty()) {
        plan.chapters = work + "/chapters.xml";
        std::ofstream chapters(plan.chapters, std::ios::binary);
        chapters << MatroskaChapters(request.title);
        if (!chapters) plan.chapters.clear();
    }
    // The tracks in box order...
    for (const StreamFile& file : demuxed.streams) {
        if (!host.ticked(file.kind, file.slot)) continue;  // unticked during the demux
        const std::string caption = host.caption(file.kind, file.slot);
        if (file.kind == BoxKind::Sub) {
            // Its units went into "SP" records, which mkvmerge does not read, or none of them
            // decoded: an empty track would make mkvmerge fail for all the others.
            std::string why;
            if (!detected.reports.sub[static_cast<std::size_t>(file.slot)].described)
                why = "its units were not seen by the detection";
            else if (fs::file_size(file.path, fsError) == 0 || fsError)
                why = "none of its subpictures could be read";
            if (!why.empty()) {
                host.log(caption + " is left out of the Matroska file: " + why + ".");
                continue;
            }
        }
        const playlist::TrackInfo* track = FindTrack(request.title, file.kind, file.slot);
        MkvTrack t{file.path,
                   file.kind,
                   file.slot,
                   track != nullptr && !track->description.empty() ? track->description : caption,
                   track != nullptr ? track->language : std::string(),
                   track != nullptr && track->forced,
                   0};
        for (const StreamDelay& delay : demuxed.delays) {
            if (delay.path == file.path) t.delayMs = delay.milliseconds;
        }
        plan.tracks.push_back(t);
    }
    // ... then put in the playlist's order, the others behind.
    std::size_t placed = 0;
    for (const playlist::TrackInfo& info : request.title.tracks) {
        for (std::size_t k = placed; k < plan.tracks.size(); ++k) {
            if (FindTrack(request.title, plan.tracks[k].kind, plan.tracks[k].slot) != &info)
                continue;
            std::rotate(plan.tracks.begin() + static_cast<std::ptrdiff_t>(placed),
                        plan.tracks.begin() + static_cast<std::ptrdiff_t>(k),
                        plan.tracks.begin() + static_cast<std::ptrdiff_t>(k) + 1);
            ++placed;
            break;
        }
    }
    if (plan.tracks.empty()) fail("Nothing to put into a Matroska file: no stream was written.");

    outcome.command = MkvmergeArguments(plan);
    host.log("mkvmerge: " + ShellLine(outcome.command));
    const MkvResult muxed = RunMkvmerge(plan, host, [&engine] { return engine.StopFlag != 0; });
    for (const std::string& line : muxed.messages)
        host.log("mkvmerge: " + line);
    outcome.mkvmergeExitCode = muxed.exitCode;
    if (muxed.interrupted || muxed.exitCode >= 2 || muxed.exitCode < 0) {
        fs::remove(plan.partial, fsError);
        if (muxed.interrupted) fail("Stopped before the end: no Matroska file was made.");
        std::string message = "mkvmerge failed";
        for (const std::string& line : muxed.messages) {
            if (line.rfind("Error:", 0) == 0) message += ": " + line.substr(7);
        }
        fail(message.ends_with('.') ? message : message + ".");
    }
    fs::rename(plan.partial, plan.output, fsError);
    if (fsError) {
        fail("Cannot rename \"" + plan.partial + "\" to \"" + plan.output + "\". " +
             fsError.message());
    }
    if (muxed.exitCode == 1) host.log("mkvmerge finished with warnings (above).");
    fs::remove_all(work, fsError);
    host.log("Written " + plan.output);
    outcome.output = plan.output;
    outcome.tracks = plan.tracks;
    return outcome;
}

}  // namespace strandis
