#include "app/run.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "app/budget.h"
#include "app/image_conversion.h"
#include "app/in_order.h"
#include "app/log.h"
#include "app/name_book.h"

namespace pv::app {

int workerCount(const Settings& settings, int images) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int wanted = settings.Threads > 0 ? settings.Threads : cores;
  return std::clamp(std::min(wanted, images), 1, 64);
}

bool convertAll(Session& s) {
  RunLog log(s.texts, s.settings, s.observer);
  const int count = static_cast<int>(s.list.size());
  s.progress.setName("-");
  s.progress.percent = 0;
  s.progress.count = 0;
  s.progress.total = count;
  const int workers = workerCount(s.settings, count);
  NameBook names;
  names.protectSources(s.list);
  MemoryBudget budget(MemoryBudget::of(s.settings));

  // Records go to the log and the observer in list order, whichever worker
  // finishes first (its lock also serialises the observer).
  InListOrder<std::vector<OutcomeRecord>> finished(count, [&](int, std::vector<OutcomeRecord>& records) {
    for (const OutcomeRecord& r : records) log.add(r);
  });
  std::atomic<int> nextImage{0};
  std::atomic<int> stoppedAt{count};

  // Each worker takes the next image of the list until none is left or the
  // run is stopped. Worker 0 is this thread with the run's own session; the
  // others have snapshots with imaging controls of their own.
  const auto work = [&](Session& ws) {
    ws.primary.SetAutoRepaint(false);
    ws.chain.beforeEach = [&] { ws.progress.gate.pass(); };
    for (;;) {
      s.progress.gate.pass();
      const int i = nextImage.fetch_add(1);
      if (i >= count) break;
      const ImageEntry& e = ws.list[static_cast<std::size_t>(i)];
      std::vector<OutcomeRecord> records;
      ImageConversion image(
          ws, names, [&](const OutcomeRecord& r) { records.push_back(r); }, i);
      // An abort or an interrupt stops before the next image, and the images
      // in work are finished whole. It is decided in the image's turn, so
      // that every image before the stop runs and none after it.
      names.awaitTurn(i);
      const bool stop = !s.running.load() || s.interrupted.load() || stoppedAt.load() < count;
      if (stop && stoppedAt.load() == count) stoppedAt = i;
      if (!stop) image.plan();
      names.endTurn();
      if (stop) continue;  // the images after it still pass their turns
      // The names are settled however the image ends.
      struct Settle {
        ImageConversion& image;
        ~Settle() { image.settleNames(); }
      } settle{image};
      {
        std::lock_guard lock(finished.mutex());
        s.progress.setName(e.fileName);
        s.progress.count = i;
        s.progress.percent = static_cast<int>(static_cast<unsigned>(i) * 100u / static_cast<unsigned>(count));
        if (s.observer) s.observer->progress(i, count, s.progress.percent, e.fileName);
      }
      const double needed = image.bytes();
      if (budget.exceeds(needed)) image.ranAlone(needed, budget.capacity());
      const double held = budget.acquire(needed);
      ws.currentEntry = i;
      image.run();
      ws.currentEntry = -1;
      budget.release(held);
      finished.put(i, std::move(records));
    }
    ws.chain.beforeEach = nullptr;
    ws.primary.SetAutoRepaint(true);
  };

  // Every snapshot is taken before any worker starts writing the log.
  std::vector<std::unique_ptr<Session>> others;
  for (int w = 1; w < workers; ++w) {
    others.push_back(std::make_unique<Session>(s, Session::Snapshot{}, true));
    others.back()->observer = nullptr;
  }
  onWorkers(workers, [&](int w) { work(w == 0 ? s : *others[static_cast<std::size_t>(w - 1)]); });
  // Every image before the stop has finished; what follows it never began.
  const bool stopped = stoppedAt.load() < count;
  if (stopped) log.aborted();
  s.currentEntry = -1;
  s.progress.setName("-");
  s.progress.percent = 100;
  return !stopped;
}

}  // namespace pv::app
