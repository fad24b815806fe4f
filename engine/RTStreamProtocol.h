#pragma once
// The "rillow" stream protocol: lets mpv open a file of a torrent as an ordinary stream.
//
// URIs are "rillow://" + info-hash key + "/" + file index. Opening one resolves the torrent in
// the session's registry (it must have been added before), waits up to `metadataTimeout` for
// its metadata (polling every 50 ms), creates a piece reader for the file, registers it with the
// session so completed pieces wake it, and hands mpv five callbacks forwarding to the reader.
//
// Threads: `openReaderForURI` blocks the calling thread (one of mpv's stream threads) while it
// waits for metadata; the other operations may be called from any thread and return at once.
// mpv calls read, seek and size on its stream thread and cancel from another of its threads
// (with its own lock held: the reader's cancel never blocks).
//
// Ownership: held through std::shared_ptr by the player and by the mpv client, which releases it
// only after the mpv handle is destroyed: mpv keeps this object as unretained user data. Each
// successful open creates one reader owned by mpv until it closes the stream; the session holds
// it weakly.

#include "engine/RTPieceReader.h"
#include "engine/RTSession.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct mpv_handle;

namespace rillow {

class RTStreamProtocol {
public:
    static constexpr const char* kScheme = "rillow";
    static constexpr double kDefaultMetadataTimeout = 30.0;

    struct StreamURI {
        std::string infoHash;  // lower case
        std::int64_t fileIndex = 0;
        bool operator==(const StreamURI&) const = default;
    };

    explicit RTStreamProtocol(std::shared_ptr<RTSession> session);
    RTStreamProtocol(const RTStreamProtocol&) = delete;
    RTStreamProtocol& operator=(const RTStreamProtocol&) = delete;

    // Seconds an open waits for metadata; a value <= 0 means one check without waiting.
    double metadataTimeout() const { return _metadataTimeout.load(); }
    void setMetadataTimeout(double seconds) { _metadataTimeout.store(seconds); }

    // Registers the "rillow" scheme on `mpv` with this object as user data; false for a null
    // handle or when libmpv refuses.
    bool registerProtocolOnMPVHandle(mpv_handle* mpv);

    // A reader for the file the URI names, or null (bad URI, torrent not added, metadata not in
    // time, index outside the torrent's files). May block up to `metadataTimeout`.
    std::shared_ptr<RTPieceReader> openReaderForURI(const std::string& uri) const;

    // Everything up to the first "://" is dropped; the rest splits at "/" into at least two
    // pieces: the key (lower-cased) and the index text, both non-empty; later pieces are
    // ignored. The index is the text's leading decimal integer (0 without one).
    static std::optional<StreamURI> parseURI(const std::string& uri);
    static std::string uriFor(const std::string& infoHash, std::int64_t fileIndex);

    // How many readers opened through this protocol are still alive (mpv closes its streams, and
    // so destroys their readers, when it stops, replaces or quits).
    int liveReaderCount() const;

private:
    const std::shared_ptr<RTSession> _session;
    std::atomic<double> _metadataTimeout{kDefaultMetadataTimeout};
    // Guarded by `_readersLock`; expired entries are pruned on each open.
    mutable std::mutex _readersLock;
    mutable std::vector<std::weak_ptr<RTPieceReader>> _readers;
};

}  // namespace rillow
