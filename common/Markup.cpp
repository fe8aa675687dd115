#include "common/Markup.h"

namespace strandis {

TagStyle StyleOf(std::string_view name) {
    if (name == "b") return TagStyle::Bold;
    if (name == "i") return TagStyle::Italic;
    if (name == "u") return TagStyle::Underline;
    if (name == "s1") return TagStyle::Size10;
    if (name == "s2") return TagStyle::Size12;
    if (name.substr(0, 2) == "c:") return TagStyle::Colour;
    if (name == "bl") return TagStyle::BoldBlue;
    return TagStyle::Regular;
}

std::uint32_t HexToInt(std::string_view text) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    std::uint32_t value = 0;
    for (char c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        const std::size_t digit = kDigits.find(c);
        if (digit != std::string_view::npos) value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

MarkupLine ParseMarkup(std::string_view line) {
    MarkupLine out;
    out.plain.reserve(line.size());
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t open = line.find('[', pos);
        if (open == std::string_view::npos) break;
        const std::size_t close = line.find(']', open + 1);
        if (close == std::string_view::npos) break;
        const std::string_view name = line.substr(open + 1, close - open - 1);
        const std::string closing = "[/" + std::string(name) + "]";
        const std::size_t end = line.find(closing, close + 1);
        if (end == std::string_view::npos) {
            // Not a tag: the "[" is text.
            out.plain.append(line.substr(pos, open + 1 - pos));
            pos = open + 1;
            continue;
        }
        out.plain.append(line.substr(pos, open - pos));
        const std::string_view text = line.substr(close + 1, end - close - 1);
        const TagStyle style = StyleOf(name);
        out.segments.push_back({out.plain.size(), text.size(), style,
                                style == TagStyle::Colour ? HexToInt(name.substr(2)) : 0});
        out.plain.append(text);
        pos = end + closing.size();
    }
    out.plain.append(line.substr(pos));
    return out;
}

}  // namespace strandis
