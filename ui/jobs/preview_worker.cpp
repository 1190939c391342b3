#include "ui/jobs/preview_worker.h"

#include "ui/ports/qt_ports.h"

namespace pv::ui {

PreviewWorker::PreviewWorker(QObject* parent) : QObject(parent), thread_([this] { loop(); }) {}

PreviewWorker::~PreviewWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    pending_.reset();
  }
  wake_.notify_all();
  thread_.join();
}

void PreviewWorker::request(app::Session& owner, int index, app::PaneSize pane, bool before, bool after) {
  quint64 generation;
  {
    std::lock_guard lock(mutex_);
    generation = ++generation_;
    pending_.reset();
  }
  if (index < 0 || (!before && !after)) {
    emit ready({}, {});
    return;
  }
  auto job = std::make_unique<Job>(
      Job{std::make_unique<app::Session>(owner, app::Session::Snapshot{}, true), index, pane, before, after,
          generation});
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return;
    pending_ = std::move(job);
  }
  wake_.notify_all();
}

bool PreviewWorker::busy() const {
  std::lock_guard lock(mutex_);
  return working_ || pending_;
}

void PreviewWorker::loop() {
  for (;;) {
    std::unique_ptr<Job> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || pending_; });
      if (stop_) return;
      job = std::move(pending_);
      working_ = true;
    }
    const app::PreviewPictures pictures =
        app::makePreview(*job->session, job->index, job->pane, job->before, job->after);
    const QImage before = pictures.before ? toQImage(*pictures.before) : QImage();
    const QImage after = pictures.after ? toQImage(*pictures.after) : QImage();
    const quint64 generation = job->generation;
    job.reset();
    std::lock_guard lock(mutex_);
    working_ = false;
    // The answer travels to the window's thread; a newer request makes it stale.
    QMetaObject::invokeMethod(
        this,
        [this, before, after, generation] {
          std::unique_lock check(mutex_);
          const bool current = generation == generation_;
          check.unlock();
          if (current) emit ready(before, after);
        },
        Qt::QueuedConnection);
  }
}

}  // namespace pv::ui
