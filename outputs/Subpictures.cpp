#include "outputs/Subpictures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "common/ByteOrder.h"

namespace strandis {

namespace {

// The PGS run-length code of `length` pixels of `colour` (at most 16,383): a single pixel of a
// colour other than 0 as itself, runs as 00 followed by flags, length (6 or 14 bits) and the
// colour when it is not 0. At most 4 bytes; returns the end.
std::uint8_t* PutRun(std::uint8_t* out, std::uint8_t colour, int length) {
    if (colour != 0 && length <= 2) {
        *out++ = colour;
        if (length == 2) *out++ = colour;
        return out;
    }
    *out++ = 0;
    const std::uint32_t flags = (colour != 0 ? 0x80u : 0u) | (length >= 64 ? 0x40u : 0u);
    if (length >= 64) {
        *out++ = static_cast<std::uint8_t>(flags | static_cast<std::uint32_t>(length >> 8));
        *out++ = static_cast<std::uint8_t>(length);
    } else {
        *out++ = static_cast<std::uint8_t>(flags | static_cast<std::uint32_t>(length));
    }
    if (colour != 0) *out++ = colour;
    return out;
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

}  // namespace

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

void PgsWriter::window(std::int64_t at, const Shown& place) {
    body_.clear();
    body_.push_back(1);  // one window
    body_.push_back(0);  // its id
    PutBe(body_, static_cast<std::uint32_t>(place.x), 2);
    PutBe(body_, static_cast<std::uint32_t>(place.y), 2);
    PutBe(body_, static_cast<std::uint32_t>(place.width), 2);
    PutBe(body_, static_cast<std::uint32_t>(place.height), 2);
    segment(0x17, at, body_);
}

void PgsWriter::clear(std::int64_t at) {
    if (!shown_) return;
    body_.clear();
    PutBe(body_, static_cast<std::uint32_t>(videoWidth_), 2);
    PutBe(body_, static_cast<std::uint32_t>(videoHeight_), 2);
    body_.push_back(0x10);  // frame rate
    PutBe(body_, composition_++, 2);
    body_.push_back(0x00);  // normal case
    body_.push_back(0x00);  // no palette update
    body_.push_back(0x00);  // palette 0
    body_.push_back(0x00);  // no objects
    segment(0x16, at, body_);
    const Shown old = *shown_;
    window(at, old);
    segment(0x80, at, {});
    shown_.reset();
}

// The object's lines in run-length codes, cut to `place`, with neighbouring runs of one colour
// joined; marks the colours they use.
void PgsWriter::encode(const Caption& c, const Shown& place, std::array<bool, 256>& used) {
    // Each pixel costs at most 2 bytes, each line 2 more.
    const std::size_t most =
        static_cast<std::size_t>(place.height) * (2 * static_cast<std::size_t>(place.width) + 2);
    if (rle_.size() < most) rle_.resize(most);
    std::uint8_t* out = rle_.data();
    const int left = place.x - c.x, right = left + place.width;
    const int top = place.y - c.y, bottom = top + place.height;
    std::size_t r = 0;
    for (int line = 0; line < c.height && line < bottom; ++line) {
        int pending = 0;  // pixels of `colour` not yet written
        std::uint8_t colour = 0;
        for (int x = 0; x < c.width && r < c.runs.size(); ++r) {
            const analysers::Run& run = c.runs[r];
            const int from = std::max(x, left), to = std::min(x + run.length, right);
            x += run.length;
            if (line < top || from >= to) continue;
            if (pending > 0 && run.colour != colour) {
                for (; pending > 0; pending -= std::min(pending, 16383))
                    out = PutRun(out, colour, std::min(pending, 16383));
            }
            colour = run.colour;
            used[colour] = true;
            pending += to - from;
        }
        if (line < top) continue;
        for (; pending > 0; pending -= std::min(pending, 16383))
            out = PutRun(out, colour, std::min(pending, 16383));
        *out++ = 0;  // 00 00: the end of the line
        *out++ = 0;
    }
    rleLength_ = static_cast<std::size_t>(out - rle_.data());
}

void PgsWriter::caption(const Caption& c) {
    if (shown_) clear(shown_->end ? std::min(*shown_->end, c.start) : c.start);
    // Only what lies on the screen is shown: a damaged unit can place its area past an edge.
    const int left = std::max(c.x, 0), top = std::max(c.y, 0);
    const int right = std::min(c.x + c.width, videoWidth_);
    const int bottom = std::min(c.y + c.height, videoHeight_);
    if (right <= left || bottom <= top) return;
    const Shown place{c.start, c.end, left, top, right - left, bottom - top};

    // Presentation composition: the screen, this composition, one object in window 0.
    body_.clear();
    PutBe(body_, static_cast<std::uint32_t>(videoWidth_), 2);
    PutBe(body_, static_cast<std::uint32_t>(videoHeight_), 2);
    body_.push_back(0x10);
    PutBe(body_, composition_++, 2);
    body_.push_back(0x80);  // epoch start: nothing carries over from earlier captions
    body_.push_back(0x00);
    body_.push_back(0x00);
    body_.push_back(0x01);
    PutBe(body_, 0, 2);     // object 0
    body_.push_back(0x00);  // window 0
    body_.push_back(c.forced ? 0x40 : 0x00);
    PutBe(body_, static_cast<std::uint32_t>(place.x), 2);
    PutBe(body_, static_cast<std::uint32_t>(place.y), 2);
    segment(0x16, c.start, body_);
    window(c.start, place);

    std::array<bool, 256> used{};
    encode(c, place, used);

    // The palette: the caption's colours that its pixels use, under their own indices.
    body_.clear();
    body_.push_back(0x00);  // palette 0
    body_.push_back(0x00);  // version
    for (std::size_t k = 0; k < c.colours.size() && k < used.size(); ++k) {
        if (!used[k]) continue;
        const YCrCbA& colour = c.colours[k];
        body_.insert(body_.end(),
                     {static_cast<std::uint8_t>(k), colour.y, colour.cr, colour.cb, colour.alpha});
    }
    segment(0x14, c.start, body_);

    // The object, in as many segments as its size needs.
    const std::size_t total = rleLength_ + 4;  // with the object's width and height
    std::size_t done = 0;
    bool first = true;
    while (first || done < rleLength_) {
        body_.clear();
        PutBe(body_, 0, 2);     // object 0
        body_.push_back(0x00);  // version
        const std::size_t room = first ? 65535 - 11 : 65535 - 4;
        const std::size_t take = std::min(room, rleLength_ - done);
        const bool last = done + take == rleLength_;
        body_.push_back(static_cast<std::uint8_t>((first ? 0x80 : 0x00) | (last ? 0x40 : 0x00)));
        if (first) {
            PutBe(body_, static_cast<std::uint32_t>(total), 3);
            PutBe(body_, static_cast<std::uint32_t>(place.width), 2);
            PutBe(body_, static_cast<std::uint32_t>(place.height), 2);
        }
        body_.insert(body_.end(), rle_.begin() + static_cast<std::ptrdiff_t>(done),
                     rle_.begin() + static_cast<std::ptrdiff_t>(done + take));
        segment(0x15, c.start, body_);
        done += take;
        first = false;
    }
    segment(0x80, c.start, {});
    // What the clearing composition needs: the window, and when.
    shown_ = place;
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
        // The 14-byte pack header: the SCR at the caption's time (6 bytes, the extension 0),
        // program_mux_rate 25,200 x 50 bytes/s = 10.08 Mbit/s with its markers (3 bytes), no
        // stuffing.
        const std::uint64_t scr = time;
        pack_.insert(
            pack_.end(),
            {0x00, 0x00, 0x01, 0xBA,
             static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
             static_cast<std::uint8_t>(scr >> 20),
             static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
             static_cast<std::uint8_t>(scr >> 5),
             static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 0x04), 0x01, 0x01, 0x89, 0xC3, 0xF8});
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
        PutBe(pack_, 0x000001BD, 4);
        PutBe(pack_, static_cast<std::uint32_t>(pesLength), 2);
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
            PutBe(pack_, 0x000001BE, 4);
            PutBe(pack_, static_cast<std::uint32_t>(padding - 6), 2);
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

SubpictureOutput::SubpictureOutput(OutputFile& file, OutputFile* idx, int videoWidth,
                                   int videoHeight, const DvdPalette& palette,
                                   analysers::LogSink& log)
    : log_(log), palette_(palette) {
    if (idx != nullptr) {
        vobsub_.emplace(file, *idx, videoWidth, videoHeight, palette);
    } else {
        pgs_.emplace(file, videoWidth, videoHeight);
    }
    unit_.bytes.reserve(65536);
    worker_ = std::thread([this] { work(); });
}

SubpictureOutput::~SubpictureOutput() {
    stopWorker();
}

void SubpictureOutput::stopWorker() noexcept {
    if (!worker_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    ready_.notify_one();
    worker_.join();
}

// Hands a whole unit, or a line about one left out, to the worker; waits while it has many.
void SubpictureOutput::post(Unit unit) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return queue_.size() < kQueued || failure_; });
    queue_.push_back(std::move(unit));
    lock.unlock();
    ready_.notify_one();
}

