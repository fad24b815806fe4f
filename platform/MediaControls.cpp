#include "platform/MediaControls.h"

#include "platform/MprisService.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <cmath>

namespace rillow {

namespace {
const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
}  // namespace

// The centre.

MediaControlCenter& MediaControlCenter::shared() {
    static MediaControlCenter* center = new MediaControlCenter();  // lives for the process
    return *center;
}

MediaControlCenter::MediaControlCenter() : mpris_(std::make_unique<MprisService>(*this)) {}

MediaControlCenter::~MediaControlCenter() = default;

void MediaControlCenter::setEnabled(RemoteCommand command, bool enabled) {
    enabled_[command] = enabled;
    mpris_->publish();
}

bool MediaControlCenter::isEnabled(RemoteCommand command) const {
    auto it = enabled_.find(command);
    return it != enabled_.end() && it->second;
}

void MediaControlCenter::addTarget(RemoteCommand command, quintptr owner, Handler handler) {
    targets_[command].push_back({owner, std::move(handler)});
}

void MediaControlCenter::removeTargets(RemoteCommand command, quintptr owner) {
    auto& list = targets_[command];
    std::erase_if(list, [owner](const Target& t) { return t.owner == owner; });
}

bool MediaControlCenter::hasTargets(RemoteCommand command) const {
    auto it = targets_.find(command);
    return it != targets_.end() && !it->second.empty();
}

void MediaControlCenter::setNowPlayingInfo(quintptr owner, std::optional<NowPlayingInfo> info) {
    if (info) activeOwner_ = owner;
    info_ = std::move(info);
    mpris_->publish();
}

void MediaControlCenter::setPlaybackState(PlaybackState state) {
    state_ = state;
    mpris_->publish();
}

CommandStatus MediaControlCenter::dispatch(const RemoteEvent& event) {
    if (!isEnabled(event.command)) return CommandStatus::commandFailed;
    auto it = targets_.find(event.command);
    if (it == targets_.end() || it->second.empty()) return CommandStatus::commandFailed;
    const Target* chosen = &it->second.back();
    for (const Target& target : it->second)
        if (target.owner == activeOwner_) chosen = &target;
    Handler handler = chosen->handler;  // the handler may remove targets
    return handler(event);
}

QString MediaControlCenter::busName() const {
    return mpris_->busName();
}

// MPRIS.

MprisService::MprisService(MediaControlCenter& center)
    : center_(center), bus_(QDBusConnection::sessionBus()) {
    if (!bus_.isConnected()) return;
    new MprisRootAdaptor(this);
    new MprisPlayerAdaptor(this, *this);
    if (!bus_.registerObject(kObjectPath, this)) return;
    const QString base = QStringLiteral("org.mpris.MediaPlayer2.rillow");
    // A second Rillow process takes an instance name, as MPRIS allows.
    for (const QString& name :
         {base, base + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid())}) {
        if (bus_.registerService(name)) {
            busName_ = name;
            break;
        }
    }
    published_ = snapshot();
}

MprisService::~MprisService() {
    if (!busName_.isEmpty()) bus_.unregisterService(busName_);
}

QVariantMap MprisService::metadata() const {
    QVariantMap map;
    const auto& info = center_.nowPlayingInfo();
    if (!info) return map;
    map.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(
                   QDBusObjectPath(QStringLiteral("/org/rillow/track/%1").arg(trackNumber_))));
    map.insert(QStringLiteral("xesam:title"), info->title);
    if (info->playbackDuration && *info->playbackDuration > 0)
        map.insert(QStringLiteral("mpris:length"),
                   qlonglong(std::llround(*info->playbackDuration * 1e6)));
    return map;
}

QString MprisService::playbackStatus() const {
    switch (center_.playbackState()) {
        case PlaybackState::playing: return QStringLiteral("Playing");
        case PlaybackState::paused: return QStringLiteral("Paused");
        case PlaybackState::stopped: return QStringLiteral("Stopped");
    }
    return QStringLiteral("Stopped");
}

qlonglong MprisService::positionMicroseconds() const {
    const auto& info = center_.nowPlayingInfo();
    return info ? qlonglong(std::llround(info->elapsedPlaybackTime * 1e6)) : 0;
}

bool MprisService::canGoNext() const {
    return center_.isEnabled(RemoteCommand::nextTrack);
}
bool MprisService::canGoPrevious() const {
    return center_.isEnabled(RemoteCommand::previousTrack);
}
bool MprisService::canPlay() const {
    return center_.isEnabled(RemoteCommand::play);
}
bool MprisService::canPause() const {
    return center_.isEnabled(RemoteCommand::pause);
}
bool MprisService::canSeek() const {
    return center_.isEnabled(RemoteCommand::changePlaybackPosition);
}

QVariantMap MprisService::snapshot() const {
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("CanGoNext"), canGoNext()},
            {QStringLiteral("CanGoPrevious"), canGoPrevious()},
            {QStringLiteral("CanPlay"), canPlay()},
            {QStringLiteral("CanPause"), canPause()},
            {QStringLiteral("CanSeek"), canSeek()}};
}

void MprisService::publish() {
    const auto& info = center_.nowPlayingInfo();
    const QString title = info ? info->title : QString();
    if (title != trackTitle_) {
        trackTitle_ = title;
        ++trackNumber_;
    }
    if (busName_.isEmpty()) return;
    const QVariantMap now = snapshot();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (published_.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    published_ = now;
    if (changed.isEmpty()) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    bus_.send(signal);
}

void MprisService::command(RemoteCommand command) {
    center_.dispatch({command, std::nullopt});
}

void MprisService::seekBy(qlonglong offsetMicroseconds) {
    const auto& info = center_.nowPlayingInfo();
    const double base = info ? info->elapsedPlaybackTime : 0;
    center_.dispatch({RemoteCommand::changePlaybackPosition,
                      std::max(0.0, base + double(offsetMicroseconds) / 1e6)});
}

void MprisService::setPosition(const QDBusObjectPath& track, qlonglong positionMicroseconds) {
    // MPRIS: a stale track id or a negative position is ignored.
    if (positionMicroseconds < 0) return;
    const QVariant current = metadata().value(QStringLiteral("mpris:trackid"));
    if (!current.isValid() || current.value<QDBusObjectPath>() != track) return;
    center_.dispatch({RemoteCommand::changePlaybackPosition, double(positionMicroseconds) / 1e6});
}

}  // namespace rillow
