#pragma once
// Every effect test process works in a folder of its own: HOME and the
// exchange folder point into it, so no test touches a real user's settings
// or the real shared exchange files, and tests running side by side never
// meet. Set up before main(), before any effect exists.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "EffectModule.h"
#include "ProcessTools.h"
#include "TempDir.h"

namespace quillane::test {

inline TempDir& effectTestFolder() {
    static TempDir folder;
    return folder;
}

inline bool isolateEffectTest() {
    const std::string base = effectTestFolder().path().string();
    ::setenv("HOME", base.c_str(), 1);
    ::setenv("QUILLANE_EXCHANGE_DIR", base.c_str(), 1);
    // The buttons' actions open dialogs and message boxes: without a display
    // they answer at once (boxes go to standard error) instead of waiting for
    // a user. Next and previous of an online LUT ask a dead local address.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::setenv("QUILLANE_SERVICE_URL", "https://127.0.0.1:1", 1);
    return true;
}

inline const bool effectTestIsolated = isolateEffectTest();

inline std::uint64_t fnv1a(const void* data, std::size_t length) {
    std::uint64_t h = 1469598103934665603ull;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

}  // namespace quillane::test
