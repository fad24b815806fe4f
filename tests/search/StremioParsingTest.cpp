#include "search/StremioParsing.h"

#include <gtest/gtest.h>

using namespace rillow;

namespace {

const QString kFloppy = QString::fromUtf8("\xF0\x9F\x92\xBE");
const QString kBust = QString::fromUtf8("\xF0\x9F\x91\xA4");
constexpr qint64 GiB = 1024LL * 1024 * 1024;

SearchSource addonSource() {
    SearchSource source = SearchSource::make(SearchSource::Kind::stremio, QStringLiteral("Addon"),
                                             QStringLiteral("https://addon.test/manifest.json"));
    source.id = QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-00000000000a"));
    return source;
}

TEST(NormalizeIMDbID, Table) {
    struct Case {
        const char* text;
        std::optional<QString> id;
    };
    const std::vector<Case> cases = {
        {"tt1234567", QString("tt1234567")},
        {"TT1234567", QString("TT1234567")},
        {"tt1234567:1:2", QString("tt1234567")},
        {":tt0133093", QString("tt0133093")},
        {"tt12345678901", QString("tt12345678901")},
        {"tt12345", std::nullopt},
        {"kitsu:1234567", std::nullopt},
        {"tt12a4567", std::nullopt},
        {"tt", std::nullopt},
        {"", std::nullopt},
        {"xx1234567", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeIMDbID(c.text), c.id) << c.text;
}

TEST(NormalizeBaseURL, Table) {
    struct Case {
        const char* text;
        std::optional<QString> base;
    };
    const std::vector<Case> cases = {
        {"  https://addon.test/abc/manifest.json \n", QString("https://addon.test/abc")},
        {"https://addon.test/abc/MANIFEST.JSON?x=1", QString("https://addon.test/abc")},
        {"https://addon.test/abc///", QString("https://addon.test/abc")},
        {"http://127.0.0.1:8080", QString("http://127.0.0.1:8080")},
        {"stremio://addon.test/manifest.json", std::nullopt},
        {"ftp://addon.test", std::nullopt},
        {"HTTPS://addon.test", std::nullopt},  // the scheme is compared as written
        {"   ", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(normalizeBaseURL(c.text), c.base) << c.text;
}

TEST(ParseMetas, LimitsAndFields) {
    QByteArray ten = R"({"metas":[)";
    for (int i = 0; i < 10; ++i) {
        if (i) ten += ",";
        ten += QStringLiteral(R"({"id":"tt000000%1","name":"Movie %1"})").arg(i).toUtf8();
    }
    ten += "]}";
    EXPECT_EQ(parseMetas(ten, "movie", 4).size(), 4);
    const QList<MediaMeta> all = parseMetas(ten, "movie", 10);
    ASSERT_EQ(all.size(), 10);
    EXPECT_EQ(all[9].title, "Movie 9");
    EXPECT_EQ(all[9].type, "movie");

    const QByteArray mixed = R"({"metas":[
        {"id":"kitsu:12345","name":"Skipped"},
        {"id":"tt7654321","year":"1999","poster":"https://img.test/p.jpg"},
        {"id":"tt7654322","name":"  Spaced\n","releaseInfo":"2001-2003","year":"2001"},
        {"id":"tt7654323","name":"   ","year":2004,"poster":"not a url"},
        {"id":7654324,"name":"Numeric id"}]})";
    const QList<MediaMeta> metas = parseMetas(mixed, "series", 10);
    ASSERT_EQ(metas.size(), 3);
    EXPECT_EQ(metas[0].title, "tt7654321");  // no name: the id
    EXPECT_EQ(metas[0].releaseInfo, "1999");
    EXPECT_EQ(metas[0].poster, QUrl("https://img.test/p.jpg"));
    EXPECT_EQ(metas[0].type, "series");
    EXPECT_EQ(metas[1].title, "Spaced");
    EXPECT_EQ(metas[1].releaseInfo, "2001-2003");
    EXPECT_EQ(metas[2].title, "");
    EXPECT_EQ(metas[2].releaseInfo, std::nullopt);  // a number counts as absent
    EXPECT_EQ(metas[2].poster, std::nullopt);

    for (const char* bad : {"", "[]", R"({"metas":{}})", "<html>", R"({"streams":[]})",
                            R"({"metas":[{"id":"tt7654321"},"text"]})"})
        EXPECT_TRUE(parseMetas(bad, "movie", 4).isEmpty()) << bad;
}

TEST(ParseStreams, InfoHashRules) {
    const QByteArray data = R"({"streams":[
        {"infoHash":"  0123456789abcdef0123456789abcdef01234567  ","name":"N","title":"T"},
        {"infoHash":"0123456789abcdef0123456789abcdef0123456"},
        {"infoHash":"0123456789abcdef0123456789abcdef0123456g"},
        {"url":"https://cdn.test/movie.mp4","title":"HTTP stream"},
        {"infoHash":"89ABCDEF0123456789ABCDEF0123456789ABCDEF","name":5},
        42]})";
    const QList<AddonStream> streams = parseStreams(data);
    ASSERT_EQ(streams.size(), 2);
    EXPECT_EQ(streams[0], (AddonStream{"N", "T", "0123456789ABCDEF0123456789ABCDEF01234567"}));
    EXPECT_EQ(streams[1], (AddonStream{"", "", "89ABCDEF0123456789ABCDEF0123456789ABCDEF"}));
    EXPECT_TRUE(parseStreams(R"({"streams":"none"})").isEmpty());
    EXPECT_TRUE(parseStreams("not json").isEmpty());
}

