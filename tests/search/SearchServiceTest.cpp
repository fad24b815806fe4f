// The search service against real HTTP servers on loopback: feeds, a catalog stand-in, addons.
#include "search/TorrentSearchService.h"
#include "tests/support/TestHttpServer.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QTcpServer>

using namespace rillow;
using test::TestHttpServer;
using test::TestResponse;

namespace {

const std::string kBust = "\xF0\x9F\x91\xA4";

struct Item {
    std::string title;
    std::string guid;
    std::optional<int> seeders;
};

std::string hashFor(const std::string& name) {
    // A stable 40-digit hash per name, so the same name means the same torrent.
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(name), QCryptographicHash::Sha1);
    return digest.toHex().toStdString();
}

std::string feedXml(const std::vector<Item>& items) {
    std::string xml =
        "<?xml version=\"1.0\"?><rss xmlns:torznab=\"http://torznab.com/schemas/2015/feed\">"
        "<channel><title>Feed</title>";
    for (const Item& item : items) {
        xml += "<item><title>" + item.title + "</title><guid>" + item.guid + "</guid>";
        xml += "<link>magnet:?xt=urn:btih:" + hashFor(item.title) + "</link>";
        if (item.seeders)
            xml +=
                "<torznab:attr name=\"seeders\" value=\"" + std::to_string(*item.seeders) + "\"/>";
        xml += "</item>";
    }
    return xml + "</channel></rss>";
}

std::string metasJson(const std::vector<std::pair<std::string, std::string>>& metas) {
    std::string json = "{\"metas\":[";
    for (size_t i = 0; i < metas.size(); ++i) {
        if (i) json += ",";
        json += "{\"id\":\"" + metas[i].first + "\",\"name\":\"" + metas[i].second + "\"}";
    }
    return json + "]}";
}

struct Stream {
    std::string title;
    std::optional<int> seeders;
};

std::string streamsJson(const std::vector<Stream>& streams) {
    std::string json = "{\"streams\":[";
    for (size_t i = 0; i < streams.size(); ++i) {
        if (i) json += ",";
        std::string title = streams[i].title;
        if (streams[i].seeders) title += "\\n" + kBust + " " + std::to_string(*streams[i].seeders);
        json += "{\"name\":\"Addon\",\"title\":\"" + title + "\",\"infoHash\":\"" +
                hashFor(streams[i].title) + "\"}";
    }
    return json + "]}";
}

TestResponse after(int delayMs, TestResponse response) {
    response.delayMs = delayMs;
    return response;
}

SearchSource feed(const QString& name, const TestHttpServer& server, const QString& path) {
    return SearchSource::make(SearchSource::Kind::feed, name, server.url(path + "?q=%s"));
}

SearchSource addon(const QString& name, const TestHttpServer& server, const QString& path) {
    return SearchSource::make(SearchSource::Kind::stremio, name,
                              server.url(path + "/manifest.json"));
}

QStringList titles(const QList<SearchResult>& results) {
    QStringList out;
    for (const SearchResult& r : results) out << r.title;
    return out;
}

// A loopback port with nothing listening.
quint16 closedPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

class SearchServiceTest : public ::testing::Test {
protected:
    TorrentSearchServiceOptions options() {
        TorrentSearchServiceOptions o;
        o.catalogBaseAddress = catalog.baseUrl();
        return o;
    }
    void serveCatalog(const std::string& query, const std::string& movies,
                      const std::string& series = "{\"metas\":[]}") {
        catalog.route("/catalog/movie/top/search=" + query + ".json", TestResponse::json(movies));
        catalog.route("/catalog/series/top/search=" + query + ".json", TestResponse::json(series));
    }

    TestHttpServer feeds;
    TestHttpServer catalog;
    TestHttpServer addons;
};

