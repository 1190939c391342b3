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
  // Our own icon (an SVG among the resources, drawn sharp at any pixel ratio
  // in a blue that reads on light and dark themes), for the buttons beside
  // the lists when the desktop's theme has none; "" when the style's will do.
  const char* ownIcon = "";
};

// The command's icon: the desktop theme's, else our own, else the style's.
QIcon commandIcon(const CommandRow& row, const QStyle* style);

// The row of a command.
const CommandRow& commandRow(MainWindow::Command command);

// Menus, context menus and button columns: commands in their order, with
// kSeparator between groups.
inline constexpr int kSeparator = -1;
using CommandList = std::vector<int>;
extern const CommandList kFileMenu, kOptionsMenu, kHelpMenu, kImageMenu, kFilterMenu, kFormatMenu,
    kImageButtons, kFilterButtons;

}  // namespace pv::ui
