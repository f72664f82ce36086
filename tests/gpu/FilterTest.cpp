// The GPU filter against the CPU applier, and the image layer under it, on a
// real OpenGL context (Mesa, surfaceless EGL).
#include <gtest/gtest.h>

#include <fstream>

#include "GpuTestSupport.h"
#include "TempDir.h"
#include "lut/MathClass.h"
#include "plugin/LutFilterConstructor.h"
#include "plugin/QuillaneFilter.h"

using namespace quillane::test;
namespace gl = quillane::gl;

namespace {

const std::string kKernelPath = std::string(QUILLANE_SOURCE_DIR) + "/plugin/QuillaneFilter.cikernel";

void useKernelAt(const std::string& path) {
    QuillaneFilter::setResourceLocator([path](const std::string& name, const std::string& type) {
        return name == "QuillaneFilter" && type == "cikernel" ? path : std::string();
    });
    QuillaneFilter::forgetKernelText();
}

class GpuFilter : public ::testing::Test {
protected:
    void SetUp() override {
        context_ = makeContext();
        ASSERT_TRUE(context_);
        useKernelAt(kKernelPath);
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
// (for float frames) colours a little outside 0..1.
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
    if (withOutOfRange) {
        for (float o : {-0.05f, -0.01f, 1.0001f, 1.05f, 1.25f, 4.0f, 100.0f}) {
            add(o, 0.3f, 0.7f);
            add(0.2f, o, 0.9f);
            add(0.6f, 0.1f, o);
        }
        add(-0.01f, -0.02f, -0.01f);
        add(1.2f, 1.1f, 1.3f);
    }
    return px;
}

TEST_F(GpuFilter, FloatFramesMatchTheCpuApplier) {
    struct Range { float lo, hi; };
    float worst = 0;
    for (int n : {2, 17, 33, 65}) {
        for (Range range : {Range{0.0f, 1.0f}, Range{-0.125f, 1.125f}, Range{0.0f, 0.5f}}) {
            SCOPED_TRACE("N=" + std::to_string(n) + " range " + std::to_string(range.lo) + ".." + std::to_string(range.hi));
            Lut lut = randomLut(n, range.lo, range.hi, 7u * n);
            CIImagePtr lutImage = makeLutImage(lut);
            ASSERT_TRUE(lutImage);
            std::vector<float> px = testPixels(n, true, n);
            const int w = 64, h = static_cast<int>((px.size() / 4 + w - 1) / w);
            px.resize(static_cast<std::size_t>(w) * h * 4, 0.25f);
            gl::Texture input = makeTexture(w, h, px.data());
            Target target(w, h, true);
            ASSERT_TRUE(grade(input.get(), w, h, lutImage, lut));
            std::vector<float> gpu = target.readFloat();
            std::vector<float> cpu = cpuReference(px, lut);
            int bad = 0;
            for (std::size_t i = 0; i < cpu.size(); ++i) {
                const float err = std::fabs(gpu[i] - cpu[i]) / std::fmax(1.0f, std::fabs(cpu[i]));
                worst = std::fmax(worst, err);
                if (err > 1e-5f && bad++ < 5)
                    ADD_FAILURE() << "pixel " << i / 4 << " channel " << i % 4 << " in (" << px[i / 4 * 4] << ", "
                                  << px[i / 4 * 4 + 1] << ", " << px[i / 4 * 4 + 2] << "): gpu " << gpu[i]
                                  << " cpu " << cpu[i];
            }
        }
    }
    RecordProperty("worst_error", std::to_string(worst));
    std::printf("largest difference to the CPU applier (float): %.3g\n", worst);
}

TEST_F(GpuFilter, EightBitFramesMatchTheCpuApplierWithinOneCode) {
    for (int n : {2, 17, 33, 65}) {
        for (float hi : {1.0f, 0.5f, 1.125f}) {
            const float lo = hi == 1.125f ? -0.125f : 0.0f;
            SCOPED_TRACE("N=" + std::to_string(n) + " hi " + std::to_string(hi));
            Lut lut = randomLut(n, lo, hi, 11u * n);
            CIImagePtr lutImage = makeLutImage(lut);
            const int w = 256, h = 4;
            std::vector<unsigned char> px(static_cast<std::size_t>(w) * h * 4);
            std::mt19937 rng(n);
            for (std::size_t i = 0; i < px.size(); ++i) px[i] = static_cast<unsigned char>(rng());
            for (int v = 0; v < 256; ++v) {  // every code on the first row, grey
                px[v * 4] = px[v * 4 + 1] = px[v * 4 + 2] = static_cast<unsigned char>(v);
            }
            gl::Texture input = makeTexture(w, h, px.data());
            Target target(w, h, false);
            ASSERT_TRUE(grade(input.get(), w, h, lutImage, lut));
            std::vector<unsigned char> gpu = target.readBytes();
            std::vector<float> cpu = cpuReference(px, lut);
            int bad = 0;
            for (std::size_t i = 0; i < cpu.size(); ++i)
                if (std::abs(static_cast<int>(gpu[i]) - toByte(cpu[i])) > 1 && bad++ < 5)
                    ADD_FAILURE() << "byte " << i << ": gpu " << int(gpu[i]) << " cpu " << toByte(cpu[i]);
        }
    }
}

TEST_F(GpuFilter, LutTallerThanTheDriverAllowsIsStillRead) {
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    int n = 2;
    while (n * n <= maxSize && n < 255) ++n;  // the first N whose image is taller than one texture
    if (n * n <= maxSize) GTEST_SKIP() << "driver takes every LUT height";
    Lut lut = randomLut(n, 0.0f, 1.0f, 5);
    std::vector<float> px = testPixels(n, false, 3);
    const int w = 64, h = static_cast<int>(px.size() / 4 / w);
    px.resize(static_cast<std::size_t>(w) * h * 4);
    gl::Texture input = makeTexture(w, h, px.data());
    Target target(w, h, true);
    ASSERT_TRUE(grade(input.get(), w, h, makeLutImage(lut), lut));
    std::vector<float> gpu = target.readFloat(), cpu = cpuReference(px, lut);
    for (std::size_t i = 0; i < cpu.size(); ++i) ASSERT_NEAR(gpu[i], cpu[i], 1e-5) << "component " << i;
}

TEST_F(GpuFilter, LutImageHoldsNodeRGBAtColumnRRowBNPlusGFromTheBottom) {
    const int n = 3;
    std::vector<float> nodes(n * n * n * 4);
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                float* node = &nodes[lutNodeOffset(n, r, g, b)];
                node[0] = r * 0.1f, node[1] = g * 0.1f, node[2] = b * 0.1f, node[3] = 1.0f;
            }
    Lut lut(nodes, n, 0.0f, 1.0f);
    CIImagePtr image = makeLutImage(lut);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->extent(), CGRectMake(0, 0, n, n * n));
    EXPECT_EQ(image->colorSpace()->name, kCGColorSpaceLinearSRGB);
    Target target(n, n * n, true);
    ASSERT_TRUE(ci_->drawImage(image, CGRectMake(0, 0, n, n * n), image->extent()));
    std::vector<float> texels = target.readFloat();  // row 0 is the bottom
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                const float* t = &texels[((b * n + g) * n + r) * 4];
                EXPECT_FLOAT_EQ(t[0], r * 0.1f);
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

TEST_F(GpuFilter, FramesDrawnWithoutAFilterArriveUnchanged) {
    const int w = 37, h = 23;
    std::vector<float> fpx(w * h * 4);
    std::vector<unsigned char> bpx(w * h * 4);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-0.5f, 2.0f);
    for (std::size_t i = 0; i < fpx.size(); ++i) fpx[i] = u(rng), bpx[i] = static_cast<unsigned char>(rng());
    gl::Texture ftex = makeTexture(w, h, fpx.data());
    gl::Texture btex = makeTexture(w, h, bpx.data());
    Target ftarget(w, h, true);
    ASSERT_TRUE(ci_->drawImage(CIImage::imageWithTexture(ftex.get(), CGSizeMake(w, h), false, nullptr),
                               CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)));
    EXPECT_EQ(ftarget.readFloat(), fpx);
    Target btarget(w, h, false);
    ASSERT_TRUE(ci_->drawImage(CIImage::imageWithTexture(btex.get(), CGSizeMake(w, h), false, nullptr),
                               CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)));
    EXPECT_EQ(btarget.readBytes(), bpx);
    // A flipped texture comes out upside down.
    Target flipped(w, h, true);
    ASSERT_TRUE(ci_->drawImage(CIImage::imageWithTexture(ftex.get(), CGSizeMake(w, h), true, nullptr),
                               CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)));
    std::vector<float> out = flipped.readFloat();
    EXPECT_EQ(out[0], fpx[(h - 1) * w * 4]);
    // The hue filter turned by 0 leaves colours as they are.
    auto hue = CIFilter::filterWithName("CIHueAdjust");
    ASSERT_TRUE(hue);
    hue->setValue(CIImage::imageWithTexture(ftex.get(), CGSizeMake(w, h), false, nullptr), "inputImage");
    hue->setValue(0.0, "inputAngle");
    Target hueTarget(w, h, true);
    ASSERT_TRUE(ci_->drawImage(hue->outputImage(), CGRectMake(0, 0, w, h), CGRectMake(0, 0, w, h)));
    std::vector<float> hued = hueTarget.readFloat();
    for (std::size_t i = 0; i < hued.size(); ++i) ASSERT_NEAR(hued[i], fpx[i], 1e-5);
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

