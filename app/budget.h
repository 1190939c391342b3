#pragma once
// Decoded pixels in flight across the workers of a run or a listing: a worker
// waits before an image while the others hold too much, and an image larger
// than the whole budget waits until it can run alone.

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace pv::app {

class PixelBudget {
 public:
  // A share of the machine's memory, in pixels of four bytes (with room for
  // the working copies the filters and encoders make), unless given.
  explicit PixelBudget(double capacity = machineShare()) : capacity_(capacity) {}

  // Waits for room, then holds it; returns what to hand back to release.
  double acquire(double pixels) {
    const double want = std::min(pixels, capacity_);
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ + want <= capacity_ || used_ == 0; });
    used_ += want;
    return want;
  }
  void release(double held) {
    {
      std::lock_guard lock(mutex_);
      used_ -= held;
    }
    freed_.notify_all();
  }

  static double machineShare() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
    const double bytes = pages > 0 && size > 0 ? static_cast<double>(pages) * static_cast<double>(size) : 4e9;
    return bytes / 2 / (4 * 4);
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  const double capacity_;
  double used_ = 0;
};

}  // namespace pv::app
