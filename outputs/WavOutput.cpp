#include "outputs/WavOutput.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <numeric>

namespace strandis {

namespace {

constexpr std::uint32_t kFrontLeft = 0x1, kFrontRight = 0x2, kFrontCenter = 0x4, kLfe = 0x8,
                        kBackLeft = 0x10, kBackRight = 0x20, kBackCenter = 0x100, kSideLeft = 0x200,
                        kSideRight = 0x400;

// The usual speakers of a stream that gives only its channel count, in WAVE order.
std::vector<std::uint32_t> DefaultSpeakers(int channels) {
    switch (channels) {
        case 1:
            return {kFrontCenter};
        case 2:
            return {kFrontLeft, kFrontRight};
        case 3:
            return {kFrontLeft, kFrontRight, kFrontCenter};
        case 4:
            return {kFrontLeft, kFrontRight, kBackLeft, kBackRight};
        case 5:
            return {kFrontLeft, kFrontRight, kFrontCenter, kBackLeft, kBackRight};
        case 6:
            return {kFrontLeft, kFrontRight, kFrontCenter, kLfe, kBackLeft, kBackRight};
        case 7:
            return {kFrontLeft, kFrontRight, kFrontCenter, kLfe,
                    kBackLeft,  kBackRight,  kBackCenter};
        case 8:
            return {kFrontLeft, kFrontRight, kFrontCenter, kLfe,
                    kBackLeft,  kBackRight,  kSideLeft,    kSideRight};
        default:
            return {};
    }
}

std::uint32_t SpeakerOf(const std::string& name) {
    if (name == "L" || name == "Lf") return kFrontLeft;
    if (name == "R" || name == "Rf") return kFrontRight;
    if (name == "C" || name == "C (mono)") return kFrontCenter;
    if (name == "LFE") return kLfe;
    if (name == "Ls") return kBackLeft;
    if (name == "Rs") return kBackRight;
    if (name == "S") return kBackCenter;
    return 0;
}

void Put16(std::uint8_t* to, std::uint32_t v) {
    to[0] = static_cast<std::uint8_t>(v);
    to[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* to, std::uint32_t v) {
    Put16(to, v);
    Put16(to + 2, v >> 16);
}
void Put64(std::uint8_t* to, std::uint64_t v) {
    Put32(to, static_cast<std::uint32_t>(v));
    Put32(to + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace

bool WavOutput::FormatOf(int channels, int bits, int sampleRate, const std::string& layout,
                         Format& format, std::string& why) {
    format = {};
    if (bits != 16 && bits != 20 && bits != 24) {
        why = "its sample size is not known";
        return false;
    }
    if (sampleRate <= 0) {
        why = "its sampling frequency is not known";
        return false;
    }
    if (channels < 1 || channels > 8) {
        why = "its channels are not known";
        return false;
    }
    if (bits != 16 && channels != 1 && channels % 2 != 0) {
        why = "its sample groups are not known for " + std::to_string(channels) + " channels";
        return false;
    }
    if (layout.empty()) {
        format.speakers = DefaultSpeakers(channels);
    } else {
        for (std::size_t from = 0; from <= layout.size();) {
            std::size_t to = layout.find(" + ", from);
            if (to == std::string::npos) to = layout.size();
            const std::uint32_t speaker = SpeakerOf(layout.substr(from, to - from));
            if (speaker == 0 || std::find(format.speakers.begin(), format.speakers.end(),
                                          speaker) != format.speakers.end()) {
                why = "its channel arrangement (" + layout + ") has no WAVE speakers";
                return false;
            }
            format.speakers.push_back(speaker);
            from = to + 3;
        }
        if (static_cast<int>(format.speakers.size()) != channels) {
            why = "its channel arrangement does not match its channel count";
            return false;
        }
    }
    format.channels = channels;
    format.bits = bits;
    format.sampleRate = sampleRate;
    return true;
}

WavOutput::WavOutput(OutputFile& file, Format format) : file_(file), format_(std::move(format)) {
    const auto channels = static_cast<std::size_t>(format_.channels);
    const std::size_t frames = format_.bits == 16 ? 1 : 2;
    inGroup_ = frames * channels * static_cast<std::size_t>(format_.bits) / 8;
    outGroup_ = frames * channels * (format_.bits == 16 ? 2 : 3);
    order_.resize(channels);
    std::iota(order_.begin(), order_.end(), 0);
    std::stable_sort(order_.begin(), order_.end(), [this](int a, int b) {
        return format_.speakers[static_cast<std::size_t>(a)] <
               format_.speakers[static_cast<std::size_t>(b)];
    });
    out_.resize(64 * 1024 / outGroup_ * outGroup_);
    swapOnly_ = format_.bits == 16 && std::is_sorted(order_.begin(), order_.end());
    const std::vector<std::uint8_t> head = header(0);
    file_.write(head.data(), head.size());
    file_.setCloseHook([this] {
        // RIFF chunks are padded to an even size.
        if (dataBytes_ % 2 != 0) {
            const std::uint8_t pad = 0;
            file_.write(&pad, 1);
        }
        const std::vector<std::uint8_t> final = header(dataBytes_);
        file_.rewrite(0, final.data(), final.size());
    });
}

std::vector<std::uint8_t> WavOutput::header(std::int64_t dataBytes) const {
    std::vector<std::uint8_t> h(kHeaderSize, 0);
    std::uint8_t* p = h.data();
    const auto bytes = [&p](const char* text) {
        std::copy(text, text + 4, p);
        p += 4;
    };
    const auto u16 = [&p](std::uint32_t v) { Put16(p, v), p += 2; };
    const auto u32 = [&p](std::uint32_t v) { Put32(p, v), p += 4; };
    const auto u64 = [&p](std::uint64_t v) { Put64(p, v), p += 8; };
    const std::uint64_t padded = static_cast<std::uint64_t>(dataBytes + dataBytes % 2);
    const std::uint64_t riffSize = kHeaderSize - 8 + padded;
    const bool rf64 = riffSize > 0xFFFFFFFFu;
    const std::uint32_t blockAlign =
        static_cast<std::uint32_t>(format_.channels) * (format_.bits == 16 ? 2 : 3);
    bytes(rf64 ? "RF64" : "RIFF");
    u32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(riffSize));
    bytes("WAVE");
    // Room for the sizes of a file past 4 GiB: a JUNK chunk that becomes ds64.
    bytes(rf64 ? "ds64" : "JUNK");
    u32(28);
    if (rf64) {
        u64(riffSize);
        u64(static_cast<std::uint64_t>(dataBytes));
        u64(static_cast<std::uint64_t>(dataBytes) / blockAlign);
        u32(0);
    } else {
        p += 28;
    }
    bytes("fmt ");
    u32(40);
    u16(0xFFFE);  // WAVE_FORMAT_EXTENSIBLE
    u16(static_cast<std::uint32_t>(format_.channels));
    u32(static_cast<std::uint32_t>(format_.sampleRate));
    u32(static_cast<std::uint32_t>(format_.sampleRate) * blockAlign);
    u16(blockAlign);
    u16(format_.bits == 16 ? 16 : 24);
    u16(22);
    u16(static_cast<std::uint32_t>(format_.bits));  // valid bits
    std::uint32_t mask = 0;
    for (const std::uint32_t speaker : format_.speakers)
        mask |= speaker;
    u32(mask);
    constexpr std::uint8_t kPcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::copy(kPcm, kPcm + 16, p);
    p += 16;
    bytes("data");
    u32(rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(dataBytes));
    return h;
}

// One coded group into little-endian samples in the speakers' order.
void WavOutput::convert(const std::uint8_t* group, std::uint8_t* out) const {
    const std::size_t channels = static_cast<std::size_t>(format_.channels);
    if (format_.bits == 16) {
        for (std::size_t k = 0; k < channels; ++k) {
            const std::uint8_t* sample = group + 2 * static_cast<std::size_t>(order_[k]);
            out[2 * k] = sample[1];
            out[2 * k + 1] = sample[0];
        }
        return;
    }
    // Two frames of samples, 24 bits each, high bits first.
    std::array<std::uint32_t, 16> values{};
    const std::size_t count = 2 * channels;
    const std::size_t run = std::min<std::size_t>(4, count);
    const std::uint8_t* p = group;
    for (std::size_t first = 0; first < count; first += run) {
        for (std::size_t k = 0; k < run; ++k, p += 2)
            values[first + k] = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8);
        if (format_.bits == 24) {
            for (std::size_t k = 0; k < run; ++k)
                values[first + k] |= *p++;
        } else {
            for (std::size_t k = 0; k < run; k += 2, ++p) {
                values[first + k] |= *p & 0xF0u;
                values[first + k + 1] |= (*p & 0x0Fu) << 4;
            }
        }
    }
    for (std::size_t frame = 0; frame < 2; ++frame) {
        for (std::size_t k = 0; k < channels; ++k, out += 3) {
            const std::uint32_t v = values[frame * channels + static_cast<std::size_t>(order_[k])];
            out[0] = static_cast<std::uint8_t>(v);
            out[1] = static_cast<std::uint8_t>(v >> 8);
            out[2] = static_cast<std::uint8_t>(v >> 16);
        }
    }
}

void WavOutput::write(const std::uint8_t* data, std::size_t length) {
    // First the group a packet boundary cut.
    if (carried_ != 0) {
        const std::size_t take = std::min(inGroup_ - carried_, length);
        std::copy(data, data + take, carry_.data() + carried_);
        carried_ += take;
        data += take;
        length -= take;
        if (carried_ < inGroup_) return;
        convert(carry_.data(), out_.data());
        file_.write(out_.data(), outGroup_);
        dataBytes_ += static_cast<std::int64_t>(outGroup_);
        carried_ = 0;
    }
    const std::size_t perBuffer = out_.size() / outGroup_;
    while (length >= inGroup_) {
        const std::size_t groups = std::min(length / inGroup_, perBuffer);
        std::uint8_t* out = out_.data();
        if (swapOnly_) {
            // 16-bit samples already in the speakers' order: a byte swap of the whole run.
            const std::size_t bytes = groups * inGroup_;
            std::size_t k = 0;
#if defined(__SSE2__)
            for (; k + 16 <= bytes; k += 16) {
                const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k),
                                 _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8)));
            }
#endif
            for (; k + 8 <= bytes; k += 8) {
                std::uint64_t word;
                std::memcpy(&word, data + k, 8);
                word =
                    ((word & 0x00FF00FF00FF00FFull) << 8) | ((word >> 8) & 0x00FF00FF00FF00FFull);
                std::memcpy(out + k, &word, 8);
            }
            for (; k < bytes; k += 2) {
                out[k] = data[k + 1];
                out[k + 1] = data[k];
            }
            data += bytes;
        } else {
            for (std::size_t g = 0; g < groups; ++g, data += inGroup_, out += outGroup_)
                convert(data, out);
        }
        const std::size_t written = groups * outGroup_;
        file_.write(out_.data(), written);
        dataBytes_ += static_cast<std::int64_t>(written);
        length -= groups * inGroup_;
    }
    std::copy(data, data + length, carry_.data());
    carried_ = length;
}

}  // namespace strandis
