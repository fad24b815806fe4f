#pragma once
// The main-thread owner of everything torrent-related: the session, the library of items and
// its order, history records, alert handling, the piece poll, periodic resume data and the
// transfer policy that decides which torrents may run.
//
// Main thread only. The one cross-thread step is the session's alert handler, which runs on
// the alert thread and only pushes a copy of each alert into an unbounded stream drained here
// in arrival order. Tasks and settings hooks hold the engine weakly. One engine per process,
// owned by the application model; it shares items with views and players and the session with
// stream protocols.
//
// Status updates: the session asks libtorrent for them once a second by itself, so rates,
// progress, all-time totals and seeding time (and with them the seeding limits) stay current.

#include "engine/EngineSettings.h"
#include "engine/RTAlert.h"
#include "engine/RTSession.h"
#include "engine/TorrentItem.h"
#include "platform/EventStream.h"
#include "platform/Tasks.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>

namespace rillow {

class HistoryStore;

struct PlaybackFocus {
    QString infoHash;
    int fileIndex = 0;
    bool operator==(const PlaybackFocus&) const = default;
};

// The main-thread copy of one alert (the piece index is not copied).
struct AlertEvent {
    RTAlertType type = RTAlertType(0);
    std::optional<QString> infoHash;
    qint64 downloadRate = 0;
    qint64 uploadRate = 0;
    int numPeers = 0;
    int numSeeds = 0;
    double progress = 0;
    qint64 allTimeUpload = 0;
    qint64 allTimeDownload = 0;
    qint64 seedingSeconds = 0;
    std::optional<QString> errorMessage;

    static AlertEvent from(const RTAlert& alert);
};

class TorrentEngine : public QObject {
    Q_OBJECT

public:
    static inline const QString orderDefaultsKey = QStringLiteral("libraryOrder");
    static constexpr int kSnapshotIntervalMs = 100;
    static constexpr int kAutosaveIntervalMs = 30'000;
    // Torrents the policy paused are polled on every tenth round only.
    static constexpr int kPausedPollDivisor = 10;

    // Creates the folders and the session, restores saved torrents (paused), restores the order,
    // decides what runs and starts the poll and autosave. Blocks on reading resume files.
    TorrentEngine(const QString& downloadFolder, SeedSettingsStore& seedSettings,
                  TransferSettingsStore& transferSettings, HistoryStore& history,
                  QObject* parent = nullptr);
    ~TorrentEngine() override;

    // "Rillow" under the application-support folder, else under the temporary folder; and its
    // "State" folder, which holds the resume files.
    static QString baseFolder();
    static QString stateFolder();

    const std::shared_ptr<RTSession>& session() const { return session_; }
    SeedSettingsStore& seedSettings() const { return seedSettings_; }
    TransferSettingsStore& transferSettings() const { return transferSettings_; }
    HistoryStore& history() const { return history_; }

    const std::map<QString, std::shared_ptr<TorrentItem>>& items() const { return items_; }
    std::shared_ptr<TorrentItem> item(const QString& infoHash) const;
    const QStringList& order() const { return order_; }
    QList<std::shared_ptr<TorrentItem>> orderedItems() const;  // newest first
    const std::optional<PlaybackFocus>& playbackFocus() const { return playbackFocus_; }
    bool focusedFileIsComplete() const { return focusedFileIsComplete_; }
    // The run state last applied to a torrent (true = resumed); nothing when never applied.
    std::optional<bool> activeState(const QString& infoHash) const;

    std::shared_ptr<TorrentItem> addMagnet(const QString& text);
    std::shared_ptr<TorrentItem> addTorrentData(const QByteArray& bytes);
    void remove(const std::shared_ptr<TorrentItem>& item);
    void promote(const std::shared_ptr<TorrentItem>& item);
    void setPlaybackFocus(const std::optional<QString>& infoHash, int fileIndex);

    // Every piece of the file present (the handle's own word for a complete torrent).
    bool isFileComplete(const TorrentItem& item, int fileIndex) const;
    // One alert, as the stream delivers it. Public so that recorded events can drive it.
    void handleEvent(const AlertEvent& event);
    // One round of the piece poll: bitmaps, then the focused file's completeness.
    void pollSnapshot();
    // Applies the run decision to every torrent.
    void reevaluate();

    // Stops the tasks and the session (which saves resume data, at most about 10 s).
    // Idempotent; also run by the destructor.
    void shutdown();

Q_SIGNALS:
    void itemsChanged();
    void orderChanged();
    void playbackFocusChanged();

private:
    std::shared_ptr<TorrentItem> adopt(const std::shared_ptr<RTHandle>& handle,
                                       const std::optional<QString>& magnet);
    bool shouldRun(const TorrentItem& item) const;
    void storeOrder();
    void checkFocusedFile();
    void scheduleReevaluation();

    SeedSettingsStore& seedSettings_;
    TransferSettingsStore& transferSettings_;
    HistoryStore& history_;
    std::shared_ptr<RTSession> session_;
    std::map<QString, std::shared_ptr<TorrentItem>> items_;
    QStringList order_;
    std::optional<PlaybackFocus> playbackFocus_;
    bool focusedFileIsComplete_ = false;
    std::map<QString, bool> activeState_;
    std::unique_ptr<EventStream<AlertEvent>> events_;
    TaskHandle snapshotTask_;
    TaskHandle autosaveTask_;
    bool shutDown_ = false;
    bool reevaluationPending_ = false;
    unsigned pollRound_ = 0;
};

}  // namespace rillow
