#pragma once
// Everything the program holds for its lifetime: the settings, the current
// output format, the filter chain, the image list, the two imaging controls,
// the running flag and the progress of the job in work. The window, the
// console front end and the tests each make one, and it belongs to the thread
// that made it.
//
// A job works on a snapshot: a Session made from the owner's when the job
// starts, with copies of the settings, the format and its options, the filter
// chain and the image list. It borrows the owner's two imaging controls (the
// owner leaves them to the job while it runs) and shares the owner's running
// flag, interrupt flag and progress, which are safe from any thread. The
// owner takes the job's results back when the job has ended (JobRunner::wait).

#include <atomic>
#include <memory>

#include "app/image_entry.h"
#include "app/job.h"
#include "app/log.h"
#include "app/ports.h"
#include "app/progress.h"
#include "app/settings.h"
#include "engine/lead.h"
#include "filters/chain.h"
#include "formats/format.h"

namespace pv::app {

struct DeferredListing;

class Session {
 public:
  // `primary` replaces the primary control (tests pass recording doubles).
  Session(Settings settings, Prompter& prompter, std::unique_ptr<engine::CLead> primary = nullptr);
  // The snapshot a job works on; with `ownControls`, it has imaging controls
  // of its own (the further workers of a parallel run) instead of the owner's.
  struct Snapshot {};
  Session(Session& owner, Snapshot, bool ownControls = false);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Settings settings;
  // The log and error summary the current run has written so far.
  RunTexts texts;
  std::unique_ptr<formats::Format> format;  // never null after construction

 private:
  std::unique_ptr<engine::CLead> primaryOwned_, secondaryOwned_;
  std::atomic<bool> runningOwned_{false}, interruptedOwned_{false};
  JobProgress progressOwned_;

 public:
  engine::CLead& primary;
  engine::CLead& secondary;
  filters::FilterContext filterContext;
  filters::FilterChain chain{filterContext};
  ImageList list;
  // True while a job or a command-line parse is under way; an abort clears
  // it, and every job stops before its next image or candidate.
  std::atomic<bool>& running;
  // Set by an interrupt (Ctrl+C): every job stops before its next image or
  // candidate.
  std::atomic<bool>& interrupted;
  JobProgress& progress;
  // Ports may be called from the worker thread (app/ports.h).
  Prompter& prompter;
  // Who watches the job this session runs; null for none.
  JobObserver* observer = nullptr;
  // The desktop clipboard; null without a display.
  Clipboard* clipboard() const { return clipboard_; }
  void setClipboard(Clipboard* clipboard);
  // A command-line run's candidates, listed by the run itself (null: the
  // list is built before the run, as the window builds it).
  std::shared_ptr<DeferredListing> deferred;
  // The list entry a run is working on (its recorded size is what resize and
  // crop filters measure against); -1 outside a run.
  int currentEntry = -1;

 private:
  void wireFilters();
  Clipboard* clipboard_ = nullptr;
};

}  // namespace pv::app
