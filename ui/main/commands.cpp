#include "ui/main/commands.h"

#include <iterator>
#include <string>

namespace pv::ui {

using M = MainWindow;

namespace {

// Texts carry their mnemonics ("&"), chosen so that no two entries of one
// menu share a letter. The texts are marked for the translation template;
// the window translates them where it shows them.
constexpr CommandRow kCommands[] = {
    {M::kNewList, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&New Image List..."), "", "Ctrl+N", "document-new",
     QStyle::SP_FileIcon},
    {M::kOpenList, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Open Image List..."), "", "", "document-open",
     QStyle::SP_DialogOpenButton},
    {M::kSaveList, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Save Image List..."), "", "", "document-save",
     QStyle::SP_DialogSaveButton},
    {M::kSaveProfile, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Save &Profile..."), "", "", "document-save-as",
     QStyle::SP_DialogSaveButton},
    {M::kProfileManager, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Profile &Manager..."), "", "",
     "document-properties", QStyle::SP_FileDialogDetailedView},
    {M::kStartConversion, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Start &Conversion..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Click on the Go button to start the conversion!"),
     "Ctrl+Return", "media-playback-start", QStyle::SP_MediaPlay},
    {M::kExit, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Quit"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Quits Pictoravine."), "Ctrl+Q", "application-exit",
     QStyle::SP_DialogCloseButton},
    {M::kGlobalOptions, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Global Options..."), "", "",
     "preferences-system", QStyle::SP_ComputerIcon},
    {M::kFormatOptions, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "F&ormat Options..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Configure the options for the selected format."), "",
     "document-properties", QStyle::SP_FileDialogInfoView, "properties"},
    {M::kFilterOptions, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "F&ilter Options..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Configure the options for the selected filter."), "",
     "configure", QStyle::SP_FileDialogContentsView, "configure"},
    {M::kHelp, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Help..."), "", "F1", "help-contents",
     QStyle::SP_DialogHelpButton},
    {M::kWebsite, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Visit Pictoravine Website"), "", "",
     "internet-web-browser", QStyle::SP_DriveNetIcon},
    {M::kAbout, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&About Pictoravine..."), "", "", "help-about",
     QStyle::SP_MessageBoxInformation},
    {M::kAddImages, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Add &Image(s)..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Add image to the list."), "Ctrl+O", "list-add",
     QStyle::SP_FileIcon, "add-images"},
    {M::kAddFolder, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Add All Images in &Folder..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Add all images in a selected folder to the list."),
     "Ctrl+Shift+O", "folder-open", QStyle::SP_DirOpenIcon, "add-folder"},
    {M::kRemoveImages, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Remove Image(s)"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Remove the selected images from the list."), "", "list-remove",
     QStyle::SP_TrashIcon, "remove"},
    {M::kClearImages, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Clear Image List"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Remove all images in the list."), "", "edit-clear",
     QStyle::SP_DialogResetButton, "clear"},
    {M::kAddFilter, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Add Filter..."),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Add a filter you want to apply to the images."), "", "list-add",
     QStyle::SP_FileDialogNewFolder, "add"},
    {M::kRemoveFilters, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Remove Filter(s)"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Remove the selected filters from the list."), "", "list-remove",
     QStyle::SP_TrashIcon, "remove"},
    {M::kClearFilters, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "&Clear Filter List"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Remove all filters in the list."), "", "edit-clear",
     QStyle::SP_DialogResetButton, "clear"},
    {M::kMoveUp, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move Filter &Up"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move the selected filter up one position in the list."), "",
     "go-up", QStyle::SP_ArrowUp, "up"},
    {M::kMoveDown, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move Filter &Down"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move the selected filter down one position in the list."), "",
     "go-down", QStyle::SP_ArrowDown, "down"},
    {M::kMoveTop, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move Filter to &Top"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move the selected filter to the top of the list."), "",
     "go-top", QStyle::SP_MediaSkipBackward, "top"},
    {M::kMoveBottom, QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move Filter to &Bottom"),
     QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Move the selected filter to the bottom of the list."), "",
     "go-bottom", QStyle::SP_MediaSkipForward, "bottom"},
};

consteval bool everyCommandInItsPlace() {
  if (std::size(kCommands) != MainWindow::kCommandCount) return false;
  for (std::size_t c = 0; c < std::size(kCommands); ++c)
    if (kCommands[c].command != static_cast<int>(c)) return false;
  return true;
}
static_assert(everyCommandInItsPlace(), "the command table has one row per command, in the enum's order");

}  // namespace

const CommandRow& commandRow(MainWindow::Command command) {
  return kCommands[command];
}

QIcon commandIcon(const CommandRow& row, const QStyle* style) {
  if (QIcon::hasThemeIcon(row.themeIcon)) return QIcon::fromTheme(row.themeIcon);
  if (*row.ownIcon) return QIcon(QString(":/pictoravine/icons/actions/%1.svg").arg(row.ownIcon));
  return style->standardIcon(row.fallback);
}

const CommandList kFileMenu = {
    M::kNewList,        M::kOpenList, M::kSaveList,        kSeparator, M::kSaveProfile,
    M::kProfileManager, kSeparator,   M::kStartConversion, kSeparator, M::kExit};
const CommandList kOptionsMenu = {M::kGlobalOptions, M::kFormatOptions, M::kFilterOptions};
const CommandList kHelpMenu = {M::kHelp, kSeparator, M::kWebsite, kSeparator, M::kAbout};
const CommandList kImageMenu = {M::kAddImages, M::kAddFolder, kSeparator, M::kRemoveImages, M::kClearImages};
const CommandList kFilterMenu = {M::kAddFilter, kSeparator,      M::kRemoveFilters,  M::kClearFilters,
                                 kSeparator,    M::kSaveProfile, M::kProfileManager, M::kFilterOptions,
                                 kSeparator,    M::kMoveUp,      M::kMoveDown,       M::kMoveTop,
                                 M::kMoveBottom};
const CommandList kFormatMenu = {M::kFormatOptions};
const CommandList kImageButtons = {M::kAddFolder, M::kAddImages, M::kRemoveImages, M::kClearImages};
const CommandList kFilterButtons = {M::kFilterOptions, M::kAddFilter, M::kClearFilters, M::kRemoveFilters,
                                    M::kMoveTop,       M::kMoveUp,    M::kMoveBottom,   M::kMoveDown};

}  // namespace pv::ui
