#include "ui/main/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QDir>
#include <QStandardPaths>
#include <QFileInfo>
#include <QGridLayout>
#include <QShortcut>
#include <QSignalBlocker>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <filesystem>

#include "app/image_list.h"
#include "app/profiles.h"
#include "app/startup.h"
#include "core/format_registry.h"
#include "filters/filter.h"
#include "ui/dialogs/dialog_parts.h"
#include "ui/dialogs/format_options_dialog.h"
#include "ui/dialogs/options_sheet.h"
#include "ui/dialogs/preview_window.h"
#include "ui/dialogs/profile_dialogs.h"
#include "ui/dialogs/small_dialogs.h"
#include "ui/filter_forms/filter_chooser.h"
#include "ui/filter_forms/settings_form.h"
#include "ui/main/commands.h"
#include "ui/main/progress_dialog.h"
#include "ui/models/image_list_model.h"
#include "ui/ports/qt_ports.h"

// The icons are compiled into the window's library; a static library's
// resources are registered by hand.
static void registerResources() {
  Q_INIT_RESOURCE(resources);
}

namespace pv::ui {

MainWindow::MainWindow(app::Session& session, QtPrompter& prompter, app::Launcher& launcher, QWidget* parent)
    : QMainWindow(parent), session_(session), prompter_(prompter), launcher_(launcher) {
  registerResources();
  forms_ = std::make_unique<FilterForms>(session_.primary, this);
  session_.filterContext.editor = forms_.get();
  setWindowTitle(QString::fromStdString(session.settings.caption));
  setWindowIcon(QIcon(":/pictoravine/icons/pictoravine.svg"));
  // Thumbnails are made at the screen's pixel density.
  session_.settings.thumbnailScale = devicePixelRatioF();
  setAcceptDrops(true);
  buildCommands();
  buildWidgets();
  buildMenus();
  statusBar()->showMessage(tr(kWelcomeText));
  previewDelay_.setSingleShot(true);
  previewDelay_.setInterval(60);
  connect(&previewDelay_, &QTimer::timeout, this, &MainWindow::rebuildPreviews);
  connect(&preview_, &LatestWorker::ready, this, [this](const QVariantList& pictures) {
    // An image that cannot be opened leaves the panes as they were, and the
    // hint line says why they did not change.
    const QImage before = pictures.value(0).value<QImage>(), after = pictures.value(1).value<QImage>();
    if (!before.isNull()) before_->setPicture(before);
    if (!after.isNull()) after_->setPicture(after);
    if (before.isNull() && after.isNull() && selected_ >= 0 && selected_ < static_cast<int>(session_.list.size()))
      statusBar()->showMessage(
          tr("%1 could not be opened.").arg(QString::fromStdString(session_.list[static_cast<std::size_t>(selected_)].fileName)));
    emit previewsShown();
  });
  qApp->installEventFilter(this);
  // A command line may have filled the chain already ("/open /filter ...").
  refreshFilters();
  showWhetherEmpty();
  // 980 x 640, or less on a small screen or at a large scale factor: the
  // window opens within the screen, Go in reach.
  resize(QSize(980, 640).boundedTo(roomOnScreen(this)));
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  session_.filterContext.editor = nullptr;
}

void MainWindow::buildCommands() {
  for (int c = 0; c < kCommandCount; ++c) {
    const CommandRow& row = commandRow(static_cast<Command>(c));
    auto* a =
        new QAction(commandIcon(row, style()), tr(row.text), this);
    if (*row.hint) {
      a->setStatusTip(tr(row.hint));
      a->setToolTip(tr(row.hint));
    }
    if (*row.shortcut) a->setShortcut(QKeySequence(row.shortcut));
    connect(a, &QAction::triggered, this, [this, c] { run(static_cast<Command>(c)); });
    actions_[c] = a;
    addAction(a);  // shortcuts work wherever the focus is in the window
  }
}

void MainWindow::buildMenus() {
  const auto fill = [this](QMenu* menu, const std::vector<int>& entries) {
    for (int e : entries) {
      if (e == kSeparator)
        menu->addSeparator();
      else
        menu->addAction(actions_[e]);
    }
  };
  const auto addMenu = [this, &fill](const QString& title, const QString& hint, const auto& entries) {
    QMenu* menu = menuBar()->addMenu(title);
    menu->menuAction()->setStatusTip(hint);
    fill(menu, entries);
  };
  addMenu(tr("&File"), tr("Opens the File menu."), kFileMenu);
  addMenu(tr("&Options"), tr("Opens the Options menu."), kOptionsMenu);
  addMenu(tr("&Help"), tr("Opens the Help menu."), kHelpMenu);
  // Delete removes what is selected in the list that has the focus.
  for (const auto& [list, command] : {std::pair<QWidget*, Command>{images_, kRemoveImages}, {filters_, kRemoveFilters}}) {
    auto* remove = new QShortcut(QKeySequence::Delete, list, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(remove, &QShortcut::activated, this, [this, command] { run(command); });
  }
  const auto contextMenu = [this, fill](QWidget* w, const std::vector<int>& entries) {
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(w, &QWidget::customContextMenuRequested, this, [w, entries, fill](const QPoint& at) {
      QMenu menu;
      fill(&menu, entries);
      // A list reports the point on its viewport.
      auto* area = qobject_cast<QAbstractScrollArea*>(w);
      menu.exec((area ? area->viewport() : w)->mapToGlobal(at));
    });
  };
  contextMenu(images_, kImageMenu);
  contextMenu(filters_, kFilterMenu);
  contextMenu(formats_, kFormatMenu);
}

void MainWindow::buildWidgets() {
  const auto buttonColumn = [this](const std::vector<int>& commands) {
    auto* column = new QVBoxLayout;
    for (int c : commands) {
      auto* b = new QToolButton;
      b->setDefaultAction(actions_[c]);
      b->setIconSize(QSize(22, 22));
      b->setAutoRaise(true);
      column->addWidget(b);
    }
    column->addStretch();
    return column;
  };

  model_ = new ImageListModel(session_.list, this);
  images_ = new QTreeView;
  images_->setModel(model_);
  images_->setItemDelegate(new ImageRowDelegate(session_.settings.ShowThumbnails, images_));
  images_->setRootIsDecorated(false);
  images_->setUniformRowHeights(true);
  images_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  images_->setAlternatingRowColors(false);
  images_->header()->setSectionsClickable(true);
  images_->header()->setStretchLastSection(true);
  images_->setStatusTip(tr("The images you want to process."));
  images_->setMinimumWidth(260);
  connect(images_->header(), &QHeaderView::sectionClicked, this, [this] { sortImages(); });
  connect(images_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& now) { selectImage(now.isValid() ? now.row() : -1); });
  connect(images_, &QTreeView::doubleClicked, this, [this] { openPreview(true); });
  // An empty list says what to do with it, and there is nothing to start.
  emptyHint_ = new QLabel(tr("Drop images or folders here"));
  emptyHint_->setAlignment(Qt::AlignCenter);
  emptyHint_->setForegroundRole(QPalette::PlaceholderText);
  emptyHint_->setAttribute(Qt::WA_TransparentForMouseEvents);
  (new QGridLayout(images_->viewport()))->addWidget(emptyHint_, 0, 0, Qt::AlignCenter);
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(model_, signal, this, [this] { showWhetherEmpty(); });
  connect(model_, &QAbstractItemModel::modelReset, this, [this] { showWhetherEmpty(); });

  beforeBox_ = new QCheckBox(tr("Before"));
  afterBox_ = new QCheckBox(tr("After"));
  beforeBox_->setStatusTip(tr("Show how the image looks before filters have been applied."));
  afterBox_->setStatusTip(tr("Show how the image looks after filters have been applied."));
  beforeBox_->setChecked(session_.settings.ShowPictureBefore);
  afterBox_->setChecked(session_.settings.ShowPictureAfter);
  before_ = new PreviewPane;
  after_ = new PreviewPane;
  before_->setStatusTip(tr("How the image looks before filters have been applied."));
  after_->setStatusTip(tr("How the image looks after filters have been applied."));
  for (PreviewPane* p : {before_, after_}) {
    p->setMinimumSize(120, 90);
    p->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(p, &PreviewPane::doubleClicked, this, [this, p] { openPreview(p == before_); });
  }
  before_->setVisible(session_.settings.ShowPictureBefore);
  after_->setVisible(session_.settings.ShowPictureAfter);
  connect(beforeBox_, &QCheckBox::toggled, this, [this](bool on) {
    session_.settings.ShowPictureBefore = on;
    before_->setVisible(on);
    rebuildPreviews();
  });
  connect(afterBox_, &QCheckBox::toggled, this, [this](bool on) {
    session_.settings.ShowPictureAfter = on;
    after_->setVisible(on);
    rebuildPreviews();
  });

  filters_ = new HeadedList(tr("Filters Applied"));
  filters_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filters_->setStatusTip(tr("The filters are applied in the order they appear in this list."));
  connect(filters_, &QTreeWidget::itemDoubleClicked, this, [this] { run(kFilterOptions); });

  formats_ = new QTreeWidget;
  formats_->setColumnCount(2);
  formats_->setHeaderLabels({tr("Prefix"), tr("Format")});
  formats_->setRootIsDecorated(false);
  formats_->setSelectionMode(QAbstractItemView::SingleSelection);
  formats_->setStatusTip(tr("Choose the image format you want to save the images to!"));
  // The formats people write today first, then the rest in registry order
  // under a heading. Each row keeps its registry index (what
  // DefaultFormatType stores) in its data.
  const auto formatItem = [](int index) {
    const FormatRow& row = formatRegistry()[static_cast<std::size_t>(index)];
    auto* item = new QTreeWidgetItem({QString::fromUtf8(row.key.data(), static_cast<int>(row.key.size())),
                                      tableText("Formats", row.description)});
    item->setData(0, Qt::UserRole, index);
    return item;
  };
  std::vector<bool> listed(kFormatCount, false);
  for (const char* key : kFormatsFirst) {
    const int index = formatIndexOfKey(key);
    formats_->addTopLevelItem(formatItem(index));
    listed[static_cast<std::size_t>(index)] = true;
  }
  formatsHeading_ = new QTreeWidgetItem({QString(), tr("Other formats")});
  formatsHeading_->setFlags(Qt::ItemIsEnabled);
  QFont headingFont = formats_->font();
  headingFont.setBold(true);
  formatsHeading_->setFont(1, headingFont);
  formats_->addTopLevelItem(formatsHeading_);
  for (int index = 0; index < kFormatCount; ++index)
    if (!listed[static_cast<std::size_t>(index)]) formats_->addTopLevelItem(formatItem(index));
  formats_->resizeColumnToContents(0);
  formats_->setCurrentItem(formatItemOf(session_.settings.DefaultFormatType));
  connect(formats_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item && item != formatsHeading_) selectFormat(item->data(0, Qt::UserRole).toInt());
  });
  connect(formats_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
    if (item != formatsHeading_) run(kFormatOptions);
  });
  // A filter box that matches a format's key or name; the heading shows only
  // over the whole list.
  formatFilter_ = new QLineEdit;
  formatFilter_->setPlaceholderText(tr("Find a format"));
  formatFilter_->setClearButtonEnabled(true);
  formatFilter_->setAccessibleName(tr("Find a format"));
  connect(formatFilter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    const QString wanted = text.trimmed();
    for (int i = 0; i < formats_->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = formats_->topLevelItem(i);
      item->setHidden(item == formatsHeading_ ? !wanted.isEmpty()
                                              : !item->text(0).contains(wanted, Qt::CaseInsensitive) &&
                                                    !item->text(1).contains(wanted, Qt::CaseInsensitive));
    }
  });

  go_ = new QPushButton(tr("Go"));
  go_->setStatusTip(tr(commandRow(kStartConversion).hint));
  go_->setToolTip(tr(commandRow(kStartConversion).hint));
  go_->setMinimumHeight(44);
  QFont big = go_->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  go_->setFont(big);
  go_->setAutoDefault(false);
  connect(go_, &QPushButton::clicked, this, [this] { run(kStartConversion); });

  auto* central = new QWidget;
  auto* grid = new QGridLayout(central);
  auto* imageSide = new QHBoxLayout;
  imageSide->addWidget(images_, 1);
  imageSide->addLayout(buttonColumn(kImageButtons));
  auto* panes = new QVBoxLayout;
  panes->addWidget(beforeBox_);
  panes->addWidget(before_, 1);
  panes->addWidget(afterBox_);
  panes->addWidget(after_, 1);
  auto* filterSide = new QGridLayout;
  filterSide->addWidget(filters_, 0, 0);
  filterSide->addLayout(buttonColumn(kFilterButtons), 0, 1, 2, 1);
  auto* formatSide = new QVBoxLayout;
  formatSide->addWidget(formatFilter_);
  formatSide->addWidget(formats_, 1);
  filterSide->addLayout(formatSide, 1, 0);
  auto* formatButton = new QToolButton;
  formatButton->setDefaultAction(actions_[kFormatOptions]);
  formatButton->setAutoRaise(true);
  filterSide->addWidget(formatButton, 2, 1);
  grid->addLayout(imageSide, 0, 0);
  grid->addLayout(panes, 0, 1);
  grid->addLayout(filterSide, 0, 2);
  grid->addWidget(go_, 1, 0, 1, 3);
  grid->setColumnStretch(0, 3);
  grid->setColumnStretch(1, 3);
  grid->setColumnStretch(2, 2);
  setCentralWidget(central);
}