void SubpictureOutput::skip(const std::string& why) {
    post({{}, unit_.pts, why});
}

// What the worker said (in the order of the units), and a failure of its writing.
void SubpictureOutput::drain() {
    std::vector<std::string> lines;
    std::exception_ptr failure;
    {
        const std::lock_guard lock(mutex_);
        lines.swap(lines_);
        failure = failure_;
    }
    for (const std::string& line : lines)
        log_.log(line);
    if (failure) std::rethrow_exception(failure);
}

void SubpictureOutput::work() {
    for (;;) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty() || ending_; });
        if (queue_.empty()) return;
        Unit unit = std::move(queue_.front());
        queue_.pop_front();
        const bool failed = failure_ != nullptr;
        lock.unlock();
        room_.notify_one();
        if (failed) continue;  // nothing more is written after a failure
        std::string line;
        try {
            convert(unit, line);
        } catch (...) {
            const std::lock_guard hold(mutex_);
            failure_ = std::current_exception();
            pending_ = true;
        }
        if (!line.empty()) {
            const std::lock_guard hold(mutex_);
            lines_.push_back(std::move(line));
            pending_ = true;
        }
    }
}

// On the worker: one unit decoded and written, or the line saying why it is left out.
void SubpictureOutput::alsoForced(OutputFile& file) {
    if (pgs_) forcedPgs_.emplace(file, pgs_->videoWidth(), pgs_->videoHeight());
}

