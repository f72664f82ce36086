#pragma once
// A private HOME and exchange folder per test, a settings file whose
// ProgramPath names the stand-in desktop application, the two shared records
// mapped as an effect instance maps them, and helpers to steer the stand-in
// and to wait for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "StandInLut.h"
#include "desktop/MemoryMappingFile.h"
#include "platform/fxplug/FxPlug.h"
#include "tests/desktop/DesktopTestEnv.h"

namespace quillane::test {

inline const std::string kStandIn = QUILLANE_TEST_EXCHANGE_QUILLANEMAC;

inline bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

// The key=value lines the stand-in leaves in its report.
inline std::map<std::string, std::string> readReport(const std::string& path) {
    return keyedLines(readFile(path), '=');
}

// A 32-bit float bitmap (alpha, red, green, blue per pixel) filled by f(x, y).
template <typename F>
std::unique_ptr<FxBitmap> makeBitmap(unsigned width, unsigned height, F f) {
    auto bitmap = std::make_unique<FxBitmap>(width, height, kFxDepth_FLOAT32);
    float* p = static_cast<float*>(bitmap->dataPtr());
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x, p += 4) {
            const std::array<float, 4> argb = f(x, y);
            std::copy(argb.begin(), argb.end(), p);
        }
    return bitmap;
}

// Every test that may start a QuillaneMac holds the QuillaneMacProcess lock:
// the launcher starts nothing while any QuillaneMac runs.
class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(waitForNoQuillaneMac()) << "a QuillaneMac from elsewhere keeps running";
        writeSettings(std::nullopt);
        ASSERT_NE(image.data, nullptr);
        ASSERT_NE(lut.data, nullptr);
    }
    void TearDown() override {
        writeFile(quit, "");
        EXPECT_TRUE(waitForNoQuillaneMac());
    }

    // ProgramPath names the stand-in; ModalPluginMode is written when given.
    void writeSettings(std::optional<std::string> modalMode) {
        std::string values = "<Value Name=\"ProgramPath\" Type=\"2\">" + kStandIn + "</Value>\n";
        if (modalMode) values += "<Value Name=\"ModalPluginMode\" Type=\"2\">" + *modalMode + "</Value>\n";
        writeFile(sandbox.settingsFile(), "<XMLReg>\n<Key Name=\"Quillane\">\n" + values + "</Key>\n</XMLReg>\n");
    }

    // Sets a QUILLANE_STANDIN_ variable for the rest of the test.
    void standIn(const std::string& name, const std::string& value) {
        envs.push_back(std::make_unique<ScopedEnv>("QUILLANE_STANDIN_" + name, value));
    }

    std::map<std::string, std::string> report() const { return readReport(reportPath); }

    DesktopSandbox sandbox;
    BoxRecorder boxes;
    std::vector<std::unique_ptr<ScopedEnv>> envs;
    const std::string reportPath = sandbox.dir.file("standin-report");
    const std::string release = sandbox.dir.file("standin-release");
    const std::string quit = sandbox.dir.file("standin-quit");
    ScopedEnv reportEnv{"QUILLANE_STANDIN_REPORT", reportPath};
    ScopedEnv quitEnv{"QUILLANE_STANDIN_QUIT", quit};
    // Mapped as an effect instance maps them: made, emptied and stretched.
    MemoryMappingFile<ImageMapping> image{kImageMappingName, kImageMappingSize, true, true};
    MemoryMappingFile<LutMapping> lut{kLutMappingName, kLutMappingSize, true, true};
};

}  // namespace quillane::test
