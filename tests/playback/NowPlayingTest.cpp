// Now Playing through a private D-Bus daemon, driven by a real D-Bus client connection.
#include "platform/MediaControls.h"
#include "playback/NowPlayingController.h"
#include "tests/support/PrivateDbus.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

using namespace rillow;

namespace {

const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

class NowPlaying : public ::testing::Test {
protected:
    NowPlaying() : client(QDBusConnection::connectToBus(bus.address(), QStringLiteral("client"))) {}
    ~NowPlaying() override { QDBusConnection::disconnectFromBus(QStringLiteral("client")); }

    // Declared first: the daemon must run before the centre connects to the session bus.
    test::PrivateDbus bus;
    QDBusConnection client;

    QString service() const { return MediaControlCenter::shared().busName(); }

    QVariant property(const QString& name) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            service(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        call << kPlayer << name;
        QDBusMessage reply = callAndWait(call);
        if (reply.type() != QDBusMessage::ReplyMessage) return {};
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

    QVariantMap metadata() {
        QVariant value = property(QStringLiteral("Metadata"));
        QVariantMap map;
        if (value.canConvert<QDBusArgument>()) value.value<QDBusArgument>() >> map;
        return map;
    }

    QDBusMessage invoke(const QString& method, const QVariantList& args = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall(service(), kPath, kPlayer, method);
        call.setArguments(args);
        return callAndWait(call);
    }

    // The service lives on this thread, so a blocking call would deadlock: wait in the loop.
    QDBusMessage callAndWait(const QDBusMessage& call) {
        QDBusPendingCall pending = client.asyncCall(call, 5000);
        test::waitUntil([&] { return pending.isFinished(); }, 6000);
        return pending.reply();
    }
};

}  // namespace

TEST_F(NowPlaying, CommandsReachTheCallbacks) {
    ASSERT_TRUE(bus.isRunning());
    NowPlayingController controller;
    int toggles = 0, plays = 0, pauses = 0, nexts = 0, previouses = 0;
    std::vector<double> seeks;
    controller.onTogglePlayPause = [&] { ++toggles; };
    controller.onPlay = [&] { ++plays; };
    controller.onPause = [&] { ++pauses; };
    controller.onNext = [&] { ++nexts; };
    controller.onPrevious = [&] { ++previouses; };
    controller.onSeek = [&](double s) { seeks.push_back(s); };
    controller.registerCommands();
    controller.update(QStringLiteral("Big Buck Bunny"), false, 600, 12.5);
    ASSERT_EQ(service(), QStringLiteral("org.mpris.MediaPlayer2.rillow"));

    EXPECT_EQ(invoke(QStringLiteral("PlayPause")).type(), QDBusMessage::ReplyMessage);
    invoke(QStringLiteral("Play"));
    invoke(QStringLiteral("Pause"));
    invoke(QStringLiteral("Next"));  // disabled until a playlist plays
    EXPECT_EQ(property(QStringLiteral("CanGoNext")).toBool(), false);
    controller.setPlaylistCommandsEnabled(true);
    EXPECT_EQ(property(QStringLiteral("CanGoNext")).toBool(), true);
    invoke(QStringLiteral("Next"));
    invoke(QStringLiteral("Previous"));

    const QVariant track = metadata().value(QStringLiteral("mpris:trackid"));
    invoke(QStringLiteral("SetPosition"), {track, qlonglong(90'000'000)});
    invoke(QStringLiteral("SetPosition"),
           {QVariant::fromValue(QDBusObjectPath(QStringLiteral("/stale"))), qlonglong(5'000'000)});
    invoke(QStringLiteral("Seek"), {qlonglong(-2'500'000)});  // relative to 12.5 s
    invoke(QStringLiteral("Stop"));                           // disabled: nothing happens

    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(plays, 1);
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(nexts, 1);
    EXPECT_EQ(previouses, 1);
    EXPECT_EQ(seeks, std::vector<double>({90.0, 10.0}));

    // The wrong kind of event on the change-position command fails and changes nothing.
    EXPECT_EQ(MediaControlCenter::shared().dispatch(
                  {RemoteCommand::changePlaybackPosition, std::nullopt}),
              CommandStatus::commandFailed);
    EXPECT_EQ(seeks.size(), 2u);
}

TEST_F(NowPlaying, InformationFollowsUpdatesAndClear) {
    ASSERT_TRUE(bus.isRunning());
    NowPlayingController controller;
    controller.clear();  // before register: nothing
    controller.update(QStringLiteral("Loading"), true, 0, 0);
    EXPECT_EQ(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Paused"));
    EXPECT_FALSE(metadata().contains(QStringLiteral("mpris:length")))
        << "no duration while it is 0";
    EXPECT_EQ(MediaControlCenter::shared().nowPlayingInfo()->playbackRate, 0.0);

    controller.registerCommands();
    controller.update(QStringLiteral("Film"), false, 5400.25, 61);
    const QVariantMap data = metadata();
    EXPECT_EQ(data.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Film"));
    EXPECT_EQ(data.value(QStringLiteral("mpris:length")).toLongLong(), 5'400'250'000LL);
    EXPECT_EQ(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
    EXPECT_EQ(property(QStringLiteral("Position")).toLongLong(), 61'000'000LL);
    EXPECT_EQ(MediaControlCenter::shared().nowPlayingInfo()->playbackRate, 1.0);
    EXPECT_EQ(MediaControlCenter::shared().nowPlayingInfo()->mediaType, 2);

    // A second player that publishes later wins; clearing the first leaves it alone.
    NowPlayingController second;
    second.registerCommands();
    second.update(QStringLiteral("Other"), false, 10, 1);
    controller.clear();
    EXPECT_EQ(metadata().value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Other"));
    second.clear();
    second.clear();
    EXPECT_EQ(property(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
    EXPECT_TRUE(metadata().isEmpty());
    EXPECT_FALSE(MediaControlCenter::shared().hasTargets(RemoteCommand::play));
}

TEST(NowPlayingWithoutBus, IsASilentNoOp) {
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    NowPlayingController controller;
    int plays = 0;
    controller.onPlay = [&] { ++plays; };
    controller.registerCommands();
    controller.update(QStringLiteral("Film"), false, 10, 1);
    EXPECT_TRUE(MediaControlCenter::shared().busName().isEmpty());
    EXPECT_EQ(MediaControlCenter::shared().dispatch({RemoteCommand::play, std::nullopt}),
              CommandStatus::success);
    EXPECT_EQ(plays, 1) << "the in-process centre still works";
    controller.clear();
}
