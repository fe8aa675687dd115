// The scanner in check mode with every option ticked: every header reader is reached.
#include "engine/Describer.h"
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const char* const kNames[] = {"/disc/FEATURE_1.EVO", "/disc/ATS_01_1.AOB",
                                         "/disc/VTS_01_1.VOB"};
    strandis::fuzz::QuietHost host(kNames[data[0] % 3]);
    strandis::fuzz::MemoryFile file(data + 2, size - 2, strandis::fuzz::Lead(data[1]));
    strandis::Engine engine(host);
    strandis::StreamReports reports;
    std::uint32_t timeBase = 0xFFFFFFFFu;
    strandis::Describer describer(host, reports, timeBase);
    engine.SourceStream.open(file.path());
    engine.demux(describer);
    return 0;
}
