#pragma once
// The console front end: what the program does when it is started with arguments.

#include <iosfwd>
#include <string>
#include <vector>

namespace pv::app {

// "Pictoravine 4.949".
std::string versionText();

// Runs the command line `args` (without the program name) and returns the
// process exit code. Output goes to `out`, messages to `err`.
int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pv::app
