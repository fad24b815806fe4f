#include "playback/MPVClient.h"

#include "platform/HardwareDecode.h"
#include "platform/Log.h"

#include <EGL/egl.h>
#include <mpv/client.h>
#include <mpv/render_gl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <type_traits>
#include <vector>

namespace rillow {

namespace {

// Observed with this reply id, the display size is kept by the client for `videoSize` instead
// of being handed to `onProperty`.
constexpr uint64_t kInternalObservation = 1;

// A command's arguments as separately allocated zero-terminated strings plus the
// null-terminated pointer array mpv wants; both live as long as this object.
class CommandArguments {
public:
    explicit CommandArguments(const QStringList& arguments) {
        _storage.reserve(static_cast<size_t>(arguments.size()));
        for (const QString& argument : arguments) _storage.push_back(argument.toUtf8());
        for (const QByteArray& argument : _storage) _pointers.push_back(argument.constData());
        _pointers.push_back(nullptr);
    }
    const char** pointers() { return _pointers.data(); }

private:
    std::vector<QByteArray> _storage;
    std::vector<const char*> _pointers;
};

// The shortest decimal text that parses back to the same double.
QString decimal(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, static_cast<qsizetype>(result.ptr - buffer));
}

void* glProcAddress(void*, const char* name) {
    if (!name) return nullptr;
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}

// What a drain took out of one mpv event, so that the callbacks run without the handle lock.
struct Delivery {
    enum class Kind { nothing, event, property, displaySize };
    Kind kind = Kind::nothing;
    uint32_t eventID = 0;
    QString name;
    std::optional<MPVValue> value;
};

}  // namespace

MPVClient::MPVClient() = default;

MPVClient::~MPVClient() {
    shutdown();
    // Drains queued before the shutdown run now, while every member they touch still exists.
    _queue.sync([] {});
}

template <class Call>
auto MPVClient::withHandle(Call&& call) const -> decltype(call(static_cast<mpv_handle*>(nullptr))) {
    using Result = decltype(call(static_cast<mpv_handle*>(nullptr)));
    std::shared_lock guard(_handleLock);
    mpv_handle* mpv = _mpv.load();
    if (!mpv) {
        if constexpr (std::is_void_v<Result>)
            return;
        else
            return Result{};
    }
    return call(mpv);
}

void MPVClient::check(int result, const QString& label) const {
    if (result >= 0) return;
    logRaw(QStringLiteral("Rillow mpv error (%1): %2")
               .arg(label, QString::fromUtf8(mpv_error_string(result))));
}

void MPVClient::start(const QList<std::pair<QString, QString>>& extraOptions) {
    mpv_handle* mpv = nullptr;
    {
        std::unique_lock guard(_handleLock);
        if (_started) return;
        _started = true;
        mpv = mpv_create();
        if (!mpv) {
            log(QStringLiteral("mpv_create failed"));
            return;
        }
        _mpv.store(mpv);
    }
    // Held shared so that a (misplaced) concurrent shutdown waits for the start to finish.
    std::shared_lock guard(_handleLock);
    check(mpv_request_log_messages(mpv, "no"), QStringLiteral("request-log-messages"));
    QList<std::pair<QString, QString>> options = {
        {QStringLiteral("input-media-keys"), QStringLiteral("no")},
        {QStringLiteral("osd-bar"), QStringLiteral("no")},
        {QStringLiteral("vo"), QStringLiteral("libmpv")},
        {QStringLiteral("hwdec"), QStringLiteral("auto-safe")},
        {QStringLiteral("subs-match-os-language"), QStringLiteral("yes")},
        {QStringLiteral("subs-fallback"), QStringLiteral("yes")},
        {QStringLiteral("idle"), QStringLiteral("yes")},
        {QStringLiteral("force-window"), QStringLiteral("no")},
        {QStringLiteral("keep-open"), QStringLiteral("yes")},
    };
    options += extraOptions;
    for (const auto& [name, value] : options)
        check(mpv_set_option_string(mpv, name.toUtf8().constData(), value.toUtf8().constData()),
              name);
    check(mpv_initialize(mpv), QStringLiteral("initialize"));
    adjustAV1HardwareDecode(mpv);

    mpv_observe_property(mpv, 0, "duration", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, 0, "time-pos", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, 0, "pause", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv, 0, "paused-for-cache", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv, 0, "eof-reached", MPV_FORMAT_FLAG);
    mpv_observe_property(mpv, 0, "volume", MPV_FORMAT_DOUBLE);
    mpv_observe_property(mpv, kInternalObservation, "dwidth", MPV_FORMAT_INT64);
    mpv_observe_property(mpv, kInternalObservation, "dheight", MPV_FORMAT_INT64);

    mpv_set_wakeup_callback(mpv, &MPVClient::wakeup, this);
}

