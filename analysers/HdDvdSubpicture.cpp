#include "analysers/HdDvdSubpicture.h"

#include <algorithm>

#include "common/ByteOrder.h"

namespace strandis::analysers {

namespace {

// A field's pixel data read bit by bit from the most significant bit, up to the unit's end.
class FieldBits {
public:
    FieldBits(const std::uint8_t* unit, std::size_t size, std::size_t from)
        : unit_(unit), bitEnd_(std::uint64_t{size} * 8), bit_(std::uint64_t{from} * 8) {}

    // The next `n` bits (1 to 8); false once they would run past the unit.
    bool get(unsigned n, std::uint32_t& value) {
        if (bit_ + n > bitEnd_) return false;
        const std::size_t byte = static_cast<std::size_t>(bit_ / 8);
        const unsigned shift = static_cast<unsigned>(bit_ % 8);
        std::uint32_t window = std::uint32_t{unit_[byte]} << 8;
        if (shift + n > 8) window |= unit_[byte + 1];
        value = (window >> (16 - shift - n)) & ((1u << n) - 1);
        bit_ += n;
        return true;
    }
    void alignToByte() { bit_ = (bit_ + 7) / 8 * 8; }

private:
    const std::uint8_t* unit_;
    std::uint64_t bitEnd_;
    std::uint64_t bit_;
};

// One line of runs. A run: a flag (a length follows), the colour's width (2 or 8 bits), the
// colour, then for a run of more than one pixel a length form: 3 bits for 2-9 pixels, or 7 bits
// for 10-136 (0: to the end of the line). Lines start on a byte.
bool DecodeLine(FieldBits& in, std::uint8_t* line, int width, std::string& why) {
    for (int x = 0; x < width;) {
        std::uint32_t run = 0, wide = 0, colour = 0, form = 0, n = 0;
        if (!in.get(1, run) || !in.get(1, wide) || !in.get(wide != 0 ? 8 : 2, colour)) {
            why = "its lines run past its pixels";
            return false;
        }
        int length = 1;
        if (run != 0) {
            if (!in.get(1, form) || !in.get(form != 0 ? 7 : 3, n)) {
                why = "its lines run past its pixels";
                return false;
            }
            length = form == 0 ? static_cast<int>(n) + 2
                     : n == 0  ? width - x
                               : static_cast<int>(n) + 9;
        }
        if (length > width - x) {
            why = "a run goes past the end of its line";
            return false;
        }
        std::fill(line + x, line + x + length, static_cast<std::uint8_t>(colour));
        x += length;
    }
    in.alignToByte();
    return true;
}

}  // namespace

std::optional<Caption> DecodeHdDvdUnit(const std::uint8_t* unit, std::size_t length,
                                       std::int64_t pts, std::string& why) {
    if (length < 10 || unit[0] != 0 || unit[1] != 0 || Be32(unit + 2) < 10 ||
        Be32(unit + 2) > length) {
        why = "it is cut short";
        return std::nullopt;
    }
    const std::size_t size = Be32(unit + 2);
    std::size_t at = Be32(unit + 6);
    Caption caption;
    caption.colours.assign(256, YCrCbA{0, 0, 0, 0});
    bool alphaRead = false, area = false, offsets = false;
    std::uint32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    std::size_t top = 0, bottom = 0;
    std::optional<std::uint32_t> start, stop;
    // The display control sequences, each with its delay and the place of the next one.
    for (int sequences = 0; sequences < 256; ++sequences) {
        if (at + 6 > size) {
            why = "its control sequence lies outside it";
            return std::nullopt;
        }
        const std::uint32_t delay = Be16(unit + at);
        const std::size_t next = Be32(unit + at + 2);
        std::size_t k = at + 6;
        for (bool end = false; !end;) {
            if (k >= size) {
                why = "its commands run past its end";
                return std::nullopt;
            }
            const std::uint8_t command = unit[k++];
            const auto need = [&](std::size_t bytes) {
                if (k + bytes <= size) return true;
                why = "its commands run past its end";
                return false;
            };
            switch (command) {
                case 0x00:  // forced start
                    caption.forced = true;
                    start = delay;
                    break;
                case 0x01:
                    if (!start) start = delay;
                    break;
                case 0x02:
                    stop = delay;
                    break;
                case 0x83:  // 256 entries of Y, Cr, Cb
                    if (!need(768)) return std::nullopt;
                    for (std::size_t e = 0; e < 256; ++e) {
                        YCrCbA& colour = caption.colours[e];
                        colour.y = unit[k + 3 * e];
                        colour.cr = unit[k + 3 * e + 1];
                        colour.cb = unit[k + 3 * e + 2];
                    }
                    k += 768;
                    break;
                case 0x84:  // a transparency byte per entry
                    if (!need(256)) return std::nullopt;
                    for (std::size_t e = 0; e < 256 && !alphaRead; ++e)
                        caption.colours[e].alpha = static_cast<std::uint8_t>(255 - unit[k + e]);
                    alphaRead = true;
                    k += 256;
                    break;
                case 0x85:  // x1, x2, y1, y2: 12 bits each
                    if (!need(6)) return std::nullopt;
                    x1 = (std::uint32_t{unit[k]} << 4) | (unit[k + 1] >> 4);
                    x2 = ((unit[k + 1] & 0x0Fu) << 8) | unit[k + 2];
                    y1 = (std::uint32_t{unit[k + 3]} << 4) | (unit[k + 4] >> 4);
                    y2 = ((unit[k + 4] & 0x0Fu) << 8) | unit[k + 5];
                    area = true;
                    k += 6;
                    break;
                case 0x86:  // where the even and the odd field's lines start
                    if (!need(8)) return std::nullopt;
                    top = Be32(unit + k);
                    bottom = Be32(unit + k + 4);
                    offsets = true;
                    k += 8;
                    break;
                default:  // 0xFF, and any other code, ends the sequence
                    end = true;
                    break;
            }
        }
        if (next == at || next >= size) break;
        if (next < at) {
            why = "its control sequences loop";
            return std::nullopt;
        }
        at = next;
    }
    if (!area || !offsets || x2 < x1 || y2 < y1 || !start) {
        why = "it shows nothing";
        return std::nullopt;
    }
    if (y2 == y1) {
        why = "its area is one line high";
        return std::nullopt;
    }
    if (top >= size || bottom >= size) {
        why = "its line offsets lie outside it";
        return std::nullopt;
    }
    caption.x = static_cast<int>(x1);
    caption.y = static_cast<int>(y1);
    caption.width = static_cast<int>(x2 - x1 + 1);
    caption.height = static_cast<int>(y2 - y1 + 1);
    caption.pixels.assign(
        static_cast<std::size_t>(caption.width) * static_cast<std::size_t>(caption.height), 0);
    FieldBits fields[2] = {FieldBits(unit, size, top), FieldBits(unit, size, bottom)};
    for (int line = 0; line < caption.height; ++line) {
        std::uint8_t* row = caption.pixels.data() + static_cast<std::size_t>(line) *
                                                        static_cast<std::size_t>(caption.width);
        if (!DecodeLine(fields[line % 2], row, caption.width, why)) return std::nullopt;
    }
    // Delays count in 1024 ticks of 90 kHz, each from the unit's time stamp.
    caption.start = pts + std::int64_t{*start} * 1024;
    if (stop && *stop > *start) caption.end = pts + std::int64_t{*stop} * 1024;
    return caption;
}

}  // namespace strandis::analysers
