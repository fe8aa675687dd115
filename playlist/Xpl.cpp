#include "playlist/Xpl.h"

#include <algorithm>

#include "common/RunError.h"

namespace strandis::playlist {

namespace {

// The value of attribute `name` written as name="value" with a blank before it: for the
// attributes read for chapters and tracks, whose names may occur inside other values.
std::string ExactAttr(std::string_view line, std::string_view name) {
    for (std::size_t at = line.find(name); at != std::string_view::npos;
         at = line.find(name, at + 1)) {
        const std::size_t value = at + name.size() + 2;
        if (at == 0 || line[at - 1] != ' ' || value > line.size() ||
            line.substr(at + name.size(), 2) != "=\"")
            continue;
        const std::size_t end = line.find('"', value);
        if (end == std::string_view::npos) return {};
        return std::string(line.substr(value, end - value));
    }
    return {};
}

constexpr std::size_t kMaxValue = 255;

// Real playlists are far below these; they bound what a hostile one can make us hold (the
// file's bytes, plus at most 64 blanks of indent and a string's overhead per line).
constexpr std::size_t kMaxTagBytes = 16384;  // the rest of a longer tag is dropped
constexpr std::int32_t kMaxIndent = 32;      // levels shown; deeper elements are shown there
constexpr std::size_t kMaxLines = 100000;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// An attribute index or track number as a table position; nothing when it lies outside 1..limit.
std::optional<std::size_t> InRange(std::int32_t value, std::int32_t limit) {
    if (value < 1 || value > limit) return std::nullopt;
    return static_cast<std::size_t>(value);
}

std::size_t StrictIndex(std::string_view line) {
    const std::string text = XplAttr(line, "index");
    const auto value = ToInteger(text);
    if (!value) throw RunError("'" + text + "' is not a valid integer value");
    return static_cast<std::size_t>(InRange(*value, 8).value_or(0));
}

}  // namespace

std::string XplAttr(std::string_view line, std::string_view name) {
    const std::size_t at = Upper(line).find(Upper(name));
    if (at == std::string::npos) return {};
    std::string_view rest = line.substr(at + name.size(), kMaxValue);
    if (const std::size_t equals = rest.find('='); equals != std::string_view::npos) {
        rest = rest.substr(equals + 1, kMaxValue);
    }
    if (const std::size_t quote = rest.find('"'); quote != std::string_view::npos) {
        rest = rest.substr(quote + 1, kMaxValue);
    }
    const std::size_t end = rest.find('"');
    return end == std::string_view::npos ? std::string() : std::string(rest.substr(0, end));
}

std::optional<std::int32_t> ToInteger(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    unsigned base = 10;
    if (at < text.size() && text[at] == '$') {
        base = 16, ++at;
    } else if (at + 1 < text.size() && text[at] == '0' &&
               (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        base = 16, at += 2;
    }
    if (at == text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFll) return std::nullopt;
    }
    if (base == 16 && !negative)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::int32_t XplIntAttr(std::string_view line, std::string_view name) {
    return ToInteger(XplAttr(line, name)).value_or(0);
}

void TagScanner::feed(const std::uint8_t* data, std::size_t length) {
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t b = data[k];
        const std::uint8_t before = lastBytes_ & 0xFF;
        if (b == '<') inTag_ = true, ++depth_;
        if (inTag_ && lineText_.size() < kMaxTagBytes) {
            if (b >= 32) {
                lineText_ += static_cast<char>(b);
            } else if (lineText_.empty() || lineText_.back() != ' ') {
                lineText_ += ' ';  // line breaks, tabs and other control bytes fold into one blank
            }
        }
        if (b == '/' && before == '<') {
            depth_ -= 2;  // a closing tag: moved out by one indent unit
            lineText_.erase(0, 2);
        }
        if (b == '>') {
            inTag_ = false;
            addLine();
            // Empty elements, processing instructions and comments enclose nothing.
            if (before == '/' || before == '?' || (lastBytes_ & 0xFFFF) == 0x2D2D) --depth_;
            lineText_.clear();
            for (std::int32_t d = 0; d < std::min(depth_, kMaxIndent); ++d)
                lineText_ += "  ";
        }
        lastBytes_ = (lastBytes_ << 8) | b;
    }
}

void TagScanner::addLine() {
    if (lines_.size() == kMaxLines)
        throw RunError("The playlist holds more than " + std::to_string(kMaxLines) +
                       " tags, more than any disc's playlist does.");
    lines_.push_back(lineText_);
    const std::string& line = lines_.back();
    if (Contains(line, "Playlist") && Contains(Upper(line), "DISPLAYNAME"))
        playlistTitle_ = XplAttr(line, "displayName");
    if (Contains(Upper(line), "<TITLESET")) {
        // "60fps", "50fps": the frames a second of every time in the title set.
        const std::string base = ExactAttr(line, "timeBase");
        const std::size_t digits = base.find_first_not_of("0123456789");
        const auto rate = ToInteger(base.substr(0, digits));
        if (rate && *rate > 0 && *rate <= 1000) timeBase_ = *rate;
        defaultLanguage_ = ExactAttr(line, "defaultLanguage");
        defaultLanguage_ = defaultLanguage_.substr(0, defaultLanguage_.find(':'));
    }
    if (Contains(line, "VideoAttributeItem")) {
        if (const std::size_t index = StrictIndex(line))
            labels_.video[index] = XplAttr(line, "codec");
    }
    if (Contains(line, "AudioAttributeItem")) {
        const std::string channels = XplAttr(line, "channels");
        const std::string codec = XplAttr(line, "codec");
        if (const std::size_t index = StrictIndex(line))
            labels_.audio[index] = channels.empty() ? codec : codec + "." + channels + "ch";
    }
    if (Contains(line, "SubpictureAttributeItem")) {
        if (const std::size_t index = StrictIndex(line))
            labels_.sub[index] = XplAttr(line, "codec");
    }
}

bool CutToTitle(std::vector<std::string>& lines, std::string_view outputBase) {
    std::size_t source = 0;
    while (source < lines.size() && !Contains(lines[source], outputBase))
        ++source;
    if (source == lines.size() || source == 0) return false;

    for (std::size_t k = source; k-- > 0;) {
        if (Contains(Upper(lines[k]), "<TITLE ")) {
            lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(k));
            break;
        }
    }
    for (std::size_t k = 1; k < lines.size(); ++k) {
        if (Contains(Upper(lines[k]), "</TITLE")) {
            lines.resize(k + 1);
            break;
        }
    }
    return true;
}

