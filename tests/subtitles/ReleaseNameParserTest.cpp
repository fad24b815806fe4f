// Release-name parsing: the documented edge cases as one table with every field, names of our
// own for each source pattern and each service word, merging of several names, and the match
// helper.
#include "subtitles/ReleaseNameParser.h"
#include "tests/subtitles/Printers.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

using namespace rillow;
namespace P = rillow::ReleaseNameParser;

namespace {

std::optional<QString> s(const char* text) {
    return QString::fromUtf8(text);
}
constexpr std::nullopt_t none = std::nullopt;

struct Case {
    const char* name;
    const char* title;
    std::optional<int> year, season, episode;
    std::optional<QString> group, source, resolution, service;
};

std::string describe(const ReleaseInfo& r) {
    auto o = [](const auto& v) -> std::string {
        if (!v) return "-";
        if constexpr (std::is_same_v<std::decay_t<decltype(*v)>, int>)
            return std::to_string(*v);
        else
            return v->toStdString();
    };
    return "title=" + r.title.toStdString() + " year=" + o(r.year) + " S=" + o(r.season) +
           " E=" + o(r.episode) + " group=" + o(r.group) + " source=" + o(r.source) +
           " res=" + o(r.resolution) + " service=" + o(r.service);
}

void expectCase(const Case& c, const ReleaseInfo& r) {
    SCOPED_TRACE(std::string(c.name) + " -> " + describe(r));
    EXPECT_EQ(r.title, QString::fromUtf8(c.title));
    EXPECT_EQ(r.year, c.year);
    EXPECT_EQ(r.season, c.season);
    EXPECT_EQ(r.episode, c.episode);
    EXPECT_EQ(r.group, c.group);
    EXPECT_EQ(r.source, c.source);
    EXPECT_EQ(r.resolution, c.resolution);
    EXPECT_EQ(r.service, c.service);
}

}  // namespace

TEST(ReleaseNameParser, DocumentedNames) {
    const Case cases[] = {
        {"The.Movie.2019.1080p.WEB-DL.DDP5.1.H.264-GROUP.mkv", "The Movie", 2019, none, none,
         s("GROUP"), s("web-dl"), s("1080p"), none},
        {"Show.Name.S02E05.720p.HDTV.x264-GRP", "Show Name", none, 2, 5, s("GRP"), s("hdtv"),
         s("720p"), none},
        {"[Fansubs] Some Show - 07 (1080p) [ABCD1234].mkv", "Some Show", none, none, 7,
         s("Fansubs"), none, s("1080p"), none},
        {"2001.A.Space.Odyssey.1968.720p", "2001 A Space Odyssey", 1968, none, none, none, none,
         s("720p"), none},
        {"1917.1080p", "1917", none, none, none, none, none, s("1080p"), none},
        {"1917.2019.1080p", "1917", 2019, none, none, none, none, s("1080p"), none},
        {"Movie.2020.1080p.AMZN.WEB-DL", "Movie", 2020, none, none, none, s("web-dl"), s("1080p"),
         s("AMZN")},
        {"Netflix.Story.2020.1080p.WEB-DL", "Netflix Story", 2020, none, none, none, s("web-dl"),
         s("1080p"), none},
        {"Movie.Name.1080i.HDTV", "Movie Name", none, none, none, none, s("hdtv"), s("1080p"),
         none},
        {"Movie.4K.HDR", "Movie", none, none, none, none, none, s("2160p"), none},
        {"Movie Name 2020 1080p [NAME.MX]", "Movie Name", 2020, none, none, s("NAME"), none,
         s("1080p"), none},
        // Our own: other season/episode forms, site labels, brackets, groups not taken.
        {"Show.Name.3x07.HDTV-LOL.avi", "Show Name", none, 3, 7, s("LOL"), s("hdtv"), none, none},
        {"Show Name Season 2 Episode 10 720p", "Show Name", none, 2, 10, none, none, s("720p"),
         none},
        {"Show.Name.S03.1080p.BluRay.x264-ROVERS", "Show Name", none, 3, none, s("ROVERS"),
         s("bluray"), s("1080p"), none},
        {"Show.Name.E12.WEBRip", "Show Name", none, none, 12, none, s("webrip"), none, none},
        {"www.Torrenting.com - Movie.Title.2018.720p.BluRay", "Movie Title", 2018, none, none, none,
         s("bluray"), s("720p"), none},
        {"[www.site.org] Movie 2010 DVDRip", "Movie", 2010, none, none, none, s("dvd"), none, none},
        {"Movie-Title", "Movie-Title", none, none, none, none, none, none, none},
        {"Movie.2011.1080p.BluRay-1080p", "Movie", 2011, none, none, none, s("bluray"), s("1080p"),
         none},
        {"Movie.2011.720p.WEB-DL-12345", "Movie", 2011, none, none, none, s("web-dl"), s("720p"),
         none},
        {"Movie.2012.1080p [5.1]", "Movie", 2012, none, none, none, none, s("1080p"), none},
        {"Movie.2013.720p.WEB.H264-GRP [rarbg]", "Movie", 2013, none, none, s("rarbg"), s("web"),
         s("720p"), none},
        {"Film.2014.720p.HDTV-GRP [eztv]", "Film", 2014, none, none, s("eztv"), s("hdtv"),
         s("720p"), none},
        {"[SubsGroup] Anime Title - 1024v2 [720p].mkv", "Anime Title", none, none, 1024,
         s("SubsGroup"), none, s("720p"), none},
        {"Episode 3.mkv", "", none, none, 3, none, none, none, none},
        {"", "", none, none, none, none, none, none, none},
        {"Just Some Words", "Just Some Words", none, none, none, none, none, none, none},
    };
    for (const Case& c : cases) expectCase(c, P::parse(QString::fromUtf8(c.name)));
}

