// The byte machine written out rule by rule, as plainly as it can be said.
#include "tests/support/LiteralScanner.h"

#include <cstdio>
#include <functional>

#include "analysers/Analysers.h"

namespace strandis::test {

namespace {

std::string HexText(std::uint32_t v, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, v);
    return text;
}

// The extension of the file name, upper-cased, is `ext`.
bool ExtensionIs(const std::string& path, const char* ext) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string found = path.substr(dot);
    for (char& c : found)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return found == ext;
}

bool AobName(const std::string& path) {
    return ExtensionIs(path, ".AOB");
}
bool VobName(const std::string& path) {
    return ExtensionIs(path, ".VOB");
}

class SayingSink final : public analysers::LogSink {
public:
    explicit SayingSink(std::function<void(const std::string&)> say) : say_(std::move(say)) {}
    void log(std::string_view line) override { say_(std::string(line)); }

private:
    std::function<void(const std::string&)> say_;
};

struct Literal {
    const bool demuxMode;
    RunHost& host;
    ScanTrace trace;
    std::array<std::uint8_t, 2> shownVideo{};
    std::array<std::uint8_t, 16> shownAudio{};
    std::array<std::uint8_t, 32> shownSub{};
    std::vector<std::uint8_t> block;
    std::size_t n = 0;

    std::uint32_t ShiftReg = 0;
    std::array<std::uint8_t, 16> SubHeader{};  // private-stream-1 header bytes, id first
    std::size_t SubHeaderLength = 0;
    std::array<bool, 768> toldTaken{};  // "not listed" said, by id space * 256 + id
    std::array<int, 768> moved = [] {   // the slot a stream took for its own, by space and id
        std::array<int, 768> none{};
        none.fill(-1);
        return none;
    }();
    std::uint8_t PacketKind = 8;
    std::int32_t LengthLeft = 0;
    std::uint8_t LengthBytes = 0, FixedHeaderLeft = 0, HeaderFlags = 0, HeaderLeft = 0;
    std::uint32_t PtsBytes = 0, PtsDtsBytes = 0, ExtFlagsBytes = 0, ExtFlags = 0, PstdBytes = 0,
                  Ext2Bytes = 0;
    std::uint8_t SubHeaderBytes = 0;
    std::uint32_t LpcmHeaderBytes = 0;
    std::uint32_t TrueHdHeaderBytes = 0, SkipBytes = 0;
    std::uint8_t InPayload = 0;
    std::uint32_t TimeAcc = 0, PtsReg = 0, DtsReg = 0, VideoPts = 0, FirstAudioPts = 0,
                  FirstSubPts = 0;
    std::int32_t VideoSlot = -1, AudioSlot = -1, SubSlot = -1;
    std::uint8_t VideoType = 0, AudioType = 0;
    std::int32_t VideoId = 0, AudioSubId = 0, SubId = 0;
    // The time base: the first own PTS of each registered audio and video stream.
    bool OwnPts = false;
    std::uint32_t PacketPts = 0;
    std::int32_t PacketSubId = -1;
    std::array<bool, 2> baseVideo{};
    std::array<bool, 16> baseAudio{};

    void say(const std::string& line) {
        trace.log.push_back(line);
        host.log(line);
    }

    std::int32_t& ids(int region, int slot) {
        return trace.streamIds[static_cast<std::size_t>(region + slot)];
    }

    void countPictures(std::size_t start, std::size_t length, int slot) {
        std::uint32_t R = 0;
        const std::uint32_t code = VideoType == 0 ? 0x100 : VideoType == 1 ? 0x109 : 0x10D;
        for (std::size_t k = 0; k < length; ++k) {
            R = (R << 8) | block[start + k];
            if (R == code) ++trace.frames[static_cast<std::size_t>(slot)];
        }
    }

    void headerEnd() {
        if (PacketKind == 5) {
            SubHeaderBytes = 4;
            SubHeaderLength = 0;
        } else {
            InPayload = 1;
        }
    }

