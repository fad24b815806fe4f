// Times one search over 10 feed sources and 2 addon sources on loopback, each source answering
// after its own delay between 0.2 and 1 s. Since every source is asked at once, the search
// should take about as long as its slowest source; the figure to watch is the overhead.
//
// Two layouts: every source on its own server (separate hosts), and every feed behind one
// server (one indexer proxy serving many feeds), where per-host connection limits apply.
#include "platform/Network.h"
#include "search/FeedParser.h"
#include "search/TorrentSearchService.h"
#include "tests/support/TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace rillow;
using test::TestHttpServer;
using test::TestResponse;

namespace {

constexpr int kFeeds = 10;
constexpr int kAddons = 2;
constexpr int kRuns = 5;

int delayOf(int source) {  // 200 ms to 1000 ms, all different
    return 200 + source * 800 / (kFeeds + kAddons - 1);
}

std::string feedBody(int source) {
    std::string xml = "<rss xmlns:torznab=\"t\"><channel>";
    for (int i = 0; i < 25; ++i) {
        char hash[41];
        std::snprintf(hash, sizeof hash, "%08d%032d", source, i);
        xml += "<item><title>Feed " + std::to_string(source) + " item " + std::to_string(i) +
               "</title><guid>" + hash + "</guid><link>magnet:?xt=urn:btih:" + hash +
               "</link><torznab:attr name=\"seeders\" value=\"" + std::to_string(i * 7 % 50) +
               "\"/><size>1048576</size></item>";
    }
    return xml + "</channel></rss>";
}

std::string streamsBody(int source) {
    std::string json = "{\"streams\":[";
    for (int i = 0; i < 8; ++i) {
        char hash[41];
        std::snprintf(hash, sizeof hash, "%08d%032d", 100 + source, i);
        if (i) json += ",";
        json += std::string("{\"name\":\"Addon\",\"title\":\"Stream ") + std::to_string(i) +
                "\\n\xF0\x9F\x91\xA4 " + std::to_string(i * 3) +
                " \xF0\x9F\x92\xBE 1.5 GB\",\"infoHash\":\"" + hash + "\"}";
    }
    return json + "]}";
}

TestResponse after(int delayMs, TestResponse response) {
    response.delayMs = delayMs;
    return response;
}

struct Setup {
    std::vector<std::unique_ptr<TestHttpServer>> servers;
    QList<SearchSource> sources;
    QString catalog;
};

Setup build(bool sharedFeedHost) {
    Setup setup;
    auto server = [&setup] {
        setup.servers.push_back(std::make_unique<TestHttpServer>());
        return setup.servers.back().get();
    };
    TestHttpServer* catalog = server();
    const std::string metas = "{\"metas\":[{\"id\":\"tt0000001\",\"name\":\"Bench\"}]}";
    catalog->route("/catalog/movie/top/search=bench%20query.json", TestResponse::json(metas));
    catalog->route("/catalog/series/top/search=bench%20query.json",
                   TestResponse::json("{\"metas\":[]}"));
    setup.catalog = catalog->baseUrl();

    TestHttpServer* shared = sharedFeedHost ? server() : nullptr;
    for (int i = 0; i < kFeeds; ++i) {
        TestHttpServer* host = shared ? shared : server();
        const std::string path = "/feed" + std::to_string(i);
        host->route(path, after(delayOf(i), TestResponse::text(feedBody(i))));
        setup.sources.append(
            SearchSource::make(SearchSource::Kind::feed, QStringLiteral("Feed %1").arg(i),
                               host->url(QString::fromStdString(path)) + QStringLiteral("?q=%s")));
    }
    for (int a = 0; a < kAddons; ++a) {
        TestHttpServer* host = server();
        host->route("/stream/movie/tt0000001.json",
                    after(delayOf(kFeeds + a), TestResponse::json(streamsBody(a))));
        setup.sources.append(SearchSource::make(SearchSource::Kind::stremio,
                                                QStringLiteral("Addon %1").arg(a),
                                                host->url(QStringLiteral("/manifest.json"))));
    }
    return setup;
}

void run(bool sharedFeedHost) {
    Setup setup = build(sharedFeedHost);
    TorrentSearchServiceOptions options;
    options.catalogBaseAddress = setup.catalog;
    TorrentSearchService service(options);
    const int slowest = delayOf(kFeeds + kAddons - 1);
    std::vector<qint64> totals;
    qsizetype count = 0;
    for (int r = 0; r < kRuns; ++r) {
        QElapsedTimer timer;
        timer.start();
        const QList<SearchResult> results =
            QCoro::waitFor(service.search(QStringLiteral("bench query"), setup.sources));
        totals.push_back(timer.elapsed());
        count = results.size();
    }
    std::sort(totals.begin(), totals.end());
    std::printf("%s: %d feeds + %d addons, %lld results; slowest source %d ms\n",
                sharedFeedHost ? "feeds behind one host" : "one host per source", kFeeds, kAddons,
                static_cast<long long>(count), slowest);
    std::printf(
        "  total over %d runs: min %lld ms, median %lld ms, max %lld ms "
        "(median overhead %lld ms, goal <= 50 ms)\n",
        kRuns, static_cast<long long>(totals.front()),
        static_cast<long long>(totals[totals.size() / 2]), static_cast<long long>(totals.back()),
        static_cast<long long>(totals[totals.size() / 2] - slowest));
}

}  // namespace

