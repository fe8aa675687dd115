#pragma once

#include <cstdint>
#include <memory>

#include "common/RunHost.h"
#include "io/InputFile.h"
#include "ps/Scanner.h"

namespace strandis {

// The machinery the runs share: the host, one input file, one block buffer and the flags a
// pass answers to. It keeps nothing from one run for the next: what a run finds it returns. One
// Engine per window or command; nothing is global.
class Engine {
public:
    explicit Engine(RunHost& host);

    RunHost& host() { return host_; }

    // The scanner over SourceStream from its position to its end (or until StopFlag): in check
    // mode (a describer) the streams found are logged and described; in demux mode every payload
    // chunk goes to `writer`.
    ScanPass demux(FactSink& describer);
    ScanPass demux(ChunkSink* writer);

    // Written by the passes (cleared at a pass's start, set by the fast check) and by the front
    // end's Cancel; read by the passes at every block and by the runs after a pass.
    std::uint8_t StopFlag = 0;
    // Written by the scanner and the rebuild pass: 1 while a demux or rebuild pass goes on, 0
    // otherwise. Read by the front end's Cancel, which asks before it stops such a pass.
    std::uint8_t DemuxActive = 0;
    // Opened and closed by each run.
    InputFile SourceStream;
    // Set by the front end: the angle read of a lone VOB's interleaved blocks (1 for the
    // first). A disc title's angle is chosen with its pieces.
    int Angle = 1;

    std::uint8_t* ReadBuffer() { return readBuffer_.get(); }

private:
    ScanInput input();

    RunHost& host_;
    std::unique_ptr<std::uint8_t[]> readBuffer_;
};

}  // namespace strandis