std::optional<QString> MPVClient::withoutAV1(const QString& codecs) {
    QStringList pieces = codecs.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (!pieces.contains(QStringLiteral("av1"))) return std::nullopt;
    pieces.removeAll(QStringLiteral("av1"));
    return pieces.join(QLatin1Char(','));
}

void MPVClient::adjustAV1HardwareDecode(mpv_handle* mpv) {
    // Without AV1 in hardware, mpv would try and fail hardware decoding for every AV1 file
    // before falling back; taking AV1 off the list makes it decode in software from the start.
    if (canDecodeAV1InHardware()) return;
    char* codecs = mpv_get_property_string(mpv, "hwdec-codecs");
    if (!codecs) return;
    const QString text = QString::fromUtf8(codecs);
    mpv_free(codecs);
    const std::optional<QString> rewritten = withoutAV1(text);
    if (!rewritten) return;
    check(mpv_set_property_string(mpv, "hwdec-codecs", rewritten->toUtf8().constData()),
          QStringLiteral("hwdec-codecs"));
}

// --- events ---

void MPVClient::wakeup(void* context) {
    if (!context) return;
    auto* client = static_cast<MPVClient*>(context);
    // Any number of wakeups before a drain starts cost one drain; a drain clears the flag
    // before it reads, so an event arriving after its last read schedules the next one.
    if (client->_drainScheduled.exchange(true)) return;
    client->_queue.async([client] { client->drain(); });
}

