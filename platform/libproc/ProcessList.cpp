#include "platform/libproc/ProcessList.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace libproc {
namespace {

bool readFirstLine(const std::string& path, std::string& line) {
    std::ifstream in(path);
    return in && std::getline(in, line);
}

}  // namespace

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> result;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), &closedir);
    if (!proc) return result;
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        const std::string base = std::string("/proc/") + entry->d_name;

        ProcessInfo info;
        info.pid = static_cast<pid_t>(pid);
        if (!readFirstLine(base + "/comm", info.name)) continue;
        // The stat line is "pid (name) state ..."; the name may hold blanks and
        // parentheses, so the state is found after the last ')'.
        std::string stat;
        if (!readFirstLine(base + "/stat", stat)) continue;
        const auto close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size()) continue;
        info.state = stat[close + 2];
        result.push_back(std::move(info));
    }
    return result;
}

bool isProcessRunning(const std::string& name) {
    for (const ProcessInfo& info : listProcesses())
        if (info.name == name && info.state != 'Z' && info.state != 'X') return true;
    return false;
}

}  // namespace libproc
