#pragma once
// Everything the program holds for its lifetime: the settings, the current
// output format, the filter chain, the image list, the two imaging controls,
// the running flag and the progress of the job in work. The window, the
// console front end and the tests each make one.

#include <atomic>
#include <memory>

#include "app/image_entry.h"
#include "app/ports.h"
#include "app/progress.h"
#include "app/settings.h"
#include "engine/lead.h"
#include "filters/chain.h"
#include "formats/format.h"

namespace pv::app {

class Session {
 public:
  // `primary` replaces the primary control (tests pass recording doubles).
  Session(Settings settings, Prompter& prompter, std::unique_ptr<engine::CLead> primary = nullptr);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Settings settings;
  std::unique_ptr<formats::Format> format;  // never null after construction

 private:
  std::unique_ptr<engine::CLead> primaryOwned_, secondaryOwned_;

 public:
  engine::CLead& primary;
  engine::CLead& secondary;
  filters::FilterContext filterContext;
  filters::FilterChain chain{filterContext};
  ImageList list;
  // True while a job or a command-line parse is under way; an abort clears it.
  std::atomic<bool> running{false};
  // Set by an interrupt (Ctrl+C): every job stops before its next image or
  // candidate, whatever ShowMessages says.
  std::atomic<bool> interrupted{false};
  JobProgress progress;
  Prompter& prompter;
  // The desktop clipboard; null without a display.
  Clipboard* clipboard() const { return clipboard_; }
  void setClipboard(Clipboard* clipboard);
  // The list entry a run is working on (its recorded size is what resize and
  // crop filters measure against); -1 outside a run.
  int currentEntry = -1;

 private:
  Clipboard* clipboard_ = nullptr;
};

}  // namespace pv::app
