#pragma once
// Keeps a loopback-mode process (tests, the demo) from reaching any host but this machine.
// Any thread.

#include <QUrl>

namespace rillow {

// False in loopback mode for an address whose host is not a loopback address.
bool mayContact(const QUrl& url);

}  // namespace rillow