    void ptsStep(std::uint32_t value, std::uint8_t b) {
        if (value == 4) TimeAcc = static_cast<std::uint32_t>(b & 0x06) << 29;
        if (value == 3) TimeAcc |= static_cast<std::uint32_t>(b) << 22;
        if (value == 2) TimeAcc |= static_cast<std::uint32_t>(b & 0xFE) << 14;
        if (value == 1) TimeAcc |= static_cast<std::uint32_t>(b) << 7;
        if (value == 0) TimeAcc |= static_cast<std::uint32_t>(b & 0xFE) >> 1;
    }

    void keep(std::uint8_t b) {
        if (SubHeaderLength < 16) SubHeader[SubHeaderLength++] = b;
    }

    // The slot of stream `id`: its own while free or holding it; when another holds it, the
    // last free slot of the kind's `boxes` (once, with a line in check mode); when none is
    // free, its own, unregistered, with one line per id and scan in check mode.
    int place(int space, int base, int boxes, const std::string& line, std::uint32_t id, int own,
              bool& registered) {
        registered = false;
        int& to = moved[static_cast<std::size_t>(space * 256) + id];
        if (to >= 0) return to;
        const std::int32_t holder = ids(base, own);
        if (holder == static_cast<std::int32_t>(id)) return own;
        if (holder == -1) {
            ids(base, own) = static_cast<std::int32_t>(id);
            registered = true;
            return own;
        }
        for (int slot = boxes - 1; slot >= 0; --slot) {
            if (ids(base, slot) != -1) continue;
            ids(base, slot) = static_cast<std::int32_t>(id);
            to = slot;
            registered = true;
            if (!demuxMode)
                say(line + "0x" + HexText(id, 2) + " takes slot " + std::to_string(slot) +
                    ": its own holds 0x" + HexText(static_cast<std::uint32_t>(holder), 2));
            return slot;
        }
        if (!demuxMode && !toldTaken[static_cast<std::size_t>(space * 256) + id]) {
            toldTaken[static_cast<std::size_t>(space * 256) + id] = true;
            say(line + "0x" + HexText(id, 2) + " not listed: its slot holds 0x" +
                HexText(static_cast<std::uint32_t>(holder), 2));
        }
        return own;
    }

