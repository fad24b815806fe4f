#include "platform/PowerManagement.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace rillow {

namespace {
const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");
}  // namespace

struct DisplaySleepAssertion::State {
    QDBusConnection bus{QString()};
    std::optional<uint> cookie;
    bool released = false;

    void uninhibit() {
        if (!cookie) return;
        QDBusMessage call =
            QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                           kScreenSaverService, QStringLiteral("UnInhibit"));
        call << *cookie;
        bus.asyncCall(call);
        cookie.reset();
    }
};

std::unique_ptr<DisplaySleepAssertion> DisplaySleepAssertion::begin(const QString& reason) {
    return begin(reason, QDBusConnection::sessionBus());
}

std::unique_ptr<DisplaySleepAssertion> DisplaySleepAssertion::begin(const QString& reason,
                                                                    QDBusConnection bus) {
    auto state = std::make_shared<State>();
    state->bus = bus;
    std::unique_ptr<DisplaySleepAssertion> assertion(new DisplaySleepAssertion(state));
    if (!bus.isConnected()) return assertion;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kScreenSaverService, kScreenSaverPath, kScreenSaverService, QStringLiteral("Inhibit"));
    call << QStringLiteral("Rillow") << reason;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [state](QDBusPendingCallWatcher* w) {
                         QDBusPendingReply<uint> reply = *w;
                         w->deleteLater();
                         if (reply.isError()) return;  // no screen saver service: nothing to hold
                         state->cookie = reply.value();
                         if (state->released) state->uninhibit();
                     });
    return assertion;
}

DisplaySleepAssertion::~DisplaySleepAssertion() {
    state_->released = true;
    state_->uninhibit();
}

SystemSleepObserver::SystemSleepObserver(std::function<void()> onWillSleep, QObject* parent)
    : SystemSleepObserver(std::move(onWillSleep), QDBusConnection::systemBus(), parent) {}

SystemSleepObserver::SystemSleepObserver(std::function<void()> onWillSleep, QDBusConnection bus,
                                         QObject* parent)
    : QObject(parent), onWillSleep_(std::move(onWillSleep)) {
    if (!bus.isConnected()) return;
    listening_ = bus.connect(QStringLiteral("org.freedesktop.login1"),
                             QStringLiteral("/org/freedesktop/login1"),
                             QStringLiteral("org.freedesktop.login1.Manager"),
                             QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

void SystemSleepObserver::prepareForSleep(bool starting) {
    if (starting && onWillSleep_) onWillSleep_();
}

}  // namespace rillow
