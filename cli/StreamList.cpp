#include "cli/StreamList.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "analysers/Analysers.h"
#include "disc/PathRules.h"
#include "ps/StreamIdTable.h"

namespace strandis::cli {

namespace {

struct Listed {
    StreamKind streamKind;
    const char* key;
    const char* kind;
    int slot;
    const StreamBox* box;
    std::int32_t id;
    const StreamReport* report;
};

// A program's 90 kHz time stamps as milliseconds with three decimals.
double Milliseconds(std::int64_t ticks) {
    return std::round(static_cast<double>(ticks) / 90.0 * 1000.0) / 1000.0;
}

// The codec as ffprobe names it, for a stream whose header reader found nothing to read.
std::string CodecName(Codec codec, bool dvd) {
    switch (codec) {
        case Codec::Mpeg2:
            return "mpeg2video";
        case Codec::H264:
            return "h264";
        case Codec::Vc1:
            return "vc1";
        case Codec::Ac3:
            return "ac3";
        case Codec::Eac3:
            return "eac3";
        case Codec::Dts:
            return "dts";
        case Codec::Lpcm:
            return "pcm_dvd";
        case Codec::Mlp:
            return "mlp";
        case Codec::TrueHd:
            return "truehd";
        case Codec::MpegAudio:
            return "mp2";
        case Codec::Subpicture:
            return dvd ? "dvd_subtitle" : "hddvd_subtitle";
        case Codec::ExtSubpicture:
            return "hddvd_subtitle";
    }
    return {};
}

void AddFacts(nlohmann::json& out, const analysers::StreamInfo& info) {
    const auto text = [&out](const char* name, const std::string& value) {
        if (!value.empty()) out[name] = value;
    };
    const auto number = [&out](const char* name, std::int64_t value) {
        if (value > 0) out[name] = value;
    };
    text("codec", info.codec);
    text("profile", info.profile);
    if (info.level >= 0) out["level"] = info.level;
    number("width", info.width);
    number("height", info.height);
    text("display_aspect_ratio", info.displayAspect);
    if (info.frameRateNum > 0 && info.frameRateDen > 0) {
        out["frame_rate"] =
            std::to_string(info.frameRateNum) + "/" + std::to_string(info.frameRateDen);
    }
    if (info.progressive >= 0) out["progressive"] = info.progressive == 1;
    number("sample_rate", info.sampleRate);
    number("bits_per_sample", info.bitsPerSample);
    number("channels", info.channels);
    text("channel_layout", info.channelLayout);
    if (info.lfe >= 0) out["lfe"] = info.lfe == 1;
    number("bit_rate", info.bitRate);
    number("subpicture_bits", info.subpictureBits);
}

}  // namespace

nlohmann::json StreamList(const Detected& detected) {
    std::vector<Listed> listed;
    const StreamInventory& ids = detected.inventory;
    const StreamReports& reports = detected.reports;
    const bool aob = !detected.files.empty() && IsAobPath(detected.files.front());
    const bool dvd = !detected.files.empty() &&
                     (IsVobPath(detected.files.front()) || IsAobPath(detected.files.front()));
    for (int slot = 0; slot < BoxCount(BoxKind::Video); ++slot)
        listed.push_back({StreamKind::Video, "v", "video", slot, &detected.boxes.video[slot],
                          ids.video(slot), &reports.video[static_cast<std::size_t>(slot)]});
    for (int slot = 0; slot < BoxCount(BoxKind::Audio); ++slot)
        listed.push_back({StreamKind::Audio, "a", "audio", slot, &detected.boxes.audio[slot],
                          ids.audio(slot), &reports.audio[static_cast<std::size_t>(slot)]});
    for (int slot = 0; slot < BoxCount(BoxKind::Sub); ++slot)
        listed.push_back({StreamKind::Sub, "s", "subpicture", slot, &detected.boxes.sub[slot],
                          ids.sub(slot), &reports.sub[static_cast<std::size_t>(slot)]});

    // Delays count from the earliest first time stamp of the video streams, or of every stream
    // when there is no video.
    std::optional<std::uint64_t> zero;
    for (const bool videoOnly : {true, false}) {
        for (const Listed& l : listed) {
            if (!l.box->enabled || !l.report->firstPts) continue;
            if (videoOnly && std::string_view(l.kind) != "video") continue;
            if (!zero || *l.report->firstPts < *zero) zero = *l.report->firstPts;
        }
        if (zero) break;
    }

    nlohmann::json streams = nlohmann::json::array();
    for (const Listed& l : listed) {
        if (!l.box->enabled) continue;
        nlohmann::json stream{{"box", l.key + std::to_string(l.slot)},
                              {"kind", l.kind},
                              {"id", PacketId(l.id)},
                              {"id_hex", "0x" + Hex(PacketId(l.id), 2)},
                              {"caption", l.box->caption}};
        if (l.report->firstPts) {
            stream["first_pts"] = *l.report->firstPts;
            stream["delay_ms"] = Milliseconds(static_cast<std::int64_t>(*l.report->firstPts) -
                                              static_cast<std::int64_t>(*zero));
        }
        if (l.report->described) AddFacts(stream, l.report->info);
        if (!stream.contains("codec")) {
            if (const auto codec = ResolvedCodec(ids, l.streamKind, l.slot, aob))
                stream["codec"] = CodecName(*codec, dvd);
        }
        streams.push_back(stream);
    }
    return streams;
}

nlohmann::json FileList(const std::vector<std::string>& paths) {
    nlohmann::json files = nlohmann::json::array();
    for (const std::string& path : paths) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        files.push_back({{"path", path}, {"size_bytes", error ? 0 : size}});
    }
    return files;
}

}  // namespace strandis::cli
