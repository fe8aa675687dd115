#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace strandis {

// A time as "h:mm:ss": hours modulo 24 without a leading zero, minutes and seconds with two
// digits; rounded to the millisecond, then the fraction is dropped.
std::string FormatHms(double seconds, char separator = ':');

// The progress of a pass: "512/4200 Mbytes, Remaining time: " and the time left, reckoned from
// the time taken so far at the same speed, plus one second.
std::string ProgressText(std::int64_t position, std::int64_t size, double elapsedSeconds,
                         char separator);

// `text` with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// Upper-case hexadecimal with exactly `digits` digits (time stamps 8 or 16, stream ids 2).
std::string Hex(std::uint64_t value, int digits);

}  // namespace strandis
