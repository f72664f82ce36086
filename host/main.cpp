// quillane-host: our stand-in for the video editor, on the command line.
#include <iostream>
#include <string>
#include <vector>

#include "host/HostCli.h"

int main(int argc, char** argv) {
    return host::runHostCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
