#pragma once
// Work shared by several threads whose results reach the user in list order:
// a run's records and log lines, and the image list's entries, come out as
// one worker would give them, whichever worker finishes first.

#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace pv::app {

template <class Result>
class InListOrder {
 public:
  // `deliver` gets every result once, in increasing index order, under the lock.
  InListOrder(int count, std::function<void(int index, Result& result)> deliver)
      : slots_(static_cast<std::size_t>(count > 0 ? count : 0)), deliver_(std::move(deliver)) {}

  // Keeps the result of `index` and delivers every result that now follows
  // the last delivered one without a gap.
  void put(int index, Result result) {
    std::lock_guard lock(mutex_);
    slots_[static_cast<std::size_t>(index)] = std::move(result);
    while (next_ < slots_.size() && slots_[next_]) {
      deliver_(static_cast<int>(next_), *slots_[next_]);
      slots_[next_].reset();
      ++next_;
    }
  }
  // The lock that delivery holds, for what must not interleave with it.
  std::mutex& mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  std::vector<std::optional<Result>> slots_;
  std::size_t next_ = 0;
  std::function<void(int, Result&)> deliver_;
};

// Runs work(w) for w in 0..workers-1, worker 0 on the calling thread, and
// returns when all have.
template <class Work>
void onWorkers(int workers, Work&& work) {
  std::vector<std::thread> threads;
  for (int w = 1; w < workers; ++w) threads.emplace_back([&work, w] { work(w); });
  work(0);
  for (std::thread& t : threads) t.join();
}

}  // namespace pv::app
