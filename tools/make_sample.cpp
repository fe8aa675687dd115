// Writes a small sample disc of our own making: HVDVD_TS/FEATURE_1.EVO and FEATURE_2.EVO (MPEG-2
// video of colour bars and a moving square, silent Dolby Digital and Dolby Digital Plus, an LPCM
// tone, two subpicture streams, in 2,048-byte packs) and ADV_OBJ/VPLST000.XPL naming the title
// that plays them. Every stream decodes: the pictures are intra coded with DC coefficients
// only, and the audio frames carry valid CRCs.
// Usage: strandis-sample FOLDER
#include <cmath>
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

// The picture of frame `frame`: eight colour bars (75 %, Y/Cb/Cr) with a white square of 8 x 8
// macroblocks that moves two macroblocks to the right with every frame.
struct Colour {
    int y, cb, cr;
};
Colour PixelColour(int frame, int row, int column) {
    static constexpr Colour kBars[8] = {{180, 128, 128}, {168, 44, 136}, {145, 147, 44},
                                        {133, 63, 52},   {63, 193, 204}, {51, 109, 212},
                                        {28, 212, 120},  {16, 128, 128}};
    const int left = frame * 2 % (120 - 8);
    if (row >= 26 && row < 34 && column >= left && column < left + 8) return {235, 128, 128};
    return kBars[column / 15];
}

// dct_dc_size VLCs (ISO/IEC 13818-2 tables B.12 and B.13): code and length by size.
constexpr std::uint16_t kLumaDcCode[12] = {4, 0, 1, 5, 6, 14, 30, 62, 126, 254, 510, 511};
constexpr int kLumaDcLength[12] = {3, 2, 2, 3, 3, 4, 5, 6, 7, 8, 9, 9};
constexpr std::uint16_t kChromaDcCode[12] = {0, 1, 2, 6, 14, 30, 62, 126, 254, 510, 1022, 1023};
constexpr int kChromaDcLength[12] = {2, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 10};

// One intra block that holds only its DC coefficient, coded against `predictor`; end of block.
void DcBlock(BitWriter& w, int value, int& predictor, bool luma) {
    const int difference = value - predictor;
    predictor = value;
    int size = 0;
    for (int magnitude = difference < 0 ? -difference : difference; magnitude > 0; magnitude >>= 1)
        ++size;
    if (luma)
        w.put(kLumaDcCode[size], kLumaDcLength[size]);
    else
        w.put(kChromaDcCode[size], kChromaDcLength[size]);
    if (size > 0)
        w.put(
            static_cast<std::uint32_t>(difference > 0 ? difference : difference + (1 << size) - 1),
            size);
    w.put(2, 2);  // end of block (table B.14)
}

// One coded I-picture of frame `frame` (its temporal_reference `reference`): header, coding
// extension (8-bit DC, frame picture, frame DCT, progressive) and a slice per macroblock row in
// which every macroblock is intra coded with DC coefficients only: all a decoder needs for flat
// colours, and no start code can appear inside.
Bytes IntraPicture(int frame, int reference) {
    BitWriter w;
    w.put(0x00000100, 32);
    w.put(static_cast<std::uint32_t>(reference), 10), w.put(1, 3), w.put(0xFFFF, 16), w.put(0, 1);
    w.align();
    w.put(0x000001B5, 32);
    w.put(8, 4), w.put(0xFFFF, 16), w.put(0, 2), w.put(3, 2), w.put(0, 1), w.put(1, 1);
    w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(1, 1), w.put(1, 1),
        w.put(0, 1);
    w.align();
    for (int row = 0; row < 68; ++row) {
        w.put(0x00000101 + static_cast<std::uint32_t>(row), 32);
        w.put(8, 5), w.put(0, 1);  // quantiser_scale_code, extra_bit_slice
        int y = 128, cb = 128, cr = 128;
        for (int column = 0; column < 120; ++column) {
            const Colour c = PixelColour(frame, row, column);
            w.put(1, 1), w.put(1, 1);  // macroblock_address_increment 1, intra
            for (int block = 0; block < 4; ++block)
                DcBlock(w, c.y, y, true);
            DcBlock(w, c.cb, cb, false);
            DcBlock(w, c.cr, cr, false);
        }
        w.align();
    }
    return w.take();
}

