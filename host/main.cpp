// quillane-host: our stand-in for the video editor, on the command line.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "host/HostCli.h"

int main(int argc, char** argv) {
    // Under a file-size limit a write past it must fail and be reported, as a
    // full disk is, not end the editor: each instance sizes its large
    // exchange file at start, and frames and projects are written whole.
    std::signal(SIGXFSZ, SIG_IGN);
    return host::runHostCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
