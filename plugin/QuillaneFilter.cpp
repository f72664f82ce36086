#include "plugin/QuillaneFilter.h"

#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

// Process-wide: the kernel text (kept once read successfully) and where
// resources come from.
struct KernelSource {
    std::mutex mutex;
    std::string text;
    QuillaneFilter::ResourceLocator locator;
};

KernelSource& kernelSource() {
    static KernelSource source;
    return source;
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    if (!in.good() && !in.eof()) return false;
    out = text.str();
    return true;
}

// Filters are made by class name, like the platform's runtime does.
const bool registered = [] {
    CIFilter::registerFilterName("QuillaneFilter", [] { return std::make_shared<QuillaneFilter>(); });
    return true;
}();

}  // namespace

void QuillaneFilter::setResourceLocator(ResourceLocator locator) {
    std::lock_guard<std::mutex> lock(kernelSource().mutex);
    kernelSource().locator = std::move(locator);
}

CIKernelPtr QuillaneFilter::kernel() {
    (void)registered;
    KernelSource& source = kernelSource();
    std::lock_guard<std::mutex> lock(source.mutex);
    if (source.text.empty()) {
        std::string path = source.locator ? source.locator("QuillaneFilter", "cikernel") : std::string();
        if (path.empty() || !readFile(path, source.text)) source.text.clear();
        if (source.text.empty()) return nullptr;
    }
    // A fresh kernel object each time (the translation behind it is cached):
    // each filter sets its own region of interest on it.
    CIKernelPtr made = CIKernel::kernelWithString(source.text);
    // A text that makes no kernel is not kept: a repaired resource is picked
    // up by the next frame instead of failing for the rest of the process.
    if (!made) source.text.clear();
    return made;
}

CGRect QuillaneFilter::regionOf(int sampler, CGRect destRect) const {
    if (sampler == 0) return destRect;
    return inputLUT_ ? inputLUT_->extent() : CGRectMake(0, 0, 0, 0);
}

CIImagePtr QuillaneFilter::outputImage() const {
    if (!inputImage_ || !inputLUT_) return nullptr;
    CGColorSpaceRef rec709 = CGColorSpaceCreateWithName(kCGColorSpaceITUR_709);
    CISamplerPtr source = CISampler::samplerWithImage(inputImage_, {kCISamplerFilterLinear, kCISamplerWrapClamp, rec709});
    CISamplerPtr lut = CISampler::samplerWithImage(inputLUT_, {kCISamplerFilterNearest, kCISamplerWrapBlack, nullptr});
    const CGRect extent = inputImage_->extent();
    CIKernelPtr k = kernel();
    if (!k) return nullptr;
    // The kernel may outlive this filter: its region of interest asks a copy.
    k->setROISelector([self = *this](int sampler, CGRect destRect) { return self.regionOf(sampler, destRect); });
    return apply(*k, {source, lut, static_cast<double>(dimSize_), inputRange0_, inputRange1_}, {extent, rec709});
}

void QuillaneFilter::setValue(const CIValue& value, const std::string& key) {
    if (key == "inputImage") {
        auto image = std::get_if<CIImagePtr>(&value);
        inputImage_ = image ? *image : nullptr;
    } else if (key == "inputLUT") {
        auto image = std::get_if<CIImagePtr>(&value);
        inputLUT_ = image ? *image : nullptr;
    } else if (key == "dimSize") {
        dimSize_ = static_cast<long long>(CIValueAsDouble(value));
    } else if (key == "inputRange0") {
        inputRange0_ = CIValueAsDouble(value);
    } else if (key == "inputRange1") {
        inputRange1_ = CIValueAsDouble(value, 1.0);
    } else {
        CIFilter::setValue(value, key);
    }
}

CIValue QuillaneFilter::valueForKey(const std::string& key) const {
    if (key == "inputImage") return inputImage_;
    if (key == "inputLUT") return inputLUT_;
    if (key == "dimSize") return dimSize_;
    if (key == "inputRange0") return inputRange0_;
    if (key == "inputRange1") return inputRange1_;
    return CIFilter::valueForKey(key);
}

CIImagePtr makeLutImage(const Lut& lut) {
    const int n = lut.getDimSize();
    if (!lut.isLoaded() || n <= 0 || !lut.getData()) return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(lut.totalSize()) * 4 * sizeof(float);
    std::vector<unsigned char> copy(bytes);
    std::memcpy(copy.data(), lut.getData(), bytes);
    // The node array in memory order is rows of N nodes (green, then blue,
    // stepping from row to row) with the first row on top; mirrored top to
    // bottom, row b*N + g counts from the bottom as the kernel reads it.
    CIImagePtr image = CIImage::imageWithBitmapData(std::move(copy), 16 * static_cast<std::size_t>(n),
                                                    CGSizeMake(n, static_cast<double>(n) * n), kCIFormatRGBAf,
                                                    CGColorSpaceCreateWithName(kCGColorSpaceLinearSRGB));
    return image ? image->imageByApplyingOrientation(4) : nullptr;
}
