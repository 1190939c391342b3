// The real main window, its dialogs and its ports, driven by QTest on the
// offscreen platform: real image files, real jobs, real outputs on disk.
#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QThread>
#include <QTimer>
#include <QAccessible>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QProcess>
#include <QTranslator>
#include <QFile>
#include <QtTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/file_types.h"
#include "app/image_list.h"
#include "app/preview.h"
#include "app/progress.h"
#include "core/format_registry.h"
#include "core/ini.h"
#include "engine/handles.h"
#include "engine/lead.h"
#include "filters/filter.h"
#include "formats/format.h"
#include "tests/support/support.h"
#include "ui/dialogs/dialog_parts.h"
#include "ui/dialogs/format_options_dialog.h"
#include "ui/dialogs/options_sheet.h"
#include "ui/dialogs/preview_window.h"
#include "ui/dialogs/profile_dialogs.h"
#include "ui/dialogs/small_dialogs.h"
#include "ui/filter_forms/filter_chooser.h"
#include "ui/filter_forms/geometry_dialogs.h"
#include "ui/filter_forms/settings_form.h"
#include "ui/main/commands.h"
#include "ui/main/main_window.h"
#include "ui/main/progress_dialog.h"
#include "ui/models/image_list_model.h"
#include "ui/ports/clipboard.h"
#include "ui/ports/qt_ports.h"

namespace fs = std::filesystem;
using pv::ui::MainWindow;
using pv::ui::ProgressDialog;

namespace {

// Answers every message on the window's thread, as a person would, and
// records it; notes any that arrived on another thread.
class ScriptedPrompter final : public pv::ui::QtPrompter {
 public:
  QStringList shown;
  bool answer = false;
  bool offWindowThread = false;
  std::function<void()> whileShown;  // called while a message is up
  QList<Kind> kinds;                 // of each message shown

 protected:
  bool present(Kind kind, const QString& caption, const QString& text) override {
    if (QThread::currentThread() != qApp->thread()) offWindowThread = true;
    shown << caption + "|" + text;
    kinds << kind;
    if (whileShown) whileShown();
    return answer;
  }
};

// Accepts the log dialogs and end-of-run summaries that jobs open, keeping
// their texts.
class LogCatcher : public QObject {
 public:
  QStringList texts, summaries;
  LogCatcher() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (auto* log = qobject_cast<pv::ui::LogDialog*>(QApplication::activeModalWidget())) {
        texts << log->text()->toPlainText();
        log->accept();
      }
      if (auto* end = qobject_cast<pv::ui::RunSummaryDialog*>(QApplication::activeModalWidget())) {
        summaries << end->windowTitle() + "|" + end->summary()->text();
        end->accept();
      }
    });
    timer_.start();
  }

 private:
  QTimer timer_;
};

// WCAG's contrast ratio of two colours (1 to 21).
double contrastRatio(QColor a, QColor b) {
  const auto luminance = [](QColor c) {
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark palette as dark themes give one (qt6ct and the Fusion recipes).
QPalette darkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(53, 53, 53));
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Base, QColor(35, 35, 35));
  p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Button, QColor(53, 53, 53));
  p.setColor(QPalette::ButtonText, Qt::white);
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, Qt::black);
  return p;
}

// The text of a list row against its background: the row's colour at its
// right edge, and the contrast of the pixel farthest from it in the text
// area (from `textLeft` on).
double rowContrast(QAbstractItemView* view, const QModelIndex& index, int textLeft) {
  const QImage row = view->viewport()->grab(view->visualRect(index)).toImage();
  const QColor background = row.pixelColor(row.width() - 2, row.height() / 2);
  double best = 1;
  for (int y = 0; y < row.height(); ++y)
    for (int x = textLeft; x < row.width(); ++x) best = std::max(best, contrastRatio(row.pixelColor(x, y), background));
  return best;
}

void writePicture(const std::string& path, int w, int h, QColor colour = QColor(200, 120, 40)) {
  QImage img(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.setPixelColor(x, y, QColor((x * 255) / w, (y * 255) / h, colour.blue()));
  QVERIFY2(img.save(QString::fromStdString(path)), path.c_str());
}

int filesIn(const std::string& folder) {
  if (!fs::exists(folder)) return 0;
  int n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
  return n;
}

// The source as the form's result pane shows it, fitted the same way.
QImage toQImageForTest(const pv::engine::Image& source, QSize size) {
  const auto fitted = pv::app::fittedCopy(source, {320, 240});
  const QImage picture = fitted ? pv::ui::toQImage(*fitted) : QImage();
  return picture.size() == size ? picture : QImage();
}

}  // namespace

// Records what the window asks the desktop to open, and starts nothing.
struct RecordingLauncher : pv::app::Launcher {
  QStringList opened;
  bool accepts = true;  // false: as without a browser
  bool open(const std::string& pathOrUrl) override {
    opened << QString::fromStdString(pathOrUrl);
    return accepts;
  }
  bool start(const std::string&, const std::vector<std::string>&) override { return true; }
};

class WindowTest : public QObject {
  Q_OBJECT

  std::unique_ptr<pv::test::DataDirGuard> data_;
  std::unique_ptr<pv::test::TempDir> dir_;
  std::unique_ptr<ScriptedPrompter> prompter_;
  std::unique_ptr<pv::app::Session> session_;
  std::unique_ptr<RecordingLauncher> launcher_;
  std::unique_ptr<pv::ui::QtClipboard> clipboard_;
  std::unique_ptr<MainWindow> window_;
  // No test may hang on a log dialog it did not expect.
  std::unique_ptr<LogCatcher> logs_;

  std::string file(const std::string& name) const { return dir_->file(name); }
  // Images named name0.png .. in the temporary folder, added to the list.
  void addPictures(int count, const std::string& stem = "pic", int w = 64, int h = 48) {
    QStringList paths;
    for (int i = 0; i < count; ++i) {
      const std::string p = file(stem + std::to_string(i) + ".png");
      writePicture(p, w, h);
      paths << QString::fromStdString(p);
    }
    for (const QString& p : paths) window_->addFiles({p});
  }
  // Converts into out/ as PNG, with one worker.
  std::string convertInto() {
    pv::app::Settings& s = session_->settings;
    s.UseSourcePathForOutput = false;
    s.OutPutDir = file("out");
    s.Threads = 1;
    window_->selectFormat(1);  // BMP
    return file("out");
  }
  void chainOf(std::initializer_list<int> kinds) {
    for (int k : kinds) session_->chain.createByIndex(k);
  }
  QString chainTypes() const {
    QString out;
    for (std::size_t i = 0; i < session_->chain.size(); ++i)
      out += QString::number(session_->chain.at(i).type) + " ";
    return out.trimmed();
  }

