#pragma once
// The one libtorrent session of the process, its registry of torrents, its resume files and its
// alert thread. Any thread may call any public operation unless noted.
//
// Threads: the alert thread (started by the constructor) waits for libtorrent alerts up to
// 200 ms at a time, wakes piece readers first, writes resume files, and then hands mapped
// `RTAlert` records to the alert handler, synchronously, on the alert thread. The handler must
// only queue work: piece wake-ups for readers travel on the same thread.
//
// Status updates: the alert thread asks libtorrent for torrent status updates once a second
// (kStatusInterval), so `RTAlertTypeStatus` records arrive about once a second for every torrent
// whose status changed; `postTorrentUpdates()` asks at once (after an add, for example).
//
// Ownership: held through std::shared_ptr (the torrent engine, stream protocols). Torrent
// handles are shared with their users; piece readers are held weakly and drop out when they are
// destroyed. Destruction runs `shutdown()`, which joins the alert thread: never destroy the
// session from inside the alert handler.
//
// Locks: the registry (`_handlesLock`) and the reader set (`_readersLock`) each have their own
// lock; they are never held together, and no lock is held while calling into a reader, a handle
// wrapper's user or the alert handler.
//
// Network: in loopback mode (isLoopbackMode()) the session listens on 127.0.0.1 only, on a port
// the system picks, with DHT, LSD, UPnP and NAT-PMP off; nothing else differs.

#include "engine/RTAlert.h"
#include "engine/RTHandle.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <libtorrent/fwd.hpp>

namespace rillow {

class RTPieceReader;

class RTSession {
public:
    using AlertHandler = std::function<void(const RTAlert&)>;

    static constexpr std::chrono::milliseconds kAlertWait{200};
    static constexpr std::chrono::milliseconds kStatusInterval{1000};
    static constexpr std::chrono::seconds kDrainLimit{10};

    // Copies both paths, creates the libtorrent session with the fixed settings and starts the
    // alert thread. Does not create the folders (the engine does).
    RTSession(std::string downloadPath, std::string statePath);
    virtual ~RTSession();
    RTSession(const RTSession&) = delete;
    RTSession& operator=(const RTSession&) = delete;

    AlertHandler alertHandler() const;
    // Copied; invoked on the alert thread once per record. An empty function removes it.
    void setAlertHandler(AlertHandler handler);

    // Each add returns the registered handle, or nullptr for malformed input, a failing add or a
    // shut-down session. A magnet already in the registry returns its handle unchanged.
    std::shared_ptr<RTHandle> addMagnet(const std::string& text);
    std::shared_ptr<RTHandle> addTorrentData(std::span<const char> bytes);
    std::shared_ptr<RTHandle> addResumeData(std::span<const char> bytes);
    // Adds every "*.resume" file of the state folder (blocks on disk reads); unreadable or
    // malformed files are skipped. Directory-listing order.
    std::vector<std::shared_ptr<RTHandle>> restoreSavedTorrents();

    // `infoHash` must be lower case.
    std::shared_ptr<RTHandle> handleForInfoHash(const std::string& infoHash) const;
    // Wraps a valid handle in a new RTHandle, replacing an earlier wrapper of the same key.
    std::shared_ptr<RTHandle> registerHandle(const lt::torrent_handle& handle);
    // Removes the torrent and deletes its downloaded data (asynchronously, by libtorrent) and
    // its resume file. Nothing for nullptr.
    void removeTorrent(const std::shared_ptr<RTHandle>& handle);

    std::string downloadPath() const;
    // For torrents added afterwards; empty text is ignored.
    void setDownloadPath(const std::string& path);
    const std::string& statePath() const { return _statePath; }

    // Upload on: rate-based choker with 8 slots; off: fixed slots, none unchoked.
    void applySeedingEnabled(bool enabled);
    // Asks every torrent with unsaved changes for resume data; results are written by the alert
    // thread. The engine calls this every 30 s.
    void requestResumeDataForAllTorrents();
    // Asks libtorrent for status updates now (they also come once a second by themselves).
    void postTorrentUpdates();
    void pause();
    void resume();
    // Whether the whole session is paused (false once shut down).
    bool isPaused() const;

    // Saves the resume data of every torrent with unsaved changes and waits for it, at most
    // kDrainLimit. Only for `shutdown`: it must be the only consumer of alerts.
    void drainResumeDataSynchronously();
    // Stops the alert thread, drains resume data and destroys the libtorrent session. Blocks up
    // to about 10 s. Idempotent; also run by the destructor.
    void shutdown();

    void registerPieceReader(const std::shared_ptr<RTPieceReader>& reader);
    // Wakes every live reader of that torrent, whatever piece it waits for.
    void signalReadersForInfoHash(const std::string& infoHash, std::int64_t piece);

    // The state folder joined with "<infoHash>.resume".
    std::string resumePathForHex(const std::string& infoHash) const;
    // Atomic write; nothing for an empty key or empty bytes; errors are ignored.
    void writeResumeBuffer(std::span<const char> bytes, const std::string& infoHash) const;

    // The port the session listens on (0 when unknown or shut down). Tests connect to it.
    int listenPort() const;

protected:
    // Asks one torrent for its resume data (with its info dictionary). Virtual so that a test can
    // stand in for a libtorrent that never answers.
    virtual void requestResumeData(const lt::torrent_handle& handle);

private:
    std::shared_ptr<lt::session> nativeSession() const;
    std::shared_ptr<RTHandle> addParams(lt::add_torrent_params& params);
    std::string keyForHandle(const lt::torrent_handle& handle) const;
    bool isRegistered(const std::string& infoHash) const;
    void dispatchAlert(const lt::alert* alert);
    void writeResumeAlert(const lt::alert* alert);
    void startAlertThread();
    void alertLoop(std::shared_ptr<lt::session> session);

    // guarded by _sessionLock (the pointer; the session itself is thread-safe)
    mutable std::mutex _sessionLock;
    std::shared_ptr<lt::session> _session;

    std::thread _alertThread;
    std::atomic<bool> _running{false};

    // guarded by _pathLock
    mutable std::mutex _pathLock;
    std::string _downloadPath;

    const std::string _statePath;

    // guarded by _handlesLock
    mutable std::mutex _handlesLock;
    std::map<std::string, std::shared_ptr<RTHandle>> _handles;

    // guarded by _readersLock
    mutable std::mutex _readersLock;
    std::vector<std::weak_ptr<RTPieceReader>> _readers;

    // guarded by _handlerLock
    mutable std::mutex _handlerLock;
    AlertHandler _alertHandler;

    // guarded by _shutdownLock (serialises concurrent shutdown calls)
    std::mutex _shutdownLock;
};

// Library facts. Any thread.
class RTEngineInfo {
public:
    RTEngineInfo() = delete;
    // The linked libtorrent's version text, e.g. "2.0.8.0".
    static std::string libtorrentVersion();
    // Whether a session (no networking, no listening) can be constructed at all. Blocks briefly.
    static bool canCreateSession();
};

}  // namespace rillow
