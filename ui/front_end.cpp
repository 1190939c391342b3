#include "ui/front_end.h"

#include <QApplication>
#include <QLocale>
#include <QTranslator>
#include <cstdlib>
#include <iostream>

#include "app/command_line.h"
#include "app/report.h"
#include "app/session.h"
#include "app/startup.h"
#include "core/paths.h"
#include "ui/dialogs/options_sheet.h"
#include "ui/dialogs/small_dialogs.h"
#include "ui/main/main_window.h"
#include "ui/ports/clipboard.h"
#include "ui/ports/qt_ports.h"

namespace pv::ui {

bool displayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

int runWindowed(int& argc, char** argv, const std::vector<std::string>& args) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Pictoravine");
  QApplication::setDesktopFileName("org.example.pictoravine.Pictoravine");
  // A translation of the window for the user's language, where one is
  // installed (translations/pictoravine_<language>.qm in a resource folder).
  QTranslator translator;
  for (const std::string& folder : resourceFolders())
    if (translator.load(QLocale(), "pictoravine", "_", QString::fromStdString(folder + "/translations"))) {
      QApplication::installTranslator(&translator);
      break;
    }
  QtPrompter prompter;
  QtClipboard clipboard;
  QtLauncher launcher;
  app::Session session(app::loadSettings(), prompter);
  session.setClipboard(&clipboard);

  if (args.empty()) {
    MainWindow window(session, prompter, launcher);
    window.restoreLastChain();
    window.show();
    return application.exec();
  }

  app::Settings& set = session.settings;
  set.commandLineMode = true;
  app::ReportWriter report;
  session.observer = &report;
  std::vector<std::string> unknown;
  const std::vector<std::string> tokens = app::splitSwitchTokens(args, &unknown);
  for (const std::string& u : unknown) std::cerr << app::unknownSwitchText(u) << "\n";
  const app::ParseOutcome parsed = app::parseCommandLine(session, tokens);
  session.observer = nullptr;
  session.running = false;
  if (!parsed.proceed) return 2;
  if (const std::string problem = app::openCommandLineReport(report, set); !problem.empty()) {
    prompter.error(set.caption, problem);
    return 2;
  }
  if (set.shellOptionsFlag) {
    // The file manager's "Customize Above Menu": the sheet on its last page;
    // the program ends when it closes.
    set.commandLineMode = false;
    OptionsSheet sheet(set, prompter, app::shellMenuSwitch(set, prompter),
                       OptionsSheet::kShell);
    sheet.onHelp = [&] { openManual(launcher, prompter, set, "files"); };
    sheet.exec();
    return 0;
  }
  MainWindow window(session, prompter, launcher);
  if (set.openFlag) {
    // The window opens as after a normal start, with the list filled.
    set.commandLineMode = false;
    window.restoreLastChain();
    window.show();
    return application.exec();
  }
  if (session.list.empty()) {
    if (set.ShowMessages && !session.texts.errorSummary.empty()) {
      LogDialog log(session.texts.errorSummary, prompter, set.caption);
      log.exec();
    }
    return 1;
  }
  window.startConversion(!set.shellFlag && !set.ShowMessages, &report);
  return app::commandLineExitCode(session, parsed);
}

}  // namespace pv::ui
