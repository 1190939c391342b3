#include "ui/dialogs/options_sheet.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/naming.h"
#include "core/format_registry.h"
#include "core/paths.h"
#include "shellext/file_managers.h"
#include "ui/dialogs/dialog_parts.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

namespace {

QString qs(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
std::string text(const QLineEdit* e) {
  return e->text().toStdString();
}

QWidget* withBrowse(QLineEdit* field, QToolButton*& button) {
  auto* row = new QWidget;
  auto* h = new QHBoxLayout(row);
  h->setContentsMargins(0, 0, 0, 0);
  button = new QToolButton;
  button->setText("...");
  h->addWidget(field, 1);
  h->addWidget(button);
  return row;
}

}  // namespace

OptionsSheet::OptionsSheet(app::Settings& settings, app::Prompter& prompter,
                           std::function<void(bool)> registerMenu, Page first, QWidget* parent)
    : QDialog(parent), settings_(settings), prompter_(prompter), registerMenu_(std::move(registerMenu)) {
  setWindowTitle(tr("Options"));
  setWindowIcon(QIcon(":/pictoravine/icons/pictoravine.svg"));
  tabs_ = new QTabWidget;
  tabs_->addTab(buildGlobal(), tr("Global Options"));
  tabs_->addTab(buildFile(), tr("File Options"));
  tabs_->addTab(buildShell(), tr("File manager menu"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                       QDialogButtonBox::Apply | QDialogButtonBox::Help);
  apply_ = buttons->button(QDialogButtonBox::Apply);
  apply_->setEnabled(false);
  connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(apply_, &QPushButton::clicked, this, [this] {
    if (apply()) apply_->setEnabled(false);
  });
  connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
    if (onHelp)
      onHelp();
    else
      prompter_.information(settings_.caption,
                            "The manual is not installed with this version of Pictoravine.");
  });
  layOutWithinScreen(this, tabs_, buttons);
  connect(tabs_, &QTabWidget::currentChanged, this, &OptionsSheet::showPage);
  tabs_->setCurrentIndex(first);
  showPage(first);
}

void OptionsSheet::modified() {
  if (!filling_) apply_->setEnabled(true);
}

QWidget* OptionsSheet::buildGlobal() {
  auto& g = global;
  g.askWhereSave = new QCheckBox(tr("Always ask where to save the images when converting"));
  g.showThumbnails = new QCheckBox(tr("Show thumbnails in the image list"));
  g.silent = new QCheckBox(tr("Silent mode (no messages will be shown)"));
  g.scanSubDir = new QCheckBox(tr("Scan subfolders for images when adding folders"));
  g.doLog = new QCheckBox(tr("Log all processing activity to file"));
  g.logFile = new QLineEdit;
  g.logFile->setMaxLength(1499);
  QToolButton* browse = nullptr;
  QWidget* logRow = withBrowse(g.logFile, browse);
  g.multiPage = new QComboBox;
  g.multiPage->addItems({tr("Output multi-page image when supported, else just first frame"),
                         tr("Output single-page images for each frame in the multi-page image"),
                         tr("Output single-page image of the first frame in the multi-page image")});
  g.autoOrient = new QCheckBox(tr("Turn photos upright by their camera's orientation"));
  g.keepMetadata = new QCheckBox(tr("Keep camera data, GPS and copyright (EXIF, XMP, IPTC) in the outputs"));
  g.keepDates = new QCheckBox(tr("Keep the files' dates"));
  g.stripLocation = new QCheckBox(tr("Leave out where photos were taken (GPS), keeping the other camera data"));
  g.threads = new QSpinBox;
  g.threads->setRange(0, 64);
  g.threads->setSpecialValueText(tr("One per core"));
  auto* threadsRow = new QWidget;
  auto* tf = new QFormLayout(threadsRow);
  tf->setContentsMargins(0, 0, 0, 0);
  tf->addRow(tr("Images converted at once:"), g.threads);

  connect(g.showThumbnails, &QCheckBox::clicked, this,
          [this] { prompter_.information(settings_.caption, app::kRestartText); });
  connect(g.doLog, &QCheckBox::clicked, this, [this, browse](bool on) {
    global.logFile->setEnabled(on);
    browse->setEnabled(on);
  });
  connect(browse, &QToolButton::clicked, this, [this] {
    QFileDialog dialog(this, tr("Save Logfile As"), "log.txt",
                       nameFilter({app::logFileType(), app::anyFileType()}));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("txt");
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
      global.logFile->setText(dialog.selectedFiles().first());
  });
  for (QCheckBox* c :
       {g.askWhereSave, g.showThumbnails, g.silent, g.scanSubDir, g.doLog, g.autoOrient, g.keepMetadata,
        g.keepDates, g.stripLocation})
    connect(c, &QCheckBox::toggled, this, &OptionsSheet::modified);
  connect(g.logFile, &QLineEdit::textEdited, this, &OptionsSheet::modified);
  connect(g.multiPage, &QComboBox::currentIndexChanged, this, &OptionsSheet::modified);
  connect(g.threads, &QSpinBox::valueChanged, this, &OptionsSheet::modified);

  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(groupOf(tr("Main Window:"), {g.askWhereSave, g.showThumbnails}));
  layout->addWidget(groupOf(tr("Miscellaneous:"), {g.silent, g.scanSubDir, threadsRow}));
  layout->addWidget(groupOf(tr("Photos:"), {g.autoOrient, g.keepMetadata, g.stripLocation, g.keepDates}));
  layout->addWidget(groupOf(tr("Log:"), {g.doLog, logRow}));
  layout->addWidget(groupOf(tr("Action to do on multi-page images:"), {g.multiPage}));
  layout->addStretch();
  return page;
}

