#include "engine/RTPieceReader.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>

namespace rillow {

RTPieceReader::RTPieceReader(std::shared_ptr<RTHandle> handle, std::int64_t fileIndex)
    : _handle(std::move(handle)), _fileIndex(fileIndex) {
    _pieceLength = _handle->pieceLength();
    _pieceCount = _handle->pieceCount();
    _fileByteOffset = _handle->byteOffsetForFile(fileIndex);
    for (const RTFileEntry& entry : _handle->files()) {
        if (entry.fileIndex() != fileIndex) continue;
        _size = entry.length();
        _filePath = (std::filesystem::path(_handle->savePath()) / entry.path()).string();
        break;
    }
    if (_pieceLength >= 1) {
        _firstPiece = _handle->pieceIndexForFile(fileIndex, 0);
        _lastPiece = _handle->pieceIndexForFile(fileIndex, _size > 1 ? _size - 1 : 0);
    }
    primeBaselinePriorities();
    applyScheduleForGlobalOffset(_fileByteOffset);
}

RTPieceReader::~RTPieceReader() {
    if (_fd >= 0) ::close(_fd);
}

std::uint8_t RTPieceReader::baselinePriorityForPiece(std::int64_t piece) const {
    if (piece >= _firstPiece && piece <= _lastPiece) return kPriorityLow;
    std::lock_guard lock(_scheduleMutex);
    return _releasedOtherFiles ? kPriorityLow : kPriorityNone;
}

void RTPieceReader::primeBaselinePriorities() {
    if (_pieceCount < 1) return;
    for (std::int64_t piece = 0; piece < _pieceCount; ++piece)
        _handle->setPiecePriority(piece, baselinePriorityForPiece(piece));
    _handle->setPiecePriority(_firstPiece, kPriorityTop);
    _handle->setPiecePriority(_lastPiece, kPriorityTop);
}

void RTPieceReader::applyScheduleForGlobalOffset(std::int64_t globalOffset) {
    std::lock_guard lock(_scheduleMutex);
    applyScheduleLocked(globalOffset);
}

void RTPieceReader::applyScheduleLocked(std::int64_t g) {
    if (_pieceLength < 1 || _pieceCount < 1 || g < 0) return;
    std::int64_t window = kWindowBytes / _pieceLength;
    if (window <= kMinimumWindowPieces) window = kMinimumWindowPieces;
    const std::int64_t end = _lastPiece >= 0 ? _lastPiece + 1 : _pieceCount;
    const std::int64_t p = g / _pieceLength;
    const std::int64_t urgentEnd = std::min(p + window, end);
    const std::int64_t windowEnd = std::min(p + (1 + kPrefetchFactor) * window, end);
    const auto baseline = [this](std::int64_t piece) {
        return (piece >= _firstPiece && piece <= _lastPiece) || _releasedOtherFiles ? kPriorityLow
                                                                                    : kPriorityNone;
    };

    for (std::int64_t j = _windowStart; j < _windowEnd; ++j) {
        if ((j < p || j >= windowEnd) && j >= 0 && j < _pieceCount && j != _firstPiece &&
            j != _lastPiece)
            _handle->setPiecePriority(j, baseline(j));
    }
    if (end > p) {
        for (std::int64_t j = p; j < _pieceCount; ++j) {
            _handle->setPiecePriority(j, kPriorityTop);
            _handle->setPieceDeadline(j, kDeadlineStepMS * (j - p));
            if (j + 1 >= urgentEnd) break;
        }
    }
    if (p + window < windowEnd) {
        for (std::int64_t j = urgentEnd; j < _pieceCount; ++j) {
            _handle->setPiecePriority(j, kPriorityDefault);
            if (j + 1 >= windowEnd) break;
        }
    }
    _windowStart = p;
    _windowEnd = windowEnd;
}

bool RTPieceReader::allPiecesPresent() const {
    if (_pieceCount < 1) return false;
    if (_firstPiece > _lastPiece) return true;
    for (std::int64_t piece = _firstPiece; piece <= _lastPiece; ++piece) {
        if (!_handle->havePiece(piece)) return false;
    }
    return true;
}

void RTPieceReader::releaseOtherFiles() {
    std::lock_guard lock(_scheduleMutex);
    releaseOtherFilesLocked();
}

void RTPieceReader::releaseOtherFilesLocked() {
    if (_releasedOtherFiles) return;
    _releasedOtherFiles = true;
    for (std::int64_t piece = 0; piece < _pieceCount; ++piece) {
        if (piece < _firstPiece || piece > _lastPiece)
            _handle->setPiecePriority(piece, kPriorityLow);
    }
}

int RTPieceReader::fileDescriptor() {
    if (_fd >= 0) return _fd;
    if (!_filePath) return -1;
    _fd = ::open(_filePath->c_str(), O_RDONLY | O_CLOEXEC);
    return _fd;
}

std::int64_t RTPieceReader::position() const {
    std::lock_guard lock(_condMutex);
    return _position;
}

std::int64_t RTPieceReader::windowStart() const {
    std::lock_guard lock(_scheduleMutex);
    return _windowStart;
}

std::int64_t RTPieceReader::windowEnd() const {
    std::lock_guard lock(_scheduleMutex);
    return _windowEnd;
}

std::int64_t RTPieceReader::read(char* buffer, std::int64_t length) {
    if (buffer == nullptr || length < 1) return 0;
    std::unique_lock lock(_condMutex);
    const std::int64_t position = _position;
    const std::uint64_t generation = _generation;
    lock.unlock();
    if (position >= _size || _pieceLength < 1) return 0;

    const std::int64_t g = _fileByteOffset + position;
    const std::int64_t p = g / _pieceLength;

    if (!_decoupled.load()) {
        applyScheduleForGlobalOffset(g);
        lock.lock();
        bool interrupted = false;
        for (;;) {
            const std::uint64_t wakeups = _wakeups;
            lock.unlock();
            const bool have = _handle->havePiece(p);
            lock.lock();
            if (_generation != generation) {
                interrupted = true;
                break;
            }
            if (have) break;
            // A wake-up that came while we asked libtorrent is not lost: the count moved on.
            _cond.wait_for(lock, kWaitSlice,
                           [&] { return _generation != generation || _wakeups != wakeups; });
        }
        const bool dirty = std::exchange(_completionDirty, false);
        lock.unlock();
        if (interrupted) return -1;
        if (dirty && allPiecesPresent()) {
            std::lock_guard scheduleLock(_scheduleMutex);
            if (!_decoupled.load()) {
                _handle->clearPieceDeadlines();
                _decoupled.store(true);
                releaseOtherFilesLocked();
            }
        }
    }

    // The contiguous extent of present bytes from the position, at most `length`.
    const bool decoupled = _decoupled.load();
    const std::int64_t want = std::min(length, _size - position);
    const std::int64_t limit = g + want;
    std::int64_t end = g;
    if (want > 0 && p < _pieceCount) {
        for (std::int64_t j = p;; ++j) {
            // The piece under the position was just checked.
            if (!decoupled && j != p && !_handle->havePiece(j)) break;
            end = std::min((j + 1) * _pieceLength, limit);
            if ((j + 1) * _pieceLength >= limit || j + 1 >= _pieceCount) break;
        }
    }
    if (end - g < 1) return 0;

    const int fd = fileDescriptor();
    if (fd < 0) return 0;
    ssize_t count;
    do {
        count =
            ::pread(fd, buffer, static_cast<std::size_t>(end - g), static_cast<off_t>(position));
    } while (count < 0 && errno == EINTR);
    if (count == 0) return 0;
    if (count < 0) return -1;

    lock.lock();
    // A seek from another thread during the copy: these bytes belong to the old position.
    if (_generation != generation) return -1;
    _position = position + count;
    return count;
}

std::int64_t RTPieceReader::seekTo(std::int64_t position) {
    if (position < 0 || position > _size) return -1;
    {
        std::lock_guard lock(_condMutex);
        _position = position;
        ++_generation;
    }
    _cond.notify_all();
    if (_decoupled.load()) return position;
    _handle->clearPieceDeadlines();
    applyScheduleForGlobalOffset(_fileByteOffset + position);
    return position;
}

void RTPieceReader::pieceBecameAvailable(std::int64_t /*piece*/) {
    {
        std::lock_guard lock(_condMutex);
        _completionDirty = true;
        ++_wakeups;
    }
    _cond.notify_all();
}

void RTPieceReader::cancel() {
    {
        std::lock_guard lock(_condMutex);
        ++_generation;
    }
    _cond.notify_all();
}

}  // namespace rillow
