#pragma once

#include <optional>
#include <string>

#include "analysers/DvdSubpicture.h"

namespace strandis {

using analysers::DvdPalette;

// The colour lookup table of the first program chain of a title set's IFO file; nothing when
// the file cannot be read or is not an IFO.
std::optional<DvdPalette> ReadIfoPalette(const std::string& path);

}  // namespace strandis
