#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "common/RunError.h"
#include "disc/PathRules.h"
#include "engine/DemuxRun.h"
#include "engine/Detection.h"
#include "engine/XplRun.h"
#include "playlist/Xpl.h"
#include "tests/support/ScanHelpers.h"

namespace strandis::test {
namespace {

using playlist::AttributeLabels;
using playlist::TagScanner;
using Lines = std::vector<std::string>;

Lines Scan(std::string_view text, std::size_t chunk = 262144) {
    AttributeLabels labels;
    TagScanner scanner(labels);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t at = 0; at < text.size(); at += chunk)
        scanner.feed(bytes + at, std::min(chunk, text.size() - at));
    return scanner.lines();
}

TEST(XplTagScannerTest, OneIndentedLinePerTag) {
    EXPECT_EQ(Scan("<root><e a=\"1\"/></root>"), (Lines{"<root>", "  <e a=\"1\"/>", "</root>"}));
    // Declarations, comments and empty elements enclose nothing; a DOCTYPE raises the depth for
    // the rest of the file.
    EXPECT_EQ(Scan("<?xml version=\"1.0\"?><!-- note --><a><b/></a>"),
              (Lines{"<?xml version=\"1.0\"?>", "<!-- note -->", "<a>", "  <b/>", "</a>"}));
    EXPECT_EQ(Scan("<!DOCTYPE x><a></a>"), (Lines{"<!DOCTYPE x>", "  <a>", "  </a>"}));
    // Text between tags is dropped; line breaks and tabs fold into one blank; two blanks stay.
    EXPECT_EQ(Scan("<a>text\n<b\n\t x=\"1\"  y=\"2\"\r\n/>\n</a>"),
              (Lines{"<a>", "  <b  x=\"1\"  y=\"2\" />", "</a>"}));
    // A ">" inside a value ends the line there; the tag's own ">" then adds the indent alone.
    EXPECT_EQ(Scan("<a v=\"1>2\" w=\"3\"><b/></a>"), (Lines{"<a v=\"1>", "  ", "  <b/>", "</a>"}));
    EXPECT_EQ(Scan("no tags at all"), Lines{});
}

TEST(XplTagScannerTest, ChunkBoundariesFallAnywhere) {
    std::string text = "<?xml version=\"1.0\"?>\n<Playlist displayName=\"Disc\">\n";
    for (int k = 0; k < 40; ++k) {
        text += "  <Title id=\"T" + std::to_string(k) + "\" displayName=\"Title\r\n" +
                std::to_string(k) +
                "\"><!-- -- --><Chapter titleTimeBegin=\"00:00:00:00\"/></Title>\n";
    }
    text += "</Playlist>\n";
    const Lines whole = Scan(text);
    for (std::size_t chunk : {1, 2, 3, 7, 64, 1000})
        EXPECT_EQ(Scan(text, chunk), whole) << chunk;
}

TEST(XplAttrTest, FirstOccurrenceThenEqualsThenQuotes) {
    const std::string line =
        R"(<Audio track="2" streamNumber="3" description="It's "quoted"" x='single'/>)";
    EXPECT_EQ(playlist::XplAttr(line, "streamnumber"), "3");
    EXPECT_EQ(playlist::XplAttr(line, "track"), "2");
    EXPECT_EQ(playlist::XplAttr(line, "description"), "It's ");
    EXPECT_EQ(playlist::XplAttr(line, "x"), "");  // single quotes are not recognised
    EXPECT_EQ(playlist::XplAttr(line, "missing"), "");
    EXPECT_EQ(playlist::XplAttr("<a b=1>", "b"), "");  // no quotes
    EXPECT_EQ(playlist::XplAttr("<a b=\"open>", "b"), "");
    EXPECT_EQ(playlist::XplAttr("<a mediaAttr=\"7\"/>", "mediaattr"), "7");
    EXPECT_EQ(playlist::XplIntAttr("<a n=\"12\"/>", "n"), 12);
    EXPECT_EQ(playlist::XplIntAttr("<a n=\"1x\"/>", "n"), 0);
    EXPECT_EQ(playlist::XplIntAttr("<a n=\"\"/>", "n"), 0);
    EXPECT_EQ(playlist::ToInteger("$1F"), 31);
    EXPECT_EQ(playlist::ToInteger("-5"), -5);
    EXPECT_FALSE(playlist::ToInteger("99999999999"));
    EXPECT_FALSE(playlist::ToInteger(""));
}

const char* const kPlaylist = R"(<?xml version="1.0"?>
<Playlist displayName="My Disc">
  <MediaAttributeList>
    <VideoAttributeItem index="1" codec="VC-1"/>
    <AudioAttributeItem index="1" codec="DD+" channels="6"/>
    <AudioAttributeItem index="2" codec="TrueHD"/>
    <AudioAttributeItem index="9" codec="Ignored" channels="2"/>
    <SubpictureAttributeItem index="1" codec="8bitRLE"/>
  </MediaAttributeList>
  <TitleSet>
    <Title id="Trailer" displayName="Trailer" titleDuration="00:01:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER.MAP"/>
    </Title>
    <Title id="Main" displayName="The Film" titleDuration="01:58:52:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
        <Video track="1" mediaAttr="1"/>
        <Video track="2" mediaAttr="1"/>
        <Audio track="1" streamNumber="2" mediaAttr="1" description="English"/>
        <Audio track="2" streamNumber="1" mediaAttr="2" description="../../Director"/>
        <Audio track="3" streamNumber="2" mediaAttr="2" description="Again"/>
        <Audio track="4" streamNumber="17" mediaAttr="1" description="Out"/>
        <Audio track="5" mediaAttr="1" description="NoNumber"/>
        <Audio track="6" streamNumber="5" mediaAttr="9" description="NoLabel"/>
        <Subtitle track="1" streamNumber="3" mediaAttr="1" description="Deutsch"/>
      </PrimaryAudioVideoClip>
      <ChapterList>
        <Chapter titleTimeBegin="00:00:00:00" displayName="Chapter 1"/>
        <Chapter titleTimeBegin="00:10:00:00" displayName="Chapter 2"/>
      </ChapterList>
    </Title>
  </TitleSet>
</Playlist>
)";

