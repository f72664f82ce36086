// The image-context cache: one image context per OpenGL context, for the two
// most recent ones.
#include <gtest/gtest.h>

#include "GpuTestSupport.h"
#include "plugin/CIFxPlugCache.h"

using namespace quillane::test;
namespace gl = quillane::gl;

namespace {

class Capabilities : public FxHostCapabilitiesAPI {
public:
    std::vector<unsigned> glContextPixelFormatAttributes() override { return {73, 12, 24}; }  // accelerated, depth 24
};

class ApiManager : public PROAPIAccessing {
public:
    bool offerCapabilities = true;
    FxHostAPI* apiForProtocol(FxProtocol protocol) override {
        return protocol == FxProtocol::HostCapabilities && offerCapabilities ? &capabilities_ : nullptr;
    }

private:
    Capabilities capabilities_;
};

// Asks the cache for the context of whatever is current; true when that made a new one.
bool madeNewContext(CIFxPlugCache& cache, ApiManager& api, const HeadlessGLContext& gl) {
    EXPECT_TRUE(gl.makeCurrent());
    const long long before = CIContext::contextsCreated();
    std::shared_ptr<CIContext> context;
    std::shared_ptr<CIFilter> filter;
    FxRenderInfo info;
    EXPECT_TRUE(cache.CIContext(&context, &filter, &api, CGLGetCurrentContext(),
                                CGColorSpaceCreateWithName(kCGColorSpaceITUR_709), info));
    EXPECT_TRUE(context && filter && context->cglContext() == gl.cglContext());
    return CIContext::contextsCreated() != before;
}

TEST(GpuContextCache, KeepsTheTwoMostRecentContexts) {
    auto a = makeContext(), b = makeContext(), c = makeContext();
    ASSERT_TRUE(a && b && c);
    ApiManager api;
    auto cache = CIFxPlugCache::init();
    ASSERT_TRUE(cache);

    // Two contexts: made once each, then reused.
    EXPECT_TRUE(madeNewContext(*cache, api, *a));
    EXPECT_TRUE(madeNewContext(*cache, api, *b));
    for (int frame = 0; frame < 6; ++frame) {
        EXPECT_FALSE(madeNewContext(*cache, api, *a)) << frame;
        EXPECT_FALSE(madeNewContext(*cache, api, *b)) << frame;
    }
    // Three in turn: each change finds its context dropped and makes it anew.
    for (int round = 0; round < 3; ++round) {
        EXPECT_TRUE(madeNewContext(*cache, api, *c)) << round;
        EXPECT_TRUE(madeNewContext(*cache, api, *a)) << round;
        EXPECT_TRUE(madeNewContext(*cache, api, *b)) << round;
    }
    EXPECT_EQ(cache->cachedContexts(), (std::vector<CGLContextObj>{a->cglContext(), b->cglContext()}));

    // No OpenGL context: nothing is made and nothing is dropped.
    std::shared_ptr<CIContext> none;
    EXPECT_FALSE(cache->CIContext(&none, nullptr, &api, nullptr, nullptr, FxRenderInfo{}));
    EXPECT_FALSE(none);
    EXPECT_EQ(cache->cachedContexts().size(), 2u);

    // Dropping an item whose OpenGL context is already gone must not touch it.
    c.reset();
    ASSERT_TRUE(a->makeCurrent());
    EXPECT_FALSE(madeNewContext(*cache, api, *a));
}

TEST(GpuContextCache, PixelFormatFollowsTheRenderDepth) {
    using List = std::vector<std::uint32_t>;
    EXPECT_EQ(CIFxPlugCacheItem::pixelFormatAttributes({73, 12, 24}, kFxDepth_FLOAT32), (List{73, 12, 24, 8, 128, 58, 0}));
    EXPECT_EQ(CIFxPlugCacheItem::pixelFormatAttributes({}, kFxDepth_FLOAT16), (List{8, 64, 58, 0}));
    EXPECT_EQ(CIFxPlugCacheItem::pixelFormatAttributes({}, kFxDepth_UINT8), (List{8, 32, 0}));

    auto gl = makeContext();
    ASSERT_TRUE(gl);
    ApiManager api;
    FxRenderInfo info;
    info.depth = kFxDepth_FLOAT32;
    auto item = CIFxPlugCacheItem::initWithAPIManager(&api, gl->cglContext(), nullptr, info);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->pixelFormat()->colorSize(), 128);
    EXPECT_EQ(item->pixelFormat()->attribute(12), 24u);  // the host's own attributes come first
    // A host without capabilities still gets a context.
    api.offerCapabilities = false;
    info.depth = kFxDepth_UINT8;
    item = CIFxPlugCacheItem::initWithAPIManager(&api, gl->cglContext(), nullptr, info);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->pixelFormat()->colorSize(), 32);
    EXPECT_FALSE(item->pixelFormat()->isFloat());
    EXPECT_FALSE(CIFxPlugCacheItem::initWithAPIManager(&api, nullptr, nullptr, info));
    EXPECT_FALSE(NSOpenGLPixelFormat::initWithAttributes(nullptr));
}

}  // namespace
