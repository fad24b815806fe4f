// The piece reader over a real libtorrent session: the download window, baseline priorities,
// blocking reads, interruption, completeness and decoupling. Torrents here have no peers: the
// pieces present are those libtorrent finds on disk when it checks the files.
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <chrono>
#include <future>
#include <thread>

namespace rillow::test {
namespace {

class PieceReaderTest : public ::testing::Test {
protected:
    SessionFolders folders;
    RTSession session{folders.downloads, folders.state};

    // Adds torrent data and wraps its libtorrent handle in a RecordingHandle.
    std::shared_ptr<RecordingHandle> addRecorded(const std::vector<char>& torrent) {
        auto registered = session.addTorrentData(torrent);
        if (!registered || !waitUntilChecked(registered)) return nullptr;
        return std::make_shared<RecordingHandle>(registered->handle());
    }
};

// 40 pieces of 4 MiB, then a 10 MiB second file after a pad (files sort by name).
std::vector<char> fourMiBTorrent() {
    return makeTorrentWithoutData({{"a-movie.mkv", 40 * 4 * MiB}, {"b-extra.srt", 10 * MiB}},
                                  static_cast<int>(4 * MiB));
}

TEST_F(PieceReaderTest, WindowAtTheStartOfAFileWithFourMiBPieces) {
    auto handle = addRecorded(fourMiBTorrent());
    ASSERT_TRUE(handle);
    ASSERT_EQ(handle->pieceCount(), 43);
    RTPieceReader reader(handle, 0);
    EXPECT_EQ(reader.firstPiece(), 0);
    EXPECT_EQ(reader.lastPiece(), 39);
    EXPECT_EQ(reader.windowStart(), 0);
    EXPECT_EQ(reader.windowEnd(), 36);

    const std::vector<int> priorities = piecePriorities(*handle);
    ASSERT_EQ(priorities.size(), 43u);
    for (int piece = 0; piece < 43; ++piece) {
        int expected = 0;
        if (piece <= 11 || piece == 39)
            expected = 7;
        else if (piece <= 35)
            expected = 4;
        else if (piece <= 38)
            expected = 1;
        EXPECT_EQ(priorities[piece], expected) << "piece " << piece;
    }
    std::map<std::int64_t, std::int64_t> expectedDeadlines;
    for (int piece = 0; piece <= 11; ++piece) expectedDeadlines[piece] = 150 * piece;
    EXPECT_EQ(handle->deadlines(), expectedDeadlines);
}

TEST_F(PieceReaderTest, AdvancingTheWindowByOnePieceResetsPromotesAndExtends) {
    auto handle = addRecorded(fourMiBTorrent());
    ASSERT_TRUE(handle);
    RTPieceReader reader(handle, 0);
    reader.applyScheduleForGlobalOffset(1 * 4 * MiB);
    handle->clear();
    reader.applyScheduleForGlobalOffset(2 * 4 * MiB);

    const std::vector<int> priorities = piecePriorities(*handle);
    EXPECT_EQ(priorities[0], 7) << "the file's first piece keeps its priority";
    EXPECT_EQ(priorities[1], 1) << "the piece that left the window is back at its baseline";
    EXPECT_EQ(priorities[2], 7);
    EXPECT_EQ(priorities[13], 7) << "p + W moved up from the normal part";
    EXPECT_EQ(priorities[14], 4);
    EXPECT_EQ(priorities[37], 4) << "p + 3W joined the normal part";
    EXPECT_EQ(priorities[38], 1);
    EXPECT_EQ(priorities[39], 7);
    EXPECT_EQ(priorities[40], 0);
    const auto deadlines = handle->deadlines();
    ASSERT_EQ(deadlines.size(), 12u);
    EXPECT_EQ(deadlines.begin()->first, 2);
    EXPECT_EQ(deadlines.begin()->second, 0) << "deadlines restart at the new position";
    EXPECT_EQ(deadlines.at(13), 1650);
    EXPECT_EQ(reader.windowStart(), 2);
    EXPECT_EQ(reader.windowEnd(), 38);
}

TEST_F(PieceReaderTest, WindowSizeFollowsThePieceLength) {
    struct Case {
        std::int64_t pieceLength;
        std::int64_t urgent;
    };
    for (const Case& c :
         {Case{256 * KiB, 96}, Case{1 * MiB, 24}, Case{2 * MiB, 12}, Case{4 * MiB, 12}}) {
        SCOPED_TRACE(c.pieceLength);
        const std::int64_t pieces = 3 * c.urgent + 8;
        auto handle = addRecorded(makeTorrentWithoutData({{"video.mkv", pieces * c.pieceLength}},
                                                         static_cast<int>(c.pieceLength)));
        ASSERT_TRUE(handle);
        RTPieceReader reader(handle, 0);
        EXPECT_EQ(static_cast<std::int64_t>(handle->deadlines().size()), c.urgent);
        EXPECT_EQ(reader.windowEnd(), 3 * c.urgent);
        const std::vector<int> priorities = piecePriorities(*handle);
        EXPECT_EQ(std::count(priorities.begin(), priorities.end(), 7), c.urgent + 1);  // + last
        EXPECT_EQ(std::count(priorities.begin(), priorities.end(), 4), 2 * c.urgent);
        session.removeTorrent(session.handleForInfoHash(handle->infoHash()));
    }
}

TEST_F(PieceReaderTest, WindowNearTheEndIsCutAtTheFilesLastPiece) {
    auto handle = addRecorded(fourMiBTorrent());
    ASSERT_TRUE(handle);
    RTPieceReader reader(handle, 0);
    handle->clear();
    reader.applyScheduleForGlobalOffset(35 * 4 * MiB);
    EXPECT_EQ(reader.windowEnd(), 40);
    const auto deadlines = handle->deadlines();
    ASSERT_EQ(deadlines.size(), 5u);
    EXPECT_EQ(deadlines.rbegin()->first, 39);
    const std::vector<int> priorities = piecePriorities(*handle);
    for (int piece = 40; piece < 43; ++piece) EXPECT_EQ(priorities[piece], 0);
    EXPECT_EQ(priorities[12], 1) << "the old window was reset";
}

TEST_F(PieceReaderTest, TinyAndMissingFiles) {
    auto handle = addRecorded(makeTorrentWithoutData(
        {{"a.mkv", 3 * MiB}, {"empty.txt", 0}, {"one.txt", 1}}, static_cast<int>(1 * MiB)));
    ASSERT_TRUE(handle);
    const auto files = handle->files();
    for (const auto& entry : files) {
        if (entry.length() > 1) continue;
        SCOPED_TRACE(entry.path());
        RTPieceReader reader(handle, entry.fileIndex());
        EXPECT_EQ(reader.firstPiece(), reader.lastPiece());
        EXPECT_EQ(reader.size(), entry.length());
    }
    RTPieceReader missing(handle, 99);
    EXPECT_EQ(missing.size(), 0);
    EXPECT_FALSE(missing.filePath());
    char byte = 0;
    EXPECT_EQ(missing.read(&byte, 1), 0);
}

// A 16 MiB file of 1 MiB pieces of which pieces 0...9 are on disk, and no peers.
class PartialDownloadTest : public PieceReaderTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(seeder.torrentInfo());
        ASSERT_TRUE(placePartialCopy(seeder, 0, folders.downloads, 10 * MiB));
        handle = addRecorded(seeder.torrentData());
        ASSERT_TRUE(handle);
        ASSERT_TRUE(handle->havePiece(9));
        ASSERT_FALSE(handle->havePiece(10));
        reader = std::make_shared<RTPieceReader>(handle, 0);
    }

