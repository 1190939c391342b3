#pragma once
// Start-up pieces that are not windows: the current output format, the probe of
// the imaging engine with data.dat, the start-up error texts and the
// installation of the file-manager plugin.

#include <functional>
#include <memory>
#include <string>

#include "app/settings.h"

namespace pv::engine {
class CLead;
}
namespace pv::formats {
class Format;
}

namespace pv::app {

class Prompter;

// The current output format at start: the registry entry DefaultFormatType.
std::unique_ptr<formats::Format> createStartFormat(const Settings& settings);

// "Error 4001-%u: Could not initialize image converter. Please re-install
// Pictoravine and reboot." with `number` (4001..4007) and the failing `result`.
std::string serviceErrorText(int number, unsigned result);

inline constexpr const char* kDataDatMissing = "Error: Could not find data.dat. Please reinstall the program.";
inline constexpr const char* kEngineUnusable =
    "Error 4101: Could not initialize image converter. Please re-install Pictoravine and reboot.";

// Makes data.dat the current image of `lead` again. A failed load is reported
// through `prompter` while ShowMessages is on (pass `windowExists` false before
// the window is up, as then nothing is shown); an exception from the engine is
// reported always. Returns the load status (or -1 after an exception).
int probeImagingControl(engine::CLead& lead, const Settings& settings, Prompter& prompter, bool windowExists);

enum class ShellRegistration {
  Done,           // the menu shows (or is hidden) at the next right click
  NoFileManager,  // no file manager that loads the plugin is installed
  ModuleMissing,  // the plugin is neither installed nor beside the program
  InstallFailed,  // installing it (through pkexec) was refused or failed
};

// Switches the file managers' menu on or off for this user. The switch itself
// is the setting ShellContextEnabled, which the plugins read at every menu;
// switching on also installs, for each file manager on PATH, its plugin (from
// the folder of settings.shellLibraryPath) into its folder when it is not
// there yet: directly when the folder is writable, else through pkexec, the
// desktop's way to ask for an administrator's password. Dolphin's service
// menu is written when the settings are saved (shell::updateServiceMenu).
ShellRegistration registerShellExtension(const Settings& settings, bool doRegister);

// The message for a registration that did not work; empty for Done.
std::string shellRegistrationText(ShellRegistration result);

// The options pages' switch: registers and tells the user what did not work.
std::function<void(bool)> shellMenuSwitch(const Settings& settings, Prompter& prompter);

}  // namespace pv::app
