#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <cerrno>

namespace rillow {

namespace {

bool writeAll(int fd, const char* data, qsizetype length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, static_cast<size_t>(length));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        length -= n;
    }
    return true;
}

void syncFolder(const QByteArray& folder) {
    int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

AtomicWriteError writeFileAtomically(const QString& path, const QByteArray& data) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    // mkstemp gives a unique name in the same folder, so the rename never crosses file systems.
    QByteArray pattern = QFile::encodeName(info.absoluteFilePath()) + ".tmp-XXXXXX";
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return AtomicWriteError::openFailed;
    ::fchmod(fd, 0644);
    if (!writeAll(fd, data.constData(), data.size())) {
        ::close(fd);
        ::unlink(pattern.constData());
        return AtomicWriteError::writeFailed;
    }
    // A failed fsync means the bytes may not be on disk: keep the old file rather than risk it.
    if (::fsync(fd) != 0) {
        ::close(fd);
        ::unlink(pattern.constData());
        return AtomicWriteError::syncFailed;
    }
    if (::close(fd) != 0) {
        ::unlink(pattern.constData());
        return AtomicWriteError::writeFailed;
    }
    if (::rename(pattern.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) !=
        0) {
        ::unlink(pattern.constData());
        return AtomicWriteError::renameFailed;
    }
    syncFolder(folder);
    return AtomicWriteError::none;
}

bool makeFolders(const QString& folder) {
    QDir().mkpath(folder);
    return QFileInfo(folder).isDir();
}

}  // namespace rillow
