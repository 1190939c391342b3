#pragma once
// The console front end: what the program does when it is started with
// arguments and no window is wanted or possible. Messages go to stderr with
// the caption; a running job shows its progress there.

#include <iosfwd>
#include <mutex>
#include <string>
#include <vector>

#include "app/ports.h"

namespace pv::app {

// "Pictoravine 4.949".
std::string versionText();

// What this build writes (every method of every format with its writer, or
// why not) and reads (every accepted extension); `pictoravine --formats`.
std::string formatsText();

// Messages as "caption: text" lines on a stream; questions are answered No,
// since nobody can be asked. Safe from any thread.
class ConsolePrompter : public Prompter {
 public:
  explicit ConsolePrompter(std::ostream& err, bool show = true) : err_(err), show_(show) {}
  void error(const std::string& caption, const std::string& text) override;
  void information(const std::string& caption, const std::string& text) override;
  bool askYesNo(const std::string& caption, const std::string& text) override;

 private:
  std::mutex mutex_;
  std::ostream& err_;
  bool show_;
};

// True when `args` ask for the terminal whatever the display: --version,
// --formats, --libraries, help, or --console.
bool wantsConsole(const std::vector<std::string>& args);

// Runs the command line `args` (without the program name) and returns the
// process exit code: 0 every image converted, 1 an image failed or a list
// could not be read, 2 the command line was rejected, 130 after Ctrl+C.
// Help and usage go to `out`, messages and progress to `err`. `clipboard`:
// the desktop's, when there is a display.
int runConsole(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               Clipboard* clipboard = nullptr);

}  // namespace pv::app
