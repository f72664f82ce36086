#include "platform/cgl/CGL.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <mutex>

namespace {

std::string eglErrorText(const char* what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(eglGetError()));
    return std::string(what) + " failed (EGL error " + code + ")";
}

}  // namespace

// One initialised surfaceless display for the whole process. It is never
// terminated: eglTerminate is not reference counted, and it unloads the
// driver, which the next context would have to load again.
struct HeadlessGLContext::Display {
    EGLDisplay display = EGL_NO_DISPLAY;

    static std::shared_ptr<Display> shared(std::string* error) {
        static std::mutex mutex;
        static std::shared_ptr<Display> current;
        std::lock_guard<std::mutex> lock(mutex);
        if (current) return current;

        auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
            eglGetProcAddress("eglGetPlatformDisplayEXT"));
        if (!getPlatformDisplay) {
            if (error) *error = "eglGetPlatformDisplayEXT is not available";
            return nullptr;
        }
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display == EGL_NO_DISPLAY) {
            if (error) *error = eglErrorText("eglGetPlatformDisplayEXT(surfaceless)");
            return nullptr;
        }
        EGLint major = 0, minor = 0;
        if (!eglInitialize(display, &major, &minor)) {
            if (error) *error = eglErrorText("eglInitialize");
            return nullptr;
        }
        auto made = std::make_shared<Display>();
        made->display = display;
        current = made;
        return made;
    }
};

CGLContextObj CGLGetCurrentContext() {
    EGLContext context = eglGetCurrentContext();
    return context == EGL_NO_CONTEXT ? nullptr : context;
}

std::unique_ptr<HeadlessGLContext> HeadlessGLContext::create(std::string* error, const HeadlessGLContext* shareWith) {
    auto display = Display::shared(error);
    if (!display) return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        if (error) *error = eglErrorText("eglBindAPI(OpenGL)");
        return nullptr;
    }
    const EGLint attributes[] = {
        EGL_CONTEXT_MAJOR_VERSION, 3,
        EGL_CONTEXT_MINOR_VERSION, 3,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
        EGL_NONE,
    };
    EGLContext share = shareWith ? shareWith->context_ : EGL_NO_CONTEXT;
    // Surfaceless rendering needs no config (EGL_KHR_no_config_context).
    EGLContext context = eglCreateContext(display->display, EGL_NO_CONFIG_KHR, share, attributes);
    if (context == EGL_NO_CONTEXT) {
        if (error) *error = eglErrorText("eglCreateContext(OpenGL 3.3 core)");
        return nullptr;
    }
    std::unique_ptr<HeadlessGLContext> made(new HeadlessGLContext(std::move(display), context));
    if (!made->makeCurrent()) {
        if (error) *error = eglErrorText("eglMakeCurrent");
        return nullptr;
    }
    return made;
}

HeadlessGLContext::HeadlessGLContext(std::shared_ptr<Display> display, void* context)
    : display_(std::move(display)), context_(context) {}

HeadlessGLContext::~HeadlessGLContext() {
    if (eglGetCurrentContext() == context_)
        eglMakeCurrent(display_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_->display, context_);
}

bool HeadlessGLContext::makeCurrent() const {
    return eglMakeCurrent(display_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) == EGL_TRUE;
}

ScopedCurrentContext::ScopedCurrentContext(CGLContextObj context) {
    previousContext_ = eglGetCurrentContext();
    if (context == previousContext_ && context != nullptr) {
        ok_ = true;
        return;
    }
    EGLDisplay display = eglGetCurrentDisplay();
    if (display == EGL_NO_DISPLAY || context == nullptr) return;
    display_ = display;
    previousDraw_ = eglGetCurrentSurface(EGL_DRAW);
    previousRead_ = eglGetCurrentSurface(EGL_READ);
    ok_ = switched_ = eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
}

ScopedCurrentContext::~ScopedCurrentContext() {
    if (switched_) eglMakeCurrent(display_, previousDraw_, previousRead_, previousContext_);
}

namespace {

// Attributes that are followed by a value in the list; every other one is a flag.
bool carriesValue(std::uint32_t name) {
    switch (name) {
        case 7:    // aux buffers
        case 8:    // colour size
        case 11:   // alpha size
        case 12:   // depth size
        case 13:   // stencil size
        case 14:   // accumulation size
        case 55:   // sample buffers
        case 56:   // samples
        case 70:   // renderer id
        case 84:   // screen mask
        case 99:   // profile
        case 128:  // virtual screen count
            return true;
        default:
            return false;
    }
}

}  // namespace

std::shared_ptr<NSOpenGLPixelFormat> NSOpenGLPixelFormat::initWithAttributes(const std::uint32_t* attributes) {
    if (!attributes) return nullptr;
    auto format = std::make_shared<NSOpenGLPixelFormat>();
    for (const std::uint32_t* at = attributes; *at != 0; ++at) {
        std::uint32_t name = *at;
        if (carriesValue(name)) {
            if (at[1] == 0 && name != 12 && name != 13 && name != 11 && name != 7 && name != 14) {
                // A value of 0 where one is required means the list was cut short.
                return nullptr;
            }
            format->attributes_[name] = at[1];
            ++at;
        } else {
            format->attributes_[name] = 1;
        }
    }
    return format;
}

std::uint32_t NSOpenGLPixelFormat::attribute(std::uint32_t name) const {
    auto found = attributes_.find(name);
    return found == attributes_.end() ? 0 : found->second;
}
