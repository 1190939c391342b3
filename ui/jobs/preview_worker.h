#pragma once
// Makes the before and after pictures of the panes on a thread of its own.
// Each request carries a snapshot of the session (settings, chain, list,
// own imaging controls) taken on the window's thread; a newer request
// replaces one that has not started, and the answer of an older one that was
// already in work is dropped, so the panes always end on the newest state.

#include <QImage>
#include <QObject>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/preview.h"

namespace pv::ui {

class PreviewWorker final : public QObject {
  Q_OBJECT
 public:
  explicit PreviewWorker(QObject* parent = nullptr);
  ~PreviewWorker() override;

  // Asks for the pictures of entry `index` of `owner`'s list (-1: none, the
  // panes are emptied at once). Call on the window's thread.
  void request(app::Session& owner, int index, app::PaneSize pane, bool before, bool after);
  // True while a request is waiting or in work.
  bool busy() const;

 signals:
  // The newest request's pictures (null images where none was made).
  void ready(const QImage& before, const QImage& after);

 private:
  struct Job {
    std::unique_ptr<app::Session> session;
    int index;
    app::PaneSize pane;
    bool before, after;
    quint64 generation;
  };
  void loop();
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::unique_ptr<Job> pending_;
  bool working_ = false, stop_ = false;
  quint64 generation_ = 0;
  std::thread thread_;
};

}  // namespace pv::ui