class XplRunTest : public ::testing::Test {
protected:
    TempDir dir;
    TestHost host;
    Engine engine{host};
    AttributeLabels labels;
    std::string sourceBase;  // of the source chosen
    Detected detected;

    std::string save(const std::string& text, const std::string& name = "VPLST000.XPL") {
        SaveFile(dir.path(name), Bytes(text.begin(), text.end()));
        return dir.path(name);
    }
};

TEST_F(XplRunTest, TheTitleOfTheSourceBecomesTreeBoxesAndLog) {
    sourceBase = "FEATURE_1";
    const XplOutcome outcome = RunXpl(engine, save(kPlaylist), sourceBase, labels);
    ASSERT_TRUE(outcome.titleFound);
    EXPECT_EQ(outcome.lines.front(),
              "    <Title id=\"Main\" displayName=\"The Film\" titleDuration=\"01:58:52:00\">");
    EXPECT_EQ(outcome.lines.back(), "    </Title>");
    EXPECT_EQ(outcome.lines.size(), 17u);

    const playlist::TitleTree& tree = outcome.tree;
    EXPECT_EQ(tree.info, (Lines{"Title: My Disc", "Name: The Film", "Duration: 01:58:52:00"}));
    EXPECT_EQ(tree.video, (Lines{"VC-1.stream.0", "VC-1.stream.1"}));
    EXPECT_EQ(tree.audio, (Lines{"DD+.6ch.stream.01.English", "TrueHD.stream.00.../../Director"}));
    EXPECT_EQ(tree.subtitle, (Lines{"8bitRLE.stream.02.Deutsch"}));
    EXPECT_EQ(tree.chapter, (Lines{"00:00:00:00: Chapter 1", "00:10:00:00: Chapter 2"}));
    EXPECT_EQ(labels.audio[1], "DD+.6ch");
    EXPECT_EQ(labels.audio[2], "TrueHD");

    // The boxes its tracks label.
    std::vector<std::pair<playlist::TrackKind, int>> boxes;
    for (const playlist::Track& track : tree.tracks)
        boxes.emplace_back(track.kind, track.slot);
    const std::vector<std::pair<playlist::TrackKind, int>> marks{
        {playlist::TrackKind::Video, 0},
        {playlist::TrackKind::Video, 1},
        {playlist::TrackKind::Audio, 1},
        {playlist::TrackKind::Audio, 0},
        {playlist::TrackKind::Subtitle, 2}};
    EXPECT_EQ(boxes, marks);
    const Lines log{"Open VPLST000.XPL",
                    "Filesize: " + std::to_string(std::string(kPlaylist).size()) + " bytes",
                    "VC-1.stream.0 found!",
                    "VC-1.stream.1 found!",
                    "DD+.6ch.stream.01.English found!",
                    "TrueHD.stream.00.../../Director found!",
                    "8bitRLE.stream.02.Deutsch found!",
                    "Done.",
                    ""};
    EXPECT_EQ(host.lines, log);
    EXPECT_FALSE(engine.SourceStream.isOpen());
}