void MainWindow::run(Command c) {
  if (jobRunning_) return;
  switch (c) {
    case kNewList:
    case kClearImages:
      clearImages();
      break;
    case kOpenList: {
      if (!session_.list.empty() && !prompter_.askYesNo(session_.settings.caption, kClearImagesQuestion))
        break;
      const QString path = QFileDialog::getOpenFileName(this, tr("Select which list to open"), QString(),
                                                        nameFilter({app::imageListType()}));
      if (!path.isEmpty()) openList(path);
      break;
    }
    case kSaveList: {
      QFileDialog dialog(this, tr("Select which file to save the list to"), QString(),
                         nameFilter({app::imageListType()}));
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setDefaultSuffix("pvl");
      if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        saveList(dialog.selectedFiles().first());
      break;
    }
    case kSaveProfile:
      if (!session_.chain.empty()) {
        std::unique_ptr<ProfileNameDialog> dialog(makeSaveProfileDialog(session_, this));
        if (onProfileDialog)
          QTimer::singleShot(0, dialog.get(), [this, d = dialog.get()] { onProfileDialog(d); });
        dialog->exec();
      }
      break;
    case kProfileManager: {
      ProfileManager manager(session_, this);
      if (onProfileDialog) QTimer::singleShot(0, &manager, [this, &manager] { onProfileDialog(&manager); });
      manager.exec();
      // A loaded profile's filters, and the format it may have chosen.
      if (QTreeWidgetItem* format = formatItemOf(session_.settings.DefaultFormatType);
          format && format != formats_->currentItem()) {
        const QSignalBlocker quiet(formats_);  // the session's format is the profile's already
        formats_->setCurrentItem(format);
      }
      refreshFilters();
      break;
    }
    case kStartConversion:
      startConversion();
      break;
    case kExit:
      close();
      break;
    case kGlobalOptions: {
      OptionsSheet sheet(session_.settings, prompter_, app::shellMenuSwitch(session_.settings, prompter_),
                         OptionsSheet::kGlobal, this);
      sheet.onHelp = [this] { openManual(launcher_, prompter_, session_.settings, "options"); };
      if (!session_.list.empty() && session_.format) sheet.showNameOf(session_.list.front(), session_.format->extension);
      if (onOptions) QTimer::singleShot(0, &sheet, [this, &sheet] { onOptions(sheet); });
      sheet.exec();
      break;
    }
    case kFormatOptions:
      if (formats_->currentItem()) {
        const std::string sample =
            selected_ >= 0 ? session_.list[static_cast<std::size_t>(selected_)].path() : std::string();
        FormatOptionsDialog dialog(*session_.format, prompter_, session_.settings.caption, sample, this);
        dialog.exec();
      }
      break;
    case kFilterOptions:
      configureFilter();
      break;
    case kHelp:
    case kWebsite:  // there is no web site: the manual is the program's home page
      openManual(launcher_, prompter_, session_.settings);
      break;
    case kAbout:
      showAbout(this);
      break;
    case kAddImages: {
      QFileDialog dialog(this, tr("Select the pictures you want to add"), imageFolder());
      dialog.setFileMode(QFileDialog::ExistingFiles);
      dialog.setNameFilters(nameFilters(app::openDialogFilters()));
      if (onFileDialog) QTimer::singleShot(0, &dialog, [this, &dialog] { onFileDialog(dialog); });
      if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        session_.settings.LastImageFolder = QFileInfo(dialog.selectedFiles().first()).absolutePath().toStdString();
        addFiles(dialog.selectedFiles());
      }
      break;
    }
    case kAddFolder: {
      const QString folder = QFileDialog::getExistingDirectory(this, tr("Add All Images in Folder..."), imageFolder());
      if (!folder.isEmpty()) {
        session_.settings.LastImageFolder = folder.toStdString();
        addFolder(folder);
      }
      break;
    }
    case kRemoveImages:
      removeSelectedImages();
      break;
    case kAddFilter: {
      AddFilterDialog dialog(prompter_, session_.settings.caption, this);
      if (dialog.exec() == QDialog::Accepted) addFilter(dialog.chosen());
      break;
    }
    case kRemoveFilters:
      removeSelectedFilters();
      break;
    case kClearFilters:
      clearFilters();
      break;
    case kMoveUp:
    case kMoveDown:
    case kMoveTop:
    case kMoveBottom:
      moveFilter(c);
      break;
    case kCommandCount:
      break;
  }
}

