// Writes ever-changing JSON documents to one file in a tight loop, for the kill test.
#include "platform/AtomicFile.h"

#include <QByteArray>
#include <QString>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    for (long long i = 0;; ++i) {
        // Large enough that a write takes several system calls and page-cache pages.
        QByteArray document = "{\"counter\":" + QByteArray::number(i) + ",\"payload\":\"";
        document += QByteArray(200'000 + static_cast<int>(i % 7) * 10'000, 'a' + char(i % 26));
        document += "\"}";
        if (rillow::writeFileAtomically(path, document) != rillow::AtomicWriteError::none) return 1;
        if (i == 0) std::fprintf(stdout, "ready\n"), std::fflush(stdout);
    }
}
