// The playlist reader: tag scanner in chunks of any size, title cut and tree.
#include <string>

#include "common/RunError.h"
#include "playlist/Xpl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t chunk = 1 + data[0] * 37u;
    const std::string base = data[1] % 2 ? "FEATURE_1" : "A";
    strandis::playlist::AttributeLabels labels;
    strandis::playlist::TagScanner scanner(labels);
    try {
        for (std::size_t at = 2; at < size; at += chunk)
            scanner.feed(data + at, std::min(chunk, size - at));
    } catch (const strandis::RunError&) {
        return 0;  // a bad index ends the reading
    }
    std::vector<std::string> lines = scanner.lines();
    if (strandis::playlist::CutToTitle(lines, base))
        strandis::playlist::BuildTree(lines, labels, scanner.playlistTitle());
    return 0;
}
