#pragma once
// The OpenGL context layer the effect relies on, on Linux: headless contexts
// through EGL (surfaceless Mesa, no display server), the current-context query
// and the pixel-format object that a Core Image context is made with.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Opaque handles, as the effect passes them around without looking inside.
// A context handle is the EGLContext itself; it is only ever compared.
using CGLContextObj = void*;
using CGLPixelFormatObj = const void*;

// The OpenGL context current on this thread, or nullptr.
CGLContextObj CGLGetCurrentContext();

// A desktop OpenGL 3.3 core context on a surfaceless EGL display, current on
// the creating thread. It draws only into framebuffer objects.
class HeadlessGLContext {
public:
    // Returns nullptr (and a reason in *error) when EGL or the driver cannot
    // give us such a context. A non-null shareWith shares its textures.
    static std::unique_ptr<HeadlessGLContext> create(std::string* error = nullptr,
                                                     const HeadlessGLContext* shareWith = nullptr);
    ~HeadlessGLContext();
    HeadlessGLContext(const HeadlessGLContext&) = delete;
    HeadlessGLContext& operator=(const HeadlessGLContext&) = delete;

    bool makeCurrent() const;
    CGLContextObj cglContext() const { return context_; }

private:
    struct Display;
    HeadlessGLContext(std::shared_ptr<Display> display, void* context);
    std::shared_ptr<Display> display_;
    void* context_ = nullptr;
};

// Makes `context` current for the life of the guard and restores whatever was
// current before (nothing included). ok() is false when the switch failed,
// for instance because the context is gone.
class ScopedCurrentContext {
public:
    explicit ScopedCurrentContext(CGLContextObj context);
    ~ScopedCurrentContext();
    ScopedCurrentContext(const ScopedCurrentContext&) = delete;
    ScopedCurrentContext& operator=(const ScopedCurrentContext&) = delete;
    bool ok() const { return ok_; }

private:
    void* display_ = nullptr;
    void* previousContext_ = nullptr;
    void* previousDraw_ = nullptr;
    void* previousRead_ = nullptr;
    bool switched_ = false;
    bool ok_ = false;
};

// Pixel-format attribute numbers that the effect builds its lists with.
enum : std::uint32_t {
    NSOpenGLPFAColorSize = 8,
    NSOpenGLPFAColorFloat = 58,
};

// A pixel format from a zero-terminated attribute list. Attributes that carry
// a value are followed by it; the others are flags.
class NSOpenGLPixelFormat {
public:
    // nullptr for a null list or a value-carrying attribute cut off by the terminator.
    static std::shared_ptr<NSOpenGLPixelFormat> initWithAttributes(const std::uint32_t* attributes);

    ::CGLPixelFormatObj CGLPixelFormatObj() const { return this; }
    // The value of a value-carrying attribute, 1 for a flag that is present, 0 when absent.
    std::uint32_t attribute(std::uint32_t name) const;
    int colorSize() const { return static_cast<int>(attribute(NSOpenGLPFAColorSize)); }
    bool isFloat() const { return attribute(NSOpenGLPFAColorFloat) != 0; }
    // Recovers the object behind a handle made by CGLPixelFormatObj().
    static const NSOpenGLPixelFormat* fromHandle(::CGLPixelFormatObj handle) {
        return static_cast<const NSOpenGLPixelFormat*>(handle);
    }

private:
    std::map<std::uint32_t, std::uint32_t> attributes_;
};
