// The effect module's one entry point: the host calls it for every new use of
// the effect and then initialises the instance with its API manager.
#include <new>

#include "plugin/FxQuillane.h"

extern "C" __attribute__((visibility("default"))) FxFilter* FxPlugCreateEffect() {
    return new (std::nothrow) FxQuillane();
}
