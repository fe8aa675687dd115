#include "analysers/DvdSubpicture.h"

#include <algorithm>

#include "common/ByteOrder.h"

namespace strandis::analysers {

namespace {

// Reads the nibbles of a field's run-length coded lines.
class Nibbles {
public:
    Nibbles(const std::uint8_t* data, std::size_t end, std::size_t from)
        : data_(data), end_(end), at_(from * 2) {}
    // The next nibble; false once past the end of the pixel data.
    bool next(std::uint32_t& value) {
        if (at_ / 2 >= end_) return false;
        const std::uint8_t byte = data_[at_ / 2];
        value = at_ % 2 == 0 ? byte >> 4 : byte & 0x0Fu;
        ++at_;
        return true;
    }
    void alignToByte() { at_ += at_ % 2; }

private:
    const std::uint8_t* data_;
    std::size_t end_;
    std::size_t at_;
};

// One line of 2-bit run-length codes: a run is 1 to 4 nibbles, 01..0F, 0100..03FF; a run of
// length 0 fills the rest of the line. Lines start on a byte.
bool DecodeLine(Nibbles& in, std::vector<Run>& runs, int width) {
    int x = 0;
    while (x < width) {
        std::uint32_t code = 0, n = 0;
        if (!in.next(code)) return false;
        for (std::uint32_t limit : {0x4u, 0x10u, 0x40u}) {
            if (code >= limit) break;
            if (!in.next(n)) return false;
            code = (code << 4) | n;
        }
        const std::uint8_t colour = static_cast<std::uint8_t>(code & 3);
        int run = static_cast<int>(code >> 2);
        if (run == 0) run = width - x;  // to the end of the line
        run = std::min(run, width - x);
        runs.push_back({colour, static_cast<std::uint16_t>(run)});
        x += run;
    }
    in.alignToByte();
    return true;
}

YCrCbA FromRgb(std::uint32_t rgb) {
    const double r = (rgb >> 16) & 0xFF, g = (rgb >> 8) & 0xFF, b = rgb & 0xFF;
    const auto clamp = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(v + 0.5, 0.0, 255.0));
    };
    return {clamp(16 + 0.257 * r + 0.504 * g + 0.098 * b),
            clamp(128 + 0.439 * r - 0.368 * g - 0.071 * b),
            clamp(128 - 0.148 * r - 0.291 * g + 0.439 * b), 255};
}

}  // namespace

DvdPalette DefaultDvdPalette() {
    // The colours VobSub tools fall back on.
    constexpr std::uint32_t kRgb[16] = {0x000000, 0xF0F0F0, 0xCCCCCC, 0x999999, 0x3333FA, 0x1111BB,
                                        0xFA3333, 0xBB1111, 0x33FA33, 0x11BB11, 0xFAFA33, 0xBBBB11,
                                        0xFA33FA, 0xBB11BB, 0x33FAFA, 0x11BBBB};
    DvdPalette palette;
    for (std::size_t k = 0; k < 16; ++k)
        palette[k] = FromRgb(kRgb[k]);
    return palette;
}

std::optional<Caption> DecodeDvdUnit(const std::uint8_t* unit, std::size_t length, std::int64_t pts,
                                     const DvdPalette& palette, std::string& why) {
    if (length < 4 || Be16(unit) > length || Be16(unit) < 4) {
        why = "it is cut short";
        return std::nullopt;
    }
    const std::size_t size = Be16(unit);
    std::size_t at = Be16(unit + 2);
    Caption caption;
    std::array<std::uint32_t, 4> colour{}, contrast{};
    std::uint32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0, top = 0, bottom = 0;
    bool area = false, offsets = false;
    std::optional<std::uint32_t> start, stop;
    // The control sequences, each with its delay and the place of the next one.
    for (int sequences = 0; sequences < 256; ++sequences) {
        if (at + 4 > size) {
            why = "its control sequence lies outside it";
            return std::nullopt;
        }
        const std::uint32_t delay = Be16(unit + at);
        const std::size_t next = Be16(unit + at + 2);
        std::size_t k = at + 4;
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
                case 0x03:  // colours of pixel values 3, 2, 1, 0
                case 0x04:  // and their contrast
                    if (!need(2)) return std::nullopt;
                    for (std::size_t v = 0; v < 4; ++v) {
                        const std::uint8_t b = unit[k + (3 - v) / 2];
                        (command == 0x03 ? colour : contrast)[v] = v % 2 == 1 ? b >> 4 : b & 0x0Fu;
                    }
                    k += 2;
                    break;
                case 0x05:
                    if (!need(6)) return std::nullopt;
                    x1 = (std::uint32_t{unit[k]} << 4) | (unit[k + 1] >> 4);
                    x2 = ((unit[k + 1] & 0x0Fu) << 8) | unit[k + 2];
                    y1 = (std::uint32_t{unit[k + 3]} << 4) | (unit[k + 4] >> 4);
                    y2 = ((unit[k + 4] & 0x0Fu) << 8) | unit[k + 5];
                    area = true;
                    k += 6;
                    break;
                case 0x06:
                    if (!need(4)) return std::nullopt;
                    top = Be16(unit + k);
                    bottom = Be16(unit + k + 2);
                    offsets = true;
                    k += 4;
                    break;
                case 0x07:  // colour and contrast changes within the area: not kept
                    if (!need(2) || !need(Be16(unit + k))) return std::nullopt;
                    if (Be16(unit + k) < 2) {
                        why = "its colour changes have no size";
                        return std::nullopt;
                    }
                    k += Be16(unit + k);
                    break;
                case 0xFF:
                    end = true;
                    break;
                default:
                    why = "it holds an unknown command";
                    return std::nullopt;
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
    caption.x = static_cast<int>(x1);
    caption.y = static_cast<int>(y1);
    caption.width = static_cast<int>(x2 - x1 + 1);
    caption.height = static_cast<int>(y2 - y1 + 1);
    const std::size_t pixelEnd = Be16(unit + 2);
    if (top >= pixelEnd || bottom >= pixelEnd) {
        why = "its line offsets lie outside its pixels";
        return std::nullopt;
    }
    Nibbles fields[2] = {Nibbles(unit, pixelEnd, top), Nibbles(unit, pixelEnd, bottom)};
    for (int line = 0; line < caption.height; ++line) {
        if (!DecodeLine(fields[line % 2], caption.runs, caption.width)) {
            why = "its lines run past its pixels";
            return std::nullopt;
        }
    }
    caption.colours.resize(4);
    for (std::size_t v = 0; v < 4; ++v) {
        caption.colours[v] = palette[colour[v]];
        caption.colours[v].alpha = static_cast<std::uint8_t>(contrast[v] * 17);
    }
    // Delays count in 1024 ticks of 90 kHz.
    caption.start = pts + std::int64_t{*start} * 1024;
    if (stop && *stop > *start) caption.end = pts + std::int64_t{*stop} * 1024;
    return caption;
}

std::vector<std::uint8_t> Caption::pixels() const {
    std::vector<std::uint8_t> bitmap;
    bitmap.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (const Run& run : runs)
        bitmap.insert(bitmap.end(), run.length, run.colour);
    return bitmap;
}

}  // namespace strandis::analysers
