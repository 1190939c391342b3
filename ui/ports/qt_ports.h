#pragma once
// The application's ports on Qt: message boxes and the desktop's
// applications (the clipboard is in clipboard.h). Each may be called from any thread: a call from a
// job's worker is handed to the window's thread, which answers it while the
// worker waits (a blocking queued call).

#include <QImage>
#include <functional>
#include <string_view>

#include "app/ports.h"

namespace pv::ui {

// Runs `work` on the application's (window's) thread and returns when it has
// run; at once when already there.
void onWindowThread(const std::function<void()>& work);

// 32-bit B G R A (or grey, or B G R) pixels of the engine as a QImage that
// owns a copy of them.
QImage toQImage(const engine::Image& image);
// A QImage over the engine image's own B G R A pixels, without a copy: valid
// only while `image` lives unchanged (drawing a list row). Other layouts are copied.
QImage viewOf(const engine::Image& image);
// The other way: any QImage as the engine's B G R A or B G R image.
engine::Image fromQImage(const QImage& image);

// A text of a table outside ui/ (a filter's name, a file type, a format's
// description or option) in the user's language: translated in `context`
// ("Filters", "FileTypes", "Formats", "FormatOptions"), the contexts the
// translation template marks them in.
QString tableText(const char* context, std::string_view text);

class QtPrompter : public app::Prompter {
 public:
  enum class Kind { kError, kInformation, kQuestion, kWarning };
  void error(const std::string& caption, const std::string& text) override;
  void information(const std::string& caption, const std::string& text) override;
  void warning(const std::string& caption, const std::string& text) override;
  bool askYesNo(const std::string& caption, const std::string& text) override;

 protected:
  // Shows the message on the window's thread; true for Yes. Tests answer here.
  virtual bool present(Kind kind, const QString& caption, const QString& text);

 private:
  bool ask(Kind kind, const std::string& caption, const std::string& text);
};

class QtLauncher final : public app::Launcher {
 public:
  bool open(const std::string& pathOrUrl) override;
  bool start(const std::string& program, const std::vector<std::string>& args) override;
};

}  // namespace pv::ui