    LoopbackSeeder seeder{SeederOptions{{{"film.mkv", 16 * MiB}}, static_cast<int>(1 * MiB)}};
    std::shared_ptr<RecordingHandle> handle;
    std::shared_ptr<RTPieceReader> reader;
};

TEST_F(PartialDownloadTest, ReadReturnsExactlyTheContiguousPresentBytes) {
    struct Case {
        std::int64_t position;
        std::int64_t expected;
    };
    std::vector<char> buffer(100 * MiB);
    for (const Case& c :
         {Case{0, 10 * MiB}, Case{9 * MiB + 12345, 1 * MiB - 12345}, Case{5 * MiB, 5 * MiB}}) {
        SCOPED_TRACE(c.position);
        ASSERT_EQ(reader->seekTo(c.position), c.position);
        const std::int64_t n = readWithin(*reader, buffer.data(), 100 * MiB, 10'000);
        ASSERT_EQ(n, c.expected);
        EXPECT_EQ(reader->position(), c.position + n);
        const std::vector<char> expected = seeder.fileBytes(0, c.position, n);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    }
    EXPECT_FALSE(reader->allPiecesPresent());
    EXPECT_FALSE(reader->isDecoupled());
}

TEST_F(PartialDownloadTest, SeekOrCancelInterruptsABlockedRead) {
    for (const bool bySeek : {true, false}) {
        SCOPED_TRACE(bySeek ? "seek" : "cancel");
        ASSERT_EQ(reader->seekTo(12 * MiB), 12 * MiB);
        std::vector<char> buffer(1 * MiB);
        auto blocked =
            std::async(std::launch::async, [&] { return reader->read(buffer.data(), 1 * MiB); });
        ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout)
            << "the piece is missing, the read must wait";
        const auto interrupted = std::chrono::steady_clock::now();
        if (bySeek) {
            ASSERT_EQ(reader->seekTo(2 * MiB), 2 * MiB);
        } else {
            reader->cancel();
        }
        ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(500)), std::future_status::ready);
        EXPECT_EQ(blocked.get(), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - interrupted, std::chrono::milliseconds(500));

        // The interruption is over: a read of a present piece returns data.
        if (!bySeek) {
            ASSERT_EQ(reader->seekTo(2 * MiB), 2 * MiB);
        }
        EXPECT_EQ(reader->read(buffer.data(), 1 * MiB), 1 * MiB);
        EXPECT_EQ(reader->windowStart(), 2) << "the read scheduled the window at its position";
        EXPECT_EQ(handle->deadlines().begin()->first, 2);
    }
}

