#include "app/job_runner.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>

#include "app/heap.h"
#include "app/image_list.h"
#include "app/log.h"
#include "app/run.h"

namespace pv::app {

namespace {

using Clock = std::chrono::steady_clock;

// Counts the records on their way to the job's observer.
class Tally final : public JobObserver {
 public:
  explicit Tally(JobObserver* next) : next_(next) {}
  void started(int runKind, int total) override {
    runKind_ = runKind;
    if (next_) next_->started(runKind, total);
  }
  void outcome(const OutcomeRecord& r) override {
    if (r.kind == OutcomeRecord::kListEntry && runKind_ == kRunConvert)
      ;  // a candidate a conversion run lists itself is no conversion
    else if (r.skipped)
      ++skipped;
    else if (!r.passedOver)
      ++(r.succeeded() ? converted : failed);
    if (next_) next_->outcome(r);
  }
  void progress(int count, int total, int percent, const std::string& name) override {
    if (next_) next_->progress(count, total, percent, name);
  }
  int converted = 0, failed = 0, skipped = 0;

 private:
  JobObserver* next_;
  int runKind_ = 0;
};

}  // namespace

int conversionWorker(Session& s, int runKind, const JobArgument& argument) {
  const HeapKeptForRun heap;
  const Clock::time_point begun = Clock::now();
  JobObserver* const watcher = s.observer;
  Tally tally(watcher);
  s.observer = &tally;
  tally.started(runKind, runKind == kRunConvert ? static_cast<int>(s.list.size()) : 0);
  if (!s.settings.commandLineMode) {
    s.texts = {};
  }
  // A run that lists its own candidates writes its start line after their
  // lines, and nothing when none was listed.
  const bool listing = runKind == kRunConvert && s.deferred && s.deferred->pending();
  if (!listing) s.texts.conversionLog += startLine(std::time(nullptr));
  ImageListBuilder lister(listContextOf(s));  // its observer is the tally
  const std::string* path = std::get_if<std::string>(&argument);
  // A listing stopped at any time is cut short; a conversion only when an
  // image did not begin, so the summary says what the log says.
  bool aborted = false;
  switch (runKind) {
    case kRunConvert:
      aborted = !convertAll(s);
      break;
    case kRunChosenFiles:
      if (const auto* chosen = std::get_if<ChosenFiles>(&argument))
        lister.addChosenFiles(chosen->folder, chosen->names);
      break;
    case kRunListFile:
      if (path) lister.readListFile(*path);
      break;
    case kRunWildcard:
      if (path) lister.addWildcard(*path);
      break;
    case kRunFolderSearch:
      if (path) lister.searchFolder(*path);
      break;
    case kRunDropped:
      if (const auto* dropped = std::get_if<std::vector<std::string>>(&argument)) lister.addDropped(*dropped);
      break;
    default:
      break;
  }
  if (runKind != kRunConvert) aborted = !s.running.load() || s.interrupted.load();
  if (!listing || !s.list.empty()) {
    s.texts.conversionLog += endLine(std::time(nullptr));
    if (s.settings.DoLog) saveLog(s.settings, s.texts, s.prompter);
  }
  const JobSummary summary{
      runKind,      tally.converted,
      tally.failed, tally.skipped,
      aborted,      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count()};
  s.observer = watcher;
  s.running = false;
  if (watcher) watcher->finished(summary);
  return 0;
}

JobRunner::~JobRunner() {
  wait();
}

bool JobRunner::start(int runKind, JobArgument argument, JobObserver* observer) {
  if (!done_.load()) return false;
  wait();
  done_ = false;
  session_.running = true;
  // The job's own copy of what it needs, taken here on the owner's thread.
  work_ = std::make_unique<Session>(session_, Session::Snapshot{});
  work_->observer = observer;
  runKind_ = runKind;
  worker_ = std::thread([this, runKind, arg = std::move(argument)] {
    workerTid_ = static_cast<int>(gettid());
    applyPriority();
    conversionWorker(*work_, runKind, arg);
    workerTid_ = 0;
    done_ = true;
  });
  return true;
}

void JobRunner::wait() {
  if (worker_.joinable()) worker_.join();
  if (!work_) return;
  // The job's results: its log and summary, and the list a list job built.
  session_.texts = std::move(work_->texts);
  if (runKind_ != kRunConvert) session_.list = std::move(work_->list);
  work_.reset();
}

void JobRunner::abort() {
  session_.running = false;
  session_.progress.gate.resume();
}

void JobRunner::setPriority(int level) {
  priority_ = std::clamp(level, 0, kPriorityCount - 1);
  applyPriority();
}

void JobRunner::applyPriority() {
  const int tid = workerTid_.load();
  if (tid == 0) return;
  // Raising the priority needs privileges; a refusal leaves it as it was.
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kPriorityNice[static_cast<std::size_t>(priority_.load())]);
}

}  // namespace pv::app
