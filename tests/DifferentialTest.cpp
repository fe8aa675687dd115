// The real scanner takes payloads, skipped packets and the bytes between packets in bulk; the
// literal one walks every byte through every rule. On any input they must agree exactly.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

class StreamMaker {
public:
    explicit StreamMaker(std::uint32_t seed) : rng_(seed) {}

    Bytes make(std::size_t target) {
        PsBuilder ps;
        while (ps.size() < target)
            addOne(ps);
        Bytes out = ps.bytes();
        mutate(out);
        return out;
    }

    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
    bool chance(std::uint32_t percent) { return below(100) < percent; }

private:
    // Payload bytes with start codes of every kind sprinkled in.
    Bytes payload(std::size_t max) {
        static constexpr std::uint8_t kIds[] = {0x00, 0x09, 0x0D, 0xE0, 0xE2, 0xBD,
                                                0xBE, 0xBF, 0xFD, 0xC0, 0xBA, 0xBB};
        Bytes out(below(static_cast<std::uint32_t>(max) + 1));
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<std::uint8_t>(chance(20) ? below(3) : below(256));
            if (i + 4 <= out.size() && chance(2)) {
                out[i] = 0, out[i + 1] = 0, out[i + 2] = 1,
                out[i + 3] = kIds[below(std::size(kIds))];
                i += 3;
            }
        }
        return out;
    }

    std::optional<std::uint64_t> maybePts() {
        if (chance(40)) return std::nullopt;
        return chance(50) ? static_cast<std::uint64_t>(rng_())
                          : (std::uint64_t{rng_()} << 1) | below(2);
    }

    void addOne(PsBuilder& ps) {
        static constexpr std::uint8_t kAudioIds[] = {0x80, 0x81, 0x87, 0x88, 0x8A, 0xA0,
                                                     0xA1, 0xA7, 0xA8, 0xB0, 0xB3, 0xB8,
                                                     0xC0, 0xC5, 0xCF, 0x90, 0x05, 0xFF};
        switch (below(16)) {
            case 0:
                ps.pack(rng_());
                break;
            case 1:
                ps.systemHeader(static_cast<int>(below(64)), static_cast<int>(below(32)));
                break;
            case 2: {
                auto pts = maybePts();
                ps.video(static_cast<std::uint8_t>(0xE0 + below(4)), payload(4000), pts,
                         pts && chance(50) ? maybePts() : std::nullopt);
                break;
            }
            case 3: {
                static constexpr std::uint8_t kExt[] = {0x55, 0x56, 0x60, 0xD5, 0x00};
                ps.pes(0xFD,
                       {.pts = maybePts(),
                        .pstd = chance(30),
                        .streamIdExtension = kExt[below(5)],
                        .stuffing = static_cast<int>(below(3))},
                       payload(3000));
                break;
            }
            case 4:
                ps.pes(0xFD, {.pts = maybePts(), .pstd = chance(50)}, payload(500));
                break;
            case 5:
                ps.audio(kAudioIds[below(std::size(kAudioIds))], payload(2500), maybePts());
                break;
            case 6:
                ps.subpicture(static_cast<std::uint8_t>((chance(50) ? 0x20 : 0x60) + below(32)),
                              payload(2000), maybePts());
                break;
            case 7:
                ps.private1(payload(300), {.pts = maybePts()});
                break;
            case 8:
                ps.padding(below(3000));
                break;
            case 9:
                ps.private2(payload(1100));
                break;
            case 10:
                ps.mpegAudio(static_cast<std::uint8_t>(0xC0 + below(16)), payload(1500),
                             maybePts());
                break;
            case 11:
                ps.raw(payload(200));
                break;
            case 12: {  // a length field that does not fit the packet
                static constexpr std::uint8_t kIds[] = {0xE0, 0xBD, 0xFD, 0xBE, 0xC0};
                const std::uint8_t id = kIds[below(5)];
                ps.pes(id,
                       {.pts = maybePts(),
                        .streamIdExtension =
                            id == 0xFD ? std::optional<std::uint8_t>(0x55) : std::nullopt,
                        .packetLength = static_cast<std::uint16_t>(below(chance(50) ? 12 : 65536))},
                       payload(600));
                break;
            }
            case 13:
                ps.pes(0xE1,
                       {.pts = maybePts(),
                        .pstd = chance(50),
                        .stuffing = static_cast<int>(below(20))},
                       payload(800));
                break;
            case 14:
                ps.raw(oddHeader());
                break;
            default:
                ps.padTo();
                break;
        }
    }

    // A PES packet whose header the byte machine must be left to walk: a start code among its
    // bytes or its sub-stream header's, time stamps its header length has no room for, a PES
    // extension, or scrambling.
    Bytes oddHeader() {
        static constexpr std::uint8_t kIds[] = {0xE0, 0xBD, 0xC0, 0xFD, 0xBE};
        static constexpr std::uint8_t kSubIds[] = {0x20, 0x80, 0x88, 0xA0, 0xA1, 0xB0, 0xFF};
        const std::uint8_t headerLength = static_cast<std::uint8_t>(below(20));
        Bytes packet{0x00,
                     0x00,
                     0x01,
                     kIds[below(std::size(kIds))],
                     0,
                     0,
                     static_cast<std::uint8_t>(chance(10) ? 0x90 : 0x80),
                     static_cast<std::uint8_t>(below(4) << 6 | (chance(10) ? 1 : 0)),
                     headerLength};
        Bytes rest = payload(600);
        rest.resize(std::max<std::size_t>(rest.size(), headerLength + 8u), 0x22);
        if (chance(60)) rest[headerLength] = kSubIds[below(std::size(kSubIds))];
        if (chance(70)) {
            const std::size_t at = below(headerLength + 5u);
            rest[at] = 0, rest[at + 1] = 0, rest[at + 2] = 1;
            rest[at + 3] = kIds[below(std::size(kIds))];
        }
        const std::size_t length = 3 + rest.size();
        packet[4] = static_cast<std::uint8_t>(length >> 8);
        packet[5] = static_cast<std::uint8_t>(length);
        packet.insert(packet.end(), rest.begin(), rest.end());
        return packet;
    }

    void mutate(Bytes& data) {
        if (data.empty() || chance(30)) return;
        const std::uint32_t flips = below(40);
        for (std::uint32_t k = 0; k < flips; ++k)
            data[below(static_cast<std::uint32_t>(data.size()))] =
                static_cast<std::uint8_t>(rng_());
        if (chance(30)) {  // drop a range
            const std::size_t at = below(static_cast<std::uint32_t>(data.size()));
            const std::size_t count = std::min<std::size_t>(below(5000), data.size() - at);
            data.erase(data.begin() + static_cast<std::ptrdiff_t>(at),
                       data.begin() + static_cast<std::ptrdiff_t>(at + count));
        }
    }

    std::mt19937 rng_;
};

