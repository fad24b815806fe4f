#pragma once
// The per-user folders of the application. Any thread; reads the environment only.

#include <QString>
#include <optional>

namespace rillow {

// The per-user application-support folder: $XDG_DATA_HOME, else $HOME/.local/share.
// Empty when neither can be obtained (no XDG_DATA_HOME and no HOME); callers fall back
// to `temporaryFolder()` as each of them documents.
std::optional<QString> applicationSupportFolder();

// The system temporary folder ($TMPDIR, else /tmp), without a trailing separator.
QString temporaryFolder();

// The per-user configuration folder: $XDG_CONFIG_HOME, else $HOME/.config; empty when
// neither can be obtained.
std::optional<QString> configurationFolder();

// Joins path components with "/".
QString joinPath(const QString& base, const QString& component);

}  // namespace rillow
