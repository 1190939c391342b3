#pragma once
// Start-up pieces that are not windows: the current output format, the probe of
// the imaging engine with data.dat, the start-up error texts and the
// installation of the file-manager plugin.

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

// The folder the file-manager plugin is installed into: $PICTORAVINE_EXTENSION_DIR
// when set, else ~/.local/share/nautilus/extensions-4.
std::string extensionFolder();

// Installs (register) or removes (unregister) the plugin module
// settings.shellLibraryPath in extensionFolder(). Returns false when the
// module is missing or the folder cannot be written; callers may ignore it.
bool registerShellExtension(const Settings& settings, bool doRegister);

}  // namespace pv::app
