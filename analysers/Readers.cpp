// The header readers do not describe anything yet: each stream is logged as found, with its
// first time stamp and id, but without the lines of its codec's headers.
#include "analysers/Analysers.h"

namespace strandis::analysers {

void AC3details(const Payload&, int, LogSink&) {}
void DTSdetails(const Payload&, LogSink&) {}
void MLPdetails(const Payload&, LogSink&) {}
void LPCMdetails(const Payload&, LogSink&) {}
void VC1details(const Payload&, std::uint64_t, LogSink&) {}
void H264details(const Payload&, std::uint32_t, LogSink&) {}
void MPEG2details(const Payload&, std::uint32_t, std::uint32_t, LogSink&) {}
void SUBdetails(const Payload&, LogSink&) {}

}  // namespace strandis::analysers
