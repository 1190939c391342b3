#pragma once
// The file manager's "Pictoravine" menu as plain data: which files it takes,
// the items it shows (formats chosen on the options page, the profiles with
// the current one checked, "Customize Above Menu", "Open With Pictoravine"),
// the command offset of each item, what each offset does, and the program's
// command line for a hand-off. No GLib here: the Nautilus adapter
// (nautilus_module.cpp) only turns this into menu items and starts the
// program with the argument vector it is given.

#include <optional>
#include <string>
#include <vector>

namespace pv::shell {

// The files the menu passes on, in the order given: local paths whose
// extension the program reads. Remote files (no local path, given as empty
// strings) and any other file are dropped.
std::vector<std::string> acceptedFiles(const std::vector<std::string>& paths);

// Whether the user has the menu on: "ShellContextEnabled" of section "Global"
// (on when missing, as the program's own default).
bool menuEnabled(const std::string& configPath);

enum class Action { None, Convert, ChooseProfile, ClearProfile, Customize, Open };

struct Command {
  Action action = Action::None;
  std::string argument;  // the format key (Convert) or the profile name (ChooseProfile)
};

struct MenuEntry {
  enum class Kind { Item, Greyed, Separator, Submenu };
  Kind kind = Kind::Item;
  std::string label{};
  std::string tip{};  // the help text
  int offset = -1;  // the command offset; -1 for entries without a command
  bool checked = false;
  std::vector<MenuEntry> children{};  // of a submenu
};

inline constexpr const char* kRootLabel = "Pictoravine";

class ShellMenu {
 public:
  // Reads the formats shown (section "Shell", a format shown when its value is
  // not 0, hidden when missing) and "DefaultShellContextProfile" from
  // `configPath`; `profiles` are the profile names in menu order.
  static ShellMenu build(const std::string& configPath, std::vector<std::string> profiles);

  // The entries of the "Pictoravine" submenu.
  const std::vector<MenuEntry>& entries() const { return entries_; }
  // How many command offsets the menu uses.
  int commandCount() const { return static_cast<int>(commands_.size()); }
  // What offset `n` does; Action::None outside the menu.
  Command commandAt(int n) const;
  // The help text of the item at offset `n`; empty outside the menu.
  std::string helpText(int n) const;

 private:
  std::vector<MenuEntry> entries_;
  std::vector<Command> commands_;
  std::vector<std::string> tips_;
};

// Where the program is: $PICTORAVINE_INSTALL_DIR/pictoravine when that is set;
// else the program beside the module (a build tree), when there is one; else
// the installed program.
std::string programPath(const std::string& moduleFolder);

// Carries out a command for `files` (already accepted). A profile choice
// writes "DefaultShellContextProfile" into `configPath` and gives nothing to
// start; a convert, customize or open command writes the files into a new
// hand-off list and gives the program's argument vector (program first). An
// empty result means nothing is started: no command, or the list could not
// be written.
std::vector<std::string> perform(const Command& command, const std::vector<std::string>& files,
                                 const std::string& configPath, const std::string& program);

}  // namespace pv::shell
