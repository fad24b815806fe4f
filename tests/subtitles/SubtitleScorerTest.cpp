// Scoring, ranking, picking, language groups and the catalog match.
#include "search/StremioParsing.h"
#include "subtitles/ReleaseNameParser.h"
#include "subtitles/SubtitleScorer.h"
#include "tests/subtitles/Printers.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

using namespace rillow;

namespace {

std::optional<QString> s(const char* text) {
    return QString::fromUtf8(text);
}

SubtitleCandidate candidate(const char* id, std::optional<QString> release = std::nullopt,
                            const char* language = "en", int order = 0) {
    SubtitleCandidate c;
    c.id = QString::fromLatin1(id);
    c.url = QUrl(QStringLiteral("http://127.0.0.1/") + c.id);
    c.language = language ? s(language) : std::nullopt;
    c.rawLanguage = QString::fromLatin1(language ? language : "");
    c.releaseName = std::move(release);
    c.order = order;
    return c;
}

ReleaseInfo video(const char* name) {
    return ReleaseNameParser::parse(QString::fromUtf8(name));
}

struct Meta {
    QString title;
    std::optional<QString> releaseInfo;
    QString imdbID;
};

}  // namespace

TEST(SubtitleScorer, ScoreTable) {
    const ReleaseInfo web = video("Movie.2020.1080p.WEB-DL-GRP");
    struct Case {
        const char* what;
        SubtitleCandidate c;
        ReleaseInfo v;
        std::optional<double> fps;
        int score;
        bool confident, same;
    };
    auto hash = candidate("h");
    hash.isHashMatch = true;
    auto hashAI = hash;
    hashAI.isAITranslated = true;
    auto sameFps = candidate("f", s("Movie.2020.1080p.WEBRip-GRP"));
    sameFps.fps = 25;
    auto hashFps = sameFps;
    hashFps.isHashMatch = true;
    // Exactly 100 before the hearing-impaired step: the group comes from the releaseGroup
    // field, and the release words all belong to the title (no word score).
    auto hi = candidate("hi", s("Movie"));
    hi.releaseGroup = QStringLiteral("GRP");
    hi.isHearingImpaired = true;
    const ReleaseInfo plain = video("Movie.2020.1080p-GRP");
    auto byField = candidate("g", s("Movie.2020.1080p.WEB-DL"));
    byField.releaseGroup = QStringLiteral("GRP, SDH");

    const Case cases[] = {
        {"hash only", hash, ReleaseInfo{}, std::nullopt, 1000, true, false},
        {"hash, machine-translated", hashAI, ReleaseInfo{}, std::nullopt, 950, false, false},
        // +100 same release, +30 family (web-dl vs webrip, not +35), +10 resolution,
        // words {1080p,web,dl,grp} vs {1080p,webrip,grp}: 20*2/5 = 8.
        {"same release, webrip", candidate("a", s("Movie.2020.1080p.WEBRip-GRP")), web,
         std::nullopt, 148, true, true},
        // +35 identical source, +10, words identical: +20.
        {"same release, identical", candidate("b", s("Movie.2020.1080p.WEB-DL-GRP")), web,
         std::nullopt, 165, true, true},
        // -30 source, no resolution bonus, words {1080p,web,dl,grp} vs {720p,bluray,other}.
        {"other release", candidate("c", s("Movie.2020.720p.BluRay-OTHER")), web, std::nullopt, -30,
         false, false},
        {"frame rate off", sameFps, web, 23.976, 148 - 500, false, true},
        {"frame rate close", sameFps, web, 24.6, 148, true, true},
        {"frame rate unknown", sameFps, web, std::nullopt, 148, true, true},
        {"frame rate ignored for hash", hashFps, web, 23.976, 1148, true, true},
        {"hearing impaired at 99", hi, plain, std::nullopt, 99, false, true},
        {"group from the releaseGroup field", byField, web, std::nullopt, 160, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Ranked r = SubtitleScorer::score(c.c, c.v, c.fps);
        EXPECT_EQ(r.score, c.score);
        EXPECT_EQ(r.isConfident, c.confident);
        EXPECT_EQ(r.isSameRelease, c.same);
        EXPECT_EQ(r.candidate, c.c);
    }
}

TEST(SubtitleScorer, ServiceAndWordRounding) {
    const ReleaseInfo v = video("Show.2020.1080p.AMZN.WEB-DL.DDP5.1-GRP");
    // Same service +20 and words 10; other service -10 and words 20*3/9 = 6.67 rounded to 7.
    const int same =
        SubtitleScorer::score(candidate("a", s("Show.2020.1080p.AMZN.WEB-DL-XYZ")), v, {}).score;
    const int other =
        SubtitleScorer::score(candidate("b", s("Show.2020.1080p.NF.WEB-DL-XYZ")), v, {}).score;
    EXPECT_EQ(same - other, 33);
    // Words {1080p,amzn,web,dl,ddp5,1,grp} vs {1080p,amzn,web,dl,xyz}: 20*4/8 = 10 exactly;
    // +35 source, +20 service, +10 resolution.
    EXPECT_EQ(same, 75);
    // A quality word as group never makes the same release.
    EXPECT_FALSE(SubtitleScorer::score(candidate("c", s("Show.2020.1080p-WEB")),
                                       video("Show.2020.1080p-WEB"), {})
                     .isSameRelease);
}

TEST(SubtitleScorer, RankFiltersEpisodesAndKeepsAddonOrderOnTies) {
    const ReleaseInfo v = video("Show.Name.S02E05.720p.HDTV-GRP");
    auto wrong = candidate("wrong", s("Show.Name.S02E06.720p.HDTV-GRP"), "en", 0);
    wrong.season = 2;
    wrong.episode = 6;
    auto right = candidate("right", s("Show.Name.S02E05.720p.HDTV-GRP"), "en", 1);
    right.season = 2;
    right.episode = 5;
    auto onlySeason = candidate("season", std::nullopt, "en", 2);
    onlySeason.season = 3;  // without an episode it stays
    auto tieA = candidate("tieA", std::nullopt, "fr", 3);
    auto tieB = candidate("tieB", std::nullopt, "de", 4);
    const QList<Ranked> r =
        SubtitleScorer::rank({tieB, wrong, onlySeason, right, tieA}, v, std::nullopt);
    QStringList ids;
    for (const Ranked& x : r) ids << x.candidate.id;
    EXPECT_EQ(ids, (QStringList{"right", "season", "tieA", "tieB"}));
}

TEST(SubtitleScorer, PickFollowsLanguageOrder) {
    const ReleaseInfo v = video("Movie.2020.1080p.WEB-DL-GRP");
    auto en = candidate("en", s("Movie.2020.1080p.WEB-DL-GRP"), "en", 0);
    auto frWeak = candidate("frWeak", s("Movie.2020.720p.BluRay-OTHER"), "fr", 1);
    auto frGood = candidate("frGood", s("Movie.2020.1080p.WEBRip-GRP"), "fr-CA", 2);
    const QList<Ranked> withFrench = SubtitleScorer::rank({en, frWeak, frGood}, v, {});
    auto p = SubtitleScorer::pick(withFrench, {QStringLiteral("fr"), QStringLiteral("en")});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->candidate.id, QStringLiteral("frGood"));

    const QList<Ranked> noGoodFrench = SubtitleScorer::rank({en, frWeak}, v, {});
    p = SubtitleScorer::pick(noGoodFrench, {QStringLiteral("fr"), QStringLiteral("en")});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->candidate.id, QStringLiteral("en"));

    EXPECT_FALSE(SubtitleScorer::pick(noGoodFrench, {QStringLiteral("de")}));
    EXPECT_FALSE(SubtitleScorer::pick({}, {QStringLiteral("en")}));
}

