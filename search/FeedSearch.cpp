#include "search/FeedSearch.h"

#include "search/Gather.h"
#include "search/NetworkGuard.h"
#include "search/TextRules.h"

namespace rillow {

std::optional<QUrl> feedSearchURL(const QString& urlTemplate, const QString& query) {
    QString text = urlTemplate;
    text.replace(QLatin1String("%s"), encodeQuery(query));
    return parseURL(text);
}

std::optional<Link> feedItemLink(const FeedItem& item) {
    for (const QString* candidate : {&item.magnet, &item.link, &item.enclosureURL}) {
        if (candidate->startsWith(QLatin1String("magnet:"))) return Link::makeMagnet(*candidate);
    }
    for (const QString* candidate : {&item.enclosureURL, &item.link}) {
        if (auto url = parseURL(*candidate)) return Link::makeTorrentURL(*url);
    }
    return std::nullopt;
}

QString feedItemIdentifier(const FeedItem& item) {
    for (const QString* candidate : {&item.guid, &item.magnet, &item.enclosureURL, &item.link})
        if (!candidate->isEmpty()) return *candidate;
    return {};
}

QList<SearchResult> feedResults(const SearchSource& source, const QList<FeedItem>& items,
                                int limit) {
    QList<SearchResult> results;
    const QString prefix = QStringLiteral("feed:") + source.idText() + QLatin1Char(':');
    const qsizetype count = std::min<qsizetype>(items.size(), std::max(limit, 0));
    for (qsizetype i = 0; i < count; ++i) {
        const FeedItem& item = items[i];
        auto link = feedItemLink(item);
        if (!link) continue;
        SearchResult result;
        result.id = prefix + feedItemIdentifier(item);
        result.title = item.title;
        result.sourceName = source.name;
        result.sizeBytes = item.sizeBytes;
        result.seeders = item.seeders;
        result.link = std::move(*link);
        results.append(std::move(result));
    }
    return results;
}

QCoro::Task<QList<SearchResult>> searchFeed(SearchSource source, QString query, int limit,
                                            std::shared_ptr<HttpSession> session,
                                            CancelToken token) {
    const auto url = feedSearchURL(source.urlTemplate, query);
    if (!url || !mayContact(*url)) co_return {};
    // The status is not looked at: an error page reads as a feed without items. A body over the
    // session's cap fails the request, so an endless answer costs one capped read at most.
    const HttpResult result = co_await session->get(*url, token);
    if (!result.ok() || token.isCancelled()) co_return {};
    // Named locals, not temporaries inside the co_await: GCC 12 destroys a lambda's captures
    // twice when the lambda is a temporary of a co_await expression.
    const QByteArray body = result.response->body;
    auto read = [source, body, limit] {
        return feedResults(source, FeedParser().parse(body), limit);
    };
    QList<SearchResult> results = co_await readAnswer(body.size(), std::move(read));
    co_return results;
}

}  // namespace rillow
