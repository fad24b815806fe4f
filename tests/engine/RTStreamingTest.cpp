// Streaming through real loopback seeders: reads follow the pieces as they arrive, interruptions
// of blocked reads, and byte-for-byte integrity across seeks and file boundaries.
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <chrono>
#include <future>
#include <libtorrent/torrent_info.hpp>
#include <thread>

namespace rillow::test {
namespace {

bool sameBytes(const std::vector<char>& actual, const std::vector<char>& expected) {
    return actual.size() == expected.size() &&
           std::equal(actual.begin(), actual.end(), expected.begin());
}

std::shared_ptr<RTHandle> addAndWaitForMetadata(RTSession& session, const LoopbackSeeder& seeder) {
    auto handle = session.addMagnet(seeder.magnet());
    if (!handle || !eventually([&] { return handle->hasMetadata(); })) return nullptr;
    return handle;
}

TEST(StreamingTest, ReadsFollowTheDownloadOfAThrottledSeeder) {
    // 40 MiB in 256 KiB pieces at 2 MiB/s: the whole file would take 20 s.
    LoopbackSeeder seeder(SeederOptions{{{"film.mkv", 40 * MiB}},
                                        static_cast<int>(256 * KiB),
                                        "content",
                                        TorrentKind::hybrid,
                                        static_cast<int>(2 * MiB)});
    ASSERT_TRUE(seeder.ok());
    SessionFolders folders;
    RTSession session(folders.downloads, folders.state);
    auto handle = addAndWaitForMetadata(session, seeder);
    ASSERT_TRUE(handle);
    auto reader = std::make_shared<RTPieceReader>(handle, 0);
    session.registerPieceReader(reader);
    ASSERT_EQ(reader->size(), 40 * MiB);

    // The first read returns as soon as piece 0 is there, long before the file is complete.
    std::vector<char> buffer(4 * MiB);
    const std::int64_t first = readWithin(*reader, buffer.data(), 1 * MiB);
    ASSERT_GE(first, 1);
    EXPECT_LE(first, 1 * MiB);
    EXPECT_TRUE(sameBytes({buffer.begin(), buffer.begin() + first}, seeder.fileBytes(0, 0, first)));
    EXPECT_FALSE(reader->allPiecesPresent());

    // 70 % into the file: its piece is still missing, so the read waits for it and then returns
    // the bytes present contiguously from there.
    const std::int64_t position = 28 * MiB;
    const std::int64_t piece = position / (256 * KiB);
    EXPECT_FALSE(handle->havePiece(piece)) << "the seeder is throttled";
    ASSERT_EQ(reader->seekTo(position), position);
    const std::int64_t n = readWithin(*reader, buffer.data(), 4 * MiB);
    ASSERT_GE(n, 1);
    EXPECT_TRUE(sameBytes({buffer.begin(), buffer.begin() + n}, seeder.fileBytes(0, position, n)));
    const std::int64_t end = position + n;
    EXPECT_TRUE(n == 4 * MiB || end % (256 * KiB) == 0) << "stops only at a missing piece";
    for (std::int64_t j = piece; j * 256 * KiB < end; ++j) EXPECT_TRUE(handle->havePiece(j)) << j;
    EXPECT_EQ(reader->position(), end);
}

TEST(StreamingTest, WhenTheSeederVanishesABlockedReadWaitsUntilInterrupted) {
    LoopbackSeeder seeder(SeederOptions{{{"film.mkv", 24 * MiB}},
                                        static_cast<int>(256 * KiB),
                                        "content",
                                        TorrentKind::hybrid,
                                        static_cast<int>(2 * MiB)});
    ASSERT_TRUE(seeder.ok());
    SessionFolders folders;
    RTSession session(folders.downloads, folders.state);
    auto handle = addAndWaitForMetadata(session, seeder);
    ASSERT_TRUE(handle);
    auto reader = std::make_shared<RTPieceReader>(handle, 0);
    session.registerPieceReader(reader);
    std::vector<char> buffer(1 * MiB);
    ASSERT_GE(readWithin(*reader, buffer.data(), 1 * MiB), 1);

    seeder.vanish();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::int64_t missing = -1;
    for (std::int64_t j = handle->pieceCount() - 2; j > 0 && missing < 0; --j) {
        if (!handle->havePiece(j)) missing = j;
    }
    ASSERT_GE(missing, 0);

    for (const bool bySeek : {false, true}) {
        SCOPED_TRACE(bySeek ? "seek" : "cancel");
        ASSERT_EQ(reader->seekTo(missing * 256 * KiB), missing * 256 * KiB);
        auto blocked =
            std::async(std::launch::async, [&] { return reader->read(buffer.data(), 1 * MiB); });
        ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(600)), std::future_status::timeout);
        const auto interrupted = std::chrono::steady_clock::now();
        if (bySeek) {
            reader->seekTo(0);
        } else {
            reader->cancel();
        }
        ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(500)), std::future_status::ready);
        EXPECT_EQ(blocked.get(), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::milliseconds(500));
    }
    // Piece 0 is on disk: the stream still reads there.
    ASSERT_EQ(reader->seekTo(0), 0);
    EXPECT_GE(reader->read(buffer.data(), 1024), 1);
}

