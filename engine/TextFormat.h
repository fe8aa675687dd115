#pragma once

#include <cstdint>
#include <string>

namespace strandis {

// Upper-case hexadecimal with exactly `digits` digits (time stamps 8, stream ids 2).
std::string Hex(std::uint32_t value, int digits);

// A time as "h:mm:ss": hours modulo 24 without a leading zero, minutes and seconds with two
// digits; rounded to the millisecond, then the fraction is dropped.
std::string FormatHms(double seconds, char separator = ':');

}  // namespace strandis
