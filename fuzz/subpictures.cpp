// Subpicture units through their converter as a demux hands them over: packets of any size
// gathered into whole units (DVD or HD DVD, by their first bytes), decoded and written as PGS
// on a 1920x1080 picture, or stored as VobSub. Byte 0: VobSub or PGS, and which packets carry
// a time stamp (start a unit); byte 1: the packets' size.
#include <string>

#include "common/RunError.h"
#include "fuzz/FuzzSupport.h"
#include "io/OutputFile.h"
#include "outputs/Subpictures.h"

namespace {

class QuietLog final : public strandis::analysers::LogSink {
public:
    void log(std::string_view line) override { logged_ += line.size(); }

private:
    std::size_t logged_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    static strandis::OutputFile file, index;
    if (!file.isOpen()) file.create("/dev/null");
    if (!index.isOpen()) index.create("/dev/null");
    QuietLog log;
    const bool vobsub = (data[0] & 1) != 0;
    strandis::SubpictureOutput out(file, vobsub ? &index : nullptr, 1920, 1080,
                                   strandis::analysers::DefaultDvdPalette(), log);
    const std::size_t packet = 1 + std::size_t{data[1]} * 64;
    std::int64_t pts = 90000;
    for (std::size_t at = 2, k = 0; at < size; at += packet, ++k) {
        const bool start = k == 0 || ((data[0] >> (1 + k % 7)) & 1) != 0;
        pts += 3000;
        out.write(data + at, std::min(packet, size - at), start, pts);
    }
    out.finish();
    return 0;
}
