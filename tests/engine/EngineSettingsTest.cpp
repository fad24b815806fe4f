#include "engine/EngineSettings.h"
#include "platform/FolderChooser.h"
#include "platform/UserDefaults.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QSignalSpy>

using namespace rillow;

class EngineSettings : public rillow::test::TempHomeTest {
protected:
    ~EngineSettings() override { setFolderChooser({}); }
};

TEST_F(EngineSettings, DefaultsWithNothingSaved) {
    SeedSettingsStore seed;
    TransferSettingsStore transfer;
    DownloadFolderStore folder;
    EXPECT_FALSE(seed.uploadEnabled());
    EXPECT_EQ(seed.ratioLimit(), 2.0);
    EXPECT_EQ(seed.timeLimitMinutes(), 0);
    EXPECT_FALSE(transfer.playNewTorrentsImmediately());
    EXPECT_FALSE(transfer.backgroundDownloadsEnabled());
    EXPECT_TRUE(folder.usesDefault());
    EXPECT_EQ(folder.folderInUse(), home.dataHome() + QStringLiteral("/Rillow/Downloads"));
    EXPECT_TRUE(QFileInfo(folder.defaultURL()).isDir()) << "the default folder is created";

    qunsetenv("XDG_DATA_HOME");
    qunsetenv("HOME");
    EXPECT_EQ(DownloadFolderStore().defaultURL(), home.tmp() + QStringLiteral("/Downloads"));
}

TEST_F(EngineSettings, ValuesPersistAndEveryAssignmentWritesAndCallsTheHook) {
    {
        SeedSettingsStore seed;
        int hooks = 0;
        seed.onChange = [&hooks] { ++hooks; };
        QSignalSpy ratioChanged(&seed, &SeedSettingsStore::ratioLimitChanged);
        seed.setRatioLimit(0);
        seed.setUploadEnabled(true);
        seed.setTimeLimitMinutes(90);
        EXPECT_EQ(ratioChanged.count(), 1);
        EXPECT_EQ(hooks, 3);

        // An equal value does not notify observers but still writes and calls the hook.
        UserDefaults::standard().remove(QStringLiteral("seedTimeLimitMinutes"));
        seed.setTimeLimitMinutes(90);
        seed.setRatioLimit(0);
        EXPECT_EQ(ratioChanged.count(), 1);
        EXPECT_EQ(hooks, 5);
        EXPECT_EQ(UserDefaults::standard().integer(QStringLiteral("seedTimeLimitMinutes")), 90);

        TransferSettingsStore transfer;
        int transferHooks = 0;
        transfer.onChange = [&transferHooks] { ++transferHooks; };
        QSignalSpy backgroundChanged(&transfer,
                                     &TransferSettingsStore::backgroundDownloadsEnabledChanged);
        transfer.setBackgroundDownloadsEnabled(true);
        transfer.setBackgroundDownloadsEnabled(true);
        transfer.setPlayNewTorrentsImmediately(true);
        EXPECT_EQ(backgroundChanged.count(), 1);
        EXPECT_EQ(transferHooks, 3);
    }
    UserDefaults::reloadStandard();  // a restart
    SeedSettingsStore seed;
    EXPECT_EQ(seed.ratioLimit(), 0.0) << "a stored 0 means no limit, not the default";
    EXPECT_TRUE(seed.uploadEnabled());
    EXPECT_EQ(seed.timeLimitMinutes(), 90);
    TransferSettingsStore transfer;
    EXPECT_TRUE(transfer.backgroundDownloadsEnabled());
    EXPECT_TRUE(transfer.playNewTorrentsImmediately());
}

TEST_F(EngineSettings, SeedingLimits) {
    SeedSettingsStore seed;
    struct Case {
        double ratio;
        int minutes;
        qint64 up, down, seconds;
        bool reached;
    };
    const qint64 GB = 1'000'000'000;
    const Case cases[] = {
        {2.0, 0, 3 * GB, 3 * GB / 2, 0, true},       // ratio 2 reached exactly
        {2.0, 0, 3 * GB - 1, 3 * GB / 2, 0, false},  // just under
        {2.0, 0, 5 * GB, 0, 1'000'000, false},       // downloaded elsewhere: ratio never reached
        {0, 60, 0, 0, 3599, false},
        {0, 60, 0, 0, 3600, true},
        {0, 0, 100 * GB, 1, 1'000'000, false},    // no limits at all
        {-1, -5, 100 * GB, 1, 1'000'000, false},  // negative limits mean none
        {2.0, 60, 0, GB, 3600, true},             // time limit when the ratio is not reached
    };
    for (const Case& c : cases) {
        seed.setRatioLimit(c.ratio);
        seed.setTimeLimitMinutes(c.minutes);
        EXPECT_EQ(seed.limitReached(c.up, c.down, c.seconds), c.reached)
            << c.ratio << " " << c.minutes << " " << c.up << "/" << c.down << " " << c.seconds;
    }
}

TEST_F(EngineSettings, DownloadFolderChooseResetAndAVanishedFolder) {
    const QString chosen = home.path() + QStringLiteral("/Movies");
    QDir().mkpath(chosen);
    FolderChooserRequest asked;
    std::optional<QString> answer;
    setFolderChooser([&](const FolderChooserRequest& request) {
        asked = request;
        return answer;
    });

    DownloadFolderStore folder;
    QSignalSpy changed(&folder, &DownloadFolderStore::chosenURLChanged);
    EXPECT_FALSE(folder.choose()) << "cancelled";
    EXPECT_EQ(asked.message, QStringLiteral("Choose a folder for Rillow's downloads."));
    EXPECT_EQ(asked.button, QStringLiteral("Choose"));
    answer = home.path() + QStringLiteral("/does-not-exist");
    EXPECT_FALSE(folder.choose());
    EXPECT_TRUE(folder.usesDefault());

    answer = chosen + QStringLiteral("/");
    EXPECT_TRUE(folder.choose());
    EXPECT_EQ(folder.folderInUse(), chosen);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(DownloadFolderStore().folderInUse(), chosen) << "the choice persists";

    // A folder that disappeared falls back to the default; the bookmark stays.
    QDir(chosen).removeRecursively();
    DownloadFolderStore afterRemoval;
    EXPECT_TRUE(afterRemoval.usesDefault());
    EXPECT_TRUE(UserDefaults::standard().data(DownloadFolderStore::defaultsKey).has_value());
    QDir().mkpath(chosen);
    EXPECT_EQ(DownloadFolderStore().folderInUse(), chosen) << "and works again once it is back";

    folder.reset();
    EXPECT_TRUE(folder.usesDefault());
    EXPECT_EQ(changed.count(), 2);
    EXPECT_FALSE(UserDefaults::standard().data(DownloadFolderStore::defaultsKey).has_value());
}
