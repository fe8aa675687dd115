// Writes a program stream of a chosen size that looks like a disc's feature: 2,048-byte packs
// of MPEG-2 video (PTS and DTS on each picture, an I-frame every half second, about 13 Mbit/s),
// two Dolby Digital streams (0x80, 0x81), LPCM (0xA2) and DTS (0x8B) audio, two DVD subpicture
// streams (0x20, 0x21) and an HD DVD one (0x22, 1920 x 64 captions of 8-bit runs), navigation
// packs at each group of pictures and now and then a padding pack.
// Usage: strandis-bench-stream FILE MEGABYTES
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "testkit/HdDvdUnit.h"
#include "testkit/PsBuilder.h"

namespace {

using strandis::test::Bytes;
using strandis::test::PsBuilder;

// Compressed-looking bytes: a fixed pool of xorshift noise with the start code prefix removed.
class Noise {
public:
    Noise() : pool_(1 << 20) {
        std::uint64_t x = 0x9E3779B97F4A7C15ull;
        for (auto& b : pool_) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            b = static_cast<std::uint8_t>(x >> 32);
        }
        for (std::size_t k = 2; k < pool_.size(); ++k) {
            if (pool_[k - 2] == 0 && pool_[k - 1] == 0 && pool_[k] <= 3) pool_[k] = 0x55;
        }
    }
    Bytes take(std::size_t n) {
        Bytes out;
        out.reserve(n);
        while (out.size() < n) {
            const std::size_t part = std::min(n - out.size(), pool_.size() - at_);
            out.insert(out.end(), pool_.begin() + static_cast<std::ptrdiff_t>(at_),
                       pool_.begin() + static_cast<std::ptrdiff_t>(at_ + part));
            at_ = (at_ + part) % (pool_.size() - 7919);
        }
        return out;
    }

private:
    Bytes pool_;
    std::size_t at_ = 0;
};

// Frame headers, so that other tools take the audio for what it claims to be: Dolby Digital
// 48 kHz 3/2+LFE at 448 and 640 kbit/s; DTS 5.1 48 kHz 1,884-byte frames (1,411.2 kbit/s).
const Bytes kAc3{0x0B, 0x77, 0xB5, 0x0B, 0x1E, 0x40, 0xEB, 0xF8};
const Bytes kAc3At640{0x0B, 0x77, 0x00, 0x00, 0x24, 0x40, 0xEB, 0xF8};
const Bytes kDts{0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C, 0x75, 0xB2,
                 0x76, 0xC0, 0x05, 0x38, 0x00, 0x09, 0xEF, 0x7B};

