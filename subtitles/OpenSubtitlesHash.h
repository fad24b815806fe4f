#pragma once
// The OpenSubtitles movie hash of a video file: its size plus the sum of the 64-bit
// little-endian words of its first and last 64 KiB, wrapping at 2^64, written as 16 lower-case
// hexadecimal digits. Subtitle addons use it to recognise the exact file.
//
// Threads: `checksum` and `fileHashNow` are pure or blocking functions for any thread except
// the main one (`fileHashNow` reads the disk). `fileHash` and `torrentFileHash` are coroutines
// started and awaited on the main thread: the file reads run on a background worker and the
// torrent wait polls the handle on the main thread between sleeps, so the main thread never
// waits on the disk or the network. Every failure gives nothing; no message reaches the user.

#include "engine/TorrentItem.h"
#include "platform/Tasks.h"

#include <QByteArrayView>
#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>

namespace rillow {

class OpenSubtitlesHash {
public:
    static constexpr qint64 blockSize = 65536;
    // The smallest file with a fingerprint: both blocks, with nothing in between.
    static constexpr qint64 minimumFileSize = 2 * blockSize;
    static constexpr std::chrono::milliseconds pollInterval{250};
    // Missing pieces are raised again every this many polls, in case something else (a piece
    // reader moving its window) lowered them meanwhile.
    static constexpr int raiseEveryPolls = 8;
    static constexpr std::uint8_t neededPiecePriority = 7;
    // What the subtitle coordinator allows a torrent file.
    static constexpr std::chrono::seconds torrentTimeLimit{25};

    OpenSubtitlesHash() = delete;

    // The fingerprint of a file of `size` bytes whose first and last blocks are given; nothing
    // unless the size is at least `minimumFileSize` and each block is exactly `blockSize` bytes.
    static std::optional<QString> checksum(quint64 size, QByteArrayView firstBlock,
                                           QByteArrayView lastBlock);

    // Reads the two blocks of the file at `path` (at most 128 KiB) and gives its fingerprint.
    // Without `size` the size is the position at the end of the file. Blocks on the disk: never
    // call it on the main thread.
    static std::optional<QString> fileHashNow(const QString& path,
                                              std::optional<qint64> size = std::nullopt);

    // `fileHashNow` on a background worker, resumed on the awaiting thread.
    static QCoro::Task<std::optional<QString>> fileHash(QString path,
                                                        std::optional<qint64> size = std::nullopt);

    // The fingerprint of file `fileIndex` of the torrent. Unless the torrent is complete, it
    // raises the pieces holding the two blocks to the top priority (on the first and on every
    // eighth poll, only those still missing) and polls four times a second until they are all
    // present, then hashes the file on disk with its listed length. Gives nothing when the
    // index is not listed, the file is too small, `timeLimit` passes (on the monotonic clock),
    // `token` is cancelled, or the item or its torrent goes away. Raised priorities stay.
    // The item is held weakly.
    static QCoro::Task<std::optional<QString>> torrentFileHash(QPointer<TorrentItem> item,
                                                               int fileIndex,
                                                               std::chrono::milliseconds timeLimit,
                                                               CancelToken token = {});

    // The pieces holding bytes [0, blockSize) and [length - blockSize, length) of the file;
    // empty for a file below `minimumFileSize`. Calls into the handle (main thread).
    static std::set<std::int64_t> neededPieces(const RTHandle& handle, int fileIndex,
                                               qint64 length);
};

}  // namespace rillow
