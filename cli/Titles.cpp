#include "cli/Titles.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace strandis::cli {

namespace {

double Ms(double ms) {
    return std::round(ms * 1000.0) / 1000.0;
}

std::string Hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
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
            audio.push_back({{"track", track.track},
                             {"stream_id", Hex(track.streamId)},
                             {"box", "a" + std::to_string(track.slot)},
                             {"codec", track.codec},
                             {"channels", track.channels},
                             {"sample_rate", track.sampleRate},
                             {"language", track.language},
                             {"kind", track.kind}});
        entry["audio"] = audio;
        Json subs = Json::array();
        for (const dvd::SubpictureTrack& track : title.subpictures)
            subs.push_back({{"track", track.track},
                            {"stream_id", Hex(track.streamId)},
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

}  // namespace strandis::cli
