#include "platform/launchservices/LaunchServices.h"

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/spawn/CleanSpawn.h"

extern char** environ;

namespace launchservices {

namespace {

URLOpener& hook() {
    static URLOpener opener;
    return opener;
}

// Exit statuses of the middle process that tell the caller how the spawn went.
constexpr int kSpawned = 0;
constexpr int kNotFound = 127;
constexpr int kSpawnFailed = 126;

// Runs program with url as its one argument, detached: a short-lived middle
// process starts the opener and ends at once, so the opener is adopted by
// init and nobody of ours has to wait for it. Only the middle process is
// waited for, which takes milliseconds.
int spawnDetached(const std::string& program, const std::string& url) {
    // Everything the middle process needs is made before the fork: after it, a
    // multi-threaded process may only make async-signal-safe calls and spawn.
    std::string programArg = program;
    std::string urlArg = url;
    std::vector<char*> argv = {programArg.data(), urlArg.data(), nullptr};
    // The opener and the browser it starts get none of the host's descriptors
    // or blocked signals.
    const CleanSpawn clean;

    const pid_t middle = ::fork();
    if (middle < 0) return kLSLaunchFailedErr;
    if (middle == 0) {
        pid_t opener = 0;
        const int failed = ::posix_spawnp(&opener, argv[0], clean.actions(), clean.attr(), argv.data(), environ);
        ::_exit(failed == 0 ? kSpawned : (failed == ENOENT ? kNotFound : kSpawnFailed));
    }
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(middle, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    if (reaped != middle || !WIFEXITED(status)) return kLSLaunchFailedErr;
    switch (WEXITSTATUS(status)) {
        case kSpawned: return kNoErr;
        case kNotFound: return kLSApplicationNotFoundErr;
        default: return kLSLaunchFailedErr;
    }
}

}  // namespace

std::string urlOpenerProgram() {
    const char* chosen = std::getenv(kURLOpenerVariable);
    return chosen != nullptr && *chosen != '\0' ? chosen : kDefaultURLOpener;
}

int LSOpenURL(const std::string& url) {
    if (url.empty() || url[0] == '-') return kParamErr;
    if (hook()) return hook()(url);
    return spawnDetached(urlOpenerProgram(), url);
}

URLOpener setURLOpener(URLOpener opener) {
    URLOpener previous = std::move(hook());
    hook() = std::move(opener);
    return previous;
}

}  // namespace launchservices
