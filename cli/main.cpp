// strandis-cli: the runs of the window from a terminal.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "cli/CliHost.h"
#include "cli/StreamList.h"
#include "common/RunError.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/PathRules.h"
#include "engine/RebuildRun.h"
#include "engine/XplRun.h"

namespace {

using strandis::BoxKind;
using strandis::Option;
using strandis::cli::CliHost;
using strandis::cli::Colour;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct ScanFlags {
    std::string file;
    bool noDetails = false;
    bool noCount = false;
    bool full = false;
    bool noContinue = false;
    bool json = false;
    Colour colour = Colour::Auto;
};

void AddScanFlags(CLI::App& command, ScanFlags& flags) {
    command.add_option("FILE", flags.file, "The program stream (.EVO, .VOB or .AOB)")->required();
    command.add_flag("--no-details", flags.noDetails, "Do not describe the streams' headers");
    command.add_flag("--no-count", flags.noCount, "Do not count the video frames");
    command.add_flag("--full", flags.full,
                     "Read the whole file (no fast check past 300,000,000 bytes)");
    command.add_flag("--no-continue", flags.noContinue,
                     "Do not go on into the second feature file");
    command.add_flag("--json", flags.json, "Print one JSON object instead of the log");
    const std::map<std::string, Colour> colours{
        {"auto", Colour::Auto}, {"always", Colour::Always}, {"never", Colour::Never}};
    command
        .add_option("--color", flags.colour, "Mark-up as ANSI bold and blue: auto, always or never")
        ->transform(CLI::CheckedTransformer(colours, CLI::ignore_case));
}

void ApplyScanFlags(CliHost& host, const ScanFlags& flags) {
    host.setOption(Option::Details, !flags.noDetails);
    host.setOption(Option::CountFrames, !flags.noCount);
    host.setOption(Option::FastCheck, !flags.full);
    host.setOption(Option::Continue, !flags.noContinue);
}

struct WriteFlags {
    ScanFlags scan;
    std::string outputFolder;
    std::string streams;
    std::array<std::string, 3> extensions{"mpv", "mpa", "sup"};
    bool lpcmWav = false;
    strandis::SubFormat subFormat = strandis::SubFormat::Sup;
};

void AddWriteFlags(CLI::App& command, WriteFlags& flags, bool extensions) {
    AddScanFlags(command, flags.scan);
    command.add_option("-o,--output", flags.outputFolder,
                       "Output folder (default: the source file's folder)");
    command.add_option("--streams", flags.streams,
                       "Boxes to tick, such as v0,a0,a3,s0 (default: every stream detected)");
    if (extensions) {
        command.add_option("--video-ext", flags.extensions[0], "Extension of video files")
            ->capture_default_str();
        command.add_option("--audio-ext", flags.extensions[1], "Extension of audio files")
            ->capture_default_str();
        command.add_option("--sub-ext", flags.extensions[2], "Extension of subpicture files")
            ->capture_default_str();
        command.add_flag("--lpcm-wav", flags.lpcmWav,
                         "Write LPCM streams as WAV files (.wav) instead of raw samples");
        const std::map<std::string, strandis::SubFormat> formats{
            {"sup", strandis::SubFormat::Sup},
            {"pgs", strandis::SubFormat::Pgs},
            {"vobsub", strandis::SubFormat::VobSub}};
        command
            .add_option("--sub-format", flags.subFormat,
                        "Subpictures as sup (the disc's units in \"SP\" records), pgs (Blu-ray "
                        "subtitles, .sup) or vobsub (.idx and .sub); DVD units only")
            ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case));
    }
}

struct BoxKey {
    BoxKind kind;
    int slot;
};

// "v0", "a15", "s3": the box of a stream.
std::optional<BoxKey> ParseBoxKey(const std::string& key) {
    if (key.size() < 2 || key.size() > 3) return std::nullopt;
    const BoxKind kind = key[0] == 'v'   ? BoxKind::Video
                         : key[0] == 'a' ? BoxKind::Audio
                                         : BoxKind::Sub;
    if (key[0] != 'v' && key[0] != 'a' && key[0] != 's') return std::nullopt;
    int slot = 0;
    for (std::size_t k = 1; k < key.size(); ++k) {
        if (key[k] < '0' || key[k] > '9') return std::nullopt;
        slot = slot * 10 + (key[k] - '0');
    }
    if (slot >= (kind == BoxKind::Video ? 2 : 16)) return std::nullopt;
    return BoxKey{kind, slot};
}

