#include "engine/EngineSettings.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"
#include "platform/FolderChooser.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>

namespace rillow {

namespace {

const QString kUploadEnabled = QStringLiteral("seedUploadEnabled");
const QString kRatioLimit = QStringLiteral("seedRatioLimit");
const QString kTimeLimit = QStringLiteral("seedTimeLimitMinutes");
const QString kPlayImmediately = QStringLiteral("playNewTorrentsImmediately");
const QString kBackgroundDownloads = QStringLiteral("backgroundDownloadsEnabled");

UserDefaults& defaults() {
    return UserDefaults::standard();
}

// Assigns, notifies on a real change, and reports whether it changed.
template <class T>
bool assign(T& field, T value) {
    if (field == value) return false;
    field = value;
    return true;
}

// A bookmark resolves when it names an existing folder by an absolute path.
std::optional<QString> resolveBookmark(const QByteArray& bookmark) {
    const QString path = QString::fromUtf8(bookmark);
    if (path.isEmpty() || !QDir::isAbsolutePath(path)) return std::nullopt;
    if (!QFileInfo(path).isDir()) return std::nullopt;
    return QDir::cleanPath(path);
}

}  // namespace

SeedSettingsStore::SeedSettingsStore(QObject* parent) : QObject(parent) {
    uploadEnabled_ = defaults().boolean(kUploadEnabled).value_or(false);
    ratioLimit_ = defaults().number(kRatioLimit).value_or(kDefaultRatioLimit);
    timeLimitMinutes_ = static_cast<int>(defaults().integer(kTimeLimit).value_or(0));
}

void SeedSettingsStore::setUploadEnabled(bool value) {
    if (assign(uploadEnabled_, value)) Q_EMIT uploadEnabledChanged();
    defaults().setBoolean(kUploadEnabled, value);
    if (onChange) onChange();
}

void SeedSettingsStore::setRatioLimit(double value) {
    if (assign(ratioLimit_, value)) Q_EMIT ratioLimitChanged();
    defaults().setNumber(kRatioLimit, value);
    if (onChange) onChange();
}

void SeedSettingsStore::setTimeLimitMinutes(int value) {
    if (assign(timeLimitMinutes_, value)) Q_EMIT timeLimitMinutesChanged();
    defaults().setInteger(kTimeLimit, value);
    if (onChange) onChange();
}

bool SeedSettingsStore::limitReached(qint64 uploaded, qint64 downloaded,
                                     qint64 seedingSeconds) const {
    if (ratioLimit_ > 0 && downloaded > 0 &&
        static_cast<double>(uploaded) / static_cast<double>(downloaded) >= ratioLimit_)
        return true;
    return timeLimitMinutes_ > 0 && seedingSeconds >= qint64(timeLimitMinutes_) * 60;
}

TransferSettingsStore::TransferSettingsStore(QObject* parent) : QObject(parent) {
    playNewTorrentsImmediately_ = defaults().boolean(kPlayImmediately).value_or(false);
    backgroundDownloadsEnabled_ = defaults().boolean(kBackgroundDownloads).value_or(false);
}

void TransferSettingsStore::setPlayNewTorrentsImmediately(bool value) {
    if (assign(playNewTorrentsImmediately_, value)) Q_EMIT playNewTorrentsImmediatelyChanged();
    defaults().setBoolean(kPlayImmediately, value);
    if (onChange) onChange();
}

void TransferSettingsStore::setBackgroundDownloadsEnabled(bool value) {
    if (assign(backgroundDownloadsEnabled_, value)) Q_EMIT backgroundDownloadsEnabledChanged();
    defaults().setBoolean(kBackgroundDownloads, value);
    if (onChange) onChange();
}

DownloadFolderStore::DownloadFolderStore(QObject* parent) : QObject(parent) {
    const auto support = applicationSupportFolder();
    defaultURL_ = support ? joinPath(joinPath(*support, QStringLiteral("Rillow")),
                                     QStringLiteral("Downloads"))
                          : joinPath(temporaryFolder(), QStringLiteral("Downloads"));
    makeFolders(defaultURL_);
    load();
}

void DownloadFolderStore::setChosen(std::optional<QString> value) {
    if (chosenURL_ == value) return;
    chosenURL_ = std::move(value);
    Q_EMIT chosenURLChanged();
}

void DownloadFolderStore::load() {
    const auto bookmark = defaults().data(defaultsKey);
    if (!bookmark) {
        setChosen(std::nullopt);
        return;
    }
    const auto resolved = resolveBookmark(*bookmark);
    if (!resolved) {
        setChosen(std::nullopt);
        return;
    }
    accessedURL_ = resolved;
    setChosen(resolved);
}

bool DownloadFolderStore::choose() {
    const auto chosen = chooseFolder(
        {QStringLiteral("Choose a folder for Rillow's downloads."), QStringLiteral("Choose")});
    if (!chosen || chosen->isEmpty()) return false;
    const QByteArray bookmark = QDir::cleanPath(*chosen).toUtf8();
    if (!resolveBookmark(bookmark)) return false;
    defaults().setData(defaultsKey, bookmark);
    accessedURL_.reset();
    load();
    return true;
}

void DownloadFolderStore::reset() {
    defaults().remove(defaultsKey);
    accessedURL_.reset();
    setChosen(std::nullopt);
}

}  // namespace rillow
