#include "disc/DvdTitles.h"

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/ifo_types.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "common/RunError.h"
#include "common/TextFormat.h"
#include "disc/PathRules.h"

namespace fs = std::filesystem;

// The sanitizers' hook for their reports' end, when a sanitizer runtime is linked in.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace strandis::dvd {

namespace {

// In the child that reads the IFO files: a crash of libdvdread ends the child, and only it. The
// handlers the parent set (ours for mapped files, a sanitizer's, a fuzzer's) are not for it.
void BecomeExpendable() {
    for (const int signal : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL})
        ::signal(signal, SIG_DFL);
    if (__sanitizer_set_death_callback != nullptr)
        __sanitizer_set_death_callback([] { ::_exit(70); });
}

constexpr std::int64_t kSector = 2048;
// Larger IFO files than this are not IFO files: libdvdread would read them whole.
constexpr std::int64_t kLargestIfo = 64 * 1024 * 1024;

// What libdvdread says while it reads, kept for the message of a failure.
struct Messages {
    std::vector<std::string> lines;
};

void Log(void* context, dvd_logger_level_t level, const char* format, va_list args) {
    if (level > DVD_LOGGER_LEVEL_WARN) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    auto* messages = static_cast<Messages*>(context);
    if (messages->lines.size() < 20) messages->lines.emplace_back(line);
}

struct ReaderClose {
    void operator()(dvd_reader_t* dvd) const { DVDClose(dvd); }
};
struct IfoClose {
    void operator()(ifo_handle_t* ifo) const { ifoClose(ifo); }
};
using Reader = std::unique_ptr<dvd_reader_t, ReaderClose>;
using Ifo = std::unique_ptr<ifo_handle_t, IfoClose>;

// An IFO file that libdvdread may be handed: a regular file of an IFO's size. Named pipes and
// devices would block it or feed it without end.
std::string IfoProblem(const std::string& path) {
    if (path.empty()) return "it is missing";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "it cannot be read";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_size < kSector) return "it is too short to be an IFO file";
    if (st.st_size > kLargestIfo) return "it is too large to be an IFO file";
    return {};
}

// In the child that reads a disc: where it says which IFO file it hands libdvdread next, so that
// the parent can name the file that made libdvdread fail.
int gAnnounceFd = -1;

void Announce(const std::string& path) {
    if (gAnnounceFd < 0) return;
    const std::string line = path + '\n';
    if (::write(gAnnounceFd, line.data(), line.size()) < 0) {
        // The parent names the disc instead.
    }
}

std::uint32_t Be32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// Whether the table whose start sector the IFO's management table gives at `pointer` lies
// within the file and holds its 8-byte header and the `entry`-byte entries it counts, as its own
// fields say: libdvdread allocates and reads what those fields say, so a hostile file could make
// it ask for gigabytes or, with a length shorter than the header, read past its buffer. "" or
// why not.
std::string TableProblem(const std::string& path, std::size_t pointer, const char* table,
                         std::uint32_t entry) {
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size <= kLargestIfo) {
        if (FILE* file = std::fopen(path.c_str(), "rb")) {
            bytes.resize(static_cast<std::size_t>(st.st_size));
            bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
            std::fclose(file);
        }
    }
    if (bytes.size() < pointer + 4) return "it is too short to be an IFO file";
    const std::uint64_t start = std::uint64_t{Be32(bytes, pointer)} * kSector;
    if (start == 0) return std::string("it has no ") + table;
    if (start + 8 > bytes.size())
        return std::string("its ") + table + " starts past the end of the file";
    const std::uint64_t length =
        std::uint64_t{Be32(bytes, static_cast<std::size_t>(start) + 4)} + 1;
    const std::uint32_t count = std::uint32_t{bytes[static_cast<std::size_t>(start)]} << 8 |
                                bytes[static_cast<std::size_t>(start) + 1];
    if (start + length > bytes.size())
        return std::string("its ") + table + " ends past the end of the file";
    if (count == 0 || length < 8 + std::uint64_t{count} * entry)
        return std::string("its ") + table + " is damaged (too short for what it counts)";
    return {};
}

double Milliseconds(const dvd_time_t& time) {
    const auto bcd = [](std::uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); };
    const int rate = (time.frame_u >> 6) & 3;
    const double frameMs = rate == 1 ? 40.0 : rate == 3 ? 1001.0 / 30.0 : 0.0;
    return (bcd(time.hour) * 3600.0 + bcd(time.minute) * 60.0 + bcd(time.second)) * 1000.0 +
           bcd(time.frame_u & 0x3F) * frameMs;
}

std::string Language(int type, std::uint16_t code) {
    const char a = static_cast<char>(code >> 8);
    const char b = static_cast<char>(code & 0xFF);
    if (type != 1 || !std::isalpha(static_cast<unsigned char>(a)) ||
        !std::isalpha(static_cast<unsigned char>(b)))
        return {};
    return {static_cast<char>(std::tolower(static_cast<unsigned char>(a))),
            static_cast<char>(std::tolower(static_cast<unsigned char>(b)))};
}

