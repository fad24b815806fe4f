#include "engine/TorrentItem.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QTimer>

using namespace rillow;
using rillow::test::MiB;
using rillow::test::SeedFile;

namespace {

constexpr std::int64_t MB = 1'000'000;

class TorrentItemTest : public ::testing::Test {
protected:
    test::SessionFolders folders;
    RTSession session{folders.downloads, folders.state};

    std::shared_ptr<TorrentItem> itemOf(const std::vector<SeedFile>& files,
                                        int pieceSize = 4 * MiB) {
        const auto data = test::makeTorrentWithoutData(files, pieceSize);
        auto handle = session.addTorrentData(data);
        if (!handle) return nullptr;
        return std::make_shared<TorrentItem>(handle);
    }
};

QStringList names(const QList<FileInfo>& files) {
    QStringList list;
    for (const FileInfo& f : files) list << f.path.section(QLatin1Char('/'), -1);
    return list;
}

}  // namespace

TEST_F(TorrentItemTest, PlayableFilesLargestAndPlaylist) {
    struct Case {
        const char* name;
        std::vector<SeedFile> files;
        QStringList playable;
        QString largest;
        bool playlist;
    };
    const std::vector<Case> cases = {
        {"film with a sample",
         {{"Film.2019.mkv", 1400 * MB}, {"Sample/sample.mkv", 40 * MB}, {"Film.nfo", 2000}},
         {QStringLiteral("Film.2019.mkv"), QStringLiteral("sample.mkv")},
         QStringLiteral("Film.2019.mkv"),
         false},
        {"two episodes of similar size",
         {{"Show E10.mkv", 500 * MB}, {"Show E2.mkv", 480 * MB}},
         {QStringLiteral("Show E2.mkv"), QStringLiteral("Show E10.mkv")},
         QStringLiteral("Show E10.mkv"),
         true},
        {"upper-case extension among other kinds",
         {{"MOVIE.MKV", 10 * MB}, {"notes.txt", 10}, {"cover.jpg", 1000}, {"movie.srt", 100}},
         {QStringLiteral("MOVIE.MKV")},
         QStringLiteral("MOVIE.MKV"),
         false},
        {"equal greatest sizes: the first in order wins",
         {{"b.mp4", 50 * MB}, {"a.mp4", 50 * MB}, {"c.mp4", 10 * MB}},
         {QStringLiteral("a.mp4"), QStringLiteral("b.mp4"), QStringLiteral("c.mp4")},
         QStringLiteral("a.mp4"),
         true},
        {"nothing playable", {{"readme.txt", 100}, {"image.png", 100}}, {}, QString(), false},
    };
    for (const Case& c : cases) {
        auto item = itemOf(c.files);
        ASSERT_TRUE(item) << c.name;
        EXPECT_TRUE(item->hasMetadata()) << c.name;
        EXPECT_GE(item->files().size(), qsizetype(c.files.size())) << c.name;  // pad files too
        EXPECT_EQ(names(item->playableFiles()), c.playable) << c.name;
        const auto largest = item->largestPlayableFile();
        EXPECT_EQ(largest ? largest->path.section(QLatin1Char('/'), -1) : QString(), c.largest)
            << c.name;
        EXPECT_EQ(item->isPlaylist(), c.playlist) << c.name;
        session.removeTorrent(item->handle());
    }
}

TEST_F(TorrentItemTest, LastPieceIndex) {
    // Without pad files the second file starts inside piece 0.
    const auto data = test::makeTorrentWithoutData({{"a.mkv", 300 * 1024}, {"b.mkv", 700 * 1024}},
                                                   256 * 1024, "content", false);
    auto item = std::make_shared<TorrentItem>(session.addTorrentData(data));
    ASSERT_TRUE(item->hasMetadata());
    EXPECT_EQ(item->pieceCount(), 4);
    EXPECT_EQ(item->lastPieceIndex(0), 1);  // byte 307199
    EXPECT_EQ(item->lastPieceIndex(1), 3);  // byte 1023999
    EXPECT_EQ(item->handle()->pieceIndexForFile(1, 0), 1);
}

TEST_F(TorrentItemTest, WaitingForMetadataThatNeverComes) {
    auto handle = session.addMagnet("magnet:?xt=urn:btih:" + std::string(40, 'a') + "&dn=Pending");
    ASSERT_TRUE(handle);
    TorrentItem item(handle);
    EXPECT_FALSE(item.hasMetadata());
    EXPECT_EQ(item.name(), QStringLiteral("Pending"));
    EXPECT_TRUE(item.playableFiles().isEmpty());

    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(test::await(item.waitForMetadata(0)));
    EXPECT_LT(clock.elapsed(), 50);
    clock.restart();
    EXPECT_FALSE(test::await(item.waitForMetadata(0.35)));
    EXPECT_GE(clock.elapsed(), 340);
    EXPECT_LT(clock.elapsed(), 1500);

    CancelToken token;
    QTimer::singleShot(100, [token] { token.cancel(); });
    clock.restart();
    EXPECT_FALSE(test::await(item.waitForMetadata(60, token)));
    EXPECT_LT(clock.elapsed(), 1000) << "a cancelled wait ends at once";
}

TEST_F(TorrentItemTest, MetadataArrivesFromASeeder) {
    test::LoopbackSeeder seeder({{{"clip.mkv", 2 * MiB}}, 256 * 1024});
    ASSERT_TRUE(seeder.ok());
    auto item = std::make_shared<TorrentItem>(session.addMagnet(seeder.magnet()));
    EXPECT_TRUE(test::await(item->waitForMetadata(30)));
    EXPECT_EQ(item->name(), QStringLiteral("clip.mkv"));
    EXPECT_EQ(item->pieceCount(), 8);
    ASSERT_EQ(item->files().size(), 1);
    EXPECT_EQ(item->files()[0].length, 2 * MiB);
    EXPECT_TRUE(test::await(item->waitForMetadata(0))) << "known now: true at once";
}
