#pragma once
// Ports: how the application reaches people and the desktop. The window
// implements them with Qt, the console front end with stderr, tests with fakes.
//
// A port may be called from a job's worker thread, and must answer there:
// the console's implementations are thread-safe; the window's hand the call
// to the window's thread and wait for the answer (a blocking queued call),
// so a question asked during a run is a modal question like any other.

#include <string>
#include <vector>

#include "engine/image.h"
#include "engine/lead.h"
#include "filters/dialogs.h"

namespace pv::app {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message with the program's caption as its title.
  virtual void error(const std::string& caption, const std::string& text) = 0;
  virtual void information(const std::string& caption, const std::string& text) = 0;
  // A caution before something that cannot be undone; shown as an error
  // where a front end has no warning of its own.
  virtual void warning(const std::string& caption, const std::string& text) { error(caption, text); }
  // A Yes/No question; true for Yes.
  virtual bool askYesNo(const std::string& caption, const std::string& text) = 0;
};

// The desktop clipboard: the engine puts images on it (ClipboardTarget), the
// command line's cbpaste takes one from it.
class Clipboard : public engine::ClipboardTarget {
 public:
  // What a paste found: an image, a clipboard without one, no display at
  // all, a display named that cannot be opened, or a Wayland display
  // without the wl-clipboard tools that reach its clipboard.
  enum class Paste { kImage, kNoImage, kNoDisplay, kDisplayUnreachable, kNoTool };
  virtual Paste getImage(engine::Image& image) = 0;
};

// The settings editor of a filter (one call with the filter's descriptor) and
// the program's own resize, crop and dpi dialogs; declared with the filters,
// which drive them.
using FilterEditor = filters::FilterEditor;
using FilterDialogs = filters::FilterDialogs;

// The desktop's applications: documents, folders and web pages open in the
// user's preferred ones, and programs start without being waited for.
class Launcher {
 public:
  virtual ~Launcher() = default;
  // Opens a file, folder or URL; false when nothing could be started for it.
  virtual bool open(const std::string& pathOrUrl) = 0;
  // Starts a program (looked up on PATH when it holds no '/') with these
  // arguments; false when it could not be started.
  virtual bool start(const std::string& program, const std::vector<std::string>& args) = 0;
};

// The launcher without a window toolkit: `xdg-open` for documents, and the
// programs themselves, each started in a process of its own that is reaped
// when it ends. Safe from any thread.
class SpawnLauncher final : public Launcher {
 public:
  bool open(const std::string& pathOrUrl) override;
  bool start(const std::string& program, const std::vector<std::string>& args) override;
};

// Runs a program (looked up on PATH) and waits for it; true when it ran and
// exited with 0.
bool runToSuccess(const std::string& program, const std::vector<std::string>& args);

}  // namespace pv::app