void MainWindow::addFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  if (paths.size() == 1) {
    // One file is examined at once, on this thread.
    session_.texts = {};
    app::ImageListBuilder builder({session_.settings, session_.texts, session_.primary, session_.secondary,
                                   session_.list, session_.progress, session_.running, session_.prompter});
    const std::string path = paths.first().toStdString();
    if (builder.isAcceptedFile(path, true)) builder.addImage(path);
    afterListChange(selectedPath());
    showLogIfFailures();
    return;
  }
  std::vector<std::string> list;
  for (const QString& p : paths) list.push_back(p.toStdString());
  runJob(app::kRunDropped, list);
}

void MainWindow::addFolder(const QString& folder) {
  std::string path = folder.toStdString();
  if (!path.ends_with('/')) path += '/';
  runJob(app::kRunFolderSearch, path);
}

void MainWindow::openList(const QString& path) {
  session_.list.clear();
  afterListChange();
  runJob(app::kRunListFile, path.toStdString());
}

bool MainWindow::saveList(const QString& path) {
  return app::writeListFile(session_.settings, session_.list, path.toStdString(), session_.prompter);
}

namespace {

// Hands each entry a list job adds to the list's model as it comes, so the
// list fills (thumbnails included) while the job runs.
class Arrivals final : public app::JobObserver {
 public:
  explicit Arrivals(ImageListModel* model) : model_(model) {}
  void outcome(const app::OutcomeRecord& record) override {
    if (!record.entry) return;
    QMetaObject::invokeMethod(
        model_, [model = model_, entry = record.entry] { model->append(*entry); }, Qt::QueuedConnection);
  }

