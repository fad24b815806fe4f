#include "platform/Network.h"

#include <atomic>

namespace rillow {

namespace {
std::atomic<bool> forcedLoopback{false};
}

bool isLoopbackMode() {
    return forcedLoopback.load() ||
           qEnvironmentVariable("RILLOW_NETWORK")
                   .compare(QLatin1String("loopback"), Qt::CaseInsensitive) == 0;
}

void forceLoopbackMode() {
    forcedLoopback.store(true);
}

QString serviceBaseAddress(const char* variable, const QString& builtIn) {
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? builtIn : value;
}

}  // namespace rillow
