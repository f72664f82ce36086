#pragma once
// Small helpers for tests that steer the environment and other processes:
// an environment guard, a child process whose output is collected, a forked
// child, a child that keeps checking what others write, waiting for a
// condition, and waiting until no QuillaneMac runs any more.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/libproc/ProcessList.h"

namespace quillane::test {

// Sets (or, with nullopt, unsets) an environment variable and restores it.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

struct ProcessResult {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
};

// Runs a command line in a new process (through the shell) and collects its
// standard output.
inline ProcessResult runProcess(const std::string& command) {
    ProcessResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// A program's output (or a report file) as key -> rest of the line, the key
// ending at the first separator; lines without one are left out.
inline std::map<std::string, std::string> keyedLines(const std::string& text, char separator = ' ') {
    std::map<std::string, std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(separator);
        if (at != std::string::npos) lines[line.substr(0, at)] = line.substr(at + 1);
    }
    return lines;
}

// How a child process ended: its exit status, or 100 + the signal that ended it.
inline int exitStatus(pid_t pid) {
    int status = -1;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// Runs body in a forked child (for limits that hold for a whole process);
// the result is the child's exit status, body's result when it returns.
template <typename Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return exitStatus(pid);
}

// Runs body in a forked child as inChild does, and collects what the child
// writes to standard error (through a pipe: a file would be under the
// child's own limits too).
struct ChildOutcome {
    int status = -1;
    std::string err;
};
template <typename Body>
ChildOutcome inChildCollectingErrors(Body body) {
    ChildOutcome outcome;
    int errors[2];
    if (::pipe(errors) != 0) return outcome;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(errors[0]);
        ::dup2(errors[1], 2);
        ::_exit(body());
    }
    ::close(errors[1]);
    // Read to the end before waiting, so a child with much to say never blocks.
    char chunk[4096];
    for (ssize_t got; (got = ::read(errors[0], chunk, sizeof chunk)) > 0;) outcome.err.append(chunk, got);
    ::close(errors[0]);
    outcome.status = exitStatus(pid);
    return outcome;
}

// A forked child that checks what others write, over and over, until
// finish() (bounded in rounds, should finish never come): for files that
// must never be seen partial while other processes replace them.
class WatchingChild {
public:
    WatchingChild(int maxRounds, std::function<bool()> looksWhole) {
        int stop[2];
        if (::pipe(stop) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(stop[1]);
            ::fcntl(stop[0], F_SETFL, O_NONBLOCK);
            int bad = 0;
            char byte = 0;
            // The read gives 0 once the parent has closed its end.
            for (int round = 0; round < maxRounds && ::read(stop[0], &byte, 1) != 0; ++round)
                if (!looksWhole()) ++bad;
            ::_exit(bad == 0 ? 0 : 1);
        }
        ::close(stop[0]);
        stop_ = stop[1];
    }
    ~WatchingChild() { finish(); }
    WatchingChild(const WatchingChild&) = delete;
    WatchingChild& operator=(const WatchingChild&) = delete;

    // Ends the checks: true when every check saw the file whole.
    bool finish() {
        if (stop_ >= 0) ::close(stop_);
        stop_ = -1;
        if (pid_ > 0) status_ = exitStatus(pid_);
        pid_ = -1;
        return status_ == 0;
    }

private:
    pid_t pid_ = -1;
    int stop_ = -1;
    int status_ = -1;
};

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The launcher starts nothing while any QuillaneMac runs; tests that start
// one wait for the machine to be free of them (links quillane_libproc).
inline bool waitForNoQuillaneMac(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    return waitUntil([] { return !libproc::isProcessRunning("QuillaneMac"); }, limit);
}

}  // namespace quillane::test
