#pragma once
// "Options": the pages "Global Options", "File Options" and "File manager menu"
// over app/options.h. Only pages that were shown are stored back; OK and
// Apply save config.ini when every shown page was stored without a stop.

#include <QDialog>
#include <functional>
#include <optional>

#include "app/image_entry.h"
#include "app/options.h"
#include "app/ports.h"

class QButtonGroup;
class QCheckBox;
class QLabel;
class QComboBox;
class QLineEdit;
class QSpinBox;
class QTabWidget;
class QTreeWidget;

namespace pv::ui {

inline constexpr const char* kShellMenuText =
    QT_TRANSLATE_NOOP("pv::ui::OptionsSheet", "Show the context menu in the file manager?");

class OptionsSheet final : public QDialog {
  Q_OBJECT
 public:
  enum Page { kGlobal, kFile, kShell };
  // `registerMenu` switches the file manager's menu on or off.
  OptionsSheet(app::Settings& settings, app::Prompter& prompter, std::function<void(bool)> registerMenu,
               Page first = kGlobal, QWidget* parent = nullptr);

  // The Help button; without it, Help says there is no manual.
  std::function<void()> onHelp;

  // OK: apply and close; Apply: apply and stay. False after a stop.
  bool apply();
  void accept() override;
  bool shown(Page page) const { return initialised_[page]; }
  QTabWidget* tabs() const { return tabs_; }
  // The file page shows this image's output name as the texts before and
  // after the name are typed (the first image of the list).
  void showNameOf(const app::ImageEntry& entry, const std::string& extension);

  // The controls, for tests and screenshots.
  struct GlobalControls {
    QCheckBox *askWhereSave, *showThumbnails, *silent, *scanSubDir, *doLog;
    QLineEdit* logFile;
    QComboBox* multiPage;
    QSpinBox* threads;
    QCheckBox *autoOrient, *keepMetadata, *keepDates, *stripLocation;
  } global{};
  struct FileControls {
    QCheckBox *deleteSource, *overwrite, *onlySmaller, *keepFolders;
    QButtonGroup* place;
    QLineEdit *folder, *path, *before, *after, *number, *multiPage;
    QLabel* sampleName;
    QComboBox* whenExists;  // number a new name, overwrite, or skip
  } file{};
  struct ShellControls {
    QCheckBox* enabled;
    QTreeWidget* formats;
    QTreeWidget* fileManagers;  // each file manager: installed, and whether it has the menu
    QLabel* problem;            // why Dolphin's menu could not be written, when it could not
  } shell{};
  // Fills the file-manager list from what is installed now.
  void showFileManagers();

 private:
  QWidget* buildGlobal();
  void updateSampleName();
  std::optional<app::ImageEntry> sample_;
  std::string sampleExtension_;
  QWidget* buildFile();
  QWidget* buildShell();
  void showPage(int page);
  void modified();
  app::Settings& settings_;
  app::Prompter& prompter_;
  std::function<void(bool)> registerMenu_;
  std::string serviceMenuProblem_;  // why Dolphin's menu could not be written at the last apply
  QTabWidget* tabs_;
  QPushButton* apply_;
  bool initialised_[3] = {false, false, false};
  bool filling_ = false;
};

}  // namespace pv::ui
