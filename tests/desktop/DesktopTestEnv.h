#pragma once
// Shared pieces of the desktop tests: a private HOME and exchange folder per
// test, and a box presenter that records every box and answers as scripted.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "ProcessTools.h"
#include "TempDir.h"
#include "platform/appkit/Alert.h"

namespace quillane::test {

struct ShownBox {
    std::string messageText;      // the headline
    std::string informativeText;  // the body
    appkit::AlertStyle style;
    std::vector<std::string> buttons;
};

class BoxRecorder {
public:
    BoxRecorder()
        : scope_([this](const appkit::Alert& alert) {
              boxes.push_back({alert.messageText(), alert.informativeText(), alert.alertStyle(), alert.buttons()});
              return answer;
          }) {}
    std::vector<ShownBox> boxes;
    int answer = appkit::kAlertFirstButtonReturn;

private:
    appkit::ScopedAlertPresenter scope_;
};

// HOME and the exchange folder point into a fresh temporary folder.
class DesktopSandbox {
public:
    DesktopSandbox()
        : home_("HOME", dir.file("home")), exchange_("QUILLANE_EXCHANGE_DIR", dir.file("exchange")) {
        std::filesystem::create_directories(dir.path() / "home");
        std::filesystem::create_directories(dir.path() / "exchange");
    }
    std::string home() const { return dir.file("home"); }
    std::string exchange() const { return dir.file("exchange") + "/"; }
    std::string settingsFile() const { return home() + "/.config/QuillaneMac/reg.xml"; }

    TempDir dir;

private:
    ScopedEnv home_;
    ScopedEnv exchange_;
};

}  // namespace quillane::test