TEST(SubtitleScorer, LanguageGroups) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale saved = icu::Locale::getDefault();
    icu::Locale::setDefault(icu::Locale("en_US"), status);
    const ReleaseInfo v = video("Movie.2020.1080p.WEB-DL-GRP");
    const QList<Ranked> ranked = SubtitleScorer::rank(
        {candidate("br", s("Movie.2020.1080p.WEB-DL-GRP"), "pt-BR", 0),
         candidate("pt", std::nullopt, "pt", 1), candidate("none", std::nullopt, nullptr, 2),
         candidate("sv", std::nullopt, "sv", 3), candidate("en", std::nullopt, "en", 4),
         candidate("de", std::nullopt, "de", 5), candidate("ar", std::nullopt, "ar", 6)},
        v, {});
    const auto [preferred, others] = SubtitleScorer::languageGroups(
        ranked, {QStringLiteral("en"), QStringLiteral("ja"), QStringLiteral("pt")});
    ASSERT_EQ(preferred.size(), 2);
    EXPECT_EQ(preferred[0].id, QStringLiteral("en"));
    EXPECT_EQ(preferred[0].name, QStringLiteral("English"));
    EXPECT_EQ(preferred[1].id, QStringLiteral("pt"));
    // Named after its first entry, the Brazilian one.
    EXPECT_EQ(preferred[1].name, QStringLiteral("Portuguese (Brazil)"));
    ASSERT_EQ(preferred[1].entries.size(), 2);
    EXPECT_EQ(preferred[1].entries[0].candidate.id, QStringLiteral("br"));
    QStringList names;
    for (const auto& g : others) names << g.name;
    EXPECT_EQ(names, (QStringList{"Arabic", "German", "Swedish", "Unknown Language"}));
    EXPECT_EQ(others.last().id, QStringLiteral("und"));
    icu::Locale::setDefault(saved, status);
}

TEST(SubtitleScorer, GroupNamesSortTheWayPeopleRead) {
    // In German, "Dänisch" sorts before "Deutsch" (a plain code-unit order puts it after).
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale saved = icu::Locale::getDefault();
    icu::Locale::setDefault(icu::Locale("de_DE"), status);
    const QList<Ranked> ranked = SubtitleScorer::rank(
        {candidate("de", std::nullopt, "de", 0), candidate("uk", std::nullopt, "uk", 1),
         candidate("da", std::nullopt, "da", 2)},
        {}, {});
    const auto [preferred, others] = SubtitleScorer::languageGroups(ranked, {});
    EXPECT_TRUE(preferred.isEmpty());
    QStringList names;
    for (const auto& g : others) names << g.name;
    EXPECT_EQ(names, (QStringList{QString::fromUtf8("Dänisch"), "Deutsch", "Ukrainisch"}));
    icu::Locale::setDefault(saved, status);
}

