#pragma once
// The editor's plug-in interface, as far as our effect uses it: the effect
// protocol the host calls, the API manager that hands out host services, the
// services themselves, images (textures and bitmaps), the render information
// and the host capabilities. The host (host/) implements the services; the
// effect (plugin/) implements FxFilter.
//
// Selectors are methods named after their first piece, the other pieces are
// parameters: renderOutput:withInput:withInfo: is renderOutput(output, input, info).
// Every type here is plain: no type crosses the module boundary by RTTI, a
// service is found by its protocol value and downcast statically.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/fxplug/FxValue.h"
#include "platform/fxplug/FxViews.h"

using FxParameterId = unsigned int;

// Parameter flags.
constexpr unsigned kFxParameterFlag_DEFAULT = 0;
constexpr unsigned kFxParameterFlag_NOT_ANIMATABLE = 1;
constexpr unsigned kFxParameterFlag_HIDDEN = 2;
constexpr unsigned kFxParameterFlag_CUSTOM_UI = 0x40;

// A point of time: a frame number, or an opaque host pointer.
union FxTime {
    double frame;
    void* ptr;
};
inline FxTime fxTimeAtFrame(double frame) {
    FxTime t;
    t.frame = frame;
    return t;
}

constexpr unsigned kFxQuality_LOW = 0;
constexpr unsigned kFxQuality_MEDIUM = 1;
constexpr unsigned kFxQuality_HIGH = 2;

// Pixel depth of images and render targets.
constexpr unsigned kFxDepth_UINT8 = 0;    // 8 bits a channel
constexpr unsigned kFxDepth_FLOAT16 = 2;  // 16-bit float
constexpr unsigned kFxDepth_FLOAT32 = 3;  // 32-bit float

// What the host tells the effect about the frame being rendered. Passed by value.
struct FxRenderInfo {
    FxTime time{};
    unsigned qualityLevel = kFxQuality_HIGH;
    unsigned field = 0;
    double scaleX = 1.0;
    double scaleY = 1.0;
    void* sharedContext = nullptr;  // the host's shared OpenGL context
    unsigned depth = kFxDepth_UINT8;
};

constexpr int kFxImageType_UNKNOWN = 0;
constexpr int kFxImageType_BITMAP = 1;
constexpr int kFxImageType_TEXTURE = 2;

// Colour spaces are tags only; nothing in the stand-in converts between them.
using FxColorSpace = std::string;
inline const FxColorSpace kFxColorSpace_ITUR_709 = "ITUR_709";
inline const FxColorSpace kFxColorSpace_LinearSRGB = "LinearSRGB";
inline const FxColorSpace kFxColorSpace_SRGB = "sRGB";

// What the host knows of an input before it is rendered.
struct FxImageInfo {
    unsigned width = 0;
    unsigned height = 0;
    unsigned depth = kFxDepth_UINT8;
};

class FxImage {
public:
    virtual ~FxImage() = default;
    int imageType() const { return imageType_; }
    unsigned width() const { return width_; }
    unsigned height() const { return height_; }
    unsigned depth() const { return depth_; }
    const FxColorSpace& colorSpace() const { return colorSpace_; }
    void setColorSpace(FxColorSpace colorSpace) { colorSpace_ = std::move(colorSpace); }
    FxImageInfo imageInfo() const { return {width_, height_, depth_}; }

protected:
    FxImage(int imageType, unsigned width, unsigned height, unsigned depth, FxColorSpace colorSpace)
        : imageType_(imageType), width_(width), height_(height), depth_(depth),
          colorSpace_(std::move(colorSpace)) {}

private:
    int imageType_;
    unsigned width_;
    unsigned height_;
    unsigned depth_;
    FxColorSpace colorSpace_;
};

// An OpenGL texture in the host's current context. The host keeps the texture
// name alive for as long as the object exists; the object does not own it.
class FxTexture : public FxImage {
public:
    FxTexture(unsigned textureId, unsigned textureTarget, unsigned width, unsigned height,
              unsigned depth, FxColorSpace colorSpace = kFxColorSpace_ITUR_709)
        : FxImage(kFxImageType_TEXTURE, width, height, depth, std::move(colorSpace)),
          textureId_(textureId), textureTarget_(textureTarget),
          left_(0.0), right_(width), bottom_(0.0), top_(height) {}

    unsigned textureId() const { return textureId_; }
    unsigned textureTarget() const { return textureTarget_; }
    // Texel coordinates of the image's edges inside the texture.
    void getTextureCoords(double* left, double* right, double* bottom, double* top) const {
        if (left) *left = left_;
        if (right) *right = right_;
        if (bottom) *bottom = bottom_;
        if (top) *top = top_;
    }
    void setTextureCoords(double left, double right, double bottom, double top) {
        left_ = left;
        right_ = right;
        bottom_ = bottom;
        top_ = top;
    }

private:
    unsigned textureId_;
    unsigned textureTarget_;
    double left_, right_, bottom_, top_;
};

// Pixels in memory, four channels in the order alpha, red, green, blue, rows
// one after the other: bytes for depth 0, 32-bit floats for depth 3 (16-bit
// floats for depth 2). The bitmap owns its pixels.
class FxBitmap : public FxImage {
public:
    FxBitmap(unsigned width, unsigned height, unsigned depth,
             FxColorSpace colorSpace = kFxColorSpace_ITUR_709)
        : FxImage(kFxImageType_BITMAP, width, height, depth, std::move(colorSpace)),
          pixels_(static_cast<std::size_t>(width) * height * bytesPerPixel(depth)) {}

