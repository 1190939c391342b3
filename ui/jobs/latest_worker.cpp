#include "ui/jobs/latest_worker.h"

#include <utility>

namespace pv::ui {

LatestWorker::LatestWorker(QObject* parent) : QObject(parent), thread_([this] { loop(); }) {}

LatestWorker::~LatestWorker() {
  Work dropped;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    dropped = std::exchange(pending_, nullptr);
  }
  wake_.notify_all();
  thread_.join();
}

void LatestWorker::request(Work work) {
  Work replaced;  // destroyed outside the lock
  {
    std::lock_guard lock(mutex_);
    ++generation_;
    replaced = std::exchange(pending_, std::move(work));
  }
  wake_.notify_all();
}

void LatestWorker::cancel() {
  Work dropped;
  std::lock_guard lock(mutex_);
  ++generation_;
  dropped = std::exchange(pending_, nullptr);
}

bool LatestWorker::busy() const {
  std::lock_guard lock(mutex_);
  return undelivered_ > 0 || pending_;
}

void LatestWorker::loop() {
  for (;;) {
    Work work;
    quint64 generation;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) return;
      work = std::exchange(pending_, nullptr);
      generation = generation_;
      ++undelivered_;
    }
    QVariantList pictures = work();
    work = nullptr;
    std::lock_guard lock(mutex_);
    // The answer travels to the window's thread; a newer request makes it stale.
    QMetaObject::invokeMethod(
        this,
        [this, pictures = std::move(pictures), generation] {
          std::unique_lock check(mutex_);
          const bool current = generation == generation_;
          --undelivered_;
          check.unlock();
          if (current) emit ready(pictures);
        },
        Qt::QueuedConnection);
  }
}

}  // namespace pv::ui
