#include "search/HistoryStore.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace rillow {

namespace {

const QDateTime kReferenceDate(QDate(2001, 1, 1), QTime(0, 0), QTimeZone::utc());

// Optional texts accept a missing key or null; any other non-text makes the element bad.
bool readOptionalText(const QJsonObject& object, const QString& key, std::optional<QString>& out) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) return true;
    if (!value.isString()) return false;
    out = value.toString();
    return true;
}

bool readRequired(const QJsonObject& object, const QString& key, QString& text) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) return false;
    text = value.toString();
    return true;
}

bool readDate(const QJsonObject& object, QDateTime& date) {
    const QJsonValue value = object.value(QStringLiteral("date"));
    if (!value.isDouble()) return false;
    date = fromReferenceSeconds(value.toDouble());
    return true;
}

// The whole array, or nothing when any element is bad.
template <class Entry, class Read>
QList<Entry> decodeAll(const std::optional<QJsonDocument>& document, Read read) {
    if (!document || !document->isArray()) return {};
    QList<Entry> entries;
    for (const QJsonValue& element : document->array()) {
        Entry entry;
        if (!element.isObject() || !read(element.toObject(), entry)) return {};
        entries.append(std::move(entry));
    }
    return entries;
}

QString storePath(const QString& fileName) {
    const QString folder = libraryStateFolder();
    makeFolders(folder);  // a failure shows up as a failed write, which is ignored
    return joinPath(folder, fileName);
}

}  // namespace

double referenceSeconds(const QDateTime& date) {
    return static_cast<double>(kReferenceDate.msecsTo(date)) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds) {
    return kReferenceDate.addMSecs(static_cast<qint64>(seconds * 1000.0));
}

QString libraryStateFolder() {
    const auto support = applicationSupportFolder();
    if (!support) return temporaryFolder();
    return joinPath(joinPath(*support, QStringLiteral("Rillow")), QStringLiteral("State"));
}

// History.

HistoryStore::HistoryStore(QObject* parent) : HistoryStore(storePath(fileName), parent) {}

HistoryStore::HistoryStore(const QString& path, QObject* parent)
    : QObject(parent), JsonStore(path) {
    entries_ = decodeAll<HistoryEntry>(loadDocument(), [](const QJsonObject& o, HistoryEntry& e) {
        return readRequired(o, QStringLiteral("infoHash"), e.infoHash) &&
               readRequired(o, QStringLiteral("name"), e.name) &&
               readOptionalText(o, QStringLiteral("magnet"), e.magnet) && readDate(o, e.date);
    });
}

void HistoryStore::setEntries(QList<HistoryEntry> entries) {
    if (entries == entries_) return;
    entries_ = std::move(entries);
    Q_EMIT entriesChanged();
}

void HistoryStore::record(const QString& infoHash, const QString& name,
                          const std::optional<QString>& magnet) {
    const QString key = infoHash.toLower();
    HistoryEntry entry{key, name, std::nullopt, QDateTime::currentDateTimeUtc()};
    for (const HistoryEntry& existing : entries_) {
        if (existing.infoHash == key) {
            entry.magnet = existing.magnet;
            break;
        }
    }
    entry.name = name;
    if (magnet) entry.magnet = magnet;
    QList<HistoryEntry> updated{entry};
    for (const HistoryEntry& existing : entries_)
        if (existing.infoHash != key) updated.append(existing);
    setEntries(std::move(updated));
    scheduleFlush();
}

void HistoryStore::rename(const QString& infoHash, const QString& name) {
    if (name.isEmpty()) return;
    const QString key = infoHash.toLower();
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        if (entries_[i].infoHash != key) continue;
        if (entries_[i].name == name) return;
        QList<HistoryEntry> updated = entries_;
        updated[i].name = name;
        setEntries(std::move(updated));
        scheduleFlush();
        return;
    }
}

std::optional<QString> HistoryStore::magnetFor(const QString& infoHash) const {
    const QString key = infoHash.toLower();
    for (const HistoryEntry& entry : entries_)
        if (entry.infoHash == key) return entry.magnet;
    return std::nullopt;
}

void HistoryStore::remove(const QString& infoHash) {
    const QString key = infoHash.toLower();
    QList<HistoryEntry> kept;
    for (const HistoryEntry& entry : entries_)
        if (entry.infoHash != key) kept.append(entry);
    setEntries(std::move(kept));
    scheduleFlush();
}

void HistoryStore::clear() {
    if (entries_.isEmpty()) return;
    setEntries({});
    scheduleFlush();
}

QByteArray HistoryStore::encode() const {
    QJsonArray array;
    for (const HistoryEntry& entry : entries_) {
        QJsonObject object{{QStringLiteral("infoHash"), entry.infoHash},
                           {QStringLiteral("name"), entry.name},
                           {QStringLiteral("date"), referenceSeconds(entry.date)}};
        if (entry.magnet) object.insert(QStringLiteral("magnet"), *entry.magnet);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// Favourites.

FavoritesStore::FavoritesStore(QObject* parent) : FavoritesStore(storePath(fileName), parent) {}

FavoritesStore::FavoritesStore(const QString& path, QObject* parent)
    : QObject(parent), JsonStore(path) {
    entries_ = decodeAll<FavoriteEntry>(loadDocument(), [](const QJsonObject& o, FavoriteEntry& e) {
        return readRequired(o, QStringLiteral("id"), e.id) &&
               readRequired(o, QStringLiteral("name"), e.name) &&
               readOptionalText(o, QStringLiteral("path"), e.path) && readDate(o, e.date);
    });
}

void FavoritesStore::setEntries(QList<FavoriteEntry> entries) {
    if (entries == entries_) return;
    entries_ = std::move(entries);
    Q_EMIT entriesChanged();
}

bool FavoritesStore::contains(const QString& id) const {
    for (const FavoriteEntry& entry : entries_)
        if (entry.id == id) return true;
    return false;
}

void FavoritesStore::add(FavoriteEntry entry) {
    entry.date = QDateTime::currentDateTimeUtc();
    QList<FavoriteEntry> updated{entry};
    for (const FavoriteEntry& existing : entries_)
        if (existing.id != entry.id) updated.append(existing);
    setEntries(std::move(updated));
    scheduleFlush();
}

void FavoritesStore::remove(const QString& id) {
    QList<FavoriteEntry> kept;
    for (const FavoriteEntry& entry : entries_)
        if (entry.id != id) kept.append(entry);
    setEntries(std::move(kept));
    scheduleFlush();
}

void FavoritesStore::clear() {
    if (entries_.isEmpty()) return;
    setEntries({});
    scheduleFlush();
}

QByteArray FavoritesStore::encode() const {
    QJsonArray array;
    for (const FavoriteEntry& entry : entries_) {
        QJsonObject object{{QStringLiteral("id"), entry.id},
                           {QStringLiteral("name"), entry.name},
                           {QStringLiteral("date"), referenceSeconds(entry.date)}};
        if (entry.path) object.insert(QStringLiteral("path"), *entry.path);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

}  // namespace rillow
