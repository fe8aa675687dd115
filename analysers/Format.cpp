#include <cstdio>
#include <numeric>

#include "analysers/Analysers.h"

namespace strandis::analysers {

std::string FormatGeneral(double value, char decimalSeparator) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", value);
    std::string out(text);
    for (char& c : out) {
        if (c == '.') c = decimalSeparator;
    }
    return out;
}

std::string ReducedRatio(std::int64_t x, std::int64_t y) {
    const std::int64_t divisor = std::gcd(x, y);
    if (divisor == 0) return {};
    return std::to_string(x / divisor) + ":" + std::to_string(y / divisor);
}

int CountChannels(std::string_view layout) {
    if (layout.empty()) return 0;
    int channels = 1;
    for (std::size_t at = layout.find(" + "); at != std::string_view::npos;
         at = layout.find(" + ", at + 3))
        ++channels;
    return channels;
}

}  // namespace strandis::analysers