 private:
  ImageListModel* model_;
};

}  // namespace

void MainWindow::runJob(int runKind, app::JobArgument argument, bool hidden, app::JobObserver* extra) {
  jobRunning_ = true;
  app::RunTally tally(session_.list);
  {
    Arrivals arrivals(model_);
    std::vector<app::JobObserver*> watchers{&arrivals, &tally};
    if (extra) watchers.push_back(extra);
    app::ObserverFan fan(watchers);
    ProgressDialog dialog(session_, runKind, std::move(argument), this, &fan);
    if (onJobDialog) QTimer::singleShot(0, &dialog, [this, &dialog] { onJobDialog(dialog); });
    dialog.run(hidden);
    // Entries still on their way are dropped: the job's list replaces them.
    QCoreApplication::sendPostedEvents(model_, QEvent::MetaCall);
  }
  jobRunning_ = false;
  if (runKind != app::kRunConvert) afterListChange(selectedPath());
  showLogIfFailures();
  // A conversion started in the window ends with what it did; a desktop
  // notification says so too when the window is not the active one.
  if (runKind == app::kRunConvert && !hidden && session_.settings.ShowMessages &&
      !session_.settings.commandLineMode)
    showRunSummary(tally);
}

void MainWindow::showRunSummary(const app::RunTally& tally) {
  RunSummaryDialog summary(tally, session_.texts.conversionLog, prompter_, launcher_, session_.settings.caption, this);
  if (!isActiveWindow())
    launcher_.start("notify-send", {"--app-name=Pictoravine", "--icon=pictoravine",
                                    summary.windowTitle().toStdString(),
                                    tr("%1 converted, %2 failed").arg(tally.converted).arg(tally.failed).toStdString()});
  if (onRunSummary) QTimer::singleShot(0, &summary, [this, &summary] { onRunSummary(summary); });
  summary.exec();
}

