#include "platform/AppFolders.h"

#include <QDir>

namespace rillow {

namespace {

std::optional<QString> xdgFolder(const char* variable, const char* homeRelative) {
    const QString explicitFolder = qEnvironmentVariable(variable);
    if (!explicitFolder.isEmpty() && QDir::isAbsolutePath(explicitFolder))
        return QDir::cleanPath(explicitFolder);
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) return std::nullopt;
    return QDir::cleanPath(home + QLatin1Char('/') + QLatin1String(homeRelative));
}

}  // namespace

std::optional<QString> applicationSupportFolder() {
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

std::optional<QString> configurationFolder() {
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QString temporaryFolder() {
    const QString tmp = qEnvironmentVariable("TMPDIR");
    if (!tmp.isEmpty() && QDir::isAbsolutePath(tmp)) return QDir::cleanPath(tmp);
    return QStringLiteral("/tmp");
}

QString joinPath(const QString& base, const QString& component) {
    if (base.endsWith(QLatin1Char('/'))) return base + component;
    return base + QLatin1Char('/') + component;
}

}  // namespace rillow
