#pragma once
// The audio and subtitle tracks the viewer chose, per file and per playlist, and the language
// of the last subtitle they picked. A JSON state file ("track-preferences.json") with delayed
// atomic writes; the language lives in the user defaults ("preferredSubtitleLanguage").
//
// Main thread only; created once by the application model. Per-file keys are
// "<lower-case scope>:<file index>", playlist keys "<lower-case scope>:*".

#include "platform/JsonStore.h"

#include <QMap>
#include <QString>
#include <functional>
#include <optional>

namespace rillow {

struct TrackSelection {
    std::optional<int> audioID;
    std::optional<int> subtitleID;  // -1: the viewer turned subtitles off
    std::optional<QString> onlineSubtitleID;
    bool operator==(const TrackSelection&) const = default;
};

class TrackPreferenceStore : public JsonStore {
public:
    static inline const QString fileName = QStringLiteral("track-preferences.json");
    static inline const QString languageDefaultsKey = QStringLiteral("preferredSubtitleLanguage");

    TrackPreferenceStore();
    explicit TrackPreferenceStore(const QString& path);

    std::optional<TrackSelection> selection(const QString& scope, int fileIndex) const;
    std::optional<TrackSelection> playlistSelection(const QString& scope) const;
    const QMap<QString, TrackSelection>& selections() const { return selections_; }

    void setAudio(int audioID, const QString& scope, int fileIndex);
    void setSubtitle(int subtitleID, const QString& scope, int fileIndex);
    void setOnlineSubtitle(const QString& candidateID, const QString& scope, int fileIndex);
    void clearSubtitle(const QString& scope, int fileIndex);
    void setPlaylistAudio(int audioID, const QString& scope);
    // Also drops the online choices of that scope's files: the playlist choice now rules.
    void setPlaylistSubtitle(int subtitleID, const QString& scope);
    void clearPlaylistSubtitle(const QString& scope);

    const std::optional<QString>& preferredSubtitleLanguage() const { return preferredLanguage_; }
    // Normalised first; a value that names no language leaves the preference as it was.
    void setPreferredSubtitleLanguage(const std::optional<QString>& language);

    // Removes every entry of the scope; writes at once when anything changed.
    void forget(const QString& scope);

protected:
    QByteArray encode() const override;

private:
    void update(const QString& key, const std::function<void(TrackSelection&)>& change);
    QMap<QString, TrackSelection> selections_;
    std::optional<QString> preferredLanguage_;
};

}  // namespace rillow