const strandis::StreamBox& BoxOf(const strandis::StreamBoxes& boxes, BoxKey key) {
    const auto slot = static_cast<std::size_t>(key.slot);
    return key.kind == BoxKind::Video   ? boxes.video[slot]
           : key.kind == BoxKind::Audio ? boxes.audio[slot]
                                        : boxes.sub[slot];
}

int RunWriting(const WriteFlags& flags, bool rebuild) {
    CliHost host(flags.scan.file, flags.scan.colour, flags.scan.json);
    ApplyScanFlags(host, flags.scan);
    strandis::Engine engine(host);
    host.attach(engine);
    try {
        const strandis::DetectionResult detected = strandis::RunDetection(engine, flags.scan.file);
        host.finishProgress();
        if (strandis::cli::g_interrupted != 0) return kExitInterrupted;

        // Tick the boxes asked for, or every box with a stream.
        std::vector<BoxKey> keys;
        if (flags.streams.empty()) {
            for (int slot = 0; slot < 2; ++slot)
                keys.push_back({BoxKind::Video, slot});
            for (int slot = 0; slot < 16; ++slot)
                keys.push_back({BoxKind::Audio, slot}), keys.push_back({BoxKind::Sub, slot});
        } else {
            std::stringstream list(flags.streams);
            for (std::string key; std::getline(list, key, ',');) {
                const auto parsed = ParseBoxKey(key);
                if (!parsed || !BoxOf(detected.boxes, *parsed).enabled) {
                    std::cerr << "--streams: no stream was detected for the box " << key << '\n';
                    return kExitUsage;
                }
                keys.push_back(*parsed);
            }
        }
        for (const BoxKey key : keys) {
            const strandis::StreamBox& box = BoxOf(detected.boxes, key);
            if (!box.enabled) continue;
            host.setTicked(key.kind, key.slot, true);
            host.setCaption(key.kind, key.slot, box.caption);
        }
        host.setOutput(flags.outputFolder, flags.extensions);
        host.setOption(Option::LpcmWav, flags.lpcmWav);
        host.setSubFormat(flags.subFormat);
        const strandis::RunOutcome outcome = rebuild ? strandis::RunRebuild(engine, flags.scan.file)
                                                     : strandis::RunDemux(engine, flags.scan.file);
        host.finishProgress();
        if (flags.scan.json) {
            nlohmann::json files = nlohmann::json::array();
            for (const strandis::WrittenFile& file : outcome.files)
                files.push_back({{"path", file.path}, {"size_bytes", file.size}});
            const nlohmann::json report{{"files", files},
                                        {"stopped_early", outcome.stoppedEarly},
                                        {"frames", outcome.frames},
                                        {"log", host.plainLog()}};
            std::cout << report.dump(2) << '\n';
        }
    } catch (const strandis::RunError& error) {
        host.finishProgress();
        if (flags.scan.json) {
            std::cout << nlohmann::json{{"error", error.what()}, {"log", host.plainLog()}}.dump(2)
                      << '\n';
        }
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    return strandis::cli::g_interrupted != 0 ? kExitInterrupted : kExitOk;
}

struct XplFlags {
    std::string playlist;
    std::string source;
    bool json = false;
    Colour colour = Colour::Auto;
};

int RunXplCommand(const XplFlags& flags) {
    CliHost host(flags.source, flags.colour, true);
    strandis::Engine engine(host);
    host.attach(engine);
    engine.disc.OutputBase = flags.source.empty()
                                 ? std::string()
                                 : strandis::CutExt(strandis::ExtractFileName(flags.source));
    engine.disc.SourceBase = engine.disc.OutputBase;
    strandis::playlist::AttributeLabels labels;
    strandis::XplOutcome outcome;
    try {
        outcome = strandis::RunXpl(engine, flags.playlist, labels);
    } catch (const strandis::RunError& error) {
        host.finishProgress();
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    host.finishProgress();
    const strandis::playlist::TitleTree& tree = outcome.tree;
    const std::vector<std::pair<const char*, const std::vector<std::string>*>> nodes{
        {"Info", &tree.info},
        {"Video", &tree.video},
        {"Audio", &tree.audio},
        {"Subtitle", &tree.subtitle},
        {"Chapter", &tree.chapter}};
    if (flags.json) {
        nlohmann::json treeJson = nlohmann::json::object();
        for (const auto& [name, children] : nodes)
            treeJson[name] = *children;
        nlohmann::json boxes = nlohmann::json::array();
        for (const strandis::playlist::Track& track : tree.tracks) {
            if (track.kind == strandis::playlist::TrackKind::Video && track.slot != 0)
                continue;  // no box
            const char* prefix = track.kind == strandis::playlist::TrackKind::Video   ? "v"
                                 : track.kind == strandis::playlist::TrackKind::Audio ? "a"
                                                                                      : "s";
            boxes.push_back(
                {{"box", prefix + std::to_string(track.slot)}, {"caption", track.label}});
        }
        std::cout << nlohmann::json{{"lines", outcome.lines}, {"tree", treeJson}, {"boxes", boxes}}
                         .dump(2)
                  << '\n';
        return kExitOk;
    }
    for (const std::string& line : outcome.lines)
        std::cout << line << '\n';
    std::cout << '\n';
    for (const auto& [name, children] : nodes) {
        std::cout << name << '\n';
        for (const std::string& child : *children)
            std::cout << "  " << child << '\n';
    }
    std::cout << '\n';
    host.printKeptLog(flags.colour == Colour::Always ||
                      (flags.colour == Colour::Auto && isatty(STDOUT_FILENO)));
    return kExitOk;
}

int RunScan(const ScanFlags& flags) {
    CliHost host(flags.file, flags.colour, flags.json);
    ApplyScanFlags(host, flags);
    strandis::Engine engine(host);
    host.attach(engine);
    strandis::DetectionResult result;
    try {
        result = strandis::RunDetection(engine, flags.file);
    } catch (const strandis::RunError& error) {
        host.finishProgress();
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    host.finishProgress();
    if (flags.json) {
        const nlohmann::json report{
            {"format_version", strandis::cli::kFormatVersion},
            {"files", strandis::cli::FileList(result.files)},
            {"size_bytes", result.firstSize},
            {"streams", strandis::cli::StreamList(result, engine.disc)},
            {"frames", result.frames},
            {"stopped_early", result.stoppedEarly},
            {"log", host.plainLog()},
        };
        std::cout << report.dump(2) << '\n';
    }
    return strandis::cli::g_interrupted != 0 ? kExitInterrupted : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Strandis: lists, describes and extracts the streams of HD DVD, DVD-Video and DVD-Audio "
        "program streams"};
    app.set_version_flag("--version", std::string("strandis-cli ") + STRANDIS_VERSION);
    app.require_subcommand(1);

    ScanFlags scan;
    CLI::App* scanCommand =
        app.add_subcommand("scan", "List and describe the streams of a file (\"Read EVO\")");
    AddScanFlags(*scanCommand, scan);

    WriteFlags demux;
    CLI::App* demuxCommand =
        app.add_subcommand("demux", "Write each stream to a file of its own (\"Demux\")");
    AddWriteFlags(*demuxCommand, demux, true);
    WriteFlags rebuild;
    CLI::App* rebuildCommand =
        app.add_subcommand("rebuild", "Copy the source without the streams left out (\"Rebuild\")");
    AddWriteFlags(*rebuildCommand, rebuild, false);

    XplFlags xpl;
    CLI::App* xplCommand =
        app.add_subcommand("xpl", "Show a playlist and the title that plays a file (\"Read XPL\")");
    xplCommand->add_option("PLAYLIST", xpl.playlist, "The playlist (VPLST000.XPL)")->required();
    xplCommand->add_option("--source", xpl.source, "The file whose base name picks the title");
    xplCommand->add_flag("--json", xpl.json, "Print one JSON object");
    xplCommand
        ->add_option("--color", xpl.colour, "Mark-up as ANSI bold and blue: auto, always or never")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, Colour>{
                {"auto", Colour::Auto}, {"always", Colour::Always}, {"never", Colour::Never}},
            CLI::ignore_case));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : kExitUsage;
    }

    strandis::cli::InstallInterruptHandler();
    // A file that outgrows its limit fails its write, which the run reports, instead of
    // killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        if (*scanCommand) return RunScan(scan);
        if (*demuxCommand) return RunWriting(demux, false);
        if (*rebuildCommand) return RunWriting(rebuild, true);
        if (*xplCommand) return RunXplCommand(xpl);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    return kExitOk;
}
