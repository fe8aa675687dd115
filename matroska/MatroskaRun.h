#pragma once

#include <string>
#include <vector>

#include "engine/Detected.h"
#include "engine/Engine.h"
#include "matroska/Mkv.h"
#include "playlist/Xpl.h"

namespace strandis {

struct MatroskaRequest {
    std::string output;         // the .mkv; "" for the output base and .mkv in the outputs' folder
    std::string mkvmerge;       // its path; "" to look for it on PATH
    playlist::TitleInfo title;  // the playlist's title: names, languages, chapters; may be empty
    bool keepWork = false;      // the demultiplexed streams stay, whatever happens
    bool replace = false;       // an existing output is replaced
};

struct MatroskaOutcome {
    std::string output;
    std::vector<MkvTrack> tracks;
    std::vector<std::string> command;
    int mkvmergeExitCode = -1;
};

// The Matroska file a run makes: the request's, or the output base and .mkv in the outputs'
// folder; absolute.
std::string MatroskaOutputPath(const RunHost& host, const Detected& detected,
                               const std::string& sourcePath, const MatroskaRequest& request);

// The title's track that a box's stream plays, by kind and stream number; none when it lists
// none.
const playlist::TrackInfo* FindTrack(const playlist::TitleInfo& title, BoxKind kind, int slot);

// "Demux" into one Matroska file: the ticked streams are demultiplexed (LPCM as WAV,
// subpictures as PGS) into a folder beside the output, then mkvmerge runs once with each track's
// delay, the title's track names, languages, forced flags and order, its name and chapters, the
// first audio track as default. Its command and messages go to the log. mkvmerge writes a hidden
// partial file (made afresh, never through a link), which must then be Matroska with the tracks
// asked for, and is renamed without replacing a file that appeared meanwhile (unless `replace`).
// The folder goes whichever way the run ends, unless `keepWork` (the log says where). Raises
// RunError for what fails, a stop included, with mkvmerge's own error line.
MatroskaOutcome RunMatroska(Engine& engine, const Detected& detected, const std::string& sourcePath,
                            const MatroskaRequest& request);

}  // namespace strandis
