#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
    void caption(const Caption& caption);
    // Ends the last caption, when it had no end of its own: at `fallbackEnd`.
    void finish(std::int64_t fallbackEnd);

private:
    void segment(std::uint8_t type, std::int64_t pts, const std::vector<std::uint8_t>& body);
    void clear(std::int64_t at);
    void window(std::int64_t at, const Caption& caption);

    OutputFile& file_;
    int videoWidth_, videoHeight_;
    std::uint16_t composition_ = 0;
    std::optional<Caption> shown_;  // shown, waiting for its end
    std::vector<std::uint8_t> rle_, body_;
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
// units, each decoded and written as PGS or stored as VobSub. A unit that does not decode is
// left out with a line in `log`.
class SubpictureOutput final : public StreamOutput {
public:
    // With `idx` (the VobSub index) the units are stored as VobSub, otherwise written as PGS.
    SubpictureOutput(OutputFile& file, OutputFile* idx, int videoWidth, int videoHeight,
                     const DvdPalette& palette, analysers::LogSink& log);
    void write(const std::uint8_t* data, std::size_t length, bool start, std::int64_t pts) override;
    // Ends the stream: the last unit, the last caption, the index.
    void finish() override;
    // The captions written so far: units that decoded (PGS) or were stored (VobSub).
    int captions() const { return captions_; }

private:
    void unitDone();
    void skip(const std::string& why);

    analysers::LogSink& log_;
    DvdPalette palette_;
    std::optional<PgsWriter> pgs_;
    std::optional<VobSubWriter> vobsub_;
    std::vector<std::uint8_t> unit_;
    std::size_t expected_ = 0;  // the unit's size, once its first two bytes are in
    std::int64_t pts_ = 0;
    bool collecting_ = false;
    std::int64_t last_ = 0;
    int captions_ = 0;
};

}  // namespace strandis
