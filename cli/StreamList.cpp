#include "cli/StreamList.h"

#include <cmath>
#include <filesystem>
#include <optional>

#include "analysers/Analysers.h"
#include "engine/PathRules.h"
#include "engine/StreamIdTable.h"

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

// The codec an id names, for a stream whose header reader found nothing to read.
std::string CodecOf(const Listed& l, bool plainAc3, bool dvd, bool aob) {
    const IdRange* range = FindInventoryRange(l.streamKind, l.id);
    if (range == nullptr) return {};
    switch (range->codec) {
        case Codec::Mpeg2:
            return "mpeg2video";
        case Codec::H264:
            return "h264";
        case Codec::Vc1:
            return "vc1";
        case Codec::Ac3:
            return "ac3";
        case Codec::Eac3:
            return plainAc3 ? "ac3" : "eac3";
        case Codec::Dts:
            return "dts";
        case Codec::Lpcm:
            return aob && l.id == 0xA1 ? "mlp" : "pcm_dvd";
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

nlohmann::json StreamList(const DetectionResult& result, const DiscState& disc) {
    std::vector<Listed> listed;
    const StreamInventory& ids = disc.StreamIds;
    const bool aob = !result.files.empty() && IsAobPath(result.files.front());
    const bool dvd = !result.files.empty() &&
                     (IsVobPath(result.files.front()) || IsAobPath(result.files.front()));
    for (int slot = 0; slot < 2; ++slot)
        listed.push_back({StreamKind::Video, "v", "video", slot, &result.boxes.video[slot],
                          ids.video(slot), &disc.Reports.video[static_cast<std::size_t>(slot)]});
    for (int slot = 0; slot < 16; ++slot)
        listed.push_back({StreamKind::Audio, "a", "audio", slot, &result.boxes.audio[slot],
                          ids.audio(slot), &disc.Reports.audio[static_cast<std::size_t>(slot)]});
    for (int slot = 0; slot < 16; ++slot)
        listed.push_back({StreamKind::Sub, "s", "subpicture", slot, &result.boxes.sub[slot],
                          ids.sub(slot), &disc.Reports.sub[static_cast<std::size_t>(slot)]});

    // Delays count from the earliest first time stamp of the video streams, or of every stream
    // when there is no video.
    std::optional<std::uint64_t> zero;
    for (const bool videoOnly : {true, false}) {
        for (const Listed& l : listed) {
            if (!l.box->enabled || !l.report->hasPts) continue;
            if (videoOnly && std::string_view(l.kind) != "video") continue;
            if (!zero || l.report->firstPts < *zero) zero = l.report->firstPts;
        }
        if (zero) break;
    }

    nlohmann::json streams = nlohmann::json::array();
    for (const Listed& l : listed) {
        if (!l.box->enabled) continue;
        nlohmann::json stream{
            {"box", l.key + std::to_string(l.slot)},
            {"kind", l.kind},
            {"id", l.id},
            {"id_hex", "0x" + analysers::Hex(static_cast<std::uint32_t>(l.id), 2)},
            {"caption", l.box->caption}};
        if (l.report->hasPts) {
            stream["first_pts"] = l.report->firstPts;
            stream["delay_ms"] = Milliseconds(static_cast<std::int64_t>(l.report->firstPts) -
                                              static_cast<std::int64_t>(*zero));
        }
        if (l.report->described) AddFacts(stream, l.report->info);
        if (!stream.contains("codec")) {
            const bool plainAc3 =
                l.streamKind == StreamKind::Audio && ids.plainAc3[static_cast<std::size_t>(l.slot)];
            const std::string codec = CodecOf(l, plainAc3, dvd, aob);
            if (!codec.empty()) stream["codec"] = codec;
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
