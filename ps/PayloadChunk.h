#pragma once

#include <cstdint>

namespace strandis {

// One piece of a packet's payload inside the block buffer, as the scanner hands it on.
struct PayloadChunk {
    std::uint8_t kind;         // PacketKind
    const std::uint8_t* data;  // into the block buffer
    std::uint32_t offset;      // of `data` in the block buffer
    std::uint32_t length;      // at least 1
    std::int32_t slot;         // VideoSlot, AudioSlot or SubSlot by kind
    std::int32_t streamId;  // video id, sub-stream id of this packet, or the MPEG audio stream id
    bool listed;       // the pass registered this stream in the slot (not another of the same slot)
    bool ownPts;       // first chunk of a packet whose own PES header carried a PTS
    bool packetStart;  // first chunk of its packet, with a PTS or without
    std::uint32_t pts;     // that PTS, when ownPts
    std::uint8_t ptsHigh;  // and its bit 32, which `pts` leaves out
};

// Receives the payload chunks of a demux-mode scan.
class ChunkSink {
public:
    virtual ~ChunkSink() = default;
    virtual void chunk(const PayloadChunk& chunk) = 0;
};

}  // namespace strandis
