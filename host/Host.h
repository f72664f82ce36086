#pragma once
// Our stand-in for the video editor: it loads an effect module, creates
// instances of the effect, lets each declare its parameters and row views,
// keeps the parameter values as a project does, delivers parameter changes
// and button presses, and saves and reopens projects.
//
// Each service of the plug-in interface can be left out of an instance, so
// that an effect's behaviour without it can be seen.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fxplug/FxPlug.h"

class FxQuillaneInspection;

namespace host {

// A loaded effect module; unloaded when the last holder lets go.
class EffectModule {
public:
    // nullptr and a reason in *error when the module or its entry point is missing.
    static std::shared_ptr<EffectModule> load(const std::string& path, std::string* error);
    // An effect linked into this program, made by `create` (for tests).
    static std::shared_ptr<EffectModule> linked(FxPlugCreateEffectFunction create, std::string name);
    ~EffectModule();
    EffectModule(const EffectModule&) = delete;
    EffectModule& operator=(const EffectModule&) = delete;

    const std::string& path() const { return path_; }
    // A new, uninitialised effect; nullptr when the module gives none.
    std::unique_ptr<FxFilter> createEffect() const;

private:
    EffectModule(std::string path, void* handle, FxPlugCreateEffectFunction create)
        : path_(std::move(path)), handle_(handle), create_(create) {}
    std::string path_;
    void* handle_;
    FxPlugCreateEffectFunction create_;
};

// Which services an instance's API manager hands out.
enum Service : unsigned {
    kParameterCreation = 1u << 0,
    kParameterRetrieval = 1u << 1,
    kParameterSetting = 1u << 2,
    kCustomParameterAction = 1u << 3,
    kTemporalImage = 1u << 4,
    kHostCapabilities = 1u << 5,
    kAllServices = (1u << 6) - 1,
};

// One declared parameter and what the project holds for it.
struct Parameter {
    FxParameterId id = 0;
    std::string name;
    bool isString = false;  // a string parameter; otherwise a custom one
    unsigned flags = 0;
    FxValue defaultValue;
    FxValue value;
    std::shared_ptr<NSView> view;  // the row view the effect gave, if any
    std::string members = {};      // what the project's entry held besides the value (Project.h)
};

// A stored parameter value, as a project carries it.
struct StoredValue {
    FxParameterId id = 0;
    FxValue value;
    // The members of its project entry that the host does not read, kept for
    // the next save (Project.h); empty for none.
    std::string members = {};
};

// Gives the input frame for getInputBitmap, or nullptr when there is none.
using FrameProvider = std::function<std::unique_ptr<FxBitmap>(const FxRenderInfo& info, FxTime time)>;

class EffectInstance final : public PROAPIAccessing,
                             private FxParameterCreationAPI,
                             private FxParameterRetrievalAPI,
                             private FxParameterSettingAPI,
                             private FxCustomParameterActionAPI,
                             private FxTemporalImageAPI,
                             private FxHostCapabilitiesAPI {
public:
    // Creates the effect, initialises it, lets it add its parameters and
    // views, puts in the stored values, and finishes its set-up. nullptr and
    // a reason in *error when the effect refuses to start.
    static std::unique_ptr<EffectInstance> create(std::shared_ptr<EffectModule> module, unsigned services,
                                                  const std::vector<StoredValue>& stored, std::string* error);
    ~EffectInstance() override;
    EffectInstance(const EffectInstance&) = delete;
    EffectInstance& operator=(const EffectInstance&) = delete;

    FxFilter& effect() { return *effect_; }
    // The effect's own view of its state, when it offers one.
    const FxQuillaneInspection* inspection() const;
    bool addParametersResult() const { return addParametersResult_; }

    const std::vector<Parameter>& parameters() const { return parameters_; }
    const Parameter* parameter(FxParameterId id) const;
    // The values the project keeps, in declaration order, then those the
    // project held for parameters the effect does not declare.
    std::vector<StoredValue> storedValues() const;
    // The members of the project's instance entry that the host does not
    // read (Project.h), kept for the next save.
    const std::string& projectMembers() const { return projectMembers_; }
    void setProjectMembers(std::string members) { projectMembers_ = std::move(members); }

    // The user's side.
    // Clicks the button in the parameter's row view. False when there is none
    // or it is disabled.
    bool pressButton(FxParameterId id);
    // The user edits a parameter: the value is set and the effect told.
    bool changeParameter(FxParameterId id, const FxValue& value);
    // The host reports a change of the parameter to the effect.
    bool notifyParameterChanged(FxParameterId id);

    // The host's side of the services.
    void setCurrentTime(FxTime time) { currentTime_ = time; }
    void setFrameProvider(FrameProvider provider) { frameProvider_ = std::move(provider); }
    void setPixelFormatAttributes(std::vector<unsigned> attributes) { pixelFormat_ = std::move(attributes); }

    // Calls the effect as the host's own callback (parameter access inside
    // it needs no action bracket).
    template <class F>
    auto callback(F&& f) -> decltype(f(std::declval<FxFilter&>())) {
        CallbackScope scope(*this);
        return f(*effect_);
    }

    // Every service call, in order, as "name id" lines; for tests.
    const std::vector<std::string>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }
    // Parameter reads and writes the effect made outside any host callback
    // and outside startAction/endAction. A correct effect makes none.
    int unbracketedAccesses() const { return unbracketedAccesses_; }
    // startAction calls not yet ended.
    int openActions() const { return actionDepth_; }

