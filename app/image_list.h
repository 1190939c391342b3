#pragma once
// Building the image list: the gate every candidate passes (accepted
// extension, readable and loadable by the engine), the facts of an accepted
// image, and the five list-building jobs (chosen files, list file, wildcard
// path, folder search, dropped files). List files hold one path per line.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/image_entry.h"
#include "app/job.h"
#include "app/log.h"
#include "app/ports.h"
#include "app/progress.h"
#include "app/settings.h"
#include "app/texts.h"

namespace pv::engine {
class CLead;
}

namespace pv::app {

class Session;

// Hands the photo settings (AutoOrient, KeepMetadata, StripLocation) to an imaging control
// before it loads.
void applyPhotoSettings(engine::CLead& lead, const Settings& settings);

// An entry with the path's parts (folder, file name, extension) only.
ImageEntry entryOfPath(const std::string& path);

// Windows-style wildcard match: '*' any run, '?' one byte, case-insensitive;
// "*.*" matches every name, with or without a dot.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// The thumbnail box.
inline constexpr int kThumbnailWidth = 76;
inline constexpr int kThumbnailHeight = 57;

// A command-line run without a window lists its candidates in the run
// itself, so that the load that lists an image is the load its conversion
// uses (app/run.cpp). The parse keeps here, in order, the candidates it
// found and the failures it wrote after the first of them; the run writes
// them out in that order, so the log, the summary and the records read as
// if everything had been listed first.
struct DeferredListing {
  struct Step {
    enum Kind { kCandidate, kLogged, kReported } kind = kCandidate;
    std::string path, subFolder;
    unsigned status = 0;  // the failure's (kLogged: the log and summary only; kReported: told too)
  };
  std::vector<Step> steps;
  std::size_t written = 0;  // the steps written out so far
  // Candidates are waiting to be listed.
  bool pending() const {
    return std::any_of(steps.begin() + static_cast<std::ptrdiff_t>(written), steps.end(),
                       [](const Step& st) { return st.kind == Step::kCandidate; });
  }
  std::vector<Step> candidates() const {
    std::vector<Step> out;
    for (const Step& st : steps)
      if (st.kind == Step::kCandidate) out.push_back(st);
    return out;
  }
};

// What the list-building work needs: the settings, the texts the log and
// summary lines go into,
// the primary control (every candidate is loaded into it), the secondary one
// (scratch for transparency flattening), the list, the progress fields and
// the running flag (cleared by an abort; jobs stop only while ShowMessages is on).
struct ListContext {
  Settings& settings;
  RunTexts& texts;
  engine::CLead& primary;
  engine::CLead& secondary;
  ImageList& list;
  JobProgress& progress;
  const std::atomic<bool>& running;
  Prompter& prompter;
  const std::atomic<bool>* interrupted = nullptr;  // stops every job when set
  JobObserver* observer = nullptr;                 // told of each entry added or refused
  DeferredListing* deferred = nullptr;             // candidates are kept here, not examined
};

// The list-building context of a session: its own settings, texts,
// controls, list, progress, flags, prompter, observer and deferred listing.
ListContext listContextOf(Session& s);

class ImageListBuilder {
 public:
  explicit ImageListBuilder(ListContext context) : c_(context) {}

  // With `extensionTest`, the path must end in an accepted extension (a '.'
  // after its last '/'); then openImage with logging decides.
  bool isAcceptedFile(const std::string& path, bool extensionTest);
  // Loads the image as the primary control's current image; failures are
  // written to the log and the summary when `logging` is on.
  bool openImage(const std::string& path, bool logging);
  // Appends the entry of the image just loaded (with a thumbnail when
  // thumbnails are shown and the program is not in a plain command-line job).
  void addImage(const std::string& path);

  // Run kind 103: names chosen in one folder of the open dialog.
  void addChosenFiles(const std::string& folder, const std::vector<std::string>& names);
  // Run kind 105: every path of a list file ("-": standard input). False
  // when the file cannot be read (with its message) or the job was aborted.
  bool readListFile(const std::string& path);
  // Run kind 107: the files of one folder whose names match the path's last part.
  void addWildcard(const std::string& path);
  // Run kind 109: the folder's files matching `pattern`, with its sub-folders
  // (breadth first) when ScanSubDir is on.
  void searchFolder(const std::string& folder, const std::string& pattern = "*.*");
  // Run kind 111: dropped paths (folders fail the extension test).
  void addDropped(const std::vector<std::string>& paths);

