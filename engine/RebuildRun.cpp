#include "engine/RebuildRun.h"

#include <algorithm>
#include <cstring>

#include "common/RunError.h"
#include "common/TextFormat.h"
#include "disc/OutputNames.h"
#include "disc/PathRules.h"
#include "engine/RunScope.h"
#include "ps/StreamIdTable.h"

namespace strandis {

namespace {

constexpr std::size_t kUnit = 2048;
constexpr std::size_t kUnitsAhead = 4;  // the start of the unit this far on is read ahead

// A kept unit. One with changed bytes (a few, near its start) has its bytes up to the last of
// them made in the output's buffer, changed in the order they were set; the rest of it, and an
// unchanged unit, are written from the source as they are, joining the parts around them where
// they run on in the source.
void WriteKept(OutputFile& out, const std::uint8_t* unit, std::size_t length,
               const UnitEdit& edit) {
    std::size_t head = 0;
    for (int k = 0; k < edit.count; ++k)
        head = std::max(head, edit.at[static_cast<std::size_t>(k)] + 1);
    if (head > 0) {
        std::uint8_t* changed = out.append(head);
        std::memcpy(changed, unit, head);
        for (int k = 0; k < edit.count; ++k)
            changed[edit.at[static_cast<std::size_t>(k)]] = edit.value[static_cast<std::size_t>(k)];
    }
    out.write(unit + head, length - head);
}

}  // namespace

void Rebuild(Engine& engine, const StreamInventory& inventory, OutputFile& out,
             Renumbering& numbers) {
    RunHost& host = engine.host();
    const ScanActive active(host, engine.DemuxActive, true);
    engine.StopFlag = 0;

    InputFile& source = engine.SourceStream;
    const std::int64_t size = source.size();
    Progress progress(host, "Rebuilding " + ExtractFileName(source.path()) + " ");
    PackSelection select(inventory, host, numbers);
    // Large blocks; the 2,048-byte units are walked inside them.
    while (source.position() < size && engine.StopFlag == 0) {
        const std::int64_t blockStart = source.position();
        const InputFile::Block block = source.nextBlock(engine.ReadBuffer(), kBlockSize);
        const std::size_t n = block.size;
        for (std::size_t offset = 0; offset < n && engine.StopFlag == 0; offset += kUnit) {
            const std::size_t length = std::min(kUnit, n - offset);
            progress.at(blockStart + static_cast<std::int64_t>(offset + length), size);
            const std::uint8_t* unit = block.data + offset;
            __builtin_prefetch(unit + kUnitsAhead * kUnit);  // so that its header is at hand
            UnitEdit edit;
            if (KeepUnit(unit, length, select, host, edit)) WriteKept(out, unit, length, edit);
        }
    }
    source.checkIntact();
}

RunOutcome RunRebuild(Engine& engine, const Detected& detected, const std::string& sourcePath) {
    RunHost& host = engine.host();
    host.beginStep("rebuild");
    RefuseEncrypted(detected);
    RunOutcome outcome;
    Renumbering numbers;

    RunScope scope(engine, sourcePath, detected.title ? &*detected.title : nullptr);
    outcome.outputBase = scope.outputBase();
    const std::string sourceName = ExtractFileName(sourcePath);
    const std::string target =
        OutputPrefix(host.outputFolder(), sourcePath, scope.outputBase()) + ".rebuilt.EVO";
    scope.refuseToOverwrite(target);

    WriteBehind behind;
    const Lending lending(engine.SourceStream, behind, kBlockSize);
    OutputFile out;
    scope.guard([&] {
        scope.openSource("Opening file " + sourceName, "Opening");
        scope.createOutput(out, target, &behind);
        host.log("Creating " + target);
        host.slog("Rebuilding " + sourceName, 0);
        scope.eachFile("Rebuilding ", [&](const std::string&, bool) {
            Rebuild(engine, detected.inventory, out, numbers);
        });
        outcome.files = scope.closeOutputs();
    });
    outcome.stoppedEarly = engine.StopFlag != 0;
    EndRun(host);
    return outcome;
}

}  // namespace strandis
