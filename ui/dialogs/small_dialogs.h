#pragma once
// The window's small modal dialogs: the log of the last job's failures, the
// save location asked before a conversion and the about box. Each reads and
// writes through app/.

#include <QDialog>

#include <functional>

#include "app/run_tally.h"
#include "app/session.h"

class QButtonGroup;
class QLabel;
class QPushButton;
class QCheckBox;
class QLineEdit;
class QPlainTextEdit;

namespace pv::ui {

inline constexpr const char* kSaveFailedText =
    QT_TRANSLATE_NOOP("Messages", "Could not save the file. Perhaps it is in use or write-protected?");

// "Pictoravine Log": the error summary, OK and "Save Log".
class LogDialog final : public QDialog {
  Q_OBJECT
 public:
  LogDialog(const std::string& summary, app::Prompter& prompter, const std::string& caption,
            QWidget* parent = nullptr);
  // Writes the summary to `path` (replacing it); the save-failure message when it cannot.
  bool saveTo(const QString& path);
  QPlainTextEdit* text() const { return text_; }

 private:
  std::string summary_;
  app::Prompter& prompter_;
  std::string caption_;
  QPlainTextEdit* text_;
};

// The end of a conversion in the window: what it did (converted, skipped,
// failed, time, bytes read and written), "Open output folder", "Show log"
// and Close.
class RunSummaryDialog final : public QDialog {
  Q_OBJECT
 public:
  RunSummaryDialog(const app::RunTally& tally, const std::string& log, app::Prompter& prompter,
                   app::Launcher& launcher, const std::string& caption, QWidget* parent = nullptr);
  QLabel* summary() const { return summary_; }
  QPushButton* openFolderButton() const { return openFolder_; }
  QPushButton* showLogButton() const { return showLog_; }

 private:
  QLabel* summary_;
  QPushButton *openFolder_, *showLog_;
};

// "Save Location": where the converted images go, and "Always ask where to save".
class SaveLocationDialog final : public QDialog {
  Q_OBJECT
 public:
  SaveLocationDialog(app::Settings& settings, app::Prompter& prompter, QWidget* parent = nullptr);
  void accept() override;
  QButtonGroup* choices() const { return choices_; }
  QLineEdit* folderField() const { return folder_; }
  QLineEdit* pathField() const { return path_; }
  QCheckBox* alwaysAsk() const { return ask_; }

 private:
  void enableFields();
  app::Settings& settings_;
  app::Prompter& prompter_;
  QButtonGroup* choices_;
  QLineEdit *folder_, *path_;
  QCheckBox* ask_;
};

// "About Pictoravine".
void showAbout(QWidget* parent);

// Opens the installed manual (`anchor`: a section of its home page, or
// empty) in the desktop's browser, or, when no browser takes it, in a window
// of its own; says so when it is not installed.
void openManual(app::Launcher& launcher, app::Prompter& prompter, const app::Settings& settings,
                const std::string& anchor = {});
// Called with the manual's own window while it is open (when no browser
// took the manual); tests close it from here.
extern std::function<void(QDialog&)> onManualWindow;

}  // namespace pv::ui