TEST_F(PartialDownloadTest, EndOfStreamAndSeekBounds) {
    char buffer[16];
    EXPECT_EQ(reader->seekTo(-1), -1);
    EXPECT_EQ(reader->seekTo(16 * MiB + 1), -1);
    EXPECT_EQ(reader->position(), 0) << "a failed seek keeps the position";
    EXPECT_EQ(reader->seekTo(16 * MiB), 16 * MiB);
    EXPECT_EQ(reader->read(buffer, sizeof buffer), 0);
    EXPECT_EQ(reader->read(nullptr, 10), 0);
    EXPECT_EQ(reader->seekTo(0), 0);
    EXPECT_EQ(reader->read(buffer, 0), 0);
    EXPECT_EQ(reader->read(buffer, sizeof buffer), 16);
}

// A multi-file torrent whose first file is complete on disk and the others absent.
TEST_F(PieceReaderTest, ACompleteFileDecouplesOnTheFirstReadAndReleasesTheOtherFiles) {
    LoopbackSeeder seeder{
        SeederOptions{{{"a.mkv", 3 * MiB + 100}, {"b.mkv", 2 * MiB}}, static_cast<int>(256 * KiB)}};
    ASSERT_TRUE(seeder.torrentInfo());
    ASSERT_TRUE(placePartialCopy(seeder, 0, folders.downloads, 3 * MiB + 100));
    auto handle = addRecorded(seeder.torrentData());
    ASSERT_TRUE(handle);
    const auto files = handle->files();
    const RTFileEntry& other = files.back();
    ASSERT_EQ(other.path(), "content/b.mkv");
    const std::int64_t otherFirst = handle->pieceIndexForFile(other.fileIndex(), 0);

    auto reader = std::make_shared<RTPieceReader>(handle, 0);
    EXPECT_TRUE(reader->allPiecesPresent());
    EXPECT_EQ(piecePriorities(*handle)[otherFirst], 0) << "other files wait at first";
    const int clearsBefore = handle->clearCount();

    std::vector<char> buffer(8 * MiB);
    const std::int64_t n = readWithin(*reader, buffer.data(), 8 * MiB, 10'000);
    ASSERT_EQ(n, 3 * MiB + 100) << "a complete file reads in one go";
    EXPECT_TRUE(reader->isDecoupled());
    EXPECT_EQ(handle->clearCount(), clearsBefore + 1);
    const std::vector<int> priorities = piecePriorities(*handle);
    for (std::int64_t piece = otherFirst; piece < handle->pieceCount(); ++piece)
        EXPECT_EQ(priorities[piece], 1) << "piece " << piece;

    // Decoupled: seeks and reads no longer steer the torrent.
    handle->clear();
    EXPECT_EQ(reader->seekTo(1 * MiB), 1 * MiB);
    EXPECT_EQ(reader->read(buffer.data(), 1 * MiB), 1 * MiB);
    EXPECT_EQ(handle->commandCount(), 0);
    const auto expected = seeder.fileBytes(0, 1 * MiB, 1 * MiB);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
}

}  // namespace
}  // namespace rillow::test