// CRC-16 of Dolby Digital frames (x^16 + x^15 + x^2 + 1, not reflected, starting at 0).
std::uint16_t Crc16(const std::uint8_t* data, std::size_t length) {
    std::uint32_t crc = 0;
    for (std::size_t k = 0; k < length; ++k) {
        crc ^= std::uint32_t{data[k]} << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? ((crc << 1) ^ 0x8005) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return static_cast<std::uint16_t>(crc);
}

// The exponents of a channel that sends them with the D45 strategy: 15 at the first bin, up to
// 24 (the lowest level) over the first two groups, then unchanged.
void SilentExponents(BitWriter& w, int groups, bool gainRange) {
    w.put(15, 4);
    w.put(25 * 4 + 5 * 4 + 4, 7);  // +2 +2 +2
    w.put(25 * 4 + 5 * 3 + 2, 7);  // +2 +1  0
    for (int g = 2; g < groups; ++g)
        w.put(25 * 2 + 5 * 2 + 2, 7);
    if (gainRange) w.put(0, 2);
}

// Ends a frame of `bytes` bytes: zero bits up to its last two bytes, which take the CRC of all
// but the sync word, so that the CRC over them comes out 0.
Bytes EndFrame(BitWriter& w, std::size_t bytes) {
    while (w.bits() < bytes * 8 - 16)
        w.put(0, 1);
    Bytes frame = w.take();
    const std::uint16_t crc = Crc16(frame.data() + 2, bytes - 4);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc));
    return frame;
}

// A Dolby Digital frame of silence: 48 kHz, 448 kbit/s (1,792 bytes), 3/2 channels with LFE,
// bsid 8. Every exponent is at the lowest level and the bit allocation gives no mantissa a bit,
// so every coefficient decodes to 0; both CRCs are right.
Bytes SilentAc3Frame() {
    constexpr std::size_t kBytes = 1792;
    BitWriter w;
    w.put(0x0B77, 16), w.put(0, 16), w.put(0, 2), w.put(30, 6);  // crc1 is set below
    w.put(8, 5), w.put(0, 3), w.put(7, 3), w.put(0, 2), w.put(0, 2), w.put(1, 1);
    w.put(31, 5), w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(1, 1);
    w.put(0, 1), w.put(0, 1), w.put(0, 1);
    for (int block = 0; block < 6; ++block) {
        const bool first = block == 0;
        w.put(0, 5), w.put(0, 5), w.put(0, 1);  // blksw, dithflag, dynrnge
        w.put(first ? 1 : 0, 1);                // cplstre
        if (first) w.put(0, 1);                 // cplinu
        for (int ch = 0; ch < 5; ++ch)
            w.put(first ? 3 : 0, 2);  // chexpstr: D45, then reuse
        w.put(first ? 1 : 0, 1);      // lfeexpstr
        if (first) {
            for (int ch = 0; ch < 5; ++ch)
                w.put(0, 6);  // chbwcod: 73 coefficients
            for (int ch = 0; ch < 5; ++ch)
                SilentExponents(w, 6, true);
            w.put(15, 4), w.put(25 * 4 + 5 * 4 + 4, 7), w.put(25 * 4 + 5 * 3 + 2, 7);  // LFE
        }
        w.put(first ? 1 : 0, 1);  // baie
        if (first) w.put(2, 2), w.put(1, 2), w.put(1, 2), w.put(2, 2), w.put(4, 3);
        w.put(first ? 1 : 0, 1);  // snroffste
        if (first) {
            w.put(0, 6);
            for (int ch = 0; ch < 6; ++ch)
                w.put(0, 4), w.put(4, 3);
        }
        w.put(0, 1), w.put(0, 1);  // deltbaie, skiple; no mantissa has bits
    }
    Bytes frame = EndFrame(w, kBytes);  // auxiliary data, auxdatae and crcrsv all 0
    // crc1 covers the first 5/8 of the frame after the sync word. The CRC is linear: crc1 is the
    // sum of the basis values that add up to that part's CRC with crc1 at 0.
    constexpr std::size_t kFiveEighths = (kBytes / 2 / 2 + kBytes / 2 / 8) * 2;
    const std::uint16_t target = Crc16(frame.data() + 2, kFiveEighths - 2);
    std::uint16_t basis[16];
    for (int bit = 0; bit < 16; ++bit) {
        Bytes unit(kFiveEighths - 2, 0);
        unit[0] = static_cast<std::uint8_t>((1u << bit) >> 8);
        unit[1] = static_cast<std::uint8_t>(1u << bit);
        basis[bit] = Crc16(unit.data(), unit.size());
    }
    for (std::uint32_t crc1 = 0; crc1 < 0x10000; ++crc1) {
        std::uint16_t sum = 0;
        for (int bit = 0; bit < 16; ++bit) {
            if (((crc1 >> bit) & 1) != 0) sum ^= basis[bit];
        }
        if (sum != target) continue;
        frame[2] = static_cast<std::uint8_t>(crc1 >> 8);
        frame[3] = static_cast<std::uint8_t>(crc1);
        break;
    }
    const std::uint16_t crc2 = Crc16(frame.data() + 2, kBytes - 4);
    frame[kBytes - 2] = static_cast<std::uint8_t>(crc2 >> 8);
    frame[kBytes - 1] = static_cast<std::uint8_t>(crc2);
    return frame;
}

