// The header readers against streams made by a real encoder (ffmpeg), wrapped into program
// streams by the PsBuilder; what they report must match what ffprobe reads from the same stream.
// Skipped when ffmpeg or ffprobe is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "common/Markup.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

bool Installed(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

class EncoderTest : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override {
        if (!Installed("ffmpeg") || !Installed("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
    }

    // Encodes one second of a test source; returns the elementary stream.
    Bytes encode(const std::string& source, const std::string& options, const std::string& name) {
        const std::string path = dir.path(name);
        const std::string command = "ffmpeg -y -v error -f lavfi -i '" + source + "' -t 1 " +
                                    options + " '" + path + "' 2>&1";
        const std::string errors = Output(command);
        EXPECT_TRUE(errors.empty()) << command << "\n" << errors;
        return LoadFile(path);
    }

    nlohmann::json probe(const std::string& name) {
        const std::string out =
            Output("ffprobe -v error -show_streams -of json '" + dir.path(name) + "'");
        return nlohmann::json::parse(out)["streams"][0];
    }

    // Wraps the stream into packets of one program stream and lists the lines the scan logs for it.
    std::vector<std::string> describe(std::uint8_t streamId, std::optional<std::uint8_t> subId,
                                      const Bytes& es) {
        PsBuilder ps;
        for (std::size_t at = 0; at < es.size(); at += 2000) {
            const Bytes piece(
                es.begin() + static_cast<std::ptrdiff_t>(at),
                es.begin() + static_cast<std::ptrdiff_t>(std::min(at + 2000, es.size())));
            const std::optional<std::uint64_t> pts =
                at == 0 ? std::optional<std::uint64_t>(0x1000) : std::nullopt;
            ps.pack();
            if (subId) {
                ps.audio(*subId, piece, pts);
            } else {
                ps.video(streamId, piece, pts);
            }
        }
        ps.save(dir.path("FEATURE_1.EVO"));
        TestHost host;
        host.source = dir.path("FEATURE_1.EVO");
        Engine engine(host);
        RunDetection(engine, host.source);
        std::vector<std::string> plain;
        for (const std::string& line : host.lines)
            plain.push_back(ParseMarkup(line).plain);
        return plain;
    }
};

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}

// A rate that ffprobe gives in units (as text), in thousands: kbit/s, kHz.
std::string InThousands(const nlohmann::json& stream, const char* key) {
    return std::to_string(std::stoi(stream[key].get<std::string>()) / 1000);
}

// frame_rate_code texts by ffprobe's frame rate.
const std::map<std::string, std::string> kFrameRates{
    {"24000/1001", "23.976"}, {"24/1", "24"}, {"25/1", "25"},
    {"30000/1001", "29.97"},  {"50/1", "50"}, {"60/1", "60"}};

TEST_F(EncoderTest, Mpeg2Video) {
    const Bytes es = encode("testsrc=size=1280x720:rate=25",
                            "-c:v mpeg2video -b:v 8M -aspect 16:9 -f mpeg2video", "v.m2v");
    const nlohmann::json s = probe("v.m2v");
    const auto lines = describe(0xE0, std::nullopt, es);
    EXPECT_TRUE(Has(lines, "   size = " + std::to_string(s["width"].get<int>()) + "x" +
                               std::to_string(s["height"].get<int>())))
        << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Aspect ratio = " + s["display_aspect_ratio"].get<std::string>()))
        << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Frame rate = " + kFrameRates.at(s["r_frame_rate"]) + " fps"))
        << Joined(lines);
    EXPECT_TRUE(Has(lines, "   0 frames before first Sequence Header")) << Joined(lines);
}

TEST_F(EncoderTest, H264Video) {
    const Bytes es = encode(
        "testsrc=size=1920x1080:rate=24000/1001",
        "-pix_fmt yuv420p -c:v libx264 -profile:v high -level 4.1 -x264-params aud=1 -f h264",
        "v.264");
    const nlohmann::json s = probe("v.264");
    const auto lines = describe(0xE2, std::nullopt, es);
    EXPECT_TRUE(Has(lines, "   " + s["profile"].get<std::string>() + " Profile")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Level = " + std::to_string(s["level"].get<int>()))) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   0 frames before first I-frame")) << Joined(lines);
}

