#include "playlist/Xpl.h"

#include <algorithm>

#include "common/RunError.h"

namespace strandis::playlist {

namespace {

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