void MainWindow::showLogIfFailures() {
  if (!session_.settings.ShowMessages || session_.texts.errorSummary.empty()) return;
  LogDialog log(session_.texts.errorSummary, prompter_, session_.settings.caption, this);
  log.exec();
}

void MainWindow::removeSelectedImages() {
  QModelIndexList rows = images_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return;
  std::vector<int> gone;
  for (const QModelIndex& i : rows) gone.push_back(i.row());
  std::sort(gone.rbegin(), gone.rend());
  for (int r : gone) session_.list.erase(session_.list.begin() + r);
  afterListChange();
}

void MainWindow::clearImages() {
  if (session_.list.empty()) return;
  if (!prompter_.askYesNo(session_.settings.caption, kClearImagesQuestion)) return;
  session_.list.clear();
  afterListChange();
}

void MainWindow::sortImages() {
  const std::string kept = selectedPath();
  app::sortImageList(session_.list, ascending_);
  ascending_ = !ascending_;
  afterListChange(kept);
}

std::string MainWindow::selectedPath() const {
  return selected_ >= 0 && selected_ < static_cast<int>(session_.list.size())
             ? session_.list[static_cast<std::size_t>(selected_)].path()
             : std::string();
}

void MainWindow::showWhetherEmpty() {
  const bool empty = session_.list.empty();
  emptyHint_->setVisible(empty);
  actions_[kStartConversion]->setEnabled(!empty);
  if (go_) go_->setEnabled(!empty);
}

