#include "tests/support/PrivateDbus.h"

namespace rillow::test {

PrivateDbus::PrivateDbus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    if (!daemon_.waitForStarted(10'000)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(10'000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    if (!address_.isEmpty()) qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
}

PrivateDbus::~PrivateDbus() {
    daemon_.terminate();
    if (!daemon_.waitForFinished(3000)) daemon_.kill();
    daemon_.waitForFinished(3000);
}

}  // namespace rillow::test
