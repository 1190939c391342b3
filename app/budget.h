#pragma once
// The memory the images in work may take at once across the workers of a
// run or a listing, in bytes: a worker waits before an image while the
// others hold too much, and an image larger than the whole budget waits
// until it can run alone (and nothing else starts while it runs).

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "app/settings.h"

namespace pv::app {

// Bytes a decoded pixel is counted with: the image at four bytes a pixel and
// the working copies the filters and the save's colour conversions make.
inline constexpr double kDecodedBytesPerPixel = 16;

class MemoryBudget {
 public:
  explicit MemoryBudget(double bytes) : capacity_(bytes) {}

  // Waits for room, then holds it; returns what to hand back to release.
  double acquire(double bytes) {
    const double want = std::min(bytes, capacity_);
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ + want <= capacity_ || used_ == 0; });
    used_ += want;
    return want;
  }
  // As acquire, for the images of a run taken in list order (`turn` 0, 1,
  // ...; every turn exactly once): an image waits until every image before
  // it holds its room, so that no image ever waits for room that only images
  // after it hold. A run whose images wait for their turn to name their
  // outputs while holding their pixels needs this order.
  double acquireInTurn(double bytes, int turn) {
    const double want = std::min(bytes, capacity_);
    {
      std::unique_lock lock(mutex_);
      freed_.wait(lock, [&] { return turn == nextTurn_ && (used_ + want <= capacity_ || used_ == 0); });
      used_ += want;
      ++nextTurn_;
    }
    freed_.notify_all();
    return want;
  }
  void release(double held) {
    {
      std::lock_guard lock(mutex_);
      used_ -= held;
    }
    freed_.notify_all();
  }
  // True when `bytes` is more than the whole budget (it runs alone).
  bool exceeds(double bytes) const { return bytes > capacity_; }
  double capacity() const { return capacity_; }

  // Half of the memory available now (MemAvailable), else half of the
  // machine's memory.
  static double machineShare() {
    std::ifstream info("/proc/meminfo");
    for (std::string key; info >> key;) {
      std::uint64_t kib = 0;
      if (key == "MemAvailable:" && info >> kib && kib > 0) return static_cast<double>(kib) * 1024 / 2;
      info.ignore(1 << 10, '\n');
    }
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    const double bytes = pages > 0 && size > 0 ? static_cast<double>(pages) * static_cast<double>(size) : 4e9;
    return bytes / 2;
  }
  // The settings' budget (MemoryBudget megabytes), else machineShare.
  static double of(const Settings& settings) {
    return settings.MemoryBudget > 0 ? static_cast<double>(settings.MemoryBudget) * 1e6 : machineShare();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  const double capacity_;
  double used_ = 0;
  int nextTurn_ = 0;
};

}  // namespace pv::app
