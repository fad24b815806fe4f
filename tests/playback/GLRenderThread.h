#pragma once
// A test stand-in for the video renderer: its own thread with a headless OpenGL context and a
// framebuffer, drawing mpv's frames whenever the client signals an update and sampling the
// framebuffer's centre pixel after each draw.
#include "playback/MPVClient.h"
#include "playback/SerialQueue.h"
#include "tests/support/HeadlessGL.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace rillow::test {

class GLRenderThread {
public:
    GLRenderThread(int width, int height) : _width(width), _height(height) {
        _queue.sync([this] {
            _gl = std::make_unique<HeadlessGL>();
            if (_gl->isValid()) _fbo = std::make_unique<GLFramebuffer>(_width, _height);
        });
    }
    ~GLRenderThread() { stop(); }

    bool isValid() const { return _gl && _gl->isValid() && _fbo && _fbo->isValid(); }
    QString error() const { return _gl ? _gl->error() : QString(); }

    // Routes `client`'s render updates here and creates its render context on this thread.
    bool attach(MPVClient& client) {
        setClient(client);
        client.setOnRenderUpdate([this] { _queue.async([this] { draw(); }); });
        bool created = false;
        _queue.sync([&] { created = client.createRenderContext(); });
        return created;
    }

    // Draws `client` on this thread without creating its render context.
    void setClient(MPVClient& client) {
        _queue.sync([&] { _client = &client; });
    }

    // Renders once now, on this thread, and returns the centre pixel.
    GLFramebuffer::Pixel renderNow() {
        GLFramebuffer::Pixel pixel{};
        _queue.sync([&] {
            if (_client) _client->render(_fbo->name(), _width, _height);
            pixel = _fbo->pixel(_width / 2, _height / 2);
        });
        return pixel;
    }
    void clear(const GLFramebuffer::Pixel& colour) {
        _queue.sync([&] { _fbo->clear(colour); });
    }
    GLFramebuffer::Pixel centre() {
        GLFramebuffer::Pixel pixel{};
        _queue.sync([&] { pixel = _fbo->pixel(_width / 2, _height / 2); });
        return pixel;
    }
    void freeRenderContext() {
        _queue.sync([this] {
            if (_client) _client->freeRenderContext();
        });
    }

    int draws() const { return _draws.load(); }
    GLFramebuffer::Pixel lastCentre() const {
        std::lock_guard guard(_lock);
        return _lastCentre;
    }

    // Frees the client's render context (with the GL context current, as mpv requires) and the
    // GL objects.
    void stop() {
        _queue.sync([this] {
            _stopped = true;
            if (_client) {
                _client->setOnRenderUpdate(nullptr);
                _client->freeRenderContext();
            }
            _fbo.reset();
            _gl.reset();
        });
    }

private:
    void draw() {
        if (_stopped || !_client || !_fbo) return;
        _client->render(_fbo->name(), _width, _height);
        const GLFramebuffer::Pixel pixel = _fbo->pixel(_width / 2, _height / 2);
        {
            std::lock_guard guard(_lock);
            _lastCentre = pixel;
        }
        ++_draws;
    }

    const int _width;
    const int _height;
    SerialQueue _queue{"test.gl"};
    // Touched only on `_queue`.
    std::unique_ptr<HeadlessGL> _gl;
    std::unique_ptr<GLFramebuffer> _fbo;
    MPVClient* _client = nullptr;
    bool _stopped = false;

    std::atomic<int> _draws{0};
    mutable std::mutex _lock;
    GLFramebuffer::Pixel _lastCentre{};  // guarded by `_lock`
};

}  // namespace rillow::test
