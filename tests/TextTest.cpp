#include <gtest/gtest.h>

#include "analysers/Analysers.h"
#include "common/Markup.h"
#include "common/TextFormat.h"
#include "disc/PathRules.h"
#include "disc/StreamCaption.h"
#include "testkit/PsBuilder.h"
#include "tests/support/TestHost.h"

namespace strandis::test {
namespace {

TEST(MarkupTest, TaggedSegmentsAreCutOutOfThePlainLine) {
    const MarkupLine opening = ParseMarkup("Opening file [b]FEATURE_1.EVO[/b]");
    EXPECT_EQ(opening.plain, "Opening file FEATURE_1.EVO");
    ASSERT_EQ(opening.segments.size(), 1u);
    EXPECT_EQ(opening.segments[0].start, 13u);
    EXPECT_EQ(opening.segments[0].length, 13u);
    EXPECT_EQ(opening.segments[0].style, TagStyle::Bold);

    const MarkupLine two = ParseMarkup("[bl]24[/bl] bits, [bl]DTS ES[/bl]");
    EXPECT_EQ(two.plain, "24 bits, DTS ES");
    ASSERT_EQ(two.segments.size(), 2u);
    EXPECT_EQ(two.segments[1].start, 9u);
    EXPECT_EQ(two.segments[1].length, 6u);
    EXPECT_EQ(two.segments[1].style, TagStyle::BoldBlue);

    EXPECT_EQ(ParseMarkup("").plain, "");
    EXPECT_EQ(ParseMarkup("[n]x[/n]").segments[0].style, TagStyle::Regular);
    EXPECT_EQ(ParseMarkup("[]x[/]").plain, "x");
    EXPECT_EQ(ParseMarkup("[s2]x[/s2]").segments[0].style, TagStyle::Size12);
    EXPECT_EQ(ParseMarkup("[B]x[/B]").segments[0].style, TagStyle::Regular);  // case matters
}

TEST(MarkupTest, BracketsThatAreNoCompleteTagStayVisible) {
    EXPECT_EQ(ParseMarkup("Opening file [b]Movie [1].EVO[/b]").plain, "Opening file Movie [1].EVO");
    EXPECT_EQ(ParseMarkup("Movie [1].EVO").plain, "Movie [1].EVO");
    EXPECT_EQ(ParseMarkup("a [ b").plain, "a [ b");
    EXPECT_EQ(ParseMarkup("[b]unclosed").plain, "[b]unclosed");
    EXPECT_EQ(ParseMarkup("x[/b]").plain, "x[/b]");
    EXPECT_TRUE(ParseMarkup("[b]unclosed").segments.empty());
}

TEST(MarkupTest, ColoursAreReadAsHexadecimalWithRedInTheLowByte) {
    EXPECT_EQ(HexToInt("0000FF"), 0xFFu);
    EXPECT_EQ(HexToInt("#ff0000"), HexToInt("FF0000"));
    EXPECT_EQ(HexToInt("zz"), 0u);
    EXPECT_EQ(HexToInt("1FFFFFFFF"), 0xFFFFFFFFu);  // unsigned 32-bit wrap
    const MarkupLine line = ParseMarkup("[c:#00FF00]green[/c:#00FF00]");
    ASSERT_EQ(line.segments.size(), 1u);
    EXPECT_EQ(line.segments[0].style, TagStyle::Colour);
    EXPECT_EQ(line.segments[0].colour, 0x00FF00u);
}

TEST(PathRulesTest, NamesAndExtensions) {
    EXPECT_EQ(CutExt("FEATURE_1.EVO"), "FEATURE_1");
    EXPECT_EQ(CutExt("a.b.c"), "a.b");
    EXPECT_EQ(CutExt("NOEXT"), "NOEXT");
    EXPECT_EQ(CutExt(""), "");
    EXPECT_EQ(CutExt("/disc/x.y/NOEXT"), "/disc/x.y/NOEXT");
    EXPECT_EQ(ExtractFileName("/disc/HVDVD_TS/FEATURE_1.EVO"), "FEATURE_1.EVO");
    EXPECT_EQ(ExtractFilePath("/disc/HVDVD_TS/FEATURE_1.EVO"), "/disc/HVDVD_TS/");
    EXPECT_TRUE(IsAobPath("/d/ATS_01_1.aob"));
    EXPECT_FALSE(IsAobPath("/d.aob/ATS"));
    EXPECT_FALSE(IsAobPath("/d/ATS.aobx"));
}

TEST(PathRulesTest, TheSecondFeatureRaisesTheDigitNextToTheFirstUnderscore) {
    TempDir dir;
    for (const char* name :
         {"FEATURE_2.EVO", "FEATURE2_A.EVO", "VTS_11_1.VOB", "VTS_01_2.VOB", "_5.EVO"}) {
        SaveFile(dir.path(name), {});
    }
    EXPECT_EQ(getsecond(dir.path("FEATURE_1.EVO")), dir.path("FEATURE_2.EVO"));
    EXPECT_EQ(getsecond(dir.path("FEATURE1_A.EVO")), dir.path("FEATURE2_A.EVO"));
    EXPECT_EQ(getsecond(dir.path("VTS_01_1.VOB")), dir.path("VTS_01_2.VOB"));  // the next part
    EXPECT_EQ(getsecond(dir.path("_4.EVO")), dir.path("_5.EVO"));
    EXPECT_EQ(getsecond(dir.path("FEATURE_9.EVO")), "");
    EXPECT_EQ(getsecond(dir.path("FEATURE_2.EVO")), "");  // FEATURE_3.EVO is missing
    EXPECT_EQ(getsecond(dir.path("FEATURE.EVO")), "");
    EXPECT_EQ(getsecond(dir.path("FEATURE_X.EVO")), "");
}

TEST(PathRulesTest, ADvdTitleSetGoesOnThroughEveryFollowingPartAndNoFurther) {
    TempDir dir;
    for (const char* name : {"VTS_01_0.VOB", "VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB",
                             "VTS_01_5.VOB", "VTS_11_1.VOB", "VTS_11_2.VOB", "vts_02_1.vob",
                             "vts_02_2.vob", "FEATURE_1.EVO", "FEATURE_2.EVO", "FEATURE_3.EVO"})
        SaveFile(dir.path(name), {});
    EXPECT_EQ(FollowingFiles(dir.path("VTS_01_1.VOB")),
              (std::vector<std::string>{dir.path("VTS_01_2.VOB"), dir.path("VTS_01_3.VOB")}));
    EXPECT_EQ(FollowingFiles(dir.path("VTS_01_2.VOB")),
              std::vector<std::string>{dir.path("VTS_01_3.VOB")});
    EXPECT_EQ(FollowingFiles(dir.path("VTS_11_1.VOB")),
              std::vector<std::string>{dir.path("VTS_11_2.VOB")});
    EXPECT_EQ(FollowingFiles(dir.path("vts_02_1.vob")),
              std::vector<std::string>{dir.path("vts_02_2.vob")});
    EXPECT_TRUE(FollowingFiles(dir.path("VTS_01_0.VOB")).empty());  // the menu
    EXPECT_TRUE(FollowingFiles(dir.path("VTS_01_3.VOB")).empty());  // part 4 is missing
    // A feature pair stops at its second file.
    EXPECT_EQ(FollowingFiles(dir.path("FEATURE_1.EVO")),
              std::vector<std::string>{dir.path("FEATURE_2.EVO")});
}

TEST(TextFormatTest, HexAndTimes) {
    using analysers::Hex;
    EXPECT_EQ(Hex(0x1B207, 8), "0001B207");
    EXPECT_EQ(Hex(0xA1, 2), "A1");
    EXPECT_EQ(Hex(0xFFFFFFFF, 8), "FFFFFFFF");
    EXPECT_EQ(FormatHms(7132.125), "1:58:52");
    EXPECT_EQ(FormatHms(59.9996), "0:01:00");  // rounded to the millisecond first
    EXPECT_EQ(FormatHms(59.9994), "0:00:59");
    EXPECT_EQ(FormatHms(90061, '.'), "1.01.01");
    EXPECT_EQ(FormatHms(-3), "0:00:00");
}

// Names from a playlist go to mkvmerge and the chapter file as valid UTF-8: a byte that is no
// part of a valid sequence becomes U+FFFD, the rest stays.
TEST(TextFormatTest, InvalidUtf8BytesAreReplaced) {
    EXPECT_EQ(ValidUtf8("Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC"),
              "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC");
    EXPECT_EQ(ValidUtf8(std::string("a") + '\xFF' + "z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(ValidUtf8("\xC3"), "\xEF\xBF\xBD");                                  // cut short
    EXPECT_EQ(ValidUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // overlong
    EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
}

TEST(StreamCaptionTest, EveryRangeHasItsCaption) {
    EXPECT_EQ(VideoCaption(0x55), "VC-1.stream");
    EXPECT_EQ(VideoCaption(0xE1), "MPEG-2.stream");
    EXPECT_EQ(VideoCaption(0xE2), "H.264.stream");
    EXPECT_EQ(AudioCaption(0x87), "DD.stream");
    EXPECT_EQ(AudioCaption(0x88), "DTSHD.stream");
    EXPECT_EQ(AudioCaption(0xA7), "LPCM.stream");
    EXPECT_EQ(AudioCaption(0xB0), "MLP.stream");
    EXPECT_EQ(AudioCaption(0xCF), "DD+.stream");
    EXPECT_EQ(SubCaption(0x2F), "Subpicture");
    EXPECT_EQ(SubCaption(0x60), "Ext.Subpicture");
    EXPECT_EQ(AudioCaption(0x90), "");
    EXPECT_EQ(VideoSuffix(1), ".1");
    EXPECT_EQ(TwoDigitSuffix(3), ".03");
    EXPECT_EQ(TwoDigitSuffix(15), ".15");
}

}  // namespace
}  // namespace strandis::test
