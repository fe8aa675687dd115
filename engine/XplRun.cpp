#include "engine/XplRun.h"

#include "common/RunError.h"
#include "disc/PathRules.h"
#include "engine/RunScope.h"

namespace strandis {

XplOutcome RunXpl(Engine& engine, const std::string& playlistPath, const std::string& sourceBase,
                  playlist::AttributeLabels& labels) {
    RunHost& host = engine.host();
    XplOutcome outcome;
    InputFile& file = engine.SourceStream;
    struct CloseFile {
        InputFile& file;
        ~CloseFile() { file.close(); }
    } closeFile{file};

    file.open(playlistPath);
    if (file.size() > kMaxPlaylistBytes) {
        throw RunError("Cannot read file \"" + playlistPath + "\". It holds " +
                           std::to_string(file.size()) + " bytes, more than a playlist may (" +
                           std::to_string(kMaxPlaylistBytes >> 20) + " MiB).",
                       playlistPath);
    }
    host.log("Open " + ExtractFileName(playlistPath));
    host.log("Filesize: " + std::to_string(file.size()) + " bytes");
    playlist::TagScanner scanner(labels);
    while (file.position() < file.size()) {
        const std::size_t n = file.readBlock(engine.ReadBuffer(), kBlockSize);
        host.slog(std::to_string(file.position()) + "/" + std::to_string(file.size()) + " bytes",
                  1);
        scanner.feed(engine.ReadBuffer(), n);
    }
    file.close();

    outcome.lines = std::move(scanner.lines());
    const std::string& base = sourceBase;
    outcome.titleFound = !base.empty() && playlist::CutToTitle(outcome.lines, base);
    outcome.playsSource = outcome.titleFound;
    if (!outcome.titleFound && !base.empty()) {
        // No title plays the source: the first title of the playlist stands in for it. With no
        // source chosen the whole playlist is shown.
        if (playlist::CutToFirstTitle(outcome.lines)) {
            host.log("No title plays \"" + base + "\": the first title is shown.");
            host.log("Its tracks label no box: they are another title's.");
            outcome.titleFound = true;
        }
    }
    if (outcome.titleFound) {
        outcome.title = playlist::ReadTitle(outcome.lines, labels, scanner.timeBase(),
                                            scanner.defaultLanguage());
    } else {
        std::vector<std::string> first = outcome.lines;
        if (playlist::CutToFirstTitle(first))
            outcome.title =
                playlist::ReadTitle(first, labels, scanner.timeBase(), scanner.defaultLanguage());
    }
    if (outcome.titleFound) {
        outcome.tree = playlist::BuildTree(outcome.lines, labels, scanner.playlistTitle());
        for (const playlist::Track& track : outcome.tree.tracks)
            host.log(track.label + " found!");
    }
    EndRun(host);
    return outcome;
}

}  // namespace strandis
