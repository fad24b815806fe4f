#pragma once
// The on-disk cache of converted subtitles: one folder per media scope (a torrent's info hash
// or a local scope string) under "Rillow/Subtitles", holding the subtitle files and an
// "index.json" that maps each file back to the addon candidate it came from.
//
// Main thread only (one store for the whole application, shared by every player's
// coordinator). Calls block briefly on small synchronous file reads and writes. Every
// file-system error is swallowed: reads give empty results, writes give no location.

#include "subtitles/SubtitleTranscoder.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <optional>

namespace rillow {

struct StoredSubtitle {
    int fileIndex = 0;                // index of the video file in its torrent; 0 for local files
    QString candidateID;              // the addon candidate's id
    std::optional<QString> language;  // language code
    QString title;                    // track title shown in mpv
    QString fileName;                 // name of the subtitle file in the same folder
    bool operator==(const StoredSubtitle&) const = default;
};

class SubtitleStore {
public:
    // Local scopes not touched for this long are pruned (90 days).
    static constexpr qint64 kLocalScopeLifetimeSeconds = 7'776'000;

    // `root` absent: the application-support folder + "Rillow/Subtitles", else the temporary
    // folder + "Subtitles". The root is created now; a failure is ignored.
    explicit SubtitleStore(std::optional<QString> root = std::nullopt);

    const QString& root() const { return root_; }
    // The scope's folder (not created); nothing for a scope that cannot have one.
    std::optional<QString> directory(const QString& scope) const;
    int generation(const QString& scope) const;
    QList<StoredSubtitle> entries(const QString& scope, int fileIndex) const;
    // The entry whose file is `path` (both standardised).
    std::optional<StoredSubtitle> entry(const QString& path, const QString& scope) const;
    // Writes the subtitle and records it; returns the file's path. Nothing when `generation`
    // is stale (the scope was invalidated meanwhile) or on any failure. A candidate already
    // stored for this file returns its existing file.
    std::optional<QString> save(const SubtitleText& subtitle, const QString& candidateID,
                                const std::optional<QString>& language, const QString& title,
                                const QString& scope, int fileIndex, int generation);
    // Marks the scope as used now (its folder's modification date).
    void touch(const QString& scope);
    // Forgets everything of the scope; saves begun before are refused.
    void invalidate(const QString& scope);
    // Start-up cleaning: removes every folder that is not in `keep` (compared lower-cased),
    // except "local-" folders, which go only when untouched for 90 days.
    void prune(const QSet<QString>& keep);

private:
    QList<StoredSubtitle> readIndex(const QString& folder) const;

    QString root_;
    QHash<QString, int> generations_;  // lower-cased scope -> generation; main thread
};

}  // namespace rillow
