// strandis-cli: the runs of the window from a terminal.
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "cli/CliHost.h"
#include "cli/StreamList.h"
#include "cli/Titles.h"
#include "common/RunError.h"
#include "disc/DvdTitles.h"
#include "disc/OutputNames.h"
#include "disc/PathRules.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/DiscTitle.h"
#include "engine/RebuildRun.h"
#include "engine/XplRun.h"
#include "matroska/Chapters.h"
#include "matroska/MatroskaRun.h"
#include "matroska/Mkv.h"

namespace {

namespace fs = std::filesystem;
using strandis::BoxKind;
using strandis::Option;
using strandis::cli::CliHost;
using strandis::cli::Colour;
using Json = nlohmann::json;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoStream = 3;
constexpr int kExitNothingWritten = 4;
constexpr int kExitInterrupted = 130;

// JSON as the command line prints it: bytes of a file name that are not UTF-8 are replaced, so
// that the output stays JSON.
std::string Dump(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

// The flags every command has.
struct Common {
    bool json = false;
    bool quiet = false;
    std::string progress;
    std::string colour = "auto";
};

// "--color" takes its word after "=": the help shows it so.
class Formatter : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_name() == "--color") return "[=WHEN]";
        if (option->get_name() == "--progress") return "=json";
        return CLI::Formatter::make_option_opts(option);
    }
};

void AddCommon(CLI::App& command, Common& common) {
    command.add_flag("--json", common.json,
                     "Print one JSON object instead of the log (errors too, on stdout)");
    command.add_flag("-q,--quiet", common.quiet, "No log: errors only");
    command
        .add_option("--progress", common.progress,
                    "One JSON line per progress step on stderr, also into a pipe")
        ->check(CLI::IsMember({"json"}));
    command
        .add_option("--color", common.colour,
                    "Mark-up as bold and blue. WHEN: auto (on a terminal, unless NO_COLOR is set "
                    "or TERM is dumb), always (also a bare --color) or never")
        ->expected(0, 1)
        ->default_str("always")  // what a bare --color means
        ->check(CLI::IsMember({"auto", "always", "never", ""}).description(""));
}

// The error of a run: its message on stderr and, with --json, as one object on stdout. The path
// is the file the error is about, or else the text between the message's first quotes.
int Fail(const Common& common, const std::string& message, int code,
         const std::string& about = {}) {
    std::cerr << message << '\n';
    if (common.json) {
        std::string path = about;
        const std::size_t open = message.find('"');
        const std::size_t close = open == std::string::npos ? open : message.find('"', open + 1);
        if (path.empty() && close != std::string::npos)
            path = message.substr(open + 1, close - open - 1);
        std::cout << Dump({{"format_version", strandis::cli::kFormatVersion},
                           {"error", {{"message", message}, {"path", path}}}})
                  << '\n';
    }
    return code;
}

struct ScanFlags {
    std::vector<std::string> files;
    bool noDetails = false;
    bool noCount = false;
    bool full = false;
    bool noContinue = false;
    int title = 0;  // of a DVD disc; 0 for its main feature
    int angle = 1;  // of a multi-angle DVD title
    Common common;
};

void AddScanFlags(CLI::App& command, ScanFlags& flags, bool several) {
    if (several) {
        command
            .add_option("FILE", flags.files,
                        "The program streams (.EVO, .VOB or .AOB), or DVD-Video discs (a folder, "
                        "VIDEO_TS or an .IFO file: the title --title names, or the main feature)")
            ->required();
        command
            .add_option("--title", flags.title,
                        "Of a DVD-Video disc, read only this title (with a .VOB too)")
            ->check(CLI::Range(1, 99));
    } else {
        command
            .add_option("FILE", flags.files,
                        "The program stream (.EVO, .VOB or .AOB), or a DVD-Video disc (its "
                        "folder, VIDEO_TS or an .IFO file), whose title --title reads")
            ->required()
            ->expected(1);
        command
            .add_option("--title", flags.title,
                        "Read only this title of the DVD-Video disc FILE belongs to (default for "
                        "a disc: its main feature, the longest title)")
            ->check(CLI::Range(1, 99));
    }
    command
        .add_option("--angle", flags.angle,
                    "Of a multi-angle DVD title, or a lone VOB's interleaved angles, read "
                    "this angle (default 1)")
        ->check(CLI::Range(1, 9));
    command.add_flag("--no-details", flags.noDetails, "Do not describe the streams' headers");
    command.add_flag("--no-count", flags.noCount, "Do not count the video frames");
    command.add_flag("--full", flags.full,
                     "Read the whole file (no fast check past 300,000,000 bytes)");
    command.add_flag("--no-continue", flags.noContinue,
                     "Do not go on into the files that continue the source");
    AddCommon(command, flags.common);
}

