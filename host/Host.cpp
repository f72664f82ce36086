#include "host/Host.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "host/Project.h"
#include "lut/LutFile.h"
#include "plugin/FxQuillaneInspection.h"
#include "plugin/FxQuillaneParameters.h"

namespace host {

// ---------------------------------------------------------------------------
// EffectModule

std::shared_ptr<EffectModule> EffectModule::load(const std::string& path, std::string* error) {
    // Local symbols: two modules, or a module and this program, never resolve
    // each other's functions. The module stays mapped once loaded, as editors
    // keep their plug-ins: the libraries it brings in keep process-wide state.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        if (error) *error = std::string("cannot load the effect module: ") + ::dlerror();
        return nullptr;
    }
    auto create = reinterpret_cast<FxPlugCreateEffectFunction>(::dlsym(handle, kFxPlugCreateEffectSymbol));
    if (!create) {
        if (error) *error = "the module " + path + " has no " + kFxPlugCreateEffectSymbol;
        ::dlclose(handle);
        return nullptr;
    }
    return std::shared_ptr<EffectModule>(new EffectModule(path, handle, create));
}

std::shared_ptr<EffectModule> EffectModule::linked(FxPlugCreateEffectFunction create, std::string name) {
    if (!create) return nullptr;
    return std::shared_ptr<EffectModule>(new EffectModule(std::move(name), nullptr, create));
}

EffectModule::~EffectModule() {
    if (handle_) ::dlclose(handle_);
}

std::unique_ptr<FxFilter> EffectModule::createEffect() const { return std::unique_ptr<FxFilter>(create_()); }

// ---------------------------------------------------------------------------
// EffectInstance

EffectInstance::EffectInstance(std::shared_ptr<EffectModule> module, unsigned services)
    : module_(std::move(module)), services_(services) {}

EffectInstance::~EffectInstance() {
    // The views' actions point into the effect: they go first, the effect
    // next, the module (a member declared before both) last.
    for (Parameter& p : parameters_) p.view.reset();
    effect_.reset();
}

std::unique_ptr<EffectInstance> EffectInstance::create(std::shared_ptr<EffectModule> module, unsigned services,
                                                       const std::vector<StoredValue>& stored, std::string* error) {
    if (!module) {
        if (error) *error = "no effect module";
        return nullptr;
    }
    std::unique_ptr<EffectInstance> instance(new EffectInstance(module, services));
    instance->effect_ = module->createEffect();
    if (!instance->effect_) {
        if (error) *error = "the effect module made no effect";
        return nullptr;
    }
    bool ok = instance->callback([&](FxFilter& e) { return e.initWithAPIManager(instance.get()); });
    if (!ok) {
        if (error) *error = "the effect refused to start";
        return nullptr;
    }
    instance->addParametersResult_ = instance->callback([](FxFilter& e) { return e.addParameters(); });
    for (Parameter& p : instance->parameters_) {
        const FxParameterId id = p.id;
        p.view = instance->callback([id](FxFilter& e) { return e.createViewForParm(id); });
    }
    // The project's values replace the defaults before the effect reads them.
    for (const StoredValue& s : stored) {
        if (Parameter* p = instance->findParameter(s.id)) {
            p->value = s.value;
            p->members = s.members;
        } else {
            instance->undeclared_.push_back(s);
        }
    }
    instance->callback([](FxFilter& e) { return e.finishInitialSetup(); });
    return instance;
}

const FxQuillaneInspection* EffectInstance::inspection() const {
    return dynamic_cast<const FxQuillaneInspection*>(effect_.get());
}

const Parameter* EffectInstance::parameter(FxParameterId id) const {
    for (const Parameter& p : parameters_)
        if (p.id == id) return &p;
    return nullptr;
}

Parameter* EffectInstance::findParameter(FxParameterId id) {
    return const_cast<Parameter*>(static_cast<const EffectInstance*>(this)->parameter(id));
}

std::vector<StoredValue> EffectInstance::storedValues() const {
    std::vector<StoredValue> values;
    values.reserve(parameters_.size() + undeclared_.size());
    for (const Parameter& p : parameters_) values.push_back({p.id, p.value, p.members});
    values.insert(values.end(), undeclared_.begin(), undeclared_.end());
    return values;
}

bool EffectInstance::pressButton(FxParameterId id) {
    const Parameter* p = parameter(id);
    if (!p || !p->view) return false;
    // A click arrives from the user interface, not as a host callback.
    for (const auto& sub : p->view->subviews())
        if (auto* button = dynamic_cast<NSButton*>(sub.get())) return button->performClick();
    return false;
}

