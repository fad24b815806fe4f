#pragma once
// One file of a torrent or of a local media item, the playable-extension rule and the natural
// order of file names. Values; any thread.

#include <QList>
#include <QString>

namespace rillow {

struct FileInfo {
    int fileIndex = 0;  // the torrent's file index, or the position in a local item
    QString path;       // inside the torrent, or the absolute path of a local file
    qint64 length = 0;  // bytes
    bool operator==(const FileInfo&) const = default;
};

// The lower-cased text after the last dot of the path's last component; empty when none.
QString lowerCaseExtension(const QString& path);

// Whether the extension is one of the 26 playable video and audio extensions.
bool isPlayableExtension(const QString& lowerCaseExtension);
inline bool isPlayablePath(const QString& path) {
    return isPlayableExtension(lowerCaseExtension(path));
}

// The order a file browser uses for names: digit runs compare by value (2 before 10), case is
// ignored, the user's locale decides the rest. Negative, zero or positive like strcmp.
int naturalCompare(const QString& a, const QString& b);

// Stable sort of files by path in natural order.
void sortByPathNaturally(QList<FileInfo>& files);

}  // namespace rillow
