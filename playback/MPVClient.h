#pragma once
// MPVClient: one libmpv player handle for one player window.
//
// It creates and configures the handle, observes the properties the player model needs, turns
// mpv's events into two callbacks, sends commands, reads the track list, owns the OpenGL render
// context the video renderer draws through, and destroys everything in a fixed order. It keeps
// the stream protocol object alive as long as the handle, because mpv calls back into it.
//
// Threads:
// - `start`: once, on the owner's thread (the main thread), before anything else.
// - Synchronous calls (`command`, `seekToFraction`, the property setters and getters,
//   `trackList`) run mpv's request on the calling thread and wait for mpv's core to answer.
//   The core answers quickly, but a request it can only serve after a blocked stream open or
//   read would wait with it; so the main thread should prefer the `...Async` variants, which
//   queue the request and return at once (the reply arrives as an event).
// - `queue` ("app.rillow.mpv") runs every event drain and the final destroy; `onProperty` and
//   `onEvent` fire there. Receivers hand the values to their own thread and return quickly.
// - The render calls (`createRenderContext`, `render`, `freeRenderContext`) belong to the
//   renderer's thread, with the OpenGL context current that the render context was (or is to
//   be) created with. They take `renderLock`. `videoSize` and `hasRenderContext` never call
//   into mpv and suit that thread too (mpv forbids its ordinary API on a render thread).
// - `onRenderUpdate` fires on one of mpv's threads; it must only schedule work.
// - `shutdown`: from a background thread (it waits for mpv to quit), never from a callback.
// The callbacks are set before `start` (`onRenderUpdate` before `createRenderContext`); setting
// them later is safe, a change is seen by the next notification.
//
// Ownership: the client owns the handle, the render context and the queue. The destructor runs
// `shutdown` when it has not run yet; the client must not be destroyed from its own callbacks.

#include "playback/MPVTrack.h"
#include "playback/MPVValue.h"
#include "playback/SerialQueue.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <utility>

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;

namespace rillow {

class RTStreamProtocol;

class MPVClient {
public:
    using PropertyCallback = std::function<void(const QString& name, const MPVValue& value)>;
    using EventCallback = std::function<void(uint32_t eventID)>;
    using RenderUpdateCallback = std::function<void()>;

    MPVClient();
    ~MPVClient();
    MPVClient(const MPVClient&) = delete;
    MPVClient& operator=(const MPVClient&) = delete;

    // Creates and initialises the handle with the fixed option set; `extraOptions` (name, value)
    // follow it before initialisation (tests send audio to the null device with ("ao", "null")).
    // A failed mpv_create leaves the client inert: every operation is then a no-op.
    void start(const QList<std::pair<QString, QString>>& extraOptions = {});

    // The live handle, null before a successful `start` and after `shutdown`. For the owner's
    // thread (registering the stream protocol); valid until `shutdown` begins.
    mpv_handle* handle() const { return _mpv.load(); }

    // Keeps the stream protocol registered on this handle alive until the handle is destroyed.
    void setStreamProtocol(std::shared_ptr<RTStreamProtocol> protocol);
    std::shared_ptr<RTStreamProtocol> streamProtocol() const;

    void setOnProperty(PropertyCallback callback);
    void setOnEvent(EventCallback callback);
    void setOnRenderUpdate(RenderUpdateCallback callback);

    // Commands: every argument is passed as a separate string; results are not examined.
    void command(const QStringList& arguments);
    void commandAsync(const QStringList& arguments);
    // "seek", clamp(fraction × 100, 0, 100), "absolute-percent", "exact"; a NaN fraction sends
    // nothing.
    void seekToFraction(double fraction);
    void seekToFractionAsync(double fraction);
    // The command `seekToFraction` sends; empty for a NaN fraction.
    static QStringList seekToFractionCommand(double fraction);

