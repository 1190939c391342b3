#pragma once
// The desktop clipboard. On X11 and Wayland a copy belongs to the program
// that offers it and vanishes when that program ends, so a copy is handed to
// a small detached process of ours (this executable started with
// kServeSwitch) that offers the image until another program takes the
// clipboard, or hands it to a clipboard manager where one runs. Where the
// only display is Wayland's, that process gives the image to wl-copy (of
// wl-clipboard), which serves it the same way. A paste reads the clipboard
// in this process when it has a window, otherwise in a short-lived process
// of ours (kReadSwitch): the console never opens a display connection
// itself, so a display that cannot be opened is a message, not an abort.

#include <string>

#include "app/ports.h"

namespace pv::ui {

class QtClipboard final : public app::Clipboard {
 public:
  // `program`: the executable that serves and reads the clipboard (this
  // program by default).
  explicit QtClipboard(std::string program = {});
  bool putImage(const engine::Image& image) override;
  Paste getImage(engine::Image& image) override;

 private:
  std::string program_;
};

// The helper's command lines: `pictoravine --serve-clipboard FILE` offers the
// image of FILE (removed once the clipboard is ours) and
// `pictoravine --read-clipboard FILE` writes the clipboard's image to FILE.
inline constexpr const char* kServeSwitch = "--serve-clipboard";
inline constexpr const char* kReadSwitch = "--read-clipboard";

// Runs the helper when argv asks for it (sets `exitCode` and returns true).
bool runClipboardHelper(int& argc, char** argv, int& exitCode);

}  // namespace pv::ui
