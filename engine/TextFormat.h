#pragma once

#include <cstdint>
#include <string>

namespace strandis {

// A time as "h:mm:ss": hours modulo 24 without a leading zero, minutes and seconds with two
// digits; rounded to the millisecond, then the fraction is dropped.
std::string FormatHms(double seconds, char separator = ':');

}  // namespace strandis
