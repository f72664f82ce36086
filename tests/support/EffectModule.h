#pragma once
// Where the build puts the effect module and the host program, and the effect
// linked into a test program, loaded by our host as from its bundle.
#include <memory>
#include <string>

#include "host/Host.h"
#include "plugin/FxQuillane.h"
#include "plugin/PluginBundle.h"

namespace quillane::test {

inline const std::string kBundlePath = QUILLANE_BINARY_DIR "/plugin/Quillane.bundle";
inline const std::string kEffectModulePath = kBundlePath + "/quillane_effect.so";
inline const std::string kHostProgram = QUILLANE_BINARY_DIR "/host/quillane-host";

inline std::shared_ptr<host::EffectModule> linkedEffect() {
    static const bool bundleSet = (PluginBundle::setBundlePathForTesting(kBundlePath), true);
    (void)bundleSet;
    return host::EffectModule::linked([]() -> FxFilter* { return std::make_unique<FxQuillane>().release(); },
                                      "linked");
}

}  // namespace quillane::test
