#include "platform/UserDefaults.h"
#include "playback/ResumeStore.h"
#include "playback/TrackPreferenceStore.h"
#include "tests/support/TempHome.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

using namespace rillow;

namespace {

const QString kHash = QStringLiteral("ABCDEF0123456789ABCDEF0123456789ABCDEF01");

QJsonObject readObject(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class PlaybackStores : public rillow::test::TempHomeTest {};

}  // namespace

TEST_F(PlaybackStores, PositionsAreKeyedInLowerCaseAndLastPlayedFallsBackToTheSmallestFile) {
    ResumeStore store;
    EXPECT_EQ(store.url(), home.dataHome() + QStringLiteral("/Rillow/State/positions.json"));
    store.positions().insert(perFileKey(kHash, 7), 100);
    store.positions().insert(perFileKey(kHash, 3), 50);
    store.positions().insert(kHash.toLower() + QStringLiteral(":x"), 1);
    store.positions().insert(kHash.toLower() + QStringLiteral(":"), 1);
    EXPECT_EQ(store.position(kHash.toLower(), 7), 100.0);
    EXPECT_EQ(store.position(kHash, 3), 50.0);
    EXPECT_EQ(store.lastPlayedFile(kHash), 3) << "smallest index; stray keys ignored";
    store.setLastPlayed(kHash, 7);
    EXPECT_EQ(store.lastPlayedFile(kHash.toLower()), 7);
    EXPECT_FALSE(store.lastPlayedFile(QString(40, QLatin1Char('0'))).has_value());

    store.keepOnlyPosition(kHash, 7);
    EXPECT_FALSE(store.position(kHash, 3).has_value());
    EXPECT_EQ(store.position(kHash, 7), 100.0);
    store.flushNow();
    const QJsonObject file = readObject(store.url());
    EXPECT_EQ(file.value(QStringLiteral("lastPlayed")).toObject().value(kHash.toLower()).toInt(),
              7);
    EXPECT_EQ(ResumeStore().position(kHash, 7), 100.0) << "reloaded from the file";

    store.forget(QString(40, QLatin1Char('1')));
    EXPECT_FALSE(store.hasPendingFlush());
    store.forget(kHash);
    EXPECT_FALSE(store.hasPendingFlush()) << "written at once";
    EXPECT_TRUE(ResumeStore().positions().isEmpty());
    EXPECT_FALSE(ResumeStore().lastPlayedFile(kHash).has_value());
}

TEST_F(PlaybackStores, ResumeFileLayouts) {
    const QString path = home.dataHome() + QStringLiteral("/Rillow/State/positions.json");
    struct Case {
        const char* name;
        QByteArray content;
        int positions;
        bool lastPlayed;
    };
    const Case cases[] = {
        {"current layout", R"({"positions":{"aa:0":12.5},"lastPlayed":{"aa":0}})", 1, true},
        {"earlier plain map", R"({"aa:0":12.5,"bb:2":3})", 2, false},
        {"positions without lastPlayed", R"({"positions":{"aa:0":12.5}})", 0, false},
        {"a text where seconds belong", R"({"aa:0":"12"})", 0, false},
        {"not JSON", "positions", 0, false},
    };
    for (const Case& c : cases) {
        writeFile(path, c.content);
        ResumeStore store;
        EXPECT_EQ(store.positions().size(), c.positions) << c.name;
        EXPECT_EQ(store.lastPlayedFile(QStringLiteral("aa")).has_value(),
                  c.lastPlayed || c.positions > 0)
            << c.name;
    }
}

TEST_F(PlaybackStores, TenChangesGiveOneWriteAfterThreeSeconds) {
    TrackPreferenceStore store;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 10; ++i) store.setAudio(i, kHash, 0);
    EXPECT_FALSE(QFile::exists(store.url()));
    ASSERT_TRUE(test::waitUntil([&] { return QFile::exists(store.url()); }, 6000));
    EXPECT_GE(clock.elapsed(), 2950);
    EXPECT_EQ(readObject(store.url())
                  .value(perFileKey(kHash, 0))
                  .toObject()
                  .value(QStringLiteral("audioID"))
                  .toInt(),
              9);
}

