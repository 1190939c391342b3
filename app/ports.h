#pragma once
// Ports: how the application reaches people and the desktop. The window
// implements them with Qt, the console front end with stderr, tests with fakes.

#include <string>

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
  // A Yes/No question; true for Yes.
  virtual bool askYesNo(const std::string& caption, const std::string& text) = 0;
};

// The desktop clipboard: the engine puts images on it (ClipboardTarget), the
// command line's cbpaste takes one from it.
class Clipboard : public engine::ClipboardTarget {
 public:
  // False when there is no clipboard or no image on it.
  virtual bool getImage(engine::Image& image) = 0;
};

// The filters' option dialog sets and the program's own resize, crop and dpi
// dialogs; declared with the filters, which drive them.
using OptionDialogSet = filters::OptionDialogSet;
using FilterDialogs = filters::FilterDialogs;

}  // namespace pv::app
