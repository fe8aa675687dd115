// Each header reader on its own over arbitrary bytes: the first byte picks the reader, the next
// two where the chunk starts and how long it is; the rest is the block.
#include <string>

#include "analysers/Analysers.h"

namespace {

class Sink final : public strandis::analysers::LogSink {
public:
    void log(std::string_view line) override { size_ += line.size(); }

private:
    std::size_t size_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 11) return 0;
    namespace a = strandis::analysers;
    const std::uint8_t reader = data[0];
    const std::span<const std::uint8_t> block(data + 10, size - 10);
    const std::size_t start = data[1] % block.size();
    const std::size_t length =
        std::min<std::size_t>(data[2] * 16u + data[1] % 16, block.size() - start);
    a::Payload payload{block, start, length};
    // The private-stream-1 header: 7 bytes from the input, or up to 16 (a DVD-Audio one).
    payload.headerLength = (reader & 0x40) != 0 ? std::min<std::size_t>(16, size - 3) : 7;
    for (std::size_t k = 0; k < payload.headerLength; ++k)
        payload.header[k] = data[3 + k];
    const auto layout = static_cast<a::LpcmLayout>((reader >> 6) % 3);
    Sink sink;
    switch (reader % 9) {
        case 0:
            a::AC3details(payload, reader >> 4, sink);
            break;
        case 1:
            a::DTSdetails(payload, sink);
            break;
        case 2:
            a::MLPdetails(payload, sink);
            break;
        case 3:
            a::LPCMdetails(payload, layout, sink);
            break;
        case 4:
            a::VC1details(payload, 0x123456789ull, sink);
            break;
        case 5:
            a::H264details(payload, sink);
            break;
        case 6:
            a::MPEG2details(payload, 0, sink);
            break;
        case 7:
            a::SUBdetails(payload, sink);
            break;
        default:
            a::LPCMdetails(payload, a::LpcmLayout::DvdAudio, sink);
            break;
    }
    return 0;
}