  // A failure line of the parse for `path`: written now, or in its place
  // among deferred candidates.
  void logFailure(const std::string& path, unsigned status);

  // What examining one candidate found.
  struct Examined {
    bool candidate = false;  // its name passed the extension test
    unsigned status = 0;     // 0: listed
    ImageEntry entry;
    std::chrono::steady_clock::time_point started;
  };
  // How a candidate is decoded, decided when its header has been read: the
  // bits and page of the load (the listing's to begin with) and the pixels
  // the decode will hold (0 when no header was read).
  struct Decode {
    short bits = 0;
    int page = 0;
    double pixels = 0;
  };
  using ChooseDecode = std::function<void(engine::CLead& lead, Decode& decode)>;
  // Examines `path` on `lead` (`scratch` helps make its thumbnail): decoded
  // the listing's way, or as `choose` (given the lead with the header read)
  // changes it.
  Examined examine(engine::CLead& lead, engine::CLead& scratch, const std::string& path,
                   const ChooseDecode& choose = nullptr) const;
  // The deferred listing: examines its candidates and writes every step out
  // in order (a run that does not convert while it lists).
  void listDeferred();
  // Writes out the steps before deferred candidate `k` (counted among the
  // candidates), then the candidate as `x` found it.
  void deliverDeferred(int k, Examined& x);
  // Writes out the steps after the last candidate; the listing is done.
  void finishDeferred();

 private:
  bool aborted() const;
  // Thumbnails are made in the window (and for /open), not for a plain command line.
  bool thumbnails() const {
    return c_.settings.ShowThumbnails && (!c_.settings.commandLineMode || c_.settings.openFlag);
  }
  // The thumbnail box in device pixels.
  int thumbnailSide(int side) const {
    return static_cast<int>(std::lround(side * std::clamp(c_.settings.thumbnailScale, 1.0, 4.0)));
  }
  // A candidate's record: logged when it was refused, and told to the observer.
  void report(const std::string& path, unsigned status, const ImageEntry* added,
              std::chrono::steady_clock::time_point started);
  void askForListingScale(engine::CLead& lead) const;
  // Loads the file on `lead`: 0, or why it cannot be listed. `choose`, when
  // given, decides the decode once the header is read.
  unsigned openOn(engine::CLead& lead, const std::string& path, const ChooseDecode& choose = nullptr) const;
  // The entry of the image just loaded on `lead` (`scratch` helps make its thumbnail).
  ImageEntry entryOf(engine::CLead& lead, engine::CLead& scratch, const std::string& path) const;
  struct Candidate {
    std::string path, name;
    int index;  // its place among the `total` the progress counts
    std::string subFolder = {};  // below the folder searched
  };
  // Examines the candidates on workerCount workers and lists the accepted
  // ones in order; false when a stop (heeded when `stoppable`) cut it short.
  bool examineAll(const std::vector<Candidate>& candidates, int total, bool stoppable);
  // Adds a candidate's entry to the list, or logs why it cannot be.
  void deliver(const std::string& path, const std::string& subFolder, Examined& x);
  // Writes out the deferred steps before step `end`.
  void writeStepsBefore(std::size_t end);
  void finish();
  ListContext c_;
  bool replaying_ = false;  // examining deferred candidates
  std::chrono::steady_clock::time_point openStarted_ = std::chrono::steady_clock::now();
};

// Sorts the list by file name, compared without regard to (ASCII) case,
// keeping the order of names that compare equal; ascending or descending.
void sortImageList(ImageList& list, bool ascending);

// Writes every entry's path, one a line, replacing the file in one step.
// False (with its message while ShowMessages is on) when it cannot.
bool writeListFile(const Settings& settings, const ImageList& list, const std::string& path,
                   Prompter& prompter);

}  // namespace pv::app
