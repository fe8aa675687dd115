#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/RunHost.h"
#include "ps/StreamIdTable.h"
#include "ps/StreamIds.h"

namespace strandis {

// The rebuild's new stream numbers, kept from one file of the run to the next.
struct Renumbering {
    std::array<std::uint8_t, 256> IdMap;  // the new id of each old id; 0xFF: none yet
    std::uint8_t NextVideoNumber = 0;     // streams of each kind that have a new id
    std::uint8_t NextAudioNumber = 0;
    std::uint8_t NextSubNumber = 0;

    Renumbering() { IdMap.fill(0xFF); }
};

// The stream tests of the rebuild: a stream leaves the copy when the inventory lists it in a
// slot whose box is not ticked (read at every test); a kept stream gets its new number the
// first time.
class PackSelection {
public:
    PackSelection(const StreamInventory& inventory, const RunHost& host, Renumbering& numbers)
        : inventory_(inventory), host_(host), n_(numbers) {}

    // Whether the packs of stream `x` of `range` leave the copy.
    bool drop(const IdRange& range, std::uint8_t x);
    std::uint8_t newId(std::uint8_t x) const { return n_.IdMap[x]; }

private:
    bool listedUnticked(StreamKind kind, std::int32_t x) const;

    const StreamInventory& inventory_;
    const RunHost& host_;
    Renumbering& n_;
};

// The bytes of a kept unit that differ in the copy: new bounds or a new stream number.
struct UnitEdit {
    int count = 0;
    std::array<std::size_t, 3> at{};
    std::array<std::uint8_t, 3> value{};

    void set(const std::uint8_t* u, std::size_t where, std::uint8_t to) {
        if (u[where] == to) return;
        at[static_cast<std::size_t>(count)] = where;
        value[static_cast<std::size_t>(count)] = to;
        ++count;
    }
};

// One 2,048-byte unit: whether it is written, and what changes in the copy (`edit`). The unit's
// stream is that of its first packet behind the 14-byte pack header, or behind the system header
// when the pack opens with one (navigation packs do, and so do some muxers' first audio packs).
// A unit that does not start with a pack header is dropped; units without a stream of a known
// range are kept.
bool KeepUnit(const std::uint8_t* u, std::size_t length, PackSelection& select, const RunHost& host,
              UnitEdit& edit);

}  // namespace strandis