    static std::size_t bytesPerPixel(unsigned depth) {
        return depth == kFxDepth_FLOAT32 ? 16 : depth == kFxDepth_FLOAT16 ? 8 : 4;
    }
    std::size_t rowBytes() const { return static_cast<std::size_t>(width()) * bytesPerPixel(depth()); }
    void* dataPtr() { return pixels_.empty() ? nullptr : pixels_.data(); }
    const void* dataPtr() const { return pixels_.empty() ? nullptr : pixels_.data(); }
    std::size_t dataSize() const { return pixels_.size(); }

private:
    std::vector<unsigned char> pixels_;
};

// ---------------------------------------------------------------------------
// Host services

enum class FxProtocol {
    ParameterCreation,
    ParameterRetrieval,
    ParameterSetting,
    CustomParameterAction,
    TemporalImage,
    HostCapabilities,
};

// Base of every host service, so that the API manager can hand them out.
class FxHostAPI {
public:
    virtual ~FxHostAPI() = default;
};

class FxParameterCreationAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::ParameterCreation;
    virtual bool addStringParameterWithName(const std::string& name, FxParameterId parmId,
                                            const std::string& defaultValue, unsigned parmFlags) = 0;
    virtual bool addCustomParameterWithName(const std::string& name, FxParameterId parmId,
                                            const FxValue& defaultValue, unsigned parmFlags) = 0;
};

class FxParameterRetrievalAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::ParameterRetrieval;
    virtual bool getBoolValue(bool* value, FxParameterId parmId, FxTime time) = 0;
    virtual bool setBoolValue(bool value, FxParameterId parmId, FxTime time) = 0;
};

class FxParameterSettingAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::ParameterSetting;
    virtual bool getStringParameterValue(std::string* value, FxParameterId parmId) = 0;
    virtual bool setStringParameterValue(const std::string& value, FxParameterId parmId) = 0;
    virtual bool getCustomParameterValue(FxValue* value, FxParameterId parmId) = 0;
    virtual bool setCustomParameterValue(const FxValue& value, FxParameterId parmId) = 0;
};

// Brackets the effect's own reads and writes of parameters made outside the
// host's callbacks (a button action, for instance).
class FxCustomParameterActionAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::CustomParameterAction;
    virtual void startAction(const void* sender) = 0;
    virtual void endAction(const void* sender) = 0;
    virtual FxTime currentTime() = 0;
};

class FxTemporalImageAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::TemporalImage;
    // The input frame at `time` as pixels in memory, of info.depth; false and
    // *bitmap untouched when the host has no frame.
    virtual bool getInputBitmap(std::unique_ptr<FxBitmap>* bitmap, FxRenderInfo info, FxTime time) = 0;
};

// What FxHostCapabilities asks the host for.
class FxHostCapabilitiesAPI : public FxHostAPI {
public:
    static constexpr FxProtocol kProtocol = FxProtocol::HostCapabilities;
    virtual std::vector<unsigned> glContextPixelFormatAttributes() = 0;
};

// The host's API manager.
class PROAPIAccessing {
public:
    virtual ~PROAPIAccessing() = default;
    // The service for the protocol, or nullptr when the host does not offer it.
    // The returned object is the FxHostAPI base of the protocol's own class.
    virtual FxHostAPI* apiForProtocol(FxProtocol protocol) = 0;

    // Typed form: apiManager->api<FxParameterSettingAPI>().
    template <class Api>
    Api* api() {
        return static_cast<Api*>(apiForProtocol(Api::kProtocol));
    }
};

// The host's capabilities, made with the API manager as the effect needs them.
class FxHostCapabilities {
public:
    explicit FxHostCapabilities(PROAPIAccessing* apiManager) : apiManager_(apiManager) {}
    // The host's OpenGL pixel-format attributes, as numbers; empty when the
    // host does not say.
    std::vector<unsigned> glContextPixelFormatAttributes() const {
        FxHostCapabilitiesAPI* caps = apiManager_ ? apiManager_->api<FxHostCapabilitiesAPI>() : nullptr;
        return caps ? caps->glContextPixelFormatAttributes() : std::vector<unsigned>{};
    }

private:
    PROAPIAccessing* apiManager_;
};

// ---------------------------------------------------------------------------
// The effect protocol (FxFilter with FxBaseEffect and FxCustomParameterViewHost).

using FxProperties = std::map<std::string, FxValue>;

class FxFilter {
public:
    virtual ~FxFilter() = default;

    // FxBaseEffect. initWithAPIManager is the effect's init: false means the
    // host gets no instance and destroys the object.
    virtual bool initWithAPIManager(PROAPIAccessing* apiManager) = 0;
    virtual bool finishInitialSetup() = 0;
    virtual bool variesOverTime() = 0;
    virtual FxProperties properties() = 0;
    virtual bool addParameters() = 0;
    virtual bool parameterChanged(FxParameterId parmId) = 0;

    // FxCustomParameterViewHost: the row view of a parameter, or nullptr.
    virtual std::shared_ptr<NSView> createViewForParm(FxParameterId parmId) = 0;

    // FxFilter.
    virtual bool getOutputWidth(unsigned* width, unsigned* height, const FxImageInfo& input,
                                FxRenderInfo info) = 0;
    virtual bool frameSetup(FxRenderInfo info, const FxImageInfo& inputInfo, bool* canRenderHardware,
                            bool* canRenderSoftware) = 0;
    virtual bool renderOutput(FxImage& output, const FxImage& input, FxRenderInfo info) = 0;
    virtual bool frameCleanup() = 0;
};

// The one entry point of an effect module: a new, not yet initialised effect.
// The caller owns it (delete through the virtual destructor) and must destroy
// it before the module is unloaded.
using FxPlugCreateEffectFunction = FxFilter* (*)();
constexpr const char* kFxPlugCreateEffectSymbol = "FxPlugCreateEffect";
