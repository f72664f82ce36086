#include "platform/coreimage/KernelProgram.h"

#include <cmath>

using quillane::ci::Bitmap;

namespace {

bool wholePositive(double v) { return v >= 1 && v <= (1 << 24) && std::floor(v) == v; }

}  // namespace

CIImagePtr CIImage::imageWithTexture(unsigned textureId, CGSize size, bool flipped, CGColorSpaceRef colorSpace) {
    if (textureId == 0 || !wholePositive(size.width) || !wholePositive(size.height)) return nullptr;
    auto image = std::make_shared<CIImage>();
    image->kind_ = Kind::Texture;
    image->textureId_ = textureId;
    image->extent_ = CGRectMake(0, 0, size.width, size.height);
    image->colorSpace_ = std::move(colorSpace);
    // A texture's first row is the bottom one unless the caller says otherwise.
    image->mirrorY_ = flipped;
    return image;
}

CIImagePtr CIImage::imageWithBitmapData(std::vector<unsigned char> data, std::size_t bytesPerRow, CGSize size,
                                        CIFormat format, CGColorSpaceRef colorSpace) {
    if (!wholePositive(size.width) || !wholePositive(size.height)) return nullptr;
    const std::size_t width = static_cast<std::size_t>(size.width);
    const std::size_t height = static_cast<std::size_t>(size.height);
    const std::size_t pixelBytes = format == kCIFormatRGBAf ? 16 : 4;
    if (bytesPerRow < width * pixelBytes || bytesPerRow % (pixelBytes == 16 ? 4 : 1) != 0) return nullptr;
    if (data.size() / bytesPerRow < height - 1 || data.size() < bytesPerRow * (height - 1) + width * pixelBytes)
        return nullptr;
    auto bitmap = std::make_shared<Bitmap>();
    bitmap->data = std::move(data);
    bitmap->bytesPerRow = bytesPerRow;
    bitmap->width = static_cast<int>(width);
    bitmap->height = static_cast<int>(height);
    bitmap->format = format;

    auto image = std::make_shared<CIImage>();
    image->kind_ = Kind::Bitmap;
    image->bitmap_ = std::move(bitmap);
    image->extent_ = CGRectMake(0, 0, size.width, size.height);
    image->colorSpace_ = std::move(colorSpace);
    // Rows are stored top first while the working space grows upwards.
    image->mirrorY_ = true;
    return image;
}

CIImagePtr CIImage::imageByApplyingOrientation(int orientation) const {
    if (orientation < 1 || orientation > 4) return nullptr;
    if (kind_ == Kind::Kernel && orientation != 1) return nullptr;
    auto image = std::make_shared<CIImage>(*this);
    if (orientation == 2 || orientation == 3) image->mirrorX_ = !image->mirrorX_;
    if (orientation == 3 || orientation == 4) image->mirrorY_ = !image->mirrorY_;
    return image;
}

CIImagePtr CIImage::fromKernel(std::shared_ptr<const quillane::ci::KernelApplication> application, CGRect extent,
                               CGColorSpaceRef colorSpace) {
    auto image = std::make_shared<CIImage>();
    image->kind_ = Kind::Kernel;
    image->application_ = std::move(application);
    image->extent_ = extent;
    image->colorSpace_ = std::move(colorSpace);
    return image;
}

CISamplerPtr CISampler::samplerWithImage(CIImagePtr image, CISamplerOptions options) {
    if (!image) return nullptr;
    auto sampler = std::make_shared<CISampler>();
    sampler->image_ = std::move(image);
    sampler->options_ = std::move(options);
    return sampler;
}
