// Opening web pages: the desktop's opener receives the address as one
// argument without a wait or a zombie, and a missing opener is reported.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "ProcessTools.h"
#include "TempDir.h"
#include "gallery/OpenUrl.h"
#include "platform/appkit/Alert.h"
#include "platform/launchservices/LaunchServices.h"

using namespace quillane::test;
namespace ls = launchservices;

namespace {

struct Boxes {
    std::vector<std::string> texts;
    appkit::ScopedAlertPresenter scope{[this](const appkit::Alert& alert) {
        texts.push_back(alert.messageText() + "|" + alert.informativeText());
        return appkit::kAlertFirstButtonReturn;
    }};
};

}  // namespace

TEST(OpenUrl, TheOpenerGetsTheAddressIntactAndMissingOnesAreReported) {
    TempDir dir;
    const std::string out = dir.file("args"), opener = dir.file("opener");
    // Writes its argument count and arguments, then lingers: a caller that waited would show.
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" << out << ".tmp\"\nmv \"" << out
                          << ".tmp\" \"" << out << "\"\nsleep 2\n";
    ::chmod(opener.c_str(), 0755);
    Boxes boxes;
    {
        ScopedEnv variable(ls::kURLOpenerVariable, opener);
        const std::string url = "https://host:8443/buy?a=1&b=$(touch x);`id`|'q'\"";
        const auto start = std::chrono::steady_clock::now();
        openURL(url);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours left, running or ended
        waitUntil([&] { return std::filesystem::exists(out); }, std::chrono::seconds(5));
        EXPECT_EQ(readFile(out), "1\n" + url + "\n");
        EXPECT_TRUE(boxes.texts.empty());
    }
    for (std::string program : {dir.file("no-such-opener"), std::string("quillane-no-such-opener")}) {
        ScopedEnv variable(ls::kURLOpenerVariable, program);
        openURL("https://host/x");
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_EQ(boxes.texts[0], "Open link|No program to open web pages is installed (" + program +
                                      "). Please open this address in your browser:\nhttps://host/x");
        boxes.texts.clear();
    }
    ScopedEnv unset(ls::kURLOpenerVariable, std::nullopt);
    EXPECT_EQ(ls::urlOpenerProgram(), "xdg-open");
}

TEST(OpenUrl, TheHookReplacesTheOpener) {
    std::vector<std::string> opened;
    ls::setURLOpener([&](const std::string& url) { return opened.push_back(url), ls::kNoErr; });
    Boxes boxes;
    openURL("https://host/a b");
    EXPECT_EQ(ls::LSOpenURL("-x"), ls::kParamErr);  // would read as an option
    EXPECT_EQ(ls::LSOpenURL(""), ls::kParamErr);
    ls::setURLOpener([](const std::string&) { return ls::kLSLaunchFailedErr; });
    openURL("https://host/b");
    ls::setURLOpener({});
    EXPECT_EQ(opened, std::vector<std::string>{"https://host/a b"});
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Open link|This web page could not be opened:\nhttps://host/b"});
}
