#include "app/InputClassification.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace rillow {

namespace {

QString standardizedPath(const QUrl& location) {
    return QDir::cleanPath(QFileInfo(location.toLocalFile()).absoluteFilePath());
}

// Walks a folder in natural name order so that the cap keeps a predictable set of files.
// Hidden entries are skipped, and so is everything below a hidden folder; links to folders are
// not followed, which also rules out cycles.
void collectFolder(const QString& folder, QStringList& out) {
    QDir dir(folder);
    QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable);
    std::stable_sort(entries.begin(), entries.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return naturalCompare(a.fileName(), b.fileName()) < 0;
    });
    for (const QFileInfo& entry : entries) {
        if (out.size() >= LocalMediaItem::kMaxFiles) return;
        if (entry.isDir()) {
            if (!entry.isSymLink()) collectFolder(entry.filePath(), out);
        } else if (isPlayablePath(entry.fileName())) {
            out.append(QDir::cleanPath(entry.absoluteFilePath()));
        }
    }
}

}  // namespace

bool isMagnetText(const QString& text) {
    const QString lowered = text.trimmed().toLower();
    return lowered.startsWith(QLatin1String("magnet:?")) &&
           lowered.contains(QLatin1String("xt=urn:btih:"));
}

bool isAcceptableLocation(const QUrl& location) {
    if (location.scheme().toLower() == QLatin1String("magnet")) return true;
    if (!location.isLocalFile()) return false;
    const QString path = location.toLocalFile();
    const QString extension = lowerCaseExtension(path);
    if (extension == QLatin1String("torrent")) return true;
    if (isPlayableExtension(extension)) return true;
    if (path.endsWith(QLatin1Char('/'))) return true;
    return QFileInfo(path).isDir();
}

bool DragPreflight::canAccept(const QList<QUrl>& locations, const QStringList& texts) {
    for (const QUrl& location : locations)
        if (isAcceptableLocation(location)) return true;
    for (const QString& text : texts)
        if (isMagnetText(text)) return true;
    return false;
}

std::shared_ptr<LocalMediaItem> LocalMediaItem::make(const QList<QUrl>& locations) {
    QStringList paths;
    for (const QUrl& location : locations) {
        if (paths.size() >= kMaxFiles) break;
        if (!location.isLocalFile()) continue;
        const QString path = standardizedPath(location);
        if (QFileInfo(path).isDir())
            collectFolder(path, paths);
        else if (isPlayablePath(path))
            paths.append(path);
    }
    if (paths.isEmpty()) return nullptr;

    QList<FileInfo> files;
    for (const QString& path : paths) files.append(FileInfo{0, path, 0});
    sortByPathNaturally(files);
    auto item = std::make_shared<LocalMediaItem>();
    QStringList joined;
    for (int i = 0; i < files.size(); ++i) {
        files[i].fileIndex = i;
        const QFileInfo info(files[i].path);
        files[i].length = info.exists() ? info.size() : 0;
        joined.append(files[i].path);
    }
    item->files_ = std::move(files);
    item->roots_ = locations;
    item->id_ = joined.join(QLatin1Char('\t'));
    const QFileInfo first(item->files_.front().path);
    item->name_ = item->files_.size() == 1 ? first.fileName() : first.dir().dirName();
    return item;
}

QString LocalMediaItem::fileIdentifier(const QUrl& location) {
    const QByteArray digest =
        QCryptographicHash::hash(standardizedPath(location).toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("local-") + QString::fromLatin1(digest.toHex());
}

std::optional<QUrl> LocalMediaItem::location(int fileIndex) const {
    for (const FileInfo& file : files_)
        if (file.fileIndex == fileIndex) return QUrl::fromLocalFile(file.path);
    return std::nullopt;
}

}  // namespace rillow
