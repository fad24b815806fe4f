#include "platform/Network.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Rillow"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RILLOW_VERSION));
    const QStringList args = QCoreApplication::arguments();
    std::printf("Rillow %s%s\n", RILLOW_VERSION,
                rillow::isLoopbackMode() ? " (loopback network)" : "");
    if (args.contains(QStringLiteral("--version"))) return 0;
    return 0;
}
