// The scanner in demux mode, its chunks routed by the demultiplexing writer into files that keep
// nothing.
#include <array>
#include <memory>

#include "engine/DemuxRun.h"
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    strandis::fuzz::QuietHost host("/disc/FEATURE_1.EVO");
    strandis::fuzz::MemoryFile file(data + 6, size - 6, strandis::fuzz::Lead(data[0]));
    strandis::Engine engine(host);
    engine.disc.MinPts =
        static_cast<std::uint32_t>(data[1] | data[2] << 8 | data[3] << 16 | data[4] << 24);
    static std::array<strandis::OutputFile, 34> outputs;
    std::array<strandis::OutputFile*, 2> video{};
    std::array<strandis::OutputFile*, 16> audio{}, sub{};
    for (std::size_t k = 0; k < outputs.size(); ++k) {
        if (!outputs[k].isOpen()) outputs[k].create("/dev/null");
        // Some boxes have no file: the writer must leave them alone.
        strandis::OutputFile* out = (data[5] >> (k % 8)) & 1 ? &outputs[k] : nullptr;
        if (k < 2)
            video[k] = out;
        else if (k < 18)
            audio[k - 2] = out;
        else
            sub[k - 18] = out;
    }
    // Slots listed by a detection run: from the input, so that the writer's choice is exercised.
    strandis::StreamInventory listed;
    for (std::size_t k = 0; k < 6; ++k)
        listed.audio(static_cast<int>(k)) = data[k] >= 0x80 ? data[k] : -1;
    strandis::DemuxWriter writer(engine, video, audio, sub, listed);
    engine.SourceStream.open(file.path());
    engine.demux(strandis::ScanMode::Demux, &writer);
    return 0;
}
