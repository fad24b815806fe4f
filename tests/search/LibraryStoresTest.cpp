#include "search/HistoryStore.h"
#include "tests/support/TempHome.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <csignal>

using namespace rillow;
class LibraryStores : public rillow::test::TempHomeTest {};

namespace {

const QString kHash = QStringLiteral("0123456789abcdef0123456789abcdef01234567");

QJsonArray readArray(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

TEST_F(LibraryStores, HistoryRecordsByLowerCaseKeyAndKeepsTheMagnet) {
    HistoryStore history;
    EXPECT_EQ(history.url(), home.dataHome() + QStringLiteral("/Rillow/State/history.json"));
    history.record(kHash.toUpper(), QStringLiteral("First"), QStringLiteral("magnet:?xt=1"));
    history.record(QStringLiteral("ffff") + kHash.mid(4), QStringLiteral("Other"), std::nullopt);
    const QDateTime before = history.entries().front().date;
    QThread::msleep(5);
    history.record(kHash, QStringLiteral("Renamed by record"), std::nullopt);

    ASSERT_EQ(history.entries().size(), 2);
    const HistoryEntry& front = history.entries().front();
    EXPECT_EQ(front.infoHash, kHash);
    EXPECT_EQ(front.name, QStringLiteral("Renamed by record"));
    EXPECT_EQ(front.magnet, QStringLiteral("magnet:?xt=1"));
    EXPECT_GT(front.date, before);
    EXPECT_EQ(history.magnetFor(kHash.toUpper()), QStringLiteral("magnet:?xt=1"));
    EXPECT_FALSE(history.magnetFor(history.entries()[1].infoHash).has_value());

    history.flushNow();
    const QJsonArray file = readArray(history.url());
    ASSERT_EQ(file.size(), 2);
    EXPECT_FALSE(file[1].toObject().contains(QStringLiteral("magnet")))
        << "an absent magnet is left out, not written as null";
    // Dates are seconds since 2001-01-01 UTC.
    const double seconds = file[0].toObject().value(QStringLiteral("date")).toDouble();
    EXPECT_NEAR(seconds, (QDateTime::currentSecsSinceEpoch() - 978307200.0), 5.0);
}

TEST_F(LibraryStores, HistoryRenameRules) {
    HistoryStore history;
    history.record(kHash, QStringLiteral("A"), std::nullopt);
    history.record(QStringLiteral("1") + kHash.mid(1), QStringLiteral("B"), std::nullopt);
    history.flushNow();
    const QList<HistoryEntry> before = history.entries();
    QSignalSpy changed(&history, &HistoryStore::entriesChanged);

    struct Case {
        QString hash, name;
    };
    for (const Case& c :
         {Case{kHash, QString()}, Case{QStringLiteral("9") + kHash.mid(1), QStringLiteral("X")},
          Case{kHash, QStringLiteral("A")}}) {
        history.rename(c.hash, c.name);
        EXPECT_EQ(history.entries(), before);
        EXPECT_FALSE(history.hasPendingFlush()) << "no change, no write";
    }
    EXPECT_EQ(changed.count(), 0);

    history.rename(kHash.toUpper(), QStringLiteral("A, renamed"));
    EXPECT_EQ(changed.count(), 1);
    ASSERT_EQ(history.entries().size(), 2);
    EXPECT_EQ(history.entries()[1].name, QStringLiteral("A, renamed")) << "stays in place";
    EXPECT_EQ(history.entries()[1].date, before[1].date) << "keeps its date";
    EXPECT_TRUE(history.hasPendingFlush());
}

TEST_F(LibraryStores, FavouriteToggledTwiceWritesOneFileWithoutIt) {
    FavoritesStore favorites;
    favorites.add({QStringLiteral("local-") + QString(64, QLatin1Char('a')),
                   QStringLiteral("Clip"),
                   QStringLiteral("/videos/clip.mkv"),
                   {}});
    favorites.flushNow();
    const FavoriteEntry torrent{kHash, QStringLiteral("Movie"), std::nullopt, {}};
    // The player's toggle: remove when present, else add.
    for (int i = 0; i < 2; ++i) {
        if (favorites.contains(torrent.id))
            favorites.remove(torrent.id);
        else
            favorites.add(torrent);
    }
    EXPECT_FALSE(favorites.contains(kHash));
    EXPECT_FALSE(favorites.contains(kHash.toUpper())) << "ids match exactly";
    ASSERT_TRUE(test::waitUntil([&] { return !favorites.hasPendingFlush(); }, 6000));
    const QJsonArray file = readArray(favorites.url());
    ASSERT_EQ(file.size(), 1);
    EXPECT_EQ(file[0].toObject().value(QStringLiteral("path")).toString(),
              QStringLiteral("/videos/clip.mkv"));

    favorites.add(torrent);
    favorites.flushNow();
    const QJsonObject written = readArray(favorites.url())[0].toObject();
    EXPECT_EQ(written.value(QStringLiteral("id")).toString(), kHash);
    EXPECT_FALSE(written.contains(QStringLiteral("path"))) << "a torrent has no path key";

    favorites.clear();
    favorites.flushNow();
    favorites.clear();
    EXPECT_FALSE(favorites.hasPendingFlush()) << "clearing an empty list writes nothing";
}

TEST_F(LibraryStores, FilesLoadWholeOrNotAtAll) {
    const QString folder = home.dataHome() + QStringLiteral("/Rillow/State");
    struct Case {
        const char* name;
        QByteArray content;
        int expected;
    };
    const Case cases[] = {
        {"keys in any order, null magnet",
         R"([{"date":10.5,"magnet":null,"name":"A","infoHash":"aa"},{"infoHash":"bb","name":"B","date":1}])",
         2},
        {"one element without a date",
         R"([{"infoHash":"aa","name":"A","date":1},{"infoHash":"bb","name":"B"}])", 0},
        {"a number where a text belongs", R"([{"infoHash":7,"name":"A","date":1}])", 0},
        {"a magnet of the wrong type", R"([{"infoHash":"aa","name":"A","date":1,"magnet":3}])", 0},
        {"not an array", R"({"infoHash":"aa"})", 0},
        {"truncated", R"([{"infoHash":"aa","na)", 0},
    };
    for (const Case& c : cases) {
        writeFile(folder + QStringLiteral("/history.json"), c.content);
        HistoryStore history;
        EXPECT_EQ(history.entries().size(), c.expected) << c.name;
    }
    HistoryStore history;  // the last, truncated file
    EXPECT_TRUE(history.entries().isEmpty());
    history.record(kHash, QStringLiteral("Fresh"), std::nullopt);
    history.flushNow();
    EXPECT_EQ(HistoryStore().entries().size(), 1) << "the bad file is replaced by the next write";

    writeFile(folder + QStringLiteral("/favorites.json"),
              R"([{"id":"x","name":"X","date":3.25,"path":null}])");
    FavoritesStore favorites;
    ASSERT_EQ(favorites.entries().size(), 1);
    EXPECT_FALSE(favorites.entries()[0].path.has_value());
    EXPECT_EQ(referenceSeconds(favorites.entries()[0].date), 3.25);
}

TEST_F(LibraryStores, WithoutApplicationSupportTheStateFolderIsTheTemporaryFolder) {
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("HOME");
    EXPECT_EQ(libraryStateFolder(), home.tmp());
    EXPECT_EQ(HistoryStore().url(), home.tmp() + QStringLiteral("/history.json"));
}

// A writer killed at any moment loses nothing it had flushed before its last write began.
TEST_F(LibraryStores, KillDuringWriteLosesNothingOlderThanTheLastWrite) {
    const QString path = home.path() + QStringLiteral("/history.json");
    for (int round = 0; round < 15; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(RILLOW_HISTORY_WRITER), {path});
        ASSERT_TRUE(writer.waitForReadyRead(10'000));
        QThread::msleep(5 + round * 3);
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        writer.waitForFinished();
        const QList<QByteArray> lines = writer.readAllStandardOutput().trimmed().split('\n');
        const int confirmed = lines.back().toInt();
        HistoryStore history(path);
        ASSERT_GE(history.entries().size(), confirmed) << "round " << round;
        ASSERT_LE(history.entries().size(), confirmed + 1) << "round " << round;
    }
}
