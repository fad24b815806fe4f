#include "tests/support/HeadlessGL.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>

namespace rillow::test {

namespace {

// GL entry points beyond OpenGL 1.1, resolved through EGL for the current context.
struct GLFunctions {
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
    decltype(&glClearColor) clearColor = nullptr;
    decltype(&glClear) clearBuffers = nullptr;
    decltype(&glReadPixels) readPixels = nullptr;
    decltype(&glFinish) finish = nullptr;
    decltype(&glGetString) getString = nullptr;

    template <class T>
    static void resolve(T& function, const char* name) {
        function = reinterpret_cast<T>(eglGetProcAddress(name));
    }

    GLFunctions() {
        resolve(genFramebuffers, "glGenFramebuffers");
        resolve(deleteFramebuffers, "glDeleteFramebuffers");
        resolve(bindFramebuffer, "glBindFramebuffer");
        resolve(genRenderbuffers, "glGenRenderbuffers");
        resolve(deleteRenderbuffers, "glDeleteRenderbuffers");
        resolve(bindRenderbuffer, "glBindRenderbuffer");
        resolve(renderbufferStorage, "glRenderbufferStorage");
        resolve(framebufferRenderbuffer, "glFramebufferRenderbuffer");
        resolve(checkFramebufferStatus, "glCheckFramebufferStatus");
        resolve(clearColor, "glClearColor");
        resolve(clearBuffers, "glClear");
        resolve(readPixels, "glReadPixels");
        resolve(finish, "glFinish");
        resolve(getString, "glGetString");
    }

    bool complete() const {
        return genFramebuffers && deleteFramebuffers && bindFramebuffer && genRenderbuffers &&
               deleteRenderbuffers && bindRenderbuffer && renderbufferStorage &&
               framebufferRenderbuffer && checkFramebufferStatus && clearColor && clearBuffers &&
               readPixels && finish && getString;
    }
};

const GLFunctions& gl() {
    static const GLFunctions functions;
    return functions;
}

bool hasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)); at += length)
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    return false;
}

}  // namespace

HeadlessGL::HeadlessGL() {
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        _error = QStringLiteral("EGL has no surfaceless platform");
        return;
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        _error = QStringLiteral("eglGetPlatformDisplayEXT is missing");
        return;
    }
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
        _error = QStringLiteral("eglInitialize failed on the surfaceless platform");
        return;
    }
    _display = display;

    // Desktop GL first (what mpv's desktop build prefers), else OpenGL ES 2 or later.
    struct Attempt {
        EGLenum api;
        EGLint renderable;
        bool gles;
    };
    for (const Attempt attempt : {Attempt{EGL_OPENGL_API, EGL_OPENGL_BIT, false},
                                  Attempt{EGL_OPENGL_ES_API, EGL_OPENGL_ES2_BIT, true}}) {
        // The surfaceless platform has no window configs (the default surface type).
        const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                           EGL_PBUFFER_BIT,
                                           EGL_RED_SIZE,
                                           8,
                                           EGL_GREEN_SIZE,
                                           8,
                                           EGL_BLUE_SIZE,
                                           8,
                                           EGL_RENDERABLE_TYPE,
                                           attempt.renderable,
                                           EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        if (!eglChooseConfig(display, configAttributes, &config, 1, &count) || count < 1) continue;
        if (!eglBindAPI(attempt.api)) continue;
        const EGLint esAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
        EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT,
                                              attempt.gles ? esAttributes : nullptr);
        if (context == EGL_NO_CONTEXT) continue;
        _context = context;
        _gles = attempt.gles;
        break;
    }
    if (!_context) {
        _error = QStringLiteral("no OpenGL or OpenGL ES context could be created");
        return;
    }
    if (!makeCurrent()) {
        _error = QStringLiteral("eglMakeCurrent failed without a surface");
        eglDestroyContext(display, _context);
        _context = nullptr;
        return;
    }
    if (!gl().complete()) {
        _error = QStringLiteral("framebuffer functions are missing");
        doneCurrent();
        eglDestroyContext(display, _context);
        _context = nullptr;
    }
}

HeadlessGL::~HeadlessGL() {
    if (_context) {
        doneCurrent();
        eglDestroyContext(_display, _context);
    }
    if (_display) eglTerminate(_display);
}

bool HeadlessGL::makeCurrent() {
    if (!_context) return false;
    if (!eglBindAPI(_gles ? EGL_OPENGL_ES_API : EGL_OPENGL_API)) return false;
    return eglMakeCurrent(_display, EGL_NO_SURFACE, EGL_NO_SURFACE, _context) == EGL_TRUE;
}

void HeadlessGL::doneCurrent() {
    if (_display) eglMakeCurrent(_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

QString HeadlessGL::rendererName() const {
    if (!_context) return {};
    const GLubyte* name = gl().getString(GL_RENDERER);
    return name ? QString::fromUtf8(reinterpret_cast<const char*>(name)) : QString();
}

GLFramebuffer::GLFramebuffer(int width, int height) : _width(width), _height(height) {
    if (width < 1 || height < 1 || !gl().complete()) return;
    gl().genRenderbuffers(1, &_renderbuffer);
    gl().bindRenderbuffer(GL_RENDERBUFFER, _renderbuffer);
    gl().renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    gl().genFramebuffers(1, &_fbo);
    gl().bindFramebuffer(GL_FRAMEBUFFER, _fbo);
    gl().framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                                 _renderbuffer);
    const bool complete = gl().checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    gl().bindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
        gl().deleteFramebuffers(1, &_fbo);
        gl().deleteRenderbuffers(1, &_renderbuffer);
        _fbo = 0;
        _renderbuffer = 0;
    }
}

GLFramebuffer::~GLFramebuffer() {
    if (_fbo) gl().deleteFramebuffers(1, &_fbo);
    if (_renderbuffer) gl().deleteRenderbuffers(1, &_renderbuffer);
}

void GLFramebuffer::clear(const Pixel& colour) {
    if (!_fbo) return;
    gl().bindFramebuffer(GL_FRAMEBUFFER, _fbo);
    gl().clearColor(colour[0] / 255.0f, colour[1] / 255.0f, colour[2] / 255.0f, colour[3] / 255.0f);
    gl().clearBuffers(GL_COLOR_BUFFER_BIT);
    gl().bindFramebuffer(GL_FRAMEBUFFER, 0);
}

GLFramebuffer::Pixel GLFramebuffer::pixel(int x, int y) const {
    Pixel result{0, 0, 0, 0};
    if (!_fbo || x < 0 || y < 0 || x >= _width || y >= _height) return result;
    gl().bindFramebuffer(GL_FRAMEBUFFER, _fbo);
    gl().finish();
    gl().readPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, result.data());
    gl().bindFramebuffer(GL_FRAMEBUFFER, 0);
    return result;
}

}  // namespace rillow::test