    // PROAPIAccessing
    FxHostAPI* apiForProtocol(FxProtocol protocol) override;

private:
    class CallbackScope {
    public:
        explicit CallbackScope(EffectInstance& instance) : instance_(instance) { ++instance_.callbackDepth_; }
        ~CallbackScope() { --instance_.callbackDepth_; }
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;

    private:
        EffectInstance& instance_;
    };

    EffectInstance(std::shared_ptr<EffectModule> module, unsigned services);
    Parameter* findParameter(FxParameterId id);
    Parameter* accessParameter(const char* call, FxParameterId id);
    bool declare(Parameter parameter);

    // FxParameterCreationAPI
    bool addStringParameterWithName(const std::string& name, FxParameterId parmId, const std::string& defaultValue,
                                    unsigned parmFlags) override;
    bool addCustomParameterWithName(const std::string& name, FxParameterId parmId, const FxValue& defaultValue,
                                    unsigned parmFlags) override;
    // FxParameterRetrievalAPI
    bool getBoolValue(bool* value, FxParameterId parmId, FxTime time) override;
    bool setBoolValue(bool value, FxParameterId parmId, FxTime time) override;
    // FxParameterSettingAPI
    bool getStringParameterValue(std::string* value, FxParameterId parmId) override;
    bool setStringParameterValue(const std::string& value, FxParameterId parmId) override;
    bool getCustomParameterValue(FxValue* value, FxParameterId parmId) override;
    bool setCustomParameterValue(const FxValue& value, FxParameterId parmId) override;
    // FxCustomParameterActionAPI
    void startAction(const void* sender) override;
    void endAction(const void* sender) override;
    FxTime currentTime() override;
    // FxTemporalImageAPI
    bool getInputBitmap(std::unique_ptr<FxBitmap>* bitmap, FxRenderInfo info, FxTime time) override;
    // FxHostCapabilitiesAPI
    std::vector<unsigned> glContextPixelFormatAttributes() override;

    // Declared first: the module outlives the effect it made.
    std::shared_ptr<EffectModule> module_;
    unsigned services_;
    std::unique_ptr<FxFilter> effect_;
    std::vector<Parameter> parameters_;
    // A project's values for parameters this effect does not declare (saved by
    // another version of it): the effect never sees them, a save keeps them.
    std::vector<StoredValue> undeclared_;
    std::string projectMembers_;
    bool addParametersResult_ = false;
    FxTime currentTime_{};
    FrameProvider frameProvider_;
    std::vector<unsigned> pixelFormat_;
    std::vector<std::string> calls_;
    int callbackDepth_ = 0;
    int actionDepth_ = 0;
    int unbracketedAccesses_ = 0;
};

// The editor: one effect module and the instances of the open project.
class Host {
public:
    static std::unique_ptr<Host> load(const std::string& modulePath, std::string* error);
    static std::unique_ptr<Host> withModule(std::shared_ptr<EffectModule> module);

    const std::shared_ptr<EffectModule>& module() const { return module_; }
    // A new instance with the given services and default values.
    EffectInstance* newInstance(unsigned services = kAllServices, std::string* error = nullptr);
    const std::vector<std::unique_ptr<EffectInstance>>& instances() const { return instances_; }
    EffectInstance* instance(std::size_t index) {
        return index < instances_.size() ? instances_[index].get() : nullptr;
    }
    void closeAll() { instances_.clear(); }

    // The project: every instance's parameter values as a JSON file.
    bool saveProject(const std::string& path, std::string* error) const;
    // Replaces the open instances by the project's. A project that cannot be
    // read whole replaces nothing: the open instances stay as they were.
    bool openProject(const std::string& path, std::string* error);

private:
    explicit Host(std::shared_ptr<EffectModule> module) : module_(std::move(module)) {}
    std::shared_ptr<EffectModule> module_;
    std::vector<std::unique_ptr<EffectInstance>> instances_;
    // The opened project's own members that the host does not read.
    std::string projectMembers_;
};

}  // namespace host