TEST(ParseSize, Table) {
    struct Case {
        QString text;
        std::optional<qint64> bytes;
    };
    const std::vector<Case> cases = {
        {kFloppy + " 2.5 GB", 2684354560LL},
        {kFloppy + "2.5GiB", 2684354560LL},
        {kFloppy + "\n 700 MB", 700LL * 1024 * 1024},  // \s takes line breaks
        {"Size: 700 MB", 700LL * 1024 * 1024},
        {"SIZE 3 kib", 3 * 1024},
        {"size:1.5 TB", static_cast<qint64>(1.5 * 1024 * GiB)},
        {"1,5 GB", std::nullopt},  // no size word, no emoji
        {"Size: 1,5 GB", 15 * GiB},
        {kFloppy + " 1.2.3 GB Size: 4 GB", 4 * GiB},  // first pattern's number fails, second wins
        {kFloppy + " 2 gb", std::nullopt},            // the emoji pattern is case-sensitive
        {"Size: 10000000000 TB", std::nullopt},       // does not fit 64 bits
        {"Size: . GB", std::nullopt},
        {"Size: 3 PB", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseSize(c.text), c.bytes) << c.text.toStdString();
}

TEST(ParseSeeders, Table) {
    struct Case {
        QString text;
        std::optional<qint64> seeders;
    };
    const std::vector<Case> cases = {
        {kBust + " 1,234", 1234},
        {kBust + "\n7", 7},
        {"Seeders: 15", 15},
        {"SEEDS 9", 9},
        {"seed:3", 3},
        {"seeder 4", 4},
        {kBust + " , Seeders: 5", 5},  // the first pattern gives no digits
        {kBust + " 99999999999999999999 seeds 2", 2},
        {"Peers: 3", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parseSeeders(c.text), c.seeders) << c.text.toStdString();
}

TEST(MagnetLink, EncodesNameWithTheFullQuerySet) {
    EXPECT_EQ(magnetLink("ABCDEF", "Tom & Jerry = 1/2? Café"),
              "magnet:?xt=urn:btih:ABCDEF&dn=Tom%20&%20Jerry%20=%201/2?%20Caf%C3%A9");
    EXPECT_EQ(magnetLink("AB", "a+b#c%"), "magnet:?xt=urn:btih:AB&dn=a+b%23c%25");
}

TEST(StreamURL, MovieAndSeries) {
    const MediaMeta movie{"movie", "tt0133093", "The Matrix", {}, {}};
    const MediaMeta series{"series", "tt0944947", "Thrones", {}, {}};
    EXPECT_EQ(streamURL("https://addon.test/x", movie)->toString(),
              "https://addon.test/x/stream/movie/tt0133093.json");
    EXPECT_EQ(streamURL("https://addon.test/x", series)->toString(),
              "https://addon.test/x/stream/series/tt0944947:1:1.json");
}

TEST(StreamResult, DisplayTitleAndDescription) {
    const MediaMeta meta{"movie", "tt0133093", "The Matrix", QUrl("https://img.test/m.jpg"), {}};
    const QString hash = "0123456789ABCDEF0123456789ABCDEF01234567";
    struct Case {
        const char* name;
        AddonStream stream;
        QString title;
        std::optional<qint64> seeders;
        std::optional<qint64> size;
    };
    const std::vector<Case> cases = {
        {"emoji description",
         {"Addon\n4K", "The.Matrix.1999.2160p\n" + kBust + " 1,234 " + kFloppy + " 2.5 GB", hash},
         "The.Matrix.1999.2160p",
         1234,
         2684354560LL},
        {"words in the name",
         {"Size: 700 MB Seeders: 15", "", hash},
         "Size: 700 MB Seeders: 15",
         15,
         700LL * 1024 * 1024},
        {"empty first lines are passed over",
         {"", "\n\nSecond line\nThird", hash},
         "Second line",
         std::nullopt,
         std::nullopt},
        {"blank first line falls to the name",
         {"Name line", "   \nNot this", hash},
         "Name line",
         std::nullopt,
         std::nullopt},
        {"CRLF is no separator", {"", "A\r\nB", hash}, "A\r\nB", std::nullopt, std::nullopt},
        {"catalog title", {"", "", hash}, "The Matrix", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const SearchResult result = streamResult(c.stream, meta, addonSource());
        EXPECT_EQ(result.title, c.title) << c.name;
        EXPECT_EQ(result.seeders, c.seeders) << c.name;
        EXPECT_EQ(result.sizeBytes, c.size) << c.name;
        EXPECT_EQ(result.id, "stremio:00000000-0000-4000-8000-00000000000A:" + hash) << c.name;
        EXPECT_EQ(result.link, Link::makeMagnet(magnetLink(hash, c.title))) << c.name;
        EXPECT_EQ(result.posterURL, meta.poster) << c.name;
        EXPECT_EQ(result.sourceName, "Addon") << c.name;
    }
    const MediaMeta untitled{"movie", "tt0133093", "", {}, {}};
    EXPECT_EQ(streamResult({"", "", hash}, untitled, addonSource()).title, "Torrent");
}

}  // namespace