// How long reading an answer holds the thread that reads it, for a usual and a capped body.
void parseFigures() {
    for (const int items : {25, 50'000}) {
        std::string xml = "<rss xmlns:torznab=\"t\"><channel>";
        for (int i = 0; i < items; ++i)
            xml += "<item><title>Some.Release.Name.2024.1080p.WEB-DL " + std::to_string(i) +
                   "</title><guid>" + std::to_string(i) +
                   "</guid><link>magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567"
                   "</link><torznab:attr name=\"seeders\" value=\"5\"/><size>1048576</size>"
                   "<description>" +
                   std::string(400, 'd') + "</description></item>";
        xml += "</channel></rss>";
        const QByteArray body = QByteArray::fromStdString(xml);
        QElapsedTimer timer;
        timer.start();
        const auto parsed = FeedParser().parse(body);
        std::printf("feed of %d items (%.1f MiB): read in %lld ms\n", items,
                    body.size() / 1048576.0, static_cast<long long>(timer.elapsed()));
        if (parsed.size() != items)
            std::printf("  unexpected item count %lld\n", static_cast<long long>(parsed.size()));
    }
    std::string json = "{\"streams\":[";
    const int streams = 60'000;
    for (int i = 0; i < streams; ++i) {
        char hash[41];
        std::snprintf(hash, sizeof hash, "%040d", i);
        if (i) json += ",";
        json += std::string(
                    "{\"name\":\"Addon 4K\",\"title\":\"Release.Name.2160p\\n"
                    "\xF0\x9F\x91\xA4 12 \xF0\x9F\x92\xBE 1.5 GB ") +
                std::string(300, 's') + "\",\"infoHash\":\"" + hash + "\"}";
    }
    json += "]}";
    const QByteArray body = QByteArray::fromStdString(json);
    const MediaMeta meta{"movie", "tt0000001", "Bench", {}, {}};
    const SearchSource source = SearchSource::make(SearchSource::Kind::stremio, "A", "http://a");
    QElapsedTimer timer;
    timer.start();
    qsizetype count = 0;
    for (const AddonStream& stream : parseStreams(body)) {
        streamResult(stream, meta, source);
        ++count;
    }
    std::printf("addon answer of %lld streams (%.1f MiB): read in %lld ms\n",
                static_cast<long long>(count), body.size() / 1048576.0,
                static_cast<long long>(timer.elapsed()));
}

// The longest pause of a 5 ms main-thread timer during a search whose one feed answers with a
// body near the session's cap.
void mainThreadStall() {
    std::string xml = "<rss xmlns:torznab=\"t\"><channel>";
    for (int i = 0; i < 50'000; ++i)
        xml += "<item><title>Item " + std::to_string(i) + "</title><guid>" + std::to_string(i) +
               "</guid><link>magnet:?xt=urn:btih:0123456789abcdef0123456789abcdef01234567</link>"
               "<description>" +
               std::string(450, 'd') + "</description></item>";
    xml += "</channel></rss>";
    TestHttpServer server;
    server.route("/big", TestResponse::text(xml));
    TorrentSearchService service;
    const QList<SearchSource> sources = {SearchSource::make(
        SearchSource::Kind::feed, "Big", server.url(QStringLiteral("/big?q=%s")))};
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.elapsed());
        sinceTick.restart();
    });
    QElapsedTimer total;
    total.start();
    sinceTick.start();
    ticker.start(5);
    const QList<SearchResult> results = QCoro::waitFor(service.search("x", sources));
    ticker.stop();
    std::printf(
        "search with a %.1f MiB feed: %lld results in %lld ms; longest main-thread "
        "pause %lld ms\n",
        xml.size() / 1048576.0, static_cast<long long>(results.size()),
        static_cast<long long>(total.elapsed()), static_cast<long long>(longest));
}

int main(int argc, char** argv) {
    ::setenv("RILLOW_NETWORK", "loopback", 1);  // every server here is on 127.0.0.1
    QCoreApplication app(argc, argv);
    // "stall" alone runs the last figure (for profiling it).
    const bool stallOnly = argc > 1 && std::string(argv[1]) == "stall";
    if (!stallOnly) {
        run(false);
        run(true);
        parseFigures();
    }
    mainThreadStall();
    return 0;
}