Bytes Frame(const Bytes& header, std::size_t size, Noise& noise) {
    Bytes frame = header;
    const Bytes body = noise.take(size - header.size());
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

// A DVD subpicture unit of `lines` lines of 720 pixels, each line runs of 16 pixels in the four
// colours (three-nibble codes), shown at once and stopped two seconds later.
Bytes DvdUnit(int lines) {
    Bytes fields[2];
    for (int line = 0; line < lines; ++line) {
        Bytes& field = fields[line % 2];
        std::uint8_t nibble = 0;
        bool high = true;
        const auto put = [&](std::uint8_t n) {
            if (high) {
                nibble = static_cast<std::uint8_t>(n << 4);
            } else {
                field.push_back(static_cast<std::uint8_t>(nibble | n));
            }
            high = !high;
        };
        for (int run = 0; run < 720 / 16; ++run) {
            const auto code = static_cast<std::uint32_t>(16 << 2 | ((run + line) & 3));
            put(static_cast<std::uint8_t>(code >> 8));
            put(static_cast<std::uint8_t>((code >> 4) & 15));
            put(static_cast<std::uint8_t>(code & 15));
        }
        if (!high) field.push_back(nibble);
    }
    const std::size_t top = 4, bottom = top + fields[0].size();
    const std::size_t control = bottom + fields[1].size();
    const std::size_t second = control + 4 + 3 + 3 + 7 + 5 + 2;
    const std::size_t size = second + 6;
    const auto hi = [](std::size_t v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
    const std::size_t y2 = 100 + static_cast<std::size_t>(lines) - 1;
    Bytes unit{hi(size), lo(size), hi(control), lo(control)};
    unit.insert(unit.end(), fields[0].begin(), fields[0].end());
    unit.insert(unit.end(), fields[1].begin(), fields[1].end());
    unit.insert(unit.end(),
                {0x00,       0x00,       hi(second), lo(second),
                 0x03,       0x32,       0x10,       0x04,
                 0xFF,       0xF0,       0x05,       0x00,
                 0x02,       0xCF,       0x06,       static_cast<std::uint8_t>(0x40 | (y2 >> 8)),
                 lo(y2),     0x06,       hi(top),    lo(top),
                 hi(bottom), lo(bottom), 0x01,       0xFF,
                 0x00,       0xAF,       hi(second), lo(second),
                 0x02,       0xFF});
    return unit;
}

class Muxer {
public:
    explicit Muxer(std::ofstream& file) : file_(file) {}

    // One access unit in packs; the first carries the time stamps.
    void unit(std::uint8_t streamId, int subHeader, std::uint8_t subId, const Bytes& es,
              std::uint64_t pts, std::uint64_t dts) {
        std::size_t done = 0;
        bool first = true;
        while (done < es.size()) {
            const std::size_t stamps = first ? (dts != pts ? 10 : 5) : 0;
            const std::size_t room = 2048 - 14 - 9 - stamps - static_cast<std::size_t>(subHeader);
            const std::size_t take = std::min(room, es.size() - done);
            Bytes payload;
            if (subHeader == 4) payload = {subId, 0x01, 0x00, 0x01};
            if (subHeader == 7) payload = {subId, 0x01, 0x00, 0x00, 0x00, 0x01, 0x80};
            if (subHeader == 1) payload = {subId};
            payload.insert(payload.end(), es.begin() + static_cast<std::ptrdiff_t>(done),
                           es.begin() + static_cast<std::ptrdiff_t>(done + take));
            const std::size_t left = room - take;
            PsBuilder ps;
            ps.pack(scr_);
            strandis::test::PesHeader header;
            if (first) {
                header.pts = pts;
                if (dts != pts) header.dts = dts;
            }
            if (left > 0 && left < 6) header.stuffing = static_cast<int>(left);
            ps.pes(streamId, header, payload);
            if (left >= 6) ps.padding(left - 6);
            write(ps);
            done += take;
            first = false;
        }
    }
    void navigation() {
        PsBuilder ps;
        ps.pack(scr_)
            .systemHeader(4, 1, {0xE0, 0xBD, 0xBF})
            .private2(Bytes(980, 0))
            .private2(Bytes(1000, 0));
        ps.padTo();
        write(ps);
    }
    void padding() {
        PsBuilder ps;
        ps.pack(scr_).padding(2048 - 14 - 6);
        write(ps);
    }
    std::uint64_t written() const { return written_; }

private:
    void write(const PsBuilder& ps) {
        file_.write(reinterpret_cast<const char*>(ps.bytes().data()),
                    static_cast<std::streamsize>(ps.size()));
        written_ += ps.size();
        scr_ += 270;
    }
    std::ofstream& file_;
    std::uint64_t scr_ = 0;
    std::uint64_t written_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: strandis-bench-stream FILE MEGABYTES\n");
        return 2;
    }
    const std::uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    Muxer mux(file);
    Noise noise;
    std::uint64_t frame = 0;
    std::uint64_t ac3 = 0, ddp = 0, dts = 0, lpcm = 0;
    // A line of "text" across the screen: strokes of a few pixels in 8-bit colours between runs
    // of the transparent background.
    strandis::test::HdDvdCaption caption;
    caption.x = 0, caption.y = 1000, caption.width = 1920, caption.height = 64;
    for (int line = 0; line < caption.height; ++line) {
        for (int x = 0; x < caption.width; ++x) {
            const int cell = (x + 7 * line) % 23;
            caption.pixels.push_back(static_cast<std::uint8_t>(cell < 4 ? 16 + cell * 50 : 0));
        }
    }
    for (std::size_t k = 0; k < 256; ++k)
        caption.palette[k] = {static_cast<std::uint8_t>(16 + k * 219 / 255), 128, 128};
    caption.transparency[0] = 255;
    caption.stopDelay = 200;
    const Bytes hdUnit = strandis::test::MakeHdDvdUnit(caption);
    while (mux.written() < target) {
        const std::uint64_t pts = 90000 + frame * 3754;  // 23.976 pictures a second
        if (frame % 12 == 0) mux.navigation();
        Bytes picture = {0x00, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(frame << 6),
                         0x08, 0xFF, 0xF8, 0x00, 0x00,
                         0x01, 0xB5, 0x8F, 0xFF, 0xF3,
                         0x41, 0x80};
        const std::size_t size = frame % 12 == 0 ? 110000 : frame % 3 == 0 ? 52000 : 26000;
        if (frame % 12 == 0) {  // sequence header and extension: 1920 x 1080, 23.976, Main profile
            picture.insert(picture.begin(),
                           {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, 0x31, 0x3D, 0x09, 0x32,
                            0xA8, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x4A, 0x00, 0x01, 0x00, 0x00});
        }
        // Slices of noise behind their start codes, one per macroblock row.
        for (std::size_t row = 1; picture.size() < size; ++row) {
            const Bytes slice = noise.take(size / 68);
            picture.insert(picture.end(), {0x00, 0x00, 0x01, static_cast<std::uint8_t>(row), 0x0A});
            picture.insert(picture.end(), slice.begin(), slice.end());
        }
        mux.unit(0xE0, 0, 0, picture, pts + 7508, pts);
        for (; ac3 < pts + 3754; ac3 += 2880)
            mux.unit(0xBD, 4, 0x80, Frame(kAc3, 1792, noise), ac3, ac3);
        for (; ddp < pts + 3754; ddp += 2880)
            mux.unit(0xBD, 4, 0x81, Frame(kAc3At640, 2560, noise), ddp, ddp);
        for (; dts < pts + 3754; dts += 960)
            mux.unit(0xBD, 4, 0x8B, Frame(kDts, 1884, noise), dts, dts);
        for (; lpcm < pts + 3754; lpcm += 1500)
            mux.unit(0xBD, 7, 0xA2, noise.take(3000), lpcm, lpcm);  // 16-bit stereo
        if (frame % 48 == 0) {
            mux.unit(0xBD, 1, 0x20, DvdUnit(50), pts, pts);
            mux.unit(0xBD, 1, 0x21, DvdUnit(36), pts, pts);
            mux.unit(0xBD, 1, 0x22, hdUnit, pts, pts);
        }
        if (frame % 5 == 0) mux.padding();
        ++frame;
    }
    return file ? 0 : 1;
}