std::string VideoText(const video_attr_t& video) {
    const bool pal = video.video_format == 1;
    const int height = pal ? 576 : 480;
    static constexpr int kWidths[] = {720, 704, 352, 352};
    const int width = kWidths[video.picture_size & 3];
    const int rows = video.picture_size == 3 ? height / 2 : height;
    return std::string(video.mpeg_version == 0 ? "MPEG-1" : "MPEG-2") + " " +
           std::to_string(width) + "x" + std::to_string(rows) + " " + (pal ? "PAL" : "NTSC") + " " +
           (video.display_aspect_ratio == 3 ? "16:9" : "4:3");
}

void AudioPurpose(AudioTrack& track, int extension) {
    switch (extension) {
        case 1:
            track.kind = "normal", track.purpose = TrackPurpose::Normal;
            break;
        case 2:
            track.kind = "visually impaired", track.purpose = TrackPurpose::VisuallyImpaired;
            break;
        case 3:
            track.kind = "commentary", track.purpose = TrackPurpose::Commentary;
            break;
        case 4:
            track.kind = "alternate commentary", track.purpose = TrackPurpose::Commentary;
            break;
        default:
            track.kind = extension == 0 ? "unspecified" : "other";
    }
}

void SubpicturePurpose(SubpictureTrack& track, int extension) {
    static constexpr const char* kKinds[16] = {"unspecified",
                                               "normal",
                                               "large",
                                               "children",
                                               "other",
                                               "closed captions",
                                               "large closed captions",
                                               "children's closed captions",
                                               "other",
                                               "forced",
                                               "other",
                                               "other",
                                               "other",
                                               "commentary",
                                               "large commentary",
                                               "children's commentary"};
    track.kind = kKinds[extension & 0x0F];
    if (extension > 15) track.kind = "other";
    track.purpose = extension == 1                       ? TrackPurpose::Normal
                    : extension == 9                     ? TrackPurpose::Forced
                    : extension >= 13 && extension <= 15 ? TrackPurpose::Commentary
                    : extension == 0                     ? TrackPurpose::Unspecified
                                                         : TrackPurpose::Other;
    track.forced = extension == 9;
}

// The title set's title VOBs, VTS_nn_1.VOB to VTS_nn_9.VOB, with their sizes, up to the first
// missing one.
struct VobPart {
    std::string path;
    std::int64_t size = 0;
};

std::vector<VobPart> TitleVobs(const std::string& videoTs, int titleSet) {
    std::vector<VobPart> parts;
    char name[16];
    for (int part = 1; part <= 9; ++part) {
        std::snprintf(name, sizeof name, "VTS_%02d_%d.VOB", titleSet, part);
        const std::string path = EntryNamed(videoTs, name);
        struct stat st {};
        if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) break;
        parts.push_back({path, st.st_size});
    }
    return parts;
}

