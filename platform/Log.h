#pragma once
// Logging to the system log (syslog, identity "rillow") and to standard error.
// Any thread; never blocks on anything but the write itself.

#include <QString>

namespace rillow {

// Writes `line` exactly as given (callers use texts such as "Rillow mpv error (...): ...").
void logRaw(const QString& line);

// Writes "Rillow: " + `message`.
void log(const QString& message);

}  // namespace rillow
