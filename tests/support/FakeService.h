#pragma once
// Starts tests/support/fake_service.py (a stand-in for the online LUT library, HTTPS on
// 127.0.0.1 with a certificate made for the occasion; its behaviour is set with
// setControl) once it accepts connections, and stops it when the object goes.
// A test that crashes leaves no service behind: the service ends with the process that
// started it, and holds none of that process's descriptors (a test runner waits for the
// end of the output pipes it gave the test).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "TempDir.h"

extern char** environ;

namespace quillane::test {

class FakeService {
public:
    // san: the certificate's subjectAltName (another one makes a host-name mismatch).
    explicit FakeService(const std::string& san = "IP:127.0.0.1,DNS:localhost") {
        // A proxy from the environment would not reach the loopback server.
        for (const char* proxy : {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            if (std::getenv(proxy) != nullptr) ::setenv("no_proxy", "127.0.0.1,localhost", 1);
        std::string script = std::string(QUILLANE_SOURCE_DIR) + "/tests/support/fake_service.py";
        std::string dir = dir_.path().string();
        std::vector<std::string> args = {"python3", script,  "--dir",   dir,
                                         "--san",   san,     "--parent", std::to_string(::getpid())};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, dir_.file("stderr.log").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 2, 1);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        int failed = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (failed != 0) throw std::runtime_error("cannot start python3");

        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream portFile(dir_.file("port"));
            int port = 0;
            if (portFile >> port && port > 0) {
                url_ = "https://127.0.0.1:" + std::to_string(port);
                return;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("fake service ended at start:\n" + stderrLog());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
        throw std::runtime_error("fake service did not start in time");
    }
    ~FakeService() { stop(); }
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    const std::string& url() const { return url_; }
    pid_t pid() const { return pid_; }
    std::string caFile() const { return dir_.file("cert.pem"); }
    std::string logFile() const { return dir_.file("requests.jsonl"); }

    // Replaces the service's behaviour (see fake_service.py); read on its next request.
    void setControl(const std::string& json) const {
        std::string temporary = dir_.file("control.json.tmp");
        std::ofstream(temporary, std::ios::trunc) << json;
        std::filesystem::rename(temporary, dir_.file("control.json"));
    }

    // The requests received so far, one JSON object each.
    std::vector<nlohmann::json> requests() const {
        std::vector<nlohmann::json> result;
        std::ifstream in(logFile());
        std::string line;
        while (std::getline(in, line))
            if (!line.empty()) result.push_back(nlohmann::json::parse(line, nullptr, false));
        return result;
    }
    std::vector<nlohmann::json> requestsTo(const std::string& path) const {
        std::vector<nlohmann::json> found;
        for (auto& r : requests())
            if (r.is_object() && r.value("path", "") == path) found.push_back(r);
        return found;
    }
    // The favourite changes the service accepted: {email: {lutid: "1" or "0"}}.
    nlohmann::json favorites() const {
        std::ifstream in(dir_.file("favorites.json"));
        if (!in) return nlohmann::json::object();
        return nlohmann::json::parse(in, nullptr, false);
    }
    std::size_t requestCount() const { return requests().size(); }
    void clearLog() const { std::ofstream(logFile(), std::ios::trunc); }

    std::string stderrLog() const { return readFile(dir_.file("stderr.log")); }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::string url_;
};

}  // namespace quillane::test
