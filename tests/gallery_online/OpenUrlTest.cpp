// Opening web pages: the desktop's opener receives the address as one
// argument, nothing is left behind, and a missing opener is reported.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "ProcessTools.h"
#include "TempDir.h"
#include "gallery/OpenUrl.h"
#include "platform/appkit/Alert.h"
#include "platform/launchservices/LaunchServices.h"

using namespace quillane::test;

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Children of this process that have ended but were never reaped.
int zombieChildren() {
    int zombies = 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return -1;
    while (dirent* entry = ::readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        std::istringstream rest(line.substr(close + 1));
        rest >> state >> parent;
        if (parent == ::getpid() && state == 'Z') ++zombies;
    }
    ::closedir(proc);
    return zombies;
}

struct Boxes {
    std::vector<std::string> texts;
    appkit::ScopedAlertPresenter scope{[this](const appkit::Alert& alert) {
        texts.push_back(alert.messageText() + "|" + alert.informativeText());
        return appkit::kAlertFirstButtonReturn;
    }};
};

}  // namespace

TEST(OpenUrl, TheOpenerGetsTheAddressIntactAsOneArgument) {
    TempDir dir;
    const std::string out = dir.file("args");
    const std::string opener = dir.file("opener");
    // Writes its argument count and each argument on a line, then lingers so
    // that a caller that waited for it would be noticed.
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" << out << ".tmp\"\nmv \""
                          << out << ".tmp\" \"" << out << "\"\nsleep 1\n";
    ::chmod(opener.c_str(), 0755);
    ScopedEnv variable(launchservices::kURLOpenerVariable, opener);
    Boxes boxes;

    const std::string url = "https://host:8443/buy?a=1&b=$(touch x);`id`|'q'\"";
    const auto start = std::chrono::steady_clock::now();
    openURL(url);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    for (int i = 0; i < 200 && readAll(out).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(readAll(out), "1\n" + url + "\n");
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_EQ(zombieChildren(), 0);
}

TEST(OpenUrl, AMissingOpenerIsReportedInABox) {
    TempDir dir;
    Boxes boxes;
    for (std::string program : {dir.file("no-such-opener"), std::string("quillane-no-such-opener")}) {
        ScopedEnv variable(launchservices::kURLOpenerVariable, program);
        EXPECT_EQ(launchservices::urlOpenerProgram(), program);
        openURL("https://host/x");
        ASSERT_EQ(boxes.texts.size(), 1u);
        EXPECT_NE(boxes.texts[0].find("Open link|No program to open web pages is installed (" + program + ")"),
                  std::string::npos);
        EXPECT_NE(boxes.texts[0].find("https://host/x"), std::string::npos);
        boxes.texts.clear();
    }
    EXPECT_EQ(zombieChildren(), 0);
    ScopedEnv unset(launchservices::kURLOpenerVariable, std::nullopt);
    EXPECT_EQ(launchservices::urlOpenerProgram(), "xdg-open");
}

TEST(OpenUrl, TheHookReplacesTheOpener) {
    std::vector<std::string> opened;
    launchservices::setURLOpener([&](const std::string& url) {
        opened.push_back(url);
        return launchservices::kNoErr;
    });
    Boxes boxes;
    openURL("https://host/a b");
    EXPECT_EQ(launchservices::LSOpenURL("-x"), launchservices::kParamErr);
    EXPECT_EQ(launchservices::LSOpenURL(""), launchservices::kParamErr);
    launchservices::setURLOpener([](const std::string&) { return launchservices::kLSLaunchFailedErr; });
    openURL("https://host/b");
    launchservices::setURLOpener({});
    EXPECT_EQ(opened, std::vector<std::string>{"https://host/a b"});
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0], "Open link|This web page could not be opened:\nhttps://host/b");
}
