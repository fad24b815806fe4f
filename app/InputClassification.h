#pragma once
// Sorting what the user hands over: magnet text, acceptable locations, and local media items.
// Main thread only; the folder walk and size queries run synchronously.

#include "engine/FileInfo.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

namespace rillow {

// Trimmed, lower-cased text starting with "magnet:?" and carrying "xt=urn:btih:".
bool isMagnetText(const QString& text);

// A magnet location, a .torrent or playable file, or a folder.
bool isAcceptableLocation(const QUrl& location);

// Whether a drop of these locations and texts would do anything (the user interface reads the
// drag's locations and texts and asks this while the drag hovers).
struct DragPreflight {
    static bool canAccept(const QList<QUrl>& locations, const QStringList& texts);
};

// Local media files opened together: sorted, named, with a stable identity.
class LocalMediaItem {
public:
    static constexpr int kMaxFiles = 500;

    // The item made from files and folders, or nothing when they hold no playable file.
    static std::shared_ptr<LocalMediaItem> make(const QList<QUrl>& locations);

    // "local-" + lower-case hex SHA-256 of the UTF-8 standardized absolute path.
    static QString fileIdentifier(const QUrl& location);

    const QList<FileInfo>& files() const { return files_; }
    const QList<QUrl>& roots() const { return roots_; }
    const QString& name() const { return name_; }
    // Every file's path, in order, joined by tabs.
    const QString& id() const { return id_; }

    std::optional<QUrl> location(int fileIndex) const;

private:
    QList<FileInfo> files_;
    QList<QUrl> roots_;
    QString name_;
    QString id_;
};

}  // namespace rillow
