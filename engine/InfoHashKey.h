#pragma once
// The info-hash key: a torrent's identity as 40 lower-case hexadecimal digits. Any thread.

#include <libtorrent/info_hash.hpp>
#include <string>

namespace rillow {

// The version 1 info hash when the torrent has one; otherwise the version 2 hash truncated to
// 20 bytes, so that torrents with only a version 2 hash get distinct keys instead of sharing
// forty zeros. Empty when neither hash is known.
std::string infoHashKey(const lt::info_hash_t& hashes);

}  // namespace rillow
