#include "cli/Titles.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/TextFormat.h"
#include "disc/PathRules.h"

namespace strandis::cli {

namespace {

double Ms(double ms) {
    return std::round(ms * 1000.0) / 1000.0;
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

nlohmann::json TitlesJson(const dvd::Disc& disc) {
    using Json = nlohmann::json;
    Json titles = Json::array();
    for (const dvd::Title& title : disc.titles) {
        Json entry{{"number", title.number},
                   {"title_set", title.titleSet},
                   {"title_in_set", title.titleInSet},
                   {"main", title.main},
                   {"angles", title.angles}};
        if (!title.problem.empty()) {
            entry["problem"] = title.problem;
            titles.push_back(entry);
            continue;
        }
        entry["program_chain"] = title.programChain;
        entry["duration_ms"] = Ms(title.durationMs);
        entry["video"] = title.video;
        Json chapters = Json::array();
        for (const dvd::Chapter& chapter : title.chapters)
            chapters.push_back({{"number", chapter.number},
                                {"start_ms", Ms(chapter.startMs)},
                                {"cell", chapter.entryCell}});
        entry["chapters"] = chapters;
        Json files = Json::array();
        for (const std::string& file : title.files)
            files.push_back(FileName(file));
        entry["files"] = files;
        Json cells = Json::array();
        for (const dvd::Cell& cell : title.cells) {
            Json c{{"vob_id", cell.vobId},
                   {"cell_id", cell.cellId},
                   {"first_sector", cell.firstSector},
                   {"last_sector", cell.lastSector},
                   {"duration_ms", Ms(cell.durationMs)}};
            if (cell.angleBlock) c["angle_block"] = true;
            cells.push_back(c);
        }
        entry["cells"] = cells;
        Json audio = Json::array();
        for (const dvd::AudioTrack& track : title.audio)
            audio.push_back(
                {{"track", track.track},
                 {"stream_id", "0x" + Hex(static_cast<std::uint32_t>(track.streamId), 2)},
                 {"box", "a" + std::to_string(track.slot)},
                 {"codec", track.codec},
                 {"channels", track.channels},
                 {"sample_rate", track.sampleRate},
                 {"language", track.language},
                 {"kind", track.kind}});
        entry["audio"] = audio;
        Json subs = Json::array();
        for (const dvd::SubpictureTrack& track : title.subpictures)
            subs.push_back(
                {{"track", track.track},
                 {"stream_id", "0x" + Hex(static_cast<std::uint32_t>(track.streamId), 2)},
                 {"box", "s" + std::to_string(track.slot)},
                 {"language", track.language},
                 {"kind", track.kind},
                 {"forced", track.forced}});
        entry["subpictures"] = subs;
        Json palette = Json::array();
        for (const std::uint32_t colour : title.palette) {
            char text[8];
            std::snprintf(text, sizeof text, "%06X", colour);
            palette.push_back(text);
        }
        entry["palette"] = palette;
        titles.push_back(entry);
    }
    return {{"disc", disc.videoTs},
            {"name", disc.name},
            {"titles", titles},
            {"problems", disc.problems}};
}

namespace {

namespace fs = std::filesystem;

// The EVO files of the playlist's disc that a title's clips play, as they are named there.
std::vector<std::string> ClipFiles(const PlaylistTitle& title, const std::string& playlist) {
    std::vector<std::string> files;
    const fs::path root = fs::path(playlist).parent_path().parent_path();
    const std::string evos = EntryNamed(root.string(), "HVDVD_TS");
    for (const std::string& clip : title.clips) {
        const std::string file =
            evos.empty() ? std::string() : EntryNamed(evos, UpperText(clip) + ".EVO");
        files.push_back(file.empty() ? clip + ".EVO (missing)"
                                     : fs::path(file).filename().string());
    }
    return files;
}

std::size_t Longest(const std::vector<PlaylistTitle>& titles) {
    std::size_t longest = 0;
    for (std::size_t k = 0; k < titles.size(); ++k) {
        if (titles[k].info.durationNs.value_or(0) > titles[longest].info.durationNs.value_or(0))
            longest = k;
    }
    return longest;
}

}  // namespace

std::string HdDvdPlaylist(const std::string& path) {
    std::error_code error;
    fs::path at(path);
    if (UpperText(at.extension().string()) == ".XPL")
        return fs::is_regular_file(at, error) ? path : "";
    if (!fs::is_directory(at, error)) at = at.parent_path();
    const std::string folder = UpperText(at.filename().string());
    if (folder == "HVDVD_TS" || folder == "ADV_OBJ") at = at.parent_path();
    const std::string advObj = EntryNamed(at.string(), "ADV_OBJ");
    return advObj.empty() ? std::string() : EntryNamed(advObj, "VPLST000.XPL");
}

nlohmann::json HdDvdTitlesJson(const std::vector<PlaylistTitle>& titles,
                               const std::string& playlist) {
    using Json = nlohmann::json;
    Json list = Json::array();
    const std::size_t longest = Longest(titles);
    for (std::size_t k = 0; k < titles.size(); ++k) {
        const playlist::TitleInfo& info = titles[k].info;
        Json entry{{"number", k + 1},
                   {"name", info.name},
                   {"main", k == longest},
                   {"files", ClipFiles(titles[k], playlist)}};
        if (info.durationNs) entry["duration_ms"] = Ms(static_cast<double>(*info.durationNs) / 1e6);
        Json chapters = Json::array();
        for (std::size_t c = 0; c < info.chapters.size(); ++c)
            chapters.push_back(
                {{"number", c + 1},
                 {"start_ms", Ms(static_cast<double>(info.chapters[c].startNs) / 1e6)},
                 {"name", info.chapters[c].name}});
        entry["chapters"] = chapters;
        Json audio = Json::array(), subs = Json::array();
        for (const playlist::TrackInfo& track : info.tracks) {
            const Json t{{"track", track.track},
                         {"box", std::string(track.kind == playlist::TrackKind::Audio ? "a" : "s") +
                                     std::to_string(track.streamNumber - 1)},
                         {"codec", track.codec},
                         {"language", track.language},
                         {"description", track.description},
                         {"forced", track.forced}};
            if (track.kind == playlist::TrackKind::Audio) audio.push_back(t);
            if (track.kind == playlist::TrackKind::Subtitle) subs.push_back(t);
        }
        entry["audio"] = audio;
        entry["subpictures"] = subs;
        list.push_back(entry);
    }
    return {{"disc", fs::path(playlist).parent_path().parent_path().string()},
            {"playlist", playlist},
            {"titles", list}};
}

std::string HdDvdTitlesText(const std::vector<PlaylistTitle>& titles, const std::string& playlist) {
    std::ostringstream out;
    out << "HD DVD playlist " << playlist << ": " << titles.size()
        << (titles.size() == 1 ? " title" : " titles") << "\n";
    const std::size_t longest = Longest(titles);
    for (std::size_t k = 0; k < titles.size(); ++k) {
        const playlist::TitleInfo& info = titles[k].info;
        out << "\nTitle " << k + 1 << " \"" << info.name << "\" (" << info.duration << ", "
            << info.chapters.size() << (info.chapters.size() == 1 ? " chapter" : " chapters") << ")"
            << (k == longest ? "  main feature" : "") << "\n  plays";
        for (const std::string& file : ClipFiles(titles[k], playlist))
            out << " " << file;
        out << "\n";
        for (const playlist::TrackInfo& track : info.tracks) {
            if (track.kind == playlist::TrackKind::Video) continue;
            out << "  " << (track.kind == playlist::TrackKind::Audio ? "Audio " : "Subtitle ")
                << track.track << ": " << (track.kind == playlist::TrackKind::Audio ? "a" : "s")
                << track.streamNumber - 1 << " " << track.codec << " "
                << (track.language.empty() ? "--" : track.language) << " " << track.description
                << (track.forced ? " (forced)" : "") << "\n";
        }
    }
    return out.str();
}

}  // namespace strandis::cli