struct IntegrityCase {
    int pieceSize;
    TorrentKind kind;
};

class IntegrityTest : public ::testing::TestWithParam<IntegrityCase> {};

TEST_P(IntegrityTest, BytesMatchTheSeederAcrossSeeksAndFileBoundaries) {
    const IntegrityCase c = GetParam();
    LoopbackSeeder seeder(
        SeederOptions{{{"a.mkv", 5 * MiB + 12345}, {"b.srt", 70001}, {"c.mkv", 9 * MiB + 777}},
                      c.pieceSize,
                      "content",
                      c.kind});
    ASSERT_TRUE(seeder.ok());
    bool sawPad = false;
    int checked = 0;
    for (const lt::file_index_t fileIndex : seeder.torrentInfo()->files().file_range()) {
        if (seeder.torrentInfo()->files().pad_file_at(fileIndex)) {
            sawPad = true;
            continue;
        }
        // One download per file: once the only wanted file is complete libtorrent counts the
        // torrent finished and drops the seed, which it redials only after a minute.
        SessionFolders folders;
        RTSession session(folders.downloads, folders.state);
        auto handle = addAndWaitForMetadata(session, seeder);
        ASSERT_TRUE(handle);
        const RTFileEntry entry =
            handle->files().at(static_cast<std::size_t>(static_cast<int>(fileIndex)));
        SCOPED_TRACE(entry.path());
        const auto index = static_cast<int>(entry.fileIndex());
        auto reader = std::make_shared<RTPieceReader>(handle, entry.fileIndex());
        session.registerPieceReader(reader);
        const std::int64_t size = reader->size();
        ASSERT_EQ(size, entry.length());
        const std::int64_t piece = c.pieceSize;
        // Backwards first, so that every step is a seek away from what was read before.
        struct Range {
            std::int64_t position;
            std::int64_t count;
        };
        std::vector<Range> ranges = {
            {std::max<std::int64_t>(size - 100, 0), 1 * MiB},  // the file's last bytes
            {size / 2, 300'000},
            {std::max<std::int64_t>(std::min(piece, size) - 10, 0), 20},  // across a piece edge
            {0, 64 * KiB},
        };
        for (const Range& range : ranges) {
            SCOPED_TRACE(range.position);
            const std::int64_t expected = std::min(range.count, size - range.position);
            const std::vector<char> bytes = readRange(*reader, range.position, expected);
            EXPECT_TRUE(sameBytes(bytes, seeder.fileBytes(index, range.position, expected)));
        }
        ASSERT_EQ(reader->seekTo(size), size);
        char byte;
        EXPECT_EQ(reader->read(&byte, 1), 0) << "end of stream";
        const std::vector<char> whole = readRange(*reader, 0, size);
        EXPECT_TRUE(sameBytes(whole, seeder.fileBytes(index, 0, size)));
        ++checked;
    }
    EXPECT_EQ(checked, 3);
    EXPECT_TRUE(sawPad) << "files are aligned with pad files";
}

INSTANTIATE_TEST_SUITE_P(PieceSizes, IntegrityTest,
                         ::testing::Values(IntegrityCase{256 * 1024, TorrentKind::hybrid},
                                           IntegrityCase{1024 * 1024, TorrentKind::v1Only},
                                           IntegrityCase{4 * 1024 * 1024, TorrentKind::hybrid}),
                         [](const ::testing::TestParamInfo<IntegrityCase>& param) {
                             return std::to_string(param.param.pieceSize / 1024) + "KiB" +
                                    (param.param.kind == TorrentKind::v1Only ? "V1" : "Hybrid");
                         });

}  // namespace
}  // namespace rillow::test
