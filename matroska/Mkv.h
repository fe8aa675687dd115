#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/RunHost.h"

namespace strandis {

// The full path of mkvmerge on PATH; nothing when it is not installed.
std::optional<std::string> FindMkvmerge();
// What a Matroska step without mkvmerge says.
inline constexpr const char* kNoMkvmerge =
    "mkvmerge is not installed: the Matroska step needs it (Debian package mkvtoolnix).";

// One demultiplexed stream, as it goes into the Matroska file.
struct MkvTrack {
    std::string path;
    BoxKind kind;
    int slot;
    std::string name;      // the track's name: the playlist's description, or the caption
    std::string language;  // the playlist's code; "" when none
    bool forced = false;
    double delayMs = 0;
    bool commentary = false;
    bool visuallyImpaired = false;
};

struct MkvPlan {
    std::string mkvmerge;
    std::string output;            // the final .mkv
    std::string partial;           // what mkvmerge writes, renamed to `output` when it succeeds
    std::string title;             // --title; "" for none
    std::string chapters;          // a chapter file; "" for none
    std::vector<MkvTrack> tracks;  // in the order they go into the file
};

// mkvmerge's arguments for the plan: each track's sync (whole milliseconds), name, language and
// flags before its file, the first audio track the default one.
std::vector<std::string> MkvmergeArguments(const MkvPlan& plan);

// The command as a shell would take it, for the log.
std::string ShellLine(const std::vector<std::string>& arguments);

struct MkvResult {
    int exitCode = -1;  // mkvmerge's: 0 done, 1 done with warnings, 2 failed
    bool interrupted = false;
    // Its lines other than progress; its GUI-mode error and warning lines as "Error: ..." and
    // "Warning: ...".
    std::vector<std::string> messages;
};

// Runs mkvmerge in GUI mode, its "#GUI#progress N%" lines as the host's progress. The front end
// handles its events after each line and every fifth of a second; when `stopped` then says so,
// mkvmerge is stopped (SIGTERM, then SIGKILL) and waited for. A minute without a word from it is
// named in the log.
MkvResult RunMkvmerge(const MkvPlan& plan, RunHost& host, const std::function<bool()>& stopped);

// The tracks of `file` when mkvmerge -J reads it as Matroska; nothing otherwise.
std::optional<int> MatroskaTracks(const std::string& mkvmerge, const std::string& file);

}  // namespace strandis
