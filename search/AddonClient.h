#pragma once
// Stremio stream addons: the torrents one addon lists for a set of catalog titles.
//
// Main thread (requests are awaited on the main event loop); never blocks, never fails: every
// error gives an empty list. The client is a cheap value; copies share one pool of HTTP
// sessions, and every request keeps its session alive until it ends.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"
#include "search/HttpSessionPool.h"
#include "search/SearchResult.h"
#include "search/SearchSource.h"
#include "search/StremioParsing.h"

#include <QCoroTask>
#include <chrono>
#include <memory>

namespace rillow {

class AddonClient {
public:
    static constexpr int defaultPerMetaLimit = 8;
    static constexpr std::chrono::milliseconds defaultPerTitleTimeLimit{5'000};

    // Ephemeral, 30-second request time-out.
    static HttpOptions sessionOptions();

    explicit AddonClient(std::shared_ptr<HttpSessionPool> sessions =
                             std::make_shared<HttpSessionPool>(sessionOptions()),
                         int perMetaLimit = defaultPerMetaLimit,
                         std::chrono::milliseconds perTitleTimeLimit = defaultPerTitleTimeLimit);

    int perMetaLimit() const { return perMetaLimit_; }

    // Asks `source` for the streams of every title at once; each title's request is abandoned
    // after the per-title time limit. Per title: results by seeders, at most `perMetaLimit`;
    // titles in the order of `metas`; a torrent already listed for an earlier title is dropped.
    QCoro::Task<QList<SearchResult>> results(QList<MediaMeta> metas, SearchSource source,
                                             CancelToken token = {}) const;

private:
    std::shared_ptr<HttpSessionPool> sessions_;
    int perMetaLimit_;
    std::chrono::milliseconds perTitleTimeLimit_;
};

}  // namespace rillow
