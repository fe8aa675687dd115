// The rebuild pass over arbitrary units, with an arbitrary inventory, read whole or for an angle
// of their interleaved units, as a lone VOB is read.
#include "engine/Engine.h"
#include "engine/RebuildRun.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 35) return 0;
    strandis::fuzz::QuietHost host("/disc/FEATURE_1.EVO");
    strandis::Engine engine(host);
    // Video slots 0-1, audio 0-15, subpictures 0-15 from the first 34 bytes (0xFF: empty).
    strandis::StreamInventory inventory;
    for (int k = 0; k < 34; ++k) {
        const std::int32_t id = data[k] == 0xFF ? -1 : data[k];
        if (k < 2)
            inventory.video(k) = id;
        else if (k < 18)
            inventory.audio(k - 2) = id;
        else
            inventory.sub(k - 18) = id;
    }
    strandis::Renumbering numbers;
    strandis::fuzz::MemoryFile file(data + 34, size - 34);
    static strandis::OutputFile out;
    if (!out.isOpen()) out.create("/dev/null");
    engine.SourceStream.units().setLog([](const std::string&) {});
    engine.SourceStream.units().guessAngle(data[0] % 3);  // 0: every unit
    engine.SourceStream.open(file.path());
    strandis::Rebuild(engine, inventory, out, numbers);
    return 0;
}
