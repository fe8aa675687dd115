#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Progress.h"
#include "engine/Detected.h"
#include "engine/Engine.h"
#include "io/OutputFile.h"

namespace strandis {

// A file a run wrote, with its size in bytes.
struct WrittenFile {
    std::string path;
    std::int64_t size = 0;
};

// When a demultiplexed stream starts, against the earliest start of the streams written: what a
// muxer must delay it by to keep them in sync.
struct StreamDelay {
    std::string path;
    std::string caption;
    double milliseconds = 0;
};

// A stream file of a demux, with the box whose stream it holds.
struct StreamFile {
    BoxKind kind;
    int slot;
    std::string path;
};

// The files' paths joined by ", ", as the log and the messages name them.
std::string JoinedPaths(const std::vector<WrittenFile>& files);

// A demux for a muxer: the forced captions of a subpicture stream converted to PGS, alone in a
// file of their own, and how many of its captions they are.
struct ForcedCaptions {
    int slot;
    std::string path;
    int forced = 0;
    int captions = 0;
};

struct RunOutcome {
    std::string outputBase;  // as the detection's
    std::vector<WrittenFile> files;
    std::vector<StreamFile> streams;     // demux: the stream files in box order, no VobSub index
    std::vector<StreamDelay> delays;     // demux: one per stream file with a known start
    std::vector<ForcedCaptions> forced;  // demux for a muxer: per PGS stream
    bool stoppedEarly = false;
    FrameCounts frames{};
};

// What the log says of a source with encrypted packets.
std::string EncryptedLine(std::int64_t packets);
// Raises RunError when the detection found encrypted packets: nothing of such a source is
// written, since their bytes would go into the outputs as if they were data.
void RefuseEncrypted(const Detected& detected);

// The closing steps of every run: "Done.", an empty line, "Ready" and an empty progress panel.
void EndRun(RunHost& host);

// The frame of a run over a source and the files it goes on into (the second feature file, a
// title set's later parts): the output base, the refusal to write over an input, opening the
// source, the step from file to file, closing the source on every way out, and naming the
// outputs a failure leaves incomplete.
class RunScope {
public:
    // Finds the files that follow the source, and the output base.
    // With a title, the source is the title's pieces, read as one file, and nothing follows it.
    RunScope(Engine& engine, const std::string& sourcePath, const SourceTitle* title = nullptr);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

    // The files the run goes on into after the source, when "Continue" is ticked.
    const std::vector<std::string>& following() const { return following_; }
    // The source's name less its extension, and "_" and the last following file's base name
    // when "Continue" is ticked and files follow.
    const std::string& outputBase() const { return outputBase_; }
    // Raises RunError when `output` names the source or a following file.
    void refuseToOverwrite(const std::string& output) const;
    // Logs `opening`, shows `status` in panel 0 unless it is empty, opens the source and logs
    // its size.
    void openSource(const std::string& opening, const std::string& status);
    // Runs `pass` over the open source, then over each following file while "Continue" is
    // ticked and nothing stopped the run: the source closed, the next opened, "Continue on
    // <name>" logged and panel 0 set to `activity` + name. `pass` gets the file's path and
    // whether it is the first.
    void eachFile(const std::string& activity,
                  const std::function<void(const std::string& path, bool first)>& pass);
    // Creates an output of the run (written through `behind` when given): if the run fails
    // before closeOutputs() has closed it, it is named incomplete. When the outputs go beside
    // the source (no output folder chosen) and that folder cannot be written, the message says
    // an output folder can be chosen.
    void createOutput(OutputFile& file, const std::string& path, WriteBehind* behind = nullptr);
    // Closes the source and then the outputs, in order; each one closed is whole. Returns them
    // with their sizes. After a pass that was stopped (Cancel), one line names them as
    // incomplete.
    std::vector<WrittenFile> closeOutputs();
    // Runs `body`; when it raises RunError, logs "Incomplete: " for each output not closed
    // whole and raises it again.
    void guard(const std::function<void()>& body);

private:
    Engine& engine_;
    std::string sourcePath_;
    std::vector<std::string> following_;
    std::string outputBase_;
    const SourceTitle* title_;
    std::vector<OutputFile*> outputs_;
    std::size_t closed_ = 0;  // outputs closed whole
};

}  // namespace strandis
