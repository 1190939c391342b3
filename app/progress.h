#pragma once
// The progress of the running job: written by the worker thread, read at any
// time by the progress window or the console. Every field is race-free.

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

namespace pv::app {

// A duration as the progress displays show it: "mm:ss", or "h:mm:ss" from an hour.
inline std::string clockText(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 60, s % 60);
  return buf;
}

// A size in bytes in SI units, as the window shows sizes: "800 B", "1.2 kB",
// "15.3 MB", "2.0 GB".
inline std::string sizeText(long long bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 1000 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", value, kUnits[unit]);
  return buf;
}

// A pause for the worker thread: the worker passes the gate before every
// load, filter and save and between images, and waits there while the job
// is paused.
class PauseGate {
 public:
  void pause() {
    std::lock_guard lock(mutex_);
    paused_ = true;
  }
  void resume() {
    {
      std::lock_guard lock(mutex_);
      paused_ = false;
    }
    wake_.notify_all();
  }
  bool paused() const {
    std::lock_guard lock(mutex_);
    return paused_;
  }
  // Returns at once unless paused; then waits for resume.
  void pass() {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return !paused_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool paused_ = false;
};

class JobProgress {
 public:
  // The file being examined or converted ("-" before and after a job).
  void setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
  }
  std::string name() const {
    std::lock_guard lock(mutex_);
    return name_;
  }
  std::atomic<int> percent{0};
  std::atomic<int> count{0};  // candidates examined, or the current image
  std::atomic<int> total{0};  // how many the job has to do, when known
  PauseGate gate;

  void reset() {
    setName("-");
    percent = 0;
    count = 0;
    total = 0;
  }

 private:
  mutable std::mutex mutex_;
  std::string name_ = "-";
};

}  // namespace pv::app
