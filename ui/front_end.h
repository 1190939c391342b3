#pragma once
// The window's front end: what the program does with a display. No
// arguments open the main window; "/open" (and "/shell /open /list FILE")
// open it with the list filled; any other command line runs its conversion
// in the progress dialog (hidden for a plain command line with ShowMessages
// off) and ends with the command line's exit code.

#include <string>
#include <vector>

namespace pv::ui {

// True when a window can be shown: DISPLAY or WAYLAND_DISPLAY is set.
bool displayAvailable();

// Runs the program on the window front end; `argc`/`argv` are the process's
// (Qt reads its own options from them), `args` the program's arguments.
int runWindowed(int& argc, char** argv, const std::vector<std::string>& args);

}  // namespace pv::ui