TEST(ReleaseNameParser, SourcePatternsInOrder) {
    const std::pair<const char*, const char*> cases[] = {
        {"Movie.2020.Blu-ray.1080p", "bluray"},
        {"Movie.2020.BluRay", "bluray"},
        {"Movie.2020.Blu.Ray", "bluray"},
        {"Movie.2020.BDRip", "bluray"},
        {"Movie.2020.BRRip", "bluray"},
        {"Movie.2020.BD Remux", "bluray"},
        {"Movie.2020.BDMV", "bluray"},
        {"Movie.2020.BD25", "bluray"},
        {"Movie.2020.BD50", "bluray"},
        {"Movie.2020.REMUX", "bluray"},
        {"Movie.2020.WEB-DL", "web-dl"},
        {"Movie.2020.WEBDL", "web-dl"},
        {"Movie.2020.web dl", "web-dl"},
        {"Movie.2020.WEBRip", "webrip"},
        {"Movie.2020.WEB-Rip", "webrip"},
        {"Movie.2020.HDTV", "hdtv"},
        {"Movie.2020.PDTV", "hdtv"},
        {"Movie.2020.DSR", "hdtv"},
        {"Movie.2020.DSRip", "hdtv"},
        {"Movie.2020.SATRip", "hdtv"},
        {"Movie.2020.TVRip", "hdtv"},
        {"Movie.2020.HDTVRip", "hdtv"},
        {"Movie.2020.DVDRip", "dvd"},
        {"Movie.2020.DVD-Rip", "dvd"},
        {"Movie.2020.DVD5", "dvd"},
        {"Movie.2020.DVD9", "dvd"},
        {"Movie.2020.DVDR", "dvd"},
        {"Movie.2020.DVD", "dvd"},
        {"Movie.2020.HDRip", "hdrip"},
        {"Movie.2020.HD-Rip", "hdrip"},
        {"Movie.2020.WEB", "web"},
        {"Movie.2020.VODRip", "web"},
        {"Movie.2020.AMZN", "web"},
        {"Movie.2020.NF", "web"},
        {"Movie.2020.DSNP", "web"},
        {"Movie.2020.HMAX", "web"},
        {"Movie.2020.ATVP", "web"},
        // Earlier patterns win over later ones anywhere in the name.
        {"Movie.2020.WEB.BluRay", "bluray"},
        {"Movie.2020.HDRip.DVD", "dvd"},
        {"Movie.2020.WEBRip.WEB-DL", "web-dl"},
        // Word boundaries: inside a word nothing matches.
        {"Movie.2020.XWEB", ""},
        {"Movie.2020.DVDs", ""},
    };
    for (const auto& [name, source] : cases) {
        SCOPED_TRACE(name);
        const auto got = P::parse(QString::fromUtf8(name)).source;
        if (*source)
            EXPECT_EQ(got, QString::fromUtf8(source));
        else
            EXPECT_EQ(got, std::nullopt);
    }
}

