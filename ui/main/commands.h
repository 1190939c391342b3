#pragma once
// The main window's commands, declared once: each command's row (text, hint,
// shortcut, icon), the menus, context menus and button columns made of
// them.

#include <QStyle>
#include <vector>

#include "ui/main/main_window.h"

namespace pv::ui {

// Every command once: its menu text, its hint (the status line and the tool
// tip of its button), a shortcut, and its icon (the desktop theme's, else
// the style's own). Each row names its command, and stands at the command's
// position: a missing, extra or misplaced row does not build.
struct CommandRow {
  MainWindow::Command command;
  const char* text;
  const char* hint;
  const char* shortcut;
  const char* themeIcon;
  QStyle::StandardPixmap fallback;
};

// The row of a command.
const CommandRow& commandRow(MainWindow::Command command);

// Menus, context menus and button columns: commands in their order, with
// kSeparator between groups.
inline constexpr int kSeparator = -1;
using CommandList = std::vector<int>;
extern const CommandList kFileMenu, kOptionsMenu, kHelpMenu, kImageMenu, kFilterMenu, kFormatMenu,
    kImageButtons, kFilterButtons;

}  // namespace pv::ui
