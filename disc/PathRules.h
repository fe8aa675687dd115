#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace strandis {

// "/" separates folders.
std::string ExtractFileName(std::string_view path);
// The folder with its trailing "/", or empty.
std::string ExtractFilePath(std::string_view path);
// From the last "." of the file name on, the "." included; empty when there is none.
std::string ExtractFileExt(std::string_view path);

// `name` without its extension: FEATURE_1.EVO gives FEATURE_1, a.b.c gives a.b.
std::string CutExt(std::string_view name);

// A source's base name: its file name less its extension. The outputs are named from it, and
// the playlist's title that plays the source names its first clip so.
std::string SourceBase(std::string_view path);

// True when `path` names an existing file (not a folder).
bool FileExists(const std::string& path);

// The second feature file of `path`: the digit next to the first "_" of the file name raised by
// one (FEATURE_1.EVO gives FEATURE_2.EVO, FEATURE1_A.EVO gives FEATURE2_A.EVO), when that file
// exists; otherwise empty. A DVD title set's part VTS_nn_m.VOB is followed by VTS_nn_(m+1).VOB.
std::string getsecond(std::string_view path);

// The files a run goes on into after `path`: the second feature file, or every following part
// of a DVD title set that exists (VTS_01_1.VOB: VTS_01_2.VOB, VTS_01_3.VOB, ...).
std::vector<std::string> FollowingFiles(std::string_view path);

// `text` with its ASCII letters upper-cased.
std::string UpperText(std::string text);
// The entry of `folder` whose name, upper-cased, is `upperName` (a disc's folders and files come
// in either case); "" when there is none.
std::string EntryNamed(const std::string& folder, const std::string& upperName);

// Whether the extension of `path`, upper-cased, is ".AOB" (a DVD-Audio object).
bool IsAobPath(std::string_view path);
// Whether the extension of `path`, upper-cased, is ".VOB" (a DVD-Video object).
bool IsVobPath(std::string_view path);

}  // namespace strandis
