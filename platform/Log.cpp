#include "platform/Log.h"

#include <syslog.h>
#include <cstdio>
#include <mutex>

namespace rillow {

void logRaw(const QString& line) {
    static std::once_flag opened;
    std::call_once(opened, [] { ::openlog("rillow", LOG_PID, LOG_USER); });
    const QByteArray utf8 = line.toUtf8();
    ::syslog(LOG_NOTICE, "%s", utf8.constData());
    std::fprintf(stderr, "%s\n", utf8.constData());
}

void log(const QString& message) {
    logRaw(QStringLiteral("Rillow: ") + message);
}

}  // namespace rillow
