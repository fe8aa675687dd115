#pragma once

#include <string>

#include "engine/Detected.h"
#include "engine/Engine.h"
#include "engine/RunScope.h"
#include "ps/PackFilter.h"

namespace strandis {

// "Rebuild": copies the source's 2,048-byte packs to <base>.rebuilt.EVO, without the packs of
// the streams whose boxes are not ticked (of those the detection lists in `detected`), with the
// kept streams renumbered from zero within their kind and the system headers' bounds set to the
// ticked boxes. The second feature file, when asked for, is appended with the same numbers.
// Raises RunError when a file cannot be opened, created, read or written; both files are closed
// in every case.
RunOutcome RunRebuild(Engine& engine, const Detected& detected, const std::string& sourcePath);

// One pass over the open SourceStream, appending the kept packs to `out`.
void Rebuild(Engine& engine, const StreamInventory& inventory, OutputFile& out,
             Renumbering& numbers);

}  // namespace strandis