TEST_F(GpuFilter, MissingOrBrokenKernelTextFailsUntilRepaired) {
    TempDir dir;
    const std::string path = dir.file("QuillaneFilter.cikernel");
    useKernelAt(path);  // not there yet
    EXPECT_FALSE(QuillaneFilter::kernel());
    Lut lut = randomLut(2, 0.0f, 1.0f, 1);
    QuillaneFilter filter;
    std::vector<float> px(4 * 4 * 4, 0.5f);
    gl::Texture input = makeTexture(4, 4, px.data());
    filter.setInputImage(CIImage::imageWithTexture(input.get(), CGSizeMake(4, 4), false, nullptr));
    filter.setInputLUT(makeLutImage(lut));
    filter.setDimSize(2);
    EXPECT_FALSE(filter.outputImage());

    for (const char* broken : {"", "not a kernel at all", "kernel vec4 k(sampler a, mat3 m) { return vec4(0.0); }",
                               "kernel vec4 k(sampler a, sampler b, float n, float lo, float hi) { return nope; }"}) {
        std::ofstream(path) << broken;
        EXPECT_FALSE(QuillaneFilter::kernel()) << broken;
        EXPECT_FALSE(filter.outputImage()) << broken;
    }
    std::ifstream good(kKernelPath);
    std::ofstream(path) << good.rdbuf();
    EXPECT_TRUE(QuillaneFilter::kernel());
    Target target(4, 4, true);
    auto image = filter.outputImage();
    ASSERT_TRUE(image);
    EXPECT_TRUE(ci_->drawImage(image, CGRectMake(0, 0, 4, 4), CGRectMake(0, 0, 4, 4)));
}

TEST(GpuFilterRegistry, FiltersAreMadeByName) {
    EXPECT_TRUE(std::dynamic_pointer_cast<QuillaneFilter>(CIFilter::filterWithName("QuillaneFilter")));
    EXPECT_TRUE(CIFilter::filterWithName("CIHueAdjust"));
    EXPECT_FALSE(CIFilter::filterWithName("NoSuchFilter"));
    auto& constructor = LutFilterConstructor::constructor();
    EXPECT_EQ(&constructor, &LutFilterConstructor::constructor());
    EXPECT_TRUE(std::dynamic_pointer_cast<QuillaneFilter>(constructor.filterWithName("QuillaneFilter")));
    EXPECT_FALSE(constructor.filterWithName("NoSuchFilter"));

    QuillaneFilter f;
    f.setValue(33LL, "dimSize");
    f.setValue(0.5, "inputRange1");
    EXPECT_EQ(f.dimSize(), 33);
    EXPECT_EQ(std::get<double>(f.valueForKey("inputRange1")), 0.5);
    EXPECT_EQ(std::get<long long>(f.valueForKey("dimSize")), 33);
}

}  // namespace
