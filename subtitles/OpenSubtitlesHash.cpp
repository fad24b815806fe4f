#include "subtitles/OpenSubtitlesHash.h"

#include "platform/AppFolders.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <vector>

namespace rillow {

std::optional<QString> OpenSubtitlesHash::checksum(quint64 size, QByteArrayView firstBlock,
                                                   QByteArrayView lastBlock) {
    if (size < quint64(minimumFileSize) || firstBlock.size() != blockSize ||
        lastBlock.size() != blockSize)
        return std::nullopt;
    quint64 sum = size;
    for (const QByteArrayView block : {firstBlock, lastBlock}) {
        const char* bytes = block.data();
        for (qsizetype at = 0; at < blockSize; at += 8) {
            // Unsigned arithmetic wraps at 2^64, as the published hash does.
            sum += qFromLittleEndian<quint64>(bytes + at);
        }
    }
    return QString::number(sum, 16).rightJustified(16, u'0');
}

std::optional<QString> OpenSubtitlesHash::fileHashNow(const QString& path,
                                                      std::optional<qint64> size) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // A device without a size (a pipe) reads as size 0 and so has no fingerprint.
    const qint64 length = size ? *size : (file.isSequential() ? 0 : file.size());
    if (length < minimumFileSize) return std::nullopt;
    if (!file.seek(0)) return std::nullopt;
    const QByteArray first = file.read(blockSize);
    if (first.size() != blockSize || !file.seek(length - blockSize)) return std::nullopt;
    const QByteArray last = file.read(blockSize);
    return checksum(quint64(length), first, last);
}

QCoro::Task<std::optional<QString>> OpenSubtitlesHash::fileHash(QString path,
                                                                std::optional<qint64> size) {
    // A named callable, not a temporary of the co_await expression (GCC 12 destroys such a
    // temporary's captures twice).
    auto work = [path, size] { return fileHashNow(path, size); };
    std::optional<QString> result = co_await runInBackground(std::move(work));
    co_return result;
}

std::set<std::int64_t> OpenSubtitlesHash::neededPieces(const RTHandle& handle, int fileIndex,
                                                       qint64 length) {
    std::set<std::int64_t> pieces;
    if (length < minimumFileSize) return pieces;
    for (const qint64 start : {qint64(0), length - blockSize}) {
        const std::int64_t first = handle.pieceIndexForFile(fileIndex, start);
        const std::int64_t last = handle.pieceIndexForFile(fileIndex, start + blockSize - 1);
        for (std::int64_t piece = first; piece <= last; ++piece) pieces.insert(piece);
    }
    return pieces;
}

QCoro::Task<std::optional<QString>> OpenSubtitlesHash::torrentFileHash(
    QPointer<TorrentItem> item, int fileIndex, std::chrono::milliseconds timeLimit,
    CancelToken token) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeLimit;
    if (!item) co_return std::nullopt;
    std::optional<FileInfo> entry;
    for (const FileInfo& file : item->files()) {
        if (file.fileIndex == fileIndex) {
            entry = file;
            break;
        }
    }
    if (!entry || entry->length < minimumFileSize) co_return std::nullopt;
    const std::shared_ptr<RTHandle> handle = item->handle();
    if (!handle) co_return std::nullopt;
    const QString savePath = QString::fromStdString(handle->savePath());
    if (savePath.isEmpty()) co_return std::nullopt;
    const QString location = joinPath(savePath, entry->path);
    const qint64 length = entry->length;

    if (!handle->isSeed()) {
        const std::set<std::int64_t> needed = neededPieces(*handle, fileIndex, length);
        for (int poll = 0;; ++poll) {
            // A torrent removed from the library (its handle now answers with empty values)
            // will never bring its pieces.
            if (!item || handle->infoHash().empty()) co_return std::nullopt;
            std::vector<std::int64_t> missing;
            for (const std::int64_t piece : needed)
                if (!handle->havePiece(piece)) missing.push_back(piece);
            if (missing.empty()) break;
            const Clock::time_point now = Clock::now();
            if (now >= deadline || token.isCancelled()) co_return std::nullopt;
            if (poll % raiseEveryPolls == 0) {
                for (const std::int64_t piece : missing)
                    handle->setPiecePriority(piece, neededPiecePriority);
            }
            // The last sleep ends at the deadline rather than after it. A cancelled sleep
            // returns early; the next poll sees the token.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            co_await sleepFor(std::min<std::chrono::milliseconds>(pollInterval, left), token);
        }
    }
    auto read = fileHash(location, length);
    std::optional<QString> result = co_await std::move(read);
    co_return result;
}

}  // namespace rillow
