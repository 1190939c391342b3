#pragma once
// Where the program finds its read-only resources and keeps its per-user data.

#include <string>
#include <vector>

namespace pv {

// The program folder: $PICTORAVINE_INSTALL_DIR when set and not empty, else the
// folder of the running executable. No trailing '/'.
std::string programFolder();

// The per-user data folder: $PICTORAVINE_DATA_DIR, else
// $XDG_CONFIG_HOME/Pictoravine, else ~/.config/Pictoravine. With `create`, the
// folder and any missing parents are created (failures are left for the
// callers that write into it to report). No trailing '/'.
std::string dataFolder(bool create = true);

// The settings file, config.ini in the data folder (`create` as above).
std::string configFilePath(bool create = true);

// The folders read-only resources are looked for in, in order: the program
// folder, then <program folder>/../share/pictoravine.
std::vector<std::string> resourceFolders();

// A read-only resource (data.dat, the manual): the first existing file among
// <program folder>/<name> and <program folder>/../share/pictoravine/<name>;
// else the first of these paths.
std::string resourcePath(const std::string& name);

// True when any directory entry exists at `path`: a file, a folder, a link
// (broken or not) or a file nobody may read.
bool entryExists(const std::string& path);

}  // namespace pv