// Fills the title's cells, chapters, tracks and palette from its program chain; "" or why not.
std::string ReadProgramChain(Title& title, const ifo_handle_t& vts) {
    const vts_ptt_srpt_t* ptts = vts.vts_ptt_srpt;
    const pgcit_t* pgcs = vts.vts_pgcit;
    if (ptts == nullptr || pgcs == nullptr || pgcs->pgci_srp == nullptr)
        return "its title set has no program chains";
    if (title.titleInSet < 1 || title.titleInSet > ptts->nr_of_srpts || ptts->title == nullptr)
        return "its title set has no title " + std::to_string(title.titleInSet);
    const ttu_t& unit = ptts->title[title.titleInSet - 1];
    if (unit.nr_of_ptts < 1 || unit.ptt == nullptr) return "it has no chapters";
    const int pgcNumber = unit.ptt[0].pgcn;
    if (pgcNumber < 1 || pgcNumber > pgcs->nr_of_pgci_srp)
        return "it names program chain " + std::to_string(pgcNumber) + ", which is not there";
    const pgc_t* pgc = pgcs->pgci_srp[pgcNumber - 1].pgc;
    if (pgc == nullptr || pgc->nr_of_cells == 0 || pgc->cell_playback == nullptr)
        return "its program chain has no cells";
    title.programChain = pgcNumber;
    // Every cell of the title set's chains: the units an interleaved block may hold.
    for (int n = 0; n < pgcs->nr_of_pgci_srp; ++n) {
        const pgc_t* chain = pgcs->pgci_srp[n].pgc;
        if (chain == nullptr || chain->cell_position == nullptr) continue;
        for (int k = 0; k < chain->nr_of_cells; ++k) {
            const std::uint32_t id = std::uint32_t{chain->cell_position[k].vob_id_nr} << 8 |
                                     chain->cell_position[k].cell_nr;
            if (std::find(title.setCells.begin(), title.setCells.end(), id) == title.setCells.end())
                title.setCells.push_back(id);
        }
    }

    const int cells = pgc->nr_of_cells;
    double before = 0;
    std::vector<double> startOfCell(static_cast<std::size_t>(cells) + 1, 0.0);
    for (int k = 0; k < cells; ++k) {
        const cell_playback_t& play = pgc->cell_playback[k];
        Cell cell;
        if (pgc->cell_position != nullptr) {
            cell.vobId = pgc->cell_position[k].vob_id_nr;
            cell.cellId = pgc->cell_position[k].cell_nr;
        }
        cell.firstSector = play.first_sector;
        cell.lastSector = play.last_sector;
        if (cell.lastSector < cell.firstSector)
            return "its cell " + std::to_string(k + 1) + " ends before it starts";
        cell.durationMs = Milliseconds(play.playback_time);
        cell.angleBlock = play.block_type == BLOCK_TYPE_ANGLE_BLOCK;
        cell.firstOfBlock = play.block_mode == BLOCK_MODE_FIRST_CELL;
        cell.interleaved = play.interleaved != 0;
        startOfCell[static_cast<std::size_t>(k)] = before;
        // The cells of an angle block play one for another: the block lasts as its first.
        if (!cell.angleBlock || play.block_mode == BLOCK_MODE_FIRST_CELL ||
            play.block_mode == BLOCK_MODE_NOT_IN_BLOCK)
            before += cell.durationMs;
        title.cells.push_back(cell);
    }
    title.durationMs = Milliseconds(pgc->playback_time);
    if (title.durationMs <= 0) title.durationMs = before;
    if (pgc->program_map != nullptr) {
        for (int p = 0; p < pgc->nr_of_programs; ++p) {
            const int entry = pgc->program_map[p];
            if (entry < 1 || entry > cells) continue;
            title.chapters.push_back(
                {p + 1, entry, startOfCell[static_cast<std::size_t>(entry - 1)]});
        }
    }

    const vtsi_mat_t* mat = vts.vtsi_mat;
    const bool wide = mat->vts_video_attr.display_aspect_ratio == 3;
    title.video = VideoText(mat->vts_video_attr);
    const int audioCount = std::min<int>(mat->nr_of_vts_audio_streams, 8);
    for (int k = 0; k < audioCount; ++k) {
        const std::uint16_t control = pgc->audio_control[k];
        if ((control & 0x8000) == 0) continue;
        const audio_attr_t& attr = mat->vts_audio_attr[k];
        AudioTrack track;
        track.track = k + 1;
        track.slot = (control >> 8) & 7;
        switch (attr.audio_format) {
            case 0:
                track.codec = "AC-3", track.streamId = 0x80 + track.slot;
                break;
            case 2:
                track.codec = "MPEG-1 Audio", track.streamId = 0xC0 + track.slot;
                break;
            case 3:
                track.codec = "MPEG-2 Audio", track.streamId = 0xC0 + track.slot;
                break;
            case 4:
                track.codec = "LPCM", track.streamId = 0xA0 + track.slot;
                break;
            case 6:
                track.codec = "DTS", track.streamId = 0x88 + track.slot;
                break;
            default:
                track.codec = "unknown";
                track.streamId = 0;
        }
        track.channels = attr.channels + 1;
        track.sampleRate = attr.sample_frequency == 1 ? 96000 : 48000;
        track.language = Language(attr.lang_type, attr.lang_code);
        AudioPurpose(track, attr.code_extension);
        title.audio.push_back(track);
    }
    const int subCount = std::min<int>(mat->nr_of_vts_subp_streams, 32);
    for (int k = 0; k < subCount; ++k) {
        const std::uint32_t control = pgc->subp_control[k];
        if ((control & 0x80000000u) == 0) continue;
        const subp_attr_t& attr = mat->vts_subp_attr[k];
        SubpictureTrack track;
        track.track = k + 1;
        track.slot = static_cast<int>((wide ? control >> 16 : control >> 24) & 0x1F);
        track.streamId = 0x20 + track.slot;
        track.language = Language(attr.type, attr.lang_code);
        SubpicturePurpose(track, attr.code_extension);
        title.subpictures.push_back(track);
    }
    for (std::size_t k = 0; k < title.palette.size(); ++k)
        title.palette[k] = pgc->palette[k] & 0xFFFFFF;
    return {};
}