void MPVClient::drain() {
    _drainScheduled.store(false);
    for (;;) {
        Delivery delivery;
        {
            std::shared_lock guard(_handleLock);
            mpv_handle* mpv = _mpv.load();
            if (!mpv) return;
            const mpv_event* event = mpv_wait_event(mpv, 0);
            switch (event->event_id) {
                case MPV_EVENT_NONE: return;
                case MPV_EVENT_SHUTDOWN:
                    // mpv repeats this event to every later wait; the receiver hears it once.
                    if (_shutdownDelivered) return;
                    _shutdownDelivered = true;
                    delivery.kind = Delivery::Kind::event;
                    delivery.eventID = MPV_EVENT_SHUTDOWN;
                    break;
                case MPV_EVENT_LOG_MESSAGE: {
                    const auto* message = static_cast<const mpv_event_log_message*>(event->data);
                    log(QStringLiteral("mpv[%1] %2: %3")
                            .arg(QString::fromUtf8(message->prefix),
                                 QString::fromUtf8(message->level),
                                 QString::fromUtf8(message->text).trimmed()));
                    continue;
                }
                case MPV_EVENT_PROPERTY_CHANGE: {
                    const auto* property = static_cast<const mpv_event_property*>(event->data);
                    if (event->reply_userdata == kInternalObservation) {
                        const int64_t size = property->format == MPV_FORMAT_INT64 && property->data
                                                 ? *static_cast<const int64_t*>(property->data)
                                                 : 0;
                        const bool width = qstrcmp(property->name, "dwidth") == 0;
                        (width ? _displayWidth : _displayHeight).store(size);
                        delivery.kind = Delivery::Kind::displaySize;
                        break;
                    }
                    delivery.name = QString::fromUtf8(property->name);
                    switch (property->format) {
                        case MPV_FORMAT_STRING: {
                            const auto* text = static_cast<char* const*>(property->data);
                            delivery.value = MPVValue::fromString(
                                text && *text ? std::optional<QString>(QString::fromUtf8(*text))
                                              : std::nullopt);
                            break;
                        }
                        case MPV_FORMAT_FLAG:
                            if (property->data)
                                delivery.value = MPVValue::fromFlag(
                                    *static_cast<const int*>(property->data) != 0);
                            break;
                        case MPV_FORMAT_DOUBLE:
                            if (property->data)
                                delivery.value = MPVValue::fromDouble(
                                    *static_cast<const double*>(property->data));
                            break;
                        default: break;  // MPV_FORMAT_NONE: the property is unavailable
                    }
                    if (!delivery.value) continue;
                    delivery.kind = Delivery::Kind::property;
                    break;
                }
                case MPV_EVENT_SET_PROPERTY_REPLY: {
                    std::optional<QString> label;
                    {
                        std::lock_guard replies(_replyLock);
                        if (auto found = _pendingStringSets.find(event->reply_userdata);
                            found != _pendingStringSets.end()) {
                            label = found->second;
                            _pendingStringSets.erase(found);
                        }
                    }
                    if (label) check(event->error, *label);
                    delivery.kind = Delivery::Kind::event;
                    delivery.eventID = event->event_id;
                    break;
                }
                default:
                    delivery.kind = Delivery::Kind::event;
                    delivery.eventID = event->event_id;
                    break;
            }
        }

        switch (delivery.kind) {
            case Delivery::Kind::nothing: break;
            case Delivery::Kind::event: {
                EventCallback callback;
                {
                    std::lock_guard guard(_callbackLock);
                    callback = _onEvent;
                }
                if (callback) callback(delivery.eventID);
                if (delivery.eventID == MPV_EVENT_SHUTDOWN) return;
                break;
            }
            case Delivery::Kind::property: {
                PropertyCallback callback;
                {
                    std::lock_guard guard(_callbackLock);
                    callback = _onProperty;
                }
                if (callback) callback(delivery.name, *delivery.value);
                break;
            }
            case Delivery::Kind::displaySize: {
                // A new size needs a new frame buffer: ask the renderer to draw again, so that a
                // paused picture is redrawn at its new size too.
                RenderUpdateCallback callback;
                {
                    std::lock_guard guard(_callbackLock);
                    callback = _onRenderUpdate;
                }
                if (callback && videoSize()) callback();
                break;
            }
        }
    }
}

void MPVClient::setOnProperty(PropertyCallback callback) {
    std::lock_guard guard(_callbackLock);
    _onProperty = std::move(callback);
}

void MPVClient::setOnEvent(EventCallback callback) {
    std::lock_guard guard(_callbackLock);
    _onEvent = std::move(callback);
}

void MPVClient::setOnRenderUpdate(RenderUpdateCallback callback) {
    std::lock_guard guard(_callbackLock);
    _onRenderUpdate = std::move(callback);
}

void MPVClient::setStreamProtocol(std::shared_ptr<RTStreamProtocol> protocol) {
    std::lock_guard guard(_protocolLock);
    _streamProtocol = std::move(protocol);
}

std::shared_ptr<RTStreamProtocol> MPVClient::streamProtocol() const {
    std::lock_guard guard(_protocolLock);
    return _streamProtocol;
}

// --- commands and properties ---

void MPVClient::command(const QStringList& arguments) {
    withHandle([&](mpv_handle* mpv) {
        CommandArguments copies(arguments);
        mpv_command(mpv, copies.pointers());
    });
}

void MPVClient::commandAsync(const QStringList& arguments) {
    withHandle([&](mpv_handle* mpv) {
        CommandArguments copies(arguments);
        mpv_command_async(mpv, 0, copies.pointers());
    });
}

