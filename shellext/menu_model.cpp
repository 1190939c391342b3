#include "shellext/menu_model.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "core/extensions.h"
#include "core/format_registry.h"
#include "core/handoff.h"
#include "core/ini.h"
#include "core/text.h"

#ifndef PV_INSTALLED_PROGRAM
#define PV_INSTALLED_PROGRAM "/usr/bin/pictoravine"
#endif

namespace pv::shell {

namespace {

constexpr const char* kFormatTip = "Convert the selected images to the chosen format";
constexpr const char* kProfileTip = "Choose the default profile to use when converting";
constexpr const char* kNoneTip = "Do not use any profile when converting";
constexpr const char* kCustomizeTip = "Customize the image formats shown in the shell context menu";
constexpr const char* kOpenTip = "Open Pictoravine with the chosen images";

// A hand-off list nobody read within a day belongs to a program that never
// started; it is removed at the next hand-off.
constexpr std::chrono::hours kStaleHandOff{24};

}  // namespace

std::vector<std::string> acceptedFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  for (const std::string& p : paths)
    if (!p.empty() && p.front() == '/' && acceptedImageName(p)) out.push_back(p);
  return out;
}

bool menuEnabled(const std::string& configPath) {
  return parseDecimal(ini::readString(configPath, "Global", "ShellContextEnabled", "1")) != 0;
}

ShellMenu ShellMenu::build(const std::string& configPath, std::vector<std::string> profiles) {
  const ini::Document config = ini::Document::load(configPath);
  const std::string current = config.get("Global", "DefaultShellContextProfile").value_or("");
  ShellMenu m;
  const auto add = [&m](std::vector<MenuEntry>& into, MenuEntry e, Command c, const char* tip) {
    e.offset = m.commandCount();
    e.tip = tip;
    m.commands_.push_back(std::move(c));
    m.tips_.emplace_back(tip);
    into.push_back(std::move(e));
  };
  for (const FormatRow& row : formatRegistry()) {
    if (parseDecimal(config.get("Shell", row.key).value_or("0")) == 0) continue;
    const std::string key(row.key);
    add(m.entries_, {.label = iequals(key, "CLP") ? "Copy to Clipboard" : "Convert to " + key},
        {Action::Convert, key}, kFormatTip);
  }
  if (m.commands_.empty())
    m.entries_.push_back({.kind = MenuEntry::Kind::Greyed, .label = "No formats chosen to show"});
  m.entries_.push_back({.kind = MenuEntry::Kind::Separator});
  if (!profiles.empty()) {
    MenuEntry sub{.kind = MenuEntry::Kind::Submenu, .label = "Current Profile"};
    for (std::string& name : profiles) {
      const bool checked = name == current;
      add(sub.children, {.label = name, .checked = checked}, {Action::ChooseProfile, name}, kProfileTip);
    }
    sub.children.push_back({.kind = MenuEntry::Kind::Separator});
    add(sub.children, {.label = "None", .checked = current.empty()}, {Action::ClearProfile, {}}, kNoneTip);
    m.entries_.push_back(std::move(sub));
    m.entries_.push_back({.kind = MenuEntry::Kind::Separator});
  }
  add(m.entries_, {.label = "Customize Above Menu"}, {Action::Customize, {}}, kCustomizeTip);
  add(m.entries_, {.label = "Open With Pictoravine"}, {Action::Open, {}}, kOpenTip);
  return m;
}

Command ShellMenu::commandAt(int n) const {
  return n >= 0 && n < commandCount() ? commands_[static_cast<std::size_t>(n)] : Command{};
}

std::string ShellMenu::helpText(int n) const {
  return n >= 0 && n < commandCount() ? tips_[static_cast<std::size_t>(n)] : std::string();
}

std::string programPath(const std::string& moduleFolder) {
  if (const char* dir = std::getenv("PICTORAVINE_INSTALL_DIR"); dir && *dir) return std::string(dir) + "/pictoravine";
  const std::string beside = moduleFolder + "/pictoravine";
  if (!moduleFolder.empty() && ::access(beside.c_str(), X_OK) == 0) return beside;
  return PV_INSTALLED_PROGRAM;
}

std::vector<std::string> perform(const Command& command, const std::vector<std::string>& files,
                                 const std::string& configPath, const std::string& program) {
  switch (command.action) {
    case Action::None:
      return {};
    case Action::ChooseProfile:
    case Action::ClearProfile:
      ini::writeString(configPath, "Global", "DefaultShellContextProfile", command.argument);
      return {};
    case Action::Customize:
      return {program, "/shell", "/shelloptions"};
    case Action::Convert:
      if (files.empty()) return {};
      break;
    case Action::Open:
      break;
  }
  removeStaleHandOffLists(kStaleHandOff);
  const std::optional<std::string> list = writeHandOffList(files);
  if (!list) return {};
  if (command.action == Action::Open) return {program, "/shell", "/open", "/list", *list};
  return {program, "/shell", "/convert", command.argument, "/list", *list};
}

}  // namespace pv::shell
