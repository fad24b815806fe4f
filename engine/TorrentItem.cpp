#include "engine/TorrentItem.h"

#include <QDateTime>
#include <QPointer>

namespace rillow {

namespace {
QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}
}  // namespace

TorrentItem::TorrentItem(std::shared_ptr<RTHandle> handle, QObject* parent)
    : QObject(parent), handle_(std::move(handle)) {
    infoHash_ = fromStd(handle_->infoHash()).toLower();
    name_ = fromStd(handle_->name());
    refresh();
}

void TorrentItem::setHaveBitmap(const QByteArray& bitmap) {
    if (haveBitmap_ == bitmap) return;
    haveBitmap_ = bitmap;
    Q_EMIT haveBitmapChanged();
}

template <class T, class Signal>
static void assignAndNotify(TorrentItem* item, T& field, T value, Signal signal) {
    if (field == value) return;
    field = value;
    Q_EMIT(item->*signal)();
}

void TorrentItem::setDownloadRate(qint64 v) {
    assignAndNotify(this, downloadRate_, v, &TorrentItem::downloadRateChanged);
}
void TorrentItem::setUploadRate(qint64 v) {
    assignAndNotify(this, uploadRate_, v, &TorrentItem::uploadRateChanged);
}
void TorrentItem::setNumPeers(int v) {
    assignAndNotify(this, numPeers_, v, &TorrentItem::numPeersChanged);
}
void TorrentItem::setNumSeeds(int v) {
    assignAndNotify(this, numSeeds_, v, &TorrentItem::numSeedsChanged);
}
void TorrentItem::setProgress(double v) {
    assignAndNotify(this, progress_, v, &TorrentItem::progressChanged);
}
void TorrentItem::setAllTimeUpload(qint64 v) {
    assignAndNotify(this, allTimeUpload_, v, &TorrentItem::allTimeUploadChanged);
}
void TorrentItem::setAllTimeDownload(qint64 v) {
    assignAndNotify(this, allTimeDownload_, v, &TorrentItem::allTimeDownloadChanged);
}
void TorrentItem::setSeedingSeconds(qint64 v) {
    assignAndNotify(this, seedingSeconds_, v, &TorrentItem::seedingSecondsChanged);
}
void TorrentItem::setLastError(const QString& message) {
    if (lastError_ == message) return;
    lastError_ = message;
    Q_EMIT lastErrorChanged();
}

void TorrentItem::refresh() {
    if (!handle_->hasMetadata()) return;
    QList<FileInfo> files;
    for (const RTFileEntry& entry : handle_->files())
        files.append(
            FileInfo{static_cast<int>(entry.fileIndex()), fromStd(entry.path()), entry.length()});
    // Files first: an observer of hasMetadata finds them in place.
    assignAndNotify(this, files_, std::move(files), &TorrentItem::filesChanged);
    assignAndNotify(this, pieceCount_, static_cast<int>(handle_->pieceCount()),
                    &TorrentItem::pieceCountChanged);
    assignAndNotify(this, name_, fromStd(handle_->name()), &TorrentItem::nameChanged);
    assignAndNotify(this, hasMetadata_, true, &TorrentItem::hasMetadataChanged);
}

QList<FileInfo> TorrentItem::playableFiles() const {
    QList<FileInfo> playable;
    for (const FileInfo& file : files_)
        if (isPlayablePath(file.path)) playable.append(file);
    sortByPathNaturally(playable);
    return playable;
}

std::optional<FileInfo> TorrentItem::largestPlayableFile() const {
    std::optional<FileInfo> largest;
    for (const FileInfo& file : playableFiles())
        if (!largest || file.length > largest->length) largest = file;
    return largest;
}

bool TorrentItem::isPlaylist() const {
    const QList<FileInfo> playable = playableFiles();
    if (playable.size() < 2) return false;
    qint64 greatest = 0;
    for (const FileInfo& file : playable) greatest = std::max(greatest, file.length);
    if (greatest <= 0) return false;
    int similar = 0;
    for (const FileInfo& file : playable)
        if (double(file.length) / double(greatest) >= 0.5) ++similar;
    return similar >= 2;
}

qint64 TorrentItem::lastPieceIndex(int fileIndex) const {
    qint64 length = 0;
    for (const FileInfo& file : files_)
        if (file.fileIndex == fileIndex) length = file.length;
    return handle_->pieceIndexForFile(fileIndex, std::max<qint64>(length - 1, 0));
}

QCoro::Task<bool> TorrentItem::waitForMetadata(double limitSeconds, CancelToken token) {
    if (hasMetadata_) co_return true;
    QPointer<TorrentItem> self(this);
    const qint64 deadline =
        QDateTime::currentMSecsSinceEpoch() + static_cast<qint64>(limitSeconds * 1000.0);
    while (true) {
        if (!self || token.isCancelled()) co_return false;
        if (QDateTime::currentMSecsSinceEpoch() >= deadline) co_return false;
        if (self->handle_->hasMetadata()) {
            self->refresh();
            co_return true;
        }
        if (!co_await sleepFor(std::chrono::milliseconds(100), token)) co_return false;
    }
}

}  // namespace rillow
