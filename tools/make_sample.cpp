// Writes a small sample disc of our own making: HVDVD_TS/FEATURE_1.EVO and FEATURE_2.EVO (MPEG-2
// video, Dolby Digital, Dolby Digital Plus and LPCM audio, two subpicture streams, in 2,048-byte
// packs) and ADV_OBJ/VPLST000.XPL naming the title that plays them.
// Usage: strandis-sample FOLDER
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "testkit/BitWriter.h"
#include "testkit/PsBuilder.h"

namespace {

using strandis::test::BitWriter;
using strandis::test::Bytes;
using strandis::test::PsBuilder;

void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

// An MPEG-2 sequence header, 1920 x 1080, 16:9, 23.976 frames a second, 25 Mbit/s, with its
// sequence extension (Main profile, High level, progressive) and a GOP header.
Bytes SequenceStart() {
    BitWriter w;
    w.put(0x000001B3, 32);
    w.put(1920, 12), w.put(1080, 12), w.put(3, 4), w.put(1, 4);
    w.put(62500, 18), w.put(1, 1), w.put(597, 10), w.put(0, 1), w.put(0, 1), w.put(0, 1);
    w.put(0x000001B5, 32);
    w.put(1, 4), w.put(0x44, 8), w.put(1, 1), w.put(1, 2), w.put(0, 2), w.put(0, 2), w.put(0, 12);
    w.put(1, 1), w.put(0, 8), w.put(0, 1), w.put(0, 2), w.put(0, 5);
    w.put(0x000001B8, 32);
    w.put(0, 25), w.put(1, 1), w.put(0, 1), w.put(0, 5);
    return w.take();
}

// One coded picture: header, coding extension and a slice of filler that holds no start code.
Bytes Picture(int temporalReference, int codingType, std::size_t sliceBytes) {
    BitWriter w;
    w.put(0x00000100, 32);
    w.put(static_cast<std::uint32_t>(temporalReference), 10),
        w.put(static_cast<std::uint32_t>(codingType), 3);
    w.put(0xFFFF, 16);
    if (codingType > 1) w.put(0, 1), w.put(7, 3);
    if (codingType > 2) w.put(0, 1), w.put(7, 3);
    w.put(0, 1);
    w.put(0x000001B5, 32);
    w.put(8, 4), w.put(0xFFFF, 16), w.put(0, 2), w.put(3, 2), w.put(0, 1), w.put(1, 1);
    w.put(0, 6), w.put(1, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1);
    w.put(0x00000101, 32);
    Bytes out = w.take();
    Append(out, strandis::test::Counting(sliceBytes, static_cast<std::uint8_t>(temporalReference)));
    return out;
}

// A Dolby Digital frame: 48 kHz, 448 kbit/s (1,792 bytes), 3/2 channels with LFE, bsid 8.
Bytes Ac3Frame() {
    Bytes frame(1792, 0);
    const Bytes head{0x0B, 0x77, 0x00, 0x00, 0x1E, 0x40, 0xE1};
    std::copy(head.begin(), head.end(), frame.begin());
    return frame;
}

// A Dolby Digital Plus frame: independent stream 0, 1,536 bytes, 48 kHz, six blocks, 3/2 with
// LFE, bsid 16.
Bytes Eac3Frame() {
    Bytes frame(1536, 0);
    const Bytes head{0x0B, 0x77, 0x02, 0xFF, 0x3F, 0x87, 0xC0};
    std::copy(head.begin(), head.end(), frame.begin());
    return frame;
}

// A DVD subpicture unit (2-bit run-length coding): size, offset of its control sequence, a few
// bytes of picture data and one control sequence that shows it.
Bytes SubpictureUnit(std::uint8_t shade) {
    Bytes data(40, shade);
    const std::size_t control = 4 + data.size();
    Bytes commands{0x00,
                   0x00,  // delay
                   static_cast<std::uint8_t>(control >> 8),
                   static_cast<std::uint8_t>(control),
                   0x01,
                   0x03,
                   0x32,
                   0x10,
                   0x04,
                   0xFF,
                   0xF0,
                   0x05,
                   0x00,
                   0x00,
                   0x4F,
                   0x00,
                   0x00,
                   0x01,
                   0x06,
                   0x00,
                   0x04,
                   0x00,
                   0x18,
                   0xFF};
    const std::size_t size = control + commands.size();
    Bytes unit{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size),
               static_cast<std::uint8_t>(control >> 8), static_cast<std::uint8_t>(control)};
    Append(unit, data);
    Append(unit, commands);
    return unit;
}

// Lays elementary streams into 2,048-byte packs.
class Muxer {
public:
    PsBuilder ps;

    void start() {
        ps.pack(scr_).systemHeader(3, 1, {0xE0, 0xBD, 0xBF}).padTo();
        navigation();
    }

    void navigation() {
        ps.pack(scr_).private2(Bytes(980, 0)).private2(Bytes(1018, 0));
        scr_ += 900;
    }

