#include "plugin/CIFxPlugCache.h"

std::vector<std::uint32_t> CIFxPlugCacheItem::pixelFormatAttributes(const std::vector<unsigned>& hostAttributes,
                                                                    unsigned depth) {
    std::vector<std::uint32_t> list(hostAttributes.begin(), hostAttributes.end());
    list.push_back(NSOpenGLPFAColorSize);
    list.push_back(depth == kFxDepth_FLOAT32 ? 128 : depth == kFxDepth_FLOAT16 ? 64 : 32);
    if (depth != kFxDepth_UINT8) list.push_back(NSOpenGLPFAColorFloat);
    list.push_back(0);
    return list;
}

std::shared_ptr<CIFxPlugCacheItem> CIFxPlugCacheItem::initWithAPIManager(PROAPIAccessing* apiManager,
                                                                         CGLContextObj cglContext,
                                                                         CGColorSpaceRef colorSpace, FxRenderInfo info) {
    auto item = std::make_shared<CIFxPlugCacheItem>();
    item->_CGLContext = cglContext;
    FxHostCapabilities capabilities(apiManager);
    std::vector<std::uint32_t> attributes =
        pixelFormatAttributes(capabilities.glContextPixelFormatAttributes(), info.depth);
    item->_pixFormat = NSOpenGLPixelFormat::initWithAttributes(attributes.data());
    if (!item->_pixFormat) return nullptr;
    item->_CIContext = ::CIContext::contextWithCGLContext(cglContext, item->_pixFormat->CGLPixelFormatObj(),
                                                          std::move(colorSpace), nullptr);
    if (!item->_CIContext) return nullptr;
    item->_CIFilter = CIFilter::filterWithName("CIHueAdjust");
    if (!item->_CIFilter) return nullptr;
    return item;
}

CIFxPlugCacheItem::~CIFxPlugCacheItem() {
    _CIFilter.reset();
    _CIContext.reset();
    _pixFormat.reset();
    _CGLContext = nullptr;
}

std::shared_ptr<CIFxPlugCache> CIFxPlugCache::init() {
    auto cache = std::make_shared<CIFxPlugCache>();
    cache->_cache.reserve(kCapacity);
    return cache;
}

bool CIFxPlugCache::CIContext(std::shared_ptr<::CIContext>* context, std::shared_ptr<CIFilter>* filter,
                              PROAPIAccessing* apiManager, CGLContextObj cglContext, CGColorSpaceRef colorSpace,
                              FxRenderInfo info) {
    for (const auto& item : _cache) {
        if (item->cglContext() == cglContext) {
            if (context) *context = item->ciContext();
            if (filter) *filter = item->filter();
            return true;
        }
    }
    auto item = CIFxPlugCacheItem::initWithAPIManager(apiManager, cglContext, std::move(colorSpace), info);
    if (!item) {
        if (context) context->reset();
        return false;
    }
    while (_cache.size() >= kCapacity) _cache.erase(_cache.begin());
    _cache.push_back(item);
    if (context) *context = item->ciContext();
    if (filter) *filter = item->filter();
    return true;
}

std::vector<CGLContextObj> CIFxPlugCache::cachedContexts() const {
    std::vector<CGLContextObj> out;
    for (const auto& item : _cache) out.push_back(item->cglContext());
    return out;
}
