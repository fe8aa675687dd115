#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace strandis::playlist {

// The value of attribute `name` in one line: the first occurrence of the name anywhere in the
// line (case ignored), then past the next "=" and the next double quote, up to the double quote
// after it. Empty when the name does not occur or no closing quote follows.
std::string XplAttr(std::string_view line, std::string_view name);

// A whole number as the platform reads one: optional blanks and sign, decimal digits, or "$" /
// "0x" and hexadecimal digits; nothing when the text is anything else or out of 32 bits.
std::optional<std::int32_t> ToInteger(std::string_view text);

// XplAttr read as a whole number; 0 when it is not one (the empty text included).
std::int32_t XplIntAttr(std::string_view line, std::string_view name);

// The labels the playlist's attribute lists give to attribute indexes 1..8 (entry 0 unused).
// They outlive a reading: a later playlist that does not define an index sees the older label.
struct AttributeLabels {
    std::array<std::string, 9> video;
    std::array<std::string, 9> audio;
    std::array<std::string, 9> sub;
};

// Cuts the playlist into tags, one line per tag, indented two blanks per enclosing element;
// text between tags is dropped and control bytes inside a tag fold into one blank. Bytes may
// arrive in chunks of any size.
class TagScanner {
public:
    explicit TagScanner(AttributeLabels& labels) : labels_(labels) {}

    // Raises RunError when an attribute item's index is not a whole number.
    void feed(const std::uint8_t* data, std::size_t length);

    std::vector<std::string>& lines() { return lines_; }
    const std::string& playlistTitle() const { return playlistTitle_; }
    // The TitleSet's time base in frames a second ("60fps": 60; 60 when it gives none) and its
    // default language ("" when none).
    int timeBase() const { return timeBase_; }
    const std::string& defaultLanguage() const { return defaultLanguage_; }

private:
    void addLine();

    AttributeLabels& labels_;
    std::vector<std::string> lines_;
    std::string lineText_;
    std::string playlistTitle_;
    int timeBase_ = 60;
    std::string defaultLanguage_;
    bool inTag_ = false;
    std::int32_t depth_ = 0;
    std::uint32_t lastBytes_ = 0;
};

// Cuts `lines` down to the Title element that names `outputBase`: from the nearest "<Title "
// above the first line holding it to the first "</Title" below the top. Returns false, and
// leaves the lines whole, when no line but line 0 holds it.
bool CutToTitle(std::vector<std::string>& lines, std::string_view outputBase);

// Cuts `lines` down to the first Title element: its "<Title " line to its "</Title" line.
// Returns false, and leaves the lines whole, when there is no title.
bool CutToFirstTitle(std::vector<std::string>& lines);

enum class TrackKind { Video, Audio, Subtitle };

// One track the title lists, with its stream slot (its number less one) and its label.
struct Track {
    TrackKind kind;
    int slot;
    std::string label;
};

// The title's tree: five top-level nodes and their children, and the tracks, each once.
struct TitleTree {
    std::vector<std::string> info, video, audio, subtitle, chapter;
    std::vector<Track> tracks;
};

// Walks the title's lines. A track whose number lies outside 1..16 or whose attribute index lies
// outside 1..8 is left out; a track listed twice counts once, with its first label.
TitleTree BuildTree(const std::vector<std::string>& lines, const AttributeLabels& labels,
                    const std::string& playlistTitle);

// A playlist time, HH:MM:SS:FF with FF frames of `timeBase` a second, in nanoseconds; nothing
// when the text is not such a time.
std::optional<std::int64_t> PlaylistTimeNs(std::string_view text, int timeBase);

struct Chapter {
    std::int64_t startNs;
    std::string name;
};

// A track of the title as the playlist describes it.
struct TrackInfo {
    TrackKind kind;
    int track;          // its "track" number
    int streamNumber;   // the stream's number (its slot plus one)
    std::string codec;  // from the media attribute list
    std::string description;
    std::string language;  // the code before any ":" of its langcode
    bool forced = false;
    std::string label;  // the box caption it gives
    bool commentary = false;
    bool visuallyImpaired = false;
};

// What a title says of itself: its name and duration, the time base of its times, its chapters
// and its tracks in the playlist's order.
struct TitleInfo {
    std::string name;
    std::string duration;  // as written
    std::optional<std::int64_t> durationNs;
    int timeBase = 60;
    std::string defaultLanguage;
    std::vector<Chapter> chapters;
    std::vector<TrackInfo> tracks;
};

TitleInfo ReadTitle(const std::vector<std::string>& titleLines, const AttributeLabels& labels,
                    int timeBase, const std::string& defaultLanguage);

}  // namespace strandis::playlist
