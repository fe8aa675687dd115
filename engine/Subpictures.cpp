#include "engine/Subpictures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace strandis {

namespace {

std::uint32_t Be16(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 8) | p[1];
}

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
bool DecodeLine(Nibbles& in, std::uint8_t* line, int width) {
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
        std::fill(line + x, line + x + run, colour);
        x += run;
    }
    in.alignToByte();
    return true;
}

void Put(std::vector<std::uint8_t>& to, std::uint32_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        to.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

// PGS run-length codes of one line: a single pixel of a colour other than 0 as itself, runs as
// 00 followed by flags, length (6 or 14 bits) and the colour when it is not 0; 00 00 ends a line.
void EncodeLine(const std::uint8_t* line, int width, std::vector<std::uint8_t>& out) {
    for (int x = 0; x < width;) {
        const std::uint8_t colour = line[x];
        const int limit = std::min(width - x, 16383);
        int run = 1;
        // Eight pixels at a time while they all match, then one by one.
        const std::uint64_t same = 0x0101010101010101ull * colour;
        while (run + 8 <= limit) {
            std::uint64_t next;
            std::memcpy(&next, line + x + run, 8);
            if (next != same) break;
            run += 8;
        }
        while (run < limit && line[x + run] == colour)
            ++run;
        if (colour != 0 && run <= 2) {
            for (int k = 0; k < run; ++k)
                out.push_back(colour);
        } else {
            out.push_back(0);
            const std::uint32_t flags = (colour != 0 ? 0x80u : 0u) | (run >= 64 ? 0x40u : 0u);
            if (run >= 64) {
                Put(out, (flags << 8) | static_cast<std::uint32_t>(run), 2);
            } else {
                out.push_back(static_cast<std::uint8_t>(flags | static_cast<std::uint32_t>(run)));
            }
            if (colour != 0) out.push_back(colour);
        }
        x += run;
    }
    out.push_back(0);
    out.push_back(0);
}

std::string Timestamp(std::int64_t ticks) {
    const std::int64_t ms = std::max<std::int64_t>(ticks, 0) / 90;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%03lld",
                  static_cast<long long>(ms / 3'600'000), static_cast<long long>(ms / 60'000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

// Y, Cr, Cb (BT.601, studio range) as the RGB that VobSub indexes hold.
std::uint32_t ToRgb(const YCrCbA& c) {
    const double y = 1.164 * (c.y - 16), cr = c.cr - 128.0, cb = c.cb - 128.0;
    const auto clamp = [](double v) {
        return static_cast<std::uint32_t>(std::clamp(v + 0.5, 0.0, 255.0));
    };
    return (clamp(y + 1.596 * cr) << 16) | (clamp(y - 0.813 * cr - 0.391 * cb) << 8) |
           clamp(y + 2.018 * cb);
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

std::optional<DvdPalette> ReadIfoPalette(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<std::uint8_t> ifo((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    if (ifo.size() < 0x100 || !std::equal(ifo.begin(), ifo.begin() + 12, "DVDVIDEO-VTS"))
        return std::nullopt;
    const auto be32 = [&ifo](std::size_t at) {
        return (std::uint32_t{ifo[at]} << 24) | (std::uint32_t{ifo[at + 1]} << 16) |
               (std::uint32_t{ifo[at + 2]} << 8) | ifo[at + 3];
    };
    // VTS_PGCIT's sector at 0xCC; its first search pointer gives the first PGC's offset, and
    // a PGC holds its colour lookup table at 0xA4: 16 times 0, Y, Cr, Cb.
    const std::size_t table = std::size_t{be32(0xCC)} * 2048;
    if (table + 16 > ifo.size()) return std::nullopt;
    const std::size_t pgc = table + be32(table + 12);
    if (pgc + 0xA4 + 64 > ifo.size()) return std::nullopt;
    DvdPalette palette;
    for (std::size_t k = 0; k < 16; ++k) {
        const std::uint8_t* entry = ifo.data() + pgc + 0xA4 + 4 * k;
        palette[k] = {entry[1], entry[2], entry[3], 255};
    }
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
                    if (!need(2) || Be16(unit + k) < 2 || !need(Be16(unit + k)))
                        return std::nullopt;
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
    caption.pixels.assign(
        static_cast<std::size_t>(caption.width) * static_cast<std::size_t>(caption.height), 0);
    const std::size_t pixelEnd = Be16(unit + 2);
    if (top >= pixelEnd || bottom >= pixelEnd) {
        why = "its line offsets lie outside its pixels";
        return std::nullopt;
    }
    Nibbles fields[2] = {Nibbles(unit, pixelEnd, top), Nibbles(unit, pixelEnd, bottom)};
    for (int line = 0; line < caption.height; ++line) {
        std::uint8_t* row = caption.pixels.data() + static_cast<std::size_t>(line) *
                                                        static_cast<std::size_t>(caption.width);
        if (!DecodeLine(fields[line % 2], row, caption.width)) {
            why = "its lines run past its pixels";
            return std::nullopt;
        }
    }
    for (std::size_t v = 0; v < 4; ++v) {
        caption.colours[v] = palette[colour[v]];
        caption.colours[v].alpha = static_cast<std::uint8_t>(contrast[v] * 17);
    }
    // Delays count in 1024 ticks of 90 kHz.
    caption.start = pts + std::int64_t{*start} * 1024;
    if (stop && *stop > *start) caption.end = pts + std::int64_t{*stop} * 1024;
    return caption;
}

// ---- PGS ----

void PgsWriter::segment(std::uint8_t type, std::int64_t pts,
                        const std::vector<std::uint8_t>& body) {
    std::uint8_t head[13] = {'P', 'G'};
    const auto time = static_cast<std::uint32_t>(std::max<std::int64_t>(pts, 0));
    for (int k = 0; k < 4; ++k)
        head[2 + k] = static_cast<std::uint8_t>(time >> (24 - 8 * k));
    // DTS 0
    head[10] = type;
    head[11] = static_cast<std::uint8_t>(body.size() >> 8);
    head[12] = static_cast<std::uint8_t>(body.size());
    file_.write(head, sizeof head);
    if (!body.empty()) file_.write(body.data(), body.size());
}

void PgsWriter::window(std::int64_t at, const Caption& caption) {
    body_.clear();
    body_.push_back(1);  // one window
    body_.push_back(0);  // its id
    Put(body_, static_cast<std::uint32_t>(caption.x), 2);
    Put(body_, static_cast<std::uint32_t>(caption.y), 2);
    Put(body_, static_cast<std::uint32_t>(caption.width), 2);
    Put(body_, static_cast<std::uint32_t>(caption.height), 2);
    segment(0x17, at, body_);
}

void PgsWriter::clear(std::int64_t at) {
    if (!shown_) return;
    body_.clear();
    Put(body_, static_cast<std::uint32_t>(videoWidth_), 2);
    Put(body_, static_cast<std::uint32_t>(videoHeight_), 2);
    body_.push_back(0x10);  // frame rate
    Put(body_, composition_++, 2);
    body_.push_back(0x00);  // normal case
    body_.push_back(0x00);  // no palette update
    body_.push_back(0x00);  // palette 0
    body_.push_back(0x00);  // no objects
    segment(0x16, at, body_);
    const Caption old = *shown_;
    window(at, old);
    segment(0x80, at, {});
    shown_.reset();
}

void PgsWriter::caption(const Caption& c) {
    if (shown_) clear(shown_->end ? std::min(*shown_->end, c.start) : c.start);
    // Presentation composition: the screen, this composition, one object in window 0.
    body_.clear();
    Put(body_, static_cast<std::uint32_t>(videoWidth_), 2);
    Put(body_, static_cast<std::uint32_t>(videoHeight_), 2);
    body_.push_back(0x10);
    Put(body_, composition_++, 2);
    body_.push_back(0x80);  // epoch start: nothing carries over from earlier captions
    body_.push_back(0x00);
    body_.push_back(0x00);
    body_.push_back(0x01);
    Put(body_, 0, 2);       // object 0
    body_.push_back(0x00);  // window 0
    body_.push_back(c.forced ? 0x40 : 0x00);
    Put(body_, static_cast<std::uint32_t>(c.x), 2);
    Put(body_, static_cast<std::uint32_t>(c.y), 2);
    segment(0x16, c.start, body_);
    window(c.start, c);

    // The palette: the caption's colours as entries 0-3.
    body_.clear();
    body_.push_back(0x00);  // palette 0
    body_.push_back(0x00);  // version
    for (std::size_t k = 0; k < c.colours.size(); ++k) {
        const YCrCbA& colour = c.colours[k];
        body_.insert(body_.end(),
                     {static_cast<std::uint8_t>(k), colour.y, colour.cr, colour.cb, colour.alpha});
    }
    segment(0x14, c.start, body_);

    // The object, in as many segments as its size needs.
    rle_.clear();
    for (int line = 0; line < c.height; ++line)
        EncodeLine(
            c.pixels.data() + static_cast<std::size_t>(line) * static_cast<std::size_t>(c.width),
            c.width, rle_);
    const std::size_t total = rle_.size() + 4;  // with the object's width and height
    std::size_t done = 0;
    bool first = true;
    while (first || done < rle_.size()) {
        body_.clear();
        Put(body_, 0, 2);       // object 0
        body_.push_back(0x00);  // version
        const std::size_t room = first ? 65535 - 11 : 65535 - 4;
        const std::size_t take = std::min(room, rle_.size() - done);
        const bool last = done + take == rle_.size();
        body_.push_back(static_cast<std::uint8_t>((first ? 0x80 : 0x00) | (last ? 0x40 : 0x00)));
        if (first) {
            Put(body_, static_cast<std::uint32_t>(total), 3);
            Put(body_, static_cast<std::uint32_t>(c.width), 2);
            Put(body_, static_cast<std::uint32_t>(c.height), 2);
        }
        body_.insert(body_.end(), rle_.begin() + static_cast<std::ptrdiff_t>(done),
                     rle_.begin() + static_cast<std::ptrdiff_t>(done + take));
        segment(0x15, c.start, body_);
        done += take;
        first = false;
    }
    segment(0x80, c.start, {});
    // What the clearing composition needs: the window, and when.
    Caption shown;
    shown.start = c.start;
    shown.end = c.end;
    shown.x = c.x, shown.y = c.y, shown.width = c.width, shown.height = c.height;
    shown_ = std::move(shown);
    if (c.end) clear(*c.end);
}

void PgsWriter::finish(std::int64_t fallbackEnd) {
    if (shown_) clear(std::max(fallbackEnd, shown_->start + 1));
}

// ---- VobSub ----

VobSubWriter::VobSubWriter(OutputFile& sub, OutputFile& idx, int videoWidth, int videoHeight,
                           const DvdPalette& palette)
    : sub_(sub), idx_(idx), videoWidth_(videoWidth), videoHeight_(videoHeight), palette_(palette) {}

// The unit in 2048-byte packs: a pack header, then a private stream 1 packet (the first with the
// time stamp) whose payload is sub-stream id 0x20 and the unit's next bytes; the last pack is
// filled up by a padding packet, or by stuffing bytes when too little is left for one.
void VobSubWriter::unit(const std::uint8_t* unit, std::size_t length, std::int64_t pts) {
    entries_.emplace_back(pts, sub_.size());
    const auto time = static_cast<std::uint64_t>(std::max<std::int64_t>(pts, 0));
    for (std::size_t done = 0; done < length;) {
        pack_.clear();
        // Pack header with the SCR at the caption's time and a mux rate of 10.08 Mbit/s.
        const std::uint64_t scr = time;
        pack_.insert(
            pack_.end(),
            {0x00, 0x00, 0x01, 0xBA,
             static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
             static_cast<std::uint8_t>(scr >> 20),
             static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
             static_cast<std::uint8_t>(scr >> 5),
             static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 0x04), 0x01, 0x89, 0xC3, 0xF8});
        const bool first = done == 0;
        const std::size_t header = first ? 5 : 0;  // the PTS
        const std::size_t room = 2048 - pack_.size() - 9 - header - 1;
        const std::size_t take = std::min(room, length - done);
        std::size_t stuffing = 0, padding = 0;
        if (take < room) {
            const std::size_t left = room - take;
            (left < 6 ? stuffing : padding) = left;
        }
        const std::size_t pesLength = 3 + header + stuffing + 1 + take;
        Put(pack_, 0x000001BD, 4);
        Put(pack_, static_cast<std::uint32_t>(pesLength), 2);
        pack_.push_back(0x81);
        pack_.push_back(first ? 0x80 : 0x00);
        pack_.push_back(static_cast<std::uint8_t>(header + stuffing));
        if (first) {
            pack_.insert(
                pack_.end(),
                {static_cast<std::uint8_t>(0x21 | ((time >> 29) & 0x0E)),
                 static_cast<std::uint8_t>(time >> 22), static_cast<std::uint8_t>((time >> 14) | 1),
                 static_cast<std::uint8_t>(time >> 7), static_cast<std::uint8_t>((time << 1) | 1)});
        }
        pack_.insert(pack_.end(), stuffing, 0xFF);
        pack_.push_back(0x20);
        pack_.insert(pack_.end(), unit + done, unit + done + take);
        if (padding != 0) {
            Put(pack_, 0x000001BE, 4);
            Put(pack_, static_cast<std::uint32_t>(padding - 6), 2);
            pack_.insert(pack_.end(), padding - 6, 0xFF);
        }
        sub_.write(pack_.data(), pack_.size());
        done += take;
    }
}

void VobSubWriter::finish() {
    std::string text =
        "# VobSub index file, v7 (do not modify this line!)\n"
        "size: " +
        std::to_string(videoWidth_) + "x" + std::to_string(videoHeight_) +
        "\norg: 0, 0\nscale: 100%, 100%\nalpha: 100%\nsmooth: OFF\nfadein/out: 0, 0\n"
        "align: OFF at LEFT TOP\ntime offset: 0\nforced subs: OFF\npalette: ";
    for (std::size_t k = 0; k < palette_.size(); ++k) {
        char rgb[8];
        std::snprintf(rgb, sizeof rgb, "%06x", ToRgb(palette_[k]));
        text += (k == 0 ? "" : ", ") + std::string(rgb);
    }
    text +=
        "\ncustom colors: OFF, tridx: 0000, colors: 000000, 000000, 000000, 000000\n"
        "langidx: 0\n\nid: --, index: 0\n";
    for (const auto& [time, position] : entries_) {
        char line[80];
        std::snprintf(line, sizeof line, "timestamp: %s, filepos: %09llx\n",
                      Timestamp(time).c_str(), static_cast<unsigned long long>(position));
        text += line;
    }
    idx_.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// ---- One slot's conversion ----

SubpictureOutput::SubpictureOutput(SubFormat format, OutputFile& file, OutputFile* idx,
                                   int videoWidth, int videoHeight, const DvdPalette& palette,
                                   RunHost& host)
    : format_(format), host_(host), palette_(palette) {
    if (format == SubFormat::VobSub && idx != nullptr) {
        vobsub_.emplace(file, *idx, videoWidth, videoHeight, palette);
    } else {
        pgs_.emplace(file, videoWidth, videoHeight);
    }
    unit_.reserve(65536);
}

void SubpictureOutput::skip(const std::string& why) {
    host_.log("The subpicture at " + Timestamp(pts_) + " is left out: " + why + ".");
}

void SubpictureOutput::chunk(const std::uint8_t* data, std::size_t length, bool start,
                             std::int64_t pts) {
    if (start) {
        if (collecting_) skip("it is cut short");
        unit_.clear();
        expected_ = 0;
        pts_ = pts;
        collecting_ = true;
    }
    if (!collecting_) return;  // the rest of a unit already done, or of one cut short
    unit_.insert(unit_.end(), data, data + length);
    if (expected_ == 0 && unit_.size() >= 2) {
        expected_ = Be16(unit_.data());
        if (expected_ < 4) {
            collecting_ = false;
            skip("it is not a DVD subpicture unit");
            return;
        }
    }
    if (expected_ != 0 && unit_.size() >= expected_) unitDone();
}

void SubpictureOutput::unitDone() {
    collecting_ = false;
    if (vobsub_) {
        vobsub_->unit(unit_.data(), expected_, pts_);
        last_ = pts_;
        return;
    }
    std::string why;
    const std::optional<Caption> caption =
        DecodeDvdUnit(unit_.data(), expected_, pts_, palette_, why);
    if (!caption) {
        skip(why);
        return;
    }
    pgs_->caption(*caption);
    last_ = caption->end ? *caption->end : caption->start;
}

void SubpictureOutput::finish() {
    if (collecting_) {
        collecting_ = false;
        skip("it is cut short");
    }
    // A last caption without a stop time is shown for five seconds.
    if (pgs_) pgs_->finish(last_ + 5 * 90000);
    if (vobsub_) vobsub_->finish();
}

}  // namespace strandis
