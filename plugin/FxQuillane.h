#pragma once
// The effect the host creates once for every use: it answers the host's
// set-up questions, declares its fourteen parameters (one visible name, six
// push buttons, seven hidden values that carry the LUT), builds the row views
// of its buttons, keeps its LUT in the hidden parameters so that a project
// reopens with the same LUT, and renders frames.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "desktop/MemoryMappingFile.h"
#include "lut/Lut.h"
#include "lut/LutFile.h"
#include "platform/fxplug/FxPlug.h"
#include "plugin/FxQuillaneInspection.h"
#include "plugin/FxQuillaneParameters.h"

class PluginBundle;
class CIImage;        // the LUT as an image for the GPU filter
class CIFxPlugCache;  // one Core Image context per OpenGL context

// The text parameter 1 shows while no LUT is chosen.
inline const std::string kNoLutLoaded = "No LUT loaded";

// A restored LUT has at most as many nodes per axis as the largest LUT file
// read (online and desktop LUTs are smaller still); anything larger in a
// project is damage, not a LUT.
constexpr int kMaxStoredDimSize = kMaxFileDimSize;

// Why the hidden parameters cannot keep lut, worded to follow "the LUT NAME";
// empty when they can.
std::string lutKeepProblem(const Lut& lut);

class FxQuillane : public FxFilter, public FxQuillaneInspection {
public:
    FxQuillane();
    ~FxQuillane() override;
    FxQuillane(const FxQuillane&) = delete;
    FxQuillane& operator=(const FxQuillane&) = delete;

    // FxFilter
    bool initWithAPIManager(PROAPIAccessing* apiManager) override;
    bool finishInitialSetup() override;
    bool variesOverTime() override;
    FxProperties properties() override;
    bool addParameters() override;
    bool parameterChanged(FxParameterId parmId) override;
    std::shared_ptr<NSView> createViewForParm(FxParameterId parmId) override;
    bool getOutputWidth(unsigned* width, unsigned* height, const FxImageInfo& input,
                        FxRenderInfo info) override;
    bool frameSetup(FxRenderInfo info, const FxImageInfo& inputInfo, bool* canRenderHardware,
                    bool* canRenderSoftware) override;
    bool renderOutput(FxImage& output, const FxImage& input, FxRenderInfo info) override;
    bool frameCleanup() override;

    // Row views.
    void createButton(std::shared_ptr<NSView>* view, const PluginBundle& bundle, const std::string& name,
                      FxQuillaneParam button);
    void createLabel(std::shared_ptr<NSView>* view, const PluginBundle& bundle);

    // The LUT, its name and preset into the hidden parameters, then back.
    void saveLut();
    void loadLut();
    // Every LUT an action chose comes in here: it replaces the current one
    // and is saved, unless the hidden parameters could not keep it (the
    // restore after the save would drop it); then the press fails with a box
    // and the current LUT stays. False when it was not taken.
    bool takeLut(Lut lut, std::vector<char> preset, std::string name);

    // Runs the action of a push button, however it was pressed (its row view,
    // a parameter change, a test): first it forgets why the one before failed,
    // so that a press never reports an earlier press's failure.
    void runAction(FxQuillaneParam button);
    void checkLutMapping();

    // The instance's current LUT, name and preset, which the actions replace
    // before they call saveLut().
    Lut& lut() { return _lut; }
    std::string& name() { return _name; }
    std::vector<char>& preset() { return _preset; }

    // FxQuillaneInspection
    int instanceId() const override { return _currentPluginID; }
    const Lut& currentLut() const override { return _lut; }
    const std::string& currentName() const override { return _name; }
    const std::vector<char>& currentPreset() const override { return _preset; }
    const std::string& incomingPresetPath() const override { return _lutPresetFilePath; }
    const std::string& outgoingPresetPath() const override { return _lutSavePresetFilePath; }
    bool exchangeAvailable() const override;
    const std::string& actionFailure() const override { return _actionFailure; }

    // The instance counter of this process: the id of the latest instance.
    static int lastPluginID();

private:
    // Button actions; runAction runs them.
    void openLutGallery();
    void choseFileLut();
    void changeNextLut();
    void changePrevLut();
    void selectNextPrevLut(bool next);
    void openAbout();
    void openQuillane();

    // GPU seam (FxQuillaneRender.cpp): the context cache made at start-up,
    // and the LUT image rebuilt from _lut whenever loadLut replaces it.
    bool makeContextCache();
    void rebuildLutImage();

    // Which exchange file could not be made and why; empty when both are mapped.
    std::string exchangeFailure() const;

    const std::string& shownName() const { return _name.empty() ? kNoLutLoaded : _name; }

    // The input frame at the time of the last render, as the temporal image
    // service gives it at that depth and quality; null (and a log line) when
    // there is none.
    std::unique_ptr<FxBitmap> frameOfLastRender(unsigned depth, unsigned qualityLevel) const;

    // A host service, fetched at the moment of use; nullptr when the host
    // does not offer it.
    template <class Api>
    Api* service() const {
        return _apiManager ? _apiManager->api<Api>() : nullptr;
    }

    PROAPIAccessing* _apiManager = nullptr;
    int _currentPluginID = 0;
    bool _lutLoaded = false;
    bool _isRunCheck = false;
    std::shared_ptr<CIFxPlugCache> _contextCache;
    FxTime _currentTime{};
    std::shared_ptr<NSTextField> _labelName;
    Lut _lut;
    std::string _name;
    std::vector<char> _preset;
    std::string _pathTemp;
    std::string _lutPresetFilePath;
    std::string _lutSavePresetFilePath;
    // The two records shared with the desktop application; unmapped (data
    // null) when a file could not be made.
    std::unique_ptr<MemoryMappingFile<ImageMapping>> _fileMapping;
    std::unique_ptr<MemoryMappingFile<LutMapping>> _lutFileMapping;
    std::shared_ptr<CIImage> _inputLUTCI;
    // Set by a button action that did not do its work; cleared at every press.
    std::string _actionFailure;
};
