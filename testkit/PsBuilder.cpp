#include "testkit/PsBuilder.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace strandis::test {

namespace {

void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

void StartCode(Bytes& to, std::uint8_t id) {
    Append(to, {0x00, 0x00, 0x01, id});
}

}  // namespace

Bytes PsBuilder::TimeStamp(std::uint8_t prefix, std::uint64_t value) {
    return {
        static_cast<std::uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 0x01),
        static_cast<std::uint8_t>(value >> 22),
        static_cast<std::uint8_t>(((value >> 14) & 0xFE) | 0x01),
        static_cast<std::uint8_t>(value >> 7),
        static_cast<std::uint8_t>(((value << 1) & 0xFE) | 0x01),
    };
}

PsBuilder& PsBuilder::pack(std::uint64_t scr, std::uint32_t muxRate) {
    StartCode(bytes_, 0xBA);
    Append(bytes_,
           {
               static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
               static_cast<std::uint8_t>(scr >> 20),
               static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
               static_cast<std::uint8_t>(scr >> 5),
               static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 0x04),
               0x01,  // SCR extension 0 and its marker
               static_cast<std::uint8_t>(muxRate >> 14), static_cast<std::uint8_t>(muxRate >> 6),
               static_cast<std::uint8_t>(((muxRate << 2) & 0xFC) | 0x03),
               0xF8,  // no stuffing
           });
    return *this;
}

PsBuilder& PsBuilder::systemHeader(int audioBound, int videoBound,
                                   const std::vector<std::uint8_t>& streams) {
    StartCode(bytes_, 0xBB);
    const std::size_t length = 6 + 3 * streams.size();
    Append(bytes_, {
                       static_cast<std::uint8_t>(length >> 8),
                       static_cast<std::uint8_t>(length),
                       0x80,
                       0xC4,
                       0xE1,  // rate_bound with its markers
                       static_cast<std::uint8_t>((audioBound << 2) | 0x02),  // fixed_flag 1, CSPS 0
                       static_cast<std::uint8_t>(0xE0 | (videoBound & 0x1F)),  // locks, marker
                       0x7F,
                   });
    for (std::uint8_t id : streams)
        Append(bytes_, {id, 0xE0, 0xE8});
    return *this;
}

PsBuilder& PsBuilder::pes(std::uint8_t streamId, const PesHeader& header, const Bytes& payload) {
    Bytes data;
    std::uint8_t flags = 0;
    if (header.pts) {
        if (header.dts) {
            flags |= 0xC0;
            Append(data, TimeStamp(3, *header.pts));
            Append(data, TimeStamp(1, *header.dts));
        } else {
            flags |= 0x80;
            Append(data, TimeStamp(2, *header.pts));
        }
    }
    if (header.pstd || header.streamIdExtension) {
        flags |= 0x01;
        data.push_back(static_cast<std::uint8_t>(0x0E | (header.pstd ? 0x10 : 0) |
                                                 (header.streamIdExtension ? 0x01 : 0)));
        if (header.pstd) Append(data, {0x60, 0xE8});
        if (header.streamIdExtension) Append(data, {0x81, *header.streamIdExtension});
    }
    data.insert(data.end(), static_cast<std::size_t>(header.stuffing), 0xFF);

    const std::size_t length = 3 + data.size() + payload.size();
    if (!header.packetLength && length > 0xFFFF)
        throw std::length_error("PES packet longer than 65535 bytes");
    const std::uint16_t field =
        header.packetLength ? *header.packetLength : static_cast<std::uint16_t>(length);
    StartCode(bytes_, streamId);
    Append(bytes_, {static_cast<std::uint8_t>(field >> 8), static_cast<std::uint8_t>(field), 0x81,
                    flags, static_cast<std::uint8_t>(data.size())});
    Append(bytes_, data);
    Append(bytes_, payload);
    return *this;
}

PsBuilder& PsBuilder::video(std::uint8_t streamId, const Bytes& es,
                            std::optional<std::uint64_t> pts, std::optional<std::uint64_t> dts) {
    return pes(streamId, {.pts = pts, .dts = dts}, es);
}

PsBuilder& PsBuilder::vc1(std::uint8_t extension, const Bytes& es,
                          std::optional<std::uint64_t> pts) {
    return pes(0xFD, {.pts = pts, .streamIdExtension = extension}, es);
}

PsBuilder& PsBuilder::audio(std::uint8_t subId, const Bytes& es, std::optional<std::uint64_t> pts) {
    Bytes data{subId, 0x01, 0x00, 0x01};
    if (subId >= 0xA0 && subId <= 0xA7) {
        // The LPCM codes: sample size in byte 2, frequency in byte 3, channels in byte 5 (24-bit,
        // 96 kHz, L + R).
        data = {subId, 0x01, 0x20, 0x10, 0x00, 0x01, 0x00};
    }
    if (subId >= 0xB0 && subId <= 0xB7) data.push_back(0x00);
    Append(data, es);
    return pes(0xBD, {.pts = pts}, data);
}

PsBuilder& PsBuilder::subpicture(std::uint8_t subId, const Bytes& unit,
                                 std::optional<std::uint64_t> pts) {
    Bytes data{subId};
    Append(data, unit);
    return pes(0xBD, {.pts = pts}, data);
}

PsBuilder& PsBuilder::private1(const Bytes& data, const PesHeader& header) {
    return pes(0xBD, header, data);
}

PsBuilder& PsBuilder::mpegAudio(std::uint8_t streamId, const Bytes& es,
                                std::optional<std::uint64_t> pts) {
    return pes(streamId, {.pts = pts}, es);
}

PsBuilder& PsBuilder::padding(std::size_t payloadLength) {
    StartCode(bytes_, 0xBE);
    Append(bytes_, {static_cast<std::uint8_t>(payloadLength >> 8),
                    static_cast<std::uint8_t>(payloadLength)});
    bytes_.insert(bytes_.end(), payloadLength, 0xFF);
    return *this;
}

PsBuilder& PsBuilder::private2(const Bytes& data) {
    StartCode(bytes_, 0xBF);
    Append(bytes_,
           {static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())});
    Append(bytes_, data);
    return *this;
}

PsBuilder& PsBuilder::raw(const Bytes& data) {
    Append(bytes_, data);
    return *this;
}

PsBuilder& PsBuilder::padTo(std::size_t boundary) {
    const std::size_t missing = (boundary - bytes_.size() % boundary) % boundary;
    if (missing >= 6) return padding(missing - 6);
    bytes_.insert(bytes_.end(), missing, 0xFF);
    return *this;
}

void PsBuilder::save(const std::string& path) const {
    SaveFile(path, bytes_);
}

Bytes Counting(std::size_t length, std::uint8_t first) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<std::uint8_t>((first + i) % 251 + 2);
    return out;
}

void SaveFile(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace strandis::test
