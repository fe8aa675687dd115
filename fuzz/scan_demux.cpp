// The scanner in demux mode, its chunks routed by the demultiplexing writer into files that keep
// nothing.
#include <array>
#include <memory>
#include <vector>

#include "engine/DemuxRun.h"
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    strandis::fuzz::QuietHost host("/disc/FEATURE_1.EVO");
    strandis::fuzz::MemoryFile file(data + 6, size - 6, strandis::fuzz::Lead(data[0]));
    strandis::Engine engine(host);
    strandis::Detected detected;
    detected.subpictureBase =
        static_cast<std::uint32_t>(data[1] | data[2] << 8 | data[3] << 16 | data[4] << 24);
    static std::array<strandis::OutputFile, strandis::kBoxTotal> files;
    std::vector<std::unique_ptr<strandis::StreamOutput>> streams;
    std::array<strandis::StreamOutput*, strandis::kBoxTotal> outputs{};
    for (std::size_t k = 0; k < files.size(); ++k) {
        if (!files[k].isOpen()) files[k].create("/dev/null");
        // Some boxes have no file: the writer must leave them alone.
        if (((data[5] >> (k % 8)) & 1) == 0) continue;
        if (k >= strandis::BoxIndex(strandis::BoxKind::Sub, 0))
            streams.push_back(std::make_unique<strandis::SupRecordOutput>(files[k]));
        else
            streams.push_back(std::make_unique<strandis::RawOutput>(files[k]));
        outputs[k] = streams.back().get();
    }
    // Slots listed by a detection run: from the input, so that the writer's choice is exercised.
    for (std::size_t k = 0; k < 6; ++k)
        detected.inventory.audio(static_cast<int>(k)) = data[k] >= 0x80 ? data[k] : -1;
    detected.inventory.video(0) = 0xE0;
    strandis::DemuxWriter writer(host, detected, outputs);
    // Half the inputs as for a muxer: files that wait for their first whole unit.
    if ((data[1] & 1) != 0) writer.startAtWholeUnits();
    engine.SourceStream.open(file.path());
    engine.demux(&writer);
    writer.flush();
    return 0;
}
