#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace strandis {

// The options of the "Options" page that the runs read while they go. LpcmWav: LPCM streams are
// written as WAV files.
enum class Option { FastCheck, CountFrames, Details, Continue, LpcmWav };
constexpr std::size_t kOptionCount = 5;

// What the demux writes subpictures as: "SP" records, PGS, or VobSub (DVD units only).
enum class SubFormat { Sup, Pgs, VobSub };

// The three groups of stream boxes.
enum class BoxKind { Video, Audio, Sub };

// The boxes that take streams: cbVideo0-1 (the window shows eight; the others stay empty),
// cbAudio00-15 and cbSub00-15, one per inventory slot of the same number.
constexpr int BoxCount(BoxKind kind) {
    return kind == BoxKind::Video ? 2 : 16;
}
constexpr bool HasBox(BoxKind kind, int slot) {
    return slot >= 0 && slot < BoxCount(kind);
}
inline constexpr std::size_t kBoxTotal = 2 + 16 + 16;
// The place of a box among all of them: video first, then audio, then subpictures.
constexpr std::size_t BoxIndex(BoxKind kind, int slot) {
    return static_cast<std::size_t>(kind == BoxKind::Video   ? slot
                                    : kind == BoxKind::Audio ? 2 + slot
                                                             : 18 + slot);
}

// What a run may ask of its front end. Options and box ticks are read at the moment they are
// needed, since the user may change them while a scan is going on.
class RunHost {
public:
    virtual ~RunHost() = default;

    // One line of the message log, with its mark-up ("[b]...[/b]", "[bl]...[/bl]").
    virtual void log(std::string_view markedUpLine) = 0;
    // Status-bar panel 0 (activity) or 1 (progress).
    virtual void slog(std::string_view text, int panel) = 0;
    // The bytes of the file being read that are done, with the progress line.
    virtual void progress(std::int64_t /*position*/, std::int64_t /*size*/) {}
    // A run begins a step ("detect", "demux", "rebuild", "mux"), for progress shown by step.
    virtual void beginStep(std::string_view /*step*/) {}
    // The muxer's progress, in percent.
    virtual void muxProgress(int /*percent*/) {}
    // Called every 4 MiB of input: the only moment a Cancel request can arrive.
    virtual void processPendingEvents() = 0;
    // Called every 64 MiB of input.
    virtual void repaint() {}
    // The scanner is running (Cancel enabled) or has stopped.
    virtual void scanActive(bool /*active*/) {}

    virtual bool option(Option which) const = 0;
    virtual SubFormat subFormat() const { return SubFormat::Sup; }
    virtual bool ticked(BoxKind kind, int slot) const = 0;
    // The text of the source field; its extension decides the ".AOB" rule.
    virtual std::string_view sourcePath() const = 0;
    // The caption of a stream box (it names the box's output file).
    virtual std::string caption(BoxKind /*kind*/, int /*slot*/) const { return {}; }
    // The output folder ("" for the source file's folder) and the extension of each kind's files.
    virtual std::string outputFolder() const { return {}; }
    virtual std::string extension(BoxKind kind) const {
        return kind == BoxKind::Video ? "mpv" : kind == BoxKind::Audio ? "mpa" : "sup";
    }
    // The user's separators for real numbers and times.
    virtual char decimalSeparator() const { return '.'; }
    virtual char timeSeparator() const { return ':'; }
};

// Tells the host that a pass over the source is running (Cancel enabled) for as long as it
// lives, whichever way the pass ends, and holds `demuxActive` at 1 meanwhile for a pass that
// writes (Cancel then asks first).
class ScanActive {
public:
    ScanActive(RunHost& host, std::uint8_t& demuxActive, bool writes)
        : host_(host), demuxActive_(demuxActive) {
        demuxActive_ = writes ? 1 : 0;
        host_.scanActive(true);
    }
    ~ScanActive() {
        host_.scanActive(false);
        demuxActive_ = 0;
    }
    ScanActive(const ScanActive&) = delete;
    ScanActive& operator=(const ScanActive&) = delete;

private:
    RunHost& host_;
    std::uint8_t& demuxActive_;
};

}  // namespace strandis
