#include "engine/RebuildRun.h"

#include <utility>

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

// A unit with changed bytes: they alone are made in the output's buffer, and the bytes around
// them are written from the source as they are (the unit is not copied whole). The parts join
// those of the units around it where they run on in the source.
void WriteEdited(OutputFile& out, const std::uint8_t* unit, std::size_t length, UnitEdit edit) {
    for (int k = 1; k < edit.count; ++k) {  // by position: at most three
        for (int j = k; j > 0 && edit.at[static_cast<std::size_t>(j - 1)] >
                                     edit.at[static_cast<std::size_t>(j)];
             --j) {
            std::swap(edit.at[static_cast<std::size_t>(j - 1)],
                      edit.at[static_cast<std::size_t>(j)]);
            std::swap(edit.value[static_cast<std::size_t>(j - 1)],
                      edit.value[static_cast<std::size_t>(j)]);
        }
    }
    std::size_t from = 0;
    for (int k = 0; k < edit.count; ++k) {
        const std::size_t at = edit.at[static_cast<std::size_t>(k)];
        out.write(unit + from, at - from);
        *out.append(1) = edit.value[static_cast<std::size_t>(k)];
        from = at + 1;
    }
    out.write(unit + from, length - from);
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
            if (!KeepUnit(unit, length, select, host, edit)) continue;
            if (edit.count == 0) {
                out.write(unit, length);  // by reference, uncopied
                continue;
            }
            WriteEdited(out, unit, length, edit);
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
