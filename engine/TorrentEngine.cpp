#include "engine/TorrentEngine.h"

#include "platform/AppFolders.h"
#include "platform/AtomicFile.h"
#include "platform/UserDefaults.h"
#include "search/HistoryStore.h"

#include <QPointer>
#include <chrono>

namespace rillow {

namespace {

std::optional<QString> toQt(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return QString::fromStdString(*text);
}

}  // namespace

AlertEvent AlertEvent::from(const RTAlert& alert) {
    AlertEvent event;
    event.type = alert.type;
    event.infoHash = toQt(alert.infoHash);
    event.downloadRate = alert.downloadRate;
    event.uploadRate = alert.uploadRate;
    event.numPeers = static_cast<int>(alert.numPeers);
    event.numSeeds = static_cast<int>(alert.numSeeds);
    event.progress = alert.progress;
    event.allTimeUpload = alert.allTimeUpload;
    event.allTimeDownload = alert.allTimeDownload;
    event.seedingSeconds = alert.seedingSeconds;
    event.errorMessage = toQt(alert.errorMessage);
    return event;
}

QString TorrentEngine::baseFolder() {
    const auto support = applicationSupportFolder();
    return joinPath(support ? *support : temporaryFolder(), QStringLiteral("Rillow"));
}

QString TorrentEngine::stateFolder() {
    return joinPath(baseFolder(), QStringLiteral("State"));
}

TorrentEngine::TorrentEngine(const QString& downloadFolder, SeedSettingsStore& seedSettings,
                             TransferSettingsStore& transferSettings, HistoryStore& history,
                             QObject* parent)
    : QObject(parent),
      seedSettings_(seedSettings),
      transferSettings_(transferSettings),
      history_(history) {
    const QString state = stateFolder();
    makeFolders(downloadFolder);
    makeFolders(state);
    session_ = std::make_shared<RTSession>(downloadFolder.toStdString(), state.toStdString());
    session_->applySeedingEnabled(seedSettings_.uploadEnabled());

    QPointer<TorrentEngine> weak(this);
    seedSettings_.onChange = [weak] {
        if (!weak) return;
        weak->session_->applySeedingEnabled(weak->seedSettings_.uploadEnabled());
        weak->reevaluate();
    };
    transferSettings_.onChange = [weak] {
        if (weak) weak->reevaluate();
    };

    events_ = std::make_unique<EventStream<AlertEvent>>([weak](AlertEvent event) {
        if (weak) weak->handleEvent(event);
    });
    session_->setAlertHandler(
        [sink = events_->sink()](const RTAlert& alert) { sink.push(AlertEvent::from(alert)); });

    QStringList restored;
    for (const auto& handle : session_->restoreSavedTorrents()) {
        const QString key = QString::fromStdString(handle->infoHash()).toLower();
        if (key.isEmpty() || items_.count(key)) continue;
        if (!(seedSettings_.uploadEnabled() && handle->isSeed())) handle->pause();
        items_[key] = std::make_shared<TorrentItem>(handle);
        restored.append(key);
        activeState_[key] = false;
    }
    QStringList order;
    for (const QString& key :
         UserDefaults::standard().stringList(orderDefaultsKey).value_or(QStringList()))
        if (items_.count(key) && !order.contains(key)) order.append(key);
    for (const QString& key : restored)
        if (!order.contains(key)) order.append(key);
    order_ = order;
    storeOrder();
    reevaluate();

    snapshotTask_ = startTask(this, [weak](CancelToken token) -> QCoro::Task<> {
        while (weak && !token.isCancelled()) {
            weak->pollSnapshot();
            if (!co_await sleepFor(std::chrono::milliseconds(kSnapshotIntervalMs), token)) break;
        }
    });
    autosaveTask_ = startTask(this, [weak](CancelToken token) -> QCoro::Task<> {
        while (weak) {
            const bool slept =
                co_await sleepFor(std::chrono::milliseconds(kAutosaveIntervalMs), token);
            // A sleep ended by cancellation still saves once before the task ends.
            if (weak && weak->session_) weak->session_->requestResumeDataForAllTorrents();
            if (!slept) break;
        }
    });
}

TorrentEngine::~TorrentEngine() {
    shutdown();
}

void TorrentEngine::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    snapshotTask_.cancel();
    autosaveTask_.cancel();
    session_->setAlertHandler({});
    events_.reset();
    session_->shutdown();
}

