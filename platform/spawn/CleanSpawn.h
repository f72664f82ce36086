#pragma once
// What a program the plug-in starts inherits: nothing of the host's but the
// standard descriptors and default signal handling. The host may block or
// ignore signals, and its own descriptors (the shared records among them) are
// none of another program's business.
#include <signal.h>
#include <spawn.h>

inline constexpr int kSignalsResetForChildren[] = {SIGPIPE, SIGINT, SIGQUIT, SIGCHLD, SIGHUP, SIGTERM};

// Attributes and file actions for posix_spawn that give the child that clean
// slate. Made before any fork, so a forked middle process only spawns.
class CleanSpawn {
public:
    CleanSpawn() {
        posix_spawnattr_init(&attr_);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : kSignalsResetForChildren) sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attr_, &none);
        posix_spawnattr_setsigdefault(&attr_, &defaults);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    }
    ~CleanSpawn() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attr_);
    }
    CleanSpawn(const CleanSpawn&) = delete;
    CleanSpawn& operator=(const CleanSpawn&) = delete;

    const posix_spawnattr_t* attr() const { return &attr_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attr_;
    posix_spawn_file_actions_t actions_;
};
