#include "engine/RTHandle.h"

#include "engine/InfoHashKey.h"

#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <memory>

namespace rillow {

// libtorrent throws when a handle expires between our validity check and the call (the torrent
// was removed on another thread); every wrapper turns that into its empty result.

namespace {

std::shared_ptr<const lt::torrent_info> metadataOf(const lt::torrent_handle& handle) {
    try {
        if (!handle.is_valid()) return nullptr;
        return handle.torrent_file();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

RTHandle::RTHandle(const lt::torrent_handle& handle) : _handle(handle) {
    try {
        if (_handle.is_valid()) _infoHash = infoHashKey(_handle.info_hashes());
    } catch (...) {
        _infoHash.clear();
    }
}

std::string RTHandle::infoHash() const {
    return _handle.is_valid() ? _infoHash : std::string();
}

bool RTHandle::hasMetadata() const {
    return metadataOf(_handle) != nullptr;
}

std::string RTHandle::name() const {
    if (!_handle.is_valid()) return {};
    if (auto info = metadataOf(_handle); info && !info->name().empty()) return info->name();
    try {
        const lt::torrent_status status = _handle.status(lt::torrent_handle::query_name);
        if (!status.name.empty()) return status.name;
    } catch (...) {
        return infoHash();
    }
    return infoHash();
}

std::string RTHandle::savePath() const {
    try {
        if (!_handle.is_valid()) return {};
        return _handle.status(lt::torrent_handle::query_save_path).save_path;
    } catch (...) {
        return {};
    }
}

std::int64_t RTHandle::pieceLength() const {
    const auto info = metadataOf(_handle);
    return info ? info->piece_length() : 0;
}

std::int64_t RTHandle::pieceCount() const {
    const auto info = metadataOf(_handle);
    return info ? info->num_pieces() : 0;
}

std::vector<RTFileEntry> RTHandle::files() const {
    std::vector<RTFileEntry> entries;
    const auto info = metadataOf(_handle);
    if (!info) return entries;
    const lt::file_storage& storage = info->files();
    entries.reserve(static_cast<std::size_t>(storage.num_files()));
    for (const lt::file_index_t index : storage.file_range()) {
        entries.emplace_back(static_cast<int>(index), storage.file_path(index),
                             storage.file_size(index), storage.file_offset(index));
    }
    return entries;
}

bool RTHandle::isSeed() const {
    try {
        if (!_handle.is_valid()) return false;
        return _handle.status().is_seeding;
    } catch (...) {
        return false;
    }
}

bool RTHandle::havePiece(std::int64_t piece) const {
    if (piece < 0 || piece > INT32_MAX) return false;
    try {
        if (!_handle.is_valid()) return false;
        return _handle.have_piece(lt::piece_index_t(static_cast<int>(piece)));
    } catch (...) {
        return false;
    }
}

std::int64_t RTHandle::copyHaveBitmapInto(std::uint8_t* buffer, std::int64_t capacity) const {
    if (buffer == nullptr || capacity < 1) return 0;
    lt::typed_bitfield<lt::piece_index_t> pieces;
    try {
        if (!_handle.is_valid()) return 0;
        pieces = _handle.status(lt::torrent_handle::query_pieces).pieces;
    } catch (...) {
        return 0;
    }
    const std::int64_t count = std::min<std::int64_t>(capacity, pieces.size());
    if (count < 1) return 0;
    for (int i = 0; i < count; ++i) buffer[i] = pieces.get_bit(lt::piece_index_t(i)) ? 1 : 0;
    return count;
}

void RTHandle::setPiecePriority(std::int64_t piece, std::uint8_t priority) {
    if (piece < 0 || piece > INT32_MAX) return;
    try {
        if (!_handle.is_valid()) return;
        _handle.piece_priority(lt::piece_index_t(static_cast<int>(piece)),
                               lt::download_priority_t(priority));
    } catch (...) {
    }
}

void RTHandle::setPieceDeadline(std::int64_t piece, std::int64_t deadlineMS) {
    if (piece < 0 || piece > INT32_MAX) return;
    try {
        if (!_handle.is_valid()) return;
        _handle.set_piece_deadline(
            lt::piece_index_t(static_cast<int>(piece)),
            static_cast<int>(std::clamp<std::int64_t>(deadlineMS, 0, INT32_MAX)));
    } catch (...) {
    }
}

void RTHandle::clearPieceDeadlines() {
    try {
        if (_handle.is_valid()) _handle.clear_piece_deadlines();
    } catch (...) {
    }
}

void RTHandle::downloadAllFiles() {
    const std::int64_t count = pieceCount();
    if (count < 1) return;
    try {
        if (!_handle.is_valid()) return;
        _handle.prioritize_pieces(std::vector<lt::download_priority_t>(
            static_cast<std::size_t>(count), lt::low_priority));
    } catch (...) {
    }
}

void RTHandle::pause() {
    try {
        if (!_handle.is_valid()) return;
        _handle.unset_flags(lt::torrent_flags::auto_managed);
        _handle.pause();
    } catch (...) {
    }
}

void RTHandle::resume() {
    try {
        if (!_handle.is_valid()) return;
        _handle.set_flags(lt::torrent_flags::auto_managed);
        _handle.resume();
    } catch (...) {
    }
}

std::int64_t RTHandle::byteOffsetForFile(std::int64_t fileIndex) const {
    const auto info = metadataOf(_handle);
    if (!info || fileIndex < 0 || fileIndex >= info->files().num_files()) return 0;
    return info->files().file_offset(lt::file_index_t(static_cast<int>(fileIndex)));
}

std::int64_t RTHandle::pieceIndexForFile(std::int64_t fileIndex, std::int64_t offset) const {
    const auto info = metadataOf(_handle);
    if (!info || info->piece_length() < 1) return 0;
    std::int64_t base = 0;
    if (fileIndex >= 0 && fileIndex < info->files().num_files())
        base = info->files().file_offset(lt::file_index_t(static_cast<int>(fileIndex)));
    return (base + offset) / info->piece_length();
}

}  // namespace rillow