// A Dolby Digital Plus frame of silence: independent stream 0, 48 kHz, six blocks in 1,536 bytes
// (384 kbit/s), 3/2 channels with LFE, bsid 16; exponents, bit allocation and CRC as in
// SilentAc3Frame.
Bytes SilentEac3Frame() {
    constexpr std::size_t kBytes = 1536;
    BitWriter w;
    w.put(0x0B77, 16);
    w.put(0, 2), w.put(0, 3), w.put(kBytes / 2 - 1, 11), w.put(0, 2), w.put(3, 2);
    w.put(7, 3), w.put(1, 1), w.put(16, 5), w.put(31, 5), w.put(0, 1);  // acmod .. compre
    w.put(0, 1), w.put(0, 1), w.put(0, 1);  // mixmdate, infomdate, addbsie
    // audfrm: exponent strategies per block, no AHT, frame SNR offsets, dither flags sent, no
    // coupling, converter exponent strategies, no block start information.
    w.put(1, 1), w.put(0, 1), w.put(0, 2), w.put(0, 1), w.put(0, 1), w.put(1, 1);
    w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1), w.put(0, 1);
    w.put(0, 1);  // cplinu of block 0
    for (int block = 1; block < 6; ++block)
        w.put(0, 1);  // cplstre
    for (int block = 0; block < 6; ++block) {
        for (int ch = 0; ch < 5; ++ch)
            w.put(block == 0 ? 3 : 0, 2);
    }
    for (int block = 0; block < 6; ++block)
        w.put(block == 0 ? 1 : 0, 1);  // lfeexpstr
    for (int ch = 0; ch < 5; ++ch)
        w.put(0, 5);           // convexpstr
    w.put(0, 6), w.put(0, 4);  // frmcsnroffst, frmfsnroffst
    w.put(0, 1);               // blkstrtinfoe
    for (int block = 0; block < 6; ++block) {
        const bool first = block == 0;
        w.put(0, 5), w.put(0, 1);  // dithflag, dynrnge
        w.put(0, 1);               // spxinu in block 0, spxstre after it
        if (first) {
            for (int ch = 0; ch < 5; ++ch)
                w.put(0, 6);
            for (int ch = 0; ch < 5; ++ch)
                SilentExponents(w, 6, true);
            w.put(15, 4), w.put(25 * 4 + 5 * 4 + 4, 7), w.put(25 * 4 + 5 * 3 + 2, 7);
        }
        w.put(0, 1);  // convsnroffste
    }
    return EndFrame(w, kBytes);
}

