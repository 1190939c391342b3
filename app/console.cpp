#include "app/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <sstream>
#include <string_view>
#include <thread>

#include "app/command_line.h"
#include "app/heap.h"
#include "app/image_list.h"
#include "app/job_runner.h"
#include "app/report.h"
#include "app/session.h"
#include "core/extensions.h"
#include "core/format_registry.h"
#include "core/text.h"
#include "engine/capabilities.h"
#include "engine/libraries.h"
#include "pv_version.h"

namespace pv::app {

namespace {

// A switch given as "/name" or "--name", matched case-insensitively.
bool isSwitch(const std::string& arg, std::string_view name) {
  std::string_view body(arg);
  if (body.starts_with("--"))
    body.remove_prefix(2);
  else if (body.starts_with("/"))
    body.remove_prefix(1);
  else
    return false;
  return pv::iequals(body, name);
}

std::atomic<bool>* gInterrupt = nullptr;
volatile std::sig_atomic_t gSignal = 0;

// Ctrl+C and a request to terminate (SIGTERM, as a system shutting down or
// a batch system sends) stop the run after the images in work; a second one
// ends the program at once.
extern "C" void onInterrupt(int signal) {
  gSignal = signal;
  if (gInterrupt) gInterrupt->store(true);
  std::signal(signal, SIG_DFL);
}

// The exit code of a run stopped by a signal: 130 after Ctrl+C, 143 after
// SIGTERM, as a shell reports a program that the signal ended.
int stoppedCode() {
  return gSignal == SIGTERM ? 143 : 130;
}

// Progress of a conversion on stderr, from the job's reports: a redrawn bar
// on a terminal, at most a line a second otherwise. Called on the worker
// thread, while the main thread only waits for the job.
class ConsoleProgress final : public JobObserver {
 public:
  ConsoleProgress(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}

  void started(int, int) override { start_ = Clock::now(); }

  void progress(int current, int total, int percent, const std::string& name) override {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const std::string eta =
        current > 0 ? clockText(elapsed * (total - current) / current) : std::string("--:--");
    if (terminal_) {
      std::ostringstream line;
      const int filled = percent * 20 / 100;
      line << "\r[" << std::string(static_cast<std::size_t>(filled), '#')
           << std::string(static_cast<std::size_t>(20 - filled), ' ') << "] " << percent << "%  "
           << std::min(current + 1, total) << " / " << total << "  " << name << "  " << clockText(elapsed)
           << " elapsed, " << eta << " left";
      std::string text = line.str();
      const std::size_t shown = text.size();
      if (shown < width_) text += std::string(width_ - shown, ' ');
      width_ = shown;
      err_ << text << std::flush;
    } else if (Clock::now() - lastLine_ >= std::chrono::seconds(1)) {
      err_ << "[" << percent << "%] " << std::min(current + 1, total) << " / " << total << " " << name
           << "\n";
      lastLine_ = Clock::now();
    }
  }

