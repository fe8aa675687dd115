#pragma once

#include <string>

#include "engine/Engine.h"
#include "testkit/PsBuilder.h"
#include "tests/support/LiteralScanner.h"
#include "tests/support/TestHost.h"

namespace strandis::test {

// Keeps every chunk a demux-mode scan hands on.
class RecordingSink final : public ChunkSink {
public:
    std::vector<SeenChunk> chunks;
    std::vector<bool> ownPts;
    std::vector<std::int32_t> streamIds;
    void chunk(const PayloadChunk& c) override {
        chunks.push_back({c.kind, c.slot, c.ownPts ? c.pts : 0, Bytes(c.data, c.data + c.length)});
        ownPts.push_back(c.ownPts);
        streamIds.push_back(c.streamId);
    }
};

// Runs the real scanner over `path` and returns what it did, in the reference's terms.
ScanTrace RealScan(const std::string& path, bool demuxMode, TestHost& host,
                   RecordingSink* sink = nullptr, FrameCounts frames = {0, 0},
                   std::uint32_t minPts = 0xFFFFFFFFu);

// A check-mode pass over the engine's open source, as the detection makes it.
ScanPass CheckPass(Engine& engine);

// All chunk bytes of one kind and slot, in order.
Bytes Joined(const std::vector<SeenChunk>& chunks, std::uint8_t kind, std::int32_t slot);

// Walks a ".sup" file from record to record by the units' own size fields, as its readers do:
// a DVD unit starts with its 2-byte size, an HD DVD unit with 00 00 and a 4-byte size. Returns
// each record's time stamp and unit; a record without "SP", a unit running past the file or
// bytes left over fail the test.
std::vector<std::pair<std::uint32_t, Bytes>> WalkSup(const Bytes& sup);

}  // namespace strandis::test
