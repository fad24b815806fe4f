#pragma once
// The library model of one torrent: identity, name, metadata facts, files, present pieces,
// transfer statistics and last error.
//
// Main thread only. Observable: each property notifies only when its value changes. The calls
// into the handle from `refresh`, `lastPieceIndex` and `waitForMetadata` are synchronous queries
// to libtorrent's network thread (short; never a wait on the network). Created and owned by the
// torrent engine (shared with views and players); the handle is shared with the session.

#include "engine/FileInfo.h"
#include "engine/RTHandle.h"
#include "platform/Tasks.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace rillow {

class TorrentItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString infoHash READ infoHash CONSTANT)
    Q_PROPERTY(QString name READ name NOTIFY nameChanged)
    Q_PROPERTY(bool hasMetadata READ hasMetadata NOTIFY hasMetadataChanged)
    Q_PROPERTY(int pieceCount READ pieceCount NOTIFY pieceCountChanged)
    Q_PROPERTY(qint64 downloadRate READ downloadRate NOTIFY downloadRateChanged)
    Q_PROPERTY(qint64 uploadRate READ uploadRate NOTIFY uploadRateChanged)
    Q_PROPERTY(int numPeers READ numPeers NOTIFY numPeersChanged)
    Q_PROPERTY(int numSeeds READ numSeeds NOTIFY numSeedsChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(qint64 allTimeUpload READ allTimeUpload NOTIFY allTimeUploadChanged)
    Q_PROPERTY(qint64 allTimeDownload READ allTimeDownload NOTIFY allTimeDownloadChanged)
    Q_PROPERTY(qint64 seedingSeconds READ seedingSeconds NOTIFY seedingSecondsChanged)
    Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)

public:
    explicit TorrentItem(std::shared_ptr<RTHandle> handle, QObject* parent = nullptr);

    const std::shared_ptr<RTHandle>& handle() const { return handle_; }
    const QString& infoHash() const { return infoHash_; }
    const QString& name() const { return name_; }
    bool hasMetadata() const { return hasMetadata_; }
    int pieceCount() const { return pieceCount_; }
    const QList<FileInfo>& files() const { return files_; }
    const QByteArray& haveBitmap() const { return haveBitmap_; }
    qint64 downloadRate() const { return downloadRate_; }
    qint64 uploadRate() const { return uploadRate_; }
    int numPeers() const { return numPeers_; }
    int numSeeds() const { return numSeeds_; }
    double progress() const { return progress_; }
    qint64 allTimeUpload() const { return allTimeUpload_; }
    qint64 allTimeDownload() const { return allTimeDownload_; }
    qint64 seedingSeconds() const { return seedingSeconds_; }
    const std::optional<QString>& lastError() const { return lastError_; }
    QString lastErrorText() const { return lastError_.value_or(QString()); }

    // Setters used by the engine; each notifies only on a change.
    void setHaveBitmap(const QByteArray& bitmap);
    void setDownloadRate(qint64 value);
    void setUploadRate(qint64 value);
    void setNumPeers(int value);
    void setNumSeeds(int value);
    void setProgress(double value);
    void setAllTimeUpload(qint64 value);
    void setAllTimeDownload(qint64 value);
    void setSeedingSeconds(qint64 value);
    void setLastError(const QString& message);

    // Copies name, metadata facts and files from the handle once it has metadata.
    void refresh();

    // Playable files sorted by path in natural order (computed on every call).
    QList<FileInfo> playableFiles() const;
    std::optional<FileInfo> largestPlayableFile() const;
    bool isPlaylist() const;
    // The piece holding the file's last byte (its first byte for an empty file).
    qint64 lastPieceIndex(int fileIndex) const;

    // True once metadata is known, false when `limitSeconds` passes first or `token` is
    // cancelled (a cancelled wait ends at once rather than sleeping out its deadline).
    QCoro::Task<bool> waitForMetadata(double limitSeconds, CancelToken token = {});

Q_SIGNALS:
    void nameChanged();
    void hasMetadataChanged();
    void pieceCountChanged();
    void filesChanged();
    void haveBitmapChanged();
    void downloadRateChanged();
    void uploadRateChanged();
    void numPeersChanged();
    void numSeedsChanged();
    void progressChanged();
    void allTimeUploadChanged();
    void allTimeDownloadChanged();
    void seedingSecondsChanged();
    void lastErrorChanged();

private:
    std::shared_ptr<RTHandle> handle_;
    QString infoHash_;
    QString name_;
    bool hasMetadata_ = false;
    int pieceCount_ = 0;
    QList<FileInfo> files_;
    QByteArray haveBitmap_;
    qint64 downloadRate_ = 0;
    qint64 uploadRate_ = 0;
    int numPeers_ = 0;
    int numSeeds_ = 0;
    double progress_ = 0;
    qint64 allTimeUpload_ = 0;
    qint64 allTimeDownload_ = 0;
    qint64 seedingSeconds_ = 0;
    std::optional<QString> lastError_;
};

}  // namespace rillow
