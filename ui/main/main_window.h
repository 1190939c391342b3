#pragma once
// The main window: the image list, the before and after panes, the filter
// chain, the output formats and Go. Every command is declared once in the
// window's command table (text, hint, shortcut, icon, handler); the menus,
// the context menus and the icon buttons are made from it.

#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "app/job_runner.h"
#include "app/preview.h"
#include "app/run_tally.h"
#include "ui/jobs/latest_worker.h"
#include "ui/main/preview_pane.h"

class QCheckBox;
class QFileDialog;
class QPushButton;
class QTreeView;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace pv::ui {

// What "Filter Options..." says when it has no filter to open.
inline constexpr const char* kNoFiltersText =
    QT_TRANSLATE_NOOP("Messages", "The chain has no filters yet: add one with \"Add Filter...\".");
inline constexpr const char* kNoFilterSelectedText =
    QT_TRANSLATE_NOOP("Messages", "Select a filter in the chain to see its options.");

class FilterForms;
class HeadedList;
class RunSummaryDialog;
class ImageListModel;
class QtPrompter;

inline constexpr const char* kWelcomeText =
    QT_TRANSLATE_NOOP("pv::ui::MainWindow", "Welcome to Pictoravine!");
// The formats the format list shows first, in this order: those people
// write today.
inline constexpr const char* kFormatsFirst[] = {"JPG", "PNG", "WEBP", "AVIF", "HEIC",
                                                "JXL", "TIF", "GIF",  "BMP"};
inline constexpr const char* kClearImagesQuestion =
    QT_TRANSLATE_NOOP("Messages", "Are you sure you want to clear the current image list?");
inline constexpr const char* kClearFiltersQuestion =
    QT_TRANSLATE_NOOP("Messages", "Are you sure you want to clear the current filter list?");

class MainWindow final : public QMainWindow {
  Q_OBJECT
 public:
  // The commands of the window, in the order of the command table.
  enum Command {
    kNewList,
    kOpenList,
    kSaveList,
    kSaveProfile,
    kProfileManager,
    kStartConversion,
    kExit,
    kGlobalOptions,
    kFormatOptions,
    kFilterOptions,
    kHelp,
    kWebsite,
    kAbout,
    kAddImages,
    kAddFolder,
    kRemoveImages,
    kClearImages,
    kAddFilter,
    kRemoveFilters,
    kClearFilters,
    kMoveUp,
    kMoveDown,
    kMoveTop,
    kMoveBottom,
    kCommandCount
  };

  MainWindow(app::Session& session, QtPrompter& prompter, app::Launcher& launcher, QWidget* parent = nullptr);
  ~MainWindow() override;

  QAction* action(Command c) const { return actions_[c]; }

  // The commands' work, callable directly (tests, the command line).
  void addFiles(const QStringList& paths);  // one file at once, several in a list job
  void addFolder(const QString& folder);
  void openList(const QString& path);
  bool saveList(const QString& path);
  void removeSelectedImages();
  void clearImages();
  void sortImages();
  void addFilter(int registryIndex);
  void removeSelectedFilters();
  void clearFilters();
  void moveFilter(Command how);
  // The chain's settings editor on the first selected filter: its form, or
  // the message of a filter without settings.
  void configureFilter();
  FilterForms& filterForms() { return *forms_; }
  void selectFormat(int row);
  // Go: the save location when asked for, the progress dialog (hidden when
  // `hiddenProgress`), and the log dialog after failures.
  void startConversion(bool hiddenProgress = false, app::JobObserver* extra = nullptr);
  // Runs a job in the progress dialog; afterwards the log dialog when there
  // were failures and ShowMessages is on.
  void runJob(int runKind, app::JobArgument argument, bool hidden = false, app::JobObserver* extra = nullptr);
  void selectImage(int row);
  int selectedImage() const { return selected_; }

  // The current pictures of the panes (null when none).
  const QImage& beforePicture() const;
  const QImage& afterPicture() const;
  bool previewBusy() const { return preview_.busy(); }
  QTreeView* imageView() const { return images_; }
  HeadedList* filterList() const { return filters_; }
  QTreeWidget* formatList() const { return formats_; }
  // Opening as a window (not for a command line's run): an empty chain gets
  // the chain the window had when it was last closed.
  void restoreLastChain();
  // Where the open dialogs start: the folder images were last taken from,
  // else the Pictures folder, else home.
  QString imageFolder() const;
  // The end-of-run summary, for tests: called once it is shown.
  std::function<void(RunSummaryDialog&)> onRunSummary;
  QLineEdit* formatFilter() const { return formatFilter_; }
  // The format list's row of a registry index; null for none.
  QTreeWidgetItem* formatItemOf(int index) const;
  QPushButton* goButton() const { return go_; }
  QLabel* emptyListHint() const { return emptyHint_; }
  PreviewPane* pane(bool before) const { return before ? before_ : after_; }
  QCheckBox* beforeBox() const { return beforeBox_; }
  QCheckBox* afterBox() const { return afterBox_; }
  ImageListModel* imageModel() const { return model_; }
  // The preview window of the selected image, before or after the chain.
  void openPreview(bool before);
  std::function<void(class PreviewWindow&)> onPreview;
  std::function<void(class OptionsSheet&)> onOptions;
  // Called with the save-profile dialog or the profile manager while it runs.
  std::function<void(QDialog*)> onProfileDialog;
  // Called with the open dialog of "Add Image(s)..." while it runs.
  std::function<void(QFileDialog&)> onFileDialog;
  // Called with every job's dialog while it runs (tests drive it from here).
  std::function<void(class ProgressDialog&)> onJobDialog;

 signals:
  void previewsShown();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void buildCommands();
  void buildWidgets();
  void buildMenus();
  void run(Command c);
  // The list has changed: the model reads it again, and the entry at path
  // `keep` (added to or sorted, not removed) stays selected; otherwise
  // nothing is.
  void afterListChange(const std::string& keep = {});
  std::string selectedPath() const;
  // The hint on an empty list, and Go only where there is something to start.
  void showWhetherEmpty();
  void refreshFilters(int select = -1);
  void rebuildPreviews();
  void showLogIfFailures();
  void showRunSummary(const app::RunTally& tally);
  std::set<std::size_t> selectedFilters() const;

  app::Session& session_;
  QtPrompter& prompter_;
  app::Launcher& launcher_;
  std::unique_ptr<FilterForms> forms_;
  QAction* actions_[kCommandCount] = {};
  ImageListModel* model_ = nullptr;
  QTreeView* images_ = nullptr;
  HeadedList* filters_ = nullptr;
  QTreeWidget* formats_ = nullptr;
  QTreeWidgetItem* formatsHeading_ = nullptr;  // "Other formats"
  QLineEdit* formatFilter_ = nullptr;
  QCheckBox *beforeBox_ = nullptr, *afterBox_ = nullptr;
  PreviewPane *before_ = nullptr, *after_ = nullptr;
  QPushButton* go_ = nullptr;
  QLabel* emptyHint_ = nullptr;
  LatestWorker preview_;
  QTimer previewDelay_;
  int selected_ = -1;
  bool ascending_ = true;
  bool jobRunning_ = false;
};

}  // namespace pv::ui