TEST_F(SearchServiceTest, MergesFeedsAndAddonBySeedersInAnswerOrder) {
    feeds.route("/a", after(100, TestResponse::text(feedXml({
                                     {"A ten", "a1", 10},
                                     {"A five", "a2", 5},
                                     {"A none", "a3", {}},
                                     {"Shared", "s", 3},
                                 }))));
    feeds.route("/b", after(400, TestResponse::text(feedXml({
                                     {"B ten", "b1", 10},
                                     {"B zero", "b2", 0},
                                     {"Shared", "s", 3},
                                 }))));
    serveCatalog("big%20buck", metasJson({{"tt0000001", "Big Buck"}}));
    addons.route("/x/stream/movie/tt0000001.json",
                 after(800, TestResponse::json(streamsJson({{"S ten", 10}, {"S none", {}}}))));

    SearchSource b = feed("B", feeds, "/b");
    b.isEnabled = false;  // passed in, so searched: filtering is the caller's job
    const QList<SearchSource> sources = {addon("X", addons, "/x"), feed("A", feeds, "/a"), b};
    TorrentSearchService service(options());
    const QList<SearchResult> results =
        test::await(service.search(QStringLiteral("  big buck \n"), sources));

    EXPECT_EQ(titles(results), (QStringList{"A ten", "B ten", "S ten", "A five", "Shared", "Shared",
                                            "B zero", "A none", "S none"}));
    ASSERT_EQ(results.size(), 9);
    EXPECT_NE(results[4].id, results[5].id);  // the same torrent from two sources, twice
    EXPECT_EQ(results[4].link, results[5].link);
    EXPECT_EQ(results[0].id, "feed:" + sources[1].idText() + ":a1");
    EXPECT_EQ(results[2].id, "stremio:" + sources[0].idText() + ":" +
                                 QString::fromStdString(hashFor("S ten")).toUpper());
    EXPECT_EQ(results[2].sourceName, "X");

    // The trimmed query, encoded, in every request.
    EXPECT_EQ(feeds.requests().at(0).query, "q=big%20buck");
    EXPECT_EQ(catalog.requestCount("/catalog/movie/top/search=big%20buck.json"), 1);
    EXPECT_EQ(catalog.requestCount("/catalog/series/top/search=big%20buck.json"), 1);
}

