#pragma once

#include <string>
#include <vector>

#include "engine/Engine.h"
#include "playlist/Xpl.h"

namespace strandis {

// Real playlists are well under 1 MB; a larger file is refused before it is read.
inline constexpr std::int64_t kMaxPlaylistBytes = 16 << 20;

struct XplOutcome {
    std::vector<std::string> lines;  // the memo: the title's tags, or every tag
    bool titleFound = false;         // a title was cut out; when false the tree stays as it was
    // The title shown plays the source; when false it is the first title, standing in for it,
    // and its tracks label no box.
    bool playsSource = false;
    playlist::TitleTree tree;
    // The title that plays the source, or the first title when no source is chosen; empty when
    // the playlist has no title.
    playlist::TitleInfo title;
};

// "Read XPL": reads the playlist into tag lines, takes the attribute labels, cuts the lines to
// the title that plays the source whose base name is `sourceBase` (SourceBase), and lists its
// tracks (the tree's tracks: the boxes they label). Raises RunError when the file cannot be
// opened or read, or when an attribute item's index is not a whole number, or when the file is
// larger than kMaxPlaylistBytes or holds more tags than any playlist; the file is closed in
// every case.
XplOutcome RunXpl(Engine& engine, const std::string& playlistPath, const std::string& sourceBase,
                  playlist::AttributeLabels& labels);

// A title of an HD DVD playlist, with the base names of the clips it plays (FEATURE_1 of
// "file:///dvddisc/HVDVD_TS/FEATURE_1.MAP").
struct PlaylistTitle {
    playlist::TitleInfo info;
    std::vector<std::string> clips;
};

// Every title of the playlist, in its order, read as "Read XPL" reads one (no log). Raises
// RunError as RunXpl does.
std::vector<PlaylistTitle> ReadPlaylistTitles(Engine& engine, const std::string& playlistPath);

}  // namespace strandis
