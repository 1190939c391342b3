#include "shellext/file_managers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/ini.h"
#include "core/paths.h"
#include "core/profiles.h"

// PV_<module>_FOLDER and PV_<module>_FILE: where the build installs each
// module (set by pv_file_manager_module in shellext/CMakeLists.txt).

namespace pv::shell {

namespace fs = std::filesystem;

std::vector<FileManager> fileManagers() {
  // PICTORAVINE_EXTENSION_DIR points Nautilus's folder elsewhere (tests).
  const char* nautilus = std::getenv("PICTORAVINE_EXTENSION_DIR");
  return {
      {"Files (Nautilus)", "GNOME", "nautilus", nautilus && *nautilus ? nautilus : PV_EXTPV_FOLDER, PV_EXTPV_FILE},
      {"Nemo", "Cinnamon", "nemo", PV_EXTPV_NEMO_FOLDER, PV_EXTPV_NEMO_FILE},
      {"Caja", "MATE", "caja", PV_EXTPV_CAJA_FOLDER, PV_EXTPV_CAJA_FILE},
      {"Thunar", "Xfce", "thunar", PV_EXTPV_THUNAR_FOLDER, PV_EXTPV_THUNAR_FILE},
      {"Dolphin", "KDE Plasma", "dolphin", serviceMenuFolder(), kServiceMenuFile, true},
  };
}

std::string serviceMenuFolder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') return std::string(data) + "/kio/servicemenus";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.local/share/kio/servicemenus";
}

std::string searchPath() {
  const char* path = std::getenv("PATH");
  return path ? path : "";
}

bool onPath(const std::string& program, const std::string& path) {
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    const std::string folder = path.substr(start, end - start);
    if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

namespace {

// The actions of a service menu, each with the word its Exec line hands to
// handOffArguments; a format's key follows the convert word.
struct HandOffAction {
  Action action;
  const char* word;
};
constexpr HandOffAction kHandOffActions[] = {
    {Action::Convert, "convert"}, {Action::Open, "open"}, {Action::Customize, "customize"}};

const HandOffAction* handOffActionOf(Action action) {
  for (const HandOffAction& a : kHandOffActions)
    if (a.action == action) return &a;
  return nullptr;
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One argument of an Exec line: bare when it has only plain letters, else
// quoted with ", `, $ and \ escaped; then \ doubled again, as the .desktop
// value's own escape, and % doubled, as Exec's field codes ask.
std::string execArgument(const std::string& arg) {
  const bool plain = !arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                           "0123456789/._-+=,") == std::string::npos;
  std::string quoted;
  if (plain) {
    quoted = arg;
  } else {
    quoted = "\"";
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
  }
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out;
}

// Letters, digits and '-' only: a desktop action's name.
std::string actionId(std::string text) {
  for (char& c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
  return text;
}

}  // namespace

MenuStatus statusOf(const FileManager& fm, bool enabled, const std::string& path) {
  MenuStatus s;
  const auto say = [&s](std::string text, std::string detail) {
    s.text = std::move(text);
    s.detail = std::move(detail);
    return s;
  };
  s.installed = onPath(fm.program, path);
  if (!s.installed) return say("not installed", fm.program + " is not on this computer's PATH");
  if (fm.folder.empty()) return say("no menu in this build", "this build of Pictoravine has no module for it");
  const std::string file = fm.folder + "/" + fm.file;
  s.hasMenu = entryExists(file);
  if (s.hasMenu)
    return say(enabled ? "has the menu" : "has the menu, switched off above", file);
  if (fm.serviceMenu)
    return enabled ? say("written when these options are saved", file + " is written when these options are saved")
                   : say("no menu while switched off", file + " is removed while the menu is switched off");
  if (!isFolder(fm.folder))
    return say("no menu: module folder missing", "its module folder " + fm.folder + " does not exist");
  if (::access(fm.folder.c_str(), W_OK) != 0)
    return say("no menu: install the package", fm.file + " is not in " + fm.folder +
                                                   ", which only the system's administrator can write "
                                                   "(install the Pictoravine package)");
  return say("no menu: module not installed", fm.file + " is not in " + fm.folder);
}

std::string serviceMenuText(const ShellMenu& menu, const std::string& program) {
  std::vector<std::pair<std::string, std::string>> actions;  // id, [Desktop Action] body
  const std::string start = "Exec=" + execArgument(program) + " " + kHandOffSwitch;
  for (const MenuEntry& e : menu.entries()) {
    if (e.kind != MenuEntry::Kind::Item || e.offset < 0) continue;
    const Command c = menu.commandAt(e.offset);
    const HandOffAction* a = handOffActionOf(c.action);
    if (!a) continue;
    // A convert action carries its format; the customize action takes no files.
    const bool convert = c.action == Action::Convert;
    const std::string id = convert ? std::string(a->word) + "-" + actionId(c.argument) : a->word;
    const std::string exec = start + " " + a->word + (convert ? " " + execArgument(c.argument) : "") +
                             (c.action == Action::Customize ? "" : " %F");
    actions.emplace_back(id, "Name=" + e.label + "\nIcon=pictoravine\n" + exec + "\n");
  }
  std::string text =
      "[Desktop Entry]\n"
      "Type=Service\n"
      "Name=Pictoravine\n"
      "Icon=pictoravine\n"
      "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
      "MimeType=image/*;\n"
      "X-KDE-Submenu=" +
      std::string(kRootLabel) + "\nActions=";
  for (const auto& [id, body] : actions) text += id + ";";
  text += "\n";
  for (const auto& [id, body] : actions) text += "\n[Desktop Action " + id + "]\n" + body;
  return text;
}

std::string updateServiceMenu(const std::string& configPath, const std::string& program, const std::string& folder) {
  const std::string path = folder + "/" + kServiceMenuFile;
  if (!menuEnabled(configPath)) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      return "Dolphin's menu " + path + " could not be removed: " + std::strerror(errno);
    return {};
  }
  const std::string text = serviceMenuText(ShellMenu::build(configPath, listProfileNames()), program);
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "Dolphin's menu could not be written: the folder " + folder + " cannot be made (" + ec.message() + ")";
  if (!ini::replaceFileAtomically(path, text, 0755))
    return "Dolphin's menu could not be written into " + folder + ": " + std::strerror(errno);
  return {};
}

std::optional<std::vector<std::string>> handOffArguments(const std::vector<std::string>& args,
                                                         const std::string& configPath) {
  if (args.empty() || args[0] != kHandOffSwitch) return std::nullopt;
  const std::string word = args.size() > 1 ? args[1] : "";
  const HandOffAction* a = nullptr;
  for (const HandOffAction& known : kHandOffActions)
    if (word == known.word) a = &known;
  const bool convert = a && a->action == Action::Convert;
  if (!a || (convert && args.size() < 3)) return std::vector<std::string>{};
  const Command command{a->action, convert ? args[2] : std::string()};
  const std::size_t first = convert ? 3 : 2;
  std::vector<std::string> paths;
  for (std::size_t i = first; i < args.size(); ++i) {
    std::error_code ec;
    paths.push_back(fs::absolute(args[i], ec).lexically_normal().string());
  }
  std::vector<std::string> argv = perform(command, acceptedFiles(paths), configPath, "program");
  if (!argv.empty()) argv.erase(argv.begin());
  return argv;
}

}  // namespace pv::shell
