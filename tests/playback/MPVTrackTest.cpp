// Pure conversions of the mpv client: track-list JSON, track labels, the AV1 codec-list
// rewrite, the seek-bar command and property values.
#include "playback/MPVClient.h"
#include "playback/MPVTrack.h"
#include "playback/MPVValue.h"

#include <gtest/gtest.h>

namespace rillow {
namespace {

using Kind = MPVTrack::Kind;

TEST(MPVTrackTest, ConvertsEveryFieldOfAFullEntry) {
    const auto tracks = MPVTrack::parseTrackList(R"([
        {"id": 2, "type": "audio", "title": "Commentary", "lang": "eng", "selected": true,
         "external": true, "external-filename": "/tmp/c.mka", "forced": true, "codec": "aac"}
    ])");
    ASSERT_EQ(tracks.size(), 1u);
    const MPVTrack& t = tracks[0];
    EXPECT_EQ(t.trackID, 2);
    EXPECT_EQ(t.kind, Kind::audio);
    EXPECT_EQ(t.title, QStringLiteral("Commentary"));
    EXPECT_EQ(t.lang, QStringLiteral("eng"));
    EXPECT_TRUE(t.selected);
    EXPECT_TRUE(t.isExternal);
    EXPECT_EQ(t.externalFilename, QStringLiteral("/tmp/c.mka"));
    EXPECT_TRUE(t.isForced);
    EXPECT_EQ(t.id(), QStringLiteral("audio-2"));
}

TEST(MPVTrackTest, MissingOrMistypedOptionalFieldsTakeTheirEmptyValues) {
    const auto tracks = MPVTrack::parseTrackList(
        R"([{"id": 1, "type": "sub", "title": 5, "lang": null, "selected": "yes",
             "external": 1, "external-filename": false}])");
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].kind, Kind::sub);
    EXPECT_FALSE(tracks[0].title);
    EXPECT_FALSE(tracks[0].lang);
    EXPECT_FALSE(tracks[0].selected);
    EXPECT_FALSE(tracks[0].isExternal);
    EXPECT_FALSE(tracks[0].externalFilename);
    EXPECT_FALSE(tracks[0].isForced);
}

// Which entries of a list survive: (JSON, ids of the surviving tracks).
struct ListCase {
    const char* name;
    const char* json;
    std::vector<const char*> ids;
};

void PrintTo(const ListCase& c, std::ostream* os) {
    *os << c.name;
}

class TrackListTest : public ::testing::TestWithParam<ListCase> {};

TEST_P(TrackListTest, KeepsOnlyConvertibleEntries) {
    std::vector<QString> ids;
    for (const MPVTrack& track : MPVTrack::parseTrackList(GetParam().json))
        ids.push_back(track.id());
    std::vector<QString> expected;
    for (const char* id : GetParam().ids) expected.push_back(QString::fromLatin1(id));
    EXPECT_EQ(ids, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackListTest,
    ::testing::Values(
        ListCase{"mixed",
                 R"([{"id":1,"type":"video"},{"id":1,"type":"audio"},{"id":2,"type":"audio"},
                     {"id":1,"type":"sub"}])",
                 {"video-1", "audio-1", "audio-2", "sub-1"}},
        ListCase{"dataTypeSkipped", R"([{"id":1,"type":"data"},{"id":3,"type":"sub"}])", {"sub-3"}},
        ListCase{"idMissing", R"([{"type":"audio"},{"id":2,"type":"audio"}])", {"audio-2"}},
        ListCase{"idText", R"([{"id":"1","type":"audio"},{"id":2,"type":"audio"}])", {"audio-2"}},
        ListCase{
            "idFraction", R"([{"id":1.5,"type":"audio"},{"id":2,"type":"audio"}])", {"audio-2"}},
        ListCase{"typeNotText", R"([{"id":1,"type":7},{"id":2,"type":"video"}])", {"video-2"}},
        ListCase{"typeUpperCase", R"([{"id":1,"type":"Audio"}])", {}},
        ListCase{"emptyArray", "[]", {}}, ListCase{"object", R"({"id":1,"type":"audio"})", {}},
        ListCase{"notAnArrayOfObjects", R"([{"id":1,"type":"audio"}, 3])", {}},
        ListCase{"invalidJson", R"([{"id":1,"type":"audio"})", {}}, ListCase{"empty", "", {}}),
    [](const auto& param) { return std::string(param.param.name); });

struct LabelCase {
    const char* name;
    std::optional<QString> title;
    std::optional<QString> lang;
    int64_t trackID;
    QString label;
};

void PrintTo(const LabelCase& c, std::ostream* os) {
    *os << c.name;
}

class TrackLabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(TrackLabelTest, PrefersTitleThenLanguageThenNumber) {
    MPVTrack track;
    track.kind = Kind::sub;
    track.trackID = GetParam().trackID;
    track.title = GetParam().title;
    track.lang = GetParam().lang;
    EXPECT_EQ(track.label(), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrackLabelTest,
    ::testing::Values(LabelCase{"title", QStringLiteral("Director's cut"), QStringLiteral("eng"), 1,
                                QStringLiteral("Director's cut")},
                      LabelCase{"emptyTitleUsesLanguage", QString(), QStringLiteral("eng"), 1,
                                QStringLiteral("ENG")},
                      LabelCase{"noTitleUsesLanguage", std::nullopt, QStringLiteral("pt-br"), 2,
                                QStringLiteral("PT-BR")},
                      LabelCase{"neither", std::nullopt, std::nullopt, 3,
                                QStringLiteral("Track 3")},
                      LabelCase{"bothEmpty", QString(), QString(), 3, QStringLiteral("Track 3")}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(MPVTrackTest, IdsNameTheKindAndNumber) {
    MPVTrack track;
    track.trackID = 12;
    const std::pair<Kind, const char*> cases[] = {
        {Kind::video, "video-12"}, {Kind::audio, "audio-12"}, {Kind::sub, "sub-12"}};
    for (const auto& [kind, id] : cases) {
        track.kind = kind;
        EXPECT_EQ(track.id(), QLatin1String(id));
        EXPECT_EQ(MPVTrack::kindFromText(MPVTrack::kindText(kind)), kind);
    }
}

TEST(MPVClientRulesTest, RemovesOnlyExactAV1Pieces) {
    const std::pair<const char*, std::optional<QString>> cases[] = {
        {"h264,av1,hevc", QStringLiteral("h264,hevc")},
        {"h264,hevc", std::nullopt},
        {"av1", QString()},
        {"av1,,av1", QString()},
        {",h264,,av1,", QStringLiteral("h264")},
        {"av10,h264,AV1", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [codecs, expected] : cases)
        EXPECT_EQ(MPVClient::withoutAV1(QString::fromLatin1(codecs)), expected) << codecs;
}

TEST(MPVClientRulesTest, SeekToFractionClampsToWholeFile) {
    const std::pair<double, double> cases[] = {{1.7, 100},
                                               {-0.2, 0},
                                               {0.0, 0},
                                               {1.0, 100},
                                               {0.5, 50},
                                               {0.123456789, 12.3456789},
                                               {std::numeric_limits<double>::infinity(), 100},
                                               {-std::numeric_limits<double>::infinity(), 0}};
    for (const auto& [fraction, percent] : cases) {
        const QStringList command = MPVClient::seekToFractionCommand(fraction);
        ASSERT_EQ(command.size(), 4) << fraction;
        EXPECT_EQ(command[0], QStringLiteral("seek"));
        bool ok = false;
        EXPECT_DOUBLE_EQ(command[1].toDouble(&ok), percent) << fraction;
        EXPECT_TRUE(ok) << command[1].toStdString();
        EXPECT_EQ(command[2], QStringLiteral("absolute-percent"));
        EXPECT_EQ(command[3], QStringLiteral("exact"));
    }
    EXPECT_TRUE(MPVClient::seekToFractionCommand(std::nan("")).isEmpty());
}

TEST(MPVValueTest, KeepsItsTypeAndValue) {
    EXPECT_EQ(MPVValue::fromDouble(2.5).type(), MPVValue::Type::double_);
    EXPECT_EQ(MPVValue::fromDouble(2.5).toDouble(), 2.5);
    EXPECT_FALSE(MPVValue::fromDouble(1).toFlag());
    EXPECT_EQ(MPVValue::fromFlag(true).type(), MPVValue::Type::flag);
    EXPECT_EQ(MPVValue::fromFlag(false).toFlag(), false);
    EXPECT_FALSE(MPVValue::fromFlag(true).toDouble());
    EXPECT_EQ(MPVValue::fromString(QStringLiteral("x")).type(), MPVValue::Type::string);
    EXPECT_EQ(MPVValue::fromString(QStringLiteral("x")).toString(), QStringLiteral("x"));
    EXPECT_EQ(MPVValue::fromString(std::nullopt).type(), MPVValue::Type::string);
    EXPECT_FALSE(MPVValue::fromString(std::nullopt).toString());
    EXPECT_NE(MPVValue::fromDouble(1), MPVValue::fromFlag(true));
}

}  // namespace
}  // namespace rillow
