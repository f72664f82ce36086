#pragma once
// A small image-processing layer on OpenGL 3.3 core, with the shape of the
// platform's image framework as the effect uses it: images made from textures
// and float bitmaps, samplers, kernels written in a GLSL dialect, filters made
// by name, and contexts that draw into the current framebuffer.
//
// Colour spaces are tags only: this layer never converts between them, it
// carries them so that callers can state which space they mean.
//
// Kernel language: GLSL with
//   kernel vec4 name(sampler a, sampler b, float c, vec2 d, ...) { ... }
// where `sample(s, p)` reads sampler s at p, `samplerCoord(s)` is the point of
// s that the pixel being made sits on, `samplerExtent(s)` is (x, y, w, h),
// `samplerSize(s)` its (w, h), `samplerTransform(s, p)` is p and `destCoord()`
// the pixel's place in working space. Points are in pixels of the image, texel
// centres at +0.5, origin at the bottom left. The first kernel of a text is used.
#include "platform/cgl/CGL.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

struct CGPoint {
    double x = 0, y = 0;
};
struct CGSize {
    double width = 0, height = 0;
};
struct CGRect {
    CGPoint origin;
    CGSize size;
    bool isEmpty() const { return size.width <= 0 || size.height <= 0; }
    bool operator==(const CGRect& o) const {
        return origin.x == o.origin.x && origin.y == o.origin.y && size.width == o.size.width &&
               size.height == o.size.height;
    }
};
inline CGRect CGRectMake(double x, double y, double w, double h) { return CGRect{{x, y}, {w, h}}; }
inline CGSize CGSizeMake(double w, double h) { return CGSize{w, h}; }

// A colour space is its name.
struct CGColorSpace {
    std::string name;
};
using CGColorSpaceRef = std::shared_ptr<const CGColorSpace>;
inline const char* const kCGColorSpaceITUR_709 = "kCGColorSpaceITUR_709";
inline const char* const kCGColorSpaceLinearSRGB = "kCGColorSpaceLinearSRGB";
inline const char* const kCGColorSpaceSRGB = "kCGColorSpaceSRGB";
inline CGColorSpaceRef CGColorSpaceCreateWithName(const std::string& name) {
    return std::make_shared<const CGColorSpace>(CGColorSpace{name});
}

enum CIFormat { kCIFormatRGBAf, kCIFormatRGBA8 };

class CIImage;
class CIKernel;
class CISampler;
class CIContext;
using CIImagePtr = std::shared_ptr<CIImage>;  // images never change once made
using CIKernelPtr = std::shared_ptr<CIKernel>;
using CISamplerPtr = std::shared_ptr<const CISampler>;

namespace quillane::ci {
struct Bitmap;
struct KernelProgram;
struct KernelApplication;
}  // namespace quillane::ci

// An immutable image: a texture of the current OpenGL context, pixel data, or
// the output of a kernel applied to samplers. Extents start at (0, 0).
class CIImage {
public:
    // The texture stays the caller's; flipped means its first row is the top one.
    static CIImagePtr imageWithTexture(unsigned textureId, CGSize size, bool flipped, CGColorSpaceRef colorSpace);
    // Pixel data whose first row is the top of the image. nullptr when the data
    // is shorter than size says or the row length does not fit the format.
    static CIImagePtr imageWithBitmapData(std::vector<unsigned char> data, std::size_t bytesPerRow, CGSize size,
                                          CIFormat format, CGColorSpaceRef colorSpace);
    // Orientations 1 to 4 (as is, mirrored left-right, turned half round,
    // mirrored top-bottom); nullptr for the turning ones this layer lacks.
    CIImagePtr imageByApplyingOrientation(int orientation) const;

    CGRect extent() const { return extent_; }
    CGColorSpaceRef colorSpace() const { return colorSpace_; }

    // For the renderer.
    enum class Kind { Texture, Bitmap, Kernel };
    Kind kind() const { return kind_; }
    unsigned textureId() const { return textureId_; }
    const std::shared_ptr<const quillane::ci::Bitmap>& bitmap() const { return bitmap_; }
    const std::shared_ptr<const quillane::ci::KernelApplication>& application() const { return application_; }
    bool mirrorX() const { return mirrorX_; }
    bool mirrorY() const { return mirrorY_; }

    static CIImagePtr fromKernel(std::shared_ptr<const quillane::ci::KernelApplication> application, CGRect extent,
                                 CGColorSpaceRef colorSpace);

private:
    Kind kind_ = Kind::Texture;
    CGRect extent_;
    CGColorSpaceRef colorSpace_;
    unsigned textureId_ = 0;
    std::shared_ptr<const quillane::ci::Bitmap> bitmap_;
    std::shared_ptr<const quillane::ci::KernelApplication> application_;
    bool mirrorX_ = false;
    bool mirrorY_ = false;
};

enum class CISamplerFilter { Linear, Nearest };
enum class CISamplerWrap { Clamp, Black };
inline constexpr CISamplerFilter kCISamplerFilterNearest = CISamplerFilter::Nearest;
inline constexpr CISamplerFilter kCISamplerFilterLinear = CISamplerFilter::Linear;
inline constexpr CISamplerWrap kCISamplerWrapBlack = CISamplerWrap::Black;
inline constexpr CISamplerWrap kCISamplerWrapClamp = CISamplerWrap::Clamp;

