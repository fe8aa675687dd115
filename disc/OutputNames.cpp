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

std::string UsualExtension(Codec codec) {
    switch (codec) {
        case Codec::Mpeg2:
            return "m2v";
        case Codec::H264:
            return "h264";
        case Codec::Vc1:
            return "vc1";
        case Codec::Ac3:
            return "ac3";
        case Codec::Eac3:
            return "eac3";
        case Codec::Dts:
            return "dts";
        case Codec::Lpcm:
            return "pcm";
        case Codec::TrueHd:
            return "thd";
        case Codec::Mlp:
            return "mlp";
        case Codec::MpegAudio:
            return "mp2";
        case Codec::Subpicture:
        case Codec::ExtSubpicture:
            return "sup";
    }
    return "bin";
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
