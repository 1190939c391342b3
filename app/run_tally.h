#pragma once
// What a finished conversion did, for the summary at its end: counted from its
// records as they come (on the worker thread; read once the job has been
// collected).

#include <set>
#include <string>
#include <vector>

#include "app/image_entry.h"
#include "app/job.h"

namespace pv::app {

class RunTally final : public JobObserver {
 public:
  // The list the run converts: its sources' sizes are taken now, before a run
  // that deletes them after converting has done so.
  explicit RunTally(const std::vector<ImageEntry>& list);

  void outcome(const OutcomeRecord& record) override;
  void finished(const JobSummary& summary) override;

  int converted = 0, skipped = 0, failed = 0;
  int overwritten = 0, numbered = 0;  // of the images converted: outputs written over a file, or numbered
  long long bytesIn = 0, bytesOut = 0;  // of the images converted, and of what was written
  long long milliseconds = 0;
  bool aborted = false;
  std::string outputFolder;  // where the first output went; empty when nothing was written

 private:
  std::vector<long long> sourceBytes_;
  std::set<int> counted_;  // images whose source size is in bytesIn (pages come one by one)
};

}  // namespace pv::app