// Playlist times are HH:MM:SS:FF with FF frames of the title set's time base.
TEST(PlaylistTimeTest, FramesCountInTheTitleSetsTimeBase) {
    using playlist::PlaylistTimeNs;
    for (const int base : {50, 60}) {
        EXPECT_EQ(PlaylistTimeNs("00:00:00:00", base), 0);
        EXPECT_EQ(PlaylistTimeNs("00:00:01:30", base), 1'000'000'000 + 30'000'000'000 / base);
        EXPECT_EQ(PlaylistTimeNs("01:02:03:59", base),
                  3723'000'000'000 + (59'000'000'000 + base / 2) / base);
    }
    EXPECT_EQ(PlaylistTimeNs("00:00:00:30", 60), 500'000'000);
    EXPECT_EQ(PlaylistTimeNs("00:00:00:59", 60), 983'333'333);
    EXPECT_EQ(PlaylistTimeNs("00:00:00:30", 50), 600'000'000);
    for (const char* bad : {"", "00:00:00", "00:00:00:0x", "a:b:c:d", "00::00:00"})
        EXPECT_FALSE(PlaylistTimeNs(bad, 60)) << bad;
}

// What the title says of itself: its name, time base and default language from the title set,
// chapters in time, and tracks with their codec, description, language and forced flag.
TEST_F(XplRunTest, TheTitlesFactsForChaptersAndTracks) {
    const std::string text = R"(<Playlist displayName="Disc">
<MediaAttributeList><AudioAttributeItem index="1" codec="DD+" channels="6"/>
<SubpictureAttributeItem index="1" codec="8bitRLE"/></MediaAttributeList>
<TitleSet timeBase="50fps" defaultLanguage="de:00">
<Title id="Decoy" displayName="Menu" titleDuration="00:00:10:00"><PrimaryAudioVideoClip src="MENU.MAP"/></Title>
<Title id="Main" displayName="Film" titleDuration="01:00:00:25">
<PrimaryAudioVideoClip src="FEATURE_1.MAP">
<Audio track="1" streamNumber="2" mediaAttr="1" description="Deutsch" langcode="de:00"/>
<Subtitle track="1" streamNumber="1" mediaAttr="1" description="Forced" langcode="en:01" forced="true"/>
</PrimaryAudioVideoClip>
<ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="Anfang"/>
<Chapter titleTimeBegin="00:01:00:25" displayName="Mitte"/></ChapterList>
</Title></TitleSet></Playlist>)";
    sourceBase = "FEATURE_1";
    const XplOutcome outcome = RunXpl(engine, save(text), sourceBase, labels);
    const playlist::TitleInfo& title = outcome.title;
    EXPECT_EQ(title.name, "Film");
    EXPECT_EQ(title.timeBase, 50);
    EXPECT_EQ(title.defaultLanguage, "de");
    EXPECT_EQ(title.durationNs, 3600'500'000'000);
    ASSERT_EQ(title.chapters.size(), 2u);
    EXPECT_EQ(title.chapters[1].startNs, 60'500'000'000);
    EXPECT_EQ(title.chapters[1].name, "Mitte");
    ASSERT_EQ(title.tracks.size(), 2u);
    EXPECT_EQ(title.tracks[0].codec, "DD+.6ch");
    EXPECT_EQ(title.tracks[0].streamNumber, 2);
    EXPECT_EQ(title.tracks[0].language, "de");
    EXPECT_FALSE(title.tracks[0].forced);
    EXPECT_EQ(title.tracks[0].label, "DD+.6ch.stream.01.Deutsch");
    EXPECT_EQ(title.tracks[1].kind, playlist::TrackKind::Subtitle);
    EXPECT_EQ(title.tracks[1].language, "en");
    EXPECT_TRUE(title.tracks[1].forced);

    // Without a source the first title is the one described.
    sourceBase.clear();
    EXPECT_EQ(RunXpl(engine, save(text), sourceBase, labels).title.name, "Menu");
}

TEST_F(XplRunTest, NoMatchingTitleShowsTheFirstTitleAndSaysSo) {
    sourceBase = "FEATURE_9";
    const XplOutcome outcome = RunXpl(engine, save(kPlaylist), sourceBase, labels);
    EXPECT_TRUE(outcome.titleFound);
    ASSERT_EQ(outcome.lines.size(), 3u);
    EXPECT_EQ(outcome.lines[0],
              "    <Title id=\"Trailer\" displayName=\"Trailer\" titleDuration=\"00:01:00:00\">");
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(),
                        "No title plays \"FEATURE_9\": the first title is shown."),
              host.lines.end());
    EXPECT_EQ(labels.video[1], "VC-1");  // the labels are taken all the same

    // A base name found only on line 0 counts as not found.
    sourceBase = "xml";
    EXPECT_EQ(RunXpl(engine, save(kPlaylist), sourceBase, labels).lines.size(), 3u);
    // With no title at all, the whole playlist stays.
    sourceBase = "FEATURE_9";
    const XplOutcome none =
        RunXpl(engine, save("<Playlist>\n<a/>\n</Playlist>"), sourceBase, labels);
    EXPECT_FALSE(none.titleFound);
    EXPECT_EQ(none.lines.size(), 3u);
}