struct CISamplerOptions {
    CISamplerFilter filterMode = CISamplerFilter::Linear;
    CISamplerWrap wrapMode = CISamplerWrap::Clamp;
    CGColorSpaceRef colorSpace;
};

// How a kernel reads an image: filtering, what lies outside it, and its space.
class CISampler {
public:
    static CISamplerPtr samplerWithImage(CIImagePtr image, CISamplerOptions options = {});
    const CIImagePtr& image() const { return image_; }
    const CISamplerOptions& options() const { return options_; }
    CGRect extent() const { return image_ ? image_->extent() : CGRect{}; }

private:
    CIImagePtr image_;
    CISamplerOptions options_;
};

// One argument of a kernel call: a sampler, a number or a vector of up to four.
using CIKernelArgument = std::variant<CISamplerPtr, double, std::vector<double>>;
// Region of interest: sampler index and destination rectangle to the part of
// that sampler's image the kernel reads.
using CIKernelROIFunction = std::function<CGRect(int samplerIndex, CGRect destRect)>;

struct CIKernelApplyOptions {
    CGRect extent;  // empty: the union of the sampler images' extents
    CGColorSpaceRef colorSpace;
};

class CIKernel {
public:
    // nullptr when the text holds no kernel, its parameters are not of the
    // language's types, or (with an OpenGL context current) it does not compile.
    static CIKernelPtr kernelWithString(const std::string& text);

    const std::string& name() const;
    void setROISelector(CIKernelROIFunction roi) { roi_ = std::move(roi); }
    const CIKernelROIFunction& roiSelector() const { return roi_; }
    // The output image, or nullptr when the arguments do not match the parameters.
    CIImagePtr applyWithArguments(const std::vector<CIKernelArgument>& arguments,
                                  const CIKernelApplyOptions& options) const;

    const std::shared_ptr<const quillane::ci::KernelProgram>& program() const { return program_; }

private:
    std::shared_ptr<const quillane::ci::KernelProgram> program_;
    CIKernelROIFunction roi_;
};

// A filter input or output value.
using CIValue = std::variant<std::monostate, CIImagePtr, double, long long>;

inline double CIValueAsDouble(const CIValue& v, double fallback = 0.0) {
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto i = std::get_if<long long>(&v)) return static_cast<double>(*i);
    return fallback;
}

// A filter with named inputs; subclasses give outputImage.
class CIFilter {
public:
    virtual ~CIFilter() = default;
    // nullptr for a name nobody registered.
    static std::shared_ptr<CIFilter> filterWithName(const std::string& name);
    using Factory = std::function<std::shared_ptr<CIFilter>()>;
    // Made once per process by the filter class itself; a second call replaces.
    static void registerFilterName(const std::string& name, Factory factory);

    // Unknown keys are kept and read back but have no effect.
    virtual void setValue(const CIValue& value, const std::string& key);
    // "outputImage" gives the filter's result.
    virtual CIValue valueForKey(const std::string& key) const;
    virtual CIImagePtr outputImage() const = 0;

    // Applies a kernel the way the filter wants it (arguments in the kernel's order).
    CIImagePtr apply(const CIKernel& kernel, const std::vector<CIKernelArgument>& arguments,
                     const CIKernelApplyOptions& options) const {
        return kernel.applyWithArguments(arguments, options);
    }

protected:
    std::map<std::string, CIValue> values_;
};

struct CIContextOptions {
    // Read every image through the plain bounds-checked path instead of the
    // texture unit: the reference the fast reads are tested and timed against.
    bool plainSamplerReads = false;
};

// Draws images into the framebuffer bound in its OpenGL context. Programs are
// compiled once per kernel text, way its samplers are read and kind of
// placement (as it is, on texel centres, anywhere), and bitmaps uploaded
// once, for the context's life: a frame only binds and draws.
class CIContext {
public:
    // nullptr without an OpenGL context.
    static std::shared_ptr<CIContext> contextWithCGLContext(CGLContextObj cglContext, CGLPixelFormatObj pixelFormat,
                                                            CGColorSpaceRef colorSpace,
                                                            const CIContextOptions* options);
    ~CIContext();
    CIContext(const CIContext&) = delete;
    CIContext& operator=(const CIContext&) = delete;

    // Draws fromRect of the image (working space) into inRect of the current
    // draw framebuffer (pixels). False when nothing could be drawn: another
    // context is current, a kernel does not compile, an image cannot be read.
    bool drawImage(const CIImagePtr& image, CGRect inRect, CGRect fromRect);

    CGLContextObj cglContext() const { return cglContext_; }
    CGColorSpaceRef workingColorSpace() const { return colorSpace_; }
    // What this context has done so far, to show that work is not repeated.
    int programsCompiled() const { return programsCompiled_; }
    int bitmapsUploaded() const { return bitmapsUploaded_; }
    // Contexts made in this process so far.
    static long long contextsCreated();

private:
    struct Resources;
    CIContext() = default;
    CGLContextObj cglContext_ = nullptr;
    CGColorSpaceRef colorSpace_;
    std::unique_ptr<Resources> resources_;
    int programsCompiled_ = 0;
    int bitmapsUploaded_ = 0;
    bool plainSamplerReads_ = false;
};
