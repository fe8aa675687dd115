#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/DemuxRun.h"
#include "engine/Engine.h"

namespace strandis {

// "Rebuild": copies the source's 2,048-byte packs to <base>.rebuilt.EVO, without the packs of
// the streams whose boxes are not ticked, with the kept streams renumbered from zero within
// their kind and the system headers' bounds set to the ticked boxes. The second feature file,
// when asked for, is appended with the same numbers. Raises RunError when a file cannot be
// opened, created, read or written; both files are closed in every case.
RunOutcome RunRebuild(Engine& engine, const std::string& sourcePath);

// The rebuild run's new stream numbers, kept from one file of the run to the next.
struct Renumbering {
    std::array<std::uint8_t, 256> IdMap;  // the new id of each old id; 0xFF: none yet
    std::uint8_t NextVideoNumber = 0;     // streams of each kind that have a new id
    std::uint8_t NextAudioNumber = 0;
    std::uint8_t NextSubNumber = 0;

    Renumbering() { IdMap.fill(0xFF); }
};

// One pass over the open SourceStream, appending the kept packs to `out`.
void Rebuild(Engine& engine, OutputFile& out, Renumbering& numbers);

}  // namespace strandis