TEST_F(EncoderTest, DolbyDigitalAndDolbyDigitalPlus) {
    const Bytes ac3 = encode("sine=sample_rate=48000", "-ac 6 -c:a ac3 -b:a 448k -f ac3", "a.ac3");
    nlohmann::json s = probe("a.ac3");
    auto lines = describe(0xBD, 0x80, ac3);
    EXPECT_TRUE(Has(lines, "   Sampling frequency = " + InThousands(s, "sample_rate") + " kHz"))
        << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Transmission bitrate = " + InThousands(s, "bit_rate") + " kbit/s"))
        << Joined(lines);
    EXPECT_EQ(s["channel_layout"], "5.1(side)");
    EXPECT_TRUE(Has(lines, "   Channel arrangement = L + R + C + Ls + Rs, bsid = 8, bsmod =0"))
        << Joined(lines);

    const Bytes eac3 =
        encode("sine=sample_rate=48000", "-ac 6 -c:a eac3 -b:a 384k -f eac3", "a.eac3");
    s = probe("a.eac3");
    lines = describe(0xBD, 0xC0, eac3);
    EXPECT_TRUE(Has(lines, "   Stream 0 is Dolby Digital Plus")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Transmission bitrate = " + InThousands(s, "bit_rate") + " kbit/s"))
        << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Sampling frequency = 48 kHz")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   LFE channel = present")) << Joined(lines);
}

TEST_F(EncoderTest, DtsAndTrueHd) {
    const Bytes dts = encode("sine=sample_rate=48000", "-ac 6 -c:a dca -strict -2 -f dts", "a.dts");
    nlohmann::json s = probe("a.dts");
    auto lines = describe(0xBD, 0x88, dts);
    std::string rate = std::to_string(std::stoi(s["bit_rate"].get<std::string>()) / 100);
    rate = rate.substr(0, rate.size() - 1) +
           (rate.back() == '0' ? "" : "." + rate.substr(rate.size() - 1));
    EXPECT_TRUE(Has(lines, "   Transmission bitrate = " + rate + " kbit/s")) << rate << "\n"
                                                                             << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Sampling frequency = 48 kHz")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Channel arrangement = C + L + R + Ls + Rs")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   LFE channel = present (IF:128)") ||
                Has(lines, "   LFE channel = present (IF:64)"))
        << Joined(lines);

    const Bytes truehd =
        encode("sine=sample_rate=48000", "-ac 6 -c:a truehd -strict -2 -f truehd", "a.thd");
    s = probe("a.thd");
    lines = describe(0xBD, 0xB0, truehd);
    EXPECT_TRUE(Has(lines, "   TrueHD stream (up to 8 channels)")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Sampling frequency = " + InThousands(s, "sample_rate") + " kHz"))
        << Joined(lines);
}

TEST_F(EncoderTest, DvdAudioMlpDemuxesToTheEncodersStreamAndDecodesCleanly) {
    const Bytes mlp = encode("sine=sample_rate=96000", "-ac 2 -c:a mlp -strict -2 -f mlp", "a.mlp");
    const nlohmann::json s = probe("a.mlp");
    // DVD-Audio packets: id 0xA1, a counter, header length 6, the access unit pointer and four
    // more header bytes, then the stream.
    PsBuilder ps;
    std::uint8_t counter = 0;
    for (std::size_t at = 0; at < mlp.size(); at += 2000) {
        const std::size_t length = std::min<std::size_t>(2000, mlp.size() - at);
        Bytes data(10 + length, 0x00);
        data[0] = 0xA1, data[1] = counter++, data[3] = 0x06;
        std::copy_n(mlp.begin() + static_cast<std::ptrdiff_t>(at), length, data.begin() + 10);
        ps.pack().private1(data,
                           {.pts = at == 0 ? std::optional<std::uint64_t>(0x1000) : std::nullopt});
    }
    ps.save(dir.path("ATS_01_1.AOB"));
    TestHost host;
    host.source = dir.path("ATS_01_1.AOB");
    host.folder = dir.path("");
    Engine engine(host);
    Detected detected;
    detected = RunDetection(engine, host.source);
    host.takeBoxes(detected.boxes);
    std::vector<std::string> lines;
    for (const std::string& line : host.lines)
        lines.push_back(ParseMarkup(line).plain);
    EXPECT_TRUE(Has(lines, "MLP audio stream 1 found!")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Sampling frequency = " + InThousands(s, "sample_rate") + " kHz"))
        << Joined(lines);
    RunDemux(engine, detected, host.source);
    const std::string out = dir.path("ATS_01_1.LPCM.stream.01.mpa");
    EXPECT_EQ(LoadFile(out), mlp);
    EXPECT_EQ(Output("ffmpeg -v error -f mlp -i '" + out + "' -f null - 2>&1"), "");
}

TEST_F(EncoderTest, DolbyDigitalInADolbyDigitalPlusIdIsNamedSo) {
    const Bytes ac3 = encode("sine=sample_rate=48000", "-ac 2 -c:a ac3 -b:a 192k -f ac3", "a.ac3");
    const auto lines = describe(0xBD, 0xC2, ac3);
    EXPECT_TRUE(Has(lines, "Dolby Digital audio stream 2 found!")) << Joined(lines);
    EXPECT_TRUE(Has(lines, "   Stream 2 is Dolby Digital")) << Joined(lines);
}

}  // namespace
}  // namespace strandis::test
