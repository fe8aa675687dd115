#include "tests/support/ScanHelpers.h"

namespace strandis::test {

ScanTrace RealScan(const std::string& path, bool demuxMode, TestHost& host, RecordingSink* sink,
                   std::array<std::int32_t, 2> frames, std::uint32_t minPts) {
    Engine engine(host);
    RecordingSink own;
    RecordingSink& chunks = sink != nullptr ? *sink : own;
    engine.FrameCount = frames;
    engine.MinPts = minPts;
    if (host.source.empty()) host.source = path;
    const std::size_t logBefore = host.lines.size();
    engine.SourceStream.open(path);
    engine.demux(demuxMode ? ScanMode::Demux : ScanMode::Check, &chunks);

    ScanTrace trace;
    trace.log.assign(host.lines.begin() + static_cast<std::ptrdiff_t>(logBefore), host.lines.end());
    for (const auto& [panel, text] : host.status) {
        if (panel == 1) trace.progress.push_back(text.substr(0, text.find(", Remaining time")));
    }
    trace.streamIds = engine.StreamIds.ids;
    trace.frames = engine.FrameCount;
    trace.minPts = engine.MinPts;
    trace.stopFlag = engine.StopFlag;
    trace.chunks = chunks.chunks;
    return trace;
}

Bytes Joined(const std::vector<SeenChunk>& chunks, std::uint8_t kind, std::int32_t slot) {
    Bytes out;
    for (const SeenChunk& c : chunks) {
        if (c.kind == kind && c.slot == slot) out.insert(out.end(), c.data.begin(), c.data.end());
    }
    return out;
}

}  // namespace strandis::test
