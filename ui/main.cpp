// Entry point: with a display the window front end runs (the main window, or
// a command line's conversion in the progress dialog); without one, or for
// --version, --formats, --libraries, help and --console, the console front end.

#include <iostream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/heap.h"
#include "core/paths.h"
#include "shellext/file_managers.h"
#include "ui/front_end.h"
#include "ui/ports/clipboard.h"

int main(int argc, char** argv) {
  // This program started again to keep a copy on the clipboard, or to read it.
  if (int code = 0; pv::ui::runClipboardHelper(argc, argv, code)) return code;
  pv::app::shareOneHeap();
  std::vector<std::string> args(argv + 1, argv + argc);
  // Started by Dolphin's service menu: its files become the hand-off the
  // other file managers' modules make.
  if (auto handOff = pv::shell::handOffArguments(args, pv::configFilePath(false))) {
    if (handOff->empty()) {
      std::cerr << "pictoravine: the file manager gave no image this program reads\n";
      return 1;
    }
    args = std::move(*handOff);
  }
  if (pv::app::wantsConsole(args) || !pv::ui::displayAvailable()) {
    if (args.empty()) {
      std::cerr << pv::app::versionText()
                << ": the window needs a display (DISPLAY or WAYLAND_DISPLAY); "
                   "run with --help for the command line.\n";
      return 2;
    }
    // With a display, the console copies and pastes through the desktop's
    // clipboard (by helper processes: no window opens).
    pv::ui::QtClipboard clipboard;
    return pv::app::runConsole(args, std::cout, std::cerr,
                               pv::ui::displayAvailable() ? &clipboard : nullptr);
  }
  return pv::ui::runWindowed(argc, argv, args);
}
