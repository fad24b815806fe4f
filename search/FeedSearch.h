#pragma once
// The search of one feed source: fill in its URL template, fetch, read the items, and turn each
// usable item into a result.
//
// Main thread (it awaits on the main event loop); never blocks and never fails: every error
// gives an empty list. The session is shared with the caller and must stay alive for the call,
// which the shared pointer guarantees.

#include "platform/HttpSession.h"
#include "platform/Tasks.h"
#include "search/FeedParser.h"
#include "search/SearchResult.h"
#include "search/SearchSource.h"

#include <QCoroTask>
#include <memory>

namespace rillow {

// The address for `query` (already trimmed): every "%s" replaced by the encoded query.
std::optional<QUrl> feedSearchURL(const QString& urlTemplate, const QString& query);

// The link of an item: a magnet link from `magnet`, `link` or `enclosureURL` (first that starts
// with "magnet:"), else a torrent-file link to the enclosure, else to the link; else nothing.
std::optional<Link> feedItemLink(const FeedItem& item);

// The first non-empty of guid, magnet, enclosure address and link; else empty.
QString feedItemIdentifier(const FeedItem& item);

// The first `limit` items (the limit applies before items without a link are dropped).
QList<SearchResult> feedResults(const SearchSource& source, const QList<FeedItem>& items,
                                int limit);

QCoro::Task<QList<SearchResult>> searchFeed(SearchSource source, QString query, int limit,
                                            std::shared_ptr<HttpSession> session,
                                            CancelToken token = {});

}  // namespace rillow
