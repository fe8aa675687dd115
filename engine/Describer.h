#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "analysers/Analysers.h"
#include "engine/Engine.h"
#include "engine/PayloadChunk.h"

namespace strandis {

// What the scanner knows of a chunk's stream beyond the chunk: what the detail lines and the
// header readers need. The values are the scanner's registers as the chunk arrives.
struct StreamFacts {
    std::span<const std::uint8_t> block;  // the valid part of the block buffer
    std::uint8_t videoType = 0;           // VideoType
    std::uint8_t audioType = 0;           // AudioType of the last recognised audio sub-stream
    std::int32_t audioSubId = 0;          // that sub-stream's id
    std::uint32_t videoPts = 0;           // logged as a video stream's first PTS
    std::uint32_t dts = 0;                // the last decoded DTS
    std::uint32_t firstAudioPts = 0;      // at the latest audio registration
    std::uint32_t firstSubPts = 0;        // at the latest subpicture registration
    // The private-stream-1 header bytes in front of the chunk, from the sub-stream id on.
    const std::array<std::uint8_t, 16>* subHeader = nullptr;
    std::uint8_t subHeaderLength = 0;
};

// The scanner's consumer in check mode: keeps the subpicture time base (disc.MinPts), records
// each stream's first time stamp and what the header reader of its codec reads of its first
// payload (disc.Reports), and with "Detailed info" logs them, once per slot and scan.
class Describer {
public:
    explicit Describer(Engine& engine);
    // Whether the chunk has anything to give: a first time stamp for the time base, or a
    // stream's first payload while "Detailed info" is ticked. Cheap, so that the facts are
    // gathered only for the chunks that need them.
    bool wants(const PayloadChunk& chunk);
    void chunk(const PayloadChunk& chunk, const StreamFacts& facts);

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

    Engine& e_;
    RunHost& host_;
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
