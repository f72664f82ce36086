#include "platform/libproc/ProcessList.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace libproc {

std::vector<ProcessInfo> listProcesses() {
    std::vector<ProcessInfo> result;
    std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), &closedir);
    if (!proc) return result;
    while (const dirent* entry = readdir(proc.get())) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;

        // "pid (name) state ...": the name may itself hold blanks and
        // parentheses, so it runs from the first '(' to the last ')'.
        std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
        std::string stat;
        if (!std::getline(in, stat)) continue;  // ended meanwhile
        const auto open = stat.find('(');
        const auto close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= stat.size())
            continue;
        ProcessInfo info;
        info.pid = static_cast<pid_t>(pid);
        info.name = stat.substr(open + 1, close - open - 1);
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