// The pieces of the title set's VOBs that the title's cells cover, in the program chain's order
// (the first angle of an angle block only); "" or why they cannot be read.
std::string PlanExtents(Title& title, const std::vector<VobPart>& parts, const std::string& set,
                        int angle) {
    if (parts.empty()) return "its title VOBs (" + set + "_1.VOB ...) are missing";
    std::int64_t total = 0;
    for (const VobPart& part : parts)
        total += part.size;
    int inBlock = 0;  // the place of the cell in its angle block: its angle
    title.angle = std::clamp(angle, 1, title.angles);
    for (const Cell& cell : title.cells) {
        inBlock = !cell.angleBlock ? 0 : cell.firstOfBlock ? 1 : inBlock + 1;
        if (cell.angleBlock && inBlock != title.angle) continue;
        std::int64_t from = cell.firstSector * kSector;
        const std::int64_t to = (cell.lastSector + 1) * kSector;
        if (to > total) {
            return "its cell " + std::to_string(cell.vobId) + "/" + std::to_string(cell.cellId) +
                   " ends at sector " + std::to_string(cell.lastSector) + ", past the end of " +
                   parts.back().path + " (the title VOBs hold " + std::to_string(total / kSector) +
                   " sectors" + (parts.size() < 9 ? "; is a part missing?" : "") + ")";
        }
        std::int64_t partStart = 0;
        for (const VobPart& part : parts) {
            const std::int64_t partEnd = partStart + part.size;
            if (from < partEnd && to > partStart) {
                const std::int64_t begin = std::max(from, partStart);
                const std::int64_t end = std::min(to, partEnd);
                InputExtent piece{part.path, begin - partStart, end - begin};
                // An interleaved cell's range holds units of other cells too: its own are told
                // by their navigation packs.
                if (cell.interleaved || cell.angleBlock) {
                    piece.vobId = cell.vobId;
                    piece.cellId = cell.cellId;
                }
                const InputExtent* last = title.extents.empty() ? nullptr : &title.extents.back();
                if (last != nullptr && last->path == piece.path &&
                    last->offset + last->length == piece.offset && last->vobId == piece.vobId &&
                    last->cellId == piece.cellId) {
                    title.extents.back().length += piece.length;
                } else {
                    title.extents.push_back(piece);
                }
                if (std::find(title.files.begin(), title.files.end(), part.path) ==
                    title.files.end())
                    title.files.push_back(part.path);
                from = end;
            }
            partStart = partEnd;
        }
    }
    return {};
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        std::string trimmed = line;
        while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ' '))
            trimmed.pop_back();
        if (!trimmed.empty()) text += (text.empty() ? "" : " ") + trimmed + ".";
    }
    return text;
}

}  // namespace

const Title* Disc::find(int number) const {
    for (const Title& title : titles) {
        if (title.number == number) return &title;
    }
    return nullptr;
}

const Title* Disc::mainTitle() const {
    for (const Title& title : titles) {
        if (title.main) return &title;
    }
    return nullptr;
}

std::string FindVideoTs(const std::string& path) {
    std::error_code error;
    fs::path at(path);
    if (!fs::is_directory(at, error)) at = at.parent_path();
    if (at.empty()) at = ".";
    if (UpperText(at.filename().string()) == "VIDEO_TS" ||
        !EntryNamed(at.string(), "VIDEO_TS.IFO").empty())
        return at.string();
    if (fs::is_directory(at, error)) {
        for (const auto& entry : fs::directory_iterator(at, error)) {
            if (UpperText(entry.path().filename().string()) == "VIDEO_TS" &&
                fs::is_directory(entry.path(), error))
                return entry.path().string();
        }
    }
    return {};
}

bool IsDiscPath(const std::string& path) {
    std::error_code error;
    if (fs::is_directory(path, error)) return true;
    const std::string extension = UpperText(fs::path(path).extension().string());
    return extension == ".IFO" || extension == ".BUP";
}

