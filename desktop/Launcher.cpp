#include "desktop/Launcher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "desktop/Settings.h"
#include "desktop/boxer_osx.h"
#include "platform/libproc/ProcessList.h"
#include "platform/spawn/CleanSpawn.h"

extern char** environ;

namespace {

// The shell used to search PATH for a bare program name; keep that, but
// decide before any process is made.
std::string resolveProgram(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* pathVariable = std::getenv("PATH");
    std::string dirs = pathVariable ? pathVariable : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return program;
}

void resetSignalsForChild() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : kSignalsResetForChildren) signal(sig, SIG_DFL);
}

void waitFor(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

std::string cannotStart(const std::string& program, int error) {
    return "cannot start " + program + ": " + std::strerror(error);
}

std::string startAndWait(const std::string& program, char* const argv[]) {
    const CleanSpawn clean;
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), clean.actions(), clean.attr(), argv, environ);
    if (error != 0) {
        std::fprintf(stderr, "startQuillane: %s\n", cannotStart(program, error).c_str());
        return cannotStart(program, error);
    }
    waitFor(pid);
    return {};
}

// The application is started by a short-lived intermediate process that ends
// at once and is reaped here; the application itself becomes a child of the
// system's reaper. So no zombie stays behind and no SIGCHLD handling of the
// host is touched. Between fork and exec only async-signal-safe calls are made.
std::string startDetached(const std::string& program, char* const argv[]) {
    const pid_t middle = ::fork();
    if (middle < 0) {
        const int error = errno;
        std::fprintf(stderr, "startQuillane: %s\n", cannotStart(program, error).c_str());
        return cannotStart(program, error);
    }
    if (middle == 0) {
        const pid_t child = ::fork();
        if (child == 0) {
            resetSignalsForChild();
            ::closefrom(3);
            ::execve(program.c_str(), argv, environ);
            ::_exit(127);
        }
        ::_exit(child < 0 ? 1 : 0);
    }
    waitFor(middle);
    return {};
}

}  // namespace

std::string startQuillane(std::string path, bool modal) {
    const std::string settingsPath = settingsFilePath();
    if (settingsPath.empty()) {
        getValueFromReg("ProgramPath", false);  // shows why nothing can start
        return "HOME is not set, so its settings cannot be found";
    }
    if (libproc::isProcessRunning(kQuillaneProcessName)) return {};

    const std::string programPath = getValueFromReg("ProgramPath", false);
    if (programPath.empty()) {
        const std::string message =
            "Quillane preferences not found. Please install Quillane and run it before using this function. "
            "\n\nFile " + settingsPath + " not found";
        showBox(message.c_str(), "Error", BoxStyle::Error, BoxButtons::OK);
        return "its settings (" + settingsPath + ") do not say where it is installed";
    }

    const std::string program = resolveProgram(programPath);
    std::string programArg = programPath;
    std::string flag = "-plugin";
    std::vector<char*> argv{programArg.data(), flag.data()};
    if (!path.empty()) argv.push_back(path.data());
    argv.push_back(nullptr);

    return modal ? startAndWait(program, argv.data()) : startDetached(program, argv.data());
}