QWidget* OptionsSheet::buildFile() {
  auto& f = file;
  f.deleteSource = new QCheckBox(tr("Delete original image after a successful conversion"));
  f.overwrite = new QCheckBox(tr("Overwrite files (do not add number if file already exists)"));
  f.onlySmaller = new QCheckBox(tr("Keep the source where an output in its own format would be larger"));
  f.place = new QButtonGroup(this);
  auto* beside = new QRadioButton(tr("Use original source path as output folder"));
  auto* one = new QRadioButton(tr("Always use the following output folder:"));
  auto* below = new QRadioButton(tr("Append this path to the image's path and place image there:"));
  f.place->addButton(beside, app::OutputPlace::kBesideSource);
  f.place->addButton(one, app::OutputPlace::kOneFolder);
  f.place->addButton(below, app::OutputPlace::kBelowSource);
  f.folder = new QLineEdit;
  f.path = new QLineEdit;
  QToolButton* browse = nullptr;
  QWidget* folderRow = withBrowse(f.folder, browse);
  f.keepFolders = new QCheckBox(tr("Keep the sub-folders of the folders searched"));
  f.before = new QLineEdit;
  f.after = new QLineEdit;
  f.number = new QLineEdit;
  f.multiPage = new QLineEdit;
  f.before->setMaxLength(99);
  f.after->setMaxLength(99);
  f.number->setMaxLength(9);
  f.multiPage->setMaxLength(99);
  f.whenExists = new QComboBox;
  f.whenExists->addItem(tr("Number a new name (name-1)"), app::Settings::kNumberNew);
  f.whenExists->addItem(tr("Overwrite it (never another image's source)"), app::Settings::kOverwrite);
  f.whenExists->addItem(tr("Skip the image when its output is up to date"), app::Settings::kSkipExisting);
  connect(f.whenExists, &QComboBox::currentIndexChanged, this, &OptionsSheet::modified);
  // The choice and the overwrite box say one thing: choosing to overwrite
  // checks the box (with its warning), checking the box chooses it.
  connect(f.whenExists, &QComboBox::activated, this, [this] {
    const bool overwrite = file.whenExists->currentData().toInt() == app::Settings::kOverwrite;
    if (overwrite && !file.overwrite->isChecked()) prompter_.warning(settings_.caption, app::kOverwriteWarningText);
    file.overwrite->setChecked(overwrite);
  });
  connect(f.overwrite, &QCheckBox::toggled, this, [this](bool on) {
    const bool overwrite = file.whenExists->currentData().toInt() == app::Settings::kOverwrite;
    if (on != overwrite)
      file.whenExists->setCurrentIndex(file.whenExists->findData(on ? app::Settings::kOverwrite : app::Settings::kNumberNew));
  });

  const auto warnWhenChecked = [this](QCheckBox* box, const char* warning) {
    connect(box, &QCheckBox::clicked, this, [this, warning](bool on) {
      if (on) prompter_.warning(settings_.caption, warning);
    });
  };
  warnWhenChecked(f.deleteSource, app::kDeleteWarningText);
  warnWhenChecked(f.overwrite, app::kOverwriteWarningText);
  connect(f.place, &QButtonGroup::idToggled, this, [this, browse](int, bool) {
    const int id = file.place->checkedId();
    file.folder->setEnabled(id == app::OutputPlace::kOneFolder);
    file.keepFolders->setEnabled(id != app::OutputPlace::kBesideSource);
    browse->setEnabled(id == app::OutputPlace::kOneFolder);
    file.path->setEnabled(id == app::OutputPlace::kBelowSource);
    modified();
  });
  connect(browse, &QToolButton::clicked, this, [this] {
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Always use the following output folder:"),
                                                          file.folder->text());
    if (!dir.isEmpty()) file.folder->setText(dir);
  });
  for (QCheckBox* c : {f.deleteSource, f.overwrite, f.onlySmaller, f.keepFolders})
    connect(c, &QCheckBox::toggled, this, &OptionsSheet::modified);
  for (QLineEdit* e : {f.folder, f.path, f.before, f.after, f.number, f.multiPage})
    connect(e, &QLineEdit::textEdited, this, &OptionsSheet::modified);

  auto* names = new QWidget;
  auto* form = new QFormLayout(names);
  form->addRow(tr("Insert before original filename:"), f.before);
  form->addRow(tr("Insert after original filename:"), f.after);
  form->addRow(tr("When an output exists:"), f.whenExists);
  form->addRow(tr("Numbering Format:"), f.number);
  form->addRow(tr("Multi-Page Numbering Format:"), f.multiPage);
  f.sampleName = new QLabel;
  f.sampleName->setTextInteractionFlags(Qt::TextSelectableByMouse);
  form->addRow(tr("The first image becomes:"), f.sampleName);
  for (QLineEdit* e : {f.before, f.after}) connect(e, &QLineEdit::textEdited, this, [this] { updateSampleName(); });
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(
      groupOf(tr("Source Files:"), {f.deleteSource, f.overwrite, f.onlySmaller, beside, one, folderRow, below, f.path, f.keepFolders}));
  layout->addWidget(groupOf(tr("Filename:"), {names}));
  layout->addStretch();
  return page;
}

