// The effect's render and its GPU resources: the image-context cache made
// with the instance, the LUT image rebuilt whenever loadLut replaces the LUT,
// and the draw of each frame through QuillaneFilter.
#include <syslog.h>

#include "platform/cgl/CGL.h"
#include "platform/coreimage/CoreImage.h"
#include "plugin/CIFxPlugCache.h"
#include "plugin/FxQuillane.h"
#include "plugin/PluginBundle.h"
#include "plugin/QuillaneFilter.h"

bool FxQuillane::makeContextCache() {
    // The filter reads its kernel text from this bundle's resources.
    QuillaneFilter::setResourceLocator([](const std::string& name, const std::string& type) {
        return PluginBundle::bundleForClass().pathForResource(name, type);
    });
    _contextCache = CIFxPlugCache::init();
    return _contextCache != nullptr;
}

void FxQuillane::rebuildLutImage() { _inputLUTCI = makeLutImage(_lut); }

bool FxQuillane::renderOutput(FxImage& output, const FxImage& input, FxRenderInfo info) {
    // A LUT handed back by the desktop application is taken before this frame.
    if (_isRunCheck) checkLutMapping();
    if (!_lutLoaded) {
        _lutLoaded = true;
        loadLut();
    }
    _currentTime = info.time;

    if (!service<FxParameterRetrievalAPI>()) return false;
    if (input.imageType() != kFxImageType_TEXTURE || output.imageType() != kFxImageType_TEXTURE) return false;
    const auto& in = static_cast<const FxTexture&>(input);
    const auto& out = static_cast<const FxTexture&>(output);
    double inLeft = 0, inRight = 0, inBottom = 0, inTop = 0;
    double outLeft = 0, outRight = 0, outBottom = 0, outTop = 0;
    in.getTextureCoords(&inLeft, &inRight, &inBottom, &inTop);
    out.getTextureCoords(&outLeft, &outRight, &outBottom, &outTop);
    CGColorSpaceRef colorSpace = CGColorSpaceCreateWithName(input.colorSpace());

    std::shared_ptr<CIContext> context;
    std::shared_ptr<CIFilter> unusedFilter;
    if (!_contextCache ||
        !_contextCache->CIContext(&context, &unusedFilter, _apiManager, CGLGetCurrentContext(), colorSpace, info) ||
        !context) {
        syslog(LOG_ERR, "Unable to create CIContext!\n");
        return false;
    }

    CIImagePtr image = CIImage::imageWithTexture(in.textureId(), CGSizeMake(in.width(), in.height()), false, colorSpace);
    if (!image) return false;
    if (_lut.isLoaded() && _inputLUTCI) {
        std::shared_ptr<CIFilter> filter = CIFilter::filterWithName("QuillaneFilter");
        if (!filter) return false;
        filter->setValue(image, "inputImage");
        filter->setValue(_inputLUTCI, "inputLUT");
        filter->setValue(static_cast<long long>(_lut.getDimSize()), "dimSize");
        filter->setValue(static_cast<double>(_lut.getInputRange0()), "inputRange0");
        filter->setValue(static_cast<double>(_lut.getInputRange1()), "inputRange1");
        CIValue graded = filter->valueForKey("outputImage");
        auto gradedImage = std::get_if<CIImagePtr>(&graded);
        // No kernel (its resource missing or broken): this frame fails rather
        // than passing the ungraded input off as graded; the next one tries again.
        if (!gradedImage || !*gradedImage) return false;
        image = *gradedImage;
    }
    return context->drawImage(image, CGRectMake(outLeft, outBottom, outRight - outLeft, outTop - outBottom),
                              CGRectMake(inLeft, inBottom, inRight - inLeft, inTop - inBottom));
}
