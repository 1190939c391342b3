#include "ui/dialogs/small_dialogs.h"

#include "app/progress.h"

#include <QApplication>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QToolButton>
#include <QVBoxLayout>

#include <filesystem>

#include "core/text.h"
#include "engine/libraries.h"
#include "pv_version.h"
#include "ui/dialogs/dialog_parts.h"

namespace pv::ui {

LogDialog::LogDialog(const std::string& summary, app::Prompter& prompter, const std::string& caption,
                     QWidget* parent)
    : QDialog(parent), summary_(summary), prompter_(prompter), caption_(caption) {
  setWindowTitle(tr("Pictoravine Log"));
  text_ = new QPlainTextEdit;
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setPlainText(QString::fromStdString(withLineFeeds(summary)));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  QPushButton* save = buttons->addButton(tr("Save Log"), QDialogButtonBox::ActionRole);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(save, &QPushButton::clicked, this, [this] {
    QFileDialog dialog(this, tr("Select which file to save the log to"), QString(),
                       nameFilter({app::logFileType()}));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("txt");
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      saveTo(dialog.selectedFiles().first());
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(buttons);
  resize(640, 360);
}

bool LogDialog::saveTo(const QString& path) {
  const std::string lf = withLineFeeds(summary_);
  QSaveFile file(path);
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(lf.data(), static_cast<qint64>(lf.size())) == static_cast<qint64>(lf.size()) &&
                  file.commit();
  if (!ok) prompter_.error(caption_, kSaveFailedText);
  return ok;
}

RunSummaryDialog::RunSummaryDialog(const app::RunTally& tally, const std::string& log, app::Prompter& prompter,
                                   app::Launcher& launcher, const std::string& caption, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tally.aborted ? tr("Conversion stopped") : tr("Conversion finished"));
  summary_ = new QLabel(tr("Converted: %1\nSkipped: %2\nFailed: %3\nWritten over existing files: %4\n"
                           "Given numbered names: %5\nTime: %6\nRead: %7, written: %8")
                            .arg(tally.converted)
                            .arg(tally.skipped)
                            .arg(tally.failed)
                            .arg(tally.overwritten)
                            .arg(tally.numbered)
                            .arg(QString::fromStdString(app::clockText(static_cast<double>(tally.milliseconds) / 1000)))
                            .arg(QString::fromStdString(app::sizeText(tally.bytesIn)))
                            .arg(QString::fromStdString(app::sizeText(tally.bytesOut))));
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  openFolder_ = buttons->addButton(tr("Open output folder"), QDialogButtonBox::ActionRole);
  showLog_ = buttons->addButton(tr("Show log"), QDialogButtonBox::ActionRole);
  openFolder_->setEnabled(!tally.outputFolder.empty());
  showLog_->setEnabled(!log.empty());
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
  const std::string folder = tally.outputFolder;
  connect(openFolder_, &QPushButton::clicked, this, [&launcher, folder] { launcher.open(folder); });
  connect(showLog_, &QPushButton::clicked, this, [this, log, &prompter, caption] {
    LogDialog dialog(log, prompter, caption, this);
    dialog.exec();
  });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(summary_);
  layout->addWidget(buttons);
}

SaveLocationDialog::SaveLocationDialog(app::Settings& settings, app::Prompter& prompter, QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter) {
  setWindowTitle(tr("Save Location"));
  auto* group = new QGroupBox(tr(" Where do you want to save the converted images? "));
  choices_ = new QButtonGroup(this);
  auto* beside = new QRadioButton(tr("Save in the same folders as the original images are located"));
  auto* one = new QRadioButton(tr("Save all images to this location:"));
  auto* below = new QRadioButton(tr("Append this path to the image's path and place image there:"));
  choices_->addButton(beside, app::OutputPlace::kBesideSource);
  choices_->addButton(one, app::OutputPlace::kOneFolder);
  choices_->addButton(below, app::OutputPlace::kBelowSource);
  folder_ = new QLineEdit;
  path_ = new QLineEdit;
  auto* browse = new QToolButton;
  browse->setText("...");
  connect(browse, &QToolButton::clicked, this, [this] {
    const QString dir =
        QFileDialog::getExistingDirectory(this, tr("Save all images to this location:"), folder_->text());
    if (!dir.isEmpty()) folder_->setText(dir);
  });
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folder_);
  folderRow->addWidget(browse);
  auto* inner = new QVBoxLayout(group);
  inner->addWidget(beside);
  inner->addWidget(one);
  inner->addLayout(folderRow);
  inner->addWidget(below);
  inner->addWidget(path_);
  ask_ = new QCheckBox(tr("Always ask where to save"));
  ask_->setChecked(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(ask_);
  layout->addWidget(okCancelButtons(this));

  const app::OutputPlace place = app::outputPlaceOf(settings);
  choices_->button(place.choice)->setChecked(true);
  // The stored folder stays in its field while outputs go beside their sources.
  const app::OutputPlace stored = app::storedOutputFolder(settings);
  (stored.choice == app::OutputPlace::kOneFolder ? folder_ : path_)->setText(QString::fromStdString(stored.path));
  browse->setEnabled(place.choice == app::OutputPlace::kOneFolder);
  connect(choices_, &QButtonGroup::idClicked, this, [this, browse](int id) {
    enableFields();
    browse->setEnabled(id == app::OutputPlace::kOneFolder);
  });
  enableFields();
}

void SaveLocationDialog::enableFields() {
  folder_->setEnabled(choices_->checkedId() == app::OutputPlace::kOneFolder);
  path_->setEnabled(choices_->checkedId() == app::OutputPlace::kBelowSource);
}

void SaveLocationDialog::accept() {
  settings_.AskWhereSave = ask_->isChecked();
  app::saveSettings(settings_);
  const auto choice = static_cast<app::OutputPlace::Choice>(choices_->checkedId());
  const QString text = choice == app::OutputPlace::kOneFolder ? folder_->text() : path_->text();
  const std::string problem = app::applyOutputPlace(settings_, {choice, text.toStdString()});
  if (!problem.empty()) {
    prompter_.error(settings_.caption, problem);
    return;
  }
  app::saveSettings(settings_);
  QDialog::accept();
}

void showAbout(QWidget* parent) {
  QMessageBox box(parent);
  box.setWindowTitle(QObject::tr("About Pictoravine"));
  box.setIconPixmap(QIcon(":/pictoravine/icons/pictoravine.svg").pixmap(64, 64));
  box.setText(QString("%1 v%2").arg("Pictoravine", PV_VERSION_TEXT));
  QString libraries = QObject::tr("Libraries in use:");
  for (const auto& lib : engine::libraryVersions())
    libraries += "\n" + QString::fromStdString(lib.name) + " " + QString::fromStdString(lib.version);
  libraries += QString("\nQt %1").arg(qVersion());
  box.setInformativeText(libraries);
  box.exec();
}

void openManual(app::Launcher& launcher, app::Prompter& prompter, const app::Settings& settings,
                const std::string& anchor) {
  std::error_code ec;
  const bool installed = std::filesystem::is_regular_file(settings.helpPath, ec);
  const std::string page = anchor.empty() ? settings.helpPath : "file://" + settings.helpPath + "#" + anchor;
  if (!installed) {
    prompter.error(settings.caption, "The manual could not be opened: " + settings.helpPath + " is not installed.");
    return;
  }
  if (launcher.open(page)) return;
  // No browser took it: the manual in a window of our own, at the place asked for.
  QDialog window(QApplication::activeWindow());
  window.setWindowTitle(QObject::tr("Pictoravine Manual"));
  auto* text = new QTextBrowser;
  text->setOpenExternalLinks(true);
  text->setSource(QUrl::fromLocalFile(QString::fromStdString(settings.helpPath)));
  if (!anchor.empty()) text->scrollToAnchor(QString::fromStdString(anchor));
  auto* note = new QLabel(QObject::tr("No web browser could open the manual, so it is shown here."));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(note);
  layout->addWidget(text, 1);
  layout->addWidget(buttons);
  window.resize(760, 560);
  if (onManualWindow) QTimer::singleShot(0, &window, [&window] { onManualWindow(window); });
  window.exec();
}

std::function<void(QDialog&)> onManualWindow;

}  // namespace pv::ui
