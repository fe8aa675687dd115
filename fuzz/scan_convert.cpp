// The scanner in demux mode into the converters, as a demux with "LPCM as WAV" and PGS or
// VobSub subpictures makes them: each audio box written as WAV in a format from the input, each
// subpicture box as PGS or VobSub; the outputs keep nothing.
#include <array>
#include <memory>
#include <vector>

#include "engine/DemuxRun.h"
#include "engine/Engine.h"
#include "fuzz/FuzzSupport.h"
#include "outputs/Subpictures.h"
#include "outputs/WavOutput.h"

namespace {

class QuietLog final : public strandis::analysers::LogSink {
public:
    void log(std::string_view line) override { logged_ += line.size(); }

private:
    std::size_t logged_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    strandis::fuzz::QuietHost host("/disc/FEATURE_1.EVO");
    strandis::fuzz::MemoryFile file(data + 4, size - 4, strandis::fuzz::Lead(data[0]));
    strandis::Engine engine(host);
    strandis::Detected detected;
    if (data[1] & 1) detected.subpictureBase = 0x10000u * data[2];
    static std::array<strandis::OutputFile, strandis::kBoxTotal + 16> files;
    for (auto& f : files) {
        if (!f.isOpen()) f.create("/dev/null");
    }
    QuietLog log;
    std::vector<std::unique_ptr<strandis::StreamOutput>> streams;
    std::array<strandis::StreamOutput*, strandis::kBoxTotal> outputs{};
    const int bits[] = {16, 20, 24, 16};
    for (int slot = 0; slot < 16; ++slot) {
        strandis::WavOutput::Format format;
        std::string why;
        if (strandis::WavOutput::FormatOf(1 + (data[3] + slot) % 8, bits[(data[2] + slot) % 4],
                                          slot % 2 == 0 ? 48000 : 96000, "", format, why)) {
            const std::size_t box = strandis::BoxIndex(strandis::BoxKind::Audio, slot);
            streams.push_back(std::make_unique<strandis::WavOutput>(files[box], format));
            outputs[box] = streams.back().get();
        }
        const std::size_t box = strandis::BoxIndex(strandis::BoxKind::Sub, slot);
        const bool vobsub = ((data[1] >> (1 + slot % 7)) & 1) != 0;
        streams.push_back(std::make_unique<strandis::SubpictureOutput>(
            files[box],
            vobsub ? &files[strandis::kBoxTotal + static_cast<std::size_t>(slot)] : nullptr, 720,
            480, strandis::analysers::DefaultDvdPalette(), log));
        outputs[box] = streams.back().get();
    }
    for (int slot = 0; slot < 2; ++slot) {
        const std::size_t box = strandis::BoxIndex(strandis::BoxKind::Video, slot);
        streams.push_back(std::make_unique<strandis::RawOutput>(files[box]));
        outputs[box] = streams.back().get();
    }
    strandis::DemuxWriter writer(host, detected, outputs);
    engine.SourceStream.open(file.path());
    engine.demux(&writer);
    for (auto& stream : streams)
        stream->finish();
    return 0;
}