    // The fourth sub-stream header byte is at i: the packet's first payload bytes follow it.
    void classify(std::uint32_t id, std::size_t i) {
        AudioSlot = static_cast<std::int32_t>(id & 0x0F);
        bool known = true;
        std::string line;
        std::uint8_t type = 0;
        int slot = 0;
        const bool aob = AobName(std::string(host.sourcePath()));
        if (id >= 0x80 && id <= 0x87) {
            slot = id & 7, type = 0, line = "[b]Dolby Digital[/b] audio stream ";
        } else if (id >= 0x88 && id <= 0x8F) {
            slot = id & 7, type = 2, line = "[b]DTS HD (DTS)[/b] audio stream ";
        } else if (id >= 0x98 && id <= 0x9F) {
            slot = id & 0x0F, type = 2, line = "[b]DTS HD (DTS)[/b] audio stream ";
        } else if (id >= 0xC0 && id <= 0xCF) {
            slot = id & 0x0F, type = 1, line = "[b]Dolby Digital[/b] Plus audio stream ";
        } else if (id >= 0xA0 && id <= 0xA7) {
            slot = id & 0x0F, type = 3;
            line = id == 0xA1 && aob ? "[b]MLP[/b] audio stream " : "[b]LPCM[/b] audio stream ";
        } else if (id >= 0xB0 && id <= 0xB7) {
            slot = id & 7, type = 4, line = "[b]Dolby TrueHD[/b] audio stream ";
        } else {
            known = false;
        }
        const int own = known ? slot : AudioSlot;  // which packets carry it (below)
        if (known) {
            bool registered = false;
            slot = place(1, 16, 16, line, id, slot, registered);
            AudioSlot = slot;
            AudioType = type;
            AudioSubId = static_cast<std::int32_t>(id);
            if (registered) {
                if (type == 1) {
                    // The first 0B 77 of the packet's payload in this block; bsid 10 or less is
                    // plain Dolby Digital.
                    const std::size_t end =
                        std::min(n, i + 1 + static_cast<std::size_t>(std::max(LengthLeft, 0)));
                    for (std::size_t k = i + 1; k + 6 <= end; ++k) {
                        if (block[k] == 0x0B && block[k + 1] == 0x77) {
                            if ((block[k + 5] >> 3) <= 10)
                                line = "[b]Dolby Digital[/b] audio stream ";
                            break;
                        }
                    }
                }
                if (!demuxMode) say(line + std::to_string(slot) + " found!");
                FirstAudioPts = PtsReg;
            }
        }
        PtsReg = 0;
        PacketSubId = static_cast<std::int32_t>(id);
        const auto sid = static_cast<std::int32_t>(id);
        if (AudioType == 4) {
            if (sid == (own | 0xB0)) {
                TrueHdHeaderBytes = 1;
            } else {
                PacketKind = 2;
                InPayload = 1;
            }
        } else if (AudioType == 3) {
            if (sid == (own | 0xA0)) {
                LpcmHeaderBytes = 3;
                if (aob) {
                    // DVD-Audio: 4 + the length in bytes 2-3, never past the packet.
                    LpcmHeaderBytes = std::min<std::uint32_t>(
                        ShiftReg & 0xFFFF, static_cast<std::uint32_t>(std::max(LengthLeft, 0)));
                }
                if (LpcmHeaderBytes == 0) InPayload = 1, PacketKind = 1;
            } else {
                PacketKind = 2;
                InPayload = 1;
            }
        } else {
            InPayload = 1;
            PacketKind = sid == (own | AudioSubId) ? 1 : 2;
        }
    }

    void detailLines(std::uint32_t pts, std::int32_t id) {
        say("   First PTS = " + HexText(pts, 8));
        say("   Stream id = " + HexText(static_cast<std::uint32_t>(id), 2));
    }

    SayingSink sink{[this](const std::string& line) { say(line); }};

    // What a header reader gets: the block, the chunk, and the sub-stream header before it.
    analysers::Payload payloadAt(std::size_t i, std::size_t length) const {
        analysers::Payload p{{block.data(), n}, i, length};
        p.header = SubHeader;
        p.headerLength = SubHeaderLength;
        return p;
    }

