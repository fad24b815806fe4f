// Records history entries and flushes after each, printing the count written, for the kill test.
#include "search/HistoryStore.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    rillow::HistoryStore store(QString::fromLocal8Bit(argv[1]));
    for (int i = static_cast<int>(store.entries().size());; ++i) {
        store.record(QStringLiteral("%1").arg(i, 40, 16, QLatin1Char('0')),
                     QStringLiteral("Torrent %1 ").arg(i).repeated(50), std::nullopt);
        store.flushNow();
        std::printf("%d\n", i + 1);
        std::fflush(stdout);
    }
}