TEST(SubtitleScorer, CatalogMatch) {
    const QList<Meta> metas = {{QStringLiteral("Office Space"), s("1999"), "tt1"},
                               {QStringLiteral("The Office"), s("2005–2013"), "tt2"}};
    auto m = SubtitleScorer::bestMatch(metas, video("Office.S01E01.720p"));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->imdbID, QStringLiteral("tt2"));

    struct Case {
        const char* what;
        QList<Meta> metas;
        const char* name;
        const char* expected;  // imdb id or "" for none
    };
    const Case cases[] = {
        {"folds case, accents, width, & and apostrophes",
         {{QStringLiteral("Amélie & Friends' Story"), std::nullopt, "tt1"}},
         "AMELIE.and.Friends.Story.2001",
         "tt1"},
        {"full-width letters",
         {{QString::fromUtf8("Ｄｕｎｅ"), s("2021"), "tt1"}},
         "Dune.2021.1080p",
         "tt1"},
        {"year more than one away is skipped",
         {{QStringLiteral("Dune"), s("1984"), "tt1"}, {QStringLiteral("Dune"), s("2021"), "tt2"}},
         "Dune.2021.1080p",
         "tt2"},
        {"one year away still matches",
         {{QStringLiteral("Dune"), s("2020"), "tt1"}},
         "Dune.2021.1080p",
         "tt1"},
        {"exact year beats earlier position",
         {{QStringLiteral("Dune"), s("2020"), "tt1"}, {QStringLiteral("Dune"), s("2021"), "tt2"}},
         "Dune.2021",
         "tt2"},
        {"earlier wins on equal value",
         {{QStringLiteral("Dune"), std::nullopt, "tt1"},
          {QStringLiteral("Dune"), std::nullopt, "tt2"}},
         "Dune",
         "tt1"},
        {"releaseInfo without digits ignores the year",
         {{QStringLiteral("Dune"), s("TBA"), "tt1"}},
         "Dune.2021",
         "tt1"},
        {"three of four words",
         {{QStringLiteral("The Lord of Rings"), std::nullopt, "tt1"}},
         "Lord.of.the.Rings",
         "tt1"},
        {"similarity below 0.75",
         {{QStringLiteral("Dune Part Two"), std::nullopt, "tt1"}},
         "Dune.2021",
         ""},
        {"empty title", {{QStringLiteral("Dune"), std::nullopt, "tt1"}}, "1080p", ""},
        {"no results", {}, "Dune", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto got = SubtitleScorer::bestMatch(c.metas, video(c.name));
        if (*c.expected) {
            ASSERT_TRUE(got);
            EXPECT_EQ(got->imdbID, QString::fromLatin1(c.expected));
        } else {
            EXPECT_FALSE(got);
        }
    }
}

TEST(SubtitleScorer, CatalogMatchOverTheCatalogType) {
    MediaMeta space{QStringLiteral("movie"), QStringLiteral("tt0151804"),
                    QStringLiteral("Office Space"), std::nullopt, s("1999")};
    MediaMeta office{QStringLiteral("series"), QStringLiteral("tt0386676"),
                     QStringLiteral("The Office"), std::nullopt, s("2005-2013")};
    const auto m = SubtitleScorer::bestMatch(QList<MediaMeta>{space, office}, video("Office"));
    ASSERT_TRUE(m);
    EXPECT_EQ(*m, office);
}

TEST(SubtitleCandidate, DisplayTitleAndReleaseNames) {
    SubtitleCandidate c;
    c.order = 2;
    EXPECT_EQ(c.displayTitle(), QStringLiteral("Subtitle 3"));
    EXPECT_TRUE(c.releaseNames().isEmpty());
    c.fileName = QStringLiteral("Movie.2020.1080p.WEB-DL-GRP.srt");
    EXPECT_EQ(c.displayTitle(), QStringLiteral("Movie.2020.1080p.WEB-DL-GRP"));
    c.releaseName = QString();
    EXPECT_EQ(c.displayTitle(), QStringLiteral("Movie.2020.1080p.WEB-DL-GRP"));
    c.releaseName = QStringLiteral("Movie 2020");
    EXPECT_EQ(c.displayTitle(), QStringLiteral("Movie 2020"));
    EXPECT_EQ(c.releaseNames(), (QStringList{QStringLiteral("Movie 2020"),
                                             QStringLiteral("Movie.2020.1080p.WEB-DL-GRP")}));
    // A name without a file extension keeps its last part.
    c.fileName = QStringLiteral("Movie.2020.1080p.WEB-DL-GRP");
    EXPECT_EQ(c.releaseNames().last(), QStringLiteral("Movie.2020.1080p.WEB-DL-GRP"));
}
