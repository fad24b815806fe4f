#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"
#include "platform/JsonStore.h"
#include "platform/Network.h"
#include "platform/UserDefaults.h"
#include "tests/support/TempHome.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>

using namespace rillow;
class PlatformFiles : public rillow::test::TempHomeTest {};

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST_F(PlatformFiles, AtomicWriteReplacesAndReportsFailures) {
    const QString path = home.path() + QStringLiteral("/state.json");
    EXPECT_EQ(writeFileAtomically(path, "old"), AtomicWriteError::none);
    EXPECT_EQ(writeFileAtomically(path, "new content"), AtomicWriteError::none);
    EXPECT_EQ(readAll(path), "new content");
    // No temporary files are left beside it.
    EXPECT_EQ(QDir(home.path()).entryList({QStringLiteral("state.json*")}, QDir::Files).size(), 1);
    EXPECT_EQ(writeFileAtomically(home.path() + QStringLiteral("/missing/x.json"), "x"),
              AtomicWriteError::openFailed);
}

// A writer killed at any moment leaves the old or the new document, never a mixture.
TEST_F(PlatformFiles, AtomicWriteSurvivesKillAtAnyMoment) {
    const QString path = home.path() + QStringLiteral("/killed.json");
    for (int round = 0; round < 40; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(RILLOW_ATOMIC_WRITER), {path});
        ASSERT_TRUE(writer.waitForReadyRead(10'000));
        QThread::usleep(QRandomGenerator::global()->bounded(1'000, 30'000));
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        writer.waitForFinished();
        const QJsonDocument document = QJsonDocument::fromJson(readAll(path));
        ASSERT_TRUE(document.isObject()) << "round " << round;
        const QJsonObject object = document.object();
        ASSERT_TRUE(object.value(QStringLiteral("counter")).isDouble());
        const QString payload = object.value(QStringLiteral("payload")).toString();
        const long long counter = object.value(QStringLiteral("counter")).toInteger();
        ASSERT_EQ(payload.size(), 200'000 + (counter % 7) * 10'000);
        ASSERT_EQ(payload.count(QLatin1Char('a' + char(counter % 26))), payload.size());
    }
}

TEST_F(PlatformFiles, FoldersFollowTheEnvironment) {
    EXPECT_EQ(applicationSupportFolder(), home.dataHome());
    EXPECT_EQ(configurationFolder(), home.configHome());
    EXPECT_EQ(temporaryFolder(), home.tmp());

    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(applicationSupportFolder(), home.path() + QStringLiteral("/.local/share"));
    qputenv("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(applicationSupportFolder(), home.path() + QStringLiteral("/.local/share"));
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("HOME");
    EXPECT_FALSE(applicationSupportFolder().has_value());
    qunsetenv("TMPDIR");
    EXPECT_EQ(temporaryFolder(), QStringLiteral("/tmp"));
}

TEST(NetworkMode, LoopbackAndServiceOverrides) {
    EXPECT_TRUE(isLoopbackMode()) << "the test kit runs every test in loopback mode";
    qputenv("RILLOW_NETWORK", "");
    EXPECT_FALSE(isLoopbackMode());
    forceLoopbackMode();
    EXPECT_TRUE(isLoopbackMode());

    qunsetenv("RILLOW_TEST_SERVICE");
    EXPECT_EQ(serviceBaseAddress("RILLOW_TEST_SERVICE", QStringLiteral("https://built.in")),
              QStringLiteral("https://built.in"));
    qputenv("RILLOW_TEST_SERVICE", "http://127.0.0.1:9");
    EXPECT_EQ(serviceBaseAddress("RILLOW_TEST_SERVICE", QStringLiteral("https://built.in")),
              QStringLiteral("http://127.0.0.1:9"));
}

TEST_F(PlatformFiles, UserDefaultsTypesPersistAndMismatchGivesNothing) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.setString(QStringLiteral("text"), QStringLiteral("héllo"));
    defaults.setNumber(QStringLiteral("number"), 2.5);
    defaults.setInteger(QStringLiteral("integer"), 90);
    defaults.setBoolean(QStringLiteral("flag"), false);
    defaults.setStringList(QStringLiteral("list"), {QStringLiteral("a"), QStringLiteral("b")});
    defaults.setData(QStringLiteral("data"), QByteArray("\x00\x01\xff", 3));
    defaults.setString(QStringLiteral("gone"), QStringLiteral("x"));
    defaults.remove(QStringLiteral("gone"));

    // A second store over the same file sees everything the first wrote.
    UserDefaults reread(defaults.path());
    EXPECT_TRUE(reread.path().startsWith(home.configHome()));
    EXPECT_EQ(reread.string(QStringLiteral("text")), QStringLiteral("héllo"));
    EXPECT_EQ(reread.number(QStringLiteral("number")), 2.5);
    EXPECT_EQ(reread.integer(QStringLiteral("integer")), 90);
    EXPECT_EQ(reread.boolean(QStringLiteral("flag")), false);
    EXPECT_EQ(reread.stringList(QStringLiteral("list")),
              QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    EXPECT_EQ(reread.data(QStringLiteral("data")), QByteArray("\x00\x01\xff", 3));
    EXPECT_FALSE(reread.contains(QStringLiteral("gone")));

    EXPECT_FALSE(reread.boolean(QStringLiteral("text")).has_value());
    EXPECT_FALSE(reread.string(QStringLiteral("data")).has_value());
    EXPECT_FALSE(reread.data(QStringLiteral("text")).has_value());
    EXPECT_FALSE(reread.stringList(QStringLiteral("number")).has_value());
    EXPECT_FALSE(reread.number(QStringLiteral("missing")).has_value());
}

TEST_F(PlatformFiles, UserDefaultsSurviveACorruptFileAndAMissingFolder) {
    const QString path = home.configHome() + QStringLiteral("/Rillow/defaults.json");
    QDir().mkpath(home.configHome() + QStringLiteral("/Rillow"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"broken\": ");
    file.close();
    UserDefaults::reloadStandard();
    EXPECT_FALSE(UserDefaults::standard().contains(QStringLiteral("broken")));
    UserDefaults::standard().setBoolean(QStringLiteral("ok"), true);
    EXPECT_EQ(UserDefaults(path).boolean(QStringLiteral("ok")), true);

    UserDefaults memoryOnly{QString()};
    memoryOnly.setInteger(QStringLiteral("n"), 3);
    EXPECT_EQ(memoryOnly.integer(QStringLiteral("n")), 3);
}

namespace {

class CountingStore : public JsonStore {
public:
    explicit CountingStore(QString path) : JsonStore(std::move(path)) { loaded = loadDocument(); }
    void change(int value) {
        values.append(value);
        scheduleFlush();
    }
    std::optional<QJsonDocument> loaded;
    QJsonArray values;
    mutable int encodes = 0;

protected:
    QByteArray encode() const override {
        ++encodes;
        return QJsonDocument(values).toJson(QJsonDocument::Compact);
    }
};

}  // namespace

TEST_F(PlatformFiles, JsonStoreWritesOnceAfterABurst) {
    const QString path = home.dataHome() + QStringLiteral("/Rillow/State/store.json");
    CountingStore store(path);
    EXPECT_FALSE(store.loaded.has_value());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 10; ++i) store.change(i);
    EXPECT_TRUE(store.hasPendingFlush());
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_TRUE(rillow::test::waitUntil([&] { return QFile::exists(path); }, 6000));
    EXPECT_GE(clock.elapsed(), JsonStore::kFlushDelayMs - 50);
    EXPECT_EQ(store.encodes, 1);
    EXPECT_EQ(readAll(path), "[0,1,2,3,4,5,6,7,8,9]");

    CountingStore reloaded(path);
    ASSERT_TRUE(reloaded.loaded.has_value());
    EXPECT_EQ(reloaded.loaded->array().size(), 10);
}

TEST_F(PlatformFiles, JsonStoreFlushNowCancelsThePendingWriteAndRetriesAfterErrors) {
    // A plain file where the folder should be makes every write fail.
    const QString blocker = home.path() + QStringLiteral("/blocked");
    QFile(blocker).open(QIODevice::WriteOnly);
    CountingStore store(blocker + QStringLiteral("/store.json"));
    store.change(1);
    store.flushNow();
    EXPECT_FALSE(store.hasPendingFlush());
    EXPECT_EQ(store.encodes, 1);

    QFile::remove(blocker);
    store.change(2);
    store.flushNow();
    EXPECT_EQ(readAll(blocker + QStringLiteral("/store.json")), "[1,2]");

    // Undecodable content loads as nothing.
    QFile file(blocker + QStringLiteral("/store.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[1,");
    file.close();
    EXPECT_FALSE(CountingStore(file.fileName()).loaded.has_value());
}
