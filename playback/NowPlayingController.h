#pragma once
// Connects one player to the system's media controls: remote commands in, now-playing
// information out. Main thread only; owned by the player model.

#include "platform/MediaControls.h"

#include <QString>
#include <functional>

namespace rillow {

class NowPlayingController {
public:
    explicit NowPlayingController(MediaControlCenter& center = MediaControlCenter::shared());
    ~NowPlayingController();
    NowPlayingController(const NowPlayingController&) = delete;
    NowPlayingController& operator=(const NowPlayingController&) = delete;

    std::function<void()> onTogglePlayPause;
    std::function<void()> onPlay;
    std::function<void()> onPause;
    std::function<void(double seconds)> onSeek;
    std::function<void()> onPrevious;
    std::function<void()> onNext;

    bool registered() const { return registered_; }

    // Installs the command handlers once.
    void registerCommands();
    // Previous and next are enabled only while a playlist plays.
    void setPlaylistCommandsEnabled(bool enabled);
    void update(const QString& title, bool isPaused, double duration, double position);
    // Removes the handlers and the information; only when registered.
    void clear();

private:
    quintptr owner() const { return reinterpret_cast<quintptr>(this); }
    MediaControlCenter& center_;
    bool registered_ = false;
    // Shared with the handlers, which outlive nothing but must not touch a destroyed controller.
    std::shared_ptr<NowPlayingController*> self_;
};

}  // namespace rillow
