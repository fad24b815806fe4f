#include "search/AddonClient.h"

#include "search/Gather.h"
#include "search/NetworkGuard.h"

#include <QSet>

namespace rillow {

namespace {

QCoro::Task<QList<SearchResult>> titleResults(std::shared_ptr<HttpSession> session, QUrl url,
                                              MediaMeta meta, SearchSource source, int limit,
                                              std::chrono::milliseconds timeLimit,
                                              CancelToken token) {
    if (!mayContact(url)) co_return {};
    const HttpResult result = co_await getWithin(session, url, timeLimit, token);
    if (!result.ok() || token.isCancelled()) co_return {};
    // Named locals, not temporaries inside the co_await (see FeedSearch.cpp).
    const QByteArray body = result.response->body;
    auto read = [body, meta, source, limit] {
        QList<SearchResult> results;
        for (const AddonStream& stream : parseStreams(body))
            results.append(streamResult(stream, meta, source));
        sortBySeeders(results);
        if (results.size() > limit) results.resize(limit);
        return results;
    };
    QList<SearchResult> results = co_await readAnswer(body.size(), std::move(read));
    co_return results;
}

QCoro::Task<QList<SearchResult>> mergeTitles(std::vector<QCoro::Task<QList<SearchResult>>> tasks) {
    QList<SearchResult> merged;
    QSet<QString> seen;
    // Awaited in title order: the earlier title keeps a torrent that several list.
    for (auto& task : tasks) {
        for (SearchResult& result : co_await std::move(task)) {
            if (seen.contains(result.id)) continue;
            seen.insert(result.id);
            merged.append(std::move(result));
        }
    }
    co_return merged;
}

}  // namespace

HttpOptions AddonClient::sessionOptions() {
    HttpOptions options;
    options.requestTimeoutMs = 30'000;
    return options;
}

AddonClient::AddonClient(std::shared_ptr<HttpSessionPool> sessions, int perMetaLimit,
                         std::chrono::milliseconds perTitleTimeLimit)
    : sessions_(std::move(sessions)),
      perMetaLimit_(perMetaLimit),
      perTitleTimeLimit_(perTitleTimeLimit) {}

QCoro::Task<QList<SearchResult>> AddonClient::results(QList<MediaMeta> metas, SearchSource source,
                                                      CancelToken token) const {
    const auto base = normalizeBaseURL(source.baseURL);
    std::vector<QCoro::Task<QList<SearchResult>>> tasks;
    if (base) {
        for (const MediaMeta& meta : metas) {
            const auto url = streamURL(*base, meta);
            if (!url) continue;
            tasks.push_back(titleResults(sessions_->next(), *url, meta, source, perMetaLimit_,
                                         perTitleTimeLimit_, token));
        }
    }
    return mergeTitles(std::move(tasks));
}

}  // namespace rillow
