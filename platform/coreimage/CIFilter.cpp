#include "platform/coreimage/CoreImage.h"

#include <mutex>

namespace {

// Turns the colours around the grey axis by inputAngle (radians).
const char* const kHueAdjustKernel = R"(
kernel vec4 hueAdjust(sampler image, float angle)
{
    vec4 p = sample(image, samplerCoord(image));
    vec3 axis = vec3(0.5773502692);
    float c = cos(angle);
    vec3 rgb = p.rgb * c + cross(axis, p.rgb) * sin(angle) + axis * dot(axis, p.rgb) * (1.0 - c);
    return vec4(rgb, p.a);
}
)";

class HueAdjustFilter : public CIFilter {
public:
    CIImagePtr outputImage() const override {
        auto in = values_.find("inputImage");
        if (in == values_.end() || !std::holds_alternative<CIImagePtr>(in->second)) return nullptr;
        const CIImagePtr& image = std::get<CIImagePtr>(in->second);
        auto angle = values_.find("inputAngle");
        CIKernelPtr kernel = CIKernel::kernelWithString(kHueAdjustKernel);
        if (!image || !kernel) return nullptr;
        return apply(*kernel,
                     {CISampler::samplerWithImage(image),
                      angle == values_.end() ? 0.0 : CIValueAsDouble(angle->second)},
                     {image->extent(), image->colorSpace()});
    }
};

struct Registry {
    std::mutex mutex;
    std::map<std::string, CIFilter::Factory> factories{
        {"CIHueAdjust", [] { return std::make_shared<HueAdjustFilter>(); }},
    };
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

std::shared_ptr<CIFilter> CIFilter::filterWithName(const std::string& name) {
    Factory factory;
    {
        std::lock_guard<std::mutex> lock(registry().mutex);
        auto found = registry().factories.find(name);
        if (found == registry().factories.end()) return nullptr;
        factory = found->second;
    }
    return factory();
}

void CIFilter::registerFilterName(const std::string& name, Factory factory) {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().factories[name] = std::move(factory);
}

void CIFilter::setValue(const CIValue& value, const std::string& key) { values_[key] = value; }

CIValue CIFilter::valueForKey(const std::string& key) const {
    if (key == "outputImage") return outputImage();
    auto found = values_.find(key);
    return found == values_.end() ? CIValue{} : found->second;
}
