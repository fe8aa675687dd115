#pragma once

#include <optional>
#include <string>

#include "analysers/DvdSubpicture.h"

namespace strandis {

using analysers::DvdPalette;

// The colour lookup table of the first program chain of a title set's IFO file, or why it
// cannot be had: the file is missing, is no regular file (a folder, a pipe, a device), cannot
// be read (an I/O error), is larger than an IFO, is no title set IFO, or its program chain
// table is missing or lies outside it.
struct IfoPalette {
    std::optional<DvdPalette> palette;
    bool missing = false;  // no file of that name
    std::string why;
};
IfoPalette ReadIfoPalette(const std::string& path);

}  // namespace strandis
