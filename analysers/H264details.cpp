// H.264 (ISO/IEC 14496-10) access unit delimiters and sequence parameter sets, read at the byte
// level: no exponential-Golomb codes, no emulation-prevention bytes.
#include <string>

#include "analysers/Analysers.h"
#include "analysers/BitReader.h"

namespace strandis::analysers {

namespace {

// Profile names by profile_idc, as ffprobe gives them; "" for others.
const char* ProfileName(std::uint8_t profileIdc) {
    switch (profileIdc) {
        case 66:
            return "Baseline";
        case 77:
            return "Main";
        case 88:
            return "Extended";
        case 100:
            return "High";
        case 110:
            return "High 10";
        case 122:
            return "High 4:2:2";
        case 144:
            return "High 4:4:4";
        default:
            return "";
    }
}

// Exponential-Golomb and plain fields of a NAL unit's payload with its emulation-prevention
// bytes taken out. Reading past the end gives zeros, and ok() turns false.
class RbspReader {
public:
    RbspReader(const std::uint8_t* from, const std::uint8_t* end)
        : size_(Unescape(from, end, bytes_)), reader_(bytes_, size_, 0) {
        reader_.bitsStart();
    }
    bool ok() const { return ok_ && reader_.complete(); }
    std::uint32_t bit() { return reader_.bitsGet(1); }
    std::uint32_t bits(unsigned n) {
        std::uint32_t v = 0;
        for (; n > 16; n -= 16)
            v = (v << 16) | reader_.bitsGet(16);
        return n == 0 ? v : (v << n) | reader_.bitsGet(n);
    }
    std::uint32_t ue() {
        unsigned zeros = 0;
        while (bit() == 0 && ok() && zeros < 32)
            ++zeros;
        if (zeros >= 32) {  // no code of 32 bits: not a parameter set
            ok_ = false;
            return 0;
        }
        return zeros == 0 ? 0 : (1u << zeros) - 1 + bits(zeros);
    }
    std::int32_t se() {
        const std::uint32_t k = ue();
        return (k & 1) != 0 ? static_cast<std::int32_t>((k + 1) / 2)
                            : -static_cast<std::int32_t>(k / 2);
    }

private:
    // Copies the payload up to the next start code, without the emulation-prevention bytes.
    static std::size_t Unescape(const std::uint8_t* from, const std::uint8_t* end,
                                std::uint8_t (&to)[512]) {
        std::size_t size = 0;
        int zeros = 0;
        for (const std::uint8_t* p = from; p != end && size < sizeof to; ++p) {
            if (zeros >= 2 && *p == 3) {
                zeros = 0;
                continue;
            }
            if (zeros >= 2 && *p <= 1) break;  // the next start code
            zeros = *p == 0 ? zeros + 1 : 0;
            to[size++] = *p;
        }
        return size;
    }

    std::uint8_t bytes_[512]{};
    std::size_t size_;
    BitReader reader_;
    bool ok_ = true;
};

// The picture size of a sequence parameter set whose payload starts at `from` (profile_idc).
void PictureSize(const std::uint8_t* from, const std::uint8_t* end, StreamInfo& info) {
    RbspReader r(from, end);
    const std::uint32_t profile = r.bits(8);
    r.bits(16);  // constraint flags, level_idc
    r.ue();      // seq_parameter_set_id
    std::uint32_t chroma = 1;
    if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
        profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138 ||
        profile == 139 || profile == 134 || profile == 135) {
        chroma = r.ue();
        if (chroma == 3) r.bit();  // separate_colour_plane_flag
        r.ue();                    // bit_depth_luma_minus8
        r.ue();                    // bit_depth_chroma_minus8
        r.bit();                   // qpprime_y_zero_transform_bypass_flag
        if (r.bit() == 1) {        // seq_scaling_matrix_present_flag
            for (int list = 0; list < (chroma != 3 ? 8 : 12) && r.ok(); ++list) {
                if (r.bit() == 0) continue;
                const int size = list < 6 ? 16 : 64;
                std::int32_t last = 8, next = 8;
                for (int k = 0; k < size && r.ok(); ++k) {
                    if (next != 0) next = (last + r.se() + 256) % 256;
                    last = next == 0 ? last : next;
                }
            }
        }
    }
    r.ue();  // log2_max_frame_num_minus4
    const std::uint32_t orderType = r.ue();
    if (orderType == 0) {
        r.ue();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (orderType == 1) {
        r.bit();
        r.se();
        r.se();
        const std::uint32_t cycle = r.ue();
        for (std::uint32_t k = 0; k < cycle && k < 256 && r.ok(); ++k)
            r.se();
    }
    r.ue();   // max_num_ref_frames
    r.bit();  // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t widthMbs = r.ue() + 1;
    const std::uint32_t heightUnits = r.ue() + 1;
    const std::uint32_t frameMbsOnly = r.bit();
    if (frameMbsOnly == 0) r.bit();  // mb_adaptive_frame_field_flag
    r.bit();                         // direct_8x8_inference_flag
    std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
    if (r.bit() == 1) {  // frame_cropping_flag
        left = r.ue(), right = r.ue(), top = r.ue(), bottom = r.ue();
    }
    if (!r.ok() || widthMbs > 1024 || heightUnits > 1024) return;
    const std::uint32_t unitX = chroma == 1 || chroma == 2 ? 2 : 1;
    const std::uint32_t unitY = (chroma == 1 ? 2 : 1) * (2 - frameMbsOnly);
    const std::int64_t width = std::int64_t{widthMbs} * 16 - std::int64_t{unitX} * (left + right);
    const std::int64_t height =
        std::int64_t{heightUnits} * 16 * (2 - frameMbsOnly) - std::int64_t{unitY} * (top + bottom);
    if (width <= 0 || height <= 0) return;
    info.width = static_cast<int>(width);
    info.height = static_cast<int>(height);
}

}  // namespace

StreamInfo H264details(const Payload& payload, LogSink& sink) {
    StreamInfo info;
    info.codec = "h264";
    std::uint32_t w = 0;
    std::int32_t accessUnits = 0;
    bool intraFound = false, constraintSet3 = false;
    int delimiterLeft = 0, parameterSetLeft = 0;

    for (const std::uint8_t* p = payload.begin(); p != payload.end(); ++p) {
        const std::uint8_t b = *p;
        w = (w << 8) | b;
        if (w == 0x00000109) {  // access unit delimiter, nal_ref_idc 0
            delimiterLeft = 1;
        } else if (delimiterLeft != 0) {
            delimiterLeft = 0;
            if (!intraFound && (b >> 5) == 0) {  // primary_pic_type 0: I slices only
                sink.log("   " + std::to_string(accessUnits) + " frames before first I-frame");
                intraFound = true;
            }
            ++accessUnits;
        } else if (w == 0x00000127 ||
                   w == 0x00000167) {  // sequence parameter set, nal_ref_idc 1 or 3
            parameterSetLeft = 4;
            if (info.width == 0) PictureSize(p + 1, payload.end(), info);
        } else if (parameterSetLeft != 0) {
            const int k = --parameterSetLeft;
            if (k == 3) {  // profile_idc
                info.profile = ProfileName(b);
                sink.log("   " + (info.profile.empty() ? std::string("Unknown") : info.profile) +
                         " Profile");
            }
            if (k == 2) constraintSet3 = (b & 0x10) != 0;
            if (k == 1) info.level = b;
            if (k == 1)
                sink.log(b == 11 && constraintSet3 ? std::string("   Level = 1b")
                                                   : "   Level = " + std::to_string(b));
        }
    }
    return info;
}

}  // namespace strandis::analysers
