#include "search/NetworkGuard.h"

#include "platform/Log.h"
#include "platform/Network.h"

#include <QHostAddress>

namespace rillow {

bool mayContact(const QUrl& url) {
    if (!isLoopbackMode()) return true;
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    if (!address.isNull() && address.isLoopback()) return true;
    log(QStringLiteral("loopback mode: not contacting %1").arg(host));
    return false;
}

}  // namespace rillow
