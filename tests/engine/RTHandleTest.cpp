// Torrent handles over a real libtorrent session: facts with and without metadata, after
// removal, the have bitmap, file geometry and the commands.
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <libtorrent/torrent_status.hpp>

namespace rillow::test {
namespace {

const std::string kKey = "89abcdef0123456789abcdef0123456789abcdef";

class HandleTest : public ::testing::Test {
protected:
    SessionFolders folders;
    RTSession session{folders.downloads, folders.state};
};

TEST_F(HandleTest, AMagnetWithoutMetadataGivesEmptyFacts) {
    struct Case {
        std::string suffix;
        std::string name;
    };
    for (const Case& c : {Case{"&dn=Some%20Film", "Some Film"}, Case{"", kKey}}) {
        SCOPED_TRACE(c.name);
        auto handle = session.addMagnet("magnet:?xt=urn:btih:" + kKey + c.suffix);
        ASSERT_TRUE(handle);
        EXPECT_EQ(handle->infoHash(), kKey);
        EXPECT_FALSE(handle->hasMetadata());
        EXPECT_EQ(handle->name(), c.name);
        EXPECT_EQ(handle->savePath(), folders.downloads);
        EXPECT_EQ(handle->pieceLength(), 0);
        EXPECT_EQ(handle->pieceCount(), 0);
        EXPECT_TRUE(handle->files().empty());
        EXPECT_FALSE(handle->isSeed());
        EXPECT_FALSE(handle->havePiece(0));
        std::uint8_t buffer[4] = {9, 9, 9, 9};
        EXPECT_EQ(handle->copyHaveBitmapInto(buffer, 4), 0);
        EXPECT_EQ(buffer[0], 9);
        EXPECT_EQ(handle->byteOffsetForFile(0), 0);
        EXPECT_EQ(handle->pieceIndexForFile(0, 12345), 0);
        handle->downloadAllFiles();  // nothing to prioritise yet
        session.removeTorrent(handle);
    }
}

TEST_F(HandleTest, ARemovedTorrentGivesEmptyResultsAndIgnoresCommands) {
    auto handle = session.addTorrentData(makeTorrentWithoutData({{"a.mkv", 4 << 20}}, 1 << 20));
    ASSERT_TRUE(handle);
    ASSERT_TRUE(waitUntilChecked(handle));
    EXPECT_EQ(handle->name(), "a.mkv");
    session.removeTorrent(handle);
    ASSERT_TRUE(eventually([&] { return !handle->handle().is_valid(); }));
    EXPECT_EQ(handle->infoHash(), "");
    EXPECT_EQ(handle->name(), "");
    EXPECT_EQ(handle->savePath(), "");
    EXPECT_FALSE(handle->hasMetadata());
    EXPECT_FALSE(handle->havePiece(0));
    EXPECT_FALSE(handle->isSeed());
    EXPECT_TRUE(handle->files().empty());
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(handle->copyHaveBitmapInto(buffer, 4), 0);
    handle->setPiecePriority(0, 7);
    handle->setPieceDeadline(0, 0);
    handle->clearPieceDeadlines();
    handle->downloadAllFiles();
    handle->pause();
    handle->resume();
}

TEST_F(HandleTest, HaveBitmapHonoursTheCapacity) {
    // 16 pieces of 256 KiB, of which 0...9 are on disk.
    LoopbackSeeder maker(SeederOptions{{{"clip.mkv", 4 * MiB}}, static_cast<int>(256 * KiB)});
    ASSERT_TRUE(placePartialCopy(maker, 0, folders.downloads, 10 * 256 * KiB));
    auto handle = session.addTorrentData(maker.torrentData());
    ASSERT_TRUE(handle);
    ASSERT_TRUE(waitUntilChecked(handle));
    ASSERT_EQ(handle->pieceCount(), 16);

    struct Case {
        std::int64_t capacity;
        std::int64_t written;
    };
    for (const Case& c :
         {Case{0, 0}, Case{-3, 0}, Case{1, 1}, Case{12, 12}, Case{16, 16}, Case{20, 16}}) {
        SCOPED_TRACE(c.capacity);
        std::vector<std::uint8_t> buffer(24, 0xAB);
        EXPECT_EQ(handle->copyHaveBitmapInto(buffer.data(), c.capacity), c.written);
        for (std::int64_t i = 0; i < c.written; ++i) EXPECT_EQ(buffer[i], i < 10 ? 1 : 0) << i;
        for (std::size_t i = static_cast<std::size_t>(c.written); i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], 0xAB) << "byte " << i << " left untouched";
    }
    EXPECT_EQ(handle->copyHaveBitmapInto(nullptr, 16), 0);
}

TEST_F(HandleTest, FilesAndPieceGeometryOfAMultiFileTorrent) {
    // 1 MiB pieces; pad files align each file to a piece.
    auto handle = session.addTorrentData(makeTorrentWithoutData(
        {{"a.mkv", 2 * MiB + 5}, {"b.mkv", 3 * MiB}, {"c.txt", 1}}, static_cast<int>(MiB)));
    ASSERT_TRUE(handle);
    ASSERT_TRUE(waitUntilChecked(handle));
    const auto files = handle->files();
    std::vector<std::string> paths;
    for (const auto& entry : files) paths.push_back(entry.path());
    ASSERT_GE(files.size(), 5u) << "pad files are listed";
    EXPECT_EQ(files[0].path(), "content/a.mkv");
    EXPECT_EQ(files[0].offset(), 0);
    EXPECT_NE(files[1].path().find(".pad"), std::string::npos) << files[1].path();
    EXPECT_EQ(handle->name(), "content");
    EXPECT_EQ(handle->pieceLength(), MiB);

    int b = -1, c = -1;
    for (const auto& entry : files) {
        EXPECT_EQ(entry.fileIndex(), &entry - files.data());
        if (entry.path() == "content/b.mkv") b = static_cast<int>(entry.fileIndex());
        if (entry.path() == "content/c.txt") c = static_cast<int>(entry.fileIndex());
    }
    ASSERT_GE(b, 0);
    ASSERT_GE(c, 0);
    struct Case {
        int file;
        std::int64_t offset;
        std::int64_t piece;
    };
    for (const Case& k :
         {Case{0, 0, 0}, Case{0, MiB - 1, 0}, Case{0, MiB, 1}, Case{0, 2 * MiB + 4, 2},
          Case{b, 0, 3}, Case{b, 3 * MiB - 1, 5}, Case{c, 0, 6}}) {
        SCOPED_TRACE(std::to_string(k.file) + "@" + std::to_string(k.offset));
        EXPECT_EQ(handle->pieceIndexForFile(k.file, k.offset), k.piece);
    }
    EXPECT_EQ(handle->byteOffsetForFile(b), 3 * MiB);
    EXPECT_EQ(handle->byteOffsetForFile(99), 0) << "an index outside the torrent";
}

TEST_F(HandleTest, CommandsReachLibtorrentAndBadPiecesAreIgnored) {
    auto handle = session.addTorrentData(makeTorrentWithoutData({{"a.mkv", 4 * MiB}}, 1 << 20));
    ASSERT_TRUE(handle);
    ASSERT_TRUE(waitUntilChecked(handle));
    const std::vector<int> before = piecePriorities(*handle);
    handle->setPiecePriority(-1, 7);
    handle->setPieceDeadline(-1, 0);
    EXPECT_EQ(piecePriorities(*handle), before);
    handle->setPiecePriority(2, 7);
    handle->setPiecePriority(3, 0);
    EXPECT_EQ(piecePriorities(*handle), (std::vector<int>{4, 4, 7, 0}));
    handle->downloadAllFiles();
    EXPECT_EQ(piecePriorities(*handle), (std::vector<int>{1, 1, 1, 1}));

    handle->pause();
    auto flags = handle->handle().flags();
    EXPECT_TRUE(flags & lt::torrent_flags::paused);
    EXPECT_FALSE(flags & lt::torrent_flags::auto_managed);
    handle->resume();
    flags = handle->handle().flags();
    EXPECT_TRUE(flags & lt::torrent_flags::auto_managed);
}

}  // namespace
}  // namespace rillow::test
