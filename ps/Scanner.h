#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "common/RunHost.h"
#include "io/InputFile.h"
#include "ps/PayloadChunk.h"
#include "ps/StreamIdTable.h"
#include "ps/StreamIds.h"

namespace strandis {

enum class ScanMode { Check = 0, Demux = 1 };

// Pictures counted in video slots 0 and 1; 64 bits, since a crafted stream can hold more than
// 2^31 start codes.
using FrameCounts = std::array<std::int64_t, 2>;

inline constexpr std::size_t kBlockSize = 0x40000;       // 262,144 bytes a read
inline constexpr std::int64_t kRepaintStep = 0x4000000;  // 64 MiB
inline constexpr std::int64_t kFastCheckLimit = 300'000'000;

// What the scanner knows of a chunk's stream beyond the chunk: what the detail lines and the
// header readers need. The values are the scanner's registers as the chunk arrives.
struct StreamFacts {
    std::span<const std::uint8_t> block;  // the valid part of the block buffer
    std::uint8_t videoType = 0;           // VideoType
    std::uint8_t audioType = 0;           // AudioType of the last recognised audio sub-stream
    std::int32_t audioSubId = 0;          // that sub-stream's id
    std::uint32_t videoPts = 0;           // logged as a video stream's first PTS
    std::uint32_t firstAudioPts = 0;      // at the latest audio registration
    std::uint32_t firstSubPts = 0;        // at the latest subpicture registration
    // The private-stream-1 header bytes in front of the chunk, from the sub-stream id on.
    const std::array<std::uint8_t, 16>* subHeader = nullptr;
    std::uint8_t subHeaderLength = 0;
};

// The consumer of a check-mode scan. `wants` is asked of every chunk and must be cheap: only
// the chunks it wants are handed over, with their facts gathered.
class FactSink {
public:
    virtual ~FactSink() = default;
    virtual bool wants(const PayloadChunk& chunk) = 0;
    virtual void chunk(const PayloadChunk& chunk, const StreamFacts& facts) = 0;
};

// What one pass over a file registered and counted.
struct ScanPass {
    // The streams met in this file, each in its slot: the first id met keeps a slot.
    StreamInventory registered;
    FrameCounts frames{};  // zero when the pass was stopped
    // Packets whose PES_scrambling_control is set (CSS): skipped whole, their payload unread.
    std::int64_t scrambled = 0;
};

// A run's counts with one more pass's: after a stopped pass the run counts nothing, since a
// count of part of a file means nothing.
inline void AddFrames(FrameCounts& total, const FrameCounts& pass, bool stopped) {
    total = stopped ? FrameCounts{} : FrameCounts{total[0] + pass[0], total[1] + pass[1]};
}

// What a pass reads and answers to.
struct ScanInput {
    RunHost& host;
    InputFile& source;          // open, read from its position to its end
    std::uint8_t* buffer;       // kBlockSize bytes, for blocks that cannot be read in place
    std::uint8_t& stopFlag;     // Cancel sets it; the pass clears it first, and sets it at the
                                // fast-check limit
    std::uint8_t& demuxActive;  // 1 while a demux-mode pass goes on
    bool aob = false;        // a DVD-Audio object: LPCM headers say their length, and 0xA1 is MLP
    bool mpegAudio = false;  // MPEG audio 0xC0-0xC7 has boxes: in DVD-Video objects (.VOB)
};

// The pack and PES scanner over the rest of `input.source`, until its end or a stop. Check mode
// logs each stream found and hands the chunks the describer wants to it; demux mode hands every
// payload chunk to `writer` (none: the streams are only registered and counted).
ScanPass Scan(const ScanInput& input, FactSink& describer);
ScanPass Scan(const ScanInput& input, ChunkSink* writer);

// The log line for a stream that takes another slot because its own holds another id, such as
// "[b]DTS HD (DTS)[/b] audio stream 0x88 takes slot 1: its own holds 0x80".
// `name` is the stream's name as its "found" line has it (`range.found` when empty).
std::string MovedLine(const IdRange& range, std::int32_t id, int slot, std::int32_t holder,
                      const std::string& file = {}, std::string_view name = {});

// The log line for a stream that gets no box because its slot holds another id, and every
// other slot of its kind too, such as
// "[b]DTS HD (DTS)[/b] audio stream 0x88 not listed: its slot holds 0x80"; `file` names the
// later file of a run that found it there.
std::string NotListedLine(const IdRange& range, std::int32_t id, std::int32_t holder,
                          const std::string& file = {}, std::string_view name = {});

}  // namespace strandis