TEST_F(XplRunTest, AfterAFeaturePairTheTitleIsFoundByItsFirstFile) {
    PsBuilder first, second;
    first.pack().audio(0x80, Counting(100), 0x100);
    second.pack().audio(0x80, Counting(100), 0x100);
    first.save(dir.path("FEATURE_1.EVO"));
    second.save(dir.path("FEATURE_2.EVO"));
    host.source = dir.path("FEATURE_1.EVO");
    EXPECT_EQ(RunDetection(engine, host.source).outputBase, "FEATURE_1_FEATURE_2");
    sourceBase = SourceBase(host.source);
    host.lines.clear();
    const XplOutcome outcome = RunXpl(engine, save(kPlaylist), sourceBase, labels);
    ASSERT_TRUE(outcome.titleFound);
    EXPECT_EQ(outcome.tree.info[1], "Name: The Film");
    for (const std::string& line : host.lines)
        EXPECT_EQ(line.find("No title"), std::string::npos) << line;
}

TEST_F(XplRunTest, LabelsOutliveTheRunThatReadThem) {
    sourceBase = "FEATURE_1";
    RunXpl(engine, save(kPlaylist), sourceBase, labels);
    const std::string other =
        R"(<Playlist><AudioAttributeItem index="2" codec="DTS-HD" channels="8"/>
<Title displayName="T"><x src="FEATURE_1.MAP"/><Audio streamNumber="1" mediaAttr="1" description="E"/>
<Audio streamNumber="2" mediaAttr="2" description="F"/></Title></Playlist>)";
    const XplOutcome outcome = RunXpl(engine, save(other), sourceBase, labels);
    EXPECT_EQ(outcome.tree.audio, (Lines{"DD+.6ch.stream.00.E", "DTS-HD.8ch.stream.01.F"}));
    EXPECT_EQ(outcome.tree.info, (Lines{"Name: T", "Duration: "}));  // this playlist has no name
}

TEST_F(XplRunTest, BadIndexesAndFilesEndTheRunWithTheirMessage) {
    const std::string bad = R"(<Playlist><VideoAttributeItem index="one" codec="X"/></Playlist>)";
    try {
        RunXpl(engine, save(bad), sourceBase, labels);
        FAIL() << "no error";
    } catch (const RunError& error) {
        EXPECT_EQ(std::string(error.what()), "'one' is not a valid integer value");
    }
    EXPECT_FALSE(engine.SourceStream.isOpen());
    EXPECT_THROW(
        RunXpl(engine, save("<a><VideoAttributeItem codec=\"X\"/></a>"), sourceBase, labels),
        RunError);  // no index
    EXPECT_NO_THROW(RunXpl(engine, save("<a><VideoAttributeItem index=\"0\" codec=\"X\"/></a>"),
                           sourceBase, labels));
    EXPECT_EQ(labels.video, (std::array<std::string, 9>{}));
    EXPECT_THROW(RunXpl(engine, dir.path("missing.XPL"), sourceBase, labels), RunError);
}

