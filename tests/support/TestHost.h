#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "analysers/Analysers.h"
#include "common/RunHost.h"
#include "engine/Detection.h"
#include "engine/Engine.h"

namespace strandis::test {

// A front end that records what the runs say and answers with settable options and ticks
// (all on at first).
class TestHost : public RunHost {
public:
    std::vector<std::string> lines;
    std::vector<std::pair<int, std::string>> status;
    std::array<bool, kOptionCount> options{true, true, true, true, false};
    SubFormat subpictures = SubFormat::Sup;
    std::array<bool, 34> ticks = Filled();
    std::string source;
    int pendingEventCalls = 0;
    int repaints = 0;
    bool active = false;
    std::function<void()> onPendingEvents;
    std::array<std::string, 34> captions;
    std::string folder;
    std::array<std::string, 3> extensions{"mpv", "mpa", "sup"};

    void log(std::string_view line) override { lines.emplace_back(line); }
    void slog(std::string_view text, int panel) override {
        status.emplace_back(panel, std::string(text));
    }
    void processPendingEvents() override {
        ++pendingEventCalls;
        if (onPendingEvents) onPendingEvents();
    }
    void repaint() override { ++repaints; }
    void scanActive(bool on) override { active = on; }
    bool option(Option which) const override { return options[static_cast<std::size_t>(which)]; }
    SubFormat subFormat() const override { return subpictures; }
    bool ticked(BoxKind kind, int slot) const override { return ticks[Index(kind, slot)]; }
    std::string_view sourcePath() const override { return source; }
    std::string caption(BoxKind kind, int slot) const override {
        return captions[Index(kind, slot)];
    }
    std::string outputFolder() const override { return folder; }
    std::string extension(BoxKind kind) const override {
        return extensions[static_cast<std::size_t>(kind)];
    }

    void set(Option which, bool on) { options[static_cast<std::size_t>(which)] = on; }
    void tick(BoxKind kind, int slot, bool on) { ticks[Index(kind, slot)] = on; }
    void untickAll() { ticks.fill(false); }
    // Ticks and captions the boxes as a detection run left them.
    void takeBoxes(const StreamBoxes& boxes);

private:
    static std::size_t Index(BoxKind kind, int slot) {
        return static_cast<std::size_t>(kind == BoxKind::Video   ? slot
                                        : kind == BoxKind::Audio ? 2 + slot
                                                                 : 18 + slot);
    }
    static std::array<bool, 34> Filled() {
        std::array<bool, 34> all{};
        all.fill(true);
        return all;
    }
};

// Keeps the lines a header reader or a converter logs.
class LogLines final : public analysers::LogSink {
public:
    std::vector<std::string> lines;
    void log(std::string_view line) override { lines.emplace_back(line); }
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return (root_ / name).string(); }
    const std::filesystem::path& root() const { return root_; }

private:
    std::filesystem::path root_;
};

}  // namespace strandis::test
