// Reads a complete 512 MiB file through RTPieceReader in 1 MiB reads and with plain pread, and
// prints both throughputs and their ratio. Everything runs on loopback with no peers: the torrent
// is made from the file and libtorrent verifies it from disk.
//
// Usage: rillow_engine_bench [folder]   (default: a fresh folder under $TMPDIR)

#include "engine/RTPieceReader.h"
#include "engine/RTSession.h"
#include "platform/Network.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/torrent_status.hpp>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr std::int64_t kFileBytes = 512 * kMiB;
constexpr std::int64_t kReadBytes = 1 * kMiB;
constexpr int kRounds = 5;  // alternating; the medians are compared

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

bool writeFile(const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> block(kMiB / 8);
    for (std::int64_t written = 0; written < kFileBytes; written += kMiB) {
        for (auto& word : block) word = random();
        if (std::fwrite(block.data(), 1, kMiB, out) != static_cast<std::size_t>(kMiB)) {
            std::fclose(out);
            return false;
        }
    }
    return std::fclose(out) == 0;
}

// Returns bytes per second, or 0 on a failure.
template <class ReadFn>
double measure(ReadFn&& readAt, std::vector<char>& buffer) {
    const auto start = std::chrono::steady_clock::now();
    std::int64_t total = 0;
    while (total < kFileBytes) {
        const std::int64_t n = readAt(total, buffer.data(), kReadBytes);
        if (n <= 0) return 0;
        total += n;
    }
    return static_cast<double>(total) / seconds(std::chrono::steady_clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    rillow::forceLoopbackMode();
    namespace fs = std::filesystem;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path root = argc > 1 ? fs::path(argv[1])
                                   : fs::path(tmp && *tmp ? tmp : "/tmp") /
                                         ("rillow-engine-bench-" + std::to_string(::getpid()));
    fs::create_directories(root / "data");
    fs::create_directories(root / "state");
    const std::string file = (root / "data" / "movie.bin").string();

    std::printf("writing %lld MiB test file...\n", static_cast<long long>(kFileBytes / kMiB));
    if (!writeFile(file)) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    lt::file_storage storage;
    storage.add_file("movie.bin", kFileBytes);
    lt::create_torrent creator(storage, static_cast<int>(1 * kMiB), lt::create_torrent::v1_only);
    lt::set_piece_hashes(creator, (root / "data").string());
    const std::vector<char> torrent = creator.generate_buf();

    int status = 0;
    {
        rillow::RTSession session((root / "data").string(), (root / "state").string());
        auto handle = session.addTorrentData(torrent);
        if (!handle) {
            std::fprintf(stderr, "libtorrent refused the torrent\n");
            return 1;
        }
        std::printf("waiting for libtorrent to verify the file...\n");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
        while (!handle->isSeed() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!handle->isSeed()) {
            std::fprintf(stderr, "the file did not verify\n");
            return 1;
        }

        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        auto reader = std::make_shared<rillow::RTPieceReader>(handle, 0);
        session.registerPieceReader(reader);
        std::vector<char> buffer(static_cast<std::size_t>(kReadBytes));

        auto viaPread = [&](std::int64_t offset, char* out, std::int64_t length) -> std::int64_t {
            return ::pread(fd, out, static_cast<std::size_t>(length), offset);
        };
        auto viaReader = [&](std::int64_t offset, char* out, std::int64_t length) -> std::int64_t {
            if (offset == 0 && reader->seekTo(0) != 0) return -1;
            return reader->read(out, length);
        };
        measure(viaPread, buffer);  // warm the page cache for both
        std::vector<double> preads, readers;
        for (int round = 0; round < kRounds; ++round) {
            preads.push_back(measure(viaPread, buffer));
            readers.push_back(measure(viaReader, buffer));
        }
        std::sort(preads.begin(), preads.end());
        std::sort(readers.begin(), readers.end());
        const double bestPread = preads[kRounds / 2];
        const double bestReader = readers[kRounds / 2];
        ::close(fd);
        if (bestPread <= 0 || bestReader <= 0) {
            std::fprintf(stderr, "a read failed\n");
            status = 1;
        } else {
            std::printf("pread (median):         %8.1f MiB/s\n", bestPread / kMiB);
            std::printf("RTPieceReader (median): %8.1f MiB/s\n", bestReader / kMiB);
            std::printf("ratio:                  %8.3f (goal >= 0.9)\n", bestReader / bestPread);
        }
        session.shutdown();
    }
    if (argc <= 1) fs::remove_all(root);
    return status;
}