std::shared_ptr<TorrentItem> TorrentEngine::item(const QString& infoHash) const {
    auto it = items_.find(infoHash.toLower());
    return it == items_.end() ? nullptr : it->second;
}

std::optional<bool> TorrentEngine::activeState(const QString& infoHash) const {
    auto it = activeState_.find(infoHash.toLower());
    if (it == activeState_.end()) return std::nullopt;
    return it->second;
}

QList<std::shared_ptr<TorrentItem>> TorrentEngine::orderedItems() const {
    QList<std::shared_ptr<TorrentItem>> list;
    for (auto it = order_.crbegin(); it != order_.crend(); ++it)
        if (auto found = items_.find(*it); found != items_.end()) list.append(found->second);
    return list;
}

void TorrentEngine::storeOrder() {
    UserDefaults::standard().setStringList(orderDefaultsKey, order_);
}

std::shared_ptr<TorrentItem> TorrentEngine::adopt(const std::shared_ptr<RTHandle>& handle,
                                                  const std::optional<QString>& magnet) {
    if (!handle) return nullptr;
    const QString key = QString::fromStdString(handle->infoHash()).toLower();
    if (key.isEmpty()) return nullptr;
    if (auto existing = items_.find(key); existing != items_.end()) return existing->second;
    auto created = std::make_shared<TorrentItem>(handle);
    items_[key] = created;
    order_.append(key);
    storeOrder();
    Q_EMIT itemsChanged();
    Q_EMIT orderChanged();
    history_.record(key, created->name(), magnet);
    reevaluate();
    session_->postTorrentUpdates();
    return created;
}

std::shared_ptr<TorrentItem> TorrentEngine::addMagnet(const QString& text) {
    if (shutDown_) return nullptr;
    return adopt(session_->addMagnet(text.toStdString()), text);
}

std::shared_ptr<TorrentItem> TorrentEngine::addTorrentData(const QByteArray& bytes) {
    if (shutDown_) return nullptr;
    return adopt(session_->addTorrentData(std::span<const char>(bytes.constData(), bytes.size())),
                 std::nullopt);
}

void TorrentEngine::remove(const std::shared_ptr<TorrentItem>& target) {
    if (!target || shutDown_) return;
    const QString key = target->infoHash().toLower();
    session_->removeTorrent(target->handle());
    const bool removed = items_.erase(key) > 0;
    const qsizetype dropped = order_.removeAll(key);
    activeState_.erase(key);
    storeOrder();
    if (removed) Q_EMIT itemsChanged();
    if (dropped > 0) Q_EMIT orderChanged();
    if (playbackFocus_ && playbackFocus_->infoHash == key) {
        playbackFocus_.reset();
        focusedFileIsComplete_ = false;
        Q_EMIT playbackFocusChanged();
    }
    reevaluate();
}

void TorrentEngine::promote(const std::shared_ptr<TorrentItem>& target) {
    if (!target) return;
    const QString key = target->infoHash().toLower();
    if (!items_.count(key) || (!order_.isEmpty() && order_.last() == key)) return;
    order_.removeAll(key);
    order_.append(key);
    storeOrder();
    Q_EMIT orderChanged();
}

void TorrentEngine::setPlaybackFocus(const std::optional<QString>& infoHash, int fileIndex) {
    std::optional<PlaybackFocus> focus;
    if (infoHash) focus = PlaybackFocus{infoHash->toLower(), fileIndex};
    if (focus == playbackFocus_) return;
    const std::optional<PlaybackFocus> old = playbackFocus_;
    playbackFocus_ = focus;
    focusedFileIsComplete_ = false;
    Q_EMIT playbackFocusChanged();
    if (old && (!focus || focus->infoHash != old->infoHash)) {
        // Undo the piece reader's priorities on the torrent left behind.
        if (auto previous = items_.find(old->infoHash); previous != items_.end())
            previous->second->handle()->downloadAllFiles();
    }
    reevaluate();
}

