#include "matroska/MatroskaRun.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/RunError.h"
#include "common/TextFormat.h"
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
    void beginStep(std::string_view step) override { inner_.beginStep(step); }
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

std::string MatroskaOutputPath(const RunHost& host, const Detected& detected,
                               const std::string& sourcePath, const MatroskaRequest& request) {
    std::error_code ignored;
    return fs::absolute(
               request.output.empty()
                   ? fs::path(OutputPrefix(host.outputFolder(), sourcePath, detected.outputBase) +
                              ".mkv")
                   : fs::path(request.output),
               ignored)
        .string();
}

const playlist::TrackInfo* FindTrack(const playlist::TitleInfo& title, BoxKind kind, int slot) {
    for (const playlist::TrackInfo& track : title.tracks) {
        const bool same = (kind == BoxKind::Video && track.kind == playlist::TrackKind::Video) ||
                          (kind == BoxKind::Audio && track.kind == playlist::TrackKind::Audio) ||
                          (kind == BoxKind::Sub && track.kind == playlist::TrackKind::Subtitle);
        if (same && track.streamNumber == slot + 1) return &track;
    }
    return nullptr;
}

namespace {

// The working folder of one Matroska run: removed whichever way the run ends, unless the user
// asked to keep it, when the log says where it is.
class WorkFolder {
public:
    WorkFolder(RunHost& host, const fs::path& folder, const std::string& base, bool keep)
        : host_(host), keep_(keep) {
        path_ = (folder / (".strandis-" + base + "-XXXXXX")).string();
        if (::mkdtemp(path_.data()) == nullptr) {
            const std::string why = std::strerror(errno);
            path_.clear();
            throw RunError("Cannot create a folder in \"" + folder.string() + "\". " + why);
        }
    }
    ~WorkFolder() {
        if (path_.empty()) return;
        if (keep_) {
            host_.log("The demultiplexed streams stay in " + path_);
            return;
        }
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    RunHost& host_;
    bool keep_;
    std::string path_;
};

// The partial file mkvmerge writes: made afresh, exclusively and not through a link, so that
// nothing planted under its name is written to; removed unless it became the output.
class PartialFile {
public:
    explicit PartialFile(std::string path) : path_(std::move(path)) {
        ::unlink(path_.c_str());  // an old one, or a link put there: the link, not its target
        const int fd =
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) throw RunError("Cannot create file \"" + path_ + "\". " + std::strerror(errno));
        ::close(fd);
    }
    ~PartialFile() {
        if (!kept_) ::unlink(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    const std::string& path() const { return path_; }
    void keep() { kept_ = true; }

private:
    std::string path_;
    bool kept_ = false;
};

// A track's name when no playlist names it: its codec and, for audio, its channels ("TrueHD 5.1",
// "LPCM 2.0"); the box's caption would only repeat the file's name.
std::string PlainTrackName(const Detected& detected, BoxKind kind, int slot, bool aob) {
    const StreamKind streamKind = kind == BoxKind::Video   ? StreamKind::Video
                                  : kind == BoxKind::Audio ? StreamKind::Audio
                                                           : StreamKind::Sub;
    const std::optional<Codec> codec = ResolvedCodec(detected.inventory, streamKind, slot, aob);
    if (!codec) return {};
    static constexpr std::pair<Codec, const char*> kNames[] = {{Codec::Mpeg2, "MPEG-2"},
                                                               {Codec::H264, "H.264"},
                                                               {Codec::Vc1, "VC-1"},
                                                               {Codec::Ac3, "AC-3"},
                                                               {Codec::Eac3, "E-AC-3"},
                                                               {Codec::Dts, "DTS"},
                                                               {Codec::Lpcm, "LPCM"},
                                                               {Codec::TrueHd, "TrueHD"},
                                                               {Codec::Mlp, "MLP"},
                                                               {Codec::MpegAudio, "MPEG audio"},
                                                               {Codec::Subpicture, "Subtitles"},
                                                               {Codec::ExtSubpicture, "Subtitles"}};
    std::string name;
    for (const auto& [c, text] : kNames) {
        if (c == *codec) name = text;
    }
    if (kind != BoxKind::Audio) return name;
    const analysers::StreamInfo& info = detected.reports.audio[static_cast<std::size_t>(slot)].info;
    if (info.channels <= 0) return name;
    const bool lfe = info.lfe == 1;
    return name + " " + std::to_string(info.channels - (lfe ? 1 : 0)) + (lfe ? ".1" : ".0");
}

// The message of a failed mkvmerge: its first error line.
std::string FailureMessage(const MkvResult& muxed) {
    std::string message = "mkvmerge failed";
    for (const std::string& line : muxed.messages) {
        if (line.rfind("Error: ", 0) == 0) {
            message += ": " + line.substr(7);
            break;
        }
    }
    return message.ends_with('.') ? message : message + ".";
}

}  // namespace

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
    // Every path goes to mkvmerge absolute: a name that begins with "+", "=" or "@" is syntax to
    // it.
    std::error_code fsError;
    const fs::path output = MatroskaOutputPath(host, detected, sourcePath, request);
    const fs::path folder = output.parent_path();
    if (!fs::is_directory(folder, fsError))
        throw RunError("Cannot write \"" + output.string() + "\": its folder does not exist.");
    if (!request.replace && fs::exists(fs::symlink_status(output, fsError)))
        throw RunError("\"" + output.string() + "\" exists already; it is not overwritten.");
    const WorkFolder work(host, folder, SourceBase(sourcePath), request.keepWork);

