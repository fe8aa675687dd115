#include "engine/XplRun.h"

#include "common/RunError.h"
#include "disc/PathRules.h"
#include "engine/RunScope.h"

namespace strandis {

namespace {

// Reads the playlist through `scanner`; with `host`, its size and the bytes read so far are
// shown as "Read XPL" shows them. The file is closed on every way out.
void ScanPlaylist(Engine& engine, const std::string& playlistPath, playlist::TagScanner& scanner,
                  RunHost* host) {
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
    if (host != nullptr) {
        host->log("Open " + ExtractFileName(playlistPath));
        host->log("Filesize: " + std::to_string(file.size()) + " bytes");
    }
    while (file.position() < file.size()) {
        const std::size_t n = file.readBlock(engine.ReadBuffer(), kBlockSize);
        if (host != nullptr)
            host->slog(
                std::to_string(file.position()) + "/" + std::to_string(file.size()) + " bytes", 1);
        scanner.feed(engine.ReadBuffer(), n);
    }
}

}  // namespace

std::vector<PlaylistTitle> ReadPlaylistTitles(Engine& engine, const std::string& playlistPath) {
    playlist::AttributeLabels labels;
    playlist::TagScanner scanner(labels);
    ScanPlaylist(engine, playlistPath, scanner, nullptr);
    // Each Title element: from its "<Title " line to its "</Title" line.
    std::vector<PlaylistTitle> titles;
    const std::vector<std::string>& lines = scanner.lines();
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (lines[k].find("<Title ") == std::string::npos) continue;
        std::size_t end = k;
        while (end + 1 < lines.size() && lines[end].find("</Title") == std::string::npos)
            ++end;
        const std::vector<std::string> title(lines.begin() + static_cast<std::ptrdiff_t>(k),
                                             lines.begin() + static_cast<std::ptrdiff_t>(end) + 1);
        PlaylistTitle entry;
        entry.info =
            playlist::ReadTitle(title, labels, scanner.timeBase(), scanner.defaultLanguage());
        for (const std::string& line : title) {
            if (line.find("Clip ") == std::string::npos) continue;
            std::string src = playlist::XplAttr(line, "src");
            src = src.substr(src.find_last_of('/') + 1);
            if (const std::size_t dot = src.rfind('.'); dot != std::string::npos) src.resize(dot);
            if (!src.empty()) entry.clips.push_back(src);
        }
        titles.push_back(std::move(entry));
        k = end;
    }
    return titles;
}

XplOutcome RunXpl(Engine& engine, const std::string& playlistPath, const std::string& sourceBase,
                  playlist::AttributeLabels& labels) {
    RunHost& host = engine.host();
    XplOutcome outcome;
    playlist::TagScanner scanner(labels);
    ScanPlaylist(engine, playlistPath, scanner, &host);

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
