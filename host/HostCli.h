#pragma once
// The host's command line: a chain of commands run in order on one host.
//
//   quillane-host [--effect MODULE] COMMAND [ARGS]... [COMMAND [ARGS]...]...
//
// Commands that work on an instance use the selected one (the first by
// default) and create one when there is none.
#include <iosfwd>
#include <string>
#include <vector>

namespace host {

// Runs the command line; the exit status (0 when every command succeeded).
int runHostCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace host
