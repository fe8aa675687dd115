#include "matroska/Chapters.h"

#include "common/TextFormat.h"

#include <cstdio>
#include <pugixml.hpp>
#include <sstream>

namespace strandis {

std::string ClockTime(std::int64_t ns, int digits) {
    std::int64_t unit = 1;
    for (int k = digits; k < 9; ++k)
        unit *= 10;
    const std::int64_t fraction = (ns % 1'000'000'000 + unit / 2) / unit;
    std::int64_t seconds = ns / 1'000'000'000;
    std::int64_t whole = 1;
    for (int k = 0; k < digits; ++k)
        whole *= 10;
    std::int64_t shown = fraction;
    if (shown >= whole) ++seconds, shown -= whole;  // rounded up into the next second
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%0*lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), digits, static_cast<long long>(shown));
    return text;
}

std::string MatroskaChapters(const playlist::TitleInfo& title) {
    pugi::xml_document document;
    pugi::xml_node declaration = document.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";
    document.append_child(pugi::node_doctype).set_value("Chapters SYSTEM \"matroskachapters.dtd\"");
    pugi::xml_node edition = document.append_child("Chapters").append_child("EditionEntry");
    for (const playlist::Chapter& chapter : title.chapters) {
        pugi::xml_node atom = edition.append_child("ChapterAtom");
        atom.append_child("ChapterTimeStart")
            .append_child(pugi::node_pcdata)
            .set_value(ClockTime(chapter.startNs).c_str());
        pugi::xml_node display = atom.append_child("ChapterDisplay");
        display.append_child("ChapterString")
            .append_child(pugi::node_pcdata)
            .set_value(ValidUtf8(chapter.name).c_str());
        if (!title.defaultLanguage.empty()) {
            display.append_child("ChapLanguageIETF")
                .append_child(pugi::node_pcdata)
                .set_value(title.defaultLanguage.c_str());
        }
    }
    std::ostringstream out;
    document.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

std::string OgmChapters(const playlist::TitleInfo& title) {
    std::string text;
    int number = 0;
    for (const playlist::Chapter& chapter : title.chapters) {
        char key[16];
        std::snprintf(key, sizeof key, "CHAPTER%02d", ++number);
        text += std::string(key) + "=" + ClockTime(chapter.startNs, 3) + "\n";
        text += std::string(key) + "NAME=" + ValidUtf8(chapter.name) + "\n";
    }
    return text;
}

}  // namespace strandis
