// The converters of demultiplexed streams: a DVD subpicture unit decoded and written as PGS, LPCM
// in chunks of any size written as WAV, and a title's times and tracks read from playlist lines.
#include <string>
#include <vector>

#include "common/RunError.h"
#include "io/OutputFile.h"
#include "outputs/Subpictures.h"
#include "outputs/WavOutput.h"
#include "playlist/Xpl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint8_t which = data[0] % 3;
    const std::uint8_t* rest = data + 4;
    const std::size_t length = size - 4;
    try {
        if (which == 0) {
            std::string why;
            const auto caption = strandis::analysers::DecodeDvdUnit(
                rest, length, data[1], strandis::analysers::DefaultDvdPalette(), why);
            if (caption) {
                strandis::OutputFile file;
                file.create("/dev/null");
                strandis::PgsWriter pgs(file, 720, 480);
                pgs.caption(*caption);
                pgs.finish(caption->start + 1);
                file.close();
            }
        } else if (which == 1) {
            strandis::WavOutput::Format format;
            std::string why;
            const int bits[] = {16, 20, 24, 16};
            if (!strandis::WavOutput::FormatOf(1 + data[1] % 8, bits[data[2] % 4], 48000, "",
                                               format, why))
                return 0;
            strandis::OutputFile file;
            file.create("/dev/null");
            strandis::WavOutput wav(file, format);
            const std::size_t chunk = 1 + data[3];
            for (std::size_t at = 0; at < length; at += chunk)
                wav.write(rest + at, std::min(chunk, length - at));
            file.close();
        } else {
            std::vector<std::string> lines;
            std::string line;
            for (std::size_t k = 0; k < length; ++k) {
                if (rest[k] == '\n') {
                    lines.push_back(line);
                    line.clear();
                } else {
                    line += static_cast<char>(rest[k]);
                }
            }
            lines.push_back(line);
            strandis::playlist::AttributeLabels labels;
            strandis::playlist::ReadTitle(lines, labels, 1 + data[1], "en");
        }
    } catch (const strandis::RunError&) {
        return 0;
    }
    return 0;
}
