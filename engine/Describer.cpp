#include "engine/Describer.h"

#include "engine/PacketKind.h"
#include "engine/PathRules.h"

namespace strandis {

using analysers::Hex;

Describer::Describer(Engine& engine)
    : e_(engine),
      host_(engine.host()),
      sink_(engine.host()),
      lpcm_(IsAobPath(host_.sourcePath())   ? analysers::LpcmLayout::DvdAudio
            : IsVobPath(host_.sourcePath()) ? analysers::LpcmLayout::DvdVideo
                                            : analysers::LpcmLayout::HdDvd) {}

// The time base takes the first packet with a time stamp of each registered audio and video
// stream.
bool* Describer::baseFlag(const PayloadChunk& c) {
    if (c.kind == PacketKind::Video) return &baseVideo_[static_cast<std::size_t>(c.slot)];
    if (c.kind == PacketKind::Audio && c.slot >= 0 && c.streamId == e_.disc.StreamIds.audio(c.slot))
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

bool Describer::wants(const PayloadChunk& c) {
    if (c.ownPts) {
        const bool* base = baseFlag(c);
        if (base != nullptr && !*base) return true;
    }
    const bool* shown = shownFlag(c);
    // "Detailed info" may be ticked or unticked while a scan goes on: read at every chunk.
    return shown != nullptr && !*shown && host_.option(Option::Details);
}

void Describer::chunk(const PayloadChunk& chunk, const StreamFacts& facts) {
    if (chunk.ownPts) timeBase(chunk);
    if (host_.option(Option::Details)) describe(chunk, facts);
}

// The subpicture time base: the lowest first PTS of the audio and video streams, each taken
// from the first packet of the stream that carries one, whatever the options.
void Describer::timeBase(const PayloadChunk& c) {
    bool* taken = baseFlag(c);
    if (taken == nullptr || *taken) return;
    *taken = true;
    if (c.pts < e_.disc.MinPts) e_.disc.MinPts = c.pts;
}

void Describer::firstLines(std::uint32_t pts, std::int32_t id) {
    host_.log("   First PTS = " + Hex(pts, 8));
    host_.log("   Stream id = " + Hex(static_cast<std::uint32_t>(id), 2));
}

void Describer::describe(const PayloadChunk& c, const StreamFacts& f) {
    analysers::Payload payload{f.block, c.offset, c.length};
    payload.header = *f.subHeader;
    payload.headerLength = f.subHeaderLength;
    bool* shown = shownFlag(c);
    if (shown == nullptr || *shown) return;
    *shown = true;
    switch (c.kind) {
        case PacketKind::Audio:
            // The last recognised sub-stream's id and kind: a packet of an id of no range that
            // shares its slot is described as that stream.
            firstLines(f.firstAudioPts, f.audioSubId);
            switch (f.audioType) {
                case AudioType::DolbyDigital:
                case AudioType::DolbyDigitalPlus:
                    analysers::AC3details(payload, c.slot, sink_);
                    break;
                case AudioType::Dts:
                    analysers::DTSdetails(payload, sink_);
                    break;
                case AudioType::TrueHd:
                    analysers::MLPdetails(payload, sink_);
                    break;
                default:  // LPCM, and MLP as sub-stream 0xA1 of a DVD-Audio object
                    if (f.audioSubId == 0xA1 && lpcm_ == analysers::LpcmLayout::DvdAudio) {
                        analysers::MLPdetails(payload, sink_);
                    } else {
                        analysers::LPCMdetails(payload, lpcm_, sink_);
                    }
                    break;
            }
            break;
        case PacketKind::Video:
            firstLines(f.videoPts, c.streamId);
            switch (f.videoType) {
                case VideoType::Vc1:
                    analysers::VC1details(payload, f.videoPts, sink_);
                    break;
                case VideoType::H264:
                    analysers::H264details(payload, f.videoPts, sink_);
                    break;
                default:
                    analysers::MPEG2details(payload, f.videoPts, f.dts, sink_);
                    break;
            }
            break;
        case PacketKind::Subpicture:
            firstLines(f.firstSubPts, c.streamId);
            analysers::SUBdetails(payload, sink_);
            break;
        default:
            break;  // MPEG audio is never described
    }
}

}  // namespace strandis
