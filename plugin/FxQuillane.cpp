#include "plugin/FxQuillane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "plugin/Base64.h"
#include "plugin/PluginBundle.h"

namespace {

// Process-wide instance counter; ids are never reused within a process.
int pluginID = 0;

constexpr unsigned kButtonFlags = kFxParameterFlag_CUSTOM_UI | kFxParameterFlag_NOT_ANIMATABLE;
constexpr unsigned kBezelStyleRoundedRect = 10;

// The one string all parameters are displayed under.
const char* const kParameterNameKey = "FxQuillane::SelectLut";

// Brackets the effect's own parameter traffic with startAction/endAction
// when the host offers the action service.
class ParameterAction {
public:
    ParameterAction(FxCustomParameterActionAPI* actions, const void* sender) : actions_(actions), sender_(sender) {
        if (actions_) actions_->startAction(sender_);
    }
    ~ParameterAction() {
        if (actions_) actions_->endAction(sender_);
    }
    ParameterAction(const ParameterAction&) = delete;
    ParameterAction& operator=(const ParameterAction&) = delete;

private:
    FxCustomParameterActionAPI* actions_;
    const void* sender_;
};

// A stored range bound as float, or false when it is not a finite float.
bool narrowRange(double stored, float* range) {
    if (!floatHoldsRangeBound(stored)) return false;
    *range = static_cast<float>(stored);
    return true;
}

}  // namespace

FxQuillane::FxQuillane() = default;
FxQuillane::~FxQuillane() = default;

int FxQuillane::lastPluginID() { return pluginID; }

bool FxQuillane::initWithAPIManager(PROAPIAccessing* apiManager) {
    _currentPluginID = ++pluginID;
    _lutLoaded = false;
    _isRunCheck = false;
    _lut = Lut();
    _name.clear();
    _preset.clear();
    _apiManager = apiManager;
    if (!makeContextCache()) return false;
    // Without the shared records the instance still works; only the exchange
    // with the desktop application is unavailable.
    _fileMapping = std::make_unique<MemoryMappingFile<ImageMapping>>(kImageMappingName, kImageMappingSize, true, true);
    _lutFileMapping = std::make_unique<MemoryMappingFile<LutMapping>>(kLutMappingName, kLutMappingSize, true, true);
    _inputLUTCI.reset();
    _pathTemp = exchangeDirectory();
    _lutPresetFilePath = _pathTemp + "LutPreset" + std::to_string(_currentPluginID) + ".qlp";
    _lutSavePresetFilePath = _pathTemp + "LutPresetSave.qlp";
    return true;
}

bool FxQuillane::exchangeAvailable() const {
    return _fileMapping && _fileMapping->data && _lutFileMapping && _lutFileMapping->data;
}

bool FxQuillane::finishInitialSetup() {
    loadLut();
    return true;
}

bool FxQuillane::variesOverTime() { return false; }

FxProperties FxQuillane::properties() {
    return {{"DesiredProcessingColorInfo", FxValue::integer(2)}};
}

bool FxQuillane::addParameters() {
    FxParameterCreationAPI* create = service<FxParameterCreationAPI>();
    if (!create) return false;
    const std::string name = PluginBundle::bundleForClass().localizedStringForKey(kParameterNameKey);
    const FxValue noText = FxValue::string("");
    create->addStringParameterWithName(name, SelectLut, shownName(), kFxParameterFlag_NOT_ANIMATABLE);
    create->addCustomParameterWithName(name, OpenQuillane, noText, kButtonFlags);
    create->addCustomParameterWithName(name, OpenGallery, noText, kButtonFlags);
    create->addCustomParameterWithName(name, ChooseFile, noText, kButtonFlags);
    create->addCustomParameterWithName(name, PrevLut, noText, kButtonFlags);
    create->addCustomParameterWithName(name, NextLut, noText, kButtonFlags);
    create->addCustomParameterWithName(name, About, noText, kButtonFlags);
    create->addCustomParameterWithName(name, LutData, FxValue::data({}), kFxParameterFlag_HIDDEN);
    create->addCustomParameterWithName(name, LutDimSize, FxValue::integer(0), kFxParameterFlag_HIDDEN);
    create->addCustomParameterWithName(name, LutRange0, FxValue::number(0.0), kFxParameterFlag_HIDDEN);
    // The upper bound defaults to 1, as the range of the empty LUT and of the
    // render's filter: a project without the entry renders over 0 to 1, not
    // over an empty range.
    create->addCustomParameterWithName(name, LutRange1, FxValue::number(1.0), kFxParameterFlag_HIDDEN);
    create->addCustomParameterWithName(name, LutPreset, FxValue::data({}), kFxParameterFlag_HIDDEN);
    create->addCustomParameterWithName(name, LutPresetSize, FxValue::integer(0), kFxParameterFlag_HIDDEN);
    create->addCustomParameterWithName(name, LutName, noText, kFxParameterFlag_HIDDEN);
    return true;
}

