#pragma once
// The pure half of the Cinemeta catalog and Stremio stream addons: reading their JSON answers,
// ids and addresses, and the size and seeder counts in an addon's free-form description.
// Pure functions, any thread.

#include "search/SearchResult.h"
#include "search/SearchSource.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace rillow {

struct MediaMeta {
    QString type;    // the catalog type it was found in: "movie" or "series"
    QString imdbID;  // "tt" and at least seven digits, letter case as the catalog wrote it
    QString title;
    std::optional<QUrl> poster;
    std::optional<QString> releaseInfo;

    bool operator==(const MediaMeta&) const = default;
};

struct AddonStream {
    QString name;
    QString title;
    QString infoHash;  // 40 hexadecimal digits, upper case

    bool operator==(const AddonStream&) const = default;
};

// The id before the first ":" (the first non-empty piece), when it is "tt" in any case followed
// only by digits and is at least 9 characters long.
std::optional<QString> normalizeIMDbID(const QString& text);

// Trimmed, cut at the first "/manifest.json" (any case), trailing "/" removed; only addresses
// starting with "http://" or "https://" qualify.
std::optional<QString> normalizeBaseURL(const QString& text);

// At most `limit` titles of a catalog answer, in its order, each marked with `type`.
QList<MediaMeta> parseMetas(const QByteArray& data, const QString& type, int limit);

// The streams of an addon answer that carry a well-formed info hash.
QList<AddonStream> parseStreams(const QByteArray& data);

// Sizes such as "💾 2.5 GB" or "Size: 700 MiB" in bytes (K, M, G, T as powers of 1024).
// Nothing when no pattern matches or the product does not fit a signed 64-bit integer.
std::optional<qint64> parseSize(const QString& text);

// Seeder counts such as "👤 1,234" or "Seeders: 15".
std::optional<qint64> parseSeeders(const QString& text);

// "magnet:?xt=urn:btih:<hash>&dn=<name>" with the name percent-encoded for a URL query.
QString magnetLink(const QString& infoHash, const QString& name);

// The address of a title's stream list: series ask for season 1, episode 1.
std::optional<QUrl> streamURL(const QString& baseURL, const MediaMeta& meta);

// One stream of `meta` from `source` as a search result.
SearchResult streamResult(const AddonStream& stream, const MediaMeta& meta,
                          const SearchSource& source);

}  // namespace rillow
