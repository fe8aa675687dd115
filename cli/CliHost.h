#pragma once

#include <array>
#include <csignal>
#include <string>
#include <vector>

#include "common/RunHost.h"
#include "engine/Engine.h"

namespace strandis::cli {

enum class Colour { Auto, Always, Never };

// What "--color=WHEN" asks for, the environment heard: NO_COLOR (set and not empty) and
// TERM=dumb turn "auto" off.
Colour ResolveColour(const std::string& when);

// How a mark-up line reads on a terminal: ANSI bold / bold blue where `ansi`, plain otherwise.
std::string RenderMarkup(std::string_view line, bool ansi);

// Set by SIGINT; the host turns it into a stop request at the next progress point.
extern volatile std::sig_atomic_t g_interrupted;
void InstallInterruptHandler();

// The runs' front end on a terminal: options from the command's flags, the log on stdout (or
// kept for the JSON report), progress on stderr when it is a terminal.
class CliHost final : public RunHost {
public:
    CliHost(std::string sourcePath, Colour colour, bool collectLog);

    void attach(Engine& engine) { engine_ = &engine; }
    // No log on stdout: errors only.
    void setQuiet(bool quiet) { quiet_ = quiet; }
    // Progress as one JSON line per step on stderr, instead of the terminal's progress line.
    void setProgressJson(bool json) { progressJson_ = json; }
    void setOption(Option which, bool on) { options_[static_cast<std::size_t>(which)] = on; }
    void setTicked(BoxKind kind, int slot, bool on);
    void setCaption(BoxKind kind, int slot, std::string caption);
    void setOutput(std::string folder, std::array<std::string, 3> extensions);
    const std::vector<std::string>& plainLog() const { return plainLog_; }
    // Prints the lines kept so far as the terminal shows them.
    void printKeptLog(bool ansi) const;
    void finishProgress();

    void log(std::string_view markedUpLine) override;
    void slog(std::string_view text, int panel) override;
    void progress(std::int64_t position, std::int64_t size) override;
    void beginStep(std::string_view step) override { step_ = step; }
    void muxProgress(int percent) override;
    void processPendingEvents() override;
    bool option(Option which) const override { return options_[static_cast<std::size_t>(which)]; }
    SubFormat subFormat() const override { return subFormat_; }
    void setSubFormat(SubFormat format) { subFormat_ = format; }
    bool ticked(BoxKind kind, int slot) const override;
    std::string_view sourcePath() const override { return sourcePath_; }
    std::string caption(BoxKind kind, int slot) const override;
    std::string outputFolder() const override { return folder_; }
    std::string extension(BoxKind kind) const override {
        return extensions_[static_cast<std::size_t>(kind)];
    }
    // Numbers in the log are written alike everywhere, whatever the locale.
    char decimalSeparator() const override { return '.'; }

private:
    SubFormat subFormat_ = SubFormat::Sup;
    std::string step_ = "detect";
    std::string sourcePath_;
    bool ansi_;
    bool collect_;
    bool progressShown_ = false;
    bool progressTty_;
    bool quiet_ = false;
    bool progressJson_ = false;
    Engine* engine_ = nullptr;
    std::array<bool, kOptionCount> options_{true, true, true, true, false};
    std::array<bool, kBoxTotal> ticks_{};
    std::array<std::string, kBoxTotal> captions_;
    std::string folder_;
    std::array<std::string, 3> extensions_{"mpv", "mpa", "sup"};
    std::vector<std::string> plainLog_;
    std::vector<std::string> keptLog_;
};

}  // namespace strandis::cli