namespace {

// Disc and its titles as bytes, to come back from the process that reads the IFO files.
class ByteWriter {
public:
    void number(double value) { put(&value, sizeof value); }
    void integer(std::int64_t value) { put(&value, sizeof value); }
    void text(const std::string& value) {
        integer(static_cast<std::int64_t>(value.size()));
        put(value.data(), value.size());
    }
    std::string bytes;

private:
    void put(const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
    }
};

class ByteReader {
public:
    explicit ByteReader(const std::string& bytes) : bytes_(bytes) {}
    double number() {
        double value = 0;
        take(&value, sizeof value);
        return value;
    }
    std::int64_t integer() {
        std::int64_t value = 0;
        take(&value, sizeof value);
        return value;
    }
    int small() { return static_cast<int>(integer()); }
    std::size_t count() {
        const std::int64_t n = integer();
        if (n < 0 || static_cast<std::size_t>(n) > bytes_.size() - at_) throw std::range_error("");
        return static_cast<std::size_t>(n);
    }
    std::string text() {
        const std::size_t n = count();
        std::string value = bytes_.substr(at_, n);
        at_ += n;
        return value;
    }

private:
    void take(void* into, std::size_t size) {
        if (bytes_.size() - at_ < size) throw std::range_error("");
        std::memcpy(into, bytes_.data() + at_, size);
        at_ += size;
    }
    const std::string& bytes_;
    std::size_t at_ = 0;
};

std::string Serialize(const Disc& disc) {
    ByteWriter w;
    w.text(disc.name);
    w.integer(static_cast<std::int64_t>(disc.problems.size()));
    for (const std::string& problem : disc.problems)
        w.text(problem);
    w.integer(static_cast<std::int64_t>(disc.titles.size()));
    for (const Title& t : disc.titles) {
        for (const int value : {t.number, t.titleSet, t.titleInSet, t.programChain, t.angles,
                                t.angle, t.main ? 1 : 0})
            w.integer(value);
        w.number(t.durationMs);
        w.text(t.video);
        w.text(t.problem);
        w.integer(static_cast<std::int64_t>(t.chapters.size()));
        for (const Chapter& c : t.chapters) {
            w.integer(c.number);
            w.integer(c.entryCell);
            w.number(c.startMs);
        }
        w.integer(static_cast<std::int64_t>(t.cells.size()));
        for (const Cell& c : t.cells) {
            for (const std::int64_t value :
                 {std::int64_t{c.vobId}, std::int64_t{c.cellId}, c.firstSector, c.lastSector,
                  std::int64_t{c.angleBlock}, std::int64_t{c.firstOfBlock},
                  std::int64_t{c.interleaved}})
                w.integer(value);
            w.number(c.durationMs);
        }
        w.integer(static_cast<std::int64_t>(t.audio.size()));
        for (const AudioTrack& a : t.audio) {
            for (const int value : {a.track, a.streamId, a.slot, a.channels, a.sampleRate,
                                    static_cast<int>(a.purpose)})
                w.integer(value);
            w.text(a.codec);
            w.text(a.language);
            w.text(a.kind);
        }
        w.integer(static_cast<std::int64_t>(t.subpictures.size()));
        for (const SubpictureTrack& s : t.subpictures) {
            for (const int value :
                 {s.track, s.streamId, s.slot, static_cast<int>(s.purpose), s.forced ? 1 : 0})
                w.integer(value);
            w.text(s.language);
            w.text(s.kind);
        }
        for (const std::uint32_t colour : t.palette)
            w.integer(colour);
        w.integer(static_cast<std::int64_t>(t.files.size()));
        for (const std::string& file : t.files)
            w.text(file);
        w.integer(static_cast<std::int64_t>(t.extents.size()));
        for (const InputExtent& e : t.extents) {
            w.text(e.path);
            w.integer(e.offset);
            w.integer(e.length);
            w.integer(e.vobId);
            w.integer(e.cellId);
        }
        w.integer(static_cast<std::int64_t>(t.setCells.size()));
        for (const std::uint32_t id : t.setCells)
            w.integer(id);
    }
    return w.bytes;
}

// The disc back from its bytes; raises std::range_error when they are cut short.
void Deserialize(const std::string& bytes, Disc& disc) {
    ByteReader r(bytes);
    disc.name = r.text();
    for (std::size_t n = r.count(); n > 0; --n)
        disc.problems.push_back(r.text());
    for (std::size_t n = r.count(); n > 0; --n) {
        Title t;
        t.number = r.small(), t.titleSet = r.small(), t.titleInSet = r.small();
        t.programChain = r.small(), t.angles = r.small(), t.angle = r.small();
        t.main = r.small() != 0;
        t.durationMs = r.number();
        t.video = r.text();
        t.problem = r.text();
        for (std::size_t k = r.count(); k > 0; --k) {
            Chapter c;
            c.number = r.small(), c.entryCell = r.small(), c.startMs = r.number();
            t.chapters.push_back(c);
        }
        for (std::size_t k = r.count(); k > 0; --k) {
            Cell c;
            c.vobId = r.small(), c.cellId = r.small();
            c.firstSector = r.integer(), c.lastSector = r.integer();
            c.angleBlock = r.integer() != 0, c.firstOfBlock = r.integer() != 0;
            c.interleaved = r.integer() != 0;
            c.durationMs = r.number();
            t.cells.push_back(c);
        }
        for (std::size_t k = r.count(); k > 0; --k) {
            AudioTrack a;
            a.track = r.small(), a.streamId = r.small(), a.slot = r.small();
            a.channels = r.small(), a.sampleRate = r.small();
            a.purpose = static_cast<TrackPurpose>(r.small());
            a.codec = r.text(), a.language = r.text(), a.kind = r.text();
            t.audio.push_back(a);
        }
        for (std::size_t k = r.count(); k > 0; --k) {
            SubpictureTrack s;
            s.track = r.small(), s.streamId = r.small(), s.slot = r.small();
            s.purpose = static_cast<TrackPurpose>(r.small());
            s.forced = r.small() != 0;
            s.language = r.text(), s.kind = r.text();
            t.subpictures.push_back(s);
        }
        for (std::uint32_t& colour : t.palette)
            colour = static_cast<std::uint32_t>(r.integer());
        for (std::size_t k = r.count(); k > 0; --k)
            t.files.push_back(r.text());
        for (std::size_t k = r.count(); k > 0; --k) {
            InputExtent e;
            e.path = r.text();
            e.offset = r.integer(), e.length = r.integer();
            e.vobId = r.small(), e.cellId = r.small();
            t.extents.push_back(e);
        }
        for (std::size_t k = r.count(); k > 0; --k)
            t.setCells.push_back(static_cast<std::uint32_t>(r.integer()));
        disc.titles.push_back(std::move(t));
    }
}

}  // namespace

