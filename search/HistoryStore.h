#pragma once
// History and favourites: two small observable lists, newest first, persisted as JSON arrays in
// the state folder with delayed atomic writes.
//
// Main thread only. Each store is created once by the application model and lives for the run;
// its in-memory list is the truth and the file trails it by at most the flush delay. Dates are
// stored as seconds since 2001-01-01 00:00:00 UTC.

#include "platform/JsonStore.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace rillow {

struct HistoryEntry {
    QString infoHash;  // lower case; the key
    QString name;
    std::optional<QString> magnet;  // absent for a torrent added from .torrent data
    QDateTime date;
    bool operator==(const HistoryEntry&) const = default;
};

struct FavoriteEntry {
    QString id;  // an info hash, or a local file identifier ("local-" + 64 hex digits)
    QString name;
    std::optional<QString> path;  // a local file's path; absent for a torrent
    QDateTime date;
    bool operator==(const FavoriteEntry&) const = default;
};

// Seconds since 2001-01-01 00:00:00 UTC, and back.
double referenceSeconds(const QDateTime& date);
QDateTime fromReferenceSeconds(double seconds);

// The folder of the history and favourites files: "Rillow/State" under the application-support
// folder, or the temporary folder itself when there is none.
QString libraryStateFolder();

class HistoryStore : public QObject, public JsonStore {
    Q_OBJECT

public:
    static inline const QString fileName = QStringLiteral("history.json");

    explicit HistoryStore(QObject* parent = nullptr);
    // A store over an explicit file (tests, tools).
    explicit HistoryStore(const QString& path, QObject* parent = nullptr);

    const QList<HistoryEntry>& entries() const { return entries_; }

    void record(const QString& infoHash, const QString& name, const std::optional<QString>& magnet);
    void rename(const QString& infoHash, const QString& name);
    std::optional<QString> magnetFor(const QString& infoHash) const;
    void remove(const QString& infoHash);
    void clear();

Q_SIGNALS:
    void entriesChanged();

protected:
    QByteArray encode() const override;

private:
    void setEntries(QList<HistoryEntry> entries);
    QList<HistoryEntry> entries_;
};

class FavoritesStore : public QObject, public JsonStore {
    Q_OBJECT

public:
    static inline const QString fileName = QStringLiteral("favorites.json");

    explicit FavoritesStore(QObject* parent = nullptr);
    explicit FavoritesStore(const QString& path, QObject* parent = nullptr);

    const QList<FavoriteEntry>& entries() const { return entries_; }

    bool contains(const QString& id) const;
    // Adds or refreshes: the entry moves to the front with the current date.
    void add(FavoriteEntry entry);
    void remove(const QString& id);
    void clear();

Q_SIGNALS:
    void entriesChanged();

protected:
    QByteArray encode() const override;

private:
    void setEntries(QList<FavoriteEntry> entries);
    QList<FavoriteEntry> entries_;
};

}  // namespace rillow
