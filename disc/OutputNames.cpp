#include "disc/OutputNames.h"

#include <filesystem>

#include "disc/PathRules.h"

namespace strandis {

std::string OutputPrefix(std::string_view folder, std::string_view sourcePath,
                         std::string_view base) {
    std::string prefix = folder.empty() ? ExtractFilePath(sourcePath) : std::string(folder);
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    return prefix + std::string(base);
}

std::string FileNamePart(std::string_view caption) {
    std::string part(caption);
    for (char& c : part) {
        if (c == '/' || static_cast<unsigned char>(c) < 32 || c == 127) c = '_';
    }
    return part;
}

bool SameFile(const std::string& existing, const std::string& other) {
    std::error_code error;
    if (std::filesystem::equivalent(existing, other, error)) return true;
    const auto a = std::filesystem::weakly_canonical(existing, error);
    if (error) return false;
    const auto b = std::filesystem::weakly_canonical(other, error);
    return !error && a == b;
}

}  // namespace strandis
