#include <cstdio>

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

}  // namespace strandis::analysers
