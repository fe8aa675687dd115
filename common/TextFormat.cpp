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

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto b = static_cast<unsigned char>(text[k]);
        // The sequence's length by its first byte, and the range its second byte must be in
        // (no overlong forms, no surrogates, nothing past U+10FFFF).
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (b < 0x80)
            length = 1;
        else if (b >= 0xC2 && b <= 0xDF)
            length = 2;
        else if (b >= 0xE0 && b <= 0xEF)
            length = 3, low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
        else if (b >= 0xF0 && b <= 0xF4)
            length = 4, low = b == 0xF0 ? 0x90 : 0x80, high = b == 0xF4 ? 0x8F : 0xBF;
        bool valid = length > 0 && k + length <= text.size();
        for (std::size_t n = 1; valid && n < length; ++n) {
            const auto c = static_cast<unsigned char>(text[k + n]);
            valid = n == 1 ? c >= low && c <= high : c >= 0x80 && c <= 0xBF;
        }
        if (valid) {
            out.append(text.substr(k, length));
            k += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++k;
        }
    }
    return out;
}

std::string Hex(std::uint64_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int k = digits - 1; k >= 0; --k, value >>= 4)
        text[static_cast<std::size_t>(k)] = kDigits[value & 0xF];
    return text;
}

}  // namespace strandis