void MainWindow::afterListChange(const std::string& keep) {
  model_->refresh();
  int row = -1;
  for (std::size_t i = 0; !keep.empty() && i < session_.list.size(); ++i)
    if (session_.list[i].path() == keep) {
      row = static_cast<int>(i);
      break;
    }
  if (row >= 0) {
    // The selected image stays selected where it now stands; its pictures
    // stay shown.
    selected_ = row;
    images_->setCurrentIndex(model_->index(row, 0));
    return;
  }
  selected_ = -1;
  before_->setPicture({});
  after_->setPicture({});
  rebuildPreviews();
}

void MainWindow::selectImage(int row) {
  selected_ = row >= 0 && row < static_cast<int>(session_.list.size()) ? row : -1;
  previewDelay_.start();
}

void MainWindow::openPreview(bool before) {
  if (selected_ < 0) return;
  PreviewWindow preview(session_, selected_, before ? PreviewWindow::kBefore : PreviewWindow::kAfter, this);
  if (onPreview) QTimer::singleShot(0, &preview, [this, &preview] { onPreview(preview); });
  preview.exec();
}

QTreeWidgetItem* MainWindow::formatItemOf(int index) const {
  for (int i = 0; i < formats_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = formats_->topLevelItem(i);
    if (item != formatsHeading_ && item->data(0, Qt::UserRole).toInt() == index) return item;
  }
  return nullptr;
}

