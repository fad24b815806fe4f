// Display-sleep inhibit and sleep notices against stand-ins for the screen saver and logind,
// which cannot run here, on a private D-Bus daemon.
#include "platform/PowerManagement.h"
#include "tests/support/PrivateDbus.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>

using namespace rillow;

namespace {

class FakeScreenSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

public:
    QStringList inhibited;  // "application|reason"
    QList<uint> released;

public Q_SLOTS:
    uint Inhibit(const QString& application, const QString& reason) {
        inhibited << application + QLatin1Char('|') + reason;
        return 41 + uint(inhibited.size());
    }
    void UnInhibit(uint cookie) { released << cookie; }
};

}  // namespace

TEST(PowerManagement, DisplaySleepIsInhibitedAndReleased) {
    test::PrivateDbus bus;
    ASSERT_TRUE(bus.isRunning());
    QDBusConnection service = QDBusConnection::connectToBus(bus.address(), QStringLiteral("saver"));
    FakeScreenSaver saver;
    ASSERT_TRUE(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &saver,
                                       QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));

    auto held = DisplaySleepAssertion::begin(QStringLiteral("Playing video"));
    ASSERT_TRUE(test::waitUntil([&] { return !saver.inhibited.isEmpty(); }));
    EXPECT_EQ(saver.inhibited, QStringList({QStringLiteral("Rillow|Playing video")}));
    test::waitUntil([] { return false; }, 100);  // let the cookie arrive
    held.reset();
    ASSERT_TRUE(test::waitUntil([&] { return !saver.released.isEmpty(); }));
    EXPECT_EQ(saver.released, QList<uint>({42}));

    // Released before the answer came: the inhibit is still undone once the cookie arrives.
    DisplaySleepAssertion::begin(QStringLiteral("Playing video")).reset();
    ASSERT_TRUE(test::waitUntil([&] { return saver.released.size() == 2; }));
    EXPECT_EQ(saver.released.back(), 43u);
    QDBusConnection::disconnectFromBus(QStringLiteral("saver"));
}

TEST(PowerManagement, WillSleepReachesTheObserverAndMissingServicesAreSilent) {
    test::PrivateDbus bus;
    ASSERT_TRUE(bus.isRunning());
    QDBusConnection own = QDBusConnection::connectToBus(bus.address(), QStringLiteral("player"));
    QDBusConnection logind = QDBusConnection::connectToBus(bus.address(), QStringLiteral("logind"));
    ASSERT_TRUE(logind.registerService(QStringLiteral("org.freedesktop.login1")));

    int sleeps = 0;
    SystemSleepObserver observer([&sleeps] { ++sleeps; }, own);
    ASSERT_TRUE(observer.isListening());
    for (bool starting : {false, true}) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"));
        signal << starting;
        logind.send(signal);
    }
    ASSERT_TRUE(test::waitUntil([&] { return sleeps == 1; }));
    test::waitUntil([] { return false; }, 100);
    EXPECT_EQ(sleeps, 1) << "waking up (false) is not a will-sleep notice";

    // No screen saver on this bus: begin and release without error or hang.
    auto held = DisplaySleepAssertion::begin(QStringLiteral("Playing video"));
    test::waitUntil([] { return false; }, 200);
    held.reset();
    // No bus at all.
    SystemSleepObserver deaf([] {}, QDBusConnection(QStringLiteral("not connected")));
    EXPECT_FALSE(deaf.isListening());
    QDBusConnection::disconnectFromBus(QStringLiteral("player"));
    QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
}

#include "PowerManagementTest.moc"
