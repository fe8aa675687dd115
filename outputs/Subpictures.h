#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "analysers/Analysers.h"
#include "analysers/DvdSubpicture.h"
#include "analysers/HdDvdSubpicture.h"
#include "io/OutputFile.h"
#include "outputs/StreamOutput.h"

namespace strandis {

using analysers::Caption;
using analysers::DvdPalette;
using analysers::YCrCbA;

// The PGS (presentation graphics) segments of captions: each caption is a display set of PCS,
// WDS, PDS, ODS and END at its start, and a PCS without objects, WDS and END at its end.
class PgsWriter {
public:
    PgsWriter(OutputFile& file, int videoWidth, int videoHeight)
        : file_(file), videoWidth_(videoWidth), videoHeight_(videoHeight) {}
    int videoWidth() const { return videoWidth_; }
    int videoHeight() const { return videoHeight_; }
    // The caption, cut to the screen (nothing when none of it is on the screen).
    void caption(const Caption& caption);
    // Ends the last caption, when it had no end of its own: at `fallbackEnd`.
    void finish(std::int64_t fallbackEnd);
    // Ends the caption shown, at its own end or at `at` when that comes first: where a caption
    // of the full stream that this writer leaves out begins.
    void endAt(std::int64_t at) {
        if (shown_) clear(shown_->end ? std::min(*shown_->end, at) : at);
    }

private:
    // A caption on the screen: when, and where.
    struct Shown {
        std::int64_t start;
        std::optional<std::int64_t> end;
        int x, y, width, height;
    };
    void segment(std::uint8_t type, std::int64_t pts, const std::vector<std::uint8_t>& body);
    void clear(std::int64_t at);
    void window(std::int64_t at, const Shown& place);
    void encode(const Caption& c, const Shown& place, std::array<bool, 256>& used);

    OutputFile& file_;
    int videoWidth_, videoHeight_;
    std::uint16_t composition_ = 0;
    std::optional<Shown> shown_;  // shown, waiting for its end
    std::vector<std::uint8_t> rle_, body_;
    std::size_t rleLength_ = 0;  // of the object in rle_
};

// VobSub: the units as they are in MPEG program stream packs (.sub), and the index of their
// times, places in the file and palette (.idx, written when the run ends).
class VobSubWriter {
public:
    VobSubWriter(OutputFile& sub, OutputFile& idx, int videoWidth, int videoHeight,
                 const DvdPalette& palette);
    void unit(const std::uint8_t* unit, std::size_t length, std::int64_t pts);
    // Writes the index.
    void finish();

private:
    OutputFile& sub_;
    OutputFile& idx_;
    int videoWidth_, videoHeight_;
    DvdPalette palette_;
    std::vector<std::pair<std::int64_t, std::int64_t>> entries_;  // time, file position
    std::vector<std::uint8_t> pack_;
};

// The subpicture stream of one slot converted as it is demultiplexed: the chunks become whole
// units, each decoded and written as PGS or stored as VobSub by a thread of its own, so that
// the scan does not wait for the pixels. A unit that does not decode is left out with a line in
// `log`, given on the caller's thread in the order of the units; a failure to write is raised
// there too, at the next write or at finish.
class SubpictureOutput final : public StreamOutput {
public:
    // With `idx` (the VobSub index) the units are stored as VobSub, otherwise written as PGS.
    SubpictureOutput(OutputFile& file, OutputFile* idx, int videoWidth, int videoHeight,
                     const DvdPalette& palette, analysers::LogSink& log);
    ~SubpictureOutput() override;  // stops the thread; what it did not write is lost
    SubpictureOutput(const SubpictureOutput&) = delete;
    SubpictureOutput& operator=(const SubpictureOutput&) = delete;

    void write(const std::uint8_t* data, std::size_t length, bool start, std::int64_t pts) override;
    // Ends the stream: the last unit, the last caption, the index.
    void finish() override;
    // The captions written (after finish): units that decoded (PGS) or were stored (VobSub).
    int captions() const { return captions_; }
    // With PGS, writes the forced captions (those a unit starts with its "forced start" command)
    // once more into `file`, alone: the track a player shows when no subtitles are chosen. Given
    // before the first write.
    void alsoForced(OutputFile& file);
    // The captions written into that file (after finish).
    int forcedCaptions() const { return forced_; }

private:
    // A whole unit and its time, or (with `why`) a unit left out before it was whole.
    struct Unit {
        std::vector<std::uint8_t> bytes;
        std::int64_t pts = 0;
        std::string why;
    };
    static constexpr std::size_t kQueued = 32;  // units waiting for the thread at most

    void skip(const std::string& why);
    void post(Unit unit);
    void drain();
    void work();
    void convert(const Unit& unit, std::string& line);
    void stopWorker() noexcept;

    analysers::LogSink& log_;
    DvdPalette palette_;
    // The thread's alone until it ends.
    std::optional<PgsWriter> pgs_;
    std::optional<VobSubWriter> vobsub_;
    std::int64_t last_ = 0;
    int captions_ = 0;
    std::optional<PgsWriter> forcedPgs_;
    int forced_ = 0;
    // The caller's: the unit being gathered.
    Unit unit_;
    std::size_t expected_ = 0;  // the unit's size, once its first bytes are in
    bool collecting_ = false;
    // Shared.
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<Unit> queue_;
    bool ending_ = false;
    std::vector<std::string> lines_;
    std::exception_ptr failure_;
    std::atomic<bool> pending_{false};  // lines or a failure wait in lines_ / failure_
    std::thread worker_;                // last: it starts once the rest is in place
};

}  // namespace strandis