QStringList MPVClient::seekToFractionCommand(double fraction) {
    if (std::isnan(fraction)) return {};
    const double percent = std::clamp(fraction * 100.0, 0.0, 100.0);
    return {QStringLiteral("seek"), decimal(percent), QStringLiteral("absolute-percent"),
            QStringLiteral("exact")};
}

void MPVClient::seekToFraction(double fraction) {
    const QStringList arguments = seekToFractionCommand(fraction);
    if (!arguments.isEmpty()) command(arguments);
}

void MPVClient::seekToFractionAsync(double fraction) {
    const QStringList arguments = seekToFractionCommand(fraction);
    if (!arguments.isEmpty()) commandAsync(arguments);
}

void MPVClient::setFlagProperty(const QString& name, bool value) {
    withHandle([&](mpv_handle* mpv) {
        int flag = value ? 1 : 0;
        mpv_set_property(mpv, name.toUtf8().constData(), MPV_FORMAT_FLAG, &flag);
    });
}

void MPVClient::setDoubleProperty(const QString& name, double value) {
    withHandle([&](mpv_handle* mpv) {
        mpv_set_property(mpv, name.toUtf8().constData(), MPV_FORMAT_DOUBLE, &value);
    });
}

void MPVClient::setStringProperty(const QString& name, const QString& value) {
    withHandle([&](mpv_handle* mpv) {
        check(mpv_set_property_string(mpv, name.toUtf8().constData(), value.toUtf8().constData()),
              name);
    });
}

void MPVClient::setFlagPropertyAsync(const QString& name, bool value) {
    withHandle([&](mpv_handle* mpv) {
        int flag = value ? 1 : 0;
        mpv_set_property_async(mpv, 0, name.toUtf8().constData(), MPV_FORMAT_FLAG, &flag);
    });
}

void MPVClient::setDoublePropertyAsync(const QString& name, double value) {
    withHandle([&](mpv_handle* mpv) {
        mpv_set_property_async(mpv, 0, name.toUtf8().constData(), MPV_FORMAT_DOUBLE, &value);
    });
}

void MPVClient::setStringPropertyAsync(const QString& name, const QString& value) {
    withHandle([&](mpv_handle* mpv) {
        const uint64_t replyID = _nextReplyID.fetch_add(1);
        {
            std::lock_guard replies(_replyLock);
            _pendingStringSets.emplace(replyID, name);
        }
        const QByteArray text = value.toUtf8();
        const char* data = text.constData();
        const int result = mpv_set_property_async(mpv, replyID, name.toUtf8().constData(),
                                                  MPV_FORMAT_STRING, &data);
        if (result < 0) {
            {
                std::lock_guard replies(_replyLock);
                _pendingStringSets.erase(replyID);
            }
            check(result, name);
        }
    });
}

std::optional<double> MPVClient::doubleProperty(const QString& name) const {
    return withHandle([&](mpv_handle* mpv) -> std::optional<double> {
        double value = 0;
        if (mpv_get_property(mpv, name.toUtf8().constData(), MPV_FORMAT_DOUBLE, &value) < 0)
            return std::nullopt;
        return value;
    });
}

std::optional<int64_t> MPVClient::integerProperty(const QString& name) const {
    return withHandle([&](mpv_handle* mpv) -> std::optional<int64_t> {
        int64_t value = 0;
        if (mpv_get_property(mpv, name.toUtf8().constData(), MPV_FORMAT_INT64, &value) < 0)
            return std::nullopt;
        return value;
    });
}

std::optional<bool> MPVClient::flagProperty(const QString& name) const {
    return withHandle([&](mpv_handle* mpv) -> std::optional<bool> {
        int value = 0;
        if (mpv_get_property(mpv, name.toUtf8().constData(), MPV_FORMAT_FLAG, &value) < 0)
            return std::nullopt;
        return value != 0;
    });
}

