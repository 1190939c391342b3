#pragma once
// Ports: how the application reaches people and the desktop. The window
// implements them with Qt, the console front end with stderr, tests with fakes.

#include <string>

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

// The filters' option dialog sets and the program's own resize, crop and dpi
// dialogs; declared with the filters, which drive them.
using OptionDialogSet = filters::OptionDialogSet;
using FilterDialogs = filters::FilterDialogs;

}  // namespace pv::app
