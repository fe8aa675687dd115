// Which run-length coding a subpicture unit uses.
#include "analysers/Analysers.h"

namespace strandis::analysers {

StreamInfo SUBdetails(const Payload& payload, LogSink& sink) {
    StreamInfo info;
    if (payload.length < 2) return info;  // the second byte is not there
    const std::uint8_t* p = payload.begin();
    // An HD DVD unit starts with 00 00 and a 4-byte size; a DVD unit with its 2-byte size.
    const bool hdDvd = p[0] == 0 && p[1] == 0;
    info.codec = hdDvd ? "hddvd_subtitle" : "dvd_subtitle";
    info.subpictureBits = hdDvd ? 8 : 2;
    sink.log(hdDvd ? "   Format = [bl]8bitRLE[/bl]" : "   Format = [bl]2bitRLE[/bl]");
    return info;
}

}  // namespace strandis::analysers
