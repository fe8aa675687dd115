#include "common/TextFormat.h"

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

std::string ProgressText(std::int64_t position, std::int64_t size, double elapsedSeconds,
                         char separator) {
    const double remaining =
        position > 0 ? elapsedSeconds * static_cast<double>(size) / static_cast<double>(position) -
                           elapsedSeconds + 1.0
                     : 1.0;
    return std::to_string(position / 1048576) + "/" + std::to_string(size / 1048576) +
           " Mbytes, Remaining time: " + FormatHms(remaining, separator);
}

std::string Hex(std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int k = digits - 1; k >= 0; --k, value >>= 4)
        text[static_cast<std::size_t>(k)] = kDigits[value & 0xF];
    return text;
}

}  // namespace strandis
