#include "disc/IfoPalette.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "common/ByteOrder.h"

namespace strandis {

std::optional<DvdPalette> ReadIfoPalette(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> ifo((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (ifo.size() < 0x100 || !std::equal(ifo.begin(), ifo.begin() + 12, "DVDVIDEO-VTS"))
        return std::nullopt;
    const auto be32 = [&ifo](std::size_t at) { return Be32(ifo.data() + at); };
    // VTS_PGCIT's sector at 0xCC; its first search pointer gives the first PGC's offset, and
    // a PGC holds its colour lookup table at 0xA4: 16 times 0, Y, Cr, Cb.
    const std::size_t table = std::size_t{be32(0xCC)} * 2048;
    if (table + 16 > ifo.size()) return std::nullopt;
    const std::size_t pgc = table + be32(table + 12);
    if (pgc + 0xA4 + 64 > ifo.size()) return std::nullopt;
    DvdPalette palette;
    for (std::size_t k = 0; k < 16; ++k) {
        const std::uint8_t* entry = ifo.data() + pgc + 0xA4 + 4 * k;
        palette[k] = {entry[1], entry[2], entry[3], 255};
    }
    return palette;
}

}  // namespace strandis
