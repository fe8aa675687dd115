#include "analysers/HdDvdSubpicture.h"

#include <algorithm>

#include "common/ByteOrder.h"

namespace strandis::analysers {

namespace {

// A field's pixel data as a stream of bits from the most significant one, up to the unit's end:
// up to 57 bits at a time stand ready in `cache_`, topmost first.
class FieldBits {
public:
    FieldBits(const std::uint8_t* unit, std::size_t size, std::size_t from)
        : unit_(unit), size_(size), next_(from) {}

    // The next `n` bits (at most 24) without taking them; `available` says how many are real.
    std::uint32_t peek(unsigned n) {
        if (count_ < n) refill();
        return static_cast<std::uint32_t>(cache_ >> (64 - n));
    }
    bool take(unsigned n) {
        if (count_ < n) return false;
        cache_ <<= n;
        count_ -= n;
        return true;
    }
    void alignToByte() { take(count_ % 8); }

private:
    // Tops the cache up with whole bytes: eight at a time while they are there.
    void refill() {
        const unsigned room = (64 - count_) / 8;
        if (room == 0) return;
        if (next_ + 8 <= size_) {
            const std::uint64_t word = Be64(unit_ + next_) >> (64 - 8 * room) << (64 - 8 * room);
            cache_ |= word >> count_;
            count_ += 8 * room;
            next_ += room;
            return;
        }
        while (count_ <= 56 && next_ < size_) {
            cache_ |= std::uint64_t{unit_[next_++]} << (56 - count_);
            count_ += 8;
        }
    }

    const std::uint8_t* unit_;
    std::size_t size_;
    std::size_t next_;
    std::uint64_t cache_ = 0;
    unsigned count_ = 0;
};

// One line of runs. A run: a flag (a length follows), the colour's width (2 or 8 bits), the
// colour, then for a run of more than one pixel a length form: 3 bits for 2-9 pixels, or 7 bits
// for 10-136 (0: to the end of the line). Lines start on a byte.
bool DecodeLine(FieldBits& in, std::vector<Run>& runs, int width, std::string& why) {
    for (int x = 0; x < width;) {
        // A run is at most 1 + 1 + 8 + 1 + 7 = 18 bits: look at them in one go.
        const std::uint32_t bits = in.peek(18);
        const bool wide = (bits & 0x10000) != 0;
        const unsigned colourBits = wide ? 8 : 2;
        const auto colour =
            static_cast<std::uint8_t>((bits >> (16 - colourBits)) & ((1u << colourBits) - 1));
        unsigned used = 2 + colourBits;
        int length = 1;
        if ((bits & 0x20000) != 0) {
            const std::uint32_t rest = bits << used;  // the length form at bit 17
            if ((rest & 0x20000) == 0) {
                length = static_cast<int>((rest >> 14) & 0x7) + 2;
                used += 4;
            } else {
                const auto n = static_cast<int>((rest >> 10) & 0x7F);
                length = n == 0 ? width - x : n + 9;
                used += 8;
            }
        }
        if (!in.take(used)) {
            why = "its lines run past its pixels";
            return false;
        }
        if (length > width - x) {
            why = "a run goes past the end of its line";
            return false;
        }
        runs.push_back({colour, static_cast<std::uint16_t>(length)});
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
    // A line holds at most one run a pixel; a unit's bits bound its runs too.
    caption.runs.reserve(std::min<std::size_t>(
        size * 8 / 4,
        static_cast<std::size_t>(caption.width) * static_cast<std::size_t>(caption.height)));
    FieldBits fields[2] = {FieldBits(unit, size, top), FieldBits(unit, size, bottom)};
    for (int line = 0; line < caption.height; ++line) {
        if (!DecodeLine(fields[line % 2], caption.runs, caption.width, why)) return std::nullopt;
    }
    // Delays count in 1024 ticks of 90 kHz, each from the unit's time stamp.
    caption.start = pts + std::int64_t{*start} * 1024;
    if (stop && *stop > *start) caption.end = pts + std::int64_t{*stop} * 1024;
    return caption;
}

}  // namespace strandis::analysers