bool CutToFirstTitle(std::vector<std::string>& lines) {
    for (std::size_t top = 0; top < lines.size(); ++top) {
        if (!Contains(Upper(lines[top]), "<TITLE ")) continue;
        std::size_t end = top + 1;
        while (end < lines.size() && !Contains(Upper(lines[end]), "</TITLE"))
            ++end;
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(std::min(end + 1, lines.size())),
                    lines.end());
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(top));
        return true;
    }
    return false;
}

std::optional<std::int64_t> PlaylistTimeNs(std::string_view text, int timeBase) {
    std::int64_t fields[4] = {};
    std::size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t end = k < 3 ? text.find(':', at) : text.size();
        if (end == std::string_view::npos || end == at || end - at > 6 || timeBase <= 0)
            return std::nullopt;
        for (std::size_t d = at; d < end; ++d) {
            if (text[d] < '0' || text[d] > '9') return std::nullopt;
            fields[k] = fields[k] * 10 + (text[d] - '0');
        }
        at = end + 1;
    }
    const std::int64_t seconds = fields[0] * 3600 + fields[1] * 60 + fields[2];
    // Frames in nanoseconds, rounded to the nearest.
    return seconds * 1'000'000'000 + (fields[3] * 1'000'000'000 + timeBase / 2) / timeBase;
}