TEST_F(PlaybackStores, TrackChoicesPerFileAndPlaylist) {
    TrackPreferenceStore store;
    store.setAudio(2, kHash, 0);
    store.setOnlineSubtitle(QStringLiteral("os-1"), kHash, 0);
    store.setOnlineSubtitle(QStringLiteral("os-4"), kHash.toLower(), 4);
    store.setOnlineSubtitle(QStringLiteral("other"), QStringLiteral("local-aa"), 0);
    EXPECT_EQ(store.selection(kHash, 0), (TrackSelection{2, std::nullopt, QStringLiteral("os-1")}));

    store.setSubtitle(-1, kHash, 0);
    EXPECT_EQ(store.selection(kHash, 0), (TrackSelection{2, -1, std::nullopt}))
        << "a subtitle id clears the online choice";

    store.clearSubtitle(kHash, 9);
    EXPECT_FALSE(store.selection(kHash, 9).has_value()) << "no entry is created";
    store.clearPlaylistSubtitle(kHash);
    EXPECT_FALSE(store.playlistSelection(kHash).has_value());

    store.setOnlineSubtitle(QStringLiteral("os-1b"), kHash, 0);
    store.setPlaylistAudio(1, kHash);
    store.setPlaylistSubtitle(5, kHash);
    EXPECT_EQ(store.playlistSelection(kHash), (TrackSelection{1, 5, std::nullopt}));
    EXPECT_EQ(store.selection(kHash, 0), (TrackSelection{2, std::nullopt, std::nullopt}));
    EXPECT_EQ(store.selection(kHash, 4),
              (TrackSelection{std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(store.selection(QStringLiteral("LOCAL-AA"), 0)->onlineSubtitleID,
              QStringLiteral("other"))
        << "other scopes are left alone";

    store.flushNow();
    const QJsonObject written = readObject(store.url());
    EXPECT_EQ(written.value(perFileKey(kHash, 0)).toObject(),
              (QJsonObject{{QStringLiteral("audioID"), 2}}))
        << "absent members are left out";
    EXPECT_EQ(written.value(kHash.toLower() + QStringLiteral(":*"))
                  .toObject()
                  .value(QStringLiteral("subtitleID"))
                  .toInt(),
              5);

    store.forget(kHash);
    EXPECT_FALSE(store.playlistSelection(kHash).has_value());
    EXPECT_TRUE(store.selection(QStringLiteral("local-aa"), 0).has_value());
    EXPECT_EQ(TrackPreferenceStore().selections().size(), 1) << "forget writes at once";
}

TEST_F(PlaybackStores, AudioOnlyEntryLoadsAndPreferredLanguageIsNormalised) {
    const QString path = home.dataHome() + QStringLiteral("/Rillow/State/track-preferences.json");
    writeFile(path, R"({"aa:0":{"audioID":3},"aa:*":{"subtitleID":null}})");
    TrackPreferenceStore store;
    EXPECT_EQ(store.selection(QStringLiteral("aa"), 0),
              (TrackSelection{3, std::nullopt, std::nullopt}));
    store.flushNow();
    EXPECT_EQ(readObject(path).value(QStringLiteral("aa:0")).toObject(),
              (QJsonObject{{QStringLiteral("audioID"), 3}}));

    writeFile(path, R"({"aa:0":{"audioID":"three"}})");
    EXPECT_TRUE(TrackPreferenceStore().selections().isEmpty()) << "a bad file loads empty";

    store.setPreferredSubtitleLanguage(QStringLiteral("English"));
    EXPECT_EQ(store.preferredSubtitleLanguage(), QStringLiteral("en"));
    store.setPreferredSubtitleLanguage(QStringLiteral("not a language at all"));
    store.setPreferredSubtitleLanguage(std::nullopt);
    EXPECT_EQ(store.preferredSubtitleLanguage(), QStringLiteral("en"));
    EXPECT_EQ(UserDefaults::standard().string(TrackPreferenceStore::languageDefaultsKey),
              QStringLiteral("en"));
    EXPECT_EQ(TrackPreferenceStore().preferredSubtitleLanguage(), QStringLiteral("en"));
}