TEST_F(SearchServiceTest, FailingSourcesGiveNothingAndHoldNobodyBeyondTheirTimeOut) {
    feeds.route("/good", TestResponse::text(feedXml({{"Good", "g", 1}})));
    TestResponse stalled;
    stalled.stall = true;
    feeds.route("/stall", stalled);
    feeds.route("/error", TestResponse::withStatus(500, "<html><body>Oops</body></html>"));
    TestResponse huge;
    huge.generatedBodyBytes = 256 * 1024;
    feeds.route("/huge", huge);
    const QString down = QStringLiteral("http://127.0.0.1:%1/rss?q=%s").arg(closedPort());

    TorrentSearchServiceOptions o = options();
    o.feed.requestTimeoutMs = 1'500;
    o.feed.maxBodyBytes = 64 * 1024;
    TorrentSearchService service(o);
    const QList<SearchSource> sources = {
        feed("Stall", feeds, "/stall"), SearchSource::make(SearchSource::Kind::feed, "Down", down),
        feed("Error", feeds, "/error"), feed("Huge", feeds, "/huge"),
        feed("Good", feeds, "/good"),
    };
    QElapsedTimer timer;
    timer.start();
    const QList<SearchResult> results = test::await(service.search("x", sources));
    const qint64 elapsed = timer.elapsed();
    EXPECT_EQ(titles(results), QStringList{"Good"});
    EXPECT_GE(elapsed, 1'400);  // the stalled source ran into its time-out ...
    EXPECT_LT(elapsed, 4'000);  // ... and nothing waited much longer than that
}

TEST_F(SearchServiceTest, SlowAddonTitleContributesNothing) {
    serveCatalog("q", metasJson({{"tt0000001", "Fast"}, {"tt0000002", "Slow"}}));
    addons.route("/x/stream/movie/tt0000001.json",
                 TestResponse::json(streamsJson({{"Fast one", 4}})));
    addons.route("/x/stream/movie/tt0000002.json",
                 after(6'000, TestResponse::json(streamsJson({{"Slow one", 9}}))));
    TorrentSearchService service(options());
    QElapsedTimer timer;
    timer.start();
    const QList<SearchResult> results =
        test::await(service.search("q", {addon("X", addons, "/x")}));
    EXPECT_EQ(titles(results), QStringList{"Fast one"});
    const qint64 elapsed = timer.elapsed();
    EXPECT_GE(elapsed, 5'000);  // the slow title had its full five seconds ...
    EXPECT_LT(elapsed, 5'900);  // ... and was given up then, not awaited
    EXPECT_EQ(addons.requestCount("/x/stream/movie/tt0000002.json"), 1);
}

TEST_F(SearchServiceTest, AddonTitlesSeriesPathLimitAndDuplicates) {
    serveCatalog("q", metasJson({{"tt0000001", "Movie"}}), metasJson({{"tt0000002", "Show"}}));
    std::vector<Stream> many;
    for (int i = 0; i < 10; ++i) many.push_back({"M" + std::to_string(i), i});
    many.push_back({"Both", 100});
    addons.route("/x/stream/movie/tt0000001.json", TestResponse::json(streamsJson(many)));
    addons.route("/x/stream/series/tt0000002:1:1.json",
                 TestResponse::json(streamsJson({{"Both", 100}, {"Episode", 1}})));
    TorrentSearchService service(options());
    const QList<SearchResult> results =
        test::await(service.search("q", {addon("X", addons, "/x///")}));
    // Eight per title, best seeded first; "Both" kept once, from the earlier (movie) title.
    EXPECT_EQ(titles(results),
              (QStringList{"Both", "M9", "M8", "M7", "M6", "M5", "M4", "M3", "Episode"}));
    EXPECT_EQ(addons.requestCount("/x/stream/series/tt0000002:1:1.json"), 1);
}

// Eight titles go to one addon host at once; none may wait behind the others for a connection
// (queued, a 3-second answer would end after the 5-second limit and be lost).
TEST_F(SearchServiceTest, AllEightTitlesOfOneAddonRunTogether) {
    std::vector<std::pair<std::string, std::string>> movies, series;
    for (int i = 0; i < 4; ++i) {
        movies.push_back({"tt100000" + std::to_string(i), "M"});
        series.push_back({"tt200000" + std::to_string(i), "S"});
    }
    serveCatalog("q", metasJson(movies), metasJson(series));
    addons.routePrefix("/x/stream/", [](const test::TestRequest& request) {
        return after(3'000, TestResponse::json(streamsJson({{request.path, 1}})));
    });
    TorrentSearchService service(options());
    const QList<SearchResult> results =
        test::await(service.search("q", {addon("X", addons, "/x")}));
    EXPECT_EQ(results.size(), 8);
    EXPECT_EQ(addons.requests().size(), 8u);
}

// Answers too large to read on the main thread are read on a worker, with the same results.
TEST_F(SearchServiceTest, LargeAnswersAreReadLikeSmallOnes) {
    std::vector<Item> items;
    std::vector<Stream> streams;
    for (int i = 0; i < 3'000; ++i) {
        items.push_back(
            {"Item " + std::to_string(i) + std::string(100, '.'), std::to_string(i), i});
        streams.push_back({"Stream " + std::to_string(i) + std::string(100, '.'), i});
    }
    const std::string feedBody = feedXml(items);
    const std::string streamBody = streamsJson(streams);
    ASSERT_GT(feedBody.size(), 256u * 1024);
    ASSERT_GT(streamBody.size(), 256u * 1024);
    feeds.route("/big", TestResponse::text(feedBody));
    serveCatalog("q", metasJson({{"tt0000001", "M"}}));
    addons.route("/x/stream/movie/tt0000001.json", TestResponse::json(streamBody));
    TorrentSearchService service(options());
    const QList<SearchResult> results =
        test::await(service.search("q", {feed("Big", feeds, "/big"), addon("X", addons, "/x")}));
    ASSERT_EQ(results.size(), 25 + 8);
    // The addon's best eight (2999 down to 2992 seeders), then the first 25 feed items.
    EXPECT_EQ(results.first().seeders, 2999);
    EXPECT_EQ(results[7].seeders, 2992);
    EXPECT_EQ(results[8].seeders, 24);
    EXPECT_EQ(results.last().seeders, 0);
}

TEST_F(SearchServiceTest, NothingIsSentWithoutQueryOrSourcesOrCatalogMatch) {
    feeds.route("/a", TestResponse::text(feedXml({{"A", "a", 1}})));
    TorrentSearchService service(options());
    const QList<SearchSource> sources = {feed("A", feeds, "/a"), addon("X", addons, "/x")};
    EXPECT_TRUE(test::await(service.search(" \t\n ", sources)).isEmpty());
    EXPECT_TRUE(test::await(service.search("a", {})).isEmpty());
    EXPECT_TRUE(feeds.requests().empty());
    EXPECT_TRUE(catalog.requests().empty());

    serveCatalog("nothing", "{\"metas\":[]}");
    EXPECT_TRUE(test::await(service.search("nothing", {addon("X", addons, "/x")})).isEmpty());
    EXPECT_EQ(catalog.requests().size(), 2u);
    EXPECT_TRUE(addons.requests().empty());
}

TEST_F(SearchServiceTest, CancellingTheTaskEndsEveryRequest) {
    TestResponse stalled;
    stalled.stall = true;
    feeds.route("/stall", stalled);
    catalog.routePrefix("/catalog/", [](const test::TestRequest&) {
        TestResponse r;
        r.stall = true;
        return r;
    });
    TorrentSearchService service(options());
    std::optional<QList<SearchResult>> answer;
    QElapsedTimer timer;
    timer.start();
    TaskHandle task = startTask(
        nullptr,
        [&service, &answer,
         sources = QList<SearchSource>{feed("S", feeds, "/stall"), addon("X", addons, "/x")}](
            CancelToken token) -> QCoro::Task<> {
            answer = co_await service.search("q", sources, token);
        });
    ASSERT_TRUE(test::waitUntil(
        [&] { return feeds.requests().size() == 1 && catalog.requests().size() == 2; }));
    task.cancel();
    ASSERT_TRUE(test::waitUntil([&] { return !task.isRunning(); }, 2'000));
    EXPECT_LT(timer.elapsed(), 5'000);  // far below the 12-second time-outs
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->isEmpty());
}

TEST(CatalogAddress, EnvironmentOverridesTheBuiltInAddress) {
    ::setenv("RILLOW_CATALOG_URL", "http://127.0.0.1:9/", 1);
    EXPECT_EQ(catalogBaseAddress(), "http://127.0.0.1:9");
    EXPECT_EQ(CinemetaClient().catalogURL("movie", "a%20b")->toString(QUrl::FullyEncoded),
              "http://127.0.0.1:9/catalog/movie/top/search=a%20b.json");
    ::unsetenv("RILLOW_CATALOG_URL");
    EXPECT_TRUE(catalogBaseAddress().startsWith("https://"));
}

TEST(CatalogClient, SubtitleLookupKeepsTenOfOneType) {
    TestHttpServer server;
    std::vector<std::pair<std::string, std::string>> ten;
    for (int i = 0; i < 10; ++i) ten.push_back({"tt000000" + std::to_string(i), "M"});
    server.route("/catalog/series/top/search=x.json", TestResponse::json(metasJson(ten)));
    CinemetaClient client(std::make_shared<HttpSession>(CinemetaClient::sessionOptions()),
                          server.baseUrl());
    EXPECT_EQ(test::await(client.search("x", "series", 10)).size(), 10);
    EXPECT_EQ(test::await(client.search("x", "movie", 10)).size(), 0);  // 404 page: no titles
}

}  // namespace
