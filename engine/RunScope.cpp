#include "engine/RunScope.h"

#include <algorithm>

#include "common/RunError.h"
#include "common/TextFormat.h"
#include "disc/OutputNames.h"
#include "disc/PathRules.h"

namespace strandis {

namespace {

// Goes on into the next file: the source closed, `next` opened in its place, "Continue on
// <name>" logged and status panel 0 set to `activity` + the name.
void ContinueOn(Engine& engine, const std::string& next, const std::string& activity) {
    engine.SourceStream.close();
    engine.SourceStream.open(next);
    const std::string name = ExtractFileName(next);
    engine.host().log("Continue on " + name);
    engine.host().slog(activity + name, 0);
}

std::size_t CountFiles(const std::vector<InputExtent>& extents) {
    std::vector<std::string> files;
    for (const InputExtent& extent : extents) {
        if (std::find(files.begin(), files.end(), extent.path) == files.end())
            files.push_back(extent.path);
    }
    return files.size();
}

}  // namespace

std::string EncryptedLine(std::int64_t packets) {
    return "Encrypted: " + std::to_string(packets) +
           (packets == 1 ? " packet has" : " packets have") +
           " its scrambling bits set (a CSS-protected disc copied without decrypting it). "
           "Their contents cannot be read; decrypt the disc first.";
}

void RefuseEncrypted(const Detected& detected) {
    if (detected.scrambled == 0) return;
    throw RunError("\"" + detected.source +
                       "\" is encrypted: " + std::to_string(detected.scrambled) +
                       " of its packets have their scrambling bits set (a CSS-protected disc "
                       "copied without decrypting it). Nothing was written; decrypt the disc "
                       "first.",
                   detected.source);
}

void EndRun(RunHost& host) {
    host.log("Done.");
    host.log("");
    host.slog("Ready", 0);
    host.slog("", 1);
}

// The files a run goes on into when "Continue with second  EVO" is ticked; the output base is
// the source's base name, with "_" and the last of them's base name when there are any.
RunScope::RunScope(Engine& engine, const std::string& sourcePath, const SourceTitle* title)
    : engine_(engine),
      sourcePath_(sourcePath),
      following_(title == nullptr && engine.host().option(Option::Continue)
                     ? FollowingFiles(sourcePath)
                     : std::vector<std::string>{}),
      outputBase_(title != nullptr ? title->outputBase : SourceBase(sourcePath)),
      title_(title) {
    if (!following_.empty()) outputBase_ += "_" + SourceBase(following_.back());
}

RunScope::~RunScope() {
    engine_.SourceStream.close();
}

void RunScope::refuseToOverwrite(const std::string& output) const {
    bool source = SameFile(sourcePath_, output);
    for (const std::string& input : following_)
        source = source || SameFile(input, output);
    if (title_ != nullptr) {
        for (const InputExtent& extent : title_->extents)
            source = source || SameFile(extent.path, output);
    }
    if (source) {
        throw RunError("Cannot create file \"" + output +
                           "\". It is the source file, which is never overwritten.",
                       output);
    }
}

void RunScope::openSource(const std::string& opening, const std::string& status) {
    RunHost& host = engine_.host();
    host.log(opening);
    if (!status.empty()) host.slog(status, 0);
    UnitChooser& units = engine_.SourceStream.units();
    units.setLog([&host](const std::string& line) { host.log(line); });
    if (title_ != nullptr) {
        units.setKnownCells(title_->knownCells);
        units.guessAngle(0);
        engine_.SourceStream.open(title_->extents);
        host.log(title_->name + ": " + std::to_string(title_->extents.size()) +
                 (title_->extents.size() == 1 ? " piece" : " pieces") + " of " +
                 std::to_string(CountFiles(title_->extents)) + " VOB file(s).");
    } else {
        // A VOB without its disc's IFO: an angle of its interleaved blocks, told by their order.
        units.setKnownCells({});
        units.guessAngle(UpperText(ExtractFileExt(sourcePath_)) == ".VOB" ? engine_.Angle : 0);
        engine_.SourceStream.open(sourcePath_);
    }
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
                           "\": an output folder can be chosen on the Options page.",
                       error.path());
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
        // A write from a page of the source that vanished under it fails with "Bad address":
        // the source's new end is the error to name.
        engine_.SourceStream.checkIntact();
        throw;
    }
}

}  // namespace strandis
