// The GPU filter against the CPU applier, and the image layer under it, on a
// real OpenGL context (Mesa, surfaceless EGL).
#include <gtest/gtest.h>

#include "GpuTestSupport.h"
#include "lut/MathClass.h"
#include "plugin/LutFilterConstructor.h"
#include "plugin/QuillaneFilter.h"

using namespace quillane::test;
namespace gl = quillane::gl;

namespace {

class GpuFilter : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = makeContext();
        ASSERT_TRUE(context_);
        QuillaneFilter::setResourceLocator([](const std::string&, const std::string&) {
            return std::string(QUILLANE_SOURCE_DIR) + "/plugin/QuillaneFilter.cikernel";
        });
        ci_ = CIContext::contextWithCGLContext(CGLGetCurrentContext(), nullptr,
                                               CGColorSpaceCreateWithName(kCGColorSpaceITUR_709), nullptr);
        ASSERT_TRUE(ci_);
    }
    void TearDown() override { ci_.reset(); }

    // Grades a w x h texture into the bound target through QuillaneFilter.
    bool grade(GLuint texture, int w, int h, const CIImagePtr& lutImage, const Lut& lut) {
        auto filter = CIFilter::filterWithName("QuillaneFilter");
        if (!filter) return false;
        auto source = CIImage::imageWithTexture(texture, CGSizeMake(w, h), false, nullptr);
        filter->setValue(source, "inputImage");
        filter->setValue(lutImage, "inputLUT");
        filter->setValue(static_cast<long long>(lut.getDimSize()), "dimSize");
        filter->setValue(static_cast<double>(lut.getInputRange0()), "inputRange0");
        filter->setValue(static_cast<double>(lut.getInputRange1()), "inputRange1");
        auto out = filter->valueForKey("outputImage");
        auto image = std::get_if<CIImagePtr>(&out);
        if (!image || !*image) return false;
        return ci_->drawImage(*image, CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h));
    }

    std::unique_ptr<HeadlessGLContext> context_;
    std::shared_ptr<CIContext> ci_;
};

// The CPU applier's result for the same RGBA pixels, through the LUT's range.
template <typename T>
std::vector<float> cpuReference(const std::vector<T>& px, const Lut& lut) {
    std::vector<float> out(px.size());
    applyLutCPUTrilinear(px.data(), out.data(), lut.getData(), lut.getInputRange0(), lut.getInputRange1(), true,
                         static_cast<unsigned char>(lut.getDimSize()), static_cast<int>(px.size() / 4), 4);
    return out;
}

// Random colours, the ends of the range, every node of the LUT exactly, and
// (for float frames) colours outside 0..1. Padded to whole rows of 64.
std::vector<float> testPixels(int n, bool withOutOfRange, unsigned seed) {
    std::vector<float> px;
    auto add = [&](float r, float g, float b) { px.insert(px.end(), {r, g, b, 0.5f}); };
    add(0, 0, 0);
    add(1, 1, 1);
    add(0, 1, 0.5f);
    for (int k = 0; k < n; ++k) {
        float v = static_cast<float>(k) / static_cast<float>(n - 1);
        add(v, v, v);
        add(v, 1 - v, v * 0.5f);
    }
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 600; ++i) add(u(rng), u(rng), u(rng));
    for (float o : {-0.05f, -0.01f, 1.0001f, 1.05f, 1.25f, 4.0f, 100.0f}) {
        if (!withOutOfRange) break;
        add(o, 0.3f, 0.7f);
        add(0.2f, o, 0.9f);
        add(0.6f, 0.1f, o);
    }
    px.resize((px.size() + 255) / 256 * 256, 0.25f);
    return px;
}

TEST_F(GpuFilter, FramesMatchTheCpuApplierFloatWithin1e5And8BitWithinOneCode) {
    struct Range { float lo, hi; };
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    int tiled = 2;  // the first N whose LUT image is taller than one texture, if any
    while (tiled * tiled <= maxSize && tiled < 255) ++tiled;
    for (int n : {2, 17, 33, 65, tiled}) {
        for (Range range : {Range{0.0f, 1.0f}, Range{-0.125f, 1.125f}, Range{0.0f, 0.5f}, Range{0.25f, 0.75f}}) {
            SCOPED_TRACE("N=" + std::to_string(n) + " range " + std::to_string(range.lo) + ".." + std::to_string(range.hi));
            Lut lut = randomLut(n, range.lo, range.hi, 7u * n);
            CIImagePtr lutImage = makeLutImage(lut);
            ASSERT_TRUE(lutImage);

            std::vector<float> px = testPixels(n, true, n);
            const int w = 64, h = static_cast<int>(px.size() / 4 / w);
            gl::Texture input = makeTexture(w, h, px.data());
            Target target(w, h, true);
            ASSERT_TRUE(grade(input.get(), w, h, lutImage, lut));
            std::vector<float> gpu = target.readFloat(), cpu = cpuReference(px, lut);
            for (std::size_t i = 0; i < cpu.size(); ++i)
                ASSERT_LE(std::fabs(gpu[i] - cpu[i]), 1e-5f * std::fmax(1.0f, std::fabs(cpu[i]))) << "component " << i;

            // 8-bit: the same colours as bytes, after a grey row of every code.
            std::vector<unsigned char> bytes(256 * 4);
            for (int v = 0; v < 256 * 4; ++v) bytes[v] = static_cast<unsigned char>(v % 4 == 3 ? 255 : v / 4);
            for (float v : px) bytes.push_back(static_cast<unsigned char>(toByte(v)));
            gl::Texture byteInput = makeTexture(w, static_cast<int>(bytes.size() / 4 / w), bytes.data());
            Target byteTarget(w, static_cast<int>(bytes.size() / 4 / w), false);
            ASSERT_TRUE(grade(byteInput.get(), byteTarget.width, byteTarget.height, lutImage, lut));
            std::vector<unsigned char> gpuBytes = byteTarget.readBytes();
            std::vector<float> cpuBytes = cpuReference(bytes, lut);
            for (std::size_t i = 0; i < cpuBytes.size(); ++i)
                ASSERT_LE(std::abs(static_cast<int>(gpuBytes[i]) - toByte(cpuBytes[i])), 1) << "byte " << i;
        }
    }
}

