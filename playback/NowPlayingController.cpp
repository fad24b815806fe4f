#include "playback/NowPlayingController.h"

namespace rillow {

namespace {
constexpr RemoteCommand kHandled[] = {
    RemoteCommand::togglePlayPause,        RemoteCommand::play,          RemoteCommand::pause,
    RemoteCommand::changePlaybackPosition, RemoteCommand::previousTrack, RemoteCommand::nextTrack};
constexpr RemoteCommand kDisabled[] = {RemoteCommand::seekForward, RemoteCommand::seekBackward,
                                       RemoteCommand::skipForward, RemoteCommand::skipBackward,
                                       RemoteCommand::stop};
}  // namespace

NowPlayingController::NowPlayingController(MediaControlCenter& center)
    : center_(center), self_(std::make_shared<NowPlayingController*>(this)) {}

NowPlayingController::~NowPlayingController() {
    *self_ = nullptr;
    clear();
}

void NowPlayingController::registerCommands() {
    if (registered_) return;
    registered_ = true;
    for (RemoteCommand command : {RemoteCommand::togglePlayPause, RemoteCommand::play,
                                  RemoteCommand::pause, RemoteCommand::changePlaybackPosition})
        center_.setEnabled(command, true);
    center_.setEnabled(RemoteCommand::previousTrack, false);
    center_.setEnabled(RemoteCommand::nextTrack, false);

    std::weak_ptr<NowPlayingController*> weak = self_;
    auto call = [weak](auto member) {
        return [weak, member](const RemoteEvent&) {
            auto self = weak.lock();
            if (self && *self && (*self)->*member) ((*self)->*member)();
            return CommandStatus::success;
        };
    };
    center_.addTarget(RemoteCommand::togglePlayPause, owner(),
                      call(&NowPlayingController::onTogglePlayPause));
    center_.addTarget(RemoteCommand::play, owner(), call(&NowPlayingController::onPlay));
    center_.addTarget(RemoteCommand::pause, owner(), call(&NowPlayingController::onPause));
    center_.addTarget(RemoteCommand::previousTrack, owner(),
                      call(&NowPlayingController::onPrevious));
    center_.addTarget(RemoteCommand::nextTrack, owner(), call(&NowPlayingController::onNext));
    center_.addTarget(RemoteCommand::changePlaybackPosition, owner(), [weak](const RemoteEvent& e) {
        if (e.command != RemoteCommand::changePlaybackPosition || !e.positionTime)
            return CommandStatus::commandFailed;
        auto self = weak.lock();
        if (self && *self && (*self)->onSeek) (*self)->onSeek(*e.positionTime);
        return CommandStatus::success;
    });
    for (RemoteCommand command : kDisabled) center_.setEnabled(command, false);
}

void NowPlayingController::setPlaylistCommandsEnabled(bool enabled) {
    center_.setEnabled(RemoteCommand::previousTrack, enabled);
    center_.setEnabled(RemoteCommand::nextTrack, enabled);
}

void NowPlayingController::update(const QString& title, bool isPaused, double duration,
                                  double position) {
    NowPlayingInfo info;
    info.title = title;
    info.elapsedPlaybackTime = position;
    info.playbackRate = isPaused ? 0.0 : 1.0;
    if (duration > 0) info.playbackDuration = duration;
    center_.setNowPlayingInfo(owner(), info);
    center_.setPlaybackState(isPaused ? PlaybackState::paused : PlaybackState::playing);
}

void NowPlayingController::clear() {
    if (!registered_) return;
    registered_ = false;
    for (RemoteCommand command : kHandled) center_.removeTargets(command, owner());
    // Another player that published since keeps its information.
    if (center_.activeOwner() != owner()) return;
    center_.setNowPlayingInfo(owner(), std::nullopt);
    center_.setPlaybackState(PlaybackState::stopped);
}

}  // namespace rillow
