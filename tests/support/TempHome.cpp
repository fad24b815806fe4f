#include "tests/support/TempHome.h"

#include "platform/UserDefaults.h"

#include <QDir>
#include <cstdlib>

namespace rillow::test {

namespace {
const char* const kVariables[5] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                                   "TMPDIR"};
const char* const kFolders[5] = {"", ".config", ".local/share", ".cache", "tmp"};
}  // namespace

TempHome::TempHome() {
    for (int i = 0; i < 5; ++i) {
        had_[i] = qEnvironmentVariableIsSet(kVariables[i]);
        saved_[i] = qgetenv(kVariables[i]);
        const QString folder =
            i == 0 ? dir_.path() : dir_.path() + QLatin1Char('/') + QLatin1String(kFolders[i]);
        QDir().mkpath(folder);
        qputenv(kVariables[i], QFile::encodeName(folder));
    }
    UserDefaults::reloadStandard();
}

TempHome::~TempHome() {
    for (int i = 0; i < 5; ++i) {
        if (had_[i])
            qputenv(kVariables[i], saved_[i]);
        else
            qunsetenv(kVariables[i]);
    }
    UserDefaults::reloadStandard();
}

QString TempHome::dataHome() const {
    return dir_.path() + QStringLiteral("/.local/share");
}
QString TempHome::configHome() const {
    return dir_.path() + QStringLiteral("/.config");
}
QString TempHome::tmp() const {
    return dir_.path() + QStringLiteral("/tmp");
}

}  // namespace rillow::test
