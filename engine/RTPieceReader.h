#pragma once
// One file of a torrent as a seekable byte stream whose download follows the reader.
//
// Threads: `read` and `seekTo` come from one stream thread at a time (mpv's); `cancel` may come
// from any thread while a read is blocked; `pieceBecameAvailable` comes from the session's alert
// thread. A seek from another thread is safe too: it interrupts a blocked read.
// `read` blocks until the piece under the position is present, a seek or a cancel interrupts
// it; everything else returns at once (handle commands are only queued to libtorrent).
//
// Ownership: created by the stream protocol and owned by mpv (through its cookie); the session
// holds it weakly. Holds its RTHandle strongly. Closes its file descriptor when destroyed.
//
// Locks: `_condMutex` guards `_generation`, `_wakeups`, `_completionDirty` and `_position`; it is
// never held while calling libtorrent. `_scheduleMutex` guards the window fields and the
// decoupling state; under it only RTHandle commands are issued, which merely queue work and
// call back into nothing.

#include "engine/RTHandle.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rillow {

class RTPieceReader {
public:
    static constexpr std::int64_t kWindowBytes = 25'165'824;  // 24 MiB of urgent pieces
    static constexpr std::int64_t kMinimumWindowPieces = 12;
    static constexpr std::int64_t kPrefetchFactor = 2;  // normal part = twice the urgent part
    static constexpr std::int64_t kDeadlineStepMS = 150;
    // libtorrent may announce a piece before its last block is written, and then never again:
    // a blocked read re-checks its piece at least this often.
    static constexpr std::chrono::milliseconds kWaitSlice{100};

    static constexpr std::uint8_t kPriorityNone = 0;
    static constexpr std::uint8_t kPriorityLow = 1;
    static constexpr std::uint8_t kPriorityDefault = 4;
    static constexpr std::uint8_t kPriorityTop = 7;

    // Reads the torrent's facts, sets baseline priorities and the window at the file's start.
    // A file index outside the torrent gives a reader of size 0 that reads nothing.
    RTPieceReader(std::shared_ptr<RTHandle> handle, std::int64_t fileIndex);
    ~RTPieceReader();
    RTPieceReader(const RTPieceReader&) = delete;
    RTPieceReader& operator=(const RTPieceReader&) = delete;

    std::int64_t size() const { return _size; }
    std::string infoHash() const { return _handle->infoHash(); }

    // Bytes read (>= 1), 0 at the end of the stream or when the file cannot be opened, -1 when
    // a seek or cancel interrupted it or on a read error. Returns only bytes of pieces that
    // libtorrent reports present, contiguous from the position. May block.
    std::int64_t read(char* buffer, std::int64_t length);
    // The new position, or -1 (position unchanged) outside 0...size.
    std::int64_t seekTo(std::int64_t position);
    void pieceBecameAvailable(std::int64_t piece);
    // Makes the read in progress (if any) return -1; later reads are not affected.
    void cancel();

    std::uint8_t baselinePriorityForPiece(std::int64_t piece) const;
    void primeBaselinePriorities();
    void applyScheduleForGlobalOffset(std::int64_t globalOffset);
    bool allPiecesPresent() const;
    void releaseOtherFiles();
    // The read-only descriptor of the file, opened on first use; -1 when it cannot be opened yet.
    int fileDescriptor();

    // Facts for callers and tests.
    std::int64_t position() const;
    std::int64_t firstPiece() const { return _firstPiece; }
    std::int64_t lastPiece() const { return _lastPiece; }
    std::int64_t windowStart() const;
    std::int64_t windowEnd() const;
    bool isDecoupled() const { return _decoupled.load(); }
    const std::optional<std::string>& filePath() const { return _filePath; }

private:
    void applyScheduleLocked(std::int64_t globalOffset);
    void releaseOtherFilesLocked();

    const std::shared_ptr<RTHandle> _handle;
    const std::int64_t _fileIndex;
    std::int64_t _size = 0;
    std::int64_t _fileByteOffset = 0;
    std::int64_t _pieceLength = 0;
    std::int64_t _pieceCount = 0;
    std::int64_t _firstPiece = 0;
    std::int64_t _lastPiece = 0;
    std::optional<std::string> _filePath;
    int _fd = -1;  // stream thread only

    // guarded by _condMutex
    mutable std::mutex _condMutex;
    std::condition_variable _cond;
    std::int64_t _position = 0;
    std::uint64_t _generation = 0;
    std::uint64_t _wakeups = 0;
    bool _completionDirty = true;

    // guarded by _scheduleMutex
    mutable std::mutex _scheduleMutex;
    std::int64_t _windowStart = 0;
    std::int64_t _windowEnd = 0;
    bool _releasedOtherFiles = false;

    std::atomic<bool> _decoupled{false};
};

}  // namespace rillow