    // Property sets. Flag and double results are ignored; a failing string set is logged with
    // the property name as label (for the async variant when mpv's reply arrives).
    void setFlagProperty(const QString& name, bool value);
    void setDoubleProperty(const QString& name, double value);
    void setStringProperty(const QString& name, const QString& value);
    void setFlagPropertyAsync(const QString& name, bool value);
    void setDoublePropertyAsync(const QString& name, double value);
    void setStringPropertyAsync(const QString& name, const QString& value);

    // Synchronous reads; absent without a handle or when mpv has no such value.
    std::optional<double> doubleProperty(const QString& name) const;
    std::optional<int64_t> integerProperty(const QString& name) const;
    std::optional<bool> flagProperty(const QString& name) const;
    std::optional<QString> stringProperty(const QString& name) const;

    // mpv's "track-list"; empty on any failure.
    std::vector<MPVTrack> trackList() const;

    // The displayed video size ("dwidth", "dheight"); absent unless both are at least 1.
    // mpv reports the two as observed properties, so this never calls into mpv.
    std::optional<std::pair<int64_t, int64_t>> videoSize() const;

    // Creates the OpenGL render context when there is none, resolving GL entry points through
    // the current context's get-proc-address; true when a context exists afterwards.
    bool createRenderContext();
    bool hasRenderContext() const;
    // Renders the current frame into framebuffer `fbo` (no vertical flip); nothing without a
    // render context.
    void render(int fbo, int width, int height);
    // Clears the update callback and frees the render context (the renderer, when it stops).
    void freeRenderContext();

    // Tears down in order: wakeup callback off, render context freed, handle cleared, then on
    // `queue` mpv_terminate_destroy, then the stream protocol released. Blocks until mpv has
    // quit; a second call does nothing.
    void shutdown();

    // Splits `codecs` on ",", drops empty pieces and every "av1" piece and joins the rest with
    // ","; absent when no piece is exactly "av1" (then nothing is to be written back).
    static std::optional<QString> withoutAV1(const QString& codecs);

private:
    static void wakeup(void* context);
    static void renderUpdate(void* context);
    void drain();
    void dispatch(const mpv_event& event);
    void adjustAV1HardwareDecode(mpv_handle* mpv);
    void check(int result, const QString& label) const;
    template <class Call>
    auto withHandle(Call&& call) const -> decltype(call(static_cast<mpv_handle*>(nullptr)));

    // Guards the handle's life: every call into mpv holds it shared; `shutdown` takes it
    // exclusively to take the handle away, so no call is still using the handle it destroys.
    // Never held while a callback runs.
    mutable std::shared_mutex _handleLock;
    std::atomic<mpv_handle*> _mpv{nullptr};  // written under `_handleLock` (exclusive)
    bool _started = false;                   // guarded by `_handleLock` (exclusive)

    SerialQueue _queue{"app.rillow.mpv"};
    std::atomic<bool> _drainScheduled{false};
    bool _shutdownDelivered = false;  // queue only

    // Guarded by `_protocolLock`.
    mutable std::mutex _protocolLock;
    std::shared_ptr<RTStreamProtocol> _streamProtocol;

    // Guarded by `renderLock`.
    mutable std::mutex renderLock;
    mpv_render_context* _renderContext = nullptr;

    // Guarded by `_callbackLock`; copied out before a call, never called under the lock.
    mutable std::mutex _callbackLock;
    PropertyCallback _onProperty;
    EventCallback _onEvent;
    RenderUpdateCallback _onRenderUpdate;

    // The last observed "dwidth" and "dheight" (0 when unknown).
    std::atomic<int64_t> _displayWidth{0};
    std::atomic<int64_t> _displayHeight{0};

    // Labels of async string sets awaiting mpv's reply, by reply id. Guarded by `_replyLock`.
    std::mutex _replyLock;
    std::map<uint64_t, QString> _pendingStringSets;
    std::atomic<uint64_t> _nextReplyID{1};
};

}  // namespace rillow
