#pragma once
// The five file managers that can show the "Pictoravine" menu, as data: four
// load a module of ours from their own folder (Nautilus, Nemo, Caja, Thunar);
// Dolphin reads a KIO service menu, a .desktop file the program writes into
// the user's folder from the same menu model, whose actions start the program
// with `--menu-hand-off` and the files Dolphin gives.

#include <optional>
#include <string>
#include <vector>

#include "shellext/menu_model.h"

namespace pv::shell {

struct FileManager {
  std::string name;     // as the options page shows it
  std::string desktop;  // the desktop it comes with
  std::string program;  // its executable, looked up on PATH
  std::string folder;   // where its module (or service menu) goes; empty when this build has none
  std::string file;     // the module's (or service menu's) file name
  bool serviceMenu = false;
};

// The five, with the module folders this build installs into and Dolphin's
// folder for the current user.
std::vector<FileManager> fileManagers();

// Where Dolphin reads the user's service menus: $XDG_DATA_HOME/kio/servicemenus,
// else ~/.local/share/kio/servicemenus.
std::string serviceMenuFolder();
inline constexpr const char* kServiceMenuFile = "pictoravine.desktop";

// Whether `program` is an executable in one of the folders of `path`
// (PATH's form: folders separated by ':'); searchPath() is this process's.
bool onPath(const std::string& program, const std::string& path);
std::string searchPath();

struct MenuStatus {
  bool installed = false;  // the file manager's program is on PATH
  bool hasMenu = false;    // our module or service menu is in place
  std::string text;        // a few words for the options page's list
  std::string detail;      // the whole story, with the folder (its tip)
};

// Where `fm` stands: installed or not, and whether it has the menu, or why not
// (a module folder that is missing or that this user cannot write). `enabled`
// is the user's "ShellContextEnabled"; `path` a PATH-style list of folders.
MenuStatus statusOf(const FileManager& fm, bool enabled, const std::string& path);

// The service menu for `menu`: one action per format shown, "Open With" and
// "Customize", each starting `program`. Profiles are left out, as a service
// menu has neither nested submenus nor check marks.
std::string serviceMenuText(const ShellMenu& menu, const std::string& program);

// Brings the user's service menu in line with `configPath`: written (0755,
// through a temporary file renamed into place) when the menu is on, removed
// when it is off. Empty on success, else why it could not be done; nothing
// else is changed either way.
std::string updateServiceMenu(const std::string& configPath, const std::string& program,
                              const std::string& folder = serviceMenuFolder());

inline constexpr const char* kHandOffSwitch = "--menu-hand-off";

// The program's own arguments for a service menu's hand-off, given its
// arguments after the program name: "--menu-hand-off convert <key> <files>",
// "--menu-hand-off open <files>" or "--menu-hand-off customize". The files
// are taken literally (no switches, wildcards or "|" lists) and pass the menu's
// filter; the result is what the modules start the program with (a hand-off
// list, "/shell"), without the program. Nullopt when `args` is no hand-off;
// empty when it starts nothing (an unknown action, no file the program reads,
// or a list that could not be written).
std::optional<std::vector<std::string>> handOffArguments(const std::vector<std::string>& args,
                                                         const std::string& configPath);

}  // namespace pv::shell