    // Rule 4 of the machine: a payload chunk at position i; returns its length.
    std::int64_t chunk(std::size_t i) {
        std::int64_t len = std::min<std::int64_t>(LengthLeft, static_cast<std::int64_t>(n - i));
        if (len < 0) len = 0;
        const bool ends = len == LengthLeft || LengthLeft < 0;
        const bool known = PacketKind == 0 || PacketKind == 1 || PacketKind == 4 || PacketKind == 6;
        const bool noSlot = PacketKind == 0 && VideoSlot < 0;
        if (len > 0 && known && !noSlot) {
            const auto ulen = static_cast<std::size_t>(len);
            if (host.option(Option::CountFrames) && PacketKind == 0) {
                if (!demuxMode || (VideoSlot == 0 && host.ticked(BoxKind::Video, 0)) ||
                    (VideoSlot == 1 && host.ticked(BoxKind::Video, 1))) {
                    countPictures(i, ulen, VideoSlot);
                }
            }
            if (!demuxMode && OwnPts) {
                bool* taken = nullptr;
                if (PacketKind == 0) taken = &baseVideo[static_cast<std::size_t>(VideoSlot)];
                if (PacketKind == 1 && PacketSubId == ids(16, AudioSlot))
                    taken = &baseAudio[static_cast<std::size_t>(AudioSlot)];
                if (taken != nullptr && !*taken) {
                    *taken = true;
                    if (PacketPts < trace.minPts) trace.minPts = PacketPts;
                }
            }
            if (!demuxMode && host.option(Option::Details)) {
                if (PacketKind == 1 && shownAudio[static_cast<std::size_t>(AudioSlot)] == 0) {
                    shownAudio[static_cast<std::size_t>(AudioSlot)] = 1;
                    detailLines(FirstAudioPts, AudioSubId);
                    const analysers::Payload p = payloadAt(i, ulen);
                    if (AudioType == 0 || AudioType == 1) analysers::AC3details(p, AudioSlot, sink);
                    if (AudioType == 2) analysers::DTSdetails(p, sink);
                    if (AudioType == 4) analysers::MLPdetails(p, sink);
                    if (AudioType == 3 && AudioSubId == 0xA1 &&
                        AobName(std::string(host.sourcePath()))) {
                        analysers::MLPdetails(p, sink);
                    } else if (AudioType == 3) {
                        const std::string source(host.sourcePath());
                        analysers::LPCMdetails(p,
                                               AobName(source)   ? analysers::LpcmLayout::DvdAudio
                                               : VobName(source) ? analysers::LpcmLayout::DvdVideo
                                                                 : analysers::LpcmLayout::HdDvd,
                                               sink);
                    }
                }
                if (PacketKind == 0 && shownVideo[static_cast<std::size_t>(VideoSlot)] == 0) {
                    shownVideo[static_cast<std::size_t>(VideoSlot)] = 1;
                    detailLines(VideoPts, VideoId);
                    const analysers::Payload p = payloadAt(i, ulen);
                    if (VideoType == 2) analysers::VC1details(p, VideoPts, sink);
                    if (VideoType == 1) analysers::H264details(p, sink);
                    if (VideoType == 0) analysers::MPEG2details(p, VideoPts, sink);
                }
                if (PacketKind == 6 && shownSub[static_cast<std::size_t>(SubSlot)] == 0) {
                    shownSub[static_cast<std::size_t>(SubSlot)] = 1;
                    detailLines(FirstSubPts, SubId);
                    analysers::SUBdetails(payloadAt(i, ulen), sink);
                }
            }
            if (demuxMode) {
                const std::int32_t slot = PacketKind == 0   ? VideoSlot
                                          : PacketKind == 6 ? SubSlot
                                                            : AudioSlot;
                trace.chunks.push_back(
                    {PacketKind, slot, OwnPts ? PacketPts : 0,
                     Bytes(block.begin() + static_cast<std::ptrdiff_t>(i),
                           block.begin() + static_cast<std::ptrdiff_t>(i + ulen))});
            }
        }
        if (len > 0) OwnPts = false;
        LengthLeft -= static_cast<std::int32_t>(len);
        if (ends) InPayload = 0;
        return len;
    }

    void video(std::int32_t id, int slot, const char* name, bool takePts) {
        const std::string line = std::string("[b]") + name + "[/b] video stream ";
        bool registered = false;
        slot =
            place(id < 0x80 ? 2 : 0, 0, 2, line, static_cast<std::uint32_t>(id), slot, registered);
        VideoId = id;
        VideoSlot = slot;
        if (registered) {
            if (!demuxMode) say(line + std::to_string(slot) + " found!");
            if (takePts) VideoPts = PtsReg;
        }
    }

