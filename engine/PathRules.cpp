#include "engine/PathRules.h"

#include "engine/FileStream.h"

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

std::string getsecond(std::string_view path) {
    const std::string folder = ExtractFilePath(path);
    std::string name = ExtractFileName(path);
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

namespace {

bool HasExtension(std::string_view path, std::string_view upperExtension) {
    const std::string ext = ExtractFileExt(path);
    if (ext.size() != upperExtension.size()) return false;
    for (std::size_t k = 0; k < ext.size(); ++k) {
        const char c = ext[k] >= 'a' && ext[k] <= 'z' ? static_cast<char>(ext[k] - 32) : ext[k];
        if (c != upperExtension[k]) return false;
    }
    return true;
}

}  // namespace

bool IsAobPath(std::string_view path) {
    return HasExtension(path, ".AOB");
}

bool IsVobPath(std::string_view path) {
    return HasExtension(path, ".VOB");
}

}  // namespace strandis
