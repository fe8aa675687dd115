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
};

struct MatroskaOutcome {
    std::string output;
    std::vector<MkvTrack> tracks;
    std::vector<std::string> command;
    int mkvmergeExitCode = -1;
};

// The title's track that a box's stream plays, by kind and stream number; none when it lists
// none.
const playlist::TrackInfo* FindTrack(const playlist::TitleInfo& title, BoxKind kind, int slot);

// "Demux" into one Matroska file: the ticked streams are demultiplexed (LPCM as WAV, DVD
// subpictures as PGS) into a folder beside the output, then mkvmerge runs once with each track's
// delay, the title's track names, languages, forced flags and order, its name and chapters, the
// first audio track as default. Its command and messages go to the log. mkvmerge writes a hidden
// partial file that is renamed when it succeeds; the folder goes then, and stays (the log names
// it) after a failure or a stop. Raises RunError for what fails, the stop included.
MatroskaOutcome RunMatroska(Engine& engine, const Detected& detected, const std::string& sourcePath,
                            const MatroskaRequest& request);

}  // namespace strandis
