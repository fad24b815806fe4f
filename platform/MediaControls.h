#pragma once
// The system's media controls: a process-wide command centre and now-playing information,
// published over MPRIS (org.mpris.MediaPlayer2 on the session D-Bus) so that media keys, desktop
// shells and `playerctl` reach the player.
//
// Main thread only. Several players may share the centre, as with a system-wide now-playing
// display: the most recent `setNowPlayingInfo` wins, and a remote command goes to the targets of
// the player that published last (else to the most recently added target). Without a session
// bus the centre still works in-process and publishes nothing.

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace rillow {

enum class RemoteCommand {
    togglePlayPause,
    play,
    pause,
    changePlaybackPosition,
    previousTrack,
    nextTrack,
    seekForward,
    seekBackward,
    skipForward,
    skipBackward,
    stop,
};

struct RemoteEvent {
    RemoteCommand command = RemoteCommand::play;
    std::optional<double> positionTime;  // seconds; only on a change-playback-position event
};

enum class CommandStatus { success = 0, commandFailed = 200 };
enum class PlaybackState { playing = 1, paused = 2, stopped = 3 };

struct NowPlayingInfo {
    QString title;
    int mediaType = 2;  // video
    double elapsedPlaybackTime = 0;
    double playbackRate = 0;
    std::optional<double> playbackDuration;  // absent while unknown
    bool operator==(const NowPlayingInfo&) const = default;
};

class MprisService;

class MediaControlCenter {
public:
    using Handler = std::function<CommandStatus(const RemoteEvent&)>;

    static MediaControlCenter& shared();

    MediaControlCenter();
    ~MediaControlCenter();

    void setEnabled(RemoteCommand command, bool enabled);
    bool isEnabled(RemoteCommand command) const;

    // `owner` identifies the player (any stable non-zero number, e.g. its address).
    void addTarget(RemoteCommand command, quintptr owner, Handler handler);
    void removeTargets(RemoteCommand command, quintptr owner);
    bool hasTargets(RemoteCommand command) const;

    void setNowPlayingInfo(quintptr owner, std::optional<NowPlayingInfo> info);
    void setPlaybackState(PlaybackState state);
    const std::optional<NowPlayingInfo>& nowPlayingInfo() const { return info_; }
    PlaybackState playbackState() const { return state_; }
    // The player that published last.
    quintptr activeOwner() const { return activeOwner_; }

    // Delivers a command as the system would; `commandFailed` when it is disabled or has no
    // target.
    CommandStatus dispatch(const RemoteEvent& event);

    // The D-Bus name the centre published under, or empty when there is no session bus.
    QString busName() const;

private:
    struct Target {
        quintptr owner;
        Handler handler;
    };
    std::map<RemoteCommand, bool> enabled_;
    std::map<RemoteCommand, std::vector<Target>> targets_;
    std::optional<NowPlayingInfo> info_;
    PlaybackState state_ = PlaybackState::stopped;
    quintptr activeOwner_ = 0;
    std::unique_ptr<MprisService> mpris_;
};

}  // namespace rillow
