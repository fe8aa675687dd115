#include "engine/RunScope.h"

#include "common/RunError.h"
#include "engine/OutputNames.h"
#include "engine/PathRules.h"
#include "engine/TextFormat.h"

namespace strandis {

Progress::Progress(RunHost& host, std::string prefix)
    : host_(host), prefix_(std::move(prefix)), started_(std::chrono::steady_clock::now()) {}

void Progress::show(std::int64_t position, std::int64_t size) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    host_.slog(prefix_ + ProgressText(position, size, elapsed, host_.timeSeparator()), 1);
    host_.progress(position, size);
    host_.processPendingEvents();
}

namespace {

// Sets the output base to the source's name less its extension and, when "Continue with second
// EVO" is ticked and files follow the source, adds "_" and the last one's base name; returns the
// following files' paths (none without "Continue").
std::vector<std::string> TakeOutputBase(Engine& engine, const std::string& sourcePath) {
    engine.disc.OutputBase = CutExt(ExtractFileName(sourcePath));
    engine.disc.SourceBase = engine.disc.OutputBase;
    if (!engine.host().option(Option::Continue)) return {};
    std::vector<std::string> following = FollowingFiles(sourcePath);
    if (!following.empty())
        engine.disc.OutputBase += "_" + CutExt(ExtractFileName(following.back()));
    return following;
}

// Goes on into the next file: the source closed, `next` opened in its place, "Continue on
// <name>" logged and status panel 0 set to `activity` + the name.
void ContinueOn(Engine& engine, const std::string& next, const std::string& activity) {
    engine.SourceStream.close();
    engine.SourceStream.open(next);
    const std::string name = ExtractFileName(next);
    engine.host().log("Continue on " + name);
    engine.host().slog(activity + name, 0);
}

}  // namespace

void EndRun(RunHost& host) {
    host.log("Done.");
    host.log("");
    host.slog("Ready", 0);
    host.slog("", 1);
}

RunScope::RunScope(Engine& engine, const std::string& sourcePath)
    : engine_(engine), sourcePath_(sourcePath), following_(TakeOutputBase(engine, sourcePath)) {}

RunScope::~RunScope() {
    engine_.SourceStream.close();
}

void RunScope::refuseToOverwrite(const std::string& output) const {
    bool source = SameFile(sourcePath_, output);
    for (const std::string& input : following_)
        source = source || SameFile(input, output);
    if (source) {
        throw RunError("Cannot create file \"" + output +
                       "\". It is the source file, which is never overwritten.");
    }
}

void RunScope::openSource(const std::string& opening, const std::string& status) {
    RunHost& host = engine_.host();
    host.log(opening);
    if (!status.empty()) host.slog(status, 0);
    engine_.SourceStream.open(sourcePath_);
    host.log("File size: " + std::to_string(engine_.SourceStream.size() / 1048576) + " Mbytes.");
}

void RunScope::eachFile(const std::string& activity,
                        const std::function<void(const std::string& path, bool first)>& pass) {
    pass(sourcePath_, true);
    for (const std::string& next : following_) {
        if (!engine_.host().option(Option::Continue) || engine_.StopFlag != 0) break;
        ContinueOn(engine_, next, activity);
        pass(next, false);
    }
}

void RunScope::createOutput(OutputFile& file, const std::string& path, WriteBehind* behind) {
    try {
        file.create(path, behind);
    } catch (const RunError& error) {
        if (!engine_.host().outputFolder().empty()) throw;
        throw RunError(std::string(error.what()) + " The outputs go beside the source, in \"" +
                       ExtractFilePath(path) +
                       "\": an output folder can be chosen on the Options page.");
    }
    outputs_.push_back(&file);
}

std::string JoinedPaths(const std::vector<WrittenFile>& files) {
    std::string names;
    for (const WrittenFile& file : files)
        names += (names.empty() ? "" : ", ") + file.path;
    return names;
}

std::vector<WrittenFile> RunScope::closeOutputs() {
    engine_.SourceStream.close();
    std::vector<WrittenFile> written;
    for (; closed_ < outputs_.size(); ++closed_) {
        outputs_[closed_]->close();
        written.push_back({outputs_[closed_]->path(), outputs_[closed_]->size()});
    }
    if (engine_.StopFlag != 0 && !written.empty())
        engine_.host().log("Stopped before the end; these outputs are incomplete: " +
                           JoinedPaths(written));
    return written;
}

void RunScope::guard(const std::function<void()>& body) {
    try {
        body();
    } catch (const RunError&) {
        for (std::size_t k = closed_; k < outputs_.size(); ++k)
            engine_.host().log("Incomplete: " + outputs_[k]->path());
        throw;
    }
}

}  // namespace strandis
