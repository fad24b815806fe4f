#include "search/TorrentSearchService.h"

#include "search/FeedSearch.h"
#include "search/Gather.h"
#include "search/TextRules.h"

namespace rillow {

namespace {

QCoro::Task<QList<SearchResult>> addonResults(CinemetaClient cinemeta, AddonClient addon,
                                              QString query, QList<SearchSource> sources,
                                              CancelToken token) {
    const QList<MediaMeta> metas = co_await cinemeta.search(query, token);
    if (metas.isEmpty() || token.isCancelled()) co_return {};
    std::vector<QCoro::Task<QList<SearchResult>>> tasks;
    for (const SearchSource& source : sources) tasks.push_back(addon.results(metas, source, token));
    co_return co_await gatherInFinishOrder(std::move(tasks));
}

QCoro::Task<QList<SearchResult>> mergeSources(std::vector<QCoro::Task<QList<SearchResult>>> tasks,
                                              CancelToken token) {
    QList<SearchResult> merged = co_await gatherInFinishOrder(std::move(tasks));
    if (token.isCancelled()) co_return {};
    sortBySeeders(merged);
    co_return merged;
}

}  // namespace

HttpOptions TorrentSearchServiceOptions::feedSessionOptions() {
    HttpOptions options;
    options.requestTimeoutMs = 12'000;
    return options;
}

TorrentSearchService::TorrentSearchService(TorrentSearchServiceOptions options)
    : feedSessions_(std::make_shared<HttpSessionPool>(options.feed)),
      cinemeta_(std::make_shared<HttpSession>(options.catalog), options.catalogBaseAddress,
                CinemetaClient::defaultMaxMetasPerCatalog),
      addon_(std::make_shared<HttpSessionPool>(options.addon), AddonClient::defaultPerMetaLimit,
             options.addonPerTitleTimeLimit) {}

QCoro::Task<QList<SearchResult>> TorrentSearchService::search(QString query,
                                                              QList<SearchSource> sources,
                                                              CancelToken token) const {
    const QString text = trimmed(query);
    std::vector<QCoro::Task<QList<SearchResult>>> tasks;
    if (!text.isEmpty() && !token.isCancelled()) {
        QList<SearchSource> addons;
        for (const SearchSource& source : sources) {
            if (source.kind == SearchSource::Kind::feed)
                tasks.push_back(
                    searchFeed(source, text, perSourceLimit, feedSessions_->next(), token));
            else
                addons.append(source);
        }
        if (!addons.isEmpty())
            tasks.push_back(addonResults(cinemeta_, addon_, text, std::move(addons), token));
    }
    return mergeSources(std::move(tasks), std::move(token));
}

}  // namespace rillow