    // One access unit of video or audio, split over packs; the first carries the time stamp.
    void unit(std::uint8_t streamId, std::optional<std::uint8_t> subId, const Bytes& es,
              std::uint64_t pts) {
        std::size_t done = 0;
        bool first = true;
        while (done < es.size()) {
            const std::size_t subHeader = !subId                             ? 0
                                          : *subId >= 0xA0 && *subId <= 0xA7 ? 7
                                          : (*subId & 0xE0) == 0x20          ? 1
                                                                             : 4;
            const std::size_t overhead = 14 + 9 + (first ? 5 : 0) + subHeader;
            const std::size_t room = 2048 - overhead;
            const std::size_t take = std::min(room, es.size() - done);
            const Bytes piece(es.begin() + static_cast<std::ptrdiff_t>(done),
                              es.begin() + static_cast<std::ptrdiff_t>(done + take));
            const std::size_t left = room - take;
            const int stuffing = left > 0 && left < 6 ? static_cast<int>(left) : 0;
            ps.pack(scr_);
            Bytes payload;
            if (subId) {
                if (subHeader == 7) {
                    payload = {*subId, 0x01, 0x20, 0x10, 0x00, 0x01, 0x00};
                } else if (subHeader == 1) {
                    payload = {*subId};
                } else {
                    payload = {*subId, 0x01, 0x00, 0x01};
                }
            }
            Append(payload, piece);
            ps.pes(streamId,
                   {.pts = first ? std::optional<std::uint64_t>(pts) : std::nullopt,
                    .stuffing = stuffing},
                   payload);
            if (left >= 6) ps.padding(left - 6);
            scr_ += 300;
            done += take;
            first = false;
        }
    }

private:
    std::uint64_t scr_ = 0;
};

Bytes Feature(int seconds, std::uint64_t firstPts) {
    Muxer mux;
    mux.start();
    const int frames = seconds * 24;
    std::uint64_t ac3Pts = firstPts, eac3Pts = firstPts, lpcmPts = firstPts;
    for (int f = 0; f < frames; ++f) {
        const std::uint64_t pts =
            firstPts + static_cast<std::uint64_t>(f) * 3754;  // 90 kHz at 23.976
        Bytes video;
        if (f % 12 == 0) video = SequenceStart();
        Append(video, Picture(f % 12,
                              f % 12 == 0  ? 1
                              : f % 3 == 0 ? 2
                                           : 3,
                              f % 12 == 0 ? 9000 : 2500));
        mux.unit(0xE0, std::nullopt, video, pts);
        while (ac3Pts < pts + 3754) {
            mux.unit(0xBD, 0x80, Ac3Frame(), ac3Pts);
            ac3Pts += 2880;  // 1,536 samples at 48 kHz
        }
        while (eac3Pts < pts + 3754) {
            mux.unit(0xBD, 0xC1, Eac3Frame(), eac3Pts);
            eac3Pts += 2880;
        }
        while (lpcmPts < pts + 3754) {
            mux.unit(0xBD, 0xA2, strandis::test::Counting(1200, static_cast<std::uint8_t>(f)),
                     lpcmPts);
            lpcmPts += 2250;  // 200 samples of 24-bit stereo at 96 kHz
        }
        if (f % 48 == 0) {
            mux.unit(0xBD, 0x20, SubpictureUnit(0x11), pts);
            mux.unit(0xBD, 0x21, SubpictureUnit(0x22), pts);
        }
        if (f % 12 == 11) mux.navigation();
    }
    return mux.ps.bytes();
}

const char* const kPlaylist = R"(<?xml version="1.0" encoding="UTF-8"?>
<Playlist xmlns="http://www.dvdforum.org/2005/HDDVDVideo/Playlist" majorVersion="1" minorVersion="0" displayName="Strandis Sample Disc">
  <Configuration>
    <StreamingBuffer size="0"/>
  </Configuration>
  <MediaAttributeList>
    <VideoAttributeItem index="1" codec="MPEG-2" sampleAspectRatio="16:9" frameRate="24000/1001"/>
    <AudioAttributeItem index="1" codec="DD" channels="6" sampleFrequency="48"/>
    <AudioAttributeItem index="2" codec="DD+" channels="6" sampleFrequency="48"/>
    <AudioAttributeItem index="3" codec="LPCM" channels="2" sampleFrequency="96"/>
    <SubpictureAttributeItem index="1" codec="2bitRLE"/>
  </MediaAttributeList>
  <TitleSet>
    <!-- The feature: two video objects played one after the other. -->
    <Title id="Feature" titleNumber="1" displayName="Sample Feature" titleDuration="00:00:15:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:10:00" dataSource="Disc">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Audio track="2" streamNumber="2" mediaAttr="2" description="Commentary"/>
        <Audio track="3" streamNumber="3" mediaAttr="3" description="Music"/>
        <Subtitle track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Subtitle track="2" streamNumber="2" mediaAttr="1" description="Deutsch"/>
      </PrimaryAudioVideoClip>
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_2.MAP" titleTimeBegin="00:00:10:00" titleTimeEnd="00:00:15:00" dataSource="Disc"/>
      <ChapterList>
        <Chapter titleTimeBegin="00:00:00:00" displayName="Chapter 1"/>
        <Chapter titleTimeBegin="00:00:05:00" displayName="Chapter 2"/>
        <Chapter titleTimeBegin="00:00:10:00" displayName="Chapter 3"/>
      </ChapterList>
    </Title>
    <Title id="Extras" titleNumber="2" displayName="Trailer" titleDuration="00:00:05:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:05:00" dataSource="Disc">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="1" mediaAttr="1" description="English"/>
      </PrimaryAudioVideoClip>
    </Title>
  </TitleSet>
</Playlist>
)";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: strandis-sample FOLDER\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::filesystem::create_directories(root / "HVDVD_TS");
    std::filesystem::create_directories(root / "ADV_OBJ");
    strandis::test::SaveFile((root / "HVDVD_TS" / "FEATURE_1.EVO").string(), Feature(10, 90000));
    strandis::test::SaveFile((root / "HVDVD_TS" / "FEATURE_2.EVO").string(),
                             Feature(5, 90000 + 10 * 90000));
    std::ofstream((root / "ADV_OBJ" / "VPLST000.XPL").string(), std::ios::binary) << kPlaylist;
    return 0;
}
