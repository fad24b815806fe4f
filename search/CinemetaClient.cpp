#include "search/CinemetaClient.h"

#include "platform/Network.h"
#include "search/Gather.h"
#include "search/NetworkGuard.h"
#include "search/TextRules.h"

namespace rillow {

namespace {

const QString kPublicCatalog = QStringLiteral("https://v3-cinemeta.strem.io");

QCoro::Task<QList<MediaMeta>> fetchCatalog(std::shared_ptr<HttpSession> session,
                                           std::optional<QUrl> url, QString type, int limit,
                                           CancelToken token) {
    if (!url || !mayContact(*url)) co_return {};
    const HttpResult result = co_await session->get(*url, token);
    if (!result.ok() || token.isCancelled()) co_return {};
    // Named locals, not temporaries inside the co_await (see FeedSearch.cpp).
    const QByteArray body = result.response->body;
    auto read = [body, type, limit] { return parseMetas(body, type, limit); };
    QList<MediaMeta> metas = co_await readAnswer(body.size(), std::move(read));
    co_return metas;
}

QCoro::Task<QList<MediaMeta>> searchBoth(QCoro::Task<QList<MediaMeta>> movies,
                                         QCoro::Task<QList<MediaMeta>> series) {
    QList<MediaMeta> metas = co_await std::move(movies);
    metas.append(co_await std::move(series));
    co_return metas;
}

}  // namespace

QString catalogBaseAddress() {
    QString address = serviceBaseAddress("RILLOW_CATALOG_URL", kPublicCatalog);
    while (address.endsWith(QLatin1Char('/'))) address.chop(1);
    return address;
}

HttpOptions CinemetaClient::sessionOptions() {
    HttpOptions options;
    options.requestTimeoutMs = 12'000;
    return options;
}

CinemetaClient::CinemetaClient(std::shared_ptr<HttpSession> session, QString baseAddress,
                               int maxMetasPerCatalog)
    : session_(std::move(session)),
      baseAddress_(std::move(baseAddress)),
      maxMetasPerCatalog_(maxMetasPerCatalog) {}

std::optional<QUrl> CinemetaClient::catalogURL(const QString& type,
                                               const QString& encodedQuery) const {
    return parseURL(baseAddress_ + QStringLiteral("/catalog/") + type +
                    QStringLiteral("/top/search=") + encodedQuery + QStringLiteral(".json"));
}

QCoro::Task<QList<MediaMeta>> CinemetaClient::search(QString query, CancelToken token) const {
    const QString encoded = encodeQuery(query);
    const QString movie = QStringLiteral("movie");
    const QString series = QStringLiteral("series");
    // Both requests are in flight before either is awaited.
    auto movies =
        fetchCatalog(session_, catalogURL(movie, encoded), movie, maxMetasPerCatalog_, token);
    auto shows =
        fetchCatalog(session_, catalogURL(series, encoded), series, maxMetasPerCatalog_, token);
    return searchBoth(std::move(movies), std::move(shows));
}

QCoro::Task<QList<MediaMeta>> CinemetaClient::search(QString query, QString type, int limit,
                                                     CancelToken token) const {
    const auto url = catalogURL(type, encodeQuery(query));
    return fetchCatalog(session_, url, std::move(type), limit, std::move(token));
}

}  // namespace rillow