TitleInfo ReadTitle(const std::vector<std::string>& titleLines, const AttributeLabels& labels,
                    int timeBase, const std::string& defaultLanguage) {
    TitleInfo title;
    title.timeBase = timeBase;
    title.defaultLanguage = defaultLanguage;
    const TitleTree tree = BuildTree(titleLines, labels, {});
    std::size_t listed = 0;  // the tree's tracks, in the same order as they are met here
    std::array<std::array<bool, 16>, 3> seen{};
    for (const std::string& line : titleLines) {
        const std::string u = Upper(line);
        if (Contains(u, "<TITLE ") && title.name.empty()) {
            title.name = XplAttr(line, "displayName");
            title.duration = XplAttr(line, "titleDuration");
            title.durationNs = PlaylistTimeNs(title.duration, timeBase);
        }
        if (Contains(u, "<CHAPTER ")) {
            if (const auto start = PlaylistTimeNs(XplAttr(line, "titleTimeBegin"), timeBase))
                title.chapters.push_back({*start, XplAttr(line, "displayName")});
        }
        const bool video = Contains(u, "<VIDEO "), audio = Contains(u, "<AUDIO "),
                   subtitle = Contains(u, "<SUBTITLE ");
        if (!video && !audio && !subtitle) continue;
        const TrackKind kind = video   ? TrackKind::Video
                               : audio ? TrackKind::Audio
                                       : TrackKind::Subtitle;
        const std::int32_t number = XplIntAttr(line, video ? "track" : "streamNumber");
        const std::int32_t attribute = XplIntAttr(line, "mediaAttr");
        if (number < 1 || number > 16 || attribute < 1 || attribute > 8) continue;
        bool& once = seen[static_cast<std::size_t>(kind)][static_cast<std::size_t>(number - 1)];
        if (once) continue;
        once = true;
        TrackInfo track{kind, XplIntAttr(line, "track"), number, {}, {}, {}, false, {}};
        const auto& names = kind == TrackKind::Video   ? labels.video
                            : kind == TrackKind::Audio ? labels.audio
                                                       : labels.sub;
        track.codec = names[static_cast<std::size_t>(attribute)];
        track.description = XplAttr(line, "description");
        const std::string language = ExactAttr(line, "langcode");
        track.language = language.substr(0, language.find(':'));
        const std::string forced = ExactAttr(line, "forced");
        track.forced = forced == "true" || forced == "1";
        if (listed < tree.tracks.size()) track.label = tree.tracks[listed++].label;
        title.tracks.push_back(std::move(track));
    }
    return title;
}

TitleTree BuildTree(const std::vector<std::string>& lines, const AttributeLabels& labels,
                    const std::string& playlistTitle) {
    TitleTree tree;
    if (!playlistTitle.empty()) tree.info.push_back("Title: " + playlistTitle);
    std::array<bool, 16> videoListed{}, audioListed{}, subListed{};
    const auto track = [&](std::string_view line, const char* numberName, TrackKind kind) {
        const auto number = InRange(XplIntAttr(line, numberName), 16);
        const auto attribute = InRange(XplIntAttr(line, "mediaAttr"), 8);
        if (!number || !attribute) return;
        const int slot = static_cast<int>(*number) - 1;
        auto& listed = kind == TrackKind::Video   ? videoListed
                       : kind == TrackKind::Audio ? audioListed
                                                  : subListed;
        if (listed[static_cast<std::size_t>(slot)]) return;
        listed[static_cast<std::size_t>(slot)] = true;
        std::string label;
        if (kind == TrackKind::Video) {
            label = labels.video[*attribute] + ".stream." + std::to_string(slot);
            tree.video.push_back(label);
        } else {
            const std::string number2 = (slot < 10 ? "0" : "") + std::to_string(slot);
            label = (kind == TrackKind::Audio ? labels.audio : labels.sub)[*attribute] +
                    ".stream." + number2 + "." + XplAttr(line, "description");
            (kind == TrackKind::Audio ? tree.audio : tree.subtitle).push_back(label);
        }
        tree.tracks.push_back({kind, slot, label});
    };
    for (const std::string& line : lines) {
        const std::string u = Upper(line);
        if (Contains(u, "<TITLE ")) {
            tree.info.push_back("Name: " + XplAttr(line, "displayName"));
            tree.info.push_back("Duration: " + XplAttr(line, "titleDuration"));
        }
        if (Contains(u, "<VIDEO ")) track(line, "track", TrackKind::Video);
        if (Contains(u, "<AUDIO ")) track(line, "streamNumber", TrackKind::Audio);
        if (Contains(u, "<SUBTITLE ")) track(line, "streamNumber", TrackKind::Subtitle);
        if (Contains(u, "<CHAPTER ")) {
            tree.chapter.push_back(XplAttr(line, "titleTimeBegin") + ": " +
                                   XplAttr(line, "displayName"));
        }
    }
    return tree;
}

}  // namespace strandis::playlist