  void finished(const JobSummary&) override {
    if (terminal_ && width_) err_ << "\r" << std::string(width_, ' ') << "\r" << std::flush;
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  bool terminal_;
  Clock::time_point start_ = Clock::now(), lastLine_ = Clock::now() - std::chrono::seconds(10);
  std::size_t width_ = 0;
};

}  // namespace

std::string versionText() {
  return std::string("Pictoravine ") + PV_VERSION_TEXT;
}

std::string formatsText() {
  std::ostringstream out;
  int whole = 0, partly = 0;
  std::ostringstream methods;
  for (int i = 0; i < kFormatCount; ++i) {
    const FormatRow& row = formatRegistry()[static_cast<std::size_t>(i)];
    int written = 0;
    for (const auto& m : row.methods) {
      const engine::WriterInfo w = engine::writerOf(m.code);
      if (!w.writer.empty()) ++written;
      char line[200];
      std::snprintf(
          line, sizeof line, "  %-5s %-55s %4d  %s\n", std::string(row.key).c_str(),
          m.name.empty() ? "-" : std::string(m.name).c_str(), m.code,
          w.writer.empty() ? ("no: " + std::string(w.note)).c_str() : std::string(w.writer).c_str());
      methods << line;
    }
    if (written == static_cast<int>(row.methods.size()))
      ++whole;
    else if (written > 0)
      ++partly;
  }
  out << "Output formats: " << whole << " of " << kFormatCount << " written with every method, " << partly
      << " with some.\n\nFormat, method, file format code, writer:\n"
      << methods.str() << "\nInput extensions and their readers:\n";
  for (const ExtensionRow& row : kAcceptedExtensions) {
    const std::string_view ext = row.extension, reader = engine::readerOf(ext.substr(1));
    out << "  " << ext << "  " << (reader.empty() ? std::string_view("no reader") : reader) << "\n";
  }
  return out.str();
}

void ConsolePrompter::error(const std::string& caption, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (show_) err_ << caption << ": " << text << "\n";
}
void ConsolePrompter::information(const std::string& caption, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (show_) err_ << caption << ": " << text << "\n";
}
bool ConsolePrompter::askYesNo(const std::string& caption, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (show_) err_ << caption << ": " << text << " (answered No)\n";
  return false;
}

bool wantsConsole(const std::vector<std::string>& args) {
  if (args.size() == 1 &&
      (isSwitch(args[0], "version") || isSwitch(args[0], "formats") || isSwitch(args[0], "libraries")))
    return true;
  bool onlyHelp = !args.empty();
  for (const std::string& a : args) {
    if (isSwitch(a, "console")) return true;
    onlyHelp = onlyHelp && (isSwitch(a, "help") || isSwitch(a, "?"));
  }
  return onlyHelp;
}

int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               Clipboard* clipboard) {
  if (args.size() == 1 && isSwitch(args[0], "version")) {
    out << versionText() << "\n";
    return 0;
  }
  if (args.size() == 1 && isSwitch(args[0], "formats")) {
    out << formatsText();
    return 0;
  }
  if (args.size() == 1 && isSwitch(args[0], "libraries")) {
    for (const auto& lib : pv::engine::libraryVersions()) out << lib.name << " " << lib.version << "\n";
    return 0;
  }
  // "--console" only keeps a run in the terminal when a display is there;
  // it is no switch of the command line itself.
  std::vector<std::string> rest;
  for (const std::string& a : args)
    if (!isSwitch(a, "console")) rest.push_back(a);
  std::vector<std::string> unknown;
  const std::vector<std::string> tokens = splitSwitchTokens(rest, &unknown);
  for (const std::string& u : unknown) err << unknownSwitchText(u) << "\n";
  bool onlyHelp = !tokens.empty();
  for (const std::string& t : tokens) onlyHelp = onlyHelp && (iequals(t, "help") || t == "?");
  if (onlyHelp) {
    out << kHelpText << "\n\n" << usageText();
    return 0;
  }

  const HeapKeptForRun heap;  // listing and converting alike
  ConsolePrompter prompter(err);
  Session session(loadSettings(), prompter);
  session.setClipboard(clipboard);
  session.settings.commandLineMode = true;
  // The run lists the images itself, each decoded once for its listing and
  // its conversion; PICTORAVINE_LIST_FIRST=1 lists every image before any
  // is converted instead (slower; the log, summary and outputs are the same).
  if (const char* first = std::getenv("PICTORAVINE_LIST_FIRST"); !first || std::string_view(first) != "1")
    session.deferred = std::make_shared<DeferredListing>();
  std::atomic<bool>* previous = gInterrupt;
  gInterrupt = &session.interrupted;
  struct sigaction action {
  }, old{};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  struct sigaction oldTerm {};
  gSignal = 0;
  sigaction(SIGINT, &action, &old);
  sigaction(SIGTERM, &action, &oldTerm);
  struct Restore {
    struct sigaction &old, &oldTerm;
    std::atomic<bool>* previous;
    ~Restore() {
      sigaction(SIGINT, &old, nullptr);
      sigaction(SIGTERM, &oldTerm, nullptr);
      gInterrupt = previous;
    }
  } restore{old, oldTerm, previous};

  // The report keeps what the parse finds (images that cannot be opened)
  // until the command line has said where the report goes.
  ReportWriter report;
  session.observer = &report;
  const ParseOutcome parsed = parseCommandLine(session, tokens);
  session.observer = nullptr;
  Settings& set = session.settings;
  const bool show = set.ShowMessages;
  auto printSummary = [&] {
    if (show && !session.texts.errorSummary.empty()) err << pv::withLineFeeds(session.texts.errorSummary);
  };
  if (!parsed.proceed) return 2;
  if (const std::string problem = openCommandLineReport(report, set); !problem.empty()) {
    err << problem << "\n";
    return 2;
  }
  if (set.shellOptionsFlag || set.openFlag) {
    err << versionText() << ": the window needs a display (DISPLAY or WAYLAND_DISPLAY), and --console keeps "
        << "everything in the terminal.\n";
    return 2;
  }
  if (session.interrupted) return stoppedCode();
  if (session.list.empty() && !(session.deferred && session.deferred->pending())) {
    printSummary();
    return 1;
  }
  JobRunner runner(session);
  ConsoleProgress progress(err, &err == &std::cerr && isatty(STDERR_FILENO));
  std::vector<JobObserver*> watchers{&report};
  if (show) watchers.push_back(&progress);
  ObserverFan fan(watchers);
  runner.start(kRunConvert, {}, &fan);
  runner.wait();
  printSummary();
  return session.interrupted ? stoppedCode() : commandLineExitCode(session, parsed);
}

}  // namespace pv::app
