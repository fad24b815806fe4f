#pragma once
// Atomic replacement of small state files.
// Any thread; blocks on disk I/O. A reader sees the old or the new content, never a mixture,
// even when the writer is killed at any moment.

#include <QByteArray>
#include <QString>

namespace rillow {

enum class AtomicWriteError { none, openFailed, writeFailed, syncFailed, renameFailed };

// Writes `data` to a temporary file beside `path`, fsyncs it, renames it over `path` and fsyncs
// the folder. On any failure the old file is left untouched and the temporary file removed.
AtomicWriteError writeFileAtomically(const QString& path, const QByteArray& data);

// Creates `folder` with intermediate folders; false when it does not exist afterwards.
bool makeFolders(const QString& folder);

}  // namespace rillow
