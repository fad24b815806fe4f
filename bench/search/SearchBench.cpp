// Times one search over 10 feed sources and 2 addon sources on loopback, each source answering
// after its own delay between 0.2 and 1 s. Since every source is asked at once, the search
// should take about as long as its slowest source; the figure to watch is the overhead.
//
// Two layouts: every source on its own server (separate hosts), and every feed behind one
// server (one indexer proxy serving many feeds), where per-host connection limits apply.
#include "platform/Network.h"
#include "search/TorrentSearchService.h"
#include "tests/support/TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

int main(int argc, char** argv) {
    ::setenv("RILLOW_NETWORK", "loopback", 1);  // every server here is on 127.0.0.1
    QCoreApplication app(argc, argv);
    run(false);
    run(true);
    return 0;
}