void SubpictureOutput::convert(const Unit& unit, std::string& line) {
    std::string why = unit.why;
    if (why.empty()) {
        const bool hdDvd = unit.bytes[0] == 0 && unit.bytes[1] == 0;
        if (vobsub_ && hdDvd) {
            why = "VobSub holds only DVD subpicture units";
        } else if (vobsub_) {
            vobsub_->unit(unit.bytes.data(), unit.bytes.size(), unit.pts);
            ++captions_;
            last_ = unit.pts;
            return;
        } else {
            const std::optional<Caption> caption =
                hdDvd ? analysers::DecodeHdDvdUnit(unit.bytes.data(), unit.bytes.size(), unit.pts,
                                                   why)
                      : analysers::DecodeDvdUnit(unit.bytes.data(), unit.bytes.size(), unit.pts,
                                                 palette_, why);
            if (caption) {
                pgs_->caption(*caption);
                ++captions_;
                if (forcedPgs_ && caption->forced) {
                    forcedPgs_->caption(*caption);
                    ++forced_;
                } else if (forcedPgs_) {
                    forcedPgs_->endAt(caption->start);
                }
                last_ = caption->end ? *caption->end : caption->start;
                return;
            }
        }
    }
    line = "The subpicture at " + Timestamp(unit.pts) +
           " is left out: " + (why.empty() ? std::string("it does not decode") : why) + ".";
}

void SubpictureOutput::write(const std::uint8_t* data, std::size_t length, bool start,
                             std::int64_t pts) {
    if (pending_.load(std::memory_order_relaxed)) {
        pending_ = false;
        drain();
    }
    if (start) {
        if (collecting_) skip("it is cut short");
        unit_.bytes.clear();
        expected_ = 0;
        unit_.pts = pts;
        collecting_ = true;
    }
    if (!collecting_) return;  // the rest of a unit already done, or of one cut short
    unit_.bytes.insert(unit_.bytes.end(), data, data + length);
    const std::vector<std::uint8_t>& bytes = unit_.bytes;
    if (expected_ == 0 && bytes.size() >= 2 && Be16(bytes.data()) != 0) {
        expected_ = Be16(bytes.data());  // a DVD unit: its 16-bit size
        if (expected_ < 4) {
            collecting_ = false;
            skip("it is not a subpicture unit");
            return;
        }
    } else if (expected_ == 0 && bytes.size() >= 6) {
        expected_ = Be32(bytes.data() + 2);  // an HD DVD unit: 00 00 and its 32-bit size
        if (expected_ < 10 || expected_ > analysers::kMaxHdDvdUnit) {
            collecting_ = false;
            skip(expected_ < 10 ? std::string("it is not a subpicture unit")
                                : "it declares " + std::to_string(expected_) +
                                      " bytes, more than a subpicture unit holds");
            return;
        }
    }
    if (expected_ != 0 && bytes.size() >= expected_) {
        // The whole unit goes to the worker; the next one is gathered in a buffer of its own.
        collecting_ = false;
        unit_.bytes.resize(expected_);
        Unit whole{std::vector<std::uint8_t>(), unit_.pts, {}};
        whole.bytes.reserve(65536);
        std::swap(whole.bytes, unit_.bytes);
        post(std::move(whole));
    }
}

void SubpictureOutput::finish() {
    if (collecting_) {
        collecting_ = false;
        skip("it is cut short");
    }
    stopWorker();
    drain();
    // A last caption without a stop time is shown for five seconds.
    if (pgs_) pgs_->finish(last_ + 5 * 90000);
    if (forcedPgs_) forcedPgs_->finish(last_ + 5 * 90000);
    if (vobsub_) vobsub_->finish();
}

}  // namespace strandis