std::optional<QString> MPVClient::stringProperty(const QString& name) const {
    return withHandle([&](mpv_handle* mpv) -> std::optional<QString> {
        char* text = mpv_get_property_string(mpv, name.toUtf8().constData());
        if (!text) return std::nullopt;
        QString result = QString::fromUtf8(text);
        mpv_free(text);
        return result;
    });
}

std::vector<MPVTrack> MPVClient::trackList() const {
    const std::optional<QString> json = stringProperty(QStringLiteral("track-list"));
    if (!json) return {};
    return MPVTrack::parseTrackList(json->toUtf8());
}

std::optional<std::pair<int64_t, int64_t>> MPVClient::videoSize() const {
    const int64_t width = _displayWidth.load();
    const int64_t height = _displayHeight.load();
    if (width < 1 || height < 1) return std::nullopt;
    return std::pair{width, height};
}

// --- rendering ---

void MPVClient::renderUpdate(void* context) {
    if (!context) return;
    auto* client = static_cast<MPVClient*>(context);
    RenderUpdateCallback callback;
    {
        std::lock_guard guard(client->_callbackLock);
        callback = client->_onRenderUpdate;
    }
    if (callback) callback();
}

bool MPVClient::createRenderContext() {
    std::lock_guard renderGuard(renderLock);
    std::shared_lock handleGuard(_handleLock);
    mpv_handle* mpv = _mpv.load();
    if (!mpv) return _renderContext != nullptr;
    if (_renderContext) return true;

    mpv_opengl_init_params glInit{&glProcAddress, nullptr};
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_OPENGL)},
        {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &glInit},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context* context = nullptr;
    if (mpv_render_context_create(&context, mpv, parameters) >= 0 && context) {
        _renderContext = context;
        mpv_render_context_set_update_callback(context, &MPVClient::renderUpdate, this);
        return true;
    }
    log(QStringLiteral("mpv_render_context_create failed"));
    return false;
}

bool MPVClient::hasRenderContext() const {
    std::lock_guard guard(renderLock);
    return _renderContext != nullptr;
}

void MPVClient::render(int fbo, int width, int height) {
    std::lock_guard guard(renderLock);
    if (!_renderContext) return;
    mpv_opengl_fbo target{fbo, width, height, 0};
    int flipY = 0;
    mpv_render_param parameters[] = {
        {MPV_RENDER_PARAM_OPENGL_FBO, &target},
        {MPV_RENDER_PARAM_FLIP_Y, &flipY},
        {MPV_RENDER_PARAM_INVALID, nullptr},
    };
    mpv_render_context_render(_renderContext, parameters);
}

void MPVClient::freeRenderContext() {
    std::lock_guard guard(renderLock);
    if (!_renderContext) return;
    mpv_render_context_set_update_callback(_renderContext, nullptr, nullptr);
    mpv_render_context_free(_renderContext);
    _renderContext = nullptr;
}

// --- teardown ---

void MPVClient::shutdown() {
    mpv_handle* mpv = nullptr;
    {
        // Exclusive: waits for calls still using the handle; later calls see no handle.
        std::unique_lock guard(_handleLock);
        mpv = _mpv.load();
        if (!mpv) return;
        mpv_set_wakeup_callback(mpv, nullptr, nullptr);
        _mpv.store(nullptr);
    }
    // Freed after the handle was taken away, so a renderer cannot create a new context between
    // this free and the destroy (mpv requires the context gone before the core).
    freeRenderContext();
    // On the queue: a drain still running finishes before the handle is destroyed.
    _queue.sync([mpv] { mpv_terminate_destroy(mpv); });
    std::shared_ptr<RTStreamProtocol> protocol;
    {
        std::lock_guard guard(_protocolLock);
        protocol = std::move(_streamProtocol);
    }
    protocol.reset();  // only now: mpv has closed every stream it opened through it
}

}  // namespace rillow