    // The rules of the machine for the byte at i; returns the number of positions consumed.
    std::int64_t byte(std::size_t i) {
        const std::uint8_t b = block[i];
        ShiftReg = (ShiftReg << 8) | b;
        if (InPayload == 1) return chunk(i);
        if (SkipBytes > 0) {
            --SkipBytes;
            --LengthLeft;
            return 1;
        }
        const std::uint32_t s = ShiftReg;
        if (s == 0x1E0 || s == 0x1E1) {
            video(static_cast<std::int32_t>(s & 0xFF), s & 1, "MPEG-2", true);
            VideoType = 0, PacketKind = 0, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (s == 0x1E2 || s == 0x1E3) {
            video(static_cast<std::int32_t>(s & 0xFF), s & 1, "H.264 (AVC)", false);
            VideoType = 1, PacketKind = 0, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (s == 0x1FD) {
            VideoType = 2, PacketKind = 0, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (s >= 0x1C0 && s <= 0x1DF) {
            PacketKind = 4, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (s == 0x1BC || s == 0x1BE || s == 0x1BF) {
            PacketKind = 3, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (s == 0x1BD) {
            PacketKind = 5, LengthBytes = 2, OwnPts = false;
            return 1;
        }
        if (LengthBytes == 2) {
            LengthBytes = 1;
        } else if (LengthBytes == 1) {
            LengthBytes = 0;
            LengthLeft = static_cast<std::int32_t>(ShiftReg & 0xFFFF);
            if (PacketKind == 3) {
                SkipBytes = static_cast<std::uint32_t>(LengthLeft);
            } else {
                FixedHeaderLeft = 3;
            }
        } else if (FixedHeaderLeft > 0) {
            FixedHeaderLeft--, LengthLeft--;
            // '10' and scrambling bits set: an encrypted packet, skipped whole.
            if (FixedHeaderLeft == 2 && (b & 0xC0) == 0x80 && (b & 0x30) != 0) {
                FixedHeaderLeft = 0;
                PacketKind = 3;
                SkipBytes = static_cast<std::uint32_t>(LengthLeft > 0 ? LengthLeft : 0);
                return 1;
            }
            if (FixedHeaderLeft == 1) HeaderFlags = b;
            if (FixedHeaderLeft == 0) {
                HeaderLeft = b;
                if ((HeaderFlags & 0xC0) == 0x80) PtsBytes = 5;
                if ((HeaderFlags & 0xC0) == 0xC0) PtsDtsBytes = 10;
                if ((HeaderFlags & 0xC1) == 0x01) ExtFlagsBytes = 1;
                if (HeaderLeft == 0) headerEnd();
            }
        } else if (PtsBytes > 0) {
            PtsBytes--, LengthLeft--, HeaderLeft--;
            ptsStep(PtsBytes, b);
            if (PtsBytes == 0) {
                PtsReg = TimeAcc;
                OwnPts = true, PacketPts = TimeAcc;
                if (HeaderLeft == 0) {
                    headerEnd();
                } else if (PacketKind == 0 && (HeaderFlags & 1)) {
                    ExtFlagsBytes = 1;
                }
            }
        } else if (PtsDtsBytes > 0) {
            PtsDtsBytes--, LengthLeft--, HeaderLeft--;
            if (PtsDtsBytes >= 5) {
                ptsStep(PtsDtsBytes - 5, b);
            } else {
                ptsStep(PtsDtsBytes, b);
            }
            if (PtsDtsBytes == 5)
                PtsReg = TimeAcc, VideoPts = TimeAcc, OwnPts = true, PacketPts = TimeAcc;
            if (PtsDtsBytes == 0) {
                DtsReg = TimeAcc;
                if (HeaderLeft == 0) {
                    headerEnd();
                } else if (PacketKind == 0 && (HeaderFlags & 1)) {
                    ExtFlagsBytes = 1;
                }
            }
        } else if (ExtFlagsBytes > 0) {
            ExtFlagsBytes--, LengthLeft--, HeaderLeft--;
            if (ExtFlagsBytes == 0) {
                ExtFlags = b;
                if (ExtFlags & 0x10) {
                    PstdBytes = 2;
                } else if (ExtFlags & 0x01) {
                    Ext2Bytes = 2;
                }
            }
        } else if (PstdBytes > 0) {
            PstdBytes--, LengthLeft--, HeaderLeft--;
            if (PstdBytes == 0) {
                if (ExtFlags & 0x01) {
                    Ext2Bytes = 2;
                } else if (HeaderLeft == 0) {
                    headerEnd();
                }
            }
        } else if (Ext2Bytes > 0) {
            Ext2Bytes--, LengthLeft--, HeaderLeft--;
            if (Ext2Bytes == 0) {
                const std::int32_t e = b & 0x7F;
                if (e == 0x55 || e == 0x56) {
                    video(e, e - 0x55, "VC-1", true);
                    PacketKind = 0;
                } else {
                    PacketKind = 2;
                }
                if (HeaderLeft == 0) InPayload = 1;
            }
        } else if (HeaderLeft > 0) {
            HeaderLeft--, LengthLeft--;
            if (HeaderLeft == 0) headerEnd();
        } else if (SubHeaderBytes > 0) {
            SubHeaderBytes--, LengthLeft--;
            keep(b);
            if (SubHeaderBytes == 3 && ((b & 0xE0) == 0x20 || (b & 0xE0) == 0x60)) {
                const bool plain = (b & 0xE0) == 0x20;
                SubId = b;
                const std::string line =
                    std::string(plain ? "[b]Subpicture[/b]" : "[b]Extended subpicture[/b]") +
                    " stream ";
                bool registered = false;
                SubSlot = place(1, 32, 16, line, b, b & 0x1F, registered);
                if (registered && !demuxMode) {
                    say(line + std::to_string(SubSlot) + " found!");
                    FirstSubPts = PtsReg;
                }
                if (!demuxMode && plain) PtsReg = 0;
                SubHeaderBytes = 0, PacketKind = 6, InPayload = 1;
            } else if (SubHeaderBytes == 0) {
                classify(ShiftReg >> 24, i);
            }
        } else if (LpcmHeaderBytes > 0) {
            LpcmHeaderBytes--, LengthLeft--;
            keep(b);
            if (LpcmHeaderBytes == 0) InPayload = 1, PacketKind = 1;
        } else if (TrueHdHeaderBytes > 0) {
            TrueHdHeaderBytes--, LengthLeft--;
            keep(b);
            if (TrueHdHeaderBytes == 0) InPayload = 1, PacketKind = 1;
        }
        return 1;
    }
};

}  // namespace

ScanTrace LiteralScan(const Bytes& file, bool demuxMode, RunHost& host, FrameCounts frames,
                      std::uint32_t minPts) {
    Literal m{demuxMode, host, {}};
    m.trace.streamIds.fill(-1);
    m.trace.frames = frames;
    m.trace.minPts = minPts;
    const std::size_t blockSize = 262144;
    std::size_t position = 0;
    while (position < file.size() && m.trace.stopFlag == 0) {
        m.n = std::min(blockSize, file.size() - position);
        m.block.assign(file.begin() + static_cast<std::ptrdiff_t>(position),
                       file.begin() + static_cast<std::ptrdiff_t>(position + m.n));
        position += m.n;
        if (position % 4194304 == 0) {
            m.trace.progress.push_back(std::to_string(position / 1048576) + "/" +
                                       std::to_string(file.size() / 1048576) + " Mbytes");
        }
        if (!demuxMode && host.option(Option::FastCheck) && position > 300000000)
            m.trace.stopFlag = 1;
        if (!demuxMode && position == blockSize && m.block[16] == 0x01 && m.block[17] == 0xBB) {
            const int v = m.block[24] & 0x1F;
            const int a = m.block[23] >> 2;
            m.say("It contains " + std::to_string(v) + " video stream" + (v > 1 ? "s" : "") +
                  " and " + std::to_string(a) + " audio stream" + (a > 1 ? "s." : "."));
        }
        std::size_t i = 0;
        while (i < m.n)
            i += static_cast<std::size_t>(m.byte(i));
    }
    if (m.trace.stopFlag) m.trace.frames = {0, 0};
    return std::move(m.trace);
}

}  // namespace strandis::test
