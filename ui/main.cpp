// Entry point: with a display the window front end runs (the main window, or
// a command line's conversion in the progress dialog); without one, or for
// --version, --formats, --libraries, help and --console, the console front end.

#include <iostream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/heap.h"
#include "ui/front_end.h"

int main(int argc, char** argv) {
  pv::app::shareOneHeap();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (pv::app::wantsConsole(args) || !pv::ui::displayAvailable()) {
    if (args.empty()) {
      std::cerr << pv::app::versionText()
                << ": the window needs a display (DISPLAY or WAYLAND_DISPLAY); "
                   "run with --help for the command line.\n";
      return 2;
    }
    return pv::app::runConsole(args, std::cout, std::cerr);
  }
  return pv::ui::runWindowed(argc, argv, args);
}
