#pragma once
// The user's torrent settings, persisted in the user defaults.
//
// Main thread only. Each store is an observable model: a property notifies only when its value
// changes, while every assignment (also of an equal value) writes the key and calls `onChange`.
// The engine installs `onChange` right after it is created; a store calls at most one hook.

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

namespace rillow {

class SeedSettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool uploadEnabled READ uploadEnabled WRITE setUploadEnabled NOTIFY uploadEnabledChanged)
    Q_PROPERTY(double ratioLimit READ ratioLimit WRITE setRatioLimit NOTIFY ratioLimitChanged)
    Q_PROPERTY(int timeLimitMinutes READ timeLimitMinutes WRITE setTimeLimitMinutes NOTIFY
                   timeLimitMinutesChanged)

public:
    static constexpr double kDefaultRatioLimit = 2.0;

    explicit SeedSettingsStore(QObject* parent = nullptr);

    std::function<void()> onChange;

    bool uploadEnabled() const { return uploadEnabled_; }
    double ratioLimit() const { return ratioLimit_; }           // <= 0: no ratio limit
    int timeLimitMinutes() const { return timeLimitMinutes_; }  // <= 0: no time limit

    void setUploadEnabled(bool value);
    void setRatioLimit(double value);
    void setTimeLimitMinutes(int value);

    // Whether a complete torrent has seeded enough, from its lifetime byte counts.
    bool limitReached(qint64 uploaded, qint64 downloaded, qint64 seedingSeconds) const;

Q_SIGNALS:
    void uploadEnabledChanged();
    void ratioLimitChanged();
    void timeLimitMinutesChanged();

private:
    bool uploadEnabled_ = false;
    double ratioLimit_ = kDefaultRatioLimit;
    int timeLimitMinutes_ = 0;
};

class TransferSettingsStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool playNewTorrentsImmediately READ playNewTorrentsImmediately WRITE
                   setPlayNewTorrentsImmediately NOTIFY playNewTorrentsImmediatelyChanged)
    Q_PROPERTY(bool backgroundDownloadsEnabled READ backgroundDownloadsEnabled WRITE
                   setBackgroundDownloadsEnabled NOTIFY backgroundDownloadsEnabledChanged)

public:
    explicit TransferSettingsStore(QObject* parent = nullptr);

    std::function<void()> onChange;

    bool playNewTorrentsImmediately() const { return playNewTorrentsImmediately_; }
    bool backgroundDownloadsEnabled() const { return backgroundDownloadsEnabled_; }
    void setPlayNewTorrentsImmediately(bool value);
    void setBackgroundDownloadsEnabled(bool value);

Q_SIGNALS:
    void playNewTorrentsImmediatelyChanged();
    void backgroundDownloadsEnabledChanged();

private:
    bool playNewTorrentsImmediately_ = false;
    bool backgroundDownloadsEnabled_ = false;
};

// Which folder new torrents are saved to. On this platform the stored bookmark is the folder's
// absolute path (UTF-8): there is no sandbox, so a bookmark is never stale and access is granted
// whenever the folder exists; a folder that no longer exists falls back to the default, and the
// bookmark stays until the user chooses again or resets.
class DownloadFolderStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString chosenURL READ chosenPath NOTIFY chosenURLChanged)

public:
    static inline const QString defaultsKey = QStringLiteral("downloadFolderBookmark");

    explicit DownloadFolderStore(QObject* parent = nullptr);

    const std::optional<QString>& chosenURL() const { return chosenURL_; }
    QString chosenPath() const { return chosenURL_.value_or(QString()); }
    const QString& defaultURL() const { return defaultURL_; }
    // The folder in use: the chosen one when present, else the default.
    QString folderInUse() const { return chosenURL_.value_or(defaultURL_); }
    bool usesDefault() const { return !chosenURL_.has_value(); }

    void load();
    // Shows the folder chooser; false when cancelled or the folder cannot be used.
    bool choose();
    void reset();

Q_SIGNALS:
    void chosenURLChanged();

private:
    void setChosen(std::optional<QString> value);

    std::optional<QString> chosenURL_;
    std::optional<QString> accessedURL_;
    QString defaultURL_;
};

}  // namespace rillow