TEST_F(XplRunTest, APlaylistLargerThanOneBlockReadsWholeAndFast) {
    // Several titles with dozens of tracks and chapters, padded with comments past 262,144 bytes.
    std::string text =
        "<?xml version=\"1.0\"?>\n<Playlist displayName=\"Big\">\n<MediaAttributeList>\n";
    for (int i = 1; i <= 8; ++i) {
        text += "<AudioAttributeItem index=\"" + std::to_string(i) + "\" codec=\"C" +
                std::to_string(i) + "\" channels=\"6\"/>\n";
    }
    text += "</MediaAttributeList>\n<TitleSet>\n";
    for (int t = 1; t <= 12; ++t) {
        text += "<!-- " + std::string(25000, '-').replace(0, 1, "x") + " -->\n";
        text += "<Title id=\"T" + std::to_string(t) + "\" displayName=\"Title " +
                std::to_string(t) + "\">\n";
        text += "<PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_" +
                std::to_string(t) + ".MAP\">\n";
        for (int a = 1; a <= 16; ++a) {
            text += "<Audio track=\"" + std::to_string(a) + "\" streamNumber=\"" +
                    std::to_string(a) + "\" mediaAttr=\"" + std::to_string(1 + a % 8) +
                    "\" description=\"L" + std::to_string(a) + "\"/>\n";
        }
        text += "</PrimaryAudioVideoClip>\n<ChapterList>\n";
        for (int c = 1; c <= 30; ++c)
            text += "<Chapter titleTimeBegin=\"00:0" + std::to_string(c % 10) +
                    ":00:00\" displayName=\"C\"/>\n";
        text += "</ChapterList>\n</Title>\n";
    }
    text += "</TitleSet>\n</Playlist>\n";
    ASSERT_GT(text.size(), 262144u * 1);
    sourceBase = "FEATURE_11";
    const auto started = std::chrono::steady_clock::now();
    const XplOutcome outcome = RunXpl(engine, save(text), sourceBase, labels);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    ASSERT_TRUE(outcome.titleFound);
    EXPECT_EQ(outcome.tree.info[1], "Name: Title 11");
    EXPECT_EQ(outcome.tree.audio.size(), 16u);
    EXPECT_EQ(outcome.tree.chapter.size(), 30u);
    EXPECT_EQ(outcome.tree.audio[15], "C1.6ch.stream.15.L16");
}

TEST_F(XplRunTest, ALabelWithAPathStillDemuxesIntoTheOutputFolder) {
    PsBuilder ps;
    ps.pack().audio(0x80, Counting(300), 0x100);
    ps.save(dir.path("FEATURE_1.EVO"));
    sourceBase = "FEATURE_1";
    const XplOutcome outcome = RunXpl(engine, save(kPlaylist), sourceBase, labels);
    // Tick the boxes as the window does, with the labels as captions.
    host.untickAll();
    for (const playlist::Track& track : outcome.tree.tracks) {
        if (track.kind == playlist::TrackKind::Audio) {
            host.tick(BoxKind::Audio, track.slot, true);
            host.captions[2 + static_cast<std::size_t>(track.slot)] = track.label;
        }
    }
    std::filesystem::create_directory(dir.path("out"));
    host.folder = dir.path("out");
    host.source = dir.path("FEATURE_1.EVO");
    const RunOutcome written = RunDemux(engine, detected, dir.path("FEATURE_1.EVO"));
    ASSERT_EQ(written.files.size(), 2u);
    EXPECT_EQ(written.files[0].path, dir.path("out/FEATURE_1.TrueHD.stream.00..._.._Director.mpa"));
    EXPECT_EQ(LoadFile(written.files[0].path), Counting(300));
}

}  // namespace
}  // namespace strandis::test
