#include "tests/support/ScanHelpers.h"

#include <gtest/gtest.h>

#include "engine/Describer.h"

namespace strandis::test {

ScanTrace RealScan(const std::string& path, bool demuxMode, TestHost& host, RecordingSink* sink,
                   FrameCounts frames, std::uint32_t minPts) {
    Engine engine(host);
    RecordingSink own;
    RecordingSink& chunks = sink != nullptr ? *sink : own;
    if (host.source.empty()) host.source = path;
    const std::size_t logBefore = host.lines.size();
    engine.SourceStream.open(path);
    StreamReports reports;
    std::uint32_t timeBase = minPts;
    Describer describer(host, reports, timeBase);
    const ScanPass pass = demuxMode ? engine.demux(&chunks) : engine.demux(describer);

    ScanTrace trace;
    trace.log.assign(host.lines.begin() + static_cast<std::ptrdiff_t>(logBefore), host.lines.end());
    for (const auto& [panel, text] : host.status) {
        if (panel == 1) trace.progress.push_back(text.substr(0, text.find(", Remaining time")));
    }
    trace.streamIds = pass.registered.ids;
    // The counts a run adds up: all of them gone when the pass was stopped.
    trace.frames = engine.StopFlag != 0
                       ? FrameCounts{0, 0}
                       : FrameCounts{frames[0] + pass.frames[0], frames[1] + pass.frames[1]};
    trace.minPts = timeBase;
    trace.stopFlag = engine.StopFlag;
    trace.chunks = chunks.chunks;
    return trace;
}

ScanPass CheckPass(Engine& engine) {
    StreamReports reports;
    std::uint32_t timeBase = 0xFFFFFFFFu;
    Describer describer(engine.host(), reports, timeBase);
    return engine.demux(describer);
}

Bytes Joined(const std::vector<SeenChunk>& chunks, std::uint8_t kind, std::int32_t slot) {
    Bytes out;
    for (const SeenChunk& c : chunks) {
        if (c.kind == kind && c.slot == slot) out.insert(out.end(), c.data.begin(), c.data.end());
    }
    return out;
}

std::vector<std::pair<std::uint32_t, Bytes>> WalkSup(const Bytes& sup) {
    std::vector<std::pair<std::uint32_t, Bytes>> units;
    std::size_t at = 0;
    while (at + 10 <= sup.size()) {
        EXPECT_EQ(sup[at], 'S');
        EXPECT_EQ(sup[at + 1], 'P');
        const std::uint32_t pts = sup[at + 2] | (sup[at + 3] << 8) | (sup[at + 4] << 16) |
                                  (std::uint32_t{sup[at + 5]} << 24);
        const std::size_t unit = at + 10;
        std::size_t size = (std::size_t{sup[unit]} << 8) | sup[unit + 1];
        if (size == 0) {
            size = (std::size_t{sup[unit + 2]} << 24) | (std::size_t{sup[unit + 3]} << 16) |
                   (std::size_t{sup[unit + 4]} << 8) | sup[unit + 5];
        }
        if (size == 0 || unit + size > sup.size()) {
            ADD_FAILURE() << "a unit runs past the file at " << at;
            break;
        }
        units.emplace_back(pts, Bytes(sup.begin() + static_cast<std::ptrdiff_t>(unit),
                                      sup.begin() + static_cast<std::ptrdiff_t>(unit + size)));
        at = unit + size;
    }
    EXPECT_EQ(at, sup.size());
    return units;
}

}  // namespace strandis::test
