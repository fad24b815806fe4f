#pragma once
// One text query against every given search source at once, merged into one list ordered by
// seeders.
//
// Main thread; never blocks. `search` is a coroutine awaited on the main event loop; it never
// fails (a failing source contributes nothing) and cancelling its token cancels every request
// still in flight. The service holds no state between searches, so several may run at once.
// It owns its HTTP sessions (a pool for feeds, one for the catalog, a pool for addons, each
// with its own time-outs); running searches share them and keep them alive, so the service may
// be destroyed while a search is still running.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"
#include "search/AddonClient.h"
#include "search/CinemetaClient.h"
#include "search/HttpSessionPool.h"
#include "search/SearchResult.h"
#include "search/SearchSource.h"

#include <QCoroTask>
#include <memory>

namespace rillow {

struct TorrentSearchServiceOptions {
    HttpOptions feed = feedSessionOptions();
    HttpOptions catalog = CinemetaClient::sessionOptions();
    HttpOptions addon = AddonClient::sessionOptions();
    QString catalogBaseAddress = rillow::catalogBaseAddress();
    std::chrono::milliseconds addonPerTitleTimeLimit = AddonClient::defaultPerTitleTimeLimit;

    // Ephemeral, 12-second request time-out.
    static HttpOptions feedSessionOptions();
};

class TorrentSearchService {
public:
    static constexpr int perSourceLimit = 25;

    explicit TorrentSearchService(TorrentSearchServiceOptions options = {});

    // `sources` is searched as given (the caller filters out disabled ones); `query` is trimmed
    // here, and a query of white space or an empty list of sources sends no request.
    QCoro::Task<QList<SearchResult>> search(QString query, QList<SearchSource> sources,
                                            CancelToken token = {}) const;

    const CinemetaClient& cinemeta() const { return cinemeta_; }
    const AddonClient& addon() const { return addon_; }

private:
    std::shared_ptr<HttpSessionPool> feedSessions_;
    CinemetaClient cinemeta_;
    AddonClient addon_;
};

}  // namespace rillow
