#pragma once
// What a job tells the world while it runs: one outcome record per image (or
// page, or list candidate), its progress, its start and its end. A job works
// on a snapshot of the session taken when it starts, so whoever watches it
// (the window, the console, a test) reads these records, never memory that
// the worker is writing. The conversion log and the error summary are made
// from the same records.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/image_entry.h"

namespace pv::app {

struct OutcomeRecord {
  enum Kind : unsigned char {
    kConversion,  // an image (or one page of it) of a conversion
    kListEntry,   // a candidate of a list job (or of the command line's file parts)
  };
  Kind kind = kConversion;
  int index = -1;  // the image's place in the list (conversions), -1 for candidates
  int page = 0;    // 1.. for a page saved in a file of its own; 0 for the whole image
  std::string source;
  std::vector<std::string> outputs;  // the files written (after any rename onto the plain name)
  unsigned status = 0;               // 0: converted or listed; else the status number
  std::string text;                  // the words for the status, empty on success
  long long milliseconds = 0;
  // After a success: the source could not be deleted (5028), or the output
  // could not replace the plain name (5044, `outputs` holds where it stays).
  bool sourceNotDeleted = false;
  bool outputNotRenamed = false;
  // The output replaced a file that was there (OverwriteOriginalImage), or
  // was given a numbered name because its plain name was taken.
  bool overwrote = false;
  bool numbered = false;
  // A multi-page option the program does not know left the image untouched
  // (nothing is logged for it).
  bool passedOver = false;
  // --skip-done found the outputs (in `outputs`) already made from this source.
  bool skipped = false;
  // The source's metadata (EXIF, XMP, IPTC or profile) was damaged or could
  // not be written: why. The image itself converted.
  std::string metadataDropped;
  // The file system refused to give an output its source's dates (the
  // output stays, with the time it was written).
  bool datesNotKept = false;
  // --only-smaller: the output came out larger, so it is the source's bytes.
  bool sourceKept = false;
  // Under a size limit: the quality the output was written at, its size and
  // the limit in bytes. A file of several pages is written at the format's
  // own quality (`pagesTogether`), the limit not sought.
  struct SizeTarget {
    int quality = 0;
    std::uint64_t bytes = 0, limit = 0;
    bool pagesTogether = false;
    bool fits() const { return bytes <= limit; }
  };
  std::optional<SizeTarget> sizeTarget;
  // It needed more memory than the whole budget (bytes), so it ran alone.
  double memoryNeeded = 0, memoryBudget = 0;
  // A candidate that a list job added: its entry as listed (with its
  // thumbnail), so a window can show it before the job has ended.
  std::shared_ptr<const ImageEntry> entry;
  bool succeeded() const { return status == 0; }
};

// The status of a candidate that is no image the engine recognises.
inline constexpr unsigned kNotAnImageStatus = 5003;
// The status of a folder a search cannot read ("directory browsing failed").
inline constexpr unsigned kFolderNotReadStatus = 20350;

struct JobSummary {
  int runKind = 0;
  int converted = 0;  // images (pages) converted, or entries listed
  int failed = 0;
  int skipped = 0;       // images whose outputs were up to date
  bool aborted = false;  // stopped by an abort or an interrupt before the end
  long long milliseconds = 0;
};

// Called on the worker thread, in order: started, then outcome and progress
// as the job goes (records of a conversion in list order), then finished. An
// observer that a window implements hands the calls over to the window's
// thread; the session changes only when the owner of the runner collects the
// job's results (JobRunner::wait).
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  virtual void started(int /*runKind*/, int /*total*/) {}
  virtual void outcome(const OutcomeRecord& /*record*/) {}
  // `count` images or candidates done of `total` (0 when not known yet), the
  // name of the one in work.
  virtual void progress(int /*count*/, int /*total*/, int /*percent*/, const std::string& /*name*/) {}
  virtual void finished(const JobSummary& /*summary*/) {}
};

// Hands every report to several observers, in order.
class ObserverFan final : public JobObserver {
 public:
  explicit ObserverFan(std::vector<JobObserver*> observers) : observers_(std::move(observers)) {}
  void started(int runKind, int total) override {
    for (JobObserver* o : observers_) o->started(runKind, total);
  }
  void outcome(const OutcomeRecord& record) override {
    for (JobObserver* o : observers_) o->outcome(record);
  }
  void progress(int count, int total, int percent, const std::string& name) override {
    for (JobObserver* o : observers_) o->progress(count, total, percent, name);
  }
  void finished(const JobSummary& summary) override {
    for (JobObserver* o : observers_) o->finished(summary);
  }

 private:
  std::vector<JobObserver*> observers_;
};

}  // namespace pv::app
