#pragma once
// One torrent found by a search, and how to open it. Plain values, any thread.

#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace rillow {

// How a result is opened: a magnet link added unchanged, or the address of a .torrent file
// that is downloaded and then added. Only the payload of the link's own kind is meaningful.
struct Link {
    enum class Kind { magnet, torrentURL };

    Kind kind = Kind::magnet;
    QString magnet;
    QUrl torrentURL;

    static Link makeMagnet(QString text) { return Link{Kind::magnet, std::move(text), {}}; }
    static Link makeTorrentURL(QUrl url) { return Link{Kind::torrentURL, {}, std::move(url)}; }

    bool operator==(const Link& other) const {
        if (kind != other.kind) return false;
        return kind == Kind::magnet ? magnet == other.magnet : torrentURL == other.torrentURL;
    }
};

struct SearchResult {
    // "feed:<source id>:<item identifier>" or "stremio:<source id>:<upper-case info hash>".
    QString id;
    QString title;  // may be empty for a feed item without a title
    QString sourceName;
    std::optional<qint64> sizeBytes;
    std::optional<qint64> seeders;
    Link link;
    std::optional<QUrl> posterURL;

    bool operator==(const SearchResult&) const = default;
};

// Stable sort by seeders, most first; a result without a count ranks as -1, so it follows
// every result with a count, including those with 0.
void sortBySeeders(QList<SearchResult>& results);

}  // namespace rillow