void MainWindow::selectFormat(int row) {
  if (row < 0 || row >= kFormatCount) return;
  auto format = formats::createFormatByIndex(row, session_.settings.configPath);
  if (!format) return;
  session_.format = std::move(format);
  session_.settings.DefaultFormatType = row;
}

void MainWindow::startConversion(bool hiddenProgress, app::JobObserver* extra) {
  if (session_.list.empty()) return;
  const app::Settings& s = session_.settings;
  if (s.AskWhereSave && !session_.format->isClipboard() && (!s.commandLineMode || s.shellFlag)) {
    SaveLocationDialog where(session_.settings, prompter_, this);
    if (where.exec() != QDialog::Accepted) return;
  }
  runJob(app::kRunConvert, {}, hiddenProgress, extra);
}

const QImage& MainWindow::beforePicture() const {
  return before_->picture();
}
const QImage& MainWindow::afterPicture() const {
  return after_->picture();
}

void MainWindow::rebuildPreviews() {
  const bool before = session_.settings.ShowPictureBefore, after = session_.settings.ShowPictureAfter;
  if (selected_ < 0 || (!before && !after)) {
    preview_.cancel();
    before_->setPicture({});
    after_->setPicture({});
    emit previewsShown();
    return;
  }
  // The work gets a snapshot of its own (settings, chain, list, imaging controls).
  auto snapshot = std::make_shared<app::Session>(session_, app::Session::Snapshot{}, true);
  const app::PaneSize room = before_->isVisible() ? before_->pixelRoom() : after_->pixelRoom();
  preview_.request([snapshot, index = selected_, room, before, after] {
    const app::PreviewPictures p = app::makePreview(*snapshot, index, room, before, after);
    return QVariantList{p.before ? toQImage(*p.before) : QImage(), p.after ? toQImage(*p.after) : QImage()};
  });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (selected_ >= 0) previewDelay_.start();
}

QString MainWindow::imageFolder() const {
  const QString last = QString::fromStdString(session_.settings.LastImageFolder);
  if (!last.isEmpty() && QFileInfo(last).isDir()) return last;
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void MainWindow::restoreLastChain() {
  if (!session_.chain.empty()) return;
  app::loadLastChain(session_.chain);
  refreshFilters();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  app::saveSettings(session_.settings);
  app::saveLastChain(session_.chain);
  QMainWindow::closeEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  QStringList files, folders;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    (std::filesystem::is_directory(path.toStdString()) ? folders : files) << path;
  }
  event->acceptProposedAction();
  // Queued, so the file manager's drag ends before a job's dialog opens.
  QTimer::singleShot(0, this, [this, files, folders] {
    addFiles(files);
    for (const QString& f : folders) addFolder(f);
  });
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Enter and Escape never close or act on the main window.
  if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace pv::ui
