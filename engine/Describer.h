#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "analysers/Analysers.h"
#include "common/RunHost.h"
#include "engine/Detected.h"
#include "ps/PayloadChunk.h"
#include "ps/Scanner.h"

namespace strandis {

// The scanner's consumer in check mode for one file: lowers the subpicture time base
// (`timeBase`) to the first time stamp of each audio and video stream, records each stream's
// first time stamp and what the header reader of its codec reads of its first payload
// (`reports`, where not yet recorded), and with "Detailed info" logs them, once per slot.
class Describer final : public FactSink {
public:
    Describer(RunHost& host, StreamReports& reports, std::uint32_t& timeBase);
    // Whether the chunk has anything to give: a first time stamp for the time base, or a
    // stream's first payload while "Detailed info" is ticked. Cheap, so that the facts are
    // gathered only for the chunks that need them.
    bool wants(const PayloadChunk& chunk) override;
    void chunk(const PayloadChunk& chunk, const StreamFacts& facts) override;

private:
    class NullSink final : public analysers::LogSink {
    public:
        explicit NullSink(RunHost& host) : host_(host) {}
        void log(std::string_view) override {}
        char decimalSeparator() const override { return host_.decimalSeparator(); }

    private:
        RunHost& host_;
    };
    class HostSink final : public analysers::LogSink {
    public:
        explicit HostSink(RunHost& host) : host_(host) {}
        void log(std::string_view line) override { host_.log(line); }
        char decimalSeparator() const override { return host_.decimalSeparator(); }

    private:
        RunHost& host_;
    };

    bool* baseFlag(const PayloadChunk& chunk);
    bool* shownFlag(const PayloadChunk& chunk);
    StreamReport* report(const PayloadChunk& chunk);
    void timeBase(const PayloadChunk& chunk);
    void firstPts(const PayloadChunk& chunk);
    analysers::StreamInfo describe(const PayloadChunk& chunk, const StreamFacts& facts,
                                   analysers::LogSink& sink);
    void firstLines(analysers::LogSink& sink, std::uint32_t pts, std::int32_t id);

    RunHost& host_;
    StreamReports& reports_;
    std::uint32_t& timeBase_;
    HostSink sink_;
    NullSink quiet_;
    analysers::LpcmLayout lpcm_;  // by the source's extension; DvdAudio: 0xA1 is MLP
    // Streams whose first time stamp has gone into the time base, by slot.
    std::array<bool, 2> baseVideo_{};
    std::array<bool, 16> baseAudio_{};
    // Slots whose detail lines were logged.
    std::array<bool, 2> shownVideo_{};
    std::array<bool, 16> shownAudio_{};
    std::array<bool, StreamInventory::kSubSlots> shownSub_{};
};

}  // namespace strandis
