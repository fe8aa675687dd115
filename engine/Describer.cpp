#include "engine/Describer.h"

#include "disc/PathRules.h"
#include "ps/PacketKind.h"

namespace strandis {

using analysers::Hex;

Describer::Describer(RunHost& host, StreamReports& reports, std::uint32_t& timeBase)
    : host_(host),
      reports_(reports),
      timeBase_(timeBase),
      sink_(host),
      quiet_(host),
      lpcm_(IsAobPath(host_.sourcePath())   ? analysers::LpcmLayout::DvdAudio
            : IsVobPath(host_.sourcePath()) ? analysers::LpcmLayout::DvdVideo
                                            : analysers::LpcmLayout::HdDvd) {}

// The time base takes the first packet with a time stamp of each registered audio and video
// stream.
bool* Describer::baseFlag(const PayloadChunk& c) {
    if (c.kind == PacketKind::Video) return &baseVideo_[static_cast<std::size_t>(c.slot)];
    if (c.kind == PacketKind::Audio && c.slot >= 0 && c.listed)
        return &baseAudio_[static_cast<std::size_t>(c.slot)];
    return nullptr;
}

bool* Describer::shownFlag(const PayloadChunk& c) {
    const auto slot = static_cast<std::size_t>(c.slot);
    if (c.kind == PacketKind::Video) return &shownVideo_[slot];
    if (c.kind == PacketKind::Audio) return c.slot >= 0 ? &shownAudio_[slot] : nullptr;
    if (c.kind == PacketKind::Subpicture) return &shownSub_[slot];
    return nullptr;  // MPEG audio is never described
}

// The report of the stream a chunk belongs to: of an audio slot, only the stream listed there.
StreamReport* Describer::report(const PayloadChunk& c) {
    StreamReports& reports = reports_;
    const auto slot = static_cast<std::size_t>(c.slot);
    if (c.slot < 0) return nullptr;
    if (c.kind == PacketKind::Video && slot < reports.video.size()) return &reports.video[slot];
    if (c.kind == PacketKind::Audio && slot < reports.audio.size() && c.listed)
        return &reports.audio[slot];
    if (c.kind == PacketKind::Subpicture && slot < reports.sub.size()) return &reports.sub[slot];
    return nullptr;
}

bool Describer::wants(const PayloadChunk& c) {
    const StreamReport* r = report(c);
    if (c.ownPts) {
        const bool* base = baseFlag(c);
        if (base != nullptr && !*base) return true;
        if (r != nullptr && !r->firstPts) return true;
    }
    if (r != nullptr && !r->described) return true;
    const bool* shown = shownFlag(c);
    // "Detailed info" may be ticked or unticked while a scan goes on: read at every chunk.
    return shown != nullptr && !*shown && host_.option(Option::Details);
}

void Describer::chunk(const PayloadChunk& chunk, const StreamFacts& facts) {
    if (chunk.ownPts) {
        timeBase(chunk);
        firstPts(chunk);
    }
    StreamReport* r = report(chunk);
    bool* shown = shownFlag(chunk);
    const bool lines = host_.option(Option::Details) && shown != nullptr && !*shown;
    if (lines) *shown = true;
    if (!lines && (r == nullptr || r->described)) return;
    const analysers::StreamInfo info =
        describe(chunk, facts, lines ? static_cast<analysers::LogSink&>(sink_) : quiet_);
    if (r != nullptr && !r->described) {
        r->described = true;
        r->info = info;
    }
}

// The first file with a stream gives its first time stamp.
void Describer::firstPts(const PayloadChunk& c) {
    StreamReport* r = report(c);
    if (r == nullptr || r->firstPts) return;
    r->firstPts = (std::uint64_t{c.ptsHigh} << 32) | c.pts;
}

// The subpicture time base: the lowest first PTS of the audio and video streams, each taken
// from the first packet of the stream that carries one, whatever the options.
void Describer::timeBase(const PayloadChunk& c) {
    bool* taken = baseFlag(c);
    if (taken == nullptr || *taken) return;
    *taken = true;
    if (c.pts < timeBase_) timeBase_ = c.pts;
}

void Describer::firstLines(analysers::LogSink& sink, std::uint32_t pts, std::int32_t id) {
    sink.log("   First PTS = " + Hex(pts, 8));
    sink.log("   Stream id = " + Hex(static_cast<std::uint32_t>(id), 2));
}

analysers::StreamInfo Describer::describe(const PayloadChunk& c, const StreamFacts& f,
                                          analysers::LogSink& sink) {
    analysers::Payload payload{f.block, c.offset, c.length};
    payload.header = *f.subHeader;
    payload.headerLength = f.subHeaderLength;
    analysers::StreamInfo info;
    switch (c.kind) {
        case PacketKind::Audio:
            // The last recognised sub-stream's id and kind: a packet of an id of no range that
            // shares its slot is described as that stream.
            firstLines(sink, f.firstAudioPts, f.audioSubId);
            switch (f.audioType) {
                case AudioType::DolbyDigital:
                case AudioType::DolbyDigitalPlus:
                    info = analysers::AC3details(payload, c.slot, sink);
                    break;
                case AudioType::Dts:
                    info = analysers::DTSdetails(payload, sink);
                    break;
                case AudioType::TrueHd:
                    info = analysers::MLPdetails(payload, sink);
                    break;
                case AudioType::Mpeg:
                    info = analysers::MPAdetails(payload, sink);
                    break;
                default:  // LPCM, and MLP as sub-stream 0xA1 of a DVD-Audio object
                    if (f.audioSubId == 0xA1 && lpcm_ == analysers::LpcmLayout::DvdAudio) {
                        info = analysers::MLPdetails(payload, sink);
                    } else {
                        info = analysers::LPCMdetails(payload, lpcm_, sink);
                    }
                    break;
            }
            break;
        case PacketKind::Video:
            firstLines(sink, f.videoPts, c.streamId);
            switch (f.videoType) {
                case VideoType::Vc1:
                    info = analysers::VC1details(payload, f.videoPts, sink);
                    break;
                case VideoType::H264:
                    info = analysers::H264details(payload, sink);
                    break;
                default:
                    info = analysers::MPEG2details(payload, f.videoPts, sink);
                    break;
            }
            break;
        case PacketKind::Subpicture:
            firstLines(sink, f.firstSubPts, c.streamId);
            info = analysers::SUBdetails(payload, sink);
            break;
        default:
            break;  // MPEG audio is never described
    }
    return info;
}

}  // namespace strandis