bool FxQuillane::parameterChanged(FxParameterId parmId) {
    const bool isButton = parmId >= OpenQuillane && parmId <= PrevLut;
    if (isButton) {
        // A push button's value is only a trigger: read it and put it back.
        if (auto* retrieve = service<FxParameterRetrievalAPI>()) {
            bool pressed = false;
            retrieve->getBoolValue(&pressed, parmId, fxTimeAtFrame(0));
            retrieve->setBoolValue(false, parmId, fxTimeAtFrame(0));
        }
    }
    if (parmId == SelectLut) {
        if (auto* settings = service<FxParameterSettingAPI>()) {
            std::string shown;
            settings->getStringParameterValue(&shown, SelectLut);
            if (shown != shownName()) settings->setStringParameterValue(shownName(), SelectLut);
        }
    }
    if (isButton) runAction(static_cast<FxQuillaneParam>(parmId));
    return true;
}

void FxQuillane::runAction(FxQuillaneParam button) {
    _actionFailure.clear();
    switch (button) {
    case OpenQuillane: openQuillane(); break;
    case OpenGallery: openLutGallery(); break;
    case ChooseFile: choseFileLut(); break;
    case NextLut: changeNextLut(); break;
    case PrevLut: changePrevLut(); break;
    case About: openAbout(); break;
    default: break;
    }
}

std::shared_ptr<NSView> FxQuillane::createViewForParm(FxParameterId parmId) {
    const PluginBundle& bundle = PluginBundle::bundleForClass();
    std::shared_ptr<NSView> view;
    switch (parmId) {
    case SelectLut: createLabel(&view, bundle); break;
    case OpenQuillane: createButton(&view, bundle, "FxQuillane::OpenQL", OpenQuillane); break;
    case OpenGallery: createButton(&view, bundle, "FxQuillane::Open", OpenGallery); break;
    case ChooseFile: createButton(&view, bundle, "FxQuillane::Chose", ChooseFile); break;
    case NextLut: createButton(&view, bundle, "FxQuillane::Next", NextLut); break;
    case PrevLut: createButton(&view, bundle, "FxQuillane::Prev", PrevLut); break;
    case About: createButton(&view, bundle, "FxQuillane::About", About); break;
    default: break;
    }
    return view;
}

void FxQuillane::createButton(std::shared_ptr<NSView>* view, const PluginBundle& bundle, const std::string& name,
                              FxQuillaneParam button) {
    if (!view) return;
    auto row = std::make_shared<NSView>(NSMakeRect(0, 0, 120, 30));
    // 124 wide in a 120-wide row: the button reaches past the row's right edge.
    auto pushButton = std::make_shared<NSButton>(NSMakeRect(2, 2, 124, 24));
    pushButton->setTitle(bundle.localizedStringForKey(name));
    pushButton->setFontSize(kSmallSystemFontSize);
    pushButton->setBezelStyle(kBezelStyleRoundedRect);
    pushButton->setTarget(this);
    pushButton->setAction([this, button] { runAction(button); });
    row->addSubview(pushButton);
    *view = std::move(row);
}

void FxQuillane::createLabel(std::shared_ptr<NSView>* view, const PluginBundle&) {
    if (!view) return;
    auto row = std::make_shared<NSView>(NSMakeRect(0, 0, 300, 26));
    auto label = std::make_shared<NSTextField>(NSMakeRect(2, 2, 298, 24));
    label->setFontSize(kSmallSystemFontSize);
    label->setTarget(this);
    label->setEnabled(false);
    label->setEditable(false);
    label->setStringValue(shownName());
    _labelName = label;
    row->addSubview(label);
    *view = std::move(row);
}

bool FxQuillane::getOutputWidth(unsigned* width, unsigned* height, const FxImageInfo& input, FxRenderInfo) {
    if (!width || !height) return false;
    *width = input.width;
    *height = input.height;
    return true;
}