bool EffectInstance::changeParameter(FxParameterId id, const FxValue& value) {
    Parameter* p = findParameter(id);
    if (!p) return false;
    p->value = value;
    return notifyParameterChanged(id);
}

bool EffectInstance::notifyParameterChanged(FxParameterId id) {
    return callback([id](FxFilter& e) { return e.parameterChanged(id); });
}

FxHostAPI* EffectInstance::apiForProtocol(FxProtocol protocol) {
    switch (protocol) {
    case FxProtocol::ParameterCreation:
        return services_ & kParameterCreation ? static_cast<FxParameterCreationAPI*>(this) : nullptr;
    case FxProtocol::ParameterRetrieval:
        return services_ & kParameterRetrieval ? static_cast<FxParameterRetrievalAPI*>(this) : nullptr;
    case FxProtocol::ParameterSetting:
        return services_ & kParameterSetting ? static_cast<FxParameterSettingAPI*>(this) : nullptr;
    case FxProtocol::CustomParameterAction:
        return services_ & kCustomParameterAction ? static_cast<FxCustomParameterActionAPI*>(this) : nullptr;
    case FxProtocol::TemporalImage:
        return services_ & kTemporalImage ? static_cast<FxTemporalImageAPI*>(this) : nullptr;
    case FxProtocol::HostCapabilities:
        return services_ & kHostCapabilities ? static_cast<FxHostCapabilitiesAPI*>(this) : nullptr;
    }
    return nullptr;
}

bool EffectInstance::declare(Parameter parameter) {
    if (findParameter(parameter.id)) return false;  // ids are unique within an effect
    parameter.value = parameter.defaultValue;
    parameters_.push_back(std::move(parameter));
    return true;
}

bool EffectInstance::addStringParameterWithName(const std::string& name, FxParameterId parmId,
                                                const std::string& defaultValue, unsigned parmFlags) {
    calls_.push_back("addStringParameterWithName " + std::to_string(parmId));
    return declare({parmId, name, true, parmFlags, FxValue::string(defaultValue), {}, nullptr});
}

bool EffectInstance::addCustomParameterWithName(const std::string& name, FxParameterId parmId,
                                                const FxValue& defaultValue, unsigned parmFlags) {
    calls_.push_back("addCustomParameterWithName " + std::to_string(parmId));
    return declare({parmId, name, false, parmFlags, defaultValue, {}, nullptr});
}

Parameter* EffectInstance::accessParameter(const char* call, FxParameterId id) {
    calls_.push_back(std::string(call) + " " + std::to_string(id));
    if (callbackDepth_ == 0 && actionDepth_ == 0) ++unbracketedAccesses_;
    return findParameter(id);
}

bool EffectInstance::getBoolValue(bool* value, FxParameterId parmId, FxTime) {
    Parameter* p = accessParameter("getBoolValue", parmId);
    if (!p || !value) return false;
    *value = p->value.integerValue() != 0 || p->value.doubleValue() != 0.0;
    return true;
}

bool EffectInstance::setBoolValue(bool value, FxParameterId parmId, FxTime) {
    Parameter* p = accessParameter("setBoolValue", parmId);
    if (!p) return false;
    p->value = FxValue::integer(value ? 1 : 0);
    return true;
}

bool EffectInstance::getStringParameterValue(std::string* value, FxParameterId parmId) {
    Parameter* p = accessParameter("getStringParameterValue", parmId);
    if (!p || !value) return false;
    *value = p->value.stringValue();
    return true;
}

bool EffectInstance::setStringParameterValue(const std::string& value, FxParameterId parmId) {
    Parameter* p = accessParameter("setStringParameterValue", parmId);
    if (!p) return false;
    p->value = FxValue::string(value);
    return true;
}

bool EffectInstance::getCustomParameterValue(FxValue* value, FxParameterId parmId) {
    Parameter* p = accessParameter("getCustomParameterValue", parmId);
    if (!p || !value) return false;
    *value = p->value;
    return true;
}

bool EffectInstance::setCustomParameterValue(const FxValue& value, FxParameterId parmId) {
    Parameter* p = accessParameter("setCustomParameterValue", parmId);
    if (!p) return false;
    p->value = value;
    return true;
}

void EffectInstance::startAction(const void*) {
    calls_.push_back("startAction");
    ++actionDepth_;
}