TEST(ReleaseNameParser, EveryServiceWordAfterTheFirstQualityTag) {
    const std::pair<const char*, const char*> words[] = {
        {"amzn", "AMZN"}, {"amazon", "AMZN"}, {"nf", "NF"},   {"netflix", "NF"}, {"dsnp", "DSNP"},
        {"dsny", "DSNP"}, {"hmax", "HMAX"},   {"max", "MAX"}, {"atvp", "ATVP"},  {"hulu", "HULU"},
        {"pcok", "PCOK"}, {"pmtp", "PMTP"},   {"it", "iT"},   {"itunes", "iT"},  {"crav", "CRAV"},
        {"stan", "STAN"}, {"ip", "iP"},       {"hbo", "HBO"}, {"roku", "ROKU"},  {"sho", "SHO"},
        {"skst", "SKST"}, {"now", "NOW"},     {"cr", "CR"},   {"funi", "FUNI"}};
    for (const auto& [word, code] : words) {
        const QString w = QString::fromLatin1(word).toUpper();
        SCOPED_TRACE(word);
        EXPECT_EQ(
            P::parse(QStringLiteral("Title.2021.1080p.") + w + QStringLiteral(".WEB-DL.x264-GRP"))
                .service,
            QString::fromLatin1(code));
        // Before the first quality tag the word is part of the title, not a service (unless
        // the word is itself a quality tag, as AMZN, NF, DSNP, HMAX and ATVP are).
        const bool isTag = QStringList{"AMZN", "NF", "DSNP", "HMAX", "ATVP"}.contains(w);
        if (!isTag) {
            EXPECT_EQ(P::parse(QStringLiteral("Title.") + w + QStringLiteral(".2021.1080p.WEB-DL"))
                          .service,
                      std::nullopt);
        }
    }
    // The first service word after the tag wins.
    EXPECT_EQ(P::parse(QStringLiteral("Movie.2020.720p.HULU.NF.WEB-DL")).service, s("HULU"));
}

TEST(ReleaseNameParser, TokensAreLowerCaseWordsOfTheName) {
    const ReleaseInfo r = P::parse(QStringLiteral("Crème.Brûlée.2019.1080p.WEB-DL-GRP.mkv"));
    EXPECT_EQ(r.tokens,
              (QSet<QString>{QStringLiteral("crème"), QStringLiteral("brûlée"),
                             QStringLiteral("2019"), QStringLiteral("1080p"), QStringLiteral("web"),
                             QStringLiteral("dl"), QStringLiteral("grp")}));
    EXPECT_EQ(r.title, QStringLiteral("Crème Brûlée"));
}

TEST(ReleaseNameParser, SourceFamilyJoinsTheWebSources) {
    ReleaseInfo r;
    EXPECT_EQ(r.sourceFamily(), std::nullopt);
    for (const char* web : {"web-dl", "webrip", "web"}) {
        r.source = QString::fromLatin1(web);
        EXPECT_EQ(r.sourceFamily(), s("web"));
    }
    r.source = QStringLiteral("bluray");
    EXPECT_EQ(r.sourceFamily(), s("bluray"));
}

