#pragma once
// The job runner. A job (a conversion, or one of the list-building jobs) runs
// on one worker thread, on a snapshot of the session taken when it starts; it
// reports through an observer (app/job.h), and the window or the console
// pauses, resumes, re-prioritises or aborts it, and takes its results back
// when it has ended.

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "app/session.h"

namespace pv::app {

enum RunKind : int {
  kRunConvert = 101,
  kRunChosenFiles = 103,
  kRunListFile = 105,
  kRunWildcard = 107,
  kRunFolderSearch = 109,
  kRunDropped = 111,
};

// What the open dialog returns when several files are chosen.
struct ChosenFiles {
  std::string folder;
  std::vector<std::string> names;
};

// The one argument of a job: nothing (convert), a path (list file, wildcard
// path, folder), chosen files, or dropped paths.
using JobArgument = std::variant<std::monostate, std::string, ChosenFiles, std::vector<std::string>>;

// One whole job on `session` (a runner's snapshot, or a session of a test):
// tells the session's observer it started, clears the log and the summary
// (not in command-line mode), writes the start line, runs the job, writes the
// end line and, with DoLog on, appends the log to the log file, then tells the
// observer it finished. The caller sets the running flag
// before (so an abort that comes before the job starts is not lost); the
// worker clears it at the end.
int conversionWorker(Session& session, int runKind, const JobArgument& argument);

// The seven priorities of the progress window, from "Idle" to "Highest",
// and the nice level each gives the worker (raising it above normal needs
// the privilege to; a refusal leaves the level as it was).
inline constexpr int kPriorityCount = 7;
inline constexpr int kPriorityNormal = 3;
inline constexpr std::array<int, kPriorityCount> kPriorityNice = {19, 10, 5, 0, -5, -10, -15};

class JobRunner {
 public:
  explicit JobRunner(Session& session) : session_(session) {}
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Takes the snapshot and starts the job on the worker thread, reporting to
  // `observer` (may be null); false while another one runs. A runner paused
  // before the start begins its job paused. Until the job is collected, the
  // session's imaging controls belong to the job.
  bool start(int runKind, JobArgument argument, JobObserver* observer = nullptr);
  bool finished() const { return done_.load(); }
  // Waits for the job's end, then (on the caller's thread, the session's
  // owner) hands its results back to the session: the log, the error
  // summary and, for a list job, the list it built.
  void wait();

  void pause() { session_.progress.gate.pause(); }
  void resume() { session_.progress.gate.resume(); }
  bool paused() const { return session_.progress.gate.paused(); }
  // Clears the running flag. Conversions stop before the next image, list
  // jobs before the next candidate, whatever ShowMessages says; the end line
  // and the log are still written. A paused job is resumed so it can see the
  // request.
  void abort();
  // 0 "Idle" .. 6 "Highest" as the worker thread's nice value; a raise the
  // system refuses is ignored. Takes effect at once, or when the job starts.
  void setPriority(int level);
  int priority() const { return priority_.load(); }
  // The worker's kernel thread id while a job runs, else 0.
  int workerThread() const { return workerTid_.load(); }

 private:
  void applyPriority();
  Session& session_;
  std::unique_ptr<Session> work_;
  int runKind_ = 0;
  std::thread worker_;
  std::atomic<bool> done_{true};
  std::atomic<int> priority_{kPriorityNormal};
  std::atomic<int> workerTid_{0};
};

}  // namespace pv::app
