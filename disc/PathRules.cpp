#include "disc/PathRules.h"

#include <sys/stat.h>

#include <filesystem>

namespace strandis {

namespace {

std::size_t NameStart(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

bool IsRaisableDigit(char c) {
    return c >= '0' && c <= '8';
}

}  // namespace

std::string ExtractFileName(std::string_view path) {
    return std::string(path.substr(NameStart(path)));
}

std::string ExtractFilePath(std::string_view path) {
    return std::string(path.substr(0, NameStart(path)));
}

std::string ExtractFileExt(std::string_view path) {
    const std::size_t start = NameStart(path);
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < start) return {};
    return std::string(path.substr(dot));
}

std::string CutExt(std::string_view name) {
    return std::string(name.substr(0, name.size() - ExtractFileExt(name).size()));
}

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// For a DVD title set's part VTS_nn_m.VOB (any case, m from 1 to 8): the place of m in the
// name; otherwise 0. Part 0 is the title set's menu, which no title continues.
std::size_t VtsPartDigit(const std::string& name) {
    if (name.size() != 12) return 0;
    const char* pattern = "VTS_##_#.VOB";
    for (std::size_t k = 0; k < name.size(); ++k) {
        const char c = Upper(name[k]);
        if (pattern[k] == '#' ? !(c >= '0' && c <= '9') : c != pattern[k]) return 0;
    }
    return name[7] >= '1' && name[7] <= '8' ? 7 : 0;
}

}  // namespace

std::string SourceBase(std::string_view path) {
    return CutExt(ExtractFileName(path));
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string getsecond(std::string_view path) {
    const std::string folder = ExtractFilePath(path);
    std::string name = ExtractFileName(path);
    if (const std::size_t part = VtsPartDigit(name); part != 0) {
        ++name[part];
        std::string candidate = folder + name;
        return FileExists(candidate) ? candidate : std::string();
    }
    const std::size_t underscore = name.find('_');
    if (underscore == std::string::npos) return {};
    if (underscore + 1 < name.size() && IsRaisableDigit(name[underscore + 1])) {
        ++name[underscore + 1];
    } else if (underscore > 0 && IsRaisableDigit(name[underscore - 1])) {
        ++name[underscore - 1];
    } else {
        return {};
    }
    std::string candidate = folder + name;
    return FileExists(candidate) ? candidate : std::string();
}

std::vector<std::string> FollowingFiles(std::string_view path) {
    std::vector<std::string> files;
    std::string next = getsecond(path);
    if (next.empty()) return files;
    files.push_back(next);
    // A title set goes on part after part; a feature pair stops at its second file.
    if (VtsPartDigit(ExtractFileName(path)) == 0) return files;
    while (!(next = getsecond(files.back())).empty())
        files.push_back(next);
    return files;
}

namespace {

bool HasExtension(std::string_view path, std::string_view upperExtension) {
    const std::string ext = ExtractFileExt(path);
    if (ext.size() != upperExtension.size()) return false;
    for (std::size_t k = 0; k < ext.size(); ++k) {
        if (Upper(ext[k]) != upperExtension[k]) return false;
    }
    return true;
}

}  // namespace

std::string UpperText(std::string text) {
    for (char& c : text)
        c = Upper(c);
    return text;
}

std::string EntryNamed(const std::string& folder, const std::string& upperName) {
    std::error_code error;
    const std::filesystem::path exact = std::filesystem::path(folder) / upperName;
    if (std::filesystem::exists(exact, error)) return exact.string();
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (UpperText(entry.path().filename().string()) == upperName) return entry.path().string();
    }
    return {};
}

bool IsAobPath(std::string_view path) {
    return HasExtension(path, ".AOB");
}

bool IsVobPath(std::string_view path) {
    return HasExtension(path, ".VOB");
}

}  // namespace strandis
