#pragma once
// The Cinemeta catalog: turns a free-text query into a few titles with IMDb ids.
//
// Main thread (requests are awaited on the main event loop); never blocks, never fails: every
// error gives an empty list. The client is a cheap value; copies share one HTTP session, and
// every request keeps the session alive until it ends.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"
#include "search/StremioParsing.h"

#include <QCoroTask>
#include <memory>

namespace rillow {

// The catalog service's origin: RILLOW_CATALOG_URL when set, else the public catalog.
QString catalogBaseAddress();

class CinemetaClient {
public:
    static constexpr int defaultMaxMetasPerCatalog = 4;

    // Ephemeral, 12-second request time-out.
    static HttpOptions sessionOptions();

    explicit CinemetaClient(
        std::shared_ptr<HttpSession> session = std::make_shared<HttpSession>(sessionOptions()),
        QString baseAddress = catalogBaseAddress(),
        int maxMetasPerCatalog = defaultMaxMetasPerCatalog);

    int maxMetasPerCatalog() const { return maxMetasPerCatalog_; }
    const QString& baseAddress() const { return baseAddress_; }

    // Movies then series, at most `maxMetasPerCatalog` of each; both requests run together.
    QCoro::Task<QList<MediaMeta>> search(QString query, CancelToken token = {}) const;
    // One catalog type, at most `limit` titles.
    QCoro::Task<QList<MediaMeta>> search(QString query, QString type, int limit,
                                         CancelToken token = {}) const;

    // The request address for an already encoded query, or nothing when it is not a URL.
    std::optional<QUrl> catalogURL(const QString& type, const QString& encodedQuery) const;

private:
    std::shared_ptr<HttpSession> session_;
    QString baseAddress_;
    int maxMetasPerCatalog_;
};

}  // namespace rillow
