// strandis-cli: the runs of the window from a terminal.
#include <CLI/CLI.hpp>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/CliHost.h"
#include "engine/Detection.h"
#include "engine/RunError.h"

namespace {

using strandis::BoxKind;
using strandis::Option;
using strandis::cli::CliHost;
using strandis::cli::Colour;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
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

nlohmann::json StreamList(const strandis::DetectionResult& result,
                          const strandis::StreamInventory& ids) {
    nlohmann::json streams = nlohmann::json::array();
    const auto add = [&](const char* key, const char* kind, int slot,
                         const strandis::StreamBox& box, int id) {
        if (box.enabled) {
            streams.push_back({{"box", key + std::to_string(slot)},
                               {"kind", kind},
                               {"id", id},
                               {"caption", box.caption}});
        }
    };
    for (int slot = 0; slot < 2; ++slot)
        add("v", "video", slot, result.boxes.video[slot], ids.video(slot));
    for (int slot = 0; slot < 16; ++slot)
        add("a", "audio", slot, result.boxes.audio[slot], ids.audio(slot));
    for (int slot = 0; slot < 16; ++slot)
        add("s", "subpicture", slot, result.boxes.sub[slot], ids.sub(slot));
    return streams;
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
            {"files", result.files},
            {"size_bytes", result.firstSize},
            {"streams", StreamList(result, engine.StreamIds)},
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? kExitOk : 2;
    }

    strandis::cli::InstallInterruptHandler();
    try {
        if (*scanCommand) return RunScan(scan);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    return kExitOk;
}
