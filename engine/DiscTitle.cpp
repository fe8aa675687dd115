#include "engine/DiscTitle.h"

#include <cstdio>

#include "common/RunError.h"

namespace strandis {

SourceTitle MakeSourceTitle(const dvd::Disc& disc, const dvd::Title& title) {
    SourceTitle source;
    source.name = "title " + std::to_string(title.number);
    char base[16];
    std::snprintf(base, sizeof base, "_title%02d", title.number);
    source.outputBase = disc.name + base;
    source.extents = title.extents;
    source.knownCells = title.setCells;
    analysers::DvdPalette palette;
    for (std::size_t k = 0; k < palette.size(); ++k) {
        const std::uint32_t entry = title.palette[k];
        palette[k] = {static_cast<std::uint8_t>(entry >> 16), static_cast<std::uint8_t>(entry >> 8),
                      static_cast<std::uint8_t>(entry), 255};
    }
    source.palette = palette;
    return source;
}

const dvd::Title& ChooseTitle(const dvd::Disc& disc, int wanted) {
    const dvd::Title* title = wanted > 0 ? disc.find(wanted) : disc.mainTitle();
    if (title == nullptr && wanted > 0) {
        throw RunError("The disc \"" + disc.videoTs + "\" has no title " + std::to_string(wanted) +
                           " (it has " + std::to_string(disc.titles.size()) + ").",
                       disc.videoTs);
    }
    if (title == nullptr)
        throw RunError("No title of the disc \"" + disc.videoTs + "\" can be read" +
                           (disc.problems.empty() ? "." : ": " + disc.problems.front() + "."),
                       disc.videoTs);
    if (!title->problem.empty())
        throw RunError("Title " + std::to_string(title->number) + " of the disc \"" + disc.videoTs +
                           "\" cannot be read: " + title->problem + ".",
                       disc.videoTs);
    return *title;
}

}  // namespace strandis
