#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace strandis::test {

using Bytes = std::vector<std::uint8_t>;

// The fields of one PES header.
struct PesHeader {
    std::optional<std::uint64_t> pts;
    std::optional<std::uint64_t> dts;               // written only with a PTS
    bool pstd = false;                              // P-STD buffer field in the PES extension
    std::optional<std::uint8_t> streamIdExtension;  // PES extension 2
    int stuffing = 0;                               // 0xFF bytes at the end of the header data
    std::optional<std::uint16_t> packetLength;      // instead of the true PES_packet_length
};

// Writes a program stream: packs, system headers, PES packets and the sub-stream headers of
// private stream 1, so a test reads like the stream it describes.
class PsBuilder {
public:
    // A 14-byte MPEG-2 pack header.
    PsBuilder& pack(std::uint64_t scr = 0, std::uint32_t muxRate = 25200);
    // A system header with the given bounds and one entry per stream id in `streams`.
    PsBuilder& systemHeader(int audioBound, int videoBound,
                            const std::vector<std::uint8_t>& streams = {});

    // Any PES packet: start code, length, the three fixed bytes, header data, payload.
    PsBuilder& pes(std::uint8_t streamId, const PesHeader& header, const Bytes& payload);

    // Video: 0xE0-0xE3, or 0xFD with a VC-1 stream_id_extension.
    PsBuilder& video(std::uint8_t streamId, const Bytes& es, std::optional<std::uint64_t> pts = {},
                     std::optional<std::uint64_t> dts = {});
    PsBuilder& vc1(std::uint8_t extension, const Bytes& es, std::optional<std::uint64_t> pts = {});

    // Private stream 1 with a sub-stream header: id, frame count, first access unit pointer
    // (4 bytes) for Dolby Digital, DD+ and DTS; 7 bytes with the LPCM codes (24-bit, 96 kHz,
    // L + R) for 0xA0-0xA7; 1 more TrueHD byte for 0xB0-0xB7. `es` follows the header.
    PsBuilder& audio(std::uint8_t subId, const Bytes& es, std::optional<std::uint64_t> pts = {});
    // Private stream 1 with a subpicture: the sub-stream id, then `unit`.
    PsBuilder& subpicture(std::uint8_t subId, const Bytes& unit,
                          std::optional<std::uint64_t> pts = {});
    // Private stream 1 with bytes of our choosing after the PES header.
    PsBuilder& private1(const Bytes& data, const PesHeader& header = {});

    PsBuilder& mpegAudio(std::uint8_t streamId, const Bytes& es,
                         std::optional<std::uint64_t> pts = {});
    PsBuilder& padding(std::size_t payloadLength);
    PsBuilder& private2(const Bytes& data);
    PsBuilder& raw(const Bytes& data);
    // A padding packet (or bare 0xFF bytes, when less than 6 are missing) up to the next multiple
    // of `boundary` bytes.
    PsBuilder& padTo(std::size_t boundary = 2048);

    const Bytes& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    void save(const std::string& path) const;

    // The 5-byte time stamp field with its 4-bit prefix (2 PTS only, 3 PTS of a pair, 1 DTS).
    static Bytes TimeStamp(std::uint8_t prefix, std::uint64_t value);

private:
    Bytes bytes_;
};

// Bytes counting from 2 to 252 and round again: never 00 or 01, so no start code by chance.
Bytes Counting(std::size_t length, std::uint8_t first = 0);
void SaveFile(const std::string& path, const Bytes& data);
Bytes LoadFile(const std::string& path);

}  // namespace strandis::test
