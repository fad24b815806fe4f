#pragma once
// Network mode of the process. Any thread.
//
// RILLOW_NETWORK=loopback puts the program in loopback mode: the torrent session listens on
// 127.0.0.1 only with DHT, LSD, UPnP and NAT-PMP off. Service base addresses may be overridden
// from the environment so that tests point them at loopback servers.

#include <QString>

namespace rillow {

bool isLoopbackMode();

// Forces loopback mode for the rest of the process (the demo), whatever the environment says.
void forceLoopbackMode();

// The base address of a named service: the environment variable `variable` when set and
// non-empty, else `builtIn`. For example serviceBaseAddress("RILLOW_CATALOG_URL", "https://...").
QString serviceBaseAddress(const char* variable, const QString& builtIn);

}  // namespace rillow
