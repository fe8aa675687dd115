#include "cli/CliHost.h"

#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "common/Markup.h"

namespace strandis::cli {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

extern "C" void OnInterrupt(int) {
    g_interrupted = 1;
}

std::string AnsiStart(const MarkupSegment& segment) {
    switch (segment.style) {
        case TagStyle::Bold:
            return "\x1b[1m";
        case TagStyle::Italic:
            return "\x1b[3m";
        case TagStyle::Underline:
            return "\x1b[4m";
        case TagStyle::BoldBlue:
            return "\x1b[1;34m";
        case TagStyle::Colour:
            return "\x1b[38;2;" + std::to_string(segment.colour & 0xFF) + ";" +
                   std::to_string((segment.colour >> 8) & 0xFF) + ";" +
                   std::to_string((segment.colour >> 16) & 0xFF) + "m";
        default:
            return {};  // sizes and the regular style have no terminal form
    }
}

}  // namespace

Colour ResolveColour(const std::string& when) {
    if (when == "always" || when.empty()) return Colour::Always;
    if (when == "never") return Colour::Never;
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    if ((noColour != nullptr && *noColour != '\0') ||
        (term != nullptr && std::string(term) == "dumb"))
        return Colour::Never;
    return Colour::Auto;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Ctrl-C and a request to end (SIGTERM) alike: the run stops at its next progress point,
    // stops a muxer it started, and says what it leaves incomplete.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string RenderMarkup(std::string_view line, bool ansi) {
    MarkupLine parsed = ParseMarkup(line);
    if (!ansi) return std::move(parsed.plain);
    std::string out;
    std::size_t pos = 0;
    for (const MarkupSegment& segment : parsed.segments) {
        out.append(parsed.plain, pos, segment.start - pos);
        const std::string start = AnsiStart(segment);
        out += start;
        out.append(parsed.plain, segment.start, segment.length);
        if (!start.empty()) out += "\x1b[0m";
        pos = segment.start + segment.length;
    }
    out.append(parsed.plain, pos);
    return out;
}

CliHost::CliHost(std::string sourcePath, Colour colour, bool collectLog)
    : sourcePath_(std::move(sourcePath)),
      ansi_(!collectLog &&
            (colour == Colour::Always || (colour == Colour::Auto && isatty(STDOUT_FILENO)))),
      collect_(collectLog),
      progressTty_(isatty(STDERR_FILENO) != 0) {}

void CliHost::setTicked(BoxKind kind, int slot, bool on) {
    if (HasBox(kind, slot)) ticks_[BoxIndex(kind, slot)] = on;
}

void CliHost::setCaption(BoxKind kind, int slot, std::string caption) {
    if (HasBox(kind, slot)) captions_[BoxIndex(kind, slot)] = std::move(caption);
}

std::string CliHost::caption(BoxKind kind, int slot) const {
    return HasBox(kind, slot) ? captions_[BoxIndex(kind, slot)] : std::string();
}

void CliHost::setOutput(std::string folder, std::array<std::string, 3> extensions) {
    folder_ = std::move(folder);
    extensions_ = std::move(extensions);
}

bool CliHost::ticked(BoxKind kind, int slot) const {
    return HasBox(kind, slot) && ticks_[BoxIndex(kind, slot)];
}

void CliHost::log(std::string_view markedUpLine) {
    finishProgress();
    if (collect_) {
        plainLog_.push_back(ParseMarkup(markedUpLine).plain);
        keptLog_.emplace_back(markedUpLine);
        return;
    }
    if (!quiet_) std::cout << RenderMarkup(markedUpLine, ansi_) << '\n';
}

void CliHost::printKeptLog(bool ansi) const {
    for (const std::string& line : keptLog_)
        std::cout << RenderMarkup(line, ansi) << '\n';
}

void CliHost::progress(std::int64_t position, std::int64_t size) {
    if (!progressJson_) return;
    const double percent =
        size > 0 ? 100.0 * static_cast<double>(position) / static_cast<double>(size) : 0;
    char line[200];
    std::snprintf(line, sizeof line,
                  "{\"step\":\"%s\",\"bytes_done\":%lld,\"bytes_total\":%lld,\"percent\":%.1f}\n",
                  step_.c_str(), static_cast<long long>(position), static_cast<long long>(size),
                  percent);
    std::cerr << line << std::flush;
}

void CliHost::muxProgress(int percent) {
    if (!progressJson_) return;
    std::cerr << "{\"step\":\"" << step_ << "\",\"percent\":" << percent << "}\n" << std::flush;
}

void CliHost::slog(std::string_view text, int panel) {
    if (panel != 1 || !progressTty_ || progressJson_ || quiet_ || text.empty()) return;
    std::cerr << '\r' << text << "\x1b[K" << std::flush;
    progressShown_ = true;
}

void CliHost::finishProgress() {
    if (!progressShown_) return;
    std::cerr << "\r\x1b[K" << std::flush;
    progressShown_ = false;
}

void CliHost::processPendingEvents() {
    std::cout.flush();
    if (g_interrupted != 0 && engine_ != nullptr) engine_->StopFlag = 1;
}

}  // namespace strandis::cli
