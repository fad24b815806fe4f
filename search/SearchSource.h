#pragma once
// The user's search sources and the store that keeps them in the user defaults.
//
// `SearchSource` is a plain value, usable on any thread. `SearchSourcesStore` is a model confined
// to the main thread; it owns its list and writes it to UserDefaults::standard() under
// "searchSources" as a data value whose bytes are the UTF-8 JSON array of the sources.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <optional>

namespace rillow {

struct SearchSource {
    enum class Kind { feed, stremio };

    QUuid id;
    QString name;
    bool isEnabled = true;
    Kind kind = Kind::feed;
    QString urlTemplate;  // feeds: the search address with "%s" for the query
    QString baseURL;      // addons: the address as entered (normalised before use)

    // A fresh source with a random id.
    static SearchSource make(Kind kind, QString name, QString url, bool isEnabled = true);

    // The id as stored and as used in result ids: 36 upper-case hexadecimal characters.
    QString idText() const;

    bool operator==(const SearchSource&) const = default;
};

QString kindText(SearchSource::Kind kind);

// The stored form: a JSON array of objects with all six keys.
QByteArray encodeSearchSources(const QList<SearchSource>& sources);
// Nothing when the data is not an array or any element fails to decode.
std::optional<QList<SearchSource>> decodeSearchSources(const QByteArray& data);

class SearchSourcesStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<SearchSource> sources READ sources WRITE setSources NOTIFY sourcesChanged)

public:
    static constexpr const char* defaultsKey = "searchSources";

    // Loads the stored list once; a missing or undecodable value gives the empty list (and
    // nothing is written back until the next change).
    explicit SearchSourcesStore(QObject* parent = nullptr);

    const QList<SearchSource>& sources() const { return sources_; }
    // Stores the list at once, also when it equals the current one; notifies only on a change.
    void setSources(QList<SearchSource> sources);
    void add(SearchSource source);
    void remove(const QSet<QUuid>& ids);
    QList<SearchSource> enabledSources() const;

Q_SIGNALS:
    void sourcesChanged();

private:
    void store() const;

    QList<SearchSource> sources_;
};

}  // namespace rillow
