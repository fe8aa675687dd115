// Which run-length coding a subpicture unit uses.
#include "analysers/Analysers.h"

namespace strandis::analysers {

void SUBdetails(const Payload& payload, LogSink& sink) {
    if (payload.length < 2) return;  // the second byte is not there
    const std::uint8_t* p = payload.begin();
    // An HD DVD unit starts with 00 00 and a 4-byte size; a DVD unit with its 2-byte size.
    sink.log(p[0] == 0 && p[1] == 0 ? "   Format = [bl]8bitRLE[/bl]"
                                    : "   Format = [bl]2bitRLE[/bl]");
}

}  // namespace strandis::analysers
