#pragma once
// Stand-in for the process-information library: the processes of the machine
// and each one's short name, read from /proc.
#include <string>
#include <sys/types.h>
#include <vector>

namespace libproc {

struct ProcessInfo {
    pid_t pid = 0;
    // The short command name the kernel keeps (at most 15 bytes).
    std::string name;
    // The state letter of /proc/<pid>/stat: 'R', 'S', 'Z' (ended, not yet reaped), ...
    char state = '?';
};

// Every process visible in /proc. A process that ends while the list is read is left out.
std::vector<ProcessInfo> listProcesses();

// True when a live process (not one that has ended and waits to be reaped)
// carries exactly this short name.
bool isProcessRunning(const std::string& name);

}  // namespace libproc
