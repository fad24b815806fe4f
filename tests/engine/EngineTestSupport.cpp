#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <libtorrent/torrent_status.hpp>
#include <thread>

namespace rillow::test {

bool eventually(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

SessionFolders::SessionFolders() {
    downloads = root.path().toStdString() + "/downloads";
    state = root.path().toStdString() + "/state";
    std::filesystem::create_directories(downloads);
    std::filesystem::create_directories(state);
}

bool waitUntilChecked(const std::shared_ptr<RTHandle>& handle, int timeoutMs) {
    return eventually(
        [&] {
            if (!handle->hasMetadata()) return false;
            const auto state = handle->handle().status().state;
            return state != lt::torrent_status::checking_files &&
                   state != lt::torrent_status::checking_resume_data;
        },
        timeoutMs);
}

bool placePartialCopy(const LoopbackSeeder& seeder, int fileIndex, const std::string& downloadRoot,
                      std::int64_t keepBytes) {
    const auto info = seeder.torrentInfo();
    if (!info) return false;
    const lt::file_index_t index(fileIndex);
    const std::int64_t size = info->files().file_size(index);
    std::vector<char> bytes = seeder.fileBytes(fileIndex, 0, size);
    if (static_cast<std::int64_t>(bytes.size()) != size) return false;
    std::fill(bytes.begin() + std::min(keepBytes, size), bytes.end(), 0);
    const std::filesystem::path path =
        std::filesystem::path(downloadRoot) / info->files().file_path(index);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<int> piecePriorities(const RTHandle& handle) {
    std::vector<int> result;
    for (const auto priority : handle.handle().get_piece_priorities())
        result.push_back(static_cast<int>(static_cast<std::uint8_t>(priority)));
    return result;
}

std::int64_t readWithin(RTPieceReader& reader, char* buffer, std::int64_t length, int timeoutMs) {
    auto result = std::async(std::launch::async, [&] { return reader.read(buffer, length); });
    if (result.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        ADD_FAILURE() << "read did not return within " << timeoutMs << " ms";
        reader.cancel();
    }
    return result.get();
}

std::vector<char> readRange(RTPieceReader& reader, std::int64_t position, std::int64_t count,
                            int timeoutMs) {
    std::vector<char> collected;
    if (reader.seekTo(position) != position) return collected;
    std::vector<char> buffer(static_cast<std::size_t>(std::max<std::int64_t>(count, 1)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (static_cast<std::int64_t>(collected.size()) < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        const std::int64_t n =
            readWithin(reader, buffer.data(), count - static_cast<std::int64_t>(collected.size()),
                       static_cast<int>(left));
        if (n <= 0) break;
        collected.insert(collected.end(), buffer.begin(), buffer.begin() + n);
    }
    return collected;
}

void RecordingHandle::setPiecePriority(std::int64_t piece, std::uint8_t priority) {
    {
        std::lock_guard lock(_lock);
        ++_commands;
    }
    RTHandle::setPiecePriority(piece, priority);
}

void RecordingHandle::setPieceDeadline(std::int64_t piece, std::int64_t deadlineMS) {
    {
        std::lock_guard lock(_lock);
        ++_commands;
        _deadlines[piece] = deadlineMS;
    }
    RTHandle::setPieceDeadline(piece, deadlineMS);
}

void RecordingHandle::clearPieceDeadlines() {
    {
        std::lock_guard lock(_lock);
        ++_commands;
        ++_clears;
        _deadlines.clear();
    }
    RTHandle::clearPieceDeadlines();
}

std::map<std::int64_t, std::int64_t> RecordingHandle::deadlines() const {
    std::lock_guard lock(_lock);
    return _deadlines;
}

int RecordingHandle::clearCount() const {
    std::lock_guard lock(_lock);
    return _clears;
}

int RecordingHandle::commandCount() const {
    std::lock_guard lock(_lock);
    return _commands;
}

void RecordingHandle::clear() {
    std::lock_guard lock(_lock);
    _deadlines.clear();
    _clears = 0;
    _commands = 0;
}

}  // namespace rillow::test