void EffectInstance::endAction(const void*) {
    calls_.push_back("endAction");
    if (actionDepth_ > 0) --actionDepth_;
}

FxTime EffectInstance::currentTime() {
    calls_.push_back("currentTime");
    return currentTime_;
}

bool EffectInstance::getInputBitmap(std::unique_ptr<FxBitmap>* bitmap, FxRenderInfo info, FxTime time) {
    calls_.push_back("getInputBitmap");
    if (!bitmap || !frameProvider_) return false;
    std::unique_ptr<FxBitmap> frame = frameProvider_(info, time);
    if (!frame) return false;
    *bitmap = std::move(frame);
    return true;
}

std::vector<unsigned> EffectInstance::glContextPixelFormatAttributes() {
    calls_.push_back("glContextPixelFormatAttributes");
    return pixelFormat_;
}

// ---------------------------------------------------------------------------
// Host

std::unique_ptr<Host> Host::load(const std::string& modulePath, std::string* error) {
    auto module = EffectModule::load(modulePath, error);
    if (!module) return nullptr;
    return std::unique_ptr<Host>(new Host(std::move(module)));
}

std::unique_ptr<Host> Host::withModule(std::shared_ptr<EffectModule> module) {
    if (!module) return nullptr;
    return std::unique_ptr<Host>(new Host(std::move(module)));
}

EffectInstance* Host::newInstance(unsigned services, std::string* error) {
    auto instance = EffectInstance::create(module_, services, {}, error);
    if (!instance) return nullptr;
    instances_.push_back(std::move(instance));
    return instances_.back().get();
}

bool Host::saveProject(const std::string& path, std::string* error) const {
    std::vector<std::vector<StoredValue>> project;
    ProjectMembers members{projectMembers_, {}};
    for (const auto& instance : instances_) {
        project.push_back(instance->storedValues());
        members.instances.push_back(instance->projectMembers());
    }
    return writeProjectFile(path, project, error, members);
}

namespace {

// The bounds of the effect's LUT input range, which it holds as floats: a
// bound no float holds would leave the instance without its LUT, silently.
constexpr FxParameterId kRangeBounds[] = {LutRange0, LutRange1};

// Why entry j of instance i cannot be taken, or empty when it can.
std::string entryProblem(const std::vector<StoredValue>& values, std::size_t j,
                         const std::unordered_map<FxParameterId, std::size_t>& entryOfId) {
    const StoredValue& entry = values[j];
    if (const std::size_t first = entryOfId.at(entry.id); first != j)
        return "parameter entries " + std::to_string(first) + " and " + std::to_string(j) + " are both for id " +
               std::to_string(entry.id);
    const bool bound = std::find(std::begin(kRangeBounds), std::end(kRangeBounds), entry.id) != std::end(kRangeBounds);
    if (!bound || entry.value.kind() != FxValue::Kind::Double) return {};
    const double value = entry.value.doubleValue();
    const std::string named = "parameter entry " + std::to_string(j) + " (id " + std::to_string(entry.id) +
                              ", a bound of the LUT's input range) cannot be read: ";
    if (floatHoldsRangeBound(value)) return {};
    return named + (std::isfinite(value) ? "its value is out of range" : "its value is not a finite number");
}

}  // namespace

bool Host::openProject(const std::string& path, std::string* error) {
    std::vector<std::vector<StoredValue>> project;
    ProjectMembers members;
    if (!readProjectFile(path, &project, error, &members)) return false;
    // Of two values for one parameter an instance could keep only one.
    for (std::size_t i = 0; i < project.size(); ++i) {
        std::unordered_map<FxParameterId, std::size_t> entryOfId;
        for (std::size_t j = 0; j < project[i].size(); ++j) entryOfId.emplace(project[i][j].id, j);
        for (std::size_t j = 0; j < project[i].size(); ++j) {
            const std::string problem = entryProblem(project[i], j, entryOfId);
            if (problem.empty()) continue;
            if (error) *error = path + ": instance " + std::to_string(i) + ": " + problem;
            return false;
        }
    }
    std::vector<std::unique_ptr<EffectInstance>> opened;
    for (std::size_t i = 0; i < project.size(); ++i) {
        auto instance = EffectInstance::create(module_, kAllServices, project[i], error);
        if (!instance) return false;
        if (i < members.instances.size()) instance->setProjectMembers(std::move(members.instances[i]));
        opened.push_back(std::move(instance));
    }
    instances_ = std::move(opened);
    projectMembers_ = std::move(members.project);
    return true;
}

}  // namespace host
