#pragma once
// A private D-Bus daemon for one test: started on construction, its address exported as the
// session bus (DBUS_SESSION_BUS_ADDRESS) before anything connects, stopped on destruction.
// Main thread. Construct it before the first use of QDBusConnection::sessionBus().

#include <QProcess>
#include <QString>

namespace rillow::test {

class PrivateDbus {
public:
    PrivateDbus();
    ~PrivateDbus();
    PrivateDbus(const PrivateDbus&) = delete;
    PrivateDbus& operator=(const PrivateDbus&) = delete;

    bool isRunning() const { return !address_.isEmpty(); }
    const QString& address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

}  // namespace rillow::test