// A front end for one file's runs with the command's flags.
struct Session {
    CliHost host;
    strandis::Engine engine;

    Session(const std::string& file, const ScanFlags& flags)
        : host(file, strandis::cli::ResolveColour(flags.common.colour), flags.common.json),
          engine(host) {
        host.attach(engine);
        host.setOption(Option::Details, !flags.noDetails);
        host.setOption(Option::CountFrames, !flags.noCount);
        host.setOption(Option::FastCheck, !flags.full);
        host.setOption(Option::Continue, !flags.noContinue);
        host.setQuiet(flags.common.quiet);
        host.setProgressJson(flags.common.progress == "json");
        engine.Angle = flags.angle;
    }
};

std::string NoStreamMessage(const std::string& file) {
    return "No program stream was recognised in \"" + file + "\".";
}

std::string SamePlace(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

// A title of a DVD disc that a run reads, with what it says of its tracks and chapters.
struct DiscPick {
    strandis::dvd::Disc disc;
    strandis::dvd::Title title;
    strandis::SourceTitle source;
    strandis::playlist::TitleInfo info;
    const std::string& firstFile() const { return source.extents.front().path; }
};

// The disc title a run over `file` reads: title `wanted`, or the main feature of a disc named
// by its folder or an IFO file; none for a file read whole. Raises RunError when the disc or
// the title cannot be read.
std::optional<DiscPick> PickTitle(CliHost& host, const std::string& file, int wanted, int angle) {
    if (wanted == 0 && !strandis::dvd::IsDiscPath(file)) return std::nullopt;
    // A folder that holds no disc is read as a file, and fails as one.
    std::error_code error;
    if (wanted == 0 && fs::is_directory(file, error) && strandis::dvd::FindVideoTs(file).empty())
        return std::nullopt;
    DiscPick pick;
    pick.disc = strandis::dvd::ReadDisc(file, angle);
    for (const std::string& problem : pick.disc.problems)
        host.log("Cannot read " + problem);
    pick.title = strandis::ChooseTitle(pick.disc, wanted);
    pick.source = strandis::MakeSourceTitle(pick.disc, pick.title);
    pick.info = strandis::dvd::TitleInfoOf(pick.title);
    host.log(strandis::dvd::DescribeTitle(pick.title) + " of " + pick.disc.name +
             (wanted == 0 ? ": the main feature." : "."));
    if (pick.title.angles > 1)
        host.log("It has " + std::to_string(pick.title.angles) + " angles: angle " +
                 std::to_string(pick.title.angle) +
                 " is read, the units its navigation packs name.");
    return pick;
}

// "scan A B C": one report per file, in an array when there are several; a file that an earlier
// one went on into (FEATURE_2.EVO after FEATURE_1.EVO) is not read again.
int RunScan(const ScanFlags& flags) {
    Json reports = Json::array();
    std::vector<std::string> read;
    int code = kExitOk;
    for (const std::string& file : flags.files) {
        if (std::find(read.begin(), read.end(), SamePlace(file)) != read.end()) continue;
        Session session(file, flags);
        strandis::Detected result;
        std::optional<std::string> failure;
        int failureCode = kExitFailed;
        std::optional<int> title;
        try {
            const std::optional<DiscPick> pick =
                PickTitle(session.host, file, flags.title, flags.angle);
            if (pick) title = pick->title.number;
            result = strandis::RunDetection(session.engine, pick ? pick->firstFile() : file,
                                            pick ? &pick->source : nullptr);
            session.host.finishProgress();
            if (!result.boxes.any()) failure = NoStreamMessage(file), failureCode = kExitNoStream;
        } catch (const strandis::RunError& error) {
            session.host.finishProgress();
            failure = error.what();
        }
        for (const std::string& path : result.files)
            read.push_back(SamePlace(path));
        if (failure) {
            std::cerr << *failure << '\n';
            code = std::max(code, failureCode);
            if (flags.common.json) {
                reports.push_back({{"format_version", strandis::cli::kFormatVersion},
                                   {"error", {{"message", *failure}, {"path", file}}}});
            }
        } else if (flags.common.json) {
            reports.push_back({
                {"format_version", strandis::cli::kFormatVersion},
                {"files", strandis::cli::FileList(result.files)},
                {"size_bytes", result.firstSize},
                {"streams", strandis::cli::StreamList(result)},
                {"frames", result.frames},
                {"stopped_early", result.stoppedEarly},
                {"log", session.host.plainLog()},
            });
            if (title) reports.back()["title"] = *title;
        }
        if (strandis::cli::g_interrupted != 0) {
            std::cerr << "Interrupted.\n";
            code = kExitInterrupted;
            break;
        }
    }
    if (flags.common.json) std::cout << Dump(reports.size() == 1 ? reports[0] : reports) << '\n';
    return code;
}

// The detection that a writing command starts with; the exit code when it ends the command
// there (a Ctrl-C, or no stream found).
std::optional<int> DetectFirst(Session& session, const std::string& file, const Common& common,
                               strandis::Detected& detected,
                               const strandis::SourceTitle* title = nullptr) {
    detected = strandis::RunDetection(session.engine, file, title);
    session.host.finishProgress();
    if (strandis::cli::g_interrupted != 0) {
        std::cerr << "Interrupted.\n";
        return kExitInterrupted;
    }
    if (!detected.boxes.any()) return Fail(common, NoStreamMessage(file), kExitNoStream);
    return std::nullopt;
}

constexpr const char* kStreamsHelp =
    "Boxes to tick, such as v0,a0,a3,s0 (default: every stream detected, or the playlist's "
    "tracks); +KEY adds a box to the default, -KEY leaves one out";

struct WriteFlags {
    ScanFlags scan;
    std::string outputFolder;
    std::string streams;
    std::string playlist;
    std::array<std::string, 3> extensions{"mpv", "mpa", "sup"};
    bool lpcmWav = false;
    strandis::SubFormat subFormat = strandis::SubFormat::Sup;
};

void AddWriteFlags(CLI::App& command, WriteFlags& flags, bool demux) {
    AddScanFlags(command, flags.scan, false);
    command.add_option("-o,--output", flags.outputFolder,
                       "Output folder (default: the source file's folder); created when its "
                       "parent folder exists");
    command.add_option("--playlist", flags.playlist,
                       "The disc's VPLST000.XPL: the title that plays the source ticks and names "
                       "its tracks");
    command.add_option("--streams", flags.streams, kStreamsHelp);
    if (demux) {
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
            ->transform(CLI::CheckedTransformer(formats, CLI::ignore_case).description(""))
            ->type_name("FORMAT");
    }
}

struct BoxKey {
    BoxKind kind;
    int slot;
};

// "v0", "a15", "s3": the box of a stream.
std::optional<BoxKey> ParseBoxKey(const std::string& key) {
    if (key.size() < 2 || key.size() > 3) return std::nullopt;
    if (key[0] != 'v' && key[0] != 'a' && key[0] != 's') return std::nullopt;
    const BoxKind kind = key[0] == 'v'   ? BoxKind::Video
                         : key[0] == 'a' ? BoxKind::Audio
                                         : BoxKind::Sub;
    int slot = 0;
    for (std::size_t k = 1; k < key.size(); ++k) {
        if (key[k] < '0' || key[k] > '9') return std::nullopt;
        slot = slot * 10 + (key[k] - '0');
    }
    if (!strandis::HasBox(kind, slot)) return std::nullopt;
    return BoxKey{kind, slot};
}

// A key of "--streams": a box to tick, or with "+" or "-" in front one to add to the default
// boxes or leave out of them.
struct StreamKey {
    std::string text;  // as written, sign included
    char sign;         // 0, '+' or '-'
    BoxKey box;
};
using StreamKeys = std::vector<StreamKey>;

// The keys of "--streams", blanks around them allowed; an error message for one that is no key.
std::optional<StreamKeys> ParseStreams(const std::string& list, std::string& error) {
    StreamKeys keys;
    std::stringstream in(list);
    for (std::string key; std::getline(in, key, ',');) {
        const std::size_t first = key.find_first_not_of(" \t");
        const std::size_t last = key.find_last_not_of(" \t");
        key = first == std::string::npos ? std::string() : key.substr(first, last - first + 1);
        const char sign = !key.empty() && (key[0] == '+' || key[0] == '-') ? key[0] : 0;
        const auto parsed = ParseBoxKey(sign != 0 ? key.substr(1) : key);
        if (!parsed) {
            error = "--streams: \"" + key + "\" is not a box key (v0-v1, a0-a15, s0-s15)";
            return std::nullopt;
        }
        keys.push_back({key, sign, *parsed});
    }
    return keys;
}

// The boxes to tick: those "--streams" names plainly; or, when it names none so, the default
// boxes (the playlist title's tracks, or every box) with its "+" keys added and its "-" keys
// left out. An error message for a key whose box holds no stream.
std::optional<std::string> ChooseBoxes(const StreamKeys& keys, const strandis::StreamBoxes& boxes,
                                       const std::vector<BoxKey>& defaults,
                                       std::vector<BoxKey>& ticked) {
    const bool plain =
        std::any_of(keys.begin(), keys.end(), [](const StreamKey& key) { return key.sign == 0; });
    if (!plain) ticked = defaults;
    for (const StreamKey& key : keys) {
        if (key.sign != '-' && !boxes.at(key.box.kind, key.box.slot).enabled)
            return "--streams: no stream was detected for the box " + key.text;
        const auto same = [&key](const BoxKey& b) {
            return b.kind == key.box.kind && b.slot == key.box.slot;
        };
        std::erase_if(ticked, same);
        if (key.sign != '-') ticked.push_back(key.box);
    }
    return std::nullopt;
}

// Ticks the boxes chosen that hold a stream, each captioned as the title's playlist labels its
// track (as "Read XPL" does in the window) or else with the detection's caption; an error
// message for a key whose box holds no stream. With a title, the default boxes are its tracks.
std::optional<std::string> TickBoxes(CliHost& host, const StreamKeys& keys,
                                     const strandis::StreamBoxes& boxes,
                                     const strandis::playlist::TitleInfo* title = nullptr) {
    std::vector<BoxKey> defaults;
    for (const BoxKind kind : {BoxKind::Video, BoxKind::Audio, BoxKind::Sub}) {
        for (int slot = 0; slot < strandis::BoxCount(kind); ++slot) {
            if (title == nullptr || strandis::FindTrack(*title, kind, slot) != nullptr)
                defaults.push_back({kind, slot});
        }
    }
    std::vector<BoxKey> ticked;
    if (auto problem = ChooseBoxes(keys, boxes, defaults, ticked)) return problem;
    for (const BoxKey key : ticked) {
        const strandis::StreamBox& box = boxes.at(key.kind, key.slot);
        if (!box.enabled) continue;
        const auto* track =
            title != nullptr ? strandis::FindTrack(*title, key.kind, key.slot) : nullptr;
        host.setTicked(key.kind, key.slot, true);
        host.setCaption(key.kind, key.slot,
                        track != nullptr && !track->label.empty() ? track->label : box.caption);
    }
    return std::nullopt;
}

// The title of the playlist that plays the source, for the boxes and the Matroska file; none
// when no title plays it (the playlist run says so).
std::optional<strandis::playlist::TitleInfo> PlaylistTitle(strandis::Engine& engine,
                                                           const std::string& playlist,
                                                           const std::string& source) {
    strandis::playlist::AttributeLabels labels;
    strandis::XplOutcome outcome =
        strandis::RunXpl(engine, playlist, strandis::SourceBase(source), labels);
    if (!outcome.playsSource) return std::nullopt;
    return std::move(outcome.title);
}

// The output folder: there, or made when its parent is; an error message otherwise.
std::optional<std::string> OutputFolderProblem(const std::string& folder) {
    if (folder.empty()) return std::nullopt;
    std::error_code error;
    if (fs::is_directory(folder, error)) return std::nullopt;
    if (fs::exists(folder, error)) return "\"" + folder + "\" is not a folder.";
    const fs::path parent = fs::path(folder).lexically_normal().parent_path();
    if (!parent.empty() && !fs::is_directory(parent, error))
        return "Cannot create the output folder \"" + folder +
               "\": the folder it would be in does not exist.";
    if (!fs::create_directory(folder, error) && error)
        return "Cannot create the output folder \"" + folder + "\". " + error.message() + ".";
    return std::nullopt;
}

int RunWriting(const WriteFlags& flags, bool rebuild) {
    const Common& common = flags.scan.common;
    const std::string& file = flags.scan.files.front();
    // What can be checked without reading the source is checked first.
    std::string error;
    const auto keys = ParseStreams(flags.streams, error);
    if (!flags.streams.empty() && !keys) return Fail(common, error, kExitUsage);
    if (const auto problem = OutputFolderProblem(flags.outputFolder))
        return Fail(common, *problem, kExitFailed);

    Session session(file, flags.scan);
    CliHost& host = session.host;
    try {
        const std::optional<DiscPick> pick =
            PickTitle(host, file, flags.scan.title, flags.scan.angle);
        const std::string source = pick ? pick->firstFile() : file;
        strandis::Detected detected;
        if (const auto ended =
                DetectFirst(session, source, common, detected, pick ? &pick->source : nullptr))
            return *ended;

        // Tick the boxes asked for, or the playlist's (or disc title's) tracks, or every box
        // with a stream.
        std::optional<strandis::playlist::TitleInfo> title;
        if (!flags.playlist.empty())
            title = PlaylistTitle(session.engine, flags.playlist, source);
        else if (pick)
            title = pick->info;
        if (const auto problem = TickBoxes(host, *keys, detected.boxes, title ? &*title : nullptr))
            return Fail(common, *problem, kExitUsage);
        host.setOutput(flags.outputFolder, flags.extensions);
        host.setOption(Option::LpcmWav, flags.lpcmWav);
        host.setSubFormat(flags.subFormat);
        const strandis::RunOutcome outcome =
            rebuild ? strandis::RunRebuild(session.engine, detected, source)
                    : strandis::RunDemux(session.engine, detected, source);
        host.finishProgress();
        if (common.json) {
            Json files = Json::array();
            for (const strandis::WrittenFile& written : outcome.files) {
                Json entry{{"path", written.path}, {"size_bytes", written.size}};
                for (const strandis::StreamDelay& delay : outcome.delays) {
                    if (delay.path == written.path)
                        entry["delay_ms"] = std::round(delay.milliseconds * 1000.0) / 1000.0;
                }
                files.push_back(entry);
            }
            std::cout << Dump({{"format_version", strandis::cli::kFormatVersion},
                               {"files", files},
                               {"stopped_early", outcome.stoppedEarly},
                               {"frames", outcome.frames},
                               {"log", host.plainLog()}})
                      << '\n';
        }
        if (strandis::cli::g_interrupted != 0) {
            std::cerr << "Interrupted: outputs are incomplete: "
                      << strandis::JoinedPaths(outcome.files) << '\n';
            return kExitInterrupted;
        }
        if (outcome.files.empty()) {
            std::cerr << "Nothing was written.\n";
            return kExitNothingWritten;
        }
    } catch (const strandis::RunError& runError) {
        host.finishProgress();
        return Fail(common, runError.what(), kExitFailed, runError.path());
    }
    return kExitOk;
}

struct MkvFlags {
    WriteFlags write;
    std::string output;
    bool keepWork = false;
    bool force = false;
    bool allTitles = false;
    double minLength = 120;  // seconds, for --all-titles
};

// One Matroska file: of `file`, or of title `titleNumber` of its disc, into `output` (the
// default place when empty). Its report, or its error, goes into `report`; returns the exit code.
int MakeMkv(const MkvFlags& flags, const std::string& file, int titleNumber,
            const std::string& output, const std::string& mkvmerge, Json& report) {
    const Common& common = flags.write.scan.common;
    std::string error;
    const auto keys = ParseStreams(flags.write.streams, error);
    Session session(file, flags.write.scan);
    CliHost& host = session.host;
    strandis::Engine& engine = session.engine;
    try {
        const std::optional<DiscPick> pick =
            PickTitle(host, file, titleNumber, flags.write.scan.angle);
        const std::string source = pick ? pick->firstFile() : file;
        strandis::Detected detected;
        if (const auto ended =
                DetectFirst(session, source, common, detected, pick ? &pick->source : nullptr))
            return *ended;

        // The playlist's title that plays the source, or the disc title: names, languages,
        // flags, order, chapters.
        strandis::MatroskaRequest request;
        request.output = output;
        request.mkvmerge = mkvmerge;
        request.keepWork = flags.keepWork;
        request.replace = flags.force;
        std::optional<strandis::playlist::TitleInfo> title;
        if (!flags.write.playlist.empty())
            title = PlaylistTitle(engine, flags.write.playlist, source);
        else if (pick)
            title = pick->info;
        if (title) request.title = *title;
        if (const auto problem = TickBoxes(host, *keys, detected.boxes, title ? &*title : nullptr))
            return Fail(common, *problem, kExitUsage);
        host.setOutput({}, flags.write.extensions);
        const strandis::MatroskaOutcome made =
            strandis::RunMatroska(engine, detected, source, request);
        host.finishProgress();
        Json tracks = Json::array();
        for (const strandis::MkvTrack& t : made.tracks) {
            tracks.push_back({{"source", fs::path(t.path).filename().string()},
                              {"name", t.name},
                              {"language", t.language},
                              {"forced", t.forced},
                              {"commentary", t.commentary},
                              {"visually_impaired", t.visuallyImpaired},
                              {"delay_ms", std::round(t.delayMs * 1000.0) / 1000.0}});
        }
        report = {{"format_version", strandis::cli::kFormatVersion},
                  {"output", made.output},
                  {"tracks", tracks},
                  {"command", made.command},
                  {"mkvmerge_exit_code", made.mkvmergeExitCode},
                  {"log", host.plainLog()}};
        if (pick) report["title"] = pick->title.number;
    } catch (const strandis::RunError& runError) {
        host.finishProgress();
        if (strandis::cli::g_interrupted != 0) {
            std::cerr << "Interrupted: " << runError.what() << '\n';
            return kExitInterrupted;
        }
        std::cerr << runError.what() << '\n';
        report = {{"format_version", strandis::cli::kFormatVersion},
                  {"error", {{"message", runError.what()}, {"path", runError.path()}}}};
        if (titleNumber > 0) report["title"] = titleNumber;
        return kExitFailed;
    }
    return kExitOk;
}

// "mkv": the chosen streams demultiplexed into a folder beside the output (LPCM as WAV,
// subpictures as PGS), then one mkvmerge run with each track's delay, the playlist's (or the
// disc title's) names, languages, flags, title and chapters. The folder goes when mkvmerge
// succeeds and stays, with a log line naming it, when anything fails or is stopped. With
// --all-titles, one file per title of the disc that lasts --min-length or longer, into the
// folder -o names.
int RunMkv(const MkvFlags& flags) {
    const Common& common = flags.write.scan.common;
    const std::string& file = flags.write.scan.files.front();
    std::string error;
    const auto keys = ParseStreams(flags.write.streams, error);
    if (!flags.write.streams.empty() && !keys) return Fail(common, error, kExitUsage);
    const std::optional<std::string> mkvmerge = strandis::FindMkvmerge();
    if (!mkvmerge) return Fail(common, strandis::kNoMkvmerge, kExitFailed);
    if (!flags.allTitles) {
        Json report;
        const int code =
            MakeMkv(flags, file, flags.write.scan.title, flags.output, *mkvmerge, report);
        if (common.json && !report.is_null()) std::cout << Dump(report) << '\n';
        return code;
    }

    if (flags.write.scan.title != 0)
        return Fail(common, "--all-titles makes every title: --title is not for it.", kExitUsage);
    if (const auto problem = OutputFolderProblem(flags.output))
        return Fail(common, *problem, kExitFailed);
    strandis::dvd::Disc disc;
    try {
        disc = strandis::dvd::ReadDisc(file);
    } catch (const strandis::RunError& runError) {
        return Fail(common, runError.what(), kExitFailed, runError.path());
    }
    Json reports = Json::array();
    int code = kExitOk;
    int made = 0;
    for (const strandis::dvd::Title& title : disc.titles) {
        if (title.problem.empty() && title.durationMs < flags.minLength * 1000.0) {
            if (!common.quiet && !common.json)
                std::cerr << strandis::dvd::DescribeTitle(title) << " is shorter than "
                          << flags.minLength << " s: left out.\n";
            continue;
        }
        char name[16];
        std::snprintf(name, sizeof name, "_title%02d.mkv", title.number);
        const std::string output = flags.output.empty()
                                       ? std::string()
                                       : (fs::path(flags.output) / (disc.name + name)).string();
        Json report;
        const int result = MakeMkv(flags, file, title.number, output, *mkvmerge, report);
        if (!report.is_null()) reports.push_back(report);
        code = std::max(code, result);
        made += result == kExitOk ? 1 : 0;
        if (strandis::cli::g_interrupted != 0) break;
    }
    if (common.json)
        std::cout << Dump({{"format_version", strandis::cli::kFormatVersion}, {"titles", reports}})
                  << '\n';
    if (made == 0 && code == kExitOk) {
        std::cerr << "No title lasts " << flags.minLength << " s or longer.\n";
        return kExitNothingWritten;
    }
    return code;
}

struct XplFlags {
    std::string playlist;
    std::string source;
    std::string chapters;
    std::string chapterFormat = "xml";
    Common common;
};

// The title's facts for scripts: name, duration, time base, chapters and tracks.
Json TitleJson(const strandis::playlist::TitleInfo& title) {
    const auto ms = [](std::int64_t ns) { return static_cast<double>(ns / 1000) / 1000.0; };
    Json chapters = Json::array();
    for (const strandis::playlist::Chapter& chapter : title.chapters)
        chapters.push_back({{"start_ms", ms(chapter.startNs)}, {"name", chapter.name}});
    Json tracks = Json::array();
    for (const strandis::playlist::TrackInfo& track : title.tracks) {
        const char* kind = track.kind == strandis::playlist::TrackKind::Video   ? "video"
                           : track.kind == strandis::playlist::TrackKind::Audio ? "audio"
                                                                                : "subtitle";
        tracks.push_back({{"kind", kind},
                          {"track", track.track},
                          {"stream_number", track.streamNumber},
                          {"codec", track.codec},
                          {"description", track.description},
                          {"language", track.language},
                          {"forced", track.forced},
                          {"caption", track.label}});
    }
    Json out{{"name", title.name},          {"duration", title.duration},
             {"time_base", title.timeBase}, {"default_language", title.defaultLanguage},
             {"chapters", chapters},        {"tracks", tracks}};
    if (title.durationNs) out["duration_ms"] = ms(*title.durationNs);
    return out;
}

// Writes the title's chapters; an error message when they cannot be written.
std::optional<std::string> WriteChapters(const XplFlags& flags,
                                         const strandis::playlist::TitleInfo& title) {
    if (title.chapters.empty()) return "The title \"" + title.name + "\" has no chapters.";
    const std::string text = flags.chapterFormat == "ogm" ? strandis::OgmChapters(title)
                                                          : strandis::MatroskaChapters(title);
    std::ofstream out(flags.chapters, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::error_code ignored;
        fs::remove(flags.chapters, ignored);
        return "Cannot write file \"" + flags.chapters + "\".";
    }
    return std::nullopt;
}

int RunXplCommand(const XplFlags& flags) {
    CliHost host(flags.source, strandis::cli::ResolveColour(flags.common.colour), true);
    host.setQuiet(flags.common.quiet);
    strandis::Engine engine(host);
    host.attach(engine);
    const std::string sourceBase =
        flags.source.empty() ? std::string() : strandis::SourceBase(flags.source);
    strandis::playlist::AttributeLabels labels;
    strandis::XplOutcome outcome;
    try {
        outcome = strandis::RunXpl(engine, flags.playlist, sourceBase, labels);
    } catch (const strandis::RunError& error) {
        host.finishProgress();
        return Fail(flags.common, error.what(), kExitFailed, error.path());
    }
    host.finishProgress();
    if (!flags.chapters.empty()) {
        if (const auto problem = WriteChapters(flags, outcome.title)) {
            return Fail(flags.common, *problem,
                        outcome.title.chapters.empty() ? kExitNothingWritten : kExitFailed);
        }
    }
    const strandis::playlist::TitleTree& tree = outcome.tree;
    const std::vector<std::pair<const char*, const std::vector<std::string>*>> nodes{
        {"Info", &tree.info},
        {"Video", &tree.video},
        {"Audio", &tree.audio},
        {"Subtitle", &tree.subtitle},
        {"Chapter", &tree.chapter}};
    if (flags.common.json) {
        Json treeJson = Json::object();
        for (const auto& [name, children] : nodes)
            treeJson[name] = *children;
        Json boxes = Json::array();
        for (const strandis::playlist::Track& track : tree.tracks) {
            if (track.kind == strandis::playlist::TrackKind::Video && track.slot != 0)
                continue;  // no box
            const char* prefix = track.kind == strandis::playlist::TrackKind::Video   ? "v"
                                 : track.kind == strandis::playlist::TrackKind::Audio ? "a"
                                                                                      : "s";
            boxes.push_back(
                {{"box", prefix + std::to_string(track.slot)}, {"caption", track.label}});
        }
        std::cout << Dump({{"format_version", strandis::cli::kFormatVersion},
                           {"lines", outcome.lines},
                           {"tree", treeJson},
                           {"boxes", boxes},
                           {"title", TitleJson(outcome.title)}})
                  << '\n';
        return kExitOk;
    }
    if (flags.common.quiet) return kExitOk;
    for (const std::string& line : outcome.lines)
        std::cout << line << '\n';
    std::cout << '\n';
    for (const auto& [name, children] : nodes) {
        std::cout << name << '\n';
        for (const std::string& child : *children)
            std::cout << "  " << child << '\n';
    }
    std::cout << '\n';
    const Colour colour = strandis::cli::ResolveColour(flags.common.colour);
    host.printKeptLog(colour == Colour::Always ||
                      (colour == Colour::Auto && isatty(STDOUT_FILENO)));
    return kExitOk;
}

struct TitlesFlags {
    std::string disc;
    Common common;
};

int RunTitles(const TitlesFlags& flags) {
    // An HD DVD: its playlist's titles.
    if (const std::string playlist = strandis::cli::HdDvdPlaylist(flags.disc); !playlist.empty()) {
        CliHost host(playlist, strandis::cli::ResolveColour(flags.common.colour), true);
        host.setQuiet(true);
        strandis::Engine engine(host);
        host.attach(engine);
        std::vector<strandis::PlaylistTitle> titles;
        try {
            titles = strandis::ReadPlaylistTitles(engine, playlist);
        } catch (const strandis::RunError& error) {
            return Fail(flags.common, error.what(), kExitFailed, error.path());
        }
        if (flags.common.json) {
            Json report = strandis::cli::HdDvdTitlesJson(titles, playlist);
            report["format_version"] = strandis::cli::kFormatVersion;
            std::cout << Dump(report) << '\n';
        } else if (!flags.common.quiet) {
            std::cout << strandis::cli::HdDvdTitlesText(titles, playlist);
        }
        return titles.empty() ? kExitNoStream : kExitOk;
    }
    strandis::dvd::Disc disc;
    try {
        disc = strandis::dvd::ReadDisc(flags.disc);
    } catch (const strandis::RunError& error) {
        return Fail(flags.common, error.what(), kExitFailed, error.path());
    }
    if (flags.common.json) {
        Json report = strandis::cli::TitlesJson(disc);
        report["format_version"] = strandis::cli::kFormatVersion;
        std::cout << Dump(report) << '\n';
    } else if (!flags.common.quiet) {
        std::cout << strandis::dvd::DiscText(disc);
    }
    return disc.titles.empty() ? kExitNoStream : kExitOk;
}

// Whether the words on the command line ask for JSON: a usage error is then reported so too.
bool AsksForJson(int argc, char** argv) {
    for (int k = 1; k < argc; ++k) {
        if (std::string(argv[k]) == "--json") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Strandis: lists, describes and extracts the streams of HD DVD, DVD-Video and DVD-Audio "
        "program streams",
        "strandis-cli"};
    app.formatter(std::make_shared<Formatter>());
    app.set_version_flag("--version", std::string("strandis-cli ") + STRANDIS_VERSION);
    app.require_subcommand(1);

    ScanFlags scan;
    CLI::App* scanCommand =
        app.add_subcommand("scan", "List and describe the streams of files (\"Read EVO\")");
    AddScanFlags(*scanCommand, scan, true);

    WriteFlags demux;
    CLI::App* demuxCommand =
        app.add_subcommand("demux", "Write each stream to a file of its own (\"Demux\")");
    AddWriteFlags(*demuxCommand, demux, true);
    WriteFlags rebuild;
    CLI::App* rebuildCommand =
        app.add_subcommand("rebuild", "Copy the source without the streams left out (\"Rebuild\")");
    AddWriteFlags(*rebuildCommand, rebuild, false);

    MkvFlags mkv;
    CLI::App* mkvCommand = app.add_subcommand(
        "mkv", "Demux the chosen streams into one Matroska file, made by mkvmerge");
    AddScanFlags(*mkvCommand, mkv.write.scan, false);
    mkvCommand->add_option("--playlist", mkv.write.playlist,
                           "The disc's VPLST000.XPL: track names, languages, title, chapters");
    mkvCommand->add_option("--streams", mkv.write.streams, kStreamsHelp);
    mkvCommand->add_option(
        "-o,--output", mkv.output,
        "The Matroska file (default: the source's base name and .mkv beside it)");
    mkvCommand->add_flag("--keep-work", mkv.keepWork,
                         "Keep the demultiplexed streams (a hidden folder beside the output), "
                         "also when the step fails");
    mkvCommand->add_flag("--force", mkv.force, "Replace an existing Matroska file");
    mkvCommand->add_flag("--all-titles", mkv.allTitles,
                         "One Matroska file per title of the DVD-Video disc FILE (into the folder "
                         "-o names, or beside the VOBs)");
    mkvCommand
        ->add_option("--min-length", mkv.minLength,
                     "With --all-titles, leave out titles shorter than this many seconds")
        ->capture_default_str();

    TitlesFlags titles;
    CLI::App* titlesCommand = app.add_subcommand(
        "titles", "List the titles of a DVD-Video disc: chapters, angles, cells, tracks, palette");
    titlesCommand
        ->add_option("DISC", titles.disc,
                     "The disc's folder, its VIDEO_TS folder or a file in it (.IFO, .VOB)")
        ->required();
    AddCommon(*titlesCommand, titles.common);

    XplFlags xpl;
    CLI::App* xplCommand =
        app.add_subcommand("xpl", "Show a playlist and the title that plays a file (\"Read XPL\")");
    xplCommand->add_option("PLAYLIST", xpl.playlist, "The playlist (VPLST000.XPL)")->required();
    xplCommand->add_option("--source", xpl.source, "The file whose base name picks the title");
    xplCommand->add_option("--chapters", xpl.chapters,
                           "Write the title's chapters to this file (for mkvmerge --chapters)");
    xplCommand
        ->add_option("--chapter-format", xpl.chapterFormat,
                     "xml (Matroska XML chapters, the default) or ogm (CHAPTER01=...)")
        ->check(CLI::IsMember({"xml", "ogm"}).description(""))
        ->type_name("FORMAT");
    AddCommon(*xplCommand, xpl.common);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& parseError) {
        if (parseError.get_exit_code() != 0 && AsksForJson(argc, argv)) {
            Common json;
            json.json = true;
            return Fail(json, parseError.what(), kExitUsage);
        }
        const int code = app.exit(parseError);
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
        if (*mkvCommand) return RunMkv(mkv);
        if (*titlesCommand) return RunTitles(titles);
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return kExitFailed;
    }
    return kExitOk;
}
