#include "engine/TorrentEngine.h"
#include "platform/UserDefaults.h"
#include "search/HistoryStore.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TempHome.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDir>
#include <libtorrent/torrent_status.hpp>

using namespace rillow;
using rillow::test::LoopbackSeeder;
using rillow::test::MiB;
using rillow::test::SeederOptions;
using rillow::test::waitUntil;

namespace {

bool pausedInLibtorrent(const TorrentItem& item) {
    return static_cast<bool>(item.handle()->handle().flags() & lt::torrent_flags::paused);
}

QByteArray bytesOf(const std::vector<char>& data) {
    return QByteArray(data.data(), qsizetype(data.size()));
}

// A torrent with metadata and no data anywhere: it stays incomplete.
QByteArray torrentWithoutData(const std::string& name, int files = 1) {
    std::vector<test::SeedFile> list;
    for (int i = 0; i < files; ++i) list.push_back({name + std::to_string(i) + ".mkv", 3 * MiB});
    return bytesOf(test::makeTorrentWithoutData(list, 1 * MiB, name));
}

std::string unknownMagnet(char digit) {
    return "magnet:?xt=urn:btih:" + std::string(40, digit) + "&dn=unknown";
}

class EngineTest : public rillow::test::TempHomeTest {
protected:
    void start() {
        history = std::make_unique<HistoryStore>();
        seed = std::make_unique<SeedSettingsStore>();
        transfer = std::make_unique<TransferSettingsStore>();
        engine = std::make_unique<TorrentEngine>(downloads(), *seed, *transfer, *history);
    }
    void restart() {
        engine.reset();
        start();
    }
    QString downloads() const { return home.path() + QStringLiteral("/Downloads"); }
    std::shared_ptr<TorrentItem> withMetadata(std::shared_ptr<TorrentItem> item) {
        if (item) {
            EXPECT_TRUE(waitUntil([&] { return item->hasMetadata(); }, 30'000));
        }
        return item;
    }

    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<SeedSettingsStore> seed;
    std::unique_ptr<TransferSettingsStore> transfer;
    std::unique_ptr<TorrentEngine> engine;
};

}  // namespace

TEST_F(EngineTest, AddingRecordsHistoryOnceAndKeepsOrder) {
    start();
    EXPECT_TRUE(QFileInfo(TorrentEngine::stateFolder()).isDir());
    EXPECT_EQ(TorrentEngine::stateFolder(), home.dataHome() + QStringLiteral("/Rillow/State"));
    const QString magnet = QString::fromStdString(unknownMagnet('b'));
    auto first = engine->addMagnet(magnet);
    ASSERT_TRUE(first);
    auto data = engine->addTorrentData(torrentWithoutData("Data"));
    ASSERT_TRUE(data);
    EXPECT_EQ(engine->addMagnet(magnet.toUpper().replace(QStringLiteral("MAGNET:?XT=URN:BTIH:"),
                                                         QStringLiteral("magnet:?xt=urn:btih:"))),
              first)
        << "the same torrent again is the same item";
    EXPECT_EQ(history->entries().size(), 2);
    EXPECT_EQ(history->entries()[1].magnet, magnet);
    EXPECT_FALSE(history->entries()[0].magnet.has_value()) << ".torrent data has no magnet";
    EXPECT_EQ(engine->order(), QStringList({first->infoHash(), data->infoHash()}));
    EXPECT_EQ(engine->orderedItems().front(), data);

    engine->promote(first);
    EXPECT_EQ(engine->order().last(), first->infoHash());
    EXPECT_EQ(UserDefaults::standard().stringList(TorrentEngine::orderDefaultsKey),
              engine->order());

    EXPECT_FALSE(engine->addMagnet(QStringLiteral("magnet:?xt=urn:btih:nothex")));
    EXPECT_FALSE(engine->addTorrentData("d8:announce3:bad"));
    EXPECT_EQ(engine->items().size(), 2u);
}

// Background downloads off: the watched torrent runs, others with metadata pause, torrents still
// resolving keep running; removing the watched torrent clears the focus; when nothing may run the
// session pauses, and a new magnet resumes it.
TEST_F(EngineTest, PolicyWithoutBackgroundDownloads) {
    start();
    LoopbackSeeder seeder{SeederOptions{
        {{"a.mkv", 8 * MiB}}, 256 * 1024, "content", test::TorrentKind::hybrid, 256 * 1024}};
    ASSERT_TRUE(seeder.ok());
    auto a = withMetadata(engine->addMagnet(QString::fromStdString(seeder.magnet())));
    auto b = engine->addTorrentData(torrentWithoutData("B"));
    auto resolving = engine->addMagnet(QString::fromStdString(unknownMagnet('c')));
    ASSERT_TRUE(a && b && resolving);

    engine->setPlaybackFocus(a->infoHash(), 0);
    EXPECT_EQ(engine->activeState(a->infoHash()), true);
    EXPECT_EQ(engine->activeState(b->infoHash()), false);
    EXPECT_EQ(engine->activeState(resolving->infoHash()), true);
    EXPECT_TRUE(waitUntil([&] { return pausedInLibtorrent(*b) && !pausedInLibtorrent(*a); }));
    EXPECT_FALSE(pausedInLibtorrent(*resolving));

    engine->remove(a);
    EXPECT_FALSE(engine->playbackFocus().has_value());
    EXPECT_FALSE(engine->item(a->infoHash()));
    EXPECT_FALSE(engine->order().contains(a->infoHash()));
    engine->remove(resolving);
    EXPECT_TRUE(waitUntil([&] { return engine->session()->isPaused(); }))
        << "nothing may run: the session itself pauses";
    auto fresh = engine->addMagnet(QString::fromStdString(unknownMagnet('d')));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(engine->activeState(fresh->infoHash()), true);
    EXPECT_TRUE(waitUntil([&] { return !engine->session()->isPaused(); }));
}

// Background downloads on: others pause while the watched file is incomplete and resume once
// the poll sees every piece of it.
TEST_F(EngineTest, BackgroundDownloadsWaitForTheWatchedFile) {
    start();
    transfer->setBackgroundDownloadsEnabled(true);
    LoopbackSeeder seeder{SeederOptions{
        {{"a.mkv", 3 * MiB}}, 256 * 1024, "content", test::TorrentKind::hybrid, 1 * MiB}};
    ASSERT_TRUE(seeder.ok());
    auto b = engine->addTorrentData(torrentWithoutData("B"));
    EXPECT_EQ(engine->activeState(b->infoHash()), true) << "nothing watched: background runs";
    auto a = withMetadata(engine->addMagnet(QString::fromStdString(seeder.magnet())));
    ASSERT_TRUE(a);
    engine->setPlaybackFocus(a->infoHash(), 0);
    EXPECT_FALSE(engine->focusedFileIsComplete());
    EXPECT_EQ(engine->activeState(b->infoHash()), false);
    ASSERT_TRUE(waitUntil([&] { return engine->focusedFileIsComplete(); }, 60'000));
    EXPECT_TRUE(engine->isFileComplete(*a, 0));
    EXPECT_TRUE(waitUntil([&] { return a->haveBitmap() == QByteArray(12, 1); }, 2000))
        << "the next poll shows every piece";
    EXPECT_EQ(engine->activeState(b->infoHash()), true);
    EXPECT_TRUE(waitUntil([&] { return !pausedInLibtorrent(*b); }));
    EXPECT_TRUE(waitUntil([&] { return a->progress() == 1.0; }, 10'000)) << "status events flow";
}

TEST_F(EngineTest, MovingTheFocusToAnotherTorrentReleasesTheOldOne) {
    start();
    auto a = engine->addTorrentData(torrentWithoutData("A", 2));
    auto b = engine->addTorrentData(torrentWithoutData("B"));
    ASSERT_TRUE(a && b);
    const auto raised = [&] {
        const auto priorities = test::piecePriorities(*a->handle());
        return !priorities.empty() && priorities[0] == 7;
    };
    engine->setPlaybackFocus(a->infoHash(), 0);
    a->handle()->setPiecePriority(0, 7);  // as a piece reader would
    ASSERT_TRUE(waitUntil(raised));
    engine->setPlaybackFocus(a->infoHash(), 1);
    waitUntil([] { return false; }, 200);
    EXPECT_TRUE(raised()) << "another file of the same torrent keeps its priorities";
    engine->setPlaybackFocus(b->infoHash(), 0);
    EXPECT_TRUE(waitUntil([&] {
        const auto priorities = test::piecePriorities(*a->handle());
        return !priorities.empty() && priorities[0] == 1;
    })) << "downloadAllFiles on the torrent left behind";
    EXPECT_EQ(engine->activeState(a->infoHash()), false);
    EXPECT_EQ(engine->activeState(b->infoHash()), true);
}

TEST_F(EngineTest, RestartRestoresPausedAndKeepsTheStoredOrder) {
    start();
    auto x = engine->addTorrentData(torrentWithoutData("X"));
    auto y = engine->addTorrentData(torrentWithoutData("Y"));
    auto z = engine->addTorrentData(torrentWithoutData("Z"));
    ASSERT_TRUE(x && y && z);
    engine->setPlaybackFocus(y->infoHash(), 0);
    const QString removed = QString(40, QLatin1Char('e'));
    engine->shutdown();
    engine->shutdown();  // idempotent
    UserDefaults::standard().setStringList(TorrentEngine::orderDefaultsKey,
                                           {z->infoHash(), removed, x->infoHash()});
    restart();
    ASSERT_EQ(engine->items().size(), 3u);
    EXPECT_EQ(engine->order(), QStringList({z->infoHash(), x->infoHash(), y->infoHash()}));
    EXPECT_EQ(UserDefaults::standard().stringList(TorrentEngine::orderDefaultsKey),
              engine->order());
    EXPECT_FALSE(engine->playbackFocus().has_value());
    for (const auto& [key, item] : engine->items()) {
        EXPECT_TRUE(item->hasMetadata());
        EXPECT_EQ(engine->activeState(key), false) << "nothing watched, no background downloads";
        EXPECT_TRUE(pausedInLibtorrent(*item));
    }
    EXPECT_TRUE(engine->session()->isPaused());
    transfer->setBackgroundDownloadsEnabled(true);  // the hook re-evaluates
    for (const auto& [key, item] : engine->items()) EXPECT_EQ(engine->activeState(key), true);
}

// With uploads on and ratio limit 2 a complete torrent seeds until it uploaded twice what it
// downloaded, as status events report it; errors only set lastError.
TEST_F(EngineTest, SeedingLimitsFollowStatusEvents) {
    LoopbackSeeder seeder{SeederOptions{{{"done.mkv", 1 * MiB}}, 256 * 1024}};
    ASSERT_TRUE(seeder.ok());
    ASSERT_TRUE(test::placePartialCopy(seeder, 0, downloads().toStdString(), 1 * MiB));
    start();
    seed->setUploadEnabled(true);
    auto done = engine->addTorrentData(bytesOf(seeder.torrentData()));
    ASSERT_TRUE(done);
    // Watched, it runs and checks the data already on disk; a paused torrent would not.
    engine->setPlaybackFocus(done->infoHash(), 0);
    ASSERT_TRUE(waitUntil([&] { return done->handle()->isSeed(); }, 30'000));
    engine->setPlaybackFocus(std::nullopt, 0);
    EXPECT_EQ(engine->activeState(done->infoHash()), true);

    AlertEvent status;
    status.type = RTAlertTypeStatus;
    status.infoHash = done->infoHash().toUpper();
    status.allTimeDownload = 1000;
    status.progress = 1;
    struct Step {
        qint64 uploaded;
        bool runs;
    };
    for (const Step& step : {Step{1500, true}, Step{1999, true}, Step{2000, false}}) {
        status.allTimeUpload = step.uploaded;
        engine->handleEvent(status);
        QCoreApplication::processEvents();  // the re-evaluation after a burst of status events
        EXPECT_EQ(done->allTimeUpload(), step.uploaded);
        EXPECT_EQ(engine->activeState(done->infoHash()), step.runs) << step.uploaded;
    }
    seed->setRatioLimit(0);
    EXPECT_EQ(engine->activeState(done->infoHash()), true) << "no limit: seeds again";
    seed->setUploadEnabled(false);
    EXPECT_EQ(engine->activeState(done->infoHash()), false);

    AlertEvent error;
    error.type = RTAlertTypeFileError;
    error.infoHash = done->infoHash();
    error.errorMessage = QStringLiteral("disk full");
    engine->handleEvent(error);
    EXPECT_EQ(done->lastError(), QStringLiteral("disk full"));
    error.infoHash = QString(40, QLatin1Char('9'));
    error.errorMessage = QStringLiteral("not ours");
    engine->handleEvent(error);  // dropped
    EXPECT_EQ(done->lastError(), QStringLiteral("disk full"));
}
