// The image layer's fast sampler reads (texture unit at texel centres, edges
// by sampler state, one read where the pixel sits) against its plain
// bounds-checked reads, value for value, for every way a sampler is set up
// and a draw is placed: edges, far outside, texel borders, scaled draws.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "GpuTestSupport.h"
#include "platform/coreimage/KernelProgram.h"

using namespace quillane::test;
namespace gl = quillane::gl;

namespace {

constexpr int kImageW = 7, kImageH = 5;

// Texel values that differ everywhere; two are not finite, so that a read
// on a texel centre beside them shows whether it blended them in.
std::vector<float> imagePixels() {
    std::vector<float> px(kImageW * kImageH * 4);
    for (std::size_t i = 0; i < px.size(); ++i) px[i] = 0.01f * static_cast<float>(i) + 0.003f * static_cast<float>(i % 7);
    px[(2 * kImageW + 3) * 4 + 0] = std::numeric_limits<float>::infinity();
    px[(1 * kImageW + 5) * 4 + 2] = std::numeric_limits<float>::quiet_NaN();
    return px;
}

bool sameValue(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

class SamplerReads : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = makeContext();
        ASSERT_TRUE(context_);
        CIContextOptions plain;
        plain.plainSamplerReads = true;
        fast_ = CIContext::contextWithCGLContext(CGLGetCurrentContext(), nullptr, nullptr, nullptr);
        plain_ = CIContext::contextWithCGLContext(CGLGetCurrentContext(), nullptr, nullptr, &plain);
        ASSERT_TRUE(fast_ && plain_);
        pixels_ = imagePixels();
        texture_ = makeTexture(kImageW, kImageH, pixels_.data());
        // A texture larger than the image made from it: the image ends before the texture does.
        std::vector<float> wider((kImageW + 2) * kImageH * 4, 9.0f);
        wider_ = makeTexture(kImageW + 2, kImageH, wider.data());
    }

    // The images a sampler may read: host textures as they are and flipped,
    // part of a texture, and bitmaps (stored top row first) in each orientation.
    std::vector<std::pair<std::string, CIImagePtr>> images() const {
        std::vector<unsigned char> bytes(pixels_.size() * sizeof(float));
        std::memcpy(bytes.data(), pixels_.data(), bytes.size());
        auto bitmap = CIImage::imageWithBitmapData(bytes, kImageW * 16, CGSizeMake(kImageW, kImageH), kCIFormatRGBAf,
                                                   nullptr);
        return {
            {"texture", CIImage::imageWithTexture(texture_.get(), CGSizeMake(kImageW, kImageH), false, nullptr)},
            {"flipped texture", CIImage::imageWithTexture(texture_.get(), CGSizeMake(kImageW, kImageH), true, nullptr)},
            {"part of a texture", CIImage::imageWithTexture(wider_.get(), CGSizeMake(kImageW, kImageH), false, nullptr)},
            {"bitmap", bitmap},
            {"bitmap mirrored", bitmap->imageByApplyingOrientation(2)},
            {"bitmap turned", bitmap->imageByApplyingOrientation(3)},
            {"bitmap upright", bitmap->imageByApplyingOrientation(4)},
        };
    }

