#pragma once

#include <string>
#include <string_view>

namespace strandis {

// "/" separates folders.
std::string ExtractFileName(std::string_view path);
// The folder with its trailing "/", or empty.
std::string ExtractFilePath(std::string_view path);
// From the last "." of the file name on, the "." included; empty when there is none.
std::string ExtractFileExt(std::string_view path);

// `name` without its extension: FEATURE_1.EVO gives FEATURE_1, a.b.c gives a.b.
std::string CutExt(std::string_view name);

// The second feature file of `path`: the digit next to the first "_" of the file name raised by
// one (FEATURE_1.EVO gives FEATURE_2.EVO, FEATURE1_A.EVO gives FEATURE2_A.EVO), when that file
// exists; otherwise empty.
std::string getsecond(std::string_view path);

// Whether the extension of `path`, upper-cased, is ".AOB" (a DVD-Audio object).
bool IsAobPath(std::string_view path);
// Whether the extension of `path`, upper-cased, is ".VOB" (a DVD-Video object).
bool IsVobPath(std::string_view path);

}  // namespace strandis
