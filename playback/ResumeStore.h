#pragma once
// Where the viewer stopped in each file, and which file of a multi-file torrent was played last.
// A JSON state file ("positions.json") with delayed atomic writes.
//
// Main thread only; created once by the application model. Keys: the scope (an info hash, or a
// local file identifier with file index 0) lower-cased, ":" and the file index. Every operation
// lower-cases the scope it is given.

#include "platform/JsonStore.h"

#include <QMap>
#include <QString>
#include <optional>

namespace rillow {

// "Rillow/State" under the application-support folder, or under the temporary folder when
// there is none; created when missing (a failure is ignored).
QString playbackStateFolder();
QString perFileKey(const QString& scope, int fileIndex);

class ResumeStore : public JsonStore {
public:
    static inline const QString fileName = QStringLiteral("positions.json");

    ResumeStore();
    explicit ResumeStore(const QString& path);

    std::optional<double> position(const QString& scope, int fileIndex) const;
    // The player model sets and removes entries itself, then calls scheduleFlush().
    QMap<QString, double>& positions() { return positions_; }
    const QMap<QString, double>& positions() const { return positions_; }

    std::optional<int> lastPlayedFile(const QString& infoHash) const;
    void setLastPlayed(const QString& infoHash, int fileIndex);
    // Removes every position of that torrent except this file's.
    void keepOnlyPosition(const QString& infoHash, int fileIndex);
    // Removes every position and the last-played entry of the torrent; writes at once.
    void forget(const QString& infoHash);

protected:
    QByteArray encode() const override;

private:
    QMap<QString, double> positions_;
    QMap<QString, int> lastPlayed_;
};

}  // namespace rillow