void TorrentEngine::handleEvent(const AlertEvent& event) {
    if (!event.infoHash) return;
    auto found = items_.find(event.infoHash->toLower());
    if (found == items_.end()) return;
    TorrentItem& target = *found->second;
    switch (event.type) {
        case RTAlertTypeTorrentAdded:
        case RTAlertTypeMetadataReceived:
            target.refresh();
            history_.rename(target.infoHash(), target.name());
            reevaluate();
            break;
        case RTAlertTypeStatus:
            target.setDownloadRate(event.downloadRate);
            target.setUploadRate(event.uploadRate);
            target.setNumPeers(event.numPeers);
            target.setNumSeeds(event.numSeeds);
            target.setProgress(event.progress);
            target.setAllTimeUpload(event.allTimeUpload);
            target.setAllTimeDownload(event.allTimeDownload);
            target.setSeedingSeconds(event.seedingSeconds);
            // Status events come in bursts, one per torrent each second; one re-evaluation after
            // the burst decides the same as one per event at a fraction of the queries.
            scheduleReevaluation();
            break;
        case RTAlertTypeTorrentFinished:
            target.setProgress(1);
            target.setDownloadRate(0);
            reevaluate();
            break;
        case RTAlertTypeTorrentError:
        case RTAlertTypeFileError:
            if (event.errorMessage) target.setLastError(*event.errorMessage);
            break;
        default: break;
    }
}

void TorrentEngine::scheduleReevaluation() {
    if (reevaluationPending_) return;
    reevaluationPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            reevaluationPending_ = false;
            reevaluate();
        },
        Qt::QueuedConnection);
}

void TorrentEngine::pollSnapshot() {
    if (shutDown_) return;
    // Each bitmap costs a round trip to libtorrent's network thread. A torrent the policy paused
    // gains no pieces, so it is looked at once a second instead of ten times: with hundreds of
    // paused torrents in the library that keeps the poll's cost near that of the running ones.
    const bool everyone = ++pollRound_ % kPausedPollDivisor == 0;
    QByteArray buffer;
    for (auto& [key, target] : items_) {
        if (!target->hasMetadata() || target->pieceCount() < 1) continue;
        const auto state = activeState_.find(key);
        const bool paused = state != activeState_.end() && !state->second;
        if (paused && !everyone && target->haveBitmap().size() == target->pieceCount()) continue;
        buffer.fill(0, target->pieceCount());
        target->handle()->copyHaveBitmapInto(reinterpret_cast<std::uint8_t*>(buffer.data()),
                                             buffer.size());
        target->setHaveBitmap(buffer);
    }
    checkFocusedFile();
}

bool TorrentEngine::isFileComplete(const TorrentItem& target, int fileIndex) const {
    if (target.handle()->isSeed()) return true;
    if (!target.hasMetadata()) return false;
    const qint64 first = target.handle()->pieceIndexForFile(fileIndex, 0);
    const qint64 last = target.lastPieceIndex(fileIndex);
    const QByteArray& bitmap = target.haveBitmap();
    if (last < first || last >= bitmap.size()) return false;
    for (qint64 piece = first; piece <= last; ++piece)
        if (bitmap[piece] == 0) return false;
    return true;
}

void TorrentEngine::checkFocusedFile() {
    if (focusedFileIsComplete_ || !playbackFocus_) return;
    auto found = items_.find(playbackFocus_->infoHash);
    if (found == items_.end()) return;
    if (!isFileComplete(*found->second, playbackFocus_->fileIndex)) return;
    focusedFileIsComplete_ = true;
    reevaluate();
}

bool TorrentEngine::shouldRun(const TorrentItem& target) const {
    if (!target.hasMetadata()) return true;  // so that the metadata can arrive
    if (target.handle()->isSeed())
        return seedSettings_.uploadEnabled() &&
               !seedSettings_.limitReached(target.allTimeUpload(), target.allTimeDownload(),
                                           target.seedingSeconds());
    const bool focused = playbackFocus_ && playbackFocus_->infoHash == target.infoHash();
    if (transferSettings_.backgroundDownloadsEnabled() && !focused)
        return !playbackFocus_ || focusedFileIsComplete_;
    return focused;
}

void TorrentEngine::reevaluate() {
    if (shutDown_) return;
    std::map<QString, bool> decisions;
    bool any = false;
    for (const auto& [key, target] : items_) {
        const bool run = shouldRun(*target);
        decisions[key] = run;
        any = any || run;
    }
    if (any) session_->resume();
    for (const auto& [key, run] : decisions) {
        auto state = activeState_.find(key);
        if (state != activeState_.end() && state->second == run) continue;
        activeState_[key] = run;
        if (run)
            items_[key]->handle()->resume();
        else
            items_[key]->handle()->pause();
    }
    if (!any) session_->pause();
}

}  // namespace rillow
