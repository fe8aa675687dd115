#pragma once

#include "ps/StreamIdTable.h"

#include <string>
#include <string_view>

namespace strandis {

// The common start of a run's output names: the output folder with a "/" behind it, then the
// base name. With no output folder the outputs go beside the source.
std::string OutputPrefix(std::string_view folder, std::string_view sourcePath,
                         std::string_view base);

// A caption as part of a file name: "/" and control characters become "_", so a label from a
// playlist can never lead an output out of its folder.
std::string FileNamePart(std::string_view caption);

// The extension a stream of `codec` is written with when the user's is empty or "auto": m2v, h264,
// vc1, ac3, eac3, dts, thd, mlp, pcm (LPCM's raw samples), mp2, sup.
std::string UsualExtension(Codec codec);

// Whether the two paths name the same file; the second need not exist.
bool SameFile(const std::string& existing, const std::string& other);

}  // namespace strandis