TEST_F(GpuFilter, LutImageHoldsNodeRGBAtColumnRRowBNPlusGFromTheBottom) {
    const int n = 3;
    std::vector<float> nodes(n * n * n * 4);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                float* node = &nodes[lutNodeOffset(n, r, g, b)];
                node[0] = r * 0.1f + 0.05f, node[1] = g * 0.1f, node[2] = b * 0.1f, node[3] = 1.0f;
            }
    Lut lut(nodes, n, 0.0f, 1.0f);
    CIImagePtr image = makeLutImage(lut);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->extent(), CGRectMake(0, 0, n, n * n));
    EXPECT_EQ(image->colorSpace()->name, kCGColorSpaceLinearSRGB);
    // Drawn with a margin of one texel all round: outside the image is black.
    const int w = n + 2, h = n * n + 2;
    Target target(w, h, true);
    ASSERT_TRUE(ci_->drawImage(image, CGRectMake(0, 0, w, h), CGRectMake(-1, -1, w, h)));
    std::vector<float> texels = target.readFloat();  // row 0 is the bottom
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float* t = &texels[(y * w + x) * 4];
            const int r = x - 1, g = (y - 1) % n, b = (y - 1) / n;
            if (r < 0 || r >= n || y < 1 || y > n * n) {
                EXPECT_EQ(t[0] + t[1] + t[2] + t[3], 0.0f) << x << ", " << y;
                continue;
            }
            EXPECT_FLOAT_EQ(t[0], r * 0.1f + 0.05f);
            EXPECT_FLOAT_EQ(t[1], g * 0.1f);
            EXPECT_FLOAT_EQ(t[2], b * 0.1f);
        }

    EXPECT_FALSE(makeLutImage(Lut()));
    // Without a LUT or a frame there is nothing to grade.
    QuillaneFilter filter;
    EXPECT_FALSE(filter.outputImage());
    filter.setInputLUT(image);
    EXPECT_FALSE(filter.outputImage());
    EXPECT_EQ(filter.regionOf(1, CGRectMake(5, 5, 10, 10)), CGRectMake(0, 0, n, n * n));
    EXPECT_EQ(filter.regionOf(0, CGRectMake(5, 5, 10, 10)), CGRectMake(5, 5, 10, 10));
    filter.setInputLUT(nullptr);
    EXPECT_EQ(filter.regionOf(1, CGRectMake(5, 5, 10, 10)), CGRectMake(0, 0, 0, 0));
}

TEST_F(GpuFilter, FramesDrawnWithoutAFilterArriveUnchangedOutOfRangeIncluded) {
    const int w = 37, h = 23;
    std::vector<float> px(w * h * 4);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-0.5f, 2.0f);
    for (float& v : px) v = u(rng);
    gl::Texture texture = makeTexture(w, h, px.data());
    for (bool flipped : {false, true}) {
        Target target(w, h, true);
        ASSERT_TRUE(ci_->drawImage(CIImage::imageWithTexture(texture.get(), CGSizeMake(w, h), flipped, nullptr),
                                   CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)));
        std::vector<float> out = target.readFloat();
        for (int y = 0; y < h; ++y)  // a flipped texture comes out upside down
            ASSERT_TRUE(std::equal(&out[y * w * 4], &out[(y + 1) * w * 4], &px[(flipped ? h - 1 - y : y) * w * 4]))
                << "row " << y << (flipped ? " flipped" : "");
    }
}

TEST_F(GpuFilter, ProgramsCompileAndLutsUploadOncePerContext) {
    Lut lut = randomLut(17, 0.0f, 1.0f, 2);
    CIImagePtr lutImage = makeLutImage(lut);
    std::vector<float> px(16 * 16 * 4, 0.5f);
    gl::Texture input = makeTexture(16, 16, px.data());
    Target target(16, 16, true);
    for (int frame = 0; frame < 5; ++frame) ASSERT_TRUE(grade(input.get(), 16, 16, lutImage, lut));
    EXPECT_EQ(ci_->programsCompiled(), 1);
    EXPECT_EQ(ci_->bitmapsUploaded(), 1);
    CIImagePtr other = makeLutImage(randomLut(17, 0.0f, 1.0f, 3));
    for (int frame = 0; frame < 3; ++frame) ASSERT_TRUE(grade(input.get(), 16, 16, other, lut));
    EXPECT_EQ(ci_->programsCompiled(), 1);
    EXPECT_EQ(ci_->bitmapsUploaded(), 2);
    // A drawing context only draws in its own OpenGL context.
    auto second = makeContext();
    EXPECT_FALSE(ci_->drawImage(lutImage, CGRectMake(0, 0, 1, 1), CGRectMake(0, 0, 1, 1)));
    ASSERT_TRUE(context_->makeCurrent());
}

TEST(GpuFilterRegistry, FiltersAreMadeByName) {
    auto& constructor = LutFilterConstructor::constructor();
    EXPECT_TRUE(std::dynamic_pointer_cast<QuillaneFilter>(constructor.filterWithName("QuillaneFilter")));
    EXPECT_FALSE(constructor.filterWithName("NoSuchFilter"));
    EXPECT_FALSE(CIFilter::filterWithName("NoSuchFilter"));
}

}  // namespace