// `count` stereo samples of a 440 Hz tone at -20 dB (the right channel an octave lower) from
// sample `first` on, 24-bit LPCM as HD DVD packs it: per two samples of both channels, their
// high 16 bits, big-endian, then their low bytes.
Bytes ToneLpcm(int first, int count) {
    Bytes out;
    out.reserve(static_cast<std::size_t>(count) * 6);
    const auto sample = [](int n, double hz) {
        return static_cast<std::int32_t>(
            std::lround(0.1 * 8388607.0 * std::sin(2 * M_PI * hz * n / 48000.0)));
    };
    for (int n = first; n < first + count; n += 2) {
        const std::int32_t values[4] = {sample(n, 440), sample(n, 220), sample(n + 1, 440),
                                        sample(n + 1, 220)};
        for (const std::int32_t v : values)
            out.push_back(static_cast<std::uint8_t>(v >> 16)),
                out.push_back(static_cast<std::uint8_t>(v >> 8));
        for (const std::int32_t v : values)
            out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

// A DVD subpicture unit (2-bit run-length coding) that shows a bar of 400 x 40 pixels at
// (760, 940) in colour `colour` of the palette, with a darker frame (colour 0's neighbour) for
// 1.5 s: the picture data of both fields, then a control sequence that sets colours, contrast,
// area and field offsets and starts the display, and one that stops it.
Bytes SubpictureUnit(std::uint8_t colour) {
    constexpr int kWidth = 400, kHeight = 40, kLeft = 760, kTop = 940;
    // One line: a run of the whole width in pixel code 1 (frame rows: code 2), as the 16-bit
    // code 000000nnnnnnnncc; 400 pixels take two runs.
    const auto line = [](Bytes& to, int code) {
        for (const int run : {200, 200}) {
            const int value = run << 2 | code;
            to.push_back(static_cast<std::uint8_t>(value >> 8));
            to.push_back(static_cast<std::uint8_t>(value));
        }
    };
    Bytes fields;
    for (const int parity : {0, 1}) {
        for (int y = parity; y < kHeight; y += 2)
            line(fields, y < 4 || y >= kHeight - 4 ? 2 : 1);
    }
    const std::size_t bottom = 4 + kHeight / 2 * 4;
    const std::size_t first = 4 + fields.size();
    const std::size_t second = first + 24;
    const auto hi = [](std::size_t v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](std::size_t v) { return static_cast<std::uint8_t>(v); };
    const int right = kLeft + kWidth - 1, last = kTop + kHeight - 1;
    Bytes unit{0, 0, hi(first), lo(first)};
    Append(unit, fields);
    Append(unit, {0x00,
                  0x00,
                  hi(second),
                  lo(second),  // now; next
                  0x03,
                  static_cast<std::uint8_t>(colour - 1),
                  static_cast<std::uint8_t>(colour << 4),
                  0x04,
                  0x0F,
                  0xF0,  // codes 1 and 2 opaque
                  0x05,
                  static_cast<std::uint8_t>(kLeft >> 4),
                  static_cast<std::uint8_t>((kLeft & 15) << 4 | right >> 8),
                  static_cast<std::uint8_t>(right),
                  static_cast<std::uint8_t>(kTop >> 4),
                  static_cast<std::uint8_t>((kTop & 15) << 4 | last >> 8),
                  static_cast<std::uint8_t>(last),
                  0x06,
                  0x00,
                  0x04,
                  hi(bottom),
                  lo(bottom),
                  0x01,
                  0xFF});
    Append(unit, {0x00, 132, hi(second), lo(second), 0x02, 0xFF});  // 1.5 s later: stop
    unit[0] = hi(unit.size());
    unit[1] = lo(unit.size());
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
                    payload = {*subId, 0x01, 0x20, 0x00, 0x00, 0x01, 0x00};  // 24 bit, 48 kHz, L R
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
            scr_ += 150;
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
    const Bytes ac3 = SilentAc3Frame(), eac3 = SilentEac3Frame();
    int lpcmSamples = 0;
    for (int f = 0; f < frames; ++f) {
        const std::uint64_t pts =
            firstPts + static_cast<std::uint64_t>(f) * 3754;  // 90 kHz at 23.976
        Bytes video;
        if (f % 12 == 0) video = SequenceStart();
        Append(video, IntraPicture(f, f % 12));
        mux.unit(0xE0, std::nullopt, video, pts);
        while (ac3Pts < pts + 3754) {
            mux.unit(0xBD, 0x80, ac3, ac3Pts);
            ac3Pts += 2880;  // 1,536 samples at 48 kHz
        }
        while (eac3Pts < pts + 3754) {
            mux.unit(0xBD, 0xC1, eac3, eac3Pts);
            eac3Pts += 2880;
        }
        while (lpcmPts < pts + 3754) {
            mux.unit(0xBD, 0xA2, ToneLpcm(lpcmSamples, 1200), lpcmPts);
            lpcmSamples += 1200;
            lpcmPts += 2250;  // 1,200 samples at 48 kHz
        }
        if (f % 48 == 0) {
            mux.unit(0xBD, 0x20, SubpictureUnit(1), pts);
            mux.unit(0xBD, 0x21, SubpictureUnit(10), pts);
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
    <AudioAttributeItem index="3" codec="LPCM" channels="2" sampleFrequency="48"/>
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
