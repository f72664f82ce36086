#pragma once
// Shared pieces of the LUT choice action tests: a sandbox per test (HOME, the
// exchange folder, a dead service address, a box recorder and a file dialog
// that fails the test when it opens unasked), the effect linked into the test
// in our host, and small LUT files whose first node tells them apart.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "../desktop/DesktopTestEnv.h"
#include "EffectModule.h"
#include "lut/LutFile.h"
#include "platform/nfd/nfd.h"
#include "plugin/Base64.h"

namespace quillane::test {

// A .cube file of edge 2 whose first node's red is `marker`, with the preset
// bytes in its "#64BLOB" lines when there are any.
inline void writeCube(const std::string& path, float marker, const std::string& preset = "") {
    std::ofstream out(path, std::ios::binary);
    out << "TITLE \"test\"\nLUT_3D_SIZE 2\n";
    out << marker << " 0 0\n";
    for (int i = 1; i < 8; ++i) out << (i & 1) << ' ' << ((i >> 1) & 1) << ' ' << ((i >> 2) & 1) << '\n';
    if (!preset.empty())
        out << "#64BLOB\n#" << base64Encode(std::vector<char>(preset.begin(), preset.end())) << '\n';
}

// A 10-bit .3dl file (edge 6) whose first node's red is marker/1023.
inline void write3dl(const std::string& path, int marker) {
    std::ofstream out(path, std::ios::binary);
    out << "0 204 409 614 818 1023\n";
    for (int k = 0; k < 216; ++k) out << (k == 0 ? marker : (k * 4) % 1024) << " 0 0\n";
}

inline float firstRed(const Lut& lut) { return lut.getData() ? lut.getData()[0] : NAN; }

// The names a folder lists, in the order the directory gives them.
inline std::vector<std::string> directoryOrder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

class ActionsTest : public ::testing::Test {
protected:
    ActionsTest()
        : service_("QUILLANE_SERVICE_URL", std::string("https://127.0.0.1:1")),
          serviceCa_("QUILLANE_SERVICE_CA", std::nullopt),
          dialogEnv_(nfd::kAnswerVariable, std::nullopt),
          dialog_([this](const nfd::DialogRequest& request) {
              dialogRequests.push_back(request);
              if (!dialogAnswer) {
                  ADD_FAILURE() << "the file dialog opened unasked";
                  return nfd::DialogAnswer{NFD_ERROR, "", "not scripted"};
              }
              return *dialogAnswer;
          }) {
        host_ = host::Host::withModule(linkedEffect());
        instance = host_->newInstance();
        if (!instance) throw std::runtime_error("no effect instance");
        instance->clearCalls();
    }

    FxQuillane& fx() { return static_cast<FxQuillane&>(instance->effect()); }

    // Makes path the current LUT the way every choice ends: state, then saveLut.
    void choose(const std::string& path) {
        std::string name = path;
        lutFromFile(&name, &fx().lut(), &fx().preset());
        fx().name() = path;
        fx().saveLut();
        instance->clearCalls();
    }

    // Whether the effect wrote its parameters since the last clearCalls.
    bool saved() const {
        for (const auto& call : instance->calls())
            if (call.rfind("setCustomParameterValue", 0) == 0) return true;
        return false;
    }

    std::string storedName() const { return instance->parameter(13)->value.stringValue(); }
    std::string shownName() const { return instance->parameter(1)->value.stringValue(); }
    std::string presetText() { return std::string(fx().preset().begin(), fx().preset().end()); }

    // The current LUT is still `name` (first red `red`, preset `preset`) and nothing was saved.
    void expectKept(const std::string& name, float red, const std::string& preset) {
        EXPECT_EQ(fx().currentName(), name);
        EXPECT_FLOAT_EQ(firstRed(fx().currentLut()), red);
        EXPECT_EQ(presetText(), preset);
        EXPECT_FALSE(saved());
    }

    // A folder of LUT files under the test's own temporary folder.
    std::string folder(const std::string& name) {
        const std::string path = sandbox.dir.file(name);
        std::filesystem::create_directories(path);
        return path;
    }

    DesktopSandbox sandbox;
    BoxRecorder boxes;
    std::vector<nfd::DialogRequest> dialogRequests;
    std::optional<nfd::DialogAnswer> dialogAnswer;
    host::EffectInstance* instance = nullptr;

private:
    ScopedEnv service_;
    ScopedEnv serviceCa_;
    ScopedEnv dialogEnv_;
    nfd::ScopedAnswerer dialog_;
    std::unique_ptr<host::Host> host_;
};

}  // namespace quillane::test
