#include "playback/ResumeStore.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace rillow {

QString playbackStateFolder() {
    const auto support = applicationSupportFolder();
    const QString folder =
        joinPath(joinPath(support ? *support : temporaryFolder(), QStringLiteral("Rillow")),
                 QStringLiteral("State"));
    makeFolders(folder);
    return folder;
}

QString perFileKey(const QString& scope, int fileIndex) {
    return scope.toLower() + QLatin1Char(':') + QString::number(fileIndex);
}

namespace {

std::optional<QMap<QString, double>> decodePositions(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    QMap<QString, double> positions;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isDouble()) return std::nullopt;
        positions.insert(it.key(), it.value().toDouble());
    }
    return positions;
}

std::optional<QMap<QString, int>> decodeLastPlayed(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    QMap<QString, int> lastPlayed;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const double number = it.value().toDouble(-1.5);
        if (!it.value().isDouble() || number != double(int(number))) return std::nullopt;
        lastPlayed.insert(it.key(), int(number));
    }
    return lastPlayed;
}

}  // namespace

ResumeStore::ResumeStore() : ResumeStore(joinPath(playbackStateFolder(), fileName)) {}

ResumeStore::ResumeStore(const QString& path) : JsonStore(path) {
    const auto document = loadDocument();
    if (!document || !document->isObject()) return;
    const QJsonObject object = document->object();
    // The current layout, both members required.
    if (object.contains(QStringLiteral("positions")) &&
        object.contains(QStringLiteral("lastPlayed"))) {
        auto positions = decodePositions(object.value(QStringLiteral("positions")));
        auto lastPlayed = decodeLastPlayed(object.value(QStringLiteral("lastPlayed")));
        if (positions && lastPlayed) {
            positions_ = *positions;
            lastPlayed_ = *lastPlayed;
            return;
        }
    }
    // The earlier layout: a plain map of per-file key to seconds.
    if (auto plain = decodePositions(object)) positions_ = *plain;
}

std::optional<double> ResumeStore::position(const QString& scope, int fileIndex) const {
    auto it = positions_.find(perFileKey(scope, fileIndex));
    if (it == positions_.end()) return std::nullopt;
    return it.value();
}

std::optional<int> ResumeStore::lastPlayedFile(const QString& infoHash) const {
    const QString key = infoHash.toLower();
    if (auto it = lastPlayed_.find(key); it != lastPlayed_.end()) return it.value();
    const QString prefix = key + QLatin1Char(':');
    std::optional<int> smallest;
    for (auto it = positions_.begin(); it != positions_.end(); ++it) {
        if (!it.key().startsWith(prefix)) continue;
        bool ok = false;
        const int index = it.key().mid(prefix.size()).toInt(&ok, 10);
        if (!ok) continue;
        if (!smallest || index < *smallest) smallest = index;
    }
    return smallest;
}

void ResumeStore::setLastPlayed(const QString& infoHash, int fileIndex) {
    const QString key = infoHash.toLower();
    if (lastPlayed_.value(key, -1) == fileIndex && lastPlayed_.contains(key)) return;
    lastPlayed_.insert(key, fileIndex);
    scheduleFlush();
}

void ResumeStore::keepOnlyPosition(const QString& infoHash, int fileIndex) {
    const QString prefix = infoHash.toLower() + QLatin1Char(':');
    const QString kept = perFileKey(infoHash, fileIndex);
    bool removed = false;
    for (auto it = positions_.begin(); it != positions_.end();) {
        if (it.key().startsWith(prefix) && it.key() != kept) {
            it = positions_.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed) scheduleFlush();
}

void ResumeStore::forget(const QString& infoHash) {
    const QString key = infoHash.toLower();
    const QString prefix = key + QLatin1Char(':');
    bool changed = lastPlayed_.remove(key) > 0;
    for (auto it = positions_.begin(); it != positions_.end();) {
        if (it.key().startsWith(prefix)) {
            it = positions_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed) flushNow();
}

QByteArray ResumeStore::encode() const {
    QJsonObject positions;
    for (auto it = positions_.begin(); it != positions_.end(); ++it)
        positions.insert(it.key(), it.value());
    QJsonObject lastPlayed;
    for (auto it = lastPlayed_.begin(); it != lastPlayed_.end(); ++it)
        lastPlayed.insert(it.key(), it.value());
    return QJsonDocument(QJsonObject{{QStringLiteral("positions"), positions},
                                     {QStringLiteral("lastPlayed"), lastPlayed}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace rillow
