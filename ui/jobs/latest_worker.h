#pragma once
// Work for the window done on a thread of its own, newest request first: a
// request replaces one that has not started, and the answer of one already
// in work is dropped when a newer request has come meanwhile. The panes and
// the settings forms make their pictures here, so the window never waits.

#include <QVariantList>
#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace pv::ui {

class LatestWorker final : public QObject {
  Q_OBJECT
 public:
  // Runs on the worker's thread; whatever it captures must be its own.
  using Work = std::function<QVariantList()>;
  explicit LatestWorker(QObject* parent = nullptr);
  ~LatestWorker() override;

  void request(Work work);
  // Drops the waiting request; the one in work will not be answered.
  void cancel();
  // True while a request is waiting, in work, or its answer on its way.
  bool busy() const;

 signals:
  // The newest request's results, on the window's thread.
  void ready(const QVariantList& results);

 private:
  void loop();
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  Work pending_;
  bool stop_ = false;
  int undelivered_ = 0;  // answers made or in work, not yet handed to the window
  quint64 generation_ = 0;
  std::thread thread_;
};

}  // namespace pv::ui
