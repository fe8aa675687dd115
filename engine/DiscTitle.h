#pragma once

#include <string>

#include "disc/DvdTitles.h"
#include "engine/Detected.h"

namespace strandis {

// What a run reads of a DVD title: its pieces of the title set's VOBs, its program chain's
// colours, and outputs named after the disc and the title ("MOVIE_title02").
SourceTitle MakeSourceTitle(const dvd::Disc& disc, const dvd::Title& title);

// The title of the disc that a run over `path` reads: number `wanted`, or the main feature when
// it is 0. Raises RunError naming the disc and the title when there is no such title or it
// cannot be read.
const dvd::Title& ChooseTitle(const dvd::Disc& disc, int wanted);

}  // namespace strandis
