#pragma once
// One torrent of the session, wrapped. Any thread.
//
// Queries (infoHash is cached and never blocks; the others) wait for libtorrent's network thread
// to answer; commands (priorities, deadlines, pause, resume) are queued to it and return at once.
// The wrapped libtorrent handle refers to its torrent weakly: once the torrent is removed every
// query returns its empty value and every command does nothing. A torrent without metadata yet
// answers with empty or zero values. No operation throws.
//
// Owned through std::shared_ptr by the session's registry and by whoever uses the torrent
// (library items, piece readers). The command operations are virtual so that tests can record
// what a piece reader asks for (libtorrent has no way to read piece deadlines back).

#include "engine/RTFileEntry.h"

#include <cstdint>
#include <libtorrent/torrent_handle.hpp>
#include <string>
#include <vector>

namespace rillow {

class RTHandle {
public:
    // Stores the handle; the info-hash key is computed once here, so it stays the torrent's
    // identity even when libtorrent learns a second hash later (a version 2 magnet of a hybrid
    // torrent).
    explicit RTHandle(const lt::torrent_handle& handle);
    virtual ~RTHandle() = default;
    RTHandle(const RTHandle&) = delete;
    RTHandle& operator=(const RTHandle&) = delete;

    lt::torrent_handle handle() const { return _handle; }

    // 40 lower-case hexadecimal digits; empty once the torrent is gone.
    std::string infoHash() const;
    bool hasMetadata() const;
    // The metadata's name, else the status name (a magnet's display name), else infoHash().
    std::string name() const;
    std::string savePath() const;
    std::int64_t pieceLength() const;  // 0 without metadata
    std::int64_t pieceCount() const;   // 0 without metadata
    // Every file of the metadata, pad files included, in file-index order; empty without it.
    std::vector<RTFileEntry> files() const;
    bool isSeed() const;
    // The only authority that a piece's bytes are verified and in the file on disk.
    bool havePiece(std::int64_t piece) const;
    // One byte per piece (1 present, 0 missing) into `buffer`, at most `capacity` bytes; returns
    // the count written (0 for a null buffer, a capacity below 1, no metadata or no torrent).
    // Bytes past the count are left untouched.
    std::int64_t copyHaveBitmapInto(std::uint8_t* buffer, std::int64_t capacity) const;

    // Priorities: 0 do not download, 1 low, 4 default, 7 top. Negative pieces are ignored.
    virtual void setPiecePriority(std::int64_t piece, std::uint8_t priority);
    // A deadline in milliseconds from now; no alert is asked for when the piece arrives.
    virtual void setPieceDeadline(std::int64_t piece, std::int64_t deadlineMS);
    virtual void clearPieceDeadlines();
    // Every piece back to priority 1, undoing a piece reader's choices.
    virtual void downloadAllFiles();
    // Pause clears auto-management so libtorrent's queue never restarts the torrent by itself;
    // resume sets it again.
    virtual void pause();
    virtual void resume();

    // Offset of the file's first byte in the torrent's data; 0 without metadata or for an index
    // outside the torrent's files.
    std::int64_t byteOffsetForFile(std::int64_t fileIndex) const;
    // (byteOffsetForFile + offset) / pieceLength; 0 without metadata.
    std::int64_t pieceIndexForFile(std::int64_t fileIndex, std::int64_t offset) const;

private:
    lt::torrent_handle _handle;
    std::string _infoHash;  // set once by the constructor
};

}  // namespace rillow