 private slots:
  void init() {
    data_ = std::make_unique<pv::test::DataDirGuard>();
    dir_ = std::make_unique<pv::test::TempDir>();
    prompter_ = std::make_unique<ScriptedPrompter>();
    session_ = std::make_unique<pv::app::Session>(pv::app::loadSettings(), *prompter_);
    session_->settings.AskWhereSave = false;
    clipboard_ = std::make_unique<pv::ui::QtClipboard>();
    session_->setClipboard(clipboard_.get());
    logs_ = std::make_unique<LogCatcher>();
    launcher_ = std::make_unique<RecordingLauncher>();
    window_ = std::make_unique<MainWindow>(*session_, *prompter_, *launcher_);
    // A filter's form opens when it is added: cancelled unless a test says otherwise.
    window_->filterForms().onForm = [](pv::ui::SettingsForm& form) { form.reject(); };
    window_->filterForms().onOwnDialog = [](QDialog& dialog) { dialog.reject(); };
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanup() {
    logs_.reset();
    window_.reset();
    session_.reset();
    prompter_.reset();
    dir_.reset();
    data_.reset();
  }

  void startsWithItsTitleTheDefaultFormatAndTheWelcome() {
    QCOMPARE(window_->windowTitle(), QString("Pictoravine Image Converter"));
    QCOMPARE(window_->formatList()->topLevelItemCount(), pv::kFormatCount + 1);  // and the heading
    QCOMPARE(window_->formatList()->currentItem()->text(0), QString("JPG"));
    QCOMPARE(window_->imageView()->model()->headerData(0, Qt::Horizontal).toString(),
             QString("Images Added"));
  }

  void goWithAnEmptyListDoesNothing() {
    bool dialog = false;
    window_->onJobDialog = [&](ProgressDialog&) { dialog = true; };
    session_->settings.AskWhereSave = true;
    window_->goButton()->click();
    QVERIFY(!dialog);
    QVERIFY(prompter_->shown.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
  }

  // The open dialog of "Add Image(s)..." offers what this build reads, by
  // family, and nothing it cannot read.
  void theOpenDialogOffersWhatIsRead_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("offered");
    for (const char* read : {"*.jpg", "*.JPG", "*.png", "*.tif", "*.webp", "*.avif", "*.heic", "*.heif",
                             "*.jxl", "*.bmp", "*.gif", "*.crw", "*.pcx"})
      QTest::newRow(read) << QString(read) << true;
    for (const char* unread : {"*.dwg", "*.dwf", "*.cgm", "*.dgn", "*.ecw", "*.svg", "*.pcl", "*.shp",
                               "*.fpx", "*.sid", "*.psp", "*.cmx", "*.dic"})
      QTest::newRow(unread) << QString(unread) << false;
  }
  void theOpenDialogOffersWhatIsRead() {
    QFETCH(QString, pattern);
    QFETCH(bool, offered);
    QStringList filters;
    window_->onFileDialog = [&](QFileDialog& dialog) {
      filters = dialog.nameFilters();
      dialog.reject();
    };
    window_->action(MainWindow::kAddImages)->trigger();
    QVERIFY(filters.size() > 3);
    QVERIFY(filters.first().startsWith("All images ("));
    QCOMPARE(filters.last(), QString("All files (*)"));
    // "All images" matches a name exactly when some family entry does (a
    // file's name, in any case, as the dialog compares them).
    const QString name = "photo" + pattern.mid(1);
    const auto matches = [&](const QString& filter) {
      const QString inside = filter.mid(filter.lastIndexOf('(') + 1).chopped(1);
      for (const QString& p : inside.split(' '))
        if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(p),
                               QRegularExpression::CaseInsensitiveOption)
                .match(name)
                .hasMatch())
          return true;
      return false;
    };
    QCOMPARE(matches(filters.first()), offered);
    int families = 0;
    for (qsizetype i = 1; i + 1 < filters.size(); ++i) families += matches(filters[i]) ? 1 : 0;
    QCOMPARE(families, offered ? 1 : 0);
  }

  void clearingTheListAsksOnlyWhenThereIsOne_data() {
    QTest::addColumn<int>("images");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<int>("questions");
    QTest::addColumn<int>("left");
    QTest::newRow("empty list: no question") << 0 << true << 0 << 0;
    QTest::newRow("No keeps the list") << 3 << false << 1 << 3;
    QTest::newRow("Yes clears it") << 3 << true << 1 << 0;
  }
  void clearingTheListAsksOnlyWhenThereIsOne() {
    QFETCH(int, images);
    QFETCH(bool, answer);
    addPictures(images);
    QCOMPARE(static_cast<int>(session_->list.size()), images);
    prompter_->answer = answer;
    window_->action(MainWindow::kClearImages)->trigger();
    QFETCH(int, questions);
    QFETCH(int, left);
    QCOMPARE(prompter_->shown.size(), questions);
    QCOMPARE(static_cast<int>(session_->list.size()), left);
    // An empty list says what to do, and Go waits for images.
    QCOMPARE(window_->emptyListHint()->isVisibleTo(window_.get()), left == 0);
    QCOMPARE(window_->goButton()->isEnabled(), left > 0);
    QCOMPARE(window_->action(MainWindow::kStartConversion)->isEnabled(), left > 0);
    if (questions)
      QCOMPARE(prompter_->shown.first(),
               QString("Pictoravine Image Converter|Are you sure you want to clear the current image list?"));
  }

  // Texts as a Linux desktop words them, with its usual shortcuts.
  void commandsReadAsOnLinux_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::newRow("quit") << static_cast<int>(MainWindow::kExit) << "&Quit"
                          << "Ctrl+Q";
    QTest::newRow("add images") << static_cast<int>(MainWindow::kAddImages) << "Add &Image(s)..."
                                << "Ctrl+O";
    QTest::newRow("add a folder") << static_cast<int>(MainWindow::kAddFolder) << "Add All Images in &Folder..."
                                  << "Ctrl+Shift+O";
    QTest::newRow("start") << static_cast<int>(MainWindow::kStartConversion) << "Start &Conversion..."
                           << "Ctrl+Return";
  }
  void commandsReadAsOnLinux() {
    QFETCH(int, command);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QAction* a = window_->action(static_cast<MainWindow::Command>(command));
    QCOMPARE(a->text(), text);
    QCOMPARE(a->shortcut().toString(), shortcut);
    pv::ui::OptionsSheet sheet(session_->settings, *prompter_, [](bool) {}, pv::ui::OptionsSheet::kShell);
    QCOMPARE(sheet.tabs()->tabText(pv::ui::OptionsSheet::kShell), QString("File manager menu"));
  }

  // Every menu's entries have mnemonics, no letter twice in one menu.
  void menusHaveMnemonicsOfTheirOwn() {
    QList<QMenu*> menus;
    for (QAction* a : window_->menuBar()->actions()) menus << a->menu();
    QCOMPARE(menus.size(), 3);
    for (QMenu* menu : menus) {
      QSet<QChar> letters;
      for (QAction* a : menu->actions()) {
        if (a->isSeparator()) continue;
        const qsizetype at = a->text().indexOf('&');
        QVERIFY2(at >= 0 && at + 1 < a->text().size(), qPrintable(a->text()));
        const QChar letter = a->text().at(at + 1).toLower();
        QVERIFY2(!letters.contains(letter), qPrintable(a->text()));
        letters << letter;
      }
    }
  }

  // Delete removes the selection of the list that has the focus; every
  // button that shows only an icon has a name for screen readers.
  void deleteRemovesFromTheFocusedListAndButtonsHaveNames() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    addPictures(3);
    for (int i = 0; i < 2; ++i) window_->addFilter(pv::filters::filterIndexOfText("/filter invert"));
    window_->imageView()->setFocus();
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(1));
    QTest::keyClick(window_->imageView(), Qt::Key_Delete);
    QCOMPARE(static_cast<int>(session_->list.size()), 2);
    QCOMPARE(static_cast<int>(session_->chain.size()), 2);
    window_->filterList()->setFocus();
    window_->filterList()->setCurrentRow(0);
    QTest::keyClick(window_->filterList(), Qt::Key_Delete);
    QCOMPARE(static_cast<int>(session_->chain.size()), 1);
    QCOMPARE(static_cast<int>(session_->list.size()), 2);
    int named = 0;
    for (QToolButton* b : window_->findChildren<QToolButton*>()) {
      if (!b->isVisible()) continue;  // the menu bar's overflow button, among others
      QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
      QVERIFY(a);
      QVERIFY2(!a->text(QAccessible::Name).isEmpty(), qPrintable(b->objectName()));
      ++named;
    }
    QVERIFY(named >= 12);  // the image and filter columns and the format options
  }

  void filterOptionsWithoutAFilterSaysWhy_data() {
    QTest::addColumn<int>("filters");
    QTest::addColumn<QString>("said");
    QTest::newRow("no filters") << 0 << QString(pv::ui::kNoFiltersText);
    QTest::newRow("none selected") << 2 << QString(pv::ui::kNoFilterSelectedText);
  }
  void filterOptionsWithoutAFilterSaysWhy() {
    QFETCH(int, filters);
    QFETCH(QString, said);
    for (int i = 0; i < filters; ++i) window_->addFilter(pv::filters::filterIndexOfText("/filter invert"));
    window_->filterList()->clearSelection();
    window_->action(MainWindow::kFilterOptions)->trigger();
    QCOMPARE(prompter_->shown, QStringList{"Pictoravine Image Converter|" + said});
  }

  void movingFilters_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("order");
    QTest::addColumn<int>("selected");
    QTest::newRow("up from the top changes nothing") << 0 << int(MainWindow::kMoveUp) << "5 6 7" << 0;
    QTest::newRow("down from the bottom changes nothing") << 2 << int(MainWindow::kMoveDown) << "5 6 7" << 2;
    QTest::newRow("up") << 2 << int(MainWindow::kMoveUp) << "5 7 6" << 1;
    QTest::newRow("down") << 0 << int(MainWindow::kMoveDown) << "6 5 7" << 1;
    QTest::newRow("to the top") << 2 << int(MainWindow::kMoveTop) << "7 5 6" << 0;
    QTest::newRow("to the bottom") << 0 << int(MainWindow::kMoveBottom) << "6 7 5" << 2;
  }
  void movingFilters() {
    QFETCH(int, row);
    QFETCH(int, command);
    QFETCH(QString, order);
    QFETCH(int, selected);
    for (int k : {5, 6, 7}) window_->addFilter(k);
    prompter_->shown.clear();  // filters with settings say their form is not built yet
    window_->filterList()->setCurrentRow(row);
    window_->action(static_cast<MainWindow::Command>(command))->trigger();
    QCOMPARE(chainTypes(), order);
    QCOMPARE(window_->filterList()->currentRow(), selected);
    QCOMPARE(window_->filterList()->count(), 3);
  }

  void clearingAndRemovingFilters() {
    prompter_->answer = false;
    window_->action(MainWindow::kClearFilters)->trigger();
    QVERIFY(prompter_->shown.isEmpty());  // an empty chain asks nothing
    chainOf({1, 2, 3});
    window_->action(MainWindow::kClearFilters)->trigger();
    QCOMPARE(prompter_->shown.last(),
             QString("Pictoravine Image Converter|Are you sure you want to clear the current filter list?"));
    QCOMPARE(session_->chain.size(), 3u);
    prompter_->answer = true;
    window_->action(MainWindow::kClearFilters)->trigger();
    QCOMPARE(session_->chain.size(), 0u);
    for (int k : {1, 2, 3}) window_->addFilter(k);
    window_->filterList()->item(0)->setSelected(true);
    window_->filterList()->item(2)->setSelected(true);
    window_->action(MainWindow::kRemoveFilters)->trigger();
    QCOMPARE(chainTypes(), QString("2"));
  }

  void aFilterWithoutSettingsSaysSo() {
    // Invert has no settings: adding it opens nothing, asking for its options says so.
    const int invert = pv::filters::filterIndexOfText("/filter invert");
    window_->addFilter(invert);
    QVERIFY(prompter_->shown.isEmpty());
    window_->action(MainWindow::kFilterOptions)->trigger();
    QCOMPARE(prompter_->shown.last(),
             QString("Pictoravine Image Converter|The chosen filter does not have any associated settings."));
  }

  void settingsFormsEditTheChain_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("stored");
    QTest::newRow("a slider, OK") << "brightness" << 0 << 500 << true << 500;
    QTest::newRow("Cancel keeps the defaults") << "brightness" << 0 << 500 << false << 0;
    QTest::newRow("a signed value") << "hue" << 0 << -90 << true << -90;
    QTest::newRow("a choice") << "emboss" << 0 << 5 << true << 5;
    QTest::newRow("an angle") << "rotate" << 0 << 4550 << true << 4550;
    QTest::newRow("a yes/no") << "blur" << 2 << 0 << true << 0;
  }
  void settingsFormsEditTheChain() {
    QFETCH(QString, filter);
    QFETCH(int, param);
    QFETCH(int, value);
    QFETCH(bool, ok);
    QFETCH(int, stored);
    addPictures(1, "pic", 120, 90);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    bool shown = false, hadSource = false;
    window_->filterForms().onForm = [&](pv::ui::SettingsForm& form) {
      shown = true;
      QTRY_VERIFY(!form.previewBusy());
      hadSource = !form.resultPicture().isNull();
      form.setValue(static_cast<std::size_t>(param), value);
      ok ? form.accept() : form.reject();
    };
    const int kind = pv::filters::filterIndexOfText("/filter " + filter.toStdString());
    window_->addFilter(kind);  // a filter with settings opens its form at once
    QVERIFY(shown);
    QVERIFY(hadSource);                    // the form showed the selected image through the filter
    QCOMPARE(session_->chain.size(), 1u);  // a cancelled new filter stays, with its defaults
    QCOMPARE(session_->chain.at(0).value(static_cast<std::size_t>(param)), stored);
  }

  void resizeCropAndDpiHaveDialogsOfTheirOwn() {
    addPictures(1, "pic", 200, 160);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    struct Case {
      const char* text;  // the filter as the chain holds it
      std::function<void(QDialog&)> answer;
      std::vector<std::int32_t> stored;
    };
    QStringList seen;
    const std::vector<Case> cases = {
        {"/filter resize 3 0 320 240 0 0",
         [&](QDialog& d) {
           auto& r = static_cast<pv::ui::ResizeDialog&>(d);
           seen << r.windowTitle() << r.method->currentText() << r.widthLabel->text();
           r.keepAspect->click();
           seen << r.widthLabel->text();
           r.accept();
         },
         {0, 0, 320, 240, 1, 0}},  // method 3 opens on "Normal", stored 0
        {"/filter resize 4 0 320 240 1 1",
         [&](QDialog& d) {
           auto& r = static_cast<pv::ui::ResizeDialog&>(d);
           r.unit->setCurrentIndex(1);
           // Into a percentage the fields start at 100 %, relabelled; never
           // enlarging still means something there.
           seen << r.widthLabel->text() << r.heightLabel->text() << r.width->text() + "x" + r.height->text()
                << (r.keepAspect->isEnabled() ? "aspect" : "-") << (r.noEnlarge->isEnabled() ? "never enlarge" : "-");
           r.width->setText("50");
           r.height->setText("");
           r.accept();
         },
         {4, 1, 50, 0, 1, 1}},
        // Out of a percentage and back: the pixels come back.
        {"/filter resize 4 0 1600 1200 1 1",
         [&](QDialog& d) {
           auto& r = static_cast<pv::ui::ResizeDialog&>(d);
           r.unit->setCurrentIndex(1);
           r.width->setText("25");
           r.unit->setCurrentIndex(2);
           seen << r.widthLabel->text() << r.width->text() + "x" + r.height->text();
           r.accept();
         },
         {4, 2, 1600, 1200, 1, 1}},
        // Opened on a percentage, pixels start at the filter's first size.
        {"/filter resize 4 1 50 50 0 0",
         [&](QDialog& d) {
           auto& r = static_cast<pv::ui::ResizeDialog&>(d);
           seen << r.widthLabel->text();
           r.unit->setCurrentIndex(0);
           seen << r.width->text() + "x" + r.height->text();
           r.accept();
         },
         {4, 0, 320, 240, 0, 0}},
        {"/filter resize 4 0 320 240 0 0",
         [&](QDialog& d) {
           auto& r = static_cast<pv::ui::ResizeDialog&>(d);
           r.unit->setCurrentIndex(4);
           seen << r.widthLabel->text() << (r.height->isEnabled() ? "height" : "no height")
                << (r.noEnlarge->isEnabled() ? "never enlarge" : "-");
           r.width->setText("1600");
           r.accept();
         },
         {4, 4, 1600, 240, 0, 0}},
        {"/filter crop 0 0 128 128",
         [&](QDialog& d) {
           auto& c = static_cast<pv::ui::CropDialog&>(d);
           seen << c.windowTitle();
           c.drawRectangle({40, 30}, {10, 5});  // dragged up and to the left
           c.accept();
         },
         {5, 10, 30, 25}},
        {"/filter dpi 96 96",
         [&](QDialog& d) {
           auto& p = static_cast<pv::ui::DpiDialog&>(d);
           seen << p.windowTitle() << (p.identical->isChecked() ? "identical" : "apart");
           p.horizontal->setText("300");
           seen << p.vertical->text();
           p.identical->click();
           p.vertical->setText("72");
           p.accept();
         },
         {300, 72}},
        {"/filter dpi 150 150", [&](QDialog& d) { d.reject(); }, {150, 150}},  // Cancel keeps the values
    };
    for (const Case& c : cases) {
      session_->chain.clear();
      session_->chain.appendFromText(c.text);
      window_->filterList()->clear();
      window_->filterList()->addItem("x");
      window_->filterList()->setCurrentRow(0);
      window_->filterForms().onOwnDialog = c.answer;
      window_->configureFilter();
      QCOMPARE(session_->chain.at(0).values(), c.stored);
    }
    QCOMPARE(seen, (QStringList{"Resize Options", "Normal", "Width:", "Max Width:", "Width (%):", "Height (%):",
                                "100x100", "-", "never enlarge", "Box Width:", "1600x1200", "Width (%):", "320x240",
                                "Longest Side:", "no height", "never enlarge", "Crop Options", "DPI Resolution Options", "identical", "300"}));
  }

  // Every kind edited in a form: it opens from the descriptor, a changed
  // value comes back through the text form exactly, and the result differs
  // from the image the filter receives where the filter changes pixels.
  void everyKindsFormEditsItsValues() {
    pv::engine::Image source;
    source.pixels = cv::Mat(90, 120, CV_8UC3);
    cv::randu(source.pixels, 0, 255);
    const int handle = pv::engine::handles::create(source);
    pv::ui::FilterForms& forms = window_->filterForms();
    QStringList unchanged;
    for (const pv::filters::FilterKind& kind : pv::filters::filterKinds()) {
      if (kind.editOwn || kind.params.empty()) continue;  // own dialogs, no settings
      const QByteArray name(kind.key.data(), static_cast<int>(kind.key.size()));
      std::vector<std::int32_t> defaults;
      for (const pv::filters::Param& p : kind.params) defaults.push_back(p.initial);
      // A value other than the default for the first parameter: three quarters up its range.
      const pv::filters::Param& first = kind.params[0];
      std::int32_t other = static_cast<std::int32_t>(first.low + (first.high - first.low) * 3 / 4);
      if (other == first.initial) other = static_cast<std::int32_t>(first.low);
      bool differs = false, opened = false;
      forms.onForm = [&](pv::ui::SettingsForm& form) {
        opened = form.windowTitle().startsWith(
            QString::fromUtf8(kind.name.data(), static_cast<int>(kind.name.size())));
        form.setValue(0, other);
        QTRY_VERIFY(!form.previewBusy());
        const QImage input = toQImageForTest(source, form.resultPicture().size());
        differs = !form.resultPicture().isNull() && form.resultPicture() != input;
        form.accept();
      };
      const auto edited = forms.edit(kind, defaults, handle);
      QVERIFY2(opened, name);
      QVERIFY2(edited && edited->size() == defaults.size(), name);
      QVERIFY2((*edited)[0] == other, name);
      // Through the text form and back: the changed value exactly (the others
      // as the kind's reading rules leave them, the grey weights' sum rule), and
      // a second trip changes nothing.
      pv::filters::FilterContext context;
      auto filter = pv::filters::createFilter(kind.index(), context);
      for (std::size_t i = 0; i < edited->size(); ++i) filter->setValue(i, (*edited)[i]);
      auto again = pv::filters::createFilter(kind.index(), context);
      again->fromText(filter->toText());
      QVERIFY2(again->value(0) == other, name);
      auto third = pv::filters::createFilter(kind.index(), context);
      third->fromText(again->toText());
      QVERIFY2(third->values() == again->values(), name);
      if (!differs) unchanged << name;
    }
    pv::engine::handles::release(handle);
    // A few kinds may leave random noise as it is at such a value (a trim
    // finds no border, 24 bits stay 24 bits); every other one changes it.
    QVERIFY2(unchanged.size() <= 3, qPrintable(unchanged.join(' ')));
  }

  void theFormsResultFollowsTheValuesAndDefaultsComeBack() {
    addPictures(1, "pic", 160, 120);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    QImage first, brighter;
    std::vector<std::int32_t> reset;
    window_->filterForms().onForm = [&](pv::ui::SettingsForm& form) {
      QTRY_VERIFY(!form.previewBusy() && !form.resultPicture().isNull());
      first = form.resultPicture();
      form.setValue(0, 800);
      QTRY_VERIFY(form.resultPicture() != first);
      brighter = form.resultPicture();
      form.resetToDefaults();
      reset = form.values();
      form.reject();
    };
    window_->addFilter(pv::filters::filterIndexOfText("/filter brightness"));
    QVERIFY(!brighter.isNull());
    const QPoint mid(first.width() / 2, first.height() / 2);
    QVERIFY(qGray(brighter.pixel(mid)) > qGray(first.pixel(mid)));
    QCOMPARE(reset, std::vector<std::int32_t>{0});
  }

  void theFormatOptionsDialogStoresInConfigIni_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("slider");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("quality");
    QTest::newRow("OK untouched") << "OK" << -1 << true << "JPG"
                                  << "23";
    QTest::newRow("OK at the highest quality") << "OK" << 100 << true << "JPG"
                                               << "255";
    QTest::newRow("Set as Default, Yes") << "Set as Default" << -1 << true << "JPG Shell"
                                         << "22";
    QTest::newRow("Set as Default, No") << "Set as Default" << -1 << false << "JPG Shell"
                                        << "";
    QTest::newRow("Cancel writes nothing") << "Cancel" << 100 << true << "JPG"
                                           << "25";
  }
  void theFormatOptionsDialogStoresInConfigIni() {
    QFETCH(QString, button);
    QFETCH(int, slider);
    QFETCH(bool, yes);
    QFETCH(QString, section);
    QFETCH(QString, quality);
    std::ofstream(data_->file("config.ini")) << "[JPG]\nCompressionMethod=2\nQuality=25\n";
    window_->selectFormat(0);  // JPG, read from the file again
    addPictures(1, "pic", 90, 60);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    prompter_->answer = yes;
    QString title, value, size;
    QTimer::singleShot(50, [&] {
      auto* dialog = qobject_cast<pv::ui::FormatOptionsDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      title = dialog->windowTitle();
      value = dialog->valueLabel()->text();
      // The selected image written with the options shown.
      QTRY_VERIFY(!dialog->sampleBusy());
      size = dialog->sizeLabel()->text();
      if (slider >= 0) dialog->slider()->setValue(slider);
      for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>())
        if (b->text().remove('&') == button) b->click();
      if (dialog->isVisible()) dialog->reject();
    });
    window_->action(MainWindow::kFormatOptions)->trigger();
    QCOMPARE(title, QString("JPG Format Options"));
    QCOMPARE(value, QString("9"));
    QVERIFY2(size.startsWith("Its size: "), qPrintable(size));
    const std::string stored =
        pv::ini::Document::load(data_->file("config.ini")).get(section.toStdString(), "Quality").value_or("");
    QCOMPARE(QString::fromStdString(stored), quality);
  }

  void theFormatOptionsDialogSetsASizeLimit_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("stored");
    QTest::newRow("JPEG, lossy") << "JPG" << 2 << true << true << "1";
    QTest::newRow("JPEG, lossless") << "JPG" << 0 << true << false << "";
    QTest::newRow("WebP, lossy") << "WEBP" << 0 << true << true << "1";
    QTest::newRow("PNG has no size target") << "PNG" << 0 << false << false << "";
  }
  void theFormatOptionsDialogSetsASizeLimit() {
    QFETCH(QString, format);
    QFETCH(int, method);
    QFETCH(bool, shown);
    QFETCH(bool, enabled);
    QFETCH(QString, stored);
    const std::string key = format.toStdString();
    std::ofstream(data_->file("config.ini")) << "[" << key << "]\nCompressionMethod=" << method << "\n";
    window_->selectFormat(pv::formatIndexOfKey(key));
    addPictures(1, "pic", 90, 60);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    bool visible = false, open = false;
    QString size;
    QTimer::singleShot(50, [&] {
      auto* dialog = qobject_cast<pv::ui::FormatOptionsDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      QSpinBox* box = dialog->maxSizeBox();
      visible = box->isVisibleTo(dialog);
      open = box->isEnabled();
      if (open) {
        QCOMPARE(box->text(), QString("no limit"));
        box->setValue(1);  // 1 KB: the sample is written to fit, or at the lowest quality
        QTRY_VERIFY(dialog->sizeLabel()->text().contains("quality"));
        size = dialog->sizeLabel()->text();
      }
      dialog->accept();
    });
    window_->action(MainWindow::kFormatOptions)->trigger();
    QCOMPARE(visible, shown);
    QCOMPARE(open, enabled);
    if (enabled) QVERIFY2(size.startsWith("Its size: "), qPrintable(size));
    const std::string value =
        pv::ini::Document::load(data_->file("config.ini")).get(key, "MaxFileSize").value_or("");
    QCOMPARE(QString::fromStdString(value), stored);
  }

  void savingAProfile() {
    bool opened = false;
    window_->onProfileDialog = [&](QDialog*) { opened = true; };
    window_->action(MainWindow::kSaveProfile)->trigger();
    QVERIFY(!opened);  // an empty chain has nothing to save
    chainOf(
        {pv::filters::filterIndexOfText("/filter invert"), pv::filters::filterIndexOfText("/filter flip")});
    QStringList states;
    window_->onProfileDialog = [&](QDialog* d) {
      auto* dialog = static_cast<pv::ui::ProfileNameDialog*>(d);
      states << dialog->windowTitle();
      dialog->nameField()->setText("web  ");
      dialog->accept();
      states << (dialog->isVisible() ? "open" : "closed");
      if (dialog->isVisible()) dialog->reject();
    };
    window_->action(MainWindow::kSaveProfile)->trigger();
    const std::string saved = pv::test::readFile(data_->file("Profiles/web.pvp"));
    QVERIFY2(saved.find("invert") != std::string::npos && saved.find("flip") != std::string::npos,
             saved.c_str());
    prompter_->answer = false;  // the same name again, not overwritten: the dialog stays open
    window_->action(MainWindow::kSaveProfile)->trigger();
    QCOMPARE(states, (QStringList{"Save Filter Profile", "closed", "Save Filter Profile", "open"}));
    QCOMPARE(prompter_->shown.last(),
             QString("Pictoravine Image Converter|The profile already exists. Do you want to overwrite it?"));
  }

  // A resize added in the window starts keeping the aspect ratio (its dialog
  // opens with the box checked); one read from a text form with the token
  // missing keeps what the token has always meant.
  void aNewResizeKeepsTheAspectRatio_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("keepAspect");
    QTest::newRow("added in the window") << "window" << 1;
    QTest::newRow("a text form without the token") << "/filter resize 4 0 800 600" << 0;
    QTest::newRow("a new invert is as before") << "invert" << -1;
  }
  void aNewResizeKeepsTheAspectRatio() {
    QFETCH(QString, how);
    QFETCH(int, keepAspect);
    bool boxChecked = false;
    window_->filterForms().onOwnDialog = [&](QDialog& d) {
      boxChecked = static_cast<pv::ui::ResizeDialog&>(d).keepAspect->isChecked();
      d.accept();
    };
    if (how == "window") {
      window_->addFilter(pv::filters::filterIndexOfText("/filter resize"));
      QVERIFY(boxChecked);
    } else if (how == "invert") {
      window_->addFilter(pv::filters::filterIndexOfText("/filter invert"));
      QCOMPARE(session_->chain.at(0).toText(), std::string("/filter invert"));
      return;
    } else {
      session_->chain.appendFromText(how.toStdString());
    }
    const pv::filters::Filter& resize = session_->chain.at(0);
    QCOMPARE(resize.value(4), keepAspect);  // keepAspect, the fifth value
  }

  // "Save Profile" keeps the output only when asked (the box starts off);
  // loading such a profile in the manager chooses its format row, options
  // and output folder again.
  void aProfileWithItsOutputChoosesItAgain_data() {
    QTest::addColumn<bool>("withOutput");
    QTest::newRow("filters only (the default)") << false;
    QTest::newRow("with the output") << true;
  }
  void aProfileWithItsOutputChoosesItAgain() {
    QFETCH(bool, withOutput);
    chainOf({pv::filters::filterIndexOfText("/filter invert")});
    const auto choose = [&](const QString& key) {
      window_->formatList()->setCurrentItem(window_->formatList()->findItems(key, Qt::MatchExactly, 0).value(0));
      QCOMPARE(QString::fromStdString(session_->format->key), key);
    };
    choose("WEBP");
    session_->format->quality = 55;
    session_->settings.UseSourcePathForOutput = false;
    session_->settings.OutPutDir = file("web") + "/";
    bool boxWasOff = false;
    window_->onProfileDialog = [&](QDialog* d) {
      auto* dialog = static_cast<pv::ui::ProfileNameDialog*>(d);
      boxWasOff = dialog->option() && !dialog->option()->isChecked();
      dialog->option()->setChecked(withOutput);
      dialog->nameField()->setText("kept");
      dialog->accept();
    };
    window_->action(MainWindow::kSaveProfile)->trigger();
    QVERIFY(boxWasOff);
    const std::string saved = pv::test::readFile(data_->file("Profiles/kept.pvp"));
    QCOMPARE(saved.find("/convert WEBP 0 ") != std::string::npos, withOutput);

    // Elsewhere now: another format, outputs beside their sources.
    choose("JPG");
    session_->settings.UseSourcePathForOutput = true;
    window_->onProfileDialog = [&](QDialog* d) {
      auto& m = *static_cast<pv::ui::ProfileManager*>(d);
      m.list()->setCurrentRow(0);
      m.load();
    };
    window_->action(MainWindow::kProfileManager)->trigger();
    QCOMPARE(window_->filterList()->count(), 1);
    const QString shown = window_->formatList()->currentItem()->text(0);
    QCOMPARE(shown, withOutput ? QString("WEBP") : QString("JPG"));
    QCOMPARE(QString::fromStdString(session_->format->key), shown);
    if (withOutput) QCOMPARE(session_->format->quality, 55);
    QCOMPARE(session_->settings.UseSourcePathForOutput, !withOutput);
    QCOMPARE(pv::app::loadSettings().UseSourcePathForOutput, !withOutput);
  }

  void theProfileManager() {
    fs::create_directories(data_->file("Profiles"));
    std::ofstream(data_->file("Profiles/grey.pvp")) << "/filter grayscale 299 587 114\n";
    std::ofstream(data_->file("Profiles/web.pvp")) << "/filter resize 4 0 800 600 1 1\n/filter sharpen 30\n";
    std::ofstream(data_->file("Profiles/taken.pvp")) << "/filter invert\n";
    chainOf({pv::filters::filterIndexOfText("/filter flip")});
    QStringList rows;
    const auto listed = [&](pv::ui::ProfileManager& m) {
      QStringList out;
      for (int i = 0; i < m.list()->count(); ++i) out << m.list()->item(i)->text();
      return out.join(',');
    };
    window_->onProfileDialog = [&](QDialog* d) {
      auto& m = *static_cast<pv::ui::ProfileManager*>(d);
      rows << listed(m);
      m.list()->setCurrentRow(2);  // web
      m.setDefault();
      rows << listed(m);
      m.setNone();
      rows << listed(m);
      // Renaming: an empty name keeps the dialog open; a taken name fails and the list keeps the old one.
      QStringList renames;
      m.onRename = [&](pv::ui::ProfileNameDialog& r) {
        r.nameField()->setText("");
        r.accept();
        renames << (r.isVisible() ? "open" : "closed");
        r.nameField()->setText("taken");
        r.accept();
      };
      m.rename();
      rows << listed(m) + " " + renames.join(',');
      m.onRename = [&](pv::ui::ProfileNameDialog& r) {
        r.nameField()->setText("small");
        r.accept();
      };
      m.rename();
      rows << listed(m);
      m.list()->setCurrentRow(0);  // grey
      m.remove();
      rows << listed(m);
      m.list()->setCurrentRow(1);  // small
      m.load();
    };
    window_->action(MainWindow::kProfileManager)->trigger();
    QCOMPARE(rows, (QStringList{"grey,taken,web", "grey,taken,web (Default)", "grey,taken,web",
                                "grey,taken,web open", "grey,taken,small", "taken,small"}));
    QVERIFY(prompter_->shown.contains(QString("Pictoravine Image Converter|") + pv::ui::kDefaultProfileText));
    QVERIFY(fs::exists(data_->file("Profiles/small.pvp")));
    QVERIFY(!fs::exists(data_->file("Profiles/web.pvp")));
    QVERIFY(!fs::exists(data_->file("Profiles/grey.pvp")));
    QVERIFY(fs::exists(data_->file("Profiles/taken.pvp")));  // never replaced by a rename
    QCOMPARE(pv::app::loadSettings().DefaultShellContextProfile, std::string());
    // "Load" replaced the chain (flip is gone) with the profile's two filters.
    QCOMPARE(session_->chain.size(), 2u);
    QCOMPARE(session_->chain.at(1).key, std::string("sharpen"));
    QCOMPARE(window_->filterList()->count(), 2);
  }

  void theManualOpensFromHelpTheWebsiteAndTheOptions() {
    const QString manual = QString::fromStdString(session_->settings.helpPath);
    QVERIFY2(QFile::exists(manual), qPrintable(manual));  // built beside the program, as installed
    QVERIFY(manual.endsWith("help/index.html"));
    window_->action(MainWindow::kHelp)->trigger();
    window_->action(MainWindow::kWebsite)->trigger();
    window_->onOptions = [](pv::ui::OptionsSheet& sheet) {
      sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
      sheet.reject();
    };
    window_->action(MainWindow::kGlobalOptions)->trigger();
    QCOMPARE(launcher_->opened, QStringList({manual, manual, "file://" + manual + "#options"}));

    // No browser takes it: the manual opens in a window of its own, at the
    // section asked for, and nothing says it is missing.
    launcher_->accepts = false;
    QString title, shown;
    pv::ui::onManualWindow = [&](QDialog& d) {
      title = d.windowTitle();
      shown = d.findChild<QTextBrowser*>()->source().toLocalFile();
      d.reject();
    };
    window_->action(MainWindow::kHelp)->trigger();
    pv::ui::onManualWindow = nullptr;
    QCOMPARE(title, QString("Pictoravine Manual"));
    QCOMPARE(shown, manual);
    QVERIFY(prompter_->shown.isEmpty());
    launcher_->accepts = true;

    session_->settings.helpPath = file("no-manual/index.html");
    window_->action(MainWindow::kHelp)->trigger();
    QCOMPARE(launcher_->opened.size(), 4);
    QVERIFY(prompter_->shown.last().contains("is not installed"));
  }

  // The menu page lists the five file managers with what each has, and
  // saving it writes Dolphin's service menu (or says why it could not).
  void theMenuPageSaysWhichFileManagersHaveTheMenu_data() {
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("blocked");  // a file where the service-menu folder would be
    QTest::addColumn<QString>("dolphin");
    QTest::addColumn<bool>("written");
    QTest::newRow("on: written") << true << false << "Dolphin (KDE Plasma)|has the menu" << true;
    QTest::newRow("off: removed") << false << false << "Dolphin (KDE Plasma)|no menu while switched off" << false;
    QTest::newRow("folder cannot be written") << true << true << "Dolphin (KDE Plasma)|could not be written (below)"
                                              << false;
  }
  void theMenuPageSaysWhichFileManagersHaveTheMenu() {
    QFETCH(bool, enabled);
    QFETCH(bool, blocked);
    QFETCH(QString, dolphin);
    QFETCH(bool, written);
    pv::test::TempDir dir;
    std::filesystem::create_directories(dir.file("bin"));
    for (const char* program : {"caja", "dolphin"}) {
      pv::test::writeFile(dir.file(std::string("bin/") + program), "#!/bin/sh\n");
      std::filesystem::permissions(dir.file(std::string("bin/") + program), std::filesystem::perms::owner_all);
    }
    if (blocked) pv::test::writeFile(dir.file("xdg"), "a file");
    if (!enabled) {  // a menu written before, which switching off removes
      std::filesystem::create_directories(dir.file("xdg/kio/servicemenus"));
      pv::test::writeFile(dir.file("xdg/kio/servicemenus/pictoravine.desktop"), "[Desktop Entry]\n");
    }
    pv::test::EnvGuard path("PATH", dir.file("bin"));
    pv::test::EnvGuard xdg("XDG_DATA_HOME", dir.file("xdg"));
    std::ofstream(data_->file("config.ini")) << "[Global]\nShellContextEnabled=" << !enabled << "\n[Shell]\nPNG=1\n";
    session_->settings = pv::app::loadSettings();
    pv::ui::OptionsSheet sheet(session_->settings, *prompter_, nullptr, pv::ui::OptionsSheet::kShell);
    const auto row = [&](int i) {
      const QTreeWidgetItem* item = sheet.shell.fileManagers->topLevelItem(i);
      return item->text(0) + "|" + item->text(1);
    };
    QCOMPARE(sheet.shell.fileManagers->topLevelItemCount(), 5);
    QCOMPARE(row(0), QString("Files (Nautilus) (GNOME)|not installed"));
    QVERIFY2(row(2).startsWith("Caja (MATE)|") && !row(2).endsWith("not installed"), qPrintable(row(2)));
    sheet.shell.enabled->setChecked(enabled);
    const std::string before = pv::test::readFile(data_->file("config.ini"));
    QVERIFY(sheet.apply());
    QCOMPARE(row(4), dolphin);
    // A service menu that could not be written is said in full on the page.
    QCOMPARE(sheet.shell.problem->isVisibleTo(&sheet), blocked);
    if (blocked)
      QVERIFY2(sheet.shell.problem->text().startsWith("Dolphin's menu could not be written: the folder " +
                                                      QString::fromStdString(dir.file("xdg/kio/servicemenus"))),
               qPrintable(sheet.shell.problem->text()));
    QCOMPARE(std::filesystem::exists(dir.file("xdg/kio/servicemenus/pictoravine.desktop")), written);
    // The settings are saved whether or not Dolphin's menu could be written.
    QCOMPARE(pv::app::loadSettings().ShellContextEnabled, enabled);
    QVERIFY(before != pv::test::readFile(data_->file("config.ini")));
  }

  void theOptionsSheetStoresOnlyThePagesShown() {
    std::ofstream(data_->file("config.ini")) << "[Global]\nFileNameNumber=(%n)\nOutPutDir=keep/\n"
                                                "UseSourcePathForOutput=0\n";
    session_->settings = pv::app::loadSettings();
    int registrations = 0;
    const auto count = [&](bool) { ++registrations; };
    {
      // OK on the first page only: the others are not read back.
      pv::ui::OptionsSheet sheet(session_->settings, *prompter_, count);
      QVERIFY(sheet.shown(pv::ui::OptionsSheet::kGlobal));
      QVERIFY(!sheet.shown(pv::ui::OptionsSheet::kFile));
      sheet.global.silent->setChecked(true);
      sheet.global.threads->setValue(2);
      QVERIFY(sheet.global.keepDates->isChecked());  // on by default
      sheet.global.keepDates->click();
      sheet.global.stripLocation->click();
      sheet.accept();
      QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }
    pv::app::Settings stored = pv::app::loadSettings();
    QVERIFY(!stored.ShowMessages);
    QCOMPARE(stored.Threads, 2);
    QVERIFY(!stored.KeepDates);
    QVERIFY(stored.StripLocation);
    QCOMPARE(stored.FileNameNumber, std::string("(%n)"));
    QCOMPARE(stored.OutPutDir, std::string("keep/"));
    QCOMPARE(registrations, 0);
    {
      // The menu switched on and off again registers nothing; a stop keeps the sheet open and saves nothing.
      pv::ui::OptionsSheet sheet(session_->settings, *prompter_, count, pv::ui::OptionsSheet::kShell);
      QCOMPARE(sheet.tabs()->currentIndex(), 2);
      QCOMPARE(sheet.shell.formats->topLevelItemCount(), pv::kFormatCount);
      QCOMPARE(sheet.shell.formats->topLevelItem(0)->text(0), QString("JPG - JPEG File Interchange"));
      sheet.shell.enabled->click();
      sheet.shell.enabled->click();
      sheet.tabs()->setCurrentIndex(pv::ui::OptionsSheet::kFile);
      QCOMPARE(sheet.file.place->checkedId(), 2);  // a folder below the source
      QCOMPARE(sheet.file.path->text(), QString("keep/"));
      sheet.file.number->setText("#");
      sheet.file.place->button(1)->click();
      sheet.file.folder->clear();
      sheet.accept();
      QCOMPARE(prompter_->shown.last(),
               QString("Pictoravine Image Converter|Please enter an output folder."));
      QVERIFY(sheet.result() != QDialog::Accepted);
      QCOMPARE(pv::app::loadSettings().FileNameNumber, std::string("(%n)"));
      sheet.file.folder->setText("/srv/out");
      QVERIFY(!sheet.file.onlySmaller->isChecked());
      sheet.file.onlySmaller->click();
      QVERIFY(sheet.file.keepFolders->isEnabled());  // an output folder is chosen
      sheet.file.keepFolders->click();
      sheet.accept();
      QCOMPARE(sheet.result(), int(QDialog::Accepted));
    }
    stored = pv::app::loadSettings();
    QVERIFY(stored.OnlySmaller);
    QVERIFY(stored.KeepFolders);
    QCOMPARE(stored.FileNameNumber, std::string("#-%n"));
    QCOMPARE(stored.OutPutDir, std::string("/srv/out"));
    QCOMPARE(registrations, 0);
    // Checking a source-deleting box warns; clearing it does not.
    pv::ui::OptionsSheet sheet(session_->settings, *prompter_, count, pv::ui::OptionsSheet::kFile);
    const int before = static_cast<int>(prompter_->shown.size());
    sheet.file.deleteSource->click();
    sheet.file.deleteSource->click();
    QCOMPARE(static_cast<int>(prompter_->shown.size()), before + 1);
    QVERIFY(prompter_->shown.last().endsWith("since it will be deleted."));
    // The first image's output name follows the texts as they are typed; an
    // unknown token shows why OK will refuse it, and OK does.
    pv::app::ImageEntry first;
    first.folder = "/photos/Summer/";
    first.fileName = "beach.jpg";
    first.width = 640;
    sheet.showNameOf(first, "png");
    sheet.file.before->clear();
    sheet.file.after->clear();
    QTest::keyClicks(sheet.file.before, "{folder}_");
    QTest::keyClicks(sheet.file.after, "_{width}");
    QCOMPARE(sheet.file.sampleName->text(), QString("Summer_beach_640.png"));
    QTest::keyClicks(sheet.file.after, "{nme}");
    QVERIFY(sheet.file.sampleName->text().startsWith("Unknown name token {nme}"));
    sheet.accept();
    QVERIFY(sheet.result() != QDialog::Accepted);
    QVERIFY(prompter_->shown.last().contains("the tokens are {date}, {time}"));
  }

  // Each list says what it holds in its header.
  void listsAreHeaded_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("headers");
    QTest::newRow("images") << "images" << QStringList{"Images Added"};
    QTest::newRow("filters") << "filters" << QStringList{"Filters Applied"};
    QTest::newRow("formats") << "formats" << QStringList{"Prefix", "Format"};
    QTest::newRow("filter chooser") << "chooser" << QStringList{"Filter"};
  }
  void listsAreHeaded() {
    QFETCH(QString, list);
    QFETCH(QStringList, headers);
    pv::ui::AddFilterDialog dialog(*prompter_, "Pictoravine Image Converter");
    QTreeView* view = list == "images"    ? window_->imageView()
                      : list == "filters" ? static_cast<QTreeView*>(window_->filterList())
                                          : static_cast<QTreeView*>(dialog.list());
    for (QTreeWidget* w : window_->findChildren<QTreeWidget*>())
      if (list == "formats" && w->columnCount() == 2) view = w;
    QVERIFY(!view->isHeaderHidden());
    QStringList shown;
    for (int c = 0; c < view->model()->columnCount(); ++c)
      shown << view->model()->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(shown, headers);
  }

  void theFilterChooserWantsASelection() {
    pv::ui::AddFilterDialog dialog(*prompter_, "Pictoravine Image Converter");
    QCOMPARE(dialog.list()->count(), pv::filters::filterCount());
    dialog.accept();
    QCOMPARE(prompter_->shown.last(),
             QString("Pictoravine Image Converter|Please select the filter you want to apply."));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.list()->setCurrentRow(4);
    dialog.accept();
    QCOMPARE(dialog.chosen(), 4);
    // The pictures are the sample run through each filter: made off the
    // window's thread, one per kind, and most of them differ.
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(pv::ui::AddFilterDialog::icons().size()),
                              pv::filters::filterCount(), 20000);
    QSet<qint64> distinct;
    for (const QImage& icon : pv::ui::AddFilterDialog::icons()) {
      QVERIFY(!icon.isNull());
      distinct.insert(
          static_cast<qint64>(qHashBits(icon.constBits(), static_cast<std::size_t>(icon.sizeInBytes()))));
    }
    QVERIFY2(distinct.size() >= 25, qPrintable(QString::number(distinct.size())));
  }

  void sortingByTheHeaderAlternates() {
    for (const char* name : {"b.png", "C.png", "a.png"}) writePicture(file(name), 8, 8);
    fs::create_directories(file("x"));
    writePicture(file("x/B.png"), 8, 8);
    for (const char* name : {"b.png", "C.png", "x/B.png", "a.png"})
      window_->addFiles({QString::fromStdString(file(name))});
    const auto names = [&] {
      QStringList out;
      for (const auto& e : session_->list)
        out << QString::fromStdString(e.path().substr(dir_->str().size() + 1));
      return out.join(' ');
    };
    QHeaderView* header = window_->imageView()->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
    QCOMPARE(names(), QString("a.png b.png x/B.png C.png"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
    QCOMPARE(names(), QString("C.png b.png x/B.png a.png"));
  }

  void enterAndEscapeDoNotCloseTheWindow() {
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
      QTest::keyClick(window_.get(), static_cast<Qt::Key>(key));
      QTest::keyClick(window_->imageView(), static_cast<Qt::Key>(key));
      QVERIFY(window_->isVisible());
    }
  }

  void selectingAFormatStoresIt() {
    window_->formatList()->setCurrentItem(window_->formatList()->topLevelItem(1));  // second: PNG
    QCOMPARE(session_->settings.DefaultFormatType, 2);  // the registry index, as stored before
    QCOMPARE(QString::fromStdString(session_->format->key), QString("PNG"));
  }

  // Today's formats first, the rest under a heading in registry order; the
  // filter box matches key or name; the heading cannot be chosen.
  void theFormatListShowsTodaysFormatsFirst_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("shown");  // the first rows shown, keys ("-" the heading)
    QTest::newRow("whole list") << "" << "JPG PNG WEBP AVIF HEIC JXL TIF GIF BMP - ICO CLP ANI";
    QTest::newRow("by key") << "jx" << "JXL";
    QTest::newRow("by name") << "bitmap" << "BMP PBM WBMP XBM";
    QTest::newRow("nothing") << "no such format" << "";
  }
  void theFormatListShowsTodaysFormatsFirst() {
    QFETCH(QString, filter);
    QFETCH(QString, shown);
    window_->formatFilter()->setText(filter);
    QStringList keys;
    for (int i = 0; i < window_->formatList()->topLevelItemCount() && keys.size() < 13; ++i) {
      QTreeWidgetItem* item = window_->formatList()->topLevelItem(i);
      if (!item->isHidden()) keys << (item->text(0).isEmpty() ? "-" : item->text(0));
    }
    QCOMPARE(keys.join(' '), shown);
    // Each row keeps its registry index, and the heading is not selectable.
    for (int i = 0; i < window_->formatList()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = window_->formatList()->topLevelItem(i);
      if (item->text(0).isEmpty()) {
        QVERIFY(!(item->flags() & Qt::ItemIsSelectable));
        continue;
      }
      QCOMPARE(pv::formatKey(item->data(0, Qt::UserRole).toInt()), item->text(0).toStdString());
    }
  }

  void previewsFollowTheSelectionAndTheChain() {
    writePicture(file("wide.png"), 300, 100);
    pv::test::writeFile(file("broken.png"), "\x89PNG\r\n\x1a\n not really");
    window_->addFiles({QString::fromStdString(file("wide.png"))});
    session_->list.push_back(session_->list.front());  // an entry whose file goes bad after listing
    session_->list.back().fileName = "broken.png";
    window_->imageModel()->refresh();
    window_->afterBox()->setChecked(true);

    QSignalSpy shown(window_.get(), &MainWindow::previewsShown);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    QTRY_VERIFY(!window_->beforePicture().isNull());
    QTRY_VERIFY(!window_->previewBusy());
    const QImage before = window_->beforePicture();
    QVERIFY(qAbs(before.width() * 100 / before.height() - 300) <= 3);  // proportions kept
    QVERIFY(before.width() <= window_->width());
    QCOMPARE(window_->afterPicture().size(), before.size());
    QCOMPARE(window_->afterPicture(), before);  // no filters yet

    window_->addFilter(pv::filters::filterIndexOfText("/filter invert"));
    QTRY_VERIFY(!window_->previewBusy());
    QTRY_VERIFY(window_->afterPicture() != before);
    const QColor b = before.pixelColor(before.width() / 2, before.height() / 2);
    const QColor a = window_->afterPicture().pixelColor(before.width() / 2, before.height() / 2);
    QVERIFY(qAbs(b.red() + a.red() - 255) <= 2);

    // An image that cannot be opened leaves the pictures shown, and the hint
    // line says so.
    const QImage inverted = window_->afterPicture();
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(1));
    QTRY_COMPARE(window_->statusBar()->currentMessage(), QString("broken.png could not be opened."));
    QCOMPARE(window_->beforePicture(), before);
    QCOMPARE(window_->afterPicture(), inverted);
  }

  // Adding images and sorting keep the selected image selected (where it now
  // stands) and its pictures shown; removing and clearing select none.
  void theSelectionSurvivesAddingAndSorting_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("selected");  // the selected entry's name after, "" for none
    QTest::newRow("one image added") << "add one" << "b.png";
    QTest::newRow("images dropped") << "drop" << "b.png";
    QTest::newRow("sorted by the header") << "sort" << "b.png";
    QTest::newRow("another image removed") << "remove" << "";
    QTest::newRow("list cleared") << "clear" << "";
  }
  void theSelectionSurvivesAddingAndSorting() {
    QFETCH(QString, change);
    QFETCH(QString, selected);
    for (const char* name : {"c.png", "b.png", "a.png", "d.png", "e.png"}) writePicture(file(name), 40, 30);
    for (const char* name : {"c.png", "b.png", "a.png"}) window_->addFiles({QString::fromStdString(file(name))});
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(1));  // b.png
    QTRY_VERIFY(!window_->beforePicture().isNull());
    QTRY_VERIFY(!window_->previewBusy());
    const QImage shown = window_->beforePicture();
    if (change == "add one") {
      window_->addFiles({QString::fromStdString(file("d.png"))});
    } else if (change == "drop") {
      window_->addFiles({QString::fromStdString(file("d.png")), QString::fromStdString(file("e.png"))});
    } else if (change == "sort") {
      QHeaderView* header = window_->imageView()->header();
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
      QCOMPARE(session_->list[1].fileName, std::string("b.png"));
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
      QCOMPARE(session_->list[1].fileName, std::string("b.png"));  // c b a: b in the middle either way
      window_->imageView()->clearSelection();
      window_->imageView()->setCurrentIndex(window_->imageModel()->index(2));  // a.png
      QTRY_VERIFY(!window_->previewBusy());
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
      QCOMPARE(session_->list[0].fileName, std::string("a.png"));  // moved from last to first
      selected = "a.png";
    } else if (change == "remove") {
      window_->imageView()->selectionModel()->select(window_->imageModel()->index(0),
                                                     QItemSelectionModel::ClearAndSelect);
      window_->action(MainWindow::kRemoveImages)->trigger();
    } else {
      prompter_->answer = true;
      window_->action(MainWindow::kClearImages)->trigger();
    }
    QTRY_VERIFY(!window_->previewBusy());
    const QModelIndex current = window_->imageView()->currentIndex();
    if (selected.isEmpty()) {
      QVERIFY(!current.isValid() || !window_->imageView()->selectionModel()->isSelected(current));
      QTRY_VERIFY(window_->beforePicture().isNull());
      return;
    }
    QVERIFY(current.isValid());
    QCOMPARE(QString::fromStdString(session_->list[static_cast<std::size_t>(current.row())].fileName), selected);
    QVERIFY(!window_->beforePicture().isNull());
    if (selected == "b.png") QCOMPARE(window_->beforePicture(), shown);
  }

  // A pane opens the preview on a double click with the left button only.
  void aPaneOpensThePreviewOnADoubleClick_data() {
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("opened");
    QTest::newRow("left click") << "click" << 0;
    QTest::newRow("right click") << "right" << 0;
    QTest::newRow("double click") << "double" << 1;
  }
  void aPaneOpensThePreviewOnADoubleClick() {
    QFETCH(QString, gesture);
    QFETCH(int, opened);
    addPictures(1);
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    int previews = 0;
    window_->onPreview = [&](pv::ui::PreviewWindow& w) {
      ++previews;
      w.reject();
    };
    QWidget* pane = window_->pane(true);
    if (gesture == "click") QTest::mouseClick(pane, Qt::LeftButton);
    if (gesture == "right") QTest::mouseClick(pane, Qt::RightButton);
    if (gesture == "double") QTest::mouseDClick(pane, Qt::LeftButton);
    QCOMPARE(previews, opened);
    window_->onPreview = nullptr;
  }

  void thePreviewWindowShowsBeforeOrAfterAndKeepsItsPicture() {
    writePicture(file("wide.png"), 300, 100);
    window_->addFiles({QString::fromStdString(file("wide.png"))});
    window_->addFilter(pv::filters::filterIndexOfText("/filter invert"));
    window_->openPreview(true);  // nothing selected: nothing opens
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    QImage before, after;
    QStringList titles;
    qint64 kept = 0, afterResize = -1;
    window_->onPreview = [&](pv::ui::PreviewWindow& w) {
      QTRY_VERIFY(!w.busy());
      titles << w.windowTitle();
      (before.isNull() ? before : after) = w.picture();
      QTest::mouseClick(&w, Qt::LeftButton);
      titles << w.windowTitle();
      kept = w.picture().cacheKey();
      w.resize(900, 700);  // a resize draws the kept picture again
      QTest::qWait(20);
      afterResize = w.picture().cacheKey();
      QTest::mouseDClick(&w, Qt::LeftButton);
      if (w.isVisible()) w.reject();
    };
    const QRect row = window_->imageView()->visualRect(window_->imageModel()->index(0));
    QTest::mouseClick(window_->imageView()->viewport(), Qt::LeftButton, {}, row.center());
    QTest::mouseDClick(window_->imageView()->viewport(), Qt::LeftButton, {}, row.center());
    QCOMPARE(titles.size(), 2);  // the double click opened it
    window_->openPreview(false);
    QCOMPARE(titles.mid(0, 2),
             (QStringList{"Image Preview [Original Size]", "Image Preview [Zoomed: Fit to Window]"}));
    QCOMPARE(before.size(), QSize(300, 100));  // its own size
    QCOMPARE(after.size(), QSize(300, 100));
    QVERIFY(qAbs(qRed(before.pixel(150, 50)) + qRed(after.pixel(150, 50)) - 255) <= 2);  // the chain ran
    QCOMPARE(afterResize, kept);
  }

  void addingAFolderRunsTheListJobAndShowsWhatFailed() {
    fs::create_directories(file("photos/sub"));
    for (const char* name : {"photos/a.png", "photos/b.png", "photos/sub/c.png"})
      writePicture(file(name), 20, 20);
    pv::test::writeFile(file("photos/damaged.png"), "\x89PNG\r\n\x1a\n broken");
    session_->settings.ScanSubDir = true;
    LogCatcher& logs = *logs_;
    QString label;
    window_->onJobDialog = [&](ProgressDialog& d) { label = d.countLabel()->text(); };
    // Rows appear one by one while the job runs, not only at its end.
    QSignalSpy arrived(window_->imageModel(), &QAbstractItemModel::rowsInserted);
    window_->addFolder(QString::fromStdString(file("photos")));
    QCOMPARE(arrived.count(), 3);
    QCOMPARE(label, QString("Files Scanned:"));
    QCOMPARE(static_cast<int>(session_->list.size()), 3);
    QCOMPARE(window_->imageModel()->rowCount(), 3);
    QCOMPARE(logs.texts.size(), 1);
    QVERIFY2(logs.texts.first().contains("damaged.png"), qPrintable(logs.texts.first()));
    QVERIFY(session_->list.front().thumbnail);  // made by the job, off the window's thread
  }

  void droppedFilesAndFoldersAreAdded() {
    fs::create_directories(file("dropped"));
    writePicture(file("dropped/in.png"), 10, 10);
    writePicture(file("one.png"), 10, 10);
    writePicture(file("two.png"), 10, 10);
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file("one.png"))),
                  QUrl::fromLocalFile(QString::fromStdString(file("two.png"))),
                  QUrl::fromLocalFile(QString::fromStdString(file("dropped"))),
                  QUrl("https://example.org/x.png")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window_.get(), &drop);
    QTRY_COMPARE(static_cast<int>(session_->list.size()), 3);
  }

  void aListSavedIsTheListOpened() {
    addPictures(3);
    const QString list = QString::fromStdString(file("mine.pvl"));
    QVERIFY(window_->saveList(list));
    window_->openList(list);
    QCOMPARE(static_cast<int>(session_->list.size()), 3);
    QCOMPARE(session_->list.front().fileName, std::string("pic0.png"));
  }

  void goConvertsWithPauseAndResume() {
    addPictures(6);
    const std::string out = convertInto();
    bool wasPaused = false;
    QString label;
    QString atPause, later;
    QStringList priorities;
    window_->onJobDialog = [&](ProgressDialog& d) {
      label = d.countLabel()->text();
      for (int i = 0; i < d.priorityBox()->count(); ++i) priorities << d.priorityBox()->itemText(i);
      d.pauseButton()->click();
      wasPaused = d.runner().paused() && d.resumeButton()->isEnabled() && !d.pauseButton()->isEnabled();
      // Paused, the dialog says so and its clock stops.
      atPause = d.timesLabel()->text();
      QTest::qWait(1200);
      later = d.timesLabel()->text();
      d.resumeButton()->click();
    };
    window_->goButton()->click();
    QVERIFY(wasPaused);
    QCOMPARE(priorities, (QStringList{"Idle (nice 19)", "Low (nice 10)", "Below normal (nice 5)", "Normal (nice 0)",
                                      "Above normal (nice -5)", "High (nice -10)", "Highest (nice -15)"}));
    QVERIFY2(atPause.startsWith("Paused: "), qPrintable(atPause));
    QCOMPARE(later, atPause);
    QCOMPARE(label, QString("Images Converted:"));
    QCOMPARE(filesIn(out), 6);
    QVERIFY(fs::exists(out + "/pic5.bmp"));
    QVERIFY(session_->texts.errorSummary.empty());
  }

  // Today's photo formats are chosen from the list like any other.
  void goConvertsToThePhotoFormats_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("extension");
    for (const char* key : {"WEBP", "AVIF", "HEIC", "JXL"})
      QTest::newRow(key) << QString(key) << QString(key).toLower();
  }
  void goConvertsToThePhotoFormats() {
    QFETCH(QString, key);
    QFETCH(QString, extension);
    addPictures(2);
    const std::string out = convertInto();
    window_->selectFormat(pv::formatIndexOfKey(key.toStdString()));
    QCOMPARE(QString::fromStdString(session_->format->key), key);
    window_->goButton()->click();
    QCOMPARE(filesIn(out), 2);
    for (const char* stem : {"/pic0.", "/pic1."}) {
      pv::engine::CLead lead;
      QCOMPARE(lead.LoadImage(out + stem + extension.toStdString(), 0, 0, 1), short{0});
    }
    QVERIFY(session_->texts.errorSummary.empty());
  }

  // The end of a run says what it did, opens the output folder and shows
  // the log; a source gone before its turn counts as failed.
  void theEndOfARunSaysWhatItDid() {
    addPictures(3, "end", 120, 90);
    const std::string out = convertInto();
    const long long in = static_cast<long long>(fs::file_size(file("end0.png")) + fs::file_size(file("end1.png")));
    fs::remove(file("end2.png"));
    QString title, text;
    bool logEnabled = false;
    window_->onRunSummary = [&](pv::ui::RunSummaryDialog& d) {
      title = d.windowTitle();
      text = d.summary()->text();
      logEnabled = d.showLogButton()->isEnabled();
      d.openFolderButton()->click();
      d.accept();
    };
    window_->goButton()->click();
    window_->onRunSummary = nullptr;
    const long long written =
        static_cast<long long>(fs::file_size(out + "/end0.bmp") + fs::file_size(out + "/end1.bmp"));
    QCOMPARE(title, QString("Conversion finished"));
    const QStringList lines = text.split('\n');
    QCOMPARE(lines.mid(0, 5), (QStringList{"Converted: 2", "Skipped: 0", "Failed: 1", "Written over existing files: 0",
                                           "Given numbered names: 0"}));
    QVERIFY2(lines.value(5).startsWith("Time: "), qPrintable(text));
    QCOMPARE(lines.value(6), QString::fromStdString("Read: " + pv::app::sizeText(in) + ", written: " +
                                                    pv::app::sizeText(written)));
    QVERIFY(logEnabled);
    QCOMPARE(launcher_->opened.value(0), QString::fromStdString(out + "/"));
  }

  // A second run into the same folder: numbered copies by default, the
  // outputs written over, or the images skipped (their outputs up to date),
  // as the options sheet says; the summary counts each. Choosing to write
  // over checks the overwrite box, with its warning, and the two are stored
  // together.
  void aSecondRunDoesWhatTheOptionsSay_data() {
    QTest::addColumn<int>("choice");  // the sheet's row
    QTest::addColumn<int>("files");   // in the output folder after two runs
    QTest::addColumn<QString>("counts");
    QTest::newRow("number a new name") << 0 << 4 << "Converted: 2\nSkipped: 0\nFailed: 0\nWritten over existing files: 0\nGiven numbered names: 2";
    QTest::newRow("overwrite") << 1 << 2 << "Converted: 2\nSkipped: 0\nFailed: 0\nWritten over existing files: 2\nGiven numbered names: 0";
    QTest::newRow("skip") << 2 << 2 << "Converted: 0\nSkipped: 2";
  }
  void aSecondRunDoesWhatTheOptionsSay() {
    QFETCH(int, choice);
    QFETCH(int, files);
    QFETCH(QString, counts);
    addPictures(2, "again", 60, 40);
    const std::string out = convertInto();
    const int warnings = static_cast<int>(prompter_->shown.size());
    {
      pv::ui::OptionsSheet sheet(session_->settings, *prompter_, nullptr, pv::ui::OptionsSheet::kFile);
      sheet.file.whenExists->setCurrentIndex(choice);
      emit sheet.file.whenExists->activated(choice);
      QCOMPARE(sheet.file.overwrite->isChecked(), choice == 1);
      QCOMPARE(int(prompter_->shown.size()) - warnings, choice == 1 ? 1 : 0);
      QVERIFY(sheet.apply());
    }
    const pv::app::Settings stored = pv::app::loadSettings();
    QCOMPARE(stored.WhenOutputExists, choice);
    QCOMPARE(stored.OverwriteOriginalImage, choice == 1);
    {
      // Read back, the sheet shows the same choice; unchecking the box
      // goes back to numbering.
      pv::ui::OptionsSheet sheet(session_->settings, *prompter_, nullptr, pv::ui::OptionsSheet::kFile);
      QCOMPARE(sheet.file.whenExists->currentIndex(), choice);
      sheet.file.overwrite->setChecked(false);
      QCOMPARE(sheet.file.whenExists->currentIndex(), choice == 1 ? 0 : choice);
    }
    window_->goButton()->click();
    window_->goButton()->click();
    QCOMPARE(filesIn(out), files);
    QVERIFY2(logs_->summaries.last().contains(counts), qPrintable(logs_->summaries.last()));
  }

  void sizesReadInOneUnitSystem_data() {
    QTest::addColumn<qlonglong>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("bytes") << 999LL << "999 B";
    QTest::newRow("kilobytes") << 1000LL << "1.0 kB";
    QTest::newRow("megabytes") << 15'300'000LL << "15.3 MB";
    QTest::newRow("gigabytes") << 2'049'000'000LL << "2.0 GB";
  }
  void sizesReadInOneUnitSystem() {
    QFETCH(qlonglong, bytes);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(pv::app::sizeText(bytes)), text);
  }

  void abortStopsAfterTheImagesInWork_data() {
    QTest::addColumn<bool>("pausedFirst");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("showMessages");
    QTest::newRow("abort") << false << true << true;
    QTest::newRow("abort while paused") << true << true << true;
    QTest::newRow("abort in a silent run") << false << true << false;
    QTest::newRow("No keeps it running") << false << false << true;
    QTest::newRow("No while paused keeps it paused") << true << false << true;
  }
  void abortStopsAfterTheImagesInWork() {
    QFETCH(bool, pausedFirst);
    QFETCH(bool, yes);
    QFETCH(bool, showMessages);
    const int count = 30;
    addPictures(count, "pic", 400, 300);
    const std::string out = convertInto();
    session_->settings.ShowMessages = showMessages;
    prompter_->answer = yes;
    bool disabled = false, pausedWhileAsked = false, pausedAfter = false;
    window_->onJobDialog = [&](ProgressDialog& d) {
      if (pausedFirst) d.pauseButton()->click();
      // The run waits while the question is open.
      prompter_->whileShown = [&] { pausedWhileAsked = d.runner().paused(); };
      d.abortButton()->click();
      prompter_->whileShown = nullptr;
      pausedAfter = d.runner().paused();
      disabled =
          !d.abortButton()->isEnabled() && !d.pauseButton()->isEnabled() && !d.resumeButton()->isEnabled();
      if (!yes && pausedFirst) d.resumeButton()->click();
    };
    window_->goButton()->click();
    QCOMPARE(prompter_->shown.filter("abort the process").size(), 1);
    QCOMPARE(disabled, yes);
    QVERIFY(pausedWhileAsked);
    // No: as it was before the question; Yes: the job goes on to see the abort.
    QCOMPARE(pausedAfter, !yes && pausedFirst);
    if (yes)
      QVERIFY2(filesIn(out) < count, qPrintable(QString::number(filesIn(out))));
    else
      QCOMPARE(filesIn(out), count);
  }

  void aSilentCommandLineRunKeepsItsDialogHidden() {
    addPictures(2);
    const std::string out = convertInto();
    session_->settings.commandLineMode = true;
    session_->settings.ShowMessages = false;
    session_->settings.AskWhereSave = true;  // never asked on a plain command line
    bool visible = true;
    window_->onJobDialog = [&](ProgressDialog& d) { visible = d.isVisible(); };
    window_->startConversion(true);
    QVERIFY(!visible);
    QCOMPARE(filesIn(out), 2);
    QVERIFY(prompter_->shown.isEmpty());
  }

  void theSaveLocationIsAskedAndCancelStopsTheRun() {
    addPictures(1);
    convertInto();
    session_->settings.AskWhereSave = true;
    bool asked = false, ran = false;
    window_->onJobDialog = [&](ProgressDialog&) { ran = true; };
    QTimer::singleShot(50, [&] {
      if (auto* where = qobject_cast<pv::ui::SaveLocationDialog*>(QApplication::activeModalWidget())) {
        asked = true;
        where->reject();
      }
    });
    window_->goButton()->click();
    QVERIFY(asked);
    QVERIFY(!ran);
    // The clipboard format never asks.
    window_->selectFormat(6);
    QCOMPARE(QString::fromStdString(session_->format->key), QString("CLP"));
    asked = false;
    QTimer::singleShot(50, [&] {
      if (qobject_cast<pv::ui::SaveLocationDialog*>(QApplication::activeModalWidget())) asked = true;
    });
    window_->goButton()->click();
    QVERIFY(!asked);
    QVERIFY(ran);
    QVERIFY2(logs_->texts.isEmpty(), qPrintable(logs_->texts.join('\n')));
  }

  void theSaveLocationDialogChecksAndStores_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("stored");
    QTest::newRow("beside the sources") << 0 << "" << true << "old/";
    QTest::newRow("one folder") << 1 << "/srv/pictures" << true << "/srv/pictures";
    QTest::newRow("one folder, empty") << 1 << "" << false << "old/";
    QTest::newRow("below the source") << 2 << "/small/web/" << true << "small/web/";
    QTest::newRow("below the source, empty") << 2 << "" << false << "old/";
  }
  void theSaveLocationDialogChecksAndStores() {
    QFETCH(int, choice);
    QFETCH(QString, text);
    QFETCH(bool, closes);
    QFETCH(QString, stored);
    pv::app::Settings& s = session_->settings;
    s.UseSourcePathForOutput = false;
    s.OutPutDir = "old/";
    s.AskWhereSave = true;
    pv::ui::SaveLocationDialog where(s, *prompter_);
    QCOMPARE(where.choices()->checkedId(), 2);
    QCOMPARE(where.pathField()->text(), QString("old/"));
    where.choices()->button(choice)->click();
    QCOMPARE(where.folderField()->isEnabled(), choice == 1);
    QCOMPARE(where.pathField()->isEnabled(), choice == 2);
    (choice == 1 ? where.folderField() : where.pathField())->setText(text);
    where.alwaysAsk()->setChecked(false);
    where.open();
    where.accept();
    QCOMPARE(where.result() == QDialog::Accepted, closes);
    QCOMPARE(QString::fromStdString(s.OutPutDir), stored);
    QVERIFY(!s.AskWhereSave);  // stored before the check
    QCOMPARE(pv::app::loadSettings().AskWhereSave, false);
    QCOMPARE(prompter_->shown.isEmpty(), closes);
  }

  // Outputs beside their sources: the stored folder stays in its field in
  // both dialogs that choose the place, so switching back needs no typing.
  void theStoredOutputFolderStaysShownWhileBesideTheSources_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::newRow("a folder") << "/srv/out" << "/srv/out" << "";
    QTest::newRow("a path below each source") << "keep/" << "" << "keep/";
    QTest::newRow("none") << "" << "" << "";
  }
  void theStoredOutputFolderStaysShownWhileBesideTheSources() {
    QFETCH(QString, stored);
    QFETCH(QString, folder);
    QFETCH(QString, path);
    pv::app::Settings& s = session_->settings;
    s.UseSourcePathForOutput = true;
    s.OutPutDir = stored.toStdString();
    pv::ui::SaveLocationDialog where(s, *prompter_);
    QCOMPARE(where.choices()->checkedId(), 0);
    QCOMPARE(where.folderField()->text(), folder);
    QCOMPARE(where.pathField()->text(), path);
    pv::ui::OptionsSheet sheet(s, *prompter_, nullptr, pv::ui::OptionsSheet::kFile);
    QCOMPARE(sheet.file.place->checkedId(), 0);
    QCOMPARE(sheet.file.folder->text(), folder);
    QCOMPARE(sheet.file.path->text(), path);
    QVERIFY(sheet.apply());  // applied as it stands, the folder is kept
    QCOMPARE(QString::fromStdString(s.OutPutDir), stored);
  }

  // Both lists draw rows, text and selection from the palette: under a light
  // and a dark palette every row's text stands out from its row (WCAG 4.5).
  void listRowsReadUnderLightAndDarkPalettes_data() {
    QTest::addColumn<bool>("dark");
    QTest::addColumn<bool>("chooser");
    QTest::newRow("image list, light") << false << false;
    QTest::newRow("image list, dark") << true << false;
    QTest::newRow("filter chooser, light") << false << true;
    QTest::newRow("filter chooser, dark") << true << true;
  }
  void listRowsReadUnderLightAndDarkPalettes() {
    QFETCH(bool, dark);
    QFETCH(bool, chooser);
    const QPalette palette = dark ? darkPalette() : QPalette(QColor(239, 239, 239));
    std::unique_ptr<pv::ui::AddFilterDialog> dialog;
    QAbstractItemView* view = nullptr;
    if (chooser) {
      dialog = std::make_unique<pv::ui::AddFilterDialog>(*prompter_, "Pictoravine Image Converter");
      view = dialog->list();
      dialog->resize(500, 400);
      dialog->show();
    } else {
      addPictures(3, "row", 120, 90);
      view = window_->imageView();
    }
    view->setPalette(palette);
    view->setCurrentIndex(view->model()->index(2, 0));  // the third row selected
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    for (int row = 0; row < 3; ++row) {
      const double ratio = rowContrast(view, view->model()->index(row, 0), pv::app::kThumbnailWidth + 12);
      QVERIFY2(ratio >= 4.5, qPrintable(QString("row %1: contrast %2").arg(row).arg(ratio)));
    }
  }

  // Thumbnails are made at the screen's pixel ratio and drawn pixel for
  // pixel: on a screen of ratio 2 a row shows a 152 x 114 thumbnail in its
  // 76 x 57 box, not a 76 x 57 one enlarged.
  void thumbnailsAreSharpAtThePixelRatio_data() {
    QTest::addColumn<double>("ratio");
    QTest::newRow("ratio 1") << 1.0;
    QTest::newRow("ratio 1.5") << 1.5;
    QTest::newRow("ratio 2") << 2.0;
  }
  void thumbnailsAreSharpAtThePixelRatio() {
    QFETCH(double, ratio);
    session_->settings.thumbnailScale = ratio;
    // Fine detail that an enlarged small thumbnail would blur.
    QImage stripes(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y)
      for (int x = 0; x < 400; ++x) stripes.setPixelColor(x, y, (x / 5) % 2 ? QColor(20, 40, 200) : QColor(250, 240, 30));
    QVERIFY(stripes.save(QString::fromStdString(file("stripes.png"))));
    window_->addFiles({QString::fromStdString(file("stripes.png"))});
    QCOMPARE(static_cast<int>(session_->list.size()), 1);
    const QImage thumb = pv::ui::toQImage(*session_->list[0].thumbnail);
    QCOMPARE(thumb.width(), qRound(76 * ratio));
    QVERIFY(qAbs(thumb.height() - 57 * ratio) <= 1);

    const QModelIndex row = window_->imageModel()->index(0);
    QStyleOptionViewItem option;
    option.initFrom(window_->imageView());
    option.font = window_->imageView()->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.rect = QRect(QPoint(0, 0), window_->imageView()->itemDelegate()->sizeHint(option, row));
    option.rect.setWidth(300);
    QImage canvas((QSizeF(option.rect.size()) * ratio).toSize(), QImage::Format_RGB32);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::white);
    {
      QPainter painter(&canvas);
      window_->imageView()->itemDelegate()->paint(&painter, option, row);
    }
    // The box's corner in device pixels: 5 from the left, centred in height.
    const QPoint corner(qRound(5 * ratio), qRound((option.rect.height() - 57) / 2.0 * ratio));
    int differing = 0;
    for (int y = 2; y < thumb.height() - 2; ++y)
      for (int x = 2; x < thumb.width() - 2; ++x) {
        const QColor want = thumb.pixelColor(x, y), got = canvas.pixelColor(corner + QPoint(x, y));
        if (qAbs(want.red() - got.red()) + qAbs(want.blue() - got.blue()) > 24) ++differing;
      }
    QVERIFY2(differing <= thumb.width() * thumb.height() / 50, qPrintable(QString::number(differing)));
  }

  // The build makes a translation template of every text the window shows
  // (its own, and the filter and file-type tables'); a translation made
  // from it is what the window then shows, in the same contexts.
  void aTranslationMadeFromTheTemplateIsShown_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translated");
    QTest::newRow("a menu entry from the command table") << "&amp;Quit" << "&amp;Beenden";
    QTest::newRow("a list's header") << "Filters Applied" << "Angewandte Filter";
    QTest::newRow("a filter's name") << "Sharpen" << "Schärfen";
    QTest::newRow("a file type") << "All images" << "Alle Bilder";
    QTest::newRow("a format's description") << "Portable Network Graphics" << "Portable Netzwerkgrafik";
    QTest::newRow("a format option") << "Highest Quality" << "Höchste Qualität";
    QTest::newRow("a message of app/") << "Please enter an output folder." << "Bitte einen Ausgabeordner angeben.";
  }
  void aTranslationMadeFromTheTemplateIsShown() {
#if !defined(PV_TRANSLATION_TEMPLATE) || !defined(PV_LRELEASE)
    QFAIL("no translation template was built: lupdate and lrelease are missing (run scripts/bootstrap)");
#else
    QFETCH(QString, source);
    QFETCH(QString, translated);
    QFile in(PV_TRANSLATION_TEMPLATE);
    QVERIFY2(in.open(QIODevice::ReadOnly), PV_TRANSLATION_TEMPLATE);
    QString ts = QString::fromUtf8(in.readAll());
    QVERIFY(ts.count("<message>") > 300);
    const QString empty = "<source>" + source + "</source>\n        <translation type=\"unfinished\"></translation>";
    QVERIFY2(ts.contains(empty), qPrintable(source));
    ts.replace(empty, "<source>" + source + "</source>\n        <translation>" + translated + "</translation>");
    const QString tsPath = QString::fromStdString(file("de.ts")), qmPath = QString::fromStdString(file("de.qm"));
    QFile out(tsPath);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(ts.toUtf8());
    out.close();
    QProcess lrelease;
    lrelease.start(PV_LRELEASE, {"-silent", tsPath, "-qm", qmPath});
    QVERIFY(lrelease.waitForFinished(60000) && lrelease.exitCode() == 0);
    QTranslator translator;
    QVERIFY(translator.load(qmPath));
    QCoreApplication::installTranslator(&translator);
    const QString shown = QString(translated).replace("&amp;", "&");
    QStringList seen;
    {
      MainWindow window(*session_, *prompter_, *launcher_);
      for (QAction* a : window.actions()) seen << a->text();
      seen << window.filterList()->headerItem()->text(0);
      for (const QString& f : pv::ui::nameFilters(pv::app::openDialogFilters())) seen << f.section(" (", 0, 0);
      pv::ui::AddFilterDialog chooser(*prompter_, "Pictoravine Image Converter");
      for (int i = 0; i < chooser.list()->count(); ++i) seen << chooser.list()->item(i)->text(0);
      for (int i = 0; i < window.formatList()->topLevelItemCount(); ++i)
        seen << window.formatList()->topLevelItem(i)->text(1);
      pv::ui::FormatOptionsDialog options(*session_->format, *prompter_, "Pictoravine Image Converter", "");
      for (QLabel* label : options.findChildren<QLabel*>()) seen << label->text();
      // A message box's text, as the window's prompter shows it.
      seen << QCoreApplication::translate("Messages", pv::app::kNoOutputFolderText);
    }
    QCoreApplication::removeTranslator(&translator);
    QVERIFY2(seen.contains(shown), qPrintable(seen.join('|').left(400)));
#endif
  }

  // Every button beside the lists has an icon of our own for desktops
  // without an icon theme: drawn from SVG at the screen's pixel ratio (no
  // enlarged bitmap), and reading on a light and a dark window (WCAG's 3:1
  // for graphics, measured on the icon's average stroke colour).
  void ownIconsAreSharpAndReadOnBothThemes_data() {
    QTest::addColumn<int>("command");
    for (int c = 0; c < MainWindow::kCommandCount; ++c) {
      const pv::ui::CommandRow& row = pv::ui::commandRow(static_cast<MainWindow::Command>(c));
      if (*row.ownIcon) QTest::newRow(QString(row.text).remove('&').toUtf8().constData()) << c;
    }
    for (int c : pv::ui::kImageButtons) QVERIFY(*pv::ui::commandRow(static_cast<MainWindow::Command>(c)).ownIcon);
    for (int c : pv::ui::kFilterButtons) QVERIFY(*pv::ui::commandRow(static_cast<MainWindow::Command>(c)).ownIcon);
  }
  void ownIconsAreSharpAndReadOnBothThemes() {
    QFETCH(int, command);
    const pv::ui::CommandRow& row = pv::ui::commandRow(static_cast<MainWindow::Command>(command));
    const QIcon icon(QString(":/pictoravine/icons/actions/%1.svg").arg(row.ownIcon));
    const QPixmap sharp = icon.pixmap(QSize(22, 22), 2.0);
    QCOMPARE(sharp.size(), QSize(44, 44));
    const QImage pixels = sharp.toImage();
    double r = 0, g = 0, b = 0, weight = 0;
    for (int y = 0; y < pixels.height(); ++y)
      for (int x = 0; x < pixels.width(); ++x) {
        const QColor c = pixels.pixelColor(x, y);
        r += c.redF() * c.alphaF(), g += c.greenF() * c.alphaF(), b += c.blueF() * c.alphaF(), weight += c.alphaF();
      }
    QVERIFY(weight > 44 * 44 / 40);  // strokes, not a blank
    const QColor stroke = QColor::fromRgbF(float(r / weight), float(g / weight), float(b / weight));
    for (const QPalette& palette : {QPalette(QColor(239, 239, 239)), darkPalette()}) {
      const double ratio = contrastRatio(stroke, palette.color(QPalette::Window));
      QVERIFY2(ratio >= 3.0, qPrintable(QString("%1 on %2: %3").arg(stroke.name(), palette.color(QPalette::Window).name()).arg(ratio)));
    }
  }

  // Rows follow the font: a larger one makes taller rows, so that the four
  // lines of an image row and the three of a filter row are never cut.
  void rowsFollowTheFont() {
    addPictures(1, "big", 120, 90);
    pv::ui::AddFilterDialog dialog(*prompter_, "Pictoravine Image Converter");
    const int imageRow = window_->imageView()->sizeHintForRow(0), filterRow = dialog.list()->sizeHintForRow(0);
    QFont big = window_->imageView()->font();
    big.setPointSizeF(big.pointSizeF() * 2);
    window_->imageView()->setFont(big);
    dialog.list()->setFont(big);
    QVERIFY(window_->imageView()->sizeHintForRow(0) >= 4 * QFontMetrics(big).height());
    QVERIFY(window_->imageView()->sizeHintForRow(0) > imageRow);
    QVERIFY(dialog.list()->sizeHintForRow(0) >= 3 * QFontMetrics(big).height());
    QVERIFY(dialog.list()->sizeHintForRow(0) > filterRow);
  }

  // The main window and the tall dialogs open within the screen (here the
  // offscreen screen's 800 x 800; the dialogs with a font twice the size, as
  // a scale factor of 2 on a small screen gives), their buttons in reach: a
  // dialog taller than the room scrolls inside instead.
  void windowsAndDialogsOpenWithinTheScreen_data() {
    QTest::addColumn<QString>("which");
    QTest::newRow("main window") << "main";
    QTest::newRow("options sheet") << "options";
    QTest::newRow("format options with a sample") << "format";
  }
  void windowsAndDialogsOpenWithinTheScreen() {
    QFETCH(QString, which);
    addPictures(1, "fit", 300, 200);
    const QFont font = QApplication::font();
    struct Restore {
      QFont font;
      ~Restore() { QApplication::setFont(font); }
    } restore{font};
    if (which != "main") {
      QFont big = font;
      big.setPointSizeF(font.pointSizeF() * 2);
      QApplication::setFont(big);
    }
    window_->imageView()->setCurrentIndex(window_->imageModel()->index(0));
    std::unique_ptr<pv::formats::Format> format;  // outlives the dialog that edits it
    std::unique_ptr<QWidget> shown;
    QWidget* button = nullptr;
    if (which == "main") {
      window_->show();
      button = window_->goButton();
    } else if (which == "options") {
      auto sheet = std::make_unique<pv::ui::OptionsSheet>(session_->settings, *prompter_, nullptr);
      button = sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      shown = std::move(sheet);
    } else {
      format = pv::formats::createFormat("AVIF", session_->settings.configPath);
      auto dialog = std::make_unique<pv::ui::FormatOptionsDialog>(*format, *prompter_, "Pictoravine Image Converter",
                                                                  file("fit0.png"));
      button = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      shown = std::move(dialog);
    }
    QWidget* top = shown ? shown.get() : window_.get();
    top->show();
    QVERIFY(QTest::qWaitForWindowExposed(top));
    const QRect room = top->screen()->availableGeometry();
    QVERIFY2(top->width() <= room.width() && top->height() <= room.height(),
             qPrintable(QString("%1x%2 in %3x%4").arg(top->width()).arg(top->height()).arg(room.width()).arg(room.height())));
    const QRect reach(button->mapTo(top, QPoint(0, 0)), button->size());
    QVERIFY2(top->rect().contains(reach) && button->isVisible(), qPrintable(which));
  }

  // The chain of the window is there again when the window opens next time,
  // unless a command line brought filters of its own; a window made for a
  // command line's run never takes it.
  void theChainIsRememberedBetweenSessions_data() {
    QTest::addColumn<QString>("given");  // the chain the next start brings
    QTest::addColumn<QStringList>("after");
    const QStringList kept{"/filter flip", "/filter grayscale 299 587 114"};
    QTest::newRow("a plain start") << "" << kept;
    QTest::newRow("a command line's filters") << "/filter invert" << QStringList{"/filter invert"};
  }
  void theChainIsRememberedBetweenSessions() {
    QFETCH(QString, given);
    QFETCH(QStringList, after);
    session_->chain.appendFromText("/filter flip");
    session_->chain.appendFromText("/filter grayscale 299 587 114");
    window_->close();
    pv::app::Session next(pv::app::loadSettings(), *prompter_);
    if (!given.isEmpty()) next.chain.appendFromText(given.toStdString());
    MainWindow again(next, *prompter_, *launcher_);
    QCOMPARE(next.chain.size(), given.isEmpty() ? 0u : 1u);  // not by itself
    again.restoreLastChain();
    QStringList texts;
    for (const std::string& t : next.chain.texts()) texts << QString::fromStdString(t);
    QCOMPARE(texts, after);
    QCOMPARE(again.filterList()->count(), static_cast<int>(after.size()));
  }

  // The open dialog starts in the folder images were last taken from, else
  // in the Pictures folder; taking images from a folder makes it the last.
  void theOpenDialogStartsWhereImagesWereTaken_data() {
    QTest::addColumn<bool>("remembered");
    QTest::newRow("first time: Pictures") << false;
    QTest::newRow("the last folder") << true;
  }
  void theOpenDialogStartsWhereImagesWereTaken() {
    QFETCH(bool, remembered);
    pv::test::TempDir home;
    fs::create_directories(home.file("Pictures"));
    fs::create_directories(home.file("trip"));
    writePicture(home.file("trip/a.png"), 20, 10);
    pv::test::EnvGuard homeVar("HOME", home.str());
    pv::test::EnvGuard config("XDG_CONFIG_HOME", home.file(".config"));
    session_->settings.LastImageFolder = remembered ? home.file("trip") : "";
    QString started;
    window_->onFileDialog = [&](QFileDialog& d) {
      started = d.directory().absolutePath();
      d.selectFile(QString::fromStdString(home.file("trip/a.png")));
      static_cast<QDialog&>(d).accept();
    };
    window_->action(MainWindow::kAddImages)->trigger();
    window_->onFileDialog = nullptr;
    QCOMPARE(started, QString::fromStdString(remembered ? home.file("trip") : home.file("Pictures")));
    QCOMPARE(session_->settings.LastImageFolder, home.file("trip"));
    QCOMPARE(static_cast<int>(session_->list.size()), 1);
  }

  // Every quality slider runs JPEG's way: the best quality on the left, the
  // number in the format's own terms.
  void qualitySlidersRunOneWay_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("inverted");
    QTest::newRow("JPG") << "JPG" << false;
    QTest::newRow("WEBP") << "WEBP" << true;
    QTest::newRow("AVIF") << "AVIF" << true;
    QTest::newRow("JXL") << "JXL" << true;
  }
  void qualitySlidersRunOneWay() {
    QFETCH(QString, key);
    QFETCH(bool, inverted);
    auto format = pv::formats::createFormat(key.toStdString(), session_->settings.configPath);
    pv::ui::FormatOptionsDialog dialog(*format, *prompter_, "Pictoravine Image Converter");
    auto* slider = dialog.findChild<QSlider*>();
    QVERIFY(slider);
    QCOMPARE(slider->invertedAppearance(), inverted);
    QStringList labels;
    for (QLabel* l : dialog.findChildren<QLabel*>())
      if (l->text().startsWith("Highest")) labels << l->text();
    QCOMPARE(labels, (QStringList{"Highest Quality", "Highest Compression"}));
  }

  // Checking "delete" or "overwrite" on the file page cautions with a
  // warning (not an error); clearing them says nothing.
  void theFilePageCautionsWithAWarning_data() {
    QTest::addColumn<bool>("overwrite");
    QTest::newRow("delete the sources") << false;
    QTest::newRow("overwrite the originals") << true;
  }
  void theFilePageCautionsWithAWarning() {
    QFETCH(bool, overwrite);
    pv::ui::OptionsSheet sheet(session_->settings, *prompter_, nullptr, pv::ui::OptionsSheet::kFile);
    QCheckBox* box = overwrite ? sheet.file.overwrite : sheet.file.deleteSource;
    box->click();
    QCOMPARE(prompter_->kinds, QList<pv::ui::QtPrompter::Kind>{pv::ui::QtPrompter::Kind::kWarning});
    QVERIFY(prompter_->shown.last().contains(overwrite ? "overwritten." : "deleted."));
    box->click();
    QCOMPARE(prompter_->kinds.size(), 1);
  }

  // A profile name dialog is wide enough for its whole title.
  void profileDialogsShowTheirWholeTitle() {
    std::unique_ptr<pv::ui::ProfileNameDialog> dialog(pv::ui::makeSaveProfileDialog(*session_, window_.get()));
    QCOMPARE(dialog->windowTitle(), QString("Save Filter Profile"));
    QVERIFY(dialog->minimumWidth() >= QFontMetrics(dialog->font()).horizontalAdvance(dialog->windowTitle()) + 160);
  }

  void theMenusSayWhatTheyOpen() {
    QStringList hints;
    for (QAction* a : window_->menuBar()->actions()) hints << a->statusTip();
    QCOMPARE(hints, (QStringList{"Opens the File menu.", "Opens the Options menu.", "Opens the Help menu."}));
  }

  // The program's questions carry the information icon, No the default.
  void questionsCarryTheInformationIcon() {
    pv::ui::QtPrompter prompter;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString defaultButton;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      icon = box->icon();
      defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
      box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(prompter.askYesNo("Pictoravine Image Converter", "Are you sure you want to clear the current image list?"));
    QCOMPARE(icon, QMessageBox::Information);
    QCOMPARE(defaultButton.remove('&'), QString("No"));
  }

  void theLogDialogSavesOrSaysWhyNot() {
    pv::ui::LogDialog log("Error: a.png could not be converted.\r\n", *prompter_,
                          "Pictoravine Image Converter");
    QCOMPARE(log.windowTitle(), QString("Pictoravine Log"));
    QVERIFY(log.saveTo(QString::fromStdString(file("log.txt"))));
    QCOMPARE(pv::test::readFile(file("log.txt")), std::string("Error: a.png could not be converted.\n"));
    QVERIFY(!log.saveTo(QString::fromStdString(file("no/such/folder/log.txt"))));
    QCOMPARE(prompter_->shown.last(), QString("Pictoravine Image Converter|") + pv::ui::kSaveFailedText);
  }

  void portsCalledFromAWorkerAreAnsweredOnTheWindowThread() {
    prompter_->answer = true;
    bool answer = false;
    std::thread worker([&] { answer = prompter_->askYesNo("caption", "question?"); });
    // The worker waits until the window's thread has answered.
    QTRY_VERIFY(!prompter_->shown.isEmpty());
    worker.join();
    QVERIFY(answer);
    QVERIFY(!prompter_->offWindowThread);

    pv::ui::QtClipboard clipboard;
    pv::engine::Image picture;
    picture.pixels = cv::Mat(4, 6, CV_8UC3, cv::Scalar(10, 20, 30));
    bool put = false;
    std::thread copier([&] { put = clipboard.putImage(picture); });
    QTRY_VERIFY(put);
    copier.join();
    pv::engine::Image back;
    QCOMPARE(clipboard.getImage(back), pv::app::Clipboard::Paste::kImage);
    QCOMPARE(back.width(), 6);
    QCOMPARE(back.pixels.at<cv::Vec3b>(0, 0)[2], uchar(30));
  }

  // The real program, started as the file manager starts it, with a display.
  void aShellStartedConversionEndsWithTheCommandLineExitCode_data() {
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<int>("showMessages");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("every image converted") << false << 1 << 0;
    QTest::newRow("one image failed") << true << 0 << 1;
  }
  void aShellStartedConversionEndsWithTheCommandLineExitCode() {
    QFETCH(bool, damaged);
    QFETCH(int, showMessages);
    QFETCH(int, exitCode);
    writePicture(file("a.png"), 30, 20);
    writePicture(file("b.png"), 30, 20);
    if (damaged) pv::test::writeFile(file("b.png"), "\x89PNG\r\n\x1a\n cut short");
    std::ofstream(data_->file("config.ini"))
        << "[Global]\nAskWhereSave=0\nShowMessages=" << showMessages << "\n";
    std::ofstream(data_->file("handoff.txt")) << file("a.png") << "\n" << file("b.png") << "\n";
    const auto r = pv::test::runProcess(
        "/usr/bin/timeout",
        {"120", PV_EXECUTABLE, "/shell", "/convert", "JPG", "/list", data_->file("handoff.txt")},
        {"DISPLAY=:pictoravine-test", "QT_QPA_PLATFORM=offscreen"});
    QVERIFY2(r.exitCode == exitCode, (std::to_string(r.exitCode) + " " + r.err).c_str());
    QVERIFY(fs::exists(file("a.jpg")));
    QCOMPARE(fs::exists(file("b.jpg")), !damaged);
  }

  void longNamesKeepTheirExtension_data() {
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("width");
    QTest::newRow("fits") << "short"
                          << "png" << 400;
    QTest::newRow("too long") << "a very long holiday photo name from the beach"
                              << "jpeg" << 120;
    QTest::newRow("no room at all") << "name"
                                    << "tiff" << 1;
  }
  void longNamesKeepTheirExtension() {
    QFETCH(QString, base);
    QFETCH(QString, extension);
    QFETCH(int, width);
    const QFontMetrics metrics(QApplication::font());
    const QString shown = pv::ui::fittedFileName(base, extension, width, metrics);
    QVERIFY2(shown.endsWith("." + extension), qPrintable(shown));
    if (metrics.horizontalAdvance(base + "." + extension) <= width) {
      QCOMPARE(shown, base + "." + extension);
    } else {
      QVERIFY2(shown.contains(".."), qPrintable(shown));
      QVERIFY(base.startsWith(shown.left(shown.indexOf(".."))));
      QVERIFY(metrics.horizontalAdvance(shown) <= width || shown == ".." + QString(".") + extension);
    }
    // A folder loses characters at its end, then "..." and a '/' follow
    // (none after a kept '/').
    const QString full = "/home/someone/Pictures/2026/holidays/";
    const QString folder = pv::ui::fittedFolder(full, width, metrics);
    if (metrics.horizontalAdvance(full) <= width) {
      QCOMPARE(folder, full);
    } else {
      const QString kept = folder.left(folder.indexOf("..."));
      QVERIFY(full.startsWith(kept));
      QCOMPARE(folder, kept + (kept.endsWith('/') ? "..." : ".../"));
    }
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
