// Entry point: arguments run the command line on the console front end; no
// arguments open the main window.

#include <iostream>
#include <string>
#include <vector>

#include "app/console.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << pv::app::versionText() << ": the main window is not available in this build yet; "
              << "run with --version.\n";
    return 2;
  }
  return pv::app::runConsole(args, std::cout, std::cerr);
}
