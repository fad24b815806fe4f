#include "playback/TrackPreferenceStore.h"

#include "platform/AppFolders.h"
#include "platform/UserDefaults.h"
#include "playback/ResumeStore.h"
#include "subtitles/Languages.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace rillow {

namespace {

QString playlistKey(const QString& scope) {
    return scope.toLower() + QStringLiteral(":*");
}

bool readOptionalInt(const QJsonObject& object, const QString& key, std::optional<int>& out) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) return true;
    if (!value.isDouble() || value.toDouble() != double(int(value.toDouble()))) return false;
    out = int(value.toDouble());
    return true;
}

}  // namespace

TrackPreferenceStore::TrackPreferenceStore()
    : TrackPreferenceStore(joinPath(playbackStateFolder(), fileName)) {}

TrackPreferenceStore::TrackPreferenceStore(const QString& path) : JsonStore(path) {
    preferredLanguage_ = UserDefaults::standard().string(languageDefaultsKey);
    const auto document = loadDocument();
    if (!document || !document->isObject()) return;
    QMap<QString, TrackSelection> loaded;
    const QJsonObject object = document->object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isObject()) return;
        const QJsonObject entry = it.value().toObject();
        TrackSelection selection;
        if (!readOptionalInt(entry, QStringLiteral("audioID"), selection.audioID) ||
            !readOptionalInt(entry, QStringLiteral("subtitleID"), selection.subtitleID))
            return;
        const QJsonValue online = entry.value(QStringLiteral("onlineSubtitleID"));
        if (online.isString())
            selection.onlineSubtitleID = online.toString();
        else if (!online.isUndefined() && !online.isNull())
            return;
        loaded.insert(it.key(), selection);
    }
    selections_ = loaded;
}

std::optional<TrackSelection> TrackPreferenceStore::selection(const QString& scope,
                                                              int fileIndex) const {
    auto it = selections_.find(perFileKey(scope, fileIndex));
    if (it == selections_.end()) return std::nullopt;
    return it.value();
}

std::optional<TrackSelection> TrackPreferenceStore::playlistSelection(const QString& scope) const {
    auto it = selections_.find(playlistKey(scope));
    if (it == selections_.end()) return std::nullopt;
    return it.value();
}

void TrackPreferenceStore::update(const QString& key,
                                  const std::function<void(TrackSelection&)>& change) {
    TrackSelection selection = selections_.value(key);
    change(selection);
    selections_.insert(key, selection);
    scheduleFlush();
}

void TrackPreferenceStore::setAudio(int audioID, const QString& scope, int fileIndex) {
    update(perFileKey(scope, fileIndex), [audioID](TrackSelection& s) { s.audioID = audioID; });
}

void TrackPreferenceStore::setSubtitle(int subtitleID, const QString& scope, int fileIndex) {
    update(perFileKey(scope, fileIndex), [subtitleID](TrackSelection& s) {
        s.subtitleID = subtitleID;
        s.onlineSubtitleID.reset();
    });
}

void TrackPreferenceStore::setOnlineSubtitle(const QString& candidateID, const QString& scope,
                                             int fileIndex) {
    update(perFileKey(scope, fileIndex), [&candidateID](TrackSelection& s) {
        s.subtitleID.reset();
        s.onlineSubtitleID = candidateID;
    });
}

void TrackPreferenceStore::clearSubtitle(const QString& scope, int fileIndex) {
    const QString key = perFileKey(scope, fileIndex);
    if (!selections_.contains(key)) return;
    update(key, [](TrackSelection& s) {
        s.subtitleID.reset();
        s.onlineSubtitleID.reset();
    });
}

void TrackPreferenceStore::setPlaylistAudio(int audioID, const QString& scope) {
    update(playlistKey(scope), [audioID](TrackSelection& s) { s.audioID = audioID; });
}

void TrackPreferenceStore::setPlaylistSubtitle(int subtitleID, const QString& scope) {
    const QString prefix = scope.toLower() + QLatin1Char(':');
    const QString playlist = playlistKey(scope);
    for (auto it = selections_.begin(); it != selections_.end(); ++it)
        if (it.key().startsWith(prefix) && it.key() != playlist)
            it.value().onlineSubtitleID.reset();
    update(playlist, [subtitleID](TrackSelection& s) { s.subtitleID = subtitleID; });
}

void TrackPreferenceStore::clearPlaylistSubtitle(const QString& scope) {
    const QString key = playlistKey(scope);
    if (!selections_.contains(key)) return;
    update(key, [](TrackSelection& s) {
        s.subtitleID.reset();
        s.onlineSubtitleID.reset();
    });
}

void TrackPreferenceStore::setPreferredSubtitleLanguage(const std::optional<QString>& language) {
    const auto normalized = normalizedLanguage(language);
    if (!normalized) return;
    preferredLanguage_ = normalized;
    UserDefaults::standard().setString(languageDefaultsKey, *normalized);
}

void TrackPreferenceStore::forget(const QString& scope) {
    const QString prefix = scope.toLower() + QLatin1Char(':');
    bool changed = false;
    for (auto it = selections_.begin(); it != selections_.end();) {
        if (it.key().startsWith(prefix)) {
            it = selections_.erase(it);
            changed = true;
        } else {
            ++it;
        }
    }
    if (changed) flushNow();
}

QByteArray TrackPreferenceStore::encode() const {
    QJsonObject object;
    for (auto it = selections_.begin(); it != selections_.end(); ++it) {
        QJsonObject entry;
        if (it->audioID) entry.insert(QStringLiteral("audioID"), *it->audioID);
        if (it->subtitleID) entry.insert(QStringLiteral("subtitleID"), *it->subtitleID);
        if (it->onlineSubtitleID)
            entry.insert(QStringLiteral("onlineSubtitleID"), *it->onlineSubtitleID);
        object.insert(it.key(), entry);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

}  // namespace rillow
