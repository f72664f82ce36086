#pragma once
// The image filter that grades a frame through a LUT on the GPU, and the LUT
// image it samples.
#include <functional>
#include <string>

#include "lut/Lut.h"
#include "platform/coreimage/CoreImage.h"

class QuillaneFilter : public CIFilter {
public:
    // The kernel made from the bundle's QuillaneFilter.cikernel. The text is
    // read on first use and kept; when it is missing or does not make a
    // kernel, nullptr, and the next call reads it again.
    static CIKernelPtr kernel();
    // The part of sampler `sampler`'s image read for destRect: destRect for
    // the frame, the whole LUT image for the LUT (empty without one).
    CGRect regionOf(int sampler, CGRect destRect) const;
    // The graded frame, or nullptr without inputImage, inputLUT or a kernel.
    CIImagePtr outputImage() const override;

    void setValue(const CIValue& value, const std::string& key) override;
    CIValue valueForKey(const std::string& key) const override;

    const CIImagePtr& inputImage() const { return inputImage_; }
    void setInputImage(CIImagePtr image) { inputImage_ = std::move(image); }
    const CIImagePtr& inputLUT() const { return inputLUT_; }
    void setInputLUT(CIImagePtr image) { inputLUT_ = std::move(image); }
    long long dimSize() const { return dimSize_; }
    void setDimSize(long long n) { dimSize_ = n; }
    double inputRange0() const { return inputRange0_; }
    void setInputRange0(double v) { inputRange0_ = v; }
    double inputRange1() const { return inputRange1_; }
    void setInputRange1(double v) { inputRange1_ = v; }

    // Where resources are found: (name, type) to a file path, empty when
    // there is none. The effect points it at its bundle.
    using ResourceLocator = std::function<std::string(const std::string& name, const std::string& type)>;
    static void setResourceLocator(ResourceLocator locator);

private:
    CIImagePtr inputImage_;
    CIImagePtr inputLUT_;
    long long dimSize_ = 0;
    double inputRange0_ = 0.0;
    double inputRange1_ = 1.0;
};

// The LUT as the filter's image: N texels wide, N*N high, four floats a texel,
// node (r, g, b) at column r and row b*N + g counted from the bottom. nullptr
// for an empty LUT.
CIImagePtr makeLutImage(const Lut& lut);
