#pragma once
// Keeping the display awake while video plays, and hearing that the machine is about to sleep.
//
// Main thread only. Both use D-Bus: the freedesktop screen-saver interface on the session bus
// (org.freedesktop.ScreenSaver Inhibit/UnInhibit) and logind's PrepareForSleep signal on the
// system bus. Where a bus or the service is missing they do nothing, silently.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace rillow {

// A held request that the display does not sleep; released on destruction.
class DisplaySleepAssertion {
public:
    // Begins the activity with `reason` (the player uses "Playing video"). Never blocks: the
    // inhibit call is asynchronous, and a release before its answer arrives still undoes it.
    static std::unique_ptr<DisplaySleepAssertion> begin(const QString& reason);
    static std::unique_ptr<DisplaySleepAssertion> begin(const QString& reason, QDBusConnection bus);
    ~DisplaySleepAssertion();

private:
    struct State;
    explicit DisplaySleepAssertion(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

// Calls `onWillSleep` on the main thread when the system announces it is going to sleep.
class SystemSleepObserver : public QObject {
    Q_OBJECT

public:
    explicit SystemSleepObserver(std::function<void()> onWillSleep, QObject* parent = nullptr);
    SystemSleepObserver(std::function<void()> onWillSleep, QDBusConnection bus,
                        QObject* parent = nullptr);
    bool isListening() const { return listening_; }

private Q_SLOTS:
    void prepareForSleep(bool starting);

private:
    std::function<void()> onWillSleep_;
    bool listening_ = false;
};

}  // namespace rillow