void ExpectSameScan(const ScanTrace& real, const ScanTrace& literal, const std::string& what) {
    EXPECT_EQ(real.log, literal.log) << what;
    EXPECT_EQ(real.progress, literal.progress) << what;
    EXPECT_EQ(real.streamIds, literal.streamIds) << what;
    EXPECT_EQ(real.frames, literal.frames) << what;
    EXPECT_EQ(real.minPts, literal.minPts) << what;
    EXPECT_EQ(real.stopFlag, literal.stopFlag) << what;
    ASSERT_EQ(real.chunks.size(), literal.chunks.size()) << what;
    for (std::size_t k = 0; k < real.chunks.size(); ++k) {
        ASSERT_EQ(real.chunks[k], literal.chunks[k]) << what << ", chunk " << k;
    }
}

TEST(DifferentialTest, RealAndLiteralScannersAgreeOnRandomAndDamagedStreams) {
    TempDir dir;
    for (std::uint32_t seed = 1; seed <= 60; ++seed) {
        StreamMaker maker(seed);
        const Bytes file = maker.make(100'000 + maker.below(1'300'000));
        const std::string path = dir.path(maker.chance(20) ? "ATS_01_1.aob" : "FEATURE_1.EVO");
        SaveFile(path, file);
        for (bool demuxMode : {false, true}) {
            TestHost host;
            host.source = path;
            host.set(Option::Details, maker.chance(80));
            host.set(Option::CountFrames, maker.chance(80));
            host.tick(BoxKind::Video, 0, maker.chance(50));
            host.tick(BoxKind::Video, 1, maker.chance(50));
            TestHost literalHost = host;
            const FrameCounts frames{static_cast<std::int64_t>(maker.below(5)), 0};
            const ScanTrace real = RealScan(path, demuxMode, host, nullptr, frames);
            const ScanTrace literal =
                LiteralScan(file, demuxMode, literalHost, frames, 0xFFFFFFFFu);
            ExpectSameScan(real, literal,
                           "seed " + std::to_string(seed) + (demuxMode ? " demux" : " check"));
            if (HasFatalFailure()) return;
        }
    }
}

TEST(DifferentialTest, BlockBoundariesFallInsideEveryPartOfAPacket) {
    // One stream of dense small packets, shifted so that the block end walks over every byte of
    // their headers.
    TempDir dir;
    PsBuilder unit;
    unit.pack()
        .video(0xE0, {0x00, 0x00, 0x01, 0x00, 0x07}, 0x12345678, 0x12340000)
        .pes(0xFD, {.pts = 0x2222, .pstd = true, .streamIdExtension = 0x55},
             {0x00, 0x00, 0x01, 0x0D})
        .audio(0xA0, Counting(5), 0x3333)
        .audio(0xB1, Counting(5), 0x4444)
        .audio(0x82, Counting(5), 0x5555)
        .subpicture(0x20, Counting(5), 0x6666)
        .padding(7)
        .private2(Counting(9));
    const std::size_t unitSize = unit.size();
    for (std::size_t shift = 0; shift < unitSize; ++shift) {
        PsBuilder ps;
        ps.raw(Bytes(262144 - unitSize - shift, 0xFF));
        for (int k = 0; k < 3; ++k)
            ps.raw(unit.bytes());
        const std::string path = dir.path("FEATURE_1.EVO");
        ps.save(path);
        for (bool demuxMode : {false, true}) {
            TestHost host, literalHost;
            host.source = literalHost.source = path;
            const ScanTrace real = RealScan(path, demuxMode, host);
            const ScanTrace literal =
                LiteralScan(ps.bytes(), demuxMode, literalHost, {0, 0}, 0xFFFFFFFFu);
            ExpectSameScan(real, literal, "shift " + std::to_string(shift));
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
}  // namespace strandis::test