TEST(ReleaseNameParser, SeveralNamesMerge) {
    const ReleaseInfo r = P::parse(QStringList{QStringLiteral("Episode 3.mkv"),
                                               QStringLiteral("Show.Name.S01.1080p.WEB-DL-GRP")});
    expectCase({"merged", "Show Name", none, 1, 3, s("GRP"), s("web-dl"), s("1080p"), none}, r);
    EXPECT_TRUE(r.tokens.contains(QStringLiteral("episode")));
    EXPECT_TRUE(r.tokens.contains(QStringLiteral("grp")));

    // The episode never comes from another name; the year comes with a borrowed title only
    // when the first has none.
    const ReleaseInfo e = P::parse(
        QStringList{QStringLiteral("Sample.mkv"), QStringLiteral("Show.S02E09.2019.720p-XYZ")});
    EXPECT_EQ(e.title, QStringLiteral("Show"));
    EXPECT_EQ(e.season, 2);
    EXPECT_EQ(e.episode, std::nullopt);
    EXPECT_EQ(e.group, s("XYZ"));

    const ReleaseInfo y = P::parse(
        QStringList{QStringLiteral("cd1.avi"), QStringLiteral("Old.Movie.1999.DVDRip-AAA")});
    EXPECT_EQ(y.title, QStringLiteral("Old Movie"));
    EXPECT_EQ(y.year, 1999);

    // A meaningful first title stays.
    const ReleaseInfo keep = P::parse(QStringList{QStringLiteral("Real.Title.2005.mkv"),
                                                  QStringLiteral("Other.Title.2006.720p")});
    EXPECT_EQ(keep.title, QStringLiteral("Real Title"));
    EXPECT_EQ(keep.year, 2005);
    EXPECT_EQ(keep.resolution, s("720p"));

    EXPECT_EQ(P::parse(QStringList{QString(), QString()}), ReleaseInfo{});
    EXPECT_EQ(P::parse(QStringList{}), ReleaseInfo{});
}

TEST(ReleaseNameParser, QualityWords) {
    for (const char* yes : {"1080p", "WEB-DL", "H.264", "x265", "DDP", "Atmos", "nf", "5", "SDH"})
        EXPECT_TRUE(P::isQualityWord(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"GROUP", "5.1", "", "movie", "DDP5.1", "webdl2"})
        EXPECT_FALSE(P::isQualityWord(QString::fromLatin1(no))) << no;
}

TEST(ReleaseNameParser, MatchesGivesRangesAndGroups) {
    const auto m = P::matches(QStringLiteral(R"((\d+)(x)?)"), QStringLiteral("a12x b3"));
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0].range, (P::Range{1, 3}));
    EXPECT_EQ(m[0].groups, (QStringList{QStringLiteral("12"), QStringLiteral("x")}));
    EXPECT_EQ(m[1].range, (P::Range{6, 1}));
    EXPECT_EQ(m[1].groups, (QStringList{QStringLiteral("3"), QString()}));

    EXPECT_EQ(P::matches(QStringLiteral("abc"), QStringLiteral("xABCx")).size(), 0);
    EXPECT_EQ(P::matches(QStringLiteral("abc"), QStringLiteral("xABCx"), true).size(), 1);
    // Look-behind and look-ahead in ICU syntax.
    EXPECT_EQ(P::matches(QStringLiteral(R"((?<![0-9])19\d\d(?![0-9]))"),
                         QStringLiteral("1999 21999 1888 1950"))
                  .size(),
              2);
    EXPECT_TRUE(P::matches(QStringLiteral("(unclosed"), QStringLiteral("(unclosed")).isEmpty());
    EXPECT_TRUE(P::matches(QStringLiteral("x"), QString()).isEmpty());
}

TEST(ReleaseNameParser, SameResultsFromManyThreadsAtOnce) {
    const QStringList names = {QStringLiteral("The.Movie.2019.1080p.WEB-DL.DDP5.1.H.264-GROUP.mkv"),
                               QStringLiteral("[Fansubs] Some Show - 07 (1080p) [ABCD1234].mkv"),
                               QStringLiteral("Show.Name.S02E05.720p.HDTV.x264-GRP"),
                               QStringLiteral("Movie Name 2020 1080p [NAME.MX]")};
    QList<ReleaseInfo> expected;
    for (const QString& n : names) expected.append(P::parse(n));
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 200; ++round) {
                const qsizetype i = (t + round) % names.size();
                if (P::parse(names[i]) != expected[i]) ++mismatches;
                // Arbitrary patterns share the compiled-pattern cache with the fixed ones.
                if (P::matches(QStringLiteral("x%1").arg(round % 7), QStringLiteral("x3 x4"))
                        .size() > 1)
                    ++mismatches;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
}
