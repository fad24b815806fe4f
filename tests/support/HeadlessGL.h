#pragma once
// Headless OpenGL for tests: an EGL context on Mesa's surfaceless platform (no display, no
// window; llvmpipe when there is no GPU), and a framebuffer object to render into and read back.
//
// Threads: a HeadlessGL makes its context current on the thread that creates it; use it, the
// framebuffers and every GL call on that thread. Destroy framebuffers before their context.

#include <QString>
#include <array>
#include <cstdint>

namespace rillow::test {

class HeadlessGL {
public:
    // Creates a desktop OpenGL context (an OpenGL ES 2+ one when desktop GL is not offered)
    // and makes it current. Check isValid(); error() says what failed.
    HeadlessGL();
    ~HeadlessGL();
    HeadlessGL(const HeadlessGL&) = delete;
    HeadlessGL& operator=(const HeadlessGL&) = delete;

    bool isValid() const { return _context != nullptr; }
    const QString& error() const { return _error; }
    bool isGLES() const { return _gles; }
    // GL_RENDERER, e.g. "llvmpipe (LLVM 15.0.6, 256 bits)".
    QString rendererName() const;

    bool makeCurrent();
    void doneCurrent();

private:
    void* _display = nullptr;  // EGLDisplay
    void* _context = nullptr;  // EGLContext
    bool _gles = false;
    QString _error;
};

// An RGBA8 colour renderbuffer behind a framebuffer object, for mpv to render into.
class GLFramebuffer {
public:
    using Pixel = std::array<uint8_t, 4>;  // R, G, B, A

    // Needs a current context.
    GLFramebuffer(int width, int height);
    ~GLFramebuffer();
    GLFramebuffer(const GLFramebuffer&) = delete;
    GLFramebuffer& operator=(const GLFramebuffer&) = delete;

    bool isValid() const { return _fbo != 0; }
    int name() const { return static_cast<int>(_fbo); }
    int width() const { return _width; }
    int height() const { return _height; }

    // Fills the framebuffer with one colour (0…255 per channel).
    void clear(const Pixel& colour);
    // The pixel at (x, y), (0, 0) being the first row in GL's bottom-up order; waits for
    // rendering to finish.
    Pixel pixel(int x, int y) const;

private:
    unsigned _fbo = 0;
    unsigned _renderbuffer = 0;
    int _width = 0;
    int _height = 0;
};

}  // namespace rillow::test