bool FxQuillane::frameSetup(FxRenderInfo, const FxImageInfo&, bool* canRenderHardware, bool* canRenderSoftware) {
    if (canRenderHardware) *canRenderHardware = true;
    if (canRenderSoftware) *canRenderSoftware = false;
    return true;
}

bool FxQuillane::frameCleanup() { return true; }

void FxQuillane::saveLut() {
    FxParameterSettingAPI* settings = service<FxParameterSettingAPI>();
    if (!settings) return;  // nowhere to keep it: leave the instance as it is
    {
        ParameterAction action(service<FxCustomParameterActionAPI>(), this);
        const int n = _lut.getDimSize();
        const float* nodes = _lut.getData();
        const std::size_t bytes = nodes && n > 0 ? static_cast<std::size_t>(_lut.totalSize()) * 16 : 0;
        settings->setCustomParameterValue(FxValue::data(nodes, bytes), LutData);
        settings->setCustomParameterValue(FxValue::integer(n), LutDimSize);
        settings->setCustomParameterValue(FxValue::number(_lut.getInputRange0()), LutRange0);
        settings->setCustomParameterValue(FxValue::number(_lut.getInputRange1()), LutRange1);
        if (!_preset.empty()) {
            settings->setCustomParameterValue(FxValue::string(base64Encode(_preset)), LutPreset);
            settings->setCustomParameterValue(FxValue::integer(static_cast<std::int64_t>(_preset.size())),
                                              LutPresetSize);
        } else {
            settings->setCustomParameterValue(FxValue::string(""), LutPreset);
            settings->setCustomParameterValue(FxValue::integer(0), LutPresetSize);
        }
        settings->setCustomParameterValue(FxValue::string(_name), LutName);
        settings->setStringParameterValue(_name, SelectLut);
    }
    loadLut();
}

void FxQuillane::loadLut() {
    FxParameterSettingAPI* settings = service<FxParameterSettingAPI>();
    if (!settings) return;  // nothing to read: keep what the instance has
    {
        ParameterAction action(service<FxCustomParameterActionAPI>(), this);
        FxValue data, dimSize, range0, range1, presetSize, name;
        settings->getCustomParameterValue(&data, LutData);
        settings->getCustomParameterValue(&dimSize, LutDimSize);
        settings->getCustomParameterValue(&range0, LutRange0);
        settings->getCustomParameterValue(&range1, LutRange1);
        settings->getCustomParameterValue(&presetSize, LutPresetSize);
        settings->getCustomParameterValue(&name, LutName);

        _name = name.stringValue();

        // The stored size, range and nodes come from a project file and are
        // not trusted: a size outside 0..256, a range that is not two different
        // finite floats, or fewer node bytes than the size needs (a size of 256 over a
        // few nodes would cost 268 MB of black) is damage and restores the
        // empty LUT. The node bytes are measured before any node is made.
        const std::int64_t n = dimSize.integerValue();
        float r0 = 0.0f, r1 = 1.0f;
        // A range of two equal ends would send every colour to one place.
        const bool rangeOk = narrowRange(range0.doubleValue(), &r0) && narrowRange(range1.doubleValue(), &r1) &&
                             (n == 0 || usableInputRange(r0, r1));
        const FxValue::Bytes& bytes = data.dataValue();
        const bool sizeOk = n >= 0 && n <= kMaxStoredDimSize;
        const std::size_t nodeCount = sizeOk ? static_cast<std::size_t>(n * n * n) : 0;
        if (sizeOk && rangeOk && bytes.size() >= nodeCount * 16) {
            std::vector<float> nodes(nodeCount * 4);
            if (nodeCount > 0) std::memcpy(nodes.data(), bytes.data(), nodeCount * 16);
            _lut = Lut(std::move(nodes), static_cast<int>(n), r0, r1);
        } else {
            std::cerr << "Quillane: the project's LUT is damaged (size " << n << ", " << bytes.size()
                      << " bytes of nodes, range " << range0.doubleValue() << " to " << range1.doubleValue()
                      << "); no LUT is applied\n";
            _lut = Lut();
        }

        if (presetSize.integerValue() >= 1) {
            FxValue presetText;
            settings->getCustomParameterValue(&presetText, LutPreset);
            _preset = base64Decode(presetText.stringValue());
        }
        rebuildLutImage();
    }
}

// The LUT choice actions live in FxQuillaneActions.cpp, the exchange with the
// desktop application (openQuillane, checkLutMapping) in FxQuillaneExchange.cpp.
