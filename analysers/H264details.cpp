// H.264 (ISO/IEC 14496-10) access unit delimiters and sequence parameter sets, read at the byte
// level: no exponential-Golomb codes, no emulation-prevention bytes.
#include <string>

#include "analysers/Analysers.h"

namespace strandis::analysers {

namespace {

const char* ProfileLine(std::uint8_t profileIdc) {
    switch (profileIdc) {
        case 66:
            return "   Baseline Profile";
        case 77:
            return "   Main Profile";
        case 88:
            return "   Extended Profile";
        case 100:
            return "   High Profile";
        case 110:
            return "   High 10 Profile";
        case 122:
            return "   High 4:2:2 Profile";
        case 144:
            return "   High 4:4:4 Profile";
        default:
            return "   Unknown Profile";
    }
}

// ffprobe's profile names.
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

}  // namespace

StreamInfo H264details(const Payload& payload, std::uint32_t /*videoPts*/, LogSink& sink) {
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
        } else if (parameterSetLeft != 0) {
            const int k = --parameterSetLeft;
            if (k == 3) {  // profile_idc
                info.profile = ProfileName(b);
                sink.log(ProfileLine(b));
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