// libdvdread trusts the IFO files: a damaged or hostile one can crash it or make it read past
// its buffers. It runs in a process of its own, which hands back the disc as bytes; its crash or
// hang is a clear error here, and the program goes on.
Disc ReadDisc(const std::string& path, int angle) {
    Disc disc;
    disc.videoTs = FindVideoTs(path);
    if (disc.videoTs.empty())
        throw RunError("\"" + path + "\" is not a DVD-Video disc: no VIDEO_TS folder.", path);
    int fds[2], said[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return ReadDiscHere(path, angle);
    if (::pipe2(said, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return ReadDiscHere(path, angle);
    }
    const pid_t child = ::fork();
    if (child < 0) {
        for (const int fd : {fds[0], fds[1], said[0], said[1]})
            ::close(fd);
        return ReadDiscHere(path, angle);
    }
    if (child == 0) {
        BecomeExpendable();
        ::close(fds[0]);
        ::close(said[0]);
        gAnnounceFd = said[1];
        std::string bytes;
        char status = 0;
        try {
            bytes = Serialize(ReadDiscHere(path, angle));
        } catch (const RunError& error) {
            status = 1;
            bytes = std::string(error.what()) + '\0' + error.path();
        } catch (...) {
            status = 2;
        }
        bytes.insert(bytes.begin(), status);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fds[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) ::_exit(3);
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    ::close(said[1]);
    std::string bytes;
    char buffer[65536];
    // A child that hangs is stopped after a while: the IFO files of a disc read in milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool late = false;
    for (;;) {
        pollfd wait{fds[0], POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int ready = left > 0 ? ::poll(&wait, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            late = ready == 0;
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (late) ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The last IFO file the child named is the one it was reading.
    std::string announced;
    for (ssize_t n; (n = ::read(said[0], buffer, sizeof buffer)) > 0;)
        announced.append(buffer, static_cast<std::size_t>(n));
    ::close(said[0]);
    if (!announced.empty()) announced.pop_back();
    announced = announced.substr(announced.rfind('\n') + 1);
    const std::string ifo = announced.empty() ? disc.videoTs : announced;
    if (late || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || bytes.empty()) {
        throw RunError("Cannot read \"" + ifo + "\": it is damaged (" +
                           (late ? std::string("libdvdread did not finish reading it")
                            : WIFSIGNALED(status) ? "libdvdread failed on it with signal " +
                                                        std::to_string(WTERMSIG(status))
                                                  : std::string("its reading failed")) +
                           "). The VOB files can still be read one by one.",
                       ifo);
    }
    if (bytes[0] == 1) {
        const std::size_t split = bytes.find('\0', 1);
        throw RunError(bytes.substr(1, split == std::string::npos ? std::string::npos : split - 1),
                       split == std::string::npos ? ifo : bytes.substr(split + 1));
    }
    try {
        if (bytes[0] != 0) throw std::range_error("");
        Deserialize(bytes.substr(1), disc);
    } catch (const std::exception&) {
        throw RunError("Cannot read the IFO files of the disc \"" + ifo + "\".", ifo);
    }
    return disc;
}

Disc ReadDiscHere(const std::string& path, int angle) {
    Disc disc;
    disc.videoTs = FindVideoTs(path);
    if (disc.videoTs.empty())
        throw RunError("\"" + path + "\" is not a DVD-Video disc: no VIDEO_TS folder.", path);
    const fs::path videoTs(disc.videoTs);
    disc.name = UpperText(videoTs.filename().string()) == "VIDEO_TS"
                    ? fs::absolute(videoTs).parent_path().filename().string()
                    : videoTs.filename().string();
    if (disc.name.empty()) disc.name = "DVD";

    const std::string vmgPath = EntryNamed(disc.videoTs, "VIDEO_TS.IFO");
    if (const std::string why = IfoProblem(vmgPath); !why.empty())
        throw RunError("Cannot read the disc's title table \"" +
                           (videoTs / "VIDEO_TS.IFO").string() + "\": " + why + ".",
                       (videoTs / "VIDEO_TS.IFO").string());
    Messages messages;
    const dvd_logger_cb logger{Log};
    // libdvdread opens a VIDEO_TS folder, or the folder that holds it, without any decryption.
    Reader dvd(DVDOpen2(&messages, &logger, disc.videoTs.c_str()));
    if (!dvd)
        throw RunError("Cannot open the disc \"" + disc.videoTs + "\". " + Joined(messages.lines),
                       disc.videoTs);
    // Only the tables needed are read, each checked first against the file's size.
    if (const std::string why = TableProblem(vmgPath, 0xC4, "title table", 12); !why.empty())
        throw RunError("Cannot read the disc's title table \"" + vmgPath + "\": " + why + ".",
                       vmgPath);
    Announce(vmgPath);
    Ifo vmg(ifoOpenVMGI(dvd.get()));
    // A table libdvdread fails to read it has freed, but it keeps the pointer: forgotten here,
    // or closing the handle would free it again.
    if (vmg && ifoRead_TT_SRPT(vmg.get()) == 0) vmg->tt_srpt = nullptr;
    if (!vmg || vmg->tt_srpt == nullptr || vmg->tt_srpt->title == nullptr)
        throw RunError(
            "Cannot read the disc's title table \"" + vmgPath + "\". " + Joined(messages.lines),
            vmgPath);
    const tt_srpt_t& table = *vmg->tt_srpt;
    const int sets = vmg->vmgi_mat != nullptr ? vmg->vmgi_mat->vmg_nr_of_title_sets : 0;

    std::vector<Ifo> titleSets(static_cast<std::size_t>(std::max(sets, 0)) + 1);
    std::vector<std::string> setProblems(titleSets.size());
    for (int k = 0; k < table.nr_of_srpts; ++k) {
        const title_info_t& info = table.title[k];
        Title title;
        title.number = k + 1;
        title.titleSet = info.title_set_nr;
        title.titleInSet = info.vts_ttn;
        title.angles = std::max<int>(info.nr_of_angles, 1);
        char set[16];
        std::snprintf(set, sizeof set, "VTS_%02d", title.titleSet);
        const std::string ifoName = std::string(set) + "_0.IFO";
        if (title.titleSet < 1 || title.titleSet > sets) {
            title.problem = "it names title set " + std::to_string(title.titleSet) +
                            ", which the disc does not have";
        } else {
            const auto s = static_cast<std::size_t>(title.titleSet);
            if (!titleSets[s] && setProblems[s].empty()) {
                const std::string ifoPath = EntryNamed(disc.videoTs, ifoName);
                std::string why = IfoProblem(ifoPath);
                if (why.empty()) why = TableProblem(ifoPath, 0xC8, "chapter table", 4);
                if (why.empty()) why = TableProblem(ifoPath, 0xCC, "program chain table", 8);
                if (why.empty()) {
                    messages.lines.clear();
                    Announce(ifoPath);
                    titleSets[s].reset(ifoOpenVTSI(dvd.get(), title.titleSet));
                    if (ifo_handle_t* ifo = titleSets[s].get()) {
                        const bool chapters = ifoRead_VTS_PTT_SRPT(ifo) != 0;
                        if (!chapters) ifo->vts_ptt_srpt = nullptr;  // freed, as above
                        const bool chains = chapters && ifoRead_PGCIT(ifo) != 0;
                        if (chapters && !chains) ifo->vts_pgcit = nullptr;
                        if (!chains) titleSets[s].reset();
                    }
                    if (!titleSets[s] || titleSets[s]->vtsi_mat == nullptr) {
                        titleSets[s].reset();
                        why = "libdvdread cannot read it. " + Joined(messages.lines);
                    }
                }
                if (!why.empty()) {
                    setProblems[s] = (videoTs / ifoName).string() + ": " + why;
                    disc.problems.push_back(setProblems[s]);
                }
            }
            if (titleSets[s]) {
                title.problem = ReadProgramChain(title, *titleSets[s]);
                if (title.problem.empty())
                    title.problem =
                        PlanExtents(title, TitleVobs(disc.videoTs, title.titleSet), set, angle);
            } else {
                title.problem = "its title set cannot be read (" + setProblems[s] + ")";
            }
        }
        disc.titles.push_back(std::move(title));
    }
    Title* longest = nullptr;
    for (Title& title : disc.titles) {
        if (title.problem.empty() && (longest == nullptr || title.durationMs > longest->durationMs))
            longest = &title;
    }
    if (longest != nullptr) longest->main = true;
    return disc;
}

playlist::TitleInfo TitleInfoOf(const Title& title) {
    playlist::TitleInfo info;
    info.name = "Title " + std::to_string(title.number);
    info.durationNs = static_cast<std::int64_t>(title.durationMs * 1e6);
    info.duration = FormatDuration(title.durationMs);
    for (const Chapter& chapter : title.chapters) {
        char name[32];
        std::snprintf(name, sizeof name, "Chapter %02d", chapter.number);
        info.chapters.push_back({static_cast<std::int64_t>(chapter.startMs * 1e6), name});
    }
    const auto number2 = [](int slot) { return (slot < 10 ? "0" : "") + std::to_string(slot); };
    const auto suffix = [](const std::string& language, const std::string& kind, bool plain) {
        std::string text = language.empty() ? "" : "." + language;
        if (!plain) {
            std::string word = kind;
            std::replace(word.begin(), word.end(), ' ', '_');
            text += "." + word;
        }
        return text;
    };
    playlist::TrackInfo video{};
    video.kind = playlist::TrackKind::Video;
    video.track = 1;
    video.streamNumber = 1;  // a DVD title has one video stream, 0xE0
    video.codec = title.video.substr(0, title.video.find(' '));
    info.tracks.push_back(video);
    for (const AudioTrack& audio : title.audio) {
        if (audio.streamId == 0) continue;
        playlist::TrackInfo track{};
        track.kind = playlist::TrackKind::Audio;
        track.track = audio.track;
        track.streamNumber = audio.slot + 1;
        track.codec = audio.codec;
        track.language = audio.language;
        track.commentary = audio.purpose == TrackPurpose::Commentary;
        track.visuallyImpaired = audio.purpose == TrackPurpose::VisuallyImpaired;
        track.description = track.commentary         ? "Commentary"
                            : track.visuallyImpaired ? "Visually impaired"
                                                     : "";
        const char* caption = audio.codec == "AC-3"   ? "DD"
                              : audio.codec == "DTS"  ? "DTSHD"
                              : audio.codec == "LPCM" ? "LPCM"
                                                      : "MPA";
        const bool plain =
            audio.purpose == TrackPurpose::Normal || audio.purpose == TrackPurpose::Unspecified;
        track.label = std::string(caption) + ".stream." + number2(audio.slot) +
                      suffix(audio.language, audio.kind, plain);
        info.tracks.push_back(track);
    }
    for (const SubpictureTrack& sub : title.subpictures) {
        playlist::TrackInfo track{};
        track.kind = playlist::TrackKind::Subtitle;
        track.track = sub.track;
        track.streamNumber = sub.slot + 1;
        track.codec = "Subpicture";
        track.language = sub.language;
        track.forced = sub.forced;
        track.commentary = sub.purpose == TrackPurpose::Commentary;
        track.description = sub.forced ? "Forced" : track.commentary ? "Commentary" : "";
        const bool plain =
            sub.purpose == TrackPurpose::Normal || sub.purpose == TrackPurpose::Unspecified;
        track.label =
            "Subpicture.stream." + number2(sub.slot) + suffix(sub.language, sub.kind, plain);
        // Two tracks of the title may show one stream (4:3 and wide): the first names it.
        bool shown = false;
        for (const playlist::TrackInfo& other : info.tracks)
            shown = shown || (other.kind == track.kind && other.streamNumber == track.streamNumber);
        if (!shown) info.tracks.push_back(track);
    }
    return info;
}

std::string FormatDuration(double ms) {
    const auto total = static_cast<long long>(ms / 1000.0 + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
    return text;
}

std::string DescribeTitle(const Title& title) {
    std::string text = "Title " + std::to_string(title.number) + " (" +
                       FormatDuration(title.durationMs) + ", " +
                       std::to_string(title.chapters.size()) +
                       (title.chapters.size() == 1 ? " chapter" : " chapters");
    if (title.angles > 1) text += ", " + std::to_string(title.angles) + " angles";
    return text + ")";
}

std::string DiscText(const Disc& disc) {
    std::ostringstream out;
    out << "Disc " << disc.name << " (" << disc.videoTs << "): " << disc.titles.size()
        << (disc.titles.size() == 1 ? " title" : " titles") << "\n";
    for (const std::string& problem : disc.problems)
        out << "  " << problem << "\n";
    for (const Title& title : disc.titles) {
        out << "\n" << DescribeTitle(title) << (title.main ? "  main feature" : "") << "\n";
        if (!title.problem.empty()) {
            out << "  cannot be read: " << title.problem << "\n";
            continue;
        }
        out << "  " << title.video << "; title set " << title.titleSet << ", program chain "
            << title.programChain << "; " << title.cells.size()
            << (title.cells.size() == 1 ? " cell" : " cells") << " in";
        for (const std::string& file : title.files)
            out << " " << fs::path(file).filename().string();
        out << "\n";
        for (const Chapter& chapter : title.chapters)
            out << "  Chapter " << chapter.number << ": " << FormatDuration(chapter.startMs)
                << "\n";
        for (const AudioTrack& track : title.audio)
            out << "  Audio " << track.track << ": "
                << "0x" + Hex(static_cast<std::uint32_t>(track.streamId), 2) << " a" << track.slot
                << " " << track.codec << " " << track.channels << "ch "
                << (track.language.empty() ? "--" : track.language) << " " << track.kind << "\n";
        for (const SubpictureTrack& track : title.subpictures)
            out << "  Subpicture " << track.track << ": "
                << "0x" + Hex(static_cast<std::uint32_t>(track.streamId), 2) << " s" << track.slot
                << " " << (track.language.empty() ? "--" : track.language) << " " << track.kind
                << "\n";
    }
    return out.str();
}

}  // namespace strandis::dvd
