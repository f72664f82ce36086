#pragma once
// One image context per OpenGL context, for the two contexts the effect drew
// into last. Making an image context is costly; hosts render from one or two
// contexts, so two is enough, and a third one replaces the older of the two.
#include <memory>
#include <vector>

#include "platform/cgl/CGL.h"
#include "platform/coreimage/CoreImage.h"
#include "platform/fxplug/FxPlug.h"

class CIFxPlugCacheItem {
public:
    // nullptr when the image context or the hue filter cannot be made.
    static std::shared_ptr<CIFxPlugCacheItem> initWithAPIManager(PROAPIAccessing* apiManager, CGLContextObj cglContext,
                                                                 CGColorSpaceRef colorSpace, FxRenderInfo info);
    ~CIFxPlugCacheItem();

    const std::shared_ptr<::CIContext>& ciContext() const { return _CIContext; }
    const std::shared_ptr<CIFilter>& filter() const { return _CIFilter; }
    CGLContextObj cglContext() const { return _CGLContext; }
    const std::shared_ptr<NSOpenGLPixelFormat>& pixelFormat() const { return _pixFormat; }

    // The zero-terminated pixel-format list made for the host's attributes
    // and the render's pixel depth.
    static std::vector<std::uint32_t> pixelFormatAttributes(const std::vector<unsigned>& hostAttributes,
                                                            unsigned depth);

private:
    CGLContextObj _CGLContext = nullptr;  // not owned: the host's
    std::shared_ptr<NSOpenGLPixelFormat> _pixFormat;
    std::shared_ptr<::CIContext> _CIContext;
    std::shared_ptr<CIFilter> _CIFilter;  // made with the item and handed out; the render does not use it
};

class CIFxPlugCache {
public:
    static constexpr std::size_t kCapacity = 2;
    // nullptr when the cache cannot be made.
    static std::shared_ptr<CIFxPlugCache> init();

    // The image context (and the item's filter) for cglContext, made on first
    // use. False, with *context left empty, when none can be made.
    bool CIContext(std::shared_ptr<::CIContext>* context, std::shared_ptr<CIFilter>* filter,
                   PROAPIAccessing* apiManager, CGLContextObj cglContext, CGColorSpaceRef colorSpace,
                   FxRenderInfo info);

    // The OpenGL contexts served, oldest first.
    std::vector<CGLContextObj> cachedContexts() const;

private:
    std::vector<std::shared_ptr<CIFxPlugCacheItem>> _cache;  // oldest first, at most kCapacity
};
