#pragma once
// A BitTorrent seeder on 127.0.0.1 for tests, over its own libtorrent session (DHT, LSD, UPnP
// and NAT-PMP off, listening on a port the system picks).
//
// It writes deterministic pseudo-random files into its own temporary folder, makes a torrent of
// them with libtorrent's create_torrent and seeds it. It can throttle its upload (loopback peers
// are put in the rate-limited global peer class, and a 100 ms tick keeps the limiter from
// sending in bursts), pause, resume, or vanish (its session is destroyed).
//
// Threads: construct, use and destroy it on one thread (the test's); libtorrent's own threads
// do the work. The constructor blocks until the seeder listens and seeds (or fails: ok()).

#include <cstdint>
#include <libtorrent/fwd.hpp>
#include <memory>
#include <string>
#include <vector>

#include <QTemporaryDir>

namespace rillow::test {

struct SeedFile {
    std::string name;
    std::int64_t size = 0;
    // When set, this file's bytes are seeded instead of generated ones (`size` is taken from it).
    std::string sourcePath;
};

enum class TorrentKind { hybrid, v1Only, v2Only };

struct SeederOptions {
    // One file makes a single-file torrent named after it; more make a multi-file torrent in
    // `folder` (hybrid and v2 torrents align every file to a piece with pad files).
    std::vector<SeedFile> files;
    int pieceSize = 256 * 1024;
    std::string folder = "content";
    TorrentKind kind = TorrentKind::hybrid;
    int uploadRateLimit = 0;  // bytes per second; 0 is unlimited
    std::uint64_t contentSeed = 1;
};

class LoopbackSeeder {
public:
    explicit LoopbackSeeder(SeederOptions options);
    ~LoopbackSeeder();
    LoopbackSeeder(const LoopbackSeeder&) = delete;
    LoopbackSeeder& operator=(const LoopbackSeeder&) = delete;

    bool ok() const { return _ok; }
    int port() const { return _port; }
    std::string infoHash() const;  // the info-hash key
    // A magnet carrying the seeder's address as x.pe=127.0.0.1:PORT; `extra` is appended as-is
    // (for example "&tr=...").
    std::string magnet(const std::string& extra = {}) const;
    // The .torrent file's bytes.
    const std::vector<char>& torrentData() const { return _torrentData; }
    std::shared_ptr<const lt::torrent_info> torrentInfo() const { return _info; }

    // The folder the torrent's paths are relative to, and one file's path on disk.
    std::string contentRoot() const;
    std::string filePath(int fileIndex) const;
    // Bytes of a file (as generated), clipped to the file.
    std::vector<char> fileBytes(int fileIndex, std::int64_t offset, std::int64_t length) const;

    void setUploadRateLimit(int bytesPerSecond);
    void pause();
    void resume();
    // Destroys the seeder's session: every connection ends and nothing more is sent.
    void vanish();

private:
    SeederOptions _options;
    QTemporaryDir _folder;
    std::unique_ptr<lt::session> _session;
    std::shared_ptr<const lt::torrent_info> _info;
    std::vector<char> _torrentData;
    int _port = 0;
    bool _ok = false;
};

// Writes `size` deterministic pseudo-random bytes for (seed, file index) to `path`.
bool writeGeneratedFile(const std::string& path, std::int64_t size, std::uint64_t seed,
                        int fileIndex);

// A version 1 torrent of the given files without any data behind it (made-up piece hashes):
// for tests of priorities and geometry, where nothing is downloaded. Pad files align each file
// to a piece when `padFiles` is set.
std::vector<char> makeTorrentWithoutData(const std::vector<SeedFile>& files, int pieceSize,
                                         const std::string& folder = "content",
                                         bool padFiles = true);

}  // namespace rillow::test
