#include "engine/TextFormat.h"

#include <cmath>

namespace strandis {

std::string FormatHms(double seconds, char separator) {
    if (!(seconds > 0)) seconds = 0;  // also NaN
    const auto millis = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
    const std::int64_t whole = millis / 1000;
    const std::int64_t h = (whole / 3600) % 24, m = whole / 60 % 60, s = whole % 60;
    std::string text = std::to_string(h);
    text += separator;
    text += static_cast<char>('0' + m / 10);
    text += static_cast<char>('0' + m % 10);
    text += separator;
    text += static_cast<char>('0' + s / 10);
    text += static_cast<char>('0' + s % 10);
    return text;
}

}  // namespace strandis
