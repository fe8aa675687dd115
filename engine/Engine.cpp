#include "engine/Engine.h"

#include "disc/PathRules.h"

namespace strandis {

Engine::Engine(RunHost& host) : host_(host), readBuffer_(new std::uint8_t[kBlockSize]()) {}

ScanInput Engine::input() {
    return {host_,
            SourceStream,
            ReadBuffer(),
            StopFlag,
            DemuxActive,
            IsAobPath(host_.sourcePath()),
            IsVobPath(SourceStream.path())};
}

ScanPass Engine::demux(FactSink& describer) {
    return Scan(input(), describer);
}

ScanPass Engine::demux(ChunkSink* writer) {
    return Scan(input(), writer);
}

}  // namespace strandis
