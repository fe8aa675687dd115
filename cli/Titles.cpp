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

std::string TitlesText(const dvd::Disc& disc) {
    std::ostringstream out;
    out << "Disc " << disc.name << " (" << disc.videoTs << "): " << disc.titles.size()
        << (disc.titles.size() == 1 ? " title" : " titles") << "\n";
    for (const std::string& problem : disc.problems)
        out << "  " << problem << "\n";
    for (const dvd::Title& title : disc.titles) {
        out << "\n" << dvd::DescribeTitle(title) << (title.main ? "  main feature" : "") << "\n";
        if (!title.problem.empty()) {
            out << "  cannot be read: " << title.problem << "\n";
            continue;
        }
        out << "  " << title.video << "; title set " << title.titleSet << ", program chain "
            << title.programChain << "; " << title.cells.size()
            << (title.cells.size() == 1 ? " cell" : " cells") << " in";
        for (const std::string& file : title.files)
            out << " " << FileName(file);
        out << "\n";
        for (const dvd::Chapter& chapter : title.chapters)
            out << "  Chapter " << chapter.number << ": " << dvd::FormatDuration(chapter.startMs)
                << "\n";
        for (const dvd::AudioTrack& track : title.audio)
            out << "  Audio " << track.track << ": " << Hex(track.streamId) << " a" << track.slot
                << " " << track.codec << " " << track.channels << "ch "
                << (track.language.empty() ? "--" : track.language) << " " << track.kind << "\n";
        for (const dvd::SubpictureTrack& track : title.subpictures)
            out << "  Subpicture " << track.track << ": " << Hex(track.streamId) << " s"
                << track.slot << " " << (track.language.empty() ? "--" : track.language) << " "
                << track.kind << "\n";
    }
    return out.str();
}

}  // namespace strandis::cli
