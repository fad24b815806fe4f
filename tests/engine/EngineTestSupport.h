#pragma once
// Helpers for the engine tests: folders, polling waits, downloads prepared on disk, reads with
// a watchdog, and a handle that records what a reader asks of libtorrent. Test thread.

#include "engine/RTHandle.h"
#include "engine/RTPieceReader.h"
#include "engine/RTSession.h"
#include "tests/support/seeder/LoopbackSeeder.h"

#include <QTemporaryDir>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rillow::test {

constexpr std::int64_t KiB = 1024;
constexpr std::int64_t MiB = 1024 * 1024;

// Polls `done` every 10 ms until it holds or `timeoutMs` passes; returns `done()`.
bool eventually(const std::function<bool()>& done, int timeoutMs = 30'000);

// A temporary folder with "downloads" and "state" inside.
struct SessionFolders {
    SessionFolders();
    QTemporaryDir root;
    std::string downloads;
    std::string state;
};

// Waits until the torrent has metadata and libtorrent has finished checking its files.
bool waitUntilChecked(const std::shared_ptr<RTHandle>& handle, int timeoutMs = 30'000);

// Copies file `fileIndex` of the seeder under `downloadRoot` (the torrent's own relative path),
// keeping the first `keepBytes` bytes and zeroing the rest, so that a check finds exactly the
// pieces wholly inside the kept part.
bool placePartialCopy(const LoopbackSeeder& seeder, int fileIndex, const std::string& downloadRoot,
                      std::int64_t keepBytes);

// libtorrent's current priority of every piece.
std::vector<int> piecePriorities(const RTHandle& handle);

// Runs reader.read on another thread; cancels it after `timeoutMs` (the result is then -1).
std::int64_t readWithin(RTPieceReader& reader, char* buffer, std::int64_t length,
                        int timeoutMs = 60'000);

// Seeks to `position` and reads until `count` bytes (or the end of the file) are collected;
// stops early on -1 or a watchdog timeout. Returns what was read.
std::vector<char> readRange(RTPieceReader& reader, std::int64_t position, std::int64_t count,
                            int timeoutMs = 60'000);

// Forwards everything to libtorrent and records the reader's deadline requests.
class RecordingHandle : public RTHandle {
public:
    using RTHandle::RTHandle;
    void setPiecePriority(std::int64_t piece, std::uint8_t priority) override;
    void setPieceDeadline(std::int64_t piece, std::int64_t deadlineMS) override;
    void clearPieceDeadlines() override;

    std::map<std::int64_t, std::int64_t> deadlines() const;  // since the last clear()
    int clearCount() const;
    int commandCount() const;
    void clear();

private:
    mutable std::mutex _lock;
    std::map<std::int64_t, std::int64_t> _deadlines;
    int _clears = 0;
    int _commands = 0;
};

}  // namespace rillow::test