    // The streams, into the working folder.
    MatroskaHost demuxHost(engine, work.path());
    Engine demuxEngine(demuxHost);
    demuxHost.attach(demuxEngine);
    RunOutcome demuxed;
    engine.DemuxActive = 1;  // a stop asks first, as during a demux
    try {
        demuxed = RunDemux(demuxEngine, detected, sourcePath, true);
    } catch (const RunError&) {
        engine.DemuxActive = 0;
        throw;
    }
    engine.DemuxActive = 0;
    if (demuxEngine.StopFlag != 0 || engine.StopFlag != 0)
        throw RunError("Stopped before the end: no Matroska file was made.");

    MkvPlan plan;
    plan.mkvmerge = mkvmerge;
    plan.output = output.string();
    plan.partial = (folder / ("." + output.filename().string() + ".partial")).string();
    plan.title = ValidUtf8(request.title.name);
    if (!request.title.chapters.empty()) {
        plan.chapters = work.path() + "/chapters.xml";
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
        // A name is sent to mkvmerge, and reported, as valid UTF-8.
        MkvTrack t{
            fs::absolute(file.path, fsError).string(),
            file.kind,
            file.slot,
            ValidUtf8(track != nullptr && !track->description.empty()
                          ? track->description
                          : PlainTrackName(detected, file.kind, file.slot, IsAobPath(sourcePath))),
            track != nullptr ? track->language : std::string(),
            track != nullptr && track->forced,
            0,
            track != nullptr && track->commentary,
            track != nullptr && track->visuallyImpaired};
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
    // A subpicture stream whose units mix forced captions with others: the forced ones once
    // more, in a track of their own right behind it, flagged forced; a stream of forced captions
    // only is flagged forced itself.
    for (const ForcedCaptions& alone : demuxed.forced) {
        const auto main = std::find_if(
            plan.tracks.begin(), plan.tracks.end(),
            [&](const MkvTrack& t) { return t.kind == BoxKind::Sub && t.slot == alone.slot; });
        if (main == plan.tracks.end() || alone.forced == 0) continue;
        const std::string caption = host.caption(BoxKind::Sub, alone.slot);
        if (alone.forced == alone.captions) {
            main->forced = true;
            host.log(caption + ": all its " + std::to_string(alone.captions) +
                     " captions are forced; its track is flagged forced.");
            continue;
        }
        MkvTrack track = *main;
        track.path = fs::absolute(alone.path, fsError).string();
        track.name = "Forced";
        track.forced = true;
        track.commentary = false;
        plan.tracks.insert(main + 1, track);
        host.log(caption + ": its " + std::to_string(alone.forced) + " forced captions of " +
                 std::to_string(alone.captions) + " go into a track of their own, flagged forced.");
    }
    if (plan.tracks.empty())
        throw RunError("Nothing to put into a Matroska file: no stream was written.");

    // The mux; Cancel is offered, and asks first, as during a demux.
    host.beginStep("mux");
    PartialFile partial(plan.partial);
    outcome.command = MkvmergeArguments(plan);
    host.log("mkvmerge: " + ShellLine(outcome.command));
    MkvResult muxed;
    {
        const ScanActive active(host, engine.DemuxActive, true);
        muxed = RunMkvmerge(plan, host, [&engine] { return engine.StopFlag != 0; });
    }
    for (const std::string& line : muxed.messages)
        host.log("mkvmerge: " + line);
    outcome.mkvmergeExitCode = muxed.exitCode;
    if (muxed.interrupted) throw RunError("Stopped before the end: no Matroska file was made.");
    if (muxed.exitCode >= 2 || muxed.exitCode < 0) throw RunError(FailureMessage(muxed));
    // Its word is not enough: the file must be Matroska with the tracks asked for.
    const std::optional<int> tracks = MatroskaTracks(mkvmerge, plan.partial);
    if (tracks != static_cast<int>(plan.tracks.size())) {
        throw RunError("mkvmerge ended without an error, but \"" + plan.partial + "\" is not " +
                       (tracks ? "the Matroska file of the " + std::to_string(plan.tracks.size()) +
                                     " tracks asked for (it holds " + std::to_string(*tracks) + ")."
                               : "a Matroska file."));
    }
    // Into place without replacing what appeared there meanwhile, unless asked to.
    const unsigned flags = request.replace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(AT_FDCWD, plan.partial.c_str(), AT_FDCWD, plan.output.c_str(), flags) != 0) {
        const int error = errno;
        if (error == EEXIST) {
            partial.keep();
            throw RunError("\"" + plan.output + "\" appeared during the mux and is kept; the new " +
                           "Matroska file is \"" + plan.partial + "\".");
        }
        throw RunError("Cannot rename \"" + plan.partial + "\" to \"" + plan.output + "\". " +
                       std::strerror(error));
    }
    partial.keep();
    if (muxed.exitCode == 1) host.log("mkvmerge finished with warnings (above).");
    host.log("Written " + plan.output);
    host.slog("Ready", 0);
    host.slog("", 1);
    outcome.output = plan.output;
    outcome.tracks = plan.tracks;
    return outcome;
}

}  // namespace strandis