    // Draws `image` through `kernelText` with both contexts; every value must agree.
    void expectSameDraws(const std::string& kernelText, const CIImagePtr& image, CISamplerOptions options,
                         const std::vector<CIKernelArgument>& extra, CGRect inRect, CGRect fromRect) {
        CIKernelPtr kernel = CIKernel::kernelWithString(kernelText);
        ASSERT_TRUE(kernel);
        std::vector<CIKernelArgument> arguments = {CISampler::samplerWithImage(image, options)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        CIImagePtr out = kernel->applyWithArguments(arguments, {CGRectMake(0, 0, 1, 1), nullptr});
        ASSERT_TRUE(out);
        std::vector<float> results[2];
        for (int plain : {0, 1}) {
            Target target(kTargetW, kTargetH, true);
            ASSERT_TRUE((plain ? plain_ : fast_)->drawImage(out, inRect, fromRect));
            results[plain] = target.readFloat();
        }
        for (std::size_t i = 0; i < results[0].size(); ++i)
            ASSERT_TRUE(sameValue(results[0][i], results[1][i]))
                << "pixel " << i / 4 % kTargetW << ", " << i / 4 / kTargetW << " channel " << i % 4 << ": fast "
                << results[0][i] << ", plain " << results[1][i];
    }

    static constexpr int kTargetW = 24, kTargetH = 20;
    std::unique_ptr<HeadlessGLContext> context_;
    std::shared_ptr<CIContext> fast_, plain_;
    std::vector<float> pixels_;
    gl::Texture texture_, wider_;
};

const CISamplerOptions kSetups[] = {
    {kCISamplerFilterLinear, kCISamplerWrapClamp, nullptr},
    {kCISamplerFilterLinear, kCISamplerWrapBlack, nullptr},
    {kCISamplerFilterNearest, kCISamplerWrapClamp, nullptr},
    {kCISamplerFilterNearest, kCISamplerWrapBlack, nullptr},
};

std::string setupName(const CISamplerOptions& o) {
    return std::string(o.filterMode == kCISamplerFilterLinear ? "linear" : "nearest") +
           (o.wrapMode == kCISamplerWrapBlack ? " black" : " clamp");
}

TEST_F(SamplerReads, FastReadsGiveThePlainReadsValuesAnywhereAndWhereThePixelSits) {
    // Reads anywhere: the destination pixel (x, y) reads at (x, y) * scale + offset.
    const char* const kernel = "kernel vec4 probe(sampler s, vec2 scale, vec2 offset) "
                               "{ return sample(s, destCoord() * scale + offset); }";
    struct Placement {
        const char* name;
        std::vector<double> scale, offset;
    } placements[] = {
        {"texel centres, the image and all round it", {1, 1}, {-8, -7}},
        {"texel borders", {1, 1}, {-8.5, -7.5}},
        {"between centres", {1, 1}, {-8.25, -6.875}},
        {"scaled down", {0.37, 0.41}, {-2, -2}},
        {"scaled up", {1.7, 1.3}, {-10, -8}},
        {"far outside", {1, 1}, {-10000.25, 20000}},
    };
    for (const auto& [name, image] : images())
        for (const CISamplerOptions& options : kSetups)
            for (const Placement& p : placements) {
                SCOPED_TRACE(name + ", " + setupName(options) + ", " + p.name);
                expectSameDraws(kernel, image, options, {p.scale, p.offset}, CGRectMake(0, 0, kTargetW, kTargetH),
                                CGRectMake(0, 0, kTargetW, kTargetH));
            }

    // Reads where the pixel sits, for every placement of the draw.
    const char* const here = "kernel vec4 here(sampler s) { return sample(s, samplerCoord(s)); }";
    const double w = kTargetW, h = kTargetH;
    struct Draw {
        const char* name;
        CGRect in, from;
    } draws[] = {
        {"as it is", CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)},
        {"moved by whole pixels", CGRectMake(0, 0, w, h), CGRectMake(-9, -6, w, h)},
        {"into part of the target", CGRectMake(3, 2, w - 5, h - 4), CGRectMake(-1, -2, w - 5, h - 4)},
        {"moved by a fraction", CGRectMake(0, 0, w, h), CGRectMake(-3.5, -2.25, w, h)},
        {"scaled", CGRectMake(0, 0, w, h), CGRectMake(-1, -1, w / 2.5, h / 3)},
    };
    for (const auto& [name, image] : images())
        for (const CISamplerOptions& options : kSetups)
            for (const Draw& d : draws) {
                SCOPED_TRACE(name + ", " + setupName(options) + ", " + d.name);
                expectSameDraws(here, image, options, {}, d.in, d.from);
            }
}

TEST(DrawPlacement, TexelCentresAndIdentityOnlyWhereTheMappingIsExact) {
    struct Case {
        CGRect in, from;
        bool centres, identity;
    } cases[] = {
        {CGRectMake(0, 0, 64, 32), CGRectMake(0, 0, 64, 32), true, true},
        {CGRectMake(5, 3, 64, 32), CGRectMake(5, 3, 64, 32), true, true},
        {CGRectMake(0, 0, 64, 32), CGRectMake(-7, 2, 64, 32), true, false},
        {CGRectMake(0, 0, 64, 32), CGRectMake(0.5, 0, 64, 32), false, false},
        {CGRectMake(0.5, 0, 64, 32), CGRectMake(0.5, 0, 64, 32), false, false},
        {CGRectMake(0, 0, 64, 32), CGRectMake(0, 0, 32, 32), false, false},
        {CGRectMake(0, 0, 64, 32), CGRectMake(0, 0, 64, 33), false, false},
        {CGRectMake(0, 0, 64, 32), CGRectMake(1 << 23, 0, 64, 32), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillane::ci::drawHitsTexelCentres(c.in, c.from), c.centres) << c.from.origin.x << " " << c.from.size.width;
        EXPECT_EQ(quillane::ci::drawIsIdentity(c.in, c.from), c.identity) << c.from.origin.x << " " << c.from.size.width;
    }
}

}  // namespace