QWidget* OptionsSheet::buildShell() {
  shell.enabled = new QCheckBox(tr(kShellMenuText));
  connect(shell.enabled, &QCheckBox::clicked, this,
          [this] { prompter_.information(settings_.caption, app::kShellRestartText); });
  connect(shell.enabled, &QCheckBox::toggled, this, &OptionsSheet::modified);
  shell.formats = new QTreeWidget;
  shell.formats->setHeaderLabels({tr("Format")});
  shell.formats->setRootIsDecorated(false);
  shell.formats->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (const FormatRow& row : formatRegistry()) {
    auto* item = new QTreeWidgetItem({qs(row.key) + " - " + tableText("Formats", row.description)});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    shell.formats->addTopLevelItem(item);
  }
  connect(shell.formats, &QTreeWidget::itemChanged, this, &OptionsSheet::modified);
  auto* all = new QPushButton(tr("Select All"));
  auto* none = new QPushButton(tr("Select None"));
  const auto checkAll = [this](Qt::CheckState state) {
    for (int i = 0; i < shell.formats->topLevelItemCount(); ++i)
      shell.formats->topLevelItem(i)->setCheckState(0, state);
  };
  connect(all, &QPushButton::clicked, this, [checkAll] { checkAll(Qt::Checked); });
  connect(none, &QPushButton::clicked, this, [checkAll] { checkAll(Qt::Unchecked); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(all);
  buttons->addWidget(none);
  buttons->addStretch();
  shell.fileManagers = new QTreeWidget;
  shell.fileManagers->setHeaderLabels({tr("File manager"), tr("Menu")});
  shell.fileManagers->setRootIsDecorated(false);
  shell.fileManagers->setSelectionMode(QAbstractItemView::NoSelection);
  shell.fileManagers->setWordWrap(true);
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(shell.enabled);
  layout->addWidget(new QLabel(tr("Formats to be viewable in the menu:")));
  layout->addWidget(shell.formats, 2);
  layout->addLayout(buttons);
  layout->addWidget(new QLabel(tr("File managers on this computer:")));
  layout->addWidget(shell.fileManagers, 1);
  shell.problem = new QLabel;
  shell.problem->setWordWrap(true);
  shell.problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
  shell.problem->hide();
  layout->addWidget(shell.problem);
  return page;
}

void OptionsSheet::showPage(int page) {
  if (page < 0 || page > 2 || initialised_[page]) return;
  initialised_[page] = true;
  filling_ = true;
  if (page == kGlobal) {
    const app::GlobalPage p = app::globalPageOf(settings_);
    global.askWhereSave->setChecked(p.askWhereSave);
    global.showThumbnails->setChecked(p.showThumbnails);
    global.silent->setChecked(p.silent);
    global.scanSubDir->setChecked(p.scanSubDir);
    global.doLog->setChecked(p.doLog);
    global.logFile->setText(QString::fromStdString(p.logFile));
    global.logFile->setEnabled(p.doLog);
    global.multiPage->setCurrentIndex(p.multiPage);
    global.threads->setValue(p.threads);
    global.autoOrient->setChecked(p.autoOrient);
    global.keepMetadata->setChecked(p.keepMetadata);
    global.keepDates->setChecked(p.keepDates);
    global.stripLocation->setChecked(p.stripLocation);
  } else if (page == kFile) {
    const app::FilePage p = app::filePageOf(settings_);
    file.deleteSource->setChecked(p.deleteSource);
    file.overwrite->setChecked(p.overwrite);
    file.onlySmaller->setChecked(p.onlySmaller);
    file.keepFolders->setChecked(p.keepFolders);
    file.place->button(p.place.choice)->setChecked(true);
    // The stored folder stays in its field while outputs go beside their sources.
    const app::OutputPlace stored = app::storedOutputFolder(settings_);
    (stored.choice == app::OutputPlace::kOneFolder ? file.folder : file.path)
        ->setText(QString::fromStdString(stored.path));
    file.before->setText(QString::fromStdString(p.before));
    file.after->setText(QString::fromStdString(p.after));
    file.number->setText(QString::fromStdString(p.number));
    file.multiPage->setText(QString::fromStdString(p.multiPage));
    file.whenExists->setCurrentIndex(std::max(0, file.whenExists->findData(p.whenExists)));
    updateSampleName();
  } else {
    const app::ShellPage p = app::shellPageOf(settings_);
    shell.enabled->setChecked(p.enabled);
    for (int i = 0; i < shell.formats->topLevelItemCount(); ++i)
      shell.formats->topLevelItem(i)->setCheckState(
          0, p.formats[static_cast<std::size_t>(i)] ? Qt::Checked : Qt::Unchecked);
    showFileManagers();
  }
  filling_ = false;
}

void OptionsSheet::showFileManagers() {
  shell.fileManagers->clear();
  const std::string path = pv::shell::searchPath();
  for (const pv::shell::FileManager& fm : pv::shell::fileManagers()) {
    const pv::shell::MenuStatus status = pv::shell::statusOf(fm, settings_.ShellContextEnabled, path);
    const bool failed = fm.serviceMenu && !serviceMenuProblem_.empty();
    auto* item = new QTreeWidgetItem(
        {qs(fm.name + " (" + fm.desktop + ")"), failed ? tr("could not be written (below)") : qs(status.text)});
    item->setToolTip(1, qs(failed ? serviceMenuProblem_ : status.detail));
    shell.fileManagers->addTopLevelItem(item);
  }
  shell.fileManagers->resizeColumnToContents(0);
  shell.problem->setText(qs(serviceMenuProblem_));
  shell.problem->setVisible(!serviceMenuProblem_.empty());
}

void OptionsSheet::showNameOf(const app::ImageEntry& entry, const std::string& extension) {
  sample_ = entry;
  sampleExtension_ = extension;
  updateSampleName();
}

void OptionsSheet::updateSampleName() {
  if (!file.sampleName) return;
  if (!sample_) {
    file.sampleName->setText(tr("(no image in the list)"));
    return;
  }
  app::Settings shown = settings_;
  shown.FileNameBefore = text(file.before);
  shown.FileNameAfter = text(file.after);
  // A text with an unknown token says so here before OK refuses it.
  std::string problem = app::nameTokenProblem(shown.FileNameBefore);
  if (problem.empty()) problem = app::nameTokenProblem(shown.FileNameAfter);
  file.sampleName->setText(QString::fromStdString(
      problem.empty() ? app::outputFileName(shown, *sample_, sampleExtension_, -1) : problem));
}

bool OptionsSheet::apply() {
  const auto stop = [this](Page page, const std::string& problem) {
    tabs_->setCurrentIndex(page);
    prompter_.error(settings_.caption, problem);
    return false;
  };
  if (initialised_[kGlobal]) {
    const app::GlobalPage p{global.askWhereSave->isChecked(), global.showThumbnails->isChecked(),
                            global.silent->isChecked(),       global.scanSubDir->isChecked(),
                            global.doLog->isChecked(),        text(global.logFile),
                            global.multiPage->currentIndex(), global.threads->value(),
                            global.autoOrient->isChecked(),   global.keepMetadata->isChecked(),
                            global.keepDates->isChecked(),    global.stripLocation->isChecked()};
    if (std::string problem = app::applyGlobalPage(settings_, p); !problem.empty())
      return stop(kGlobal, problem);
  }
  if (initialised_[kFile]) {
    const auto choice = static_cast<app::OutputPlace::Choice>(file.place->checkedId());
    const app::FilePage p{
        file.deleteSource->isChecked(),
        file.overwrite->isChecked(),
        {choice, choice == app::OutputPlace::kOneFolder ? text(file.folder) : text(file.path)},
        text(file.before),
        text(file.after),
        text(file.number),
        text(file.multiPage),
        file.onlySmaller->isChecked(),
        file.keepFolders->isChecked(),
        file.whenExists->currentData().toInt()};
    if (std::string problem = app::applyFilePage(settings_, p); !problem.empty()) return stop(kFile, problem);
  }
  if (initialised_[kShell]) {
    app::ShellPage p;
    p.enabled = shell.enabled->isChecked();
    for (int i = 0; i < shell.formats->topLevelItemCount(); ++i)
      p.formats[static_cast<std::size_t>(i)] = shell.formats->topLevelItem(i)->checkState(0) == Qt::Checked;
    app::applyShellPage(settings_, p, registerMenu_);
  }
  app::saveSettings(settings_);
  if (initialised_[kShell]) {
    // Dolphin reads no settings of ours: its service menu is rewritten from
    // them. A folder that cannot be written is shown on the page; the
    // settings are saved all the same.
    serviceMenuProblem_ = pv::shell::updateServiceMenu(settings_.configPath, programFolder() + "/pictoravine");
    showFileManagers();
  }
  return true;
}

void OptionsSheet::accept() {
  if (apply()) QDialog::accept();
}

}  // namespace pv::ui
