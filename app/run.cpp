#include "app/run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "app/budget.h"
#include "app/image_conversion.h"
#include "app/image_list.h"
#include "app/in_order.h"
#include "app/log.h"
#include "app/name_book.h"
#include "engine/status.h"

namespace pv::app {

int workerCount(const Settings& settings, int images) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int wanted = settings.Threads > 0 ? settings.Threads : cores;
  return std::clamp(std::min(wanted, images), 1, 64);
}

namespace {

// Tells the run's progress and observer (under `told`) that image `i` of
// `count` begins, converts it on the worker's session `ws` within the
// budget (holding `held`, or room taken now) and hands the room back. Its
// names are settled however it ends.
void convertImage(Session& s, Session& ws, ImageConversion& image, std::mutex& told, int i, int count,
                  MemoryBudget& budget, std::optional<double> held) {
  struct Settle {
    ImageConversion& image;
    ~Settle() { image.settleNames(); }
  } settle{image};
  const std::string& name = ws.list[static_cast<std::size_t>(i)].fileName;
  {
    std::lock_guard lock(told);
    s.progress.setName(name);
    s.progress.count = i;
    s.progress.percent = static_cast<int>(static_cast<unsigned>(i) * 100u / static_cast<unsigned>(count));
    if (s.observer) s.observer->progress(i, count, s.progress.percent, name);
  }
  const double needed = image.bytes();
  if (budget.exceeds(needed)) image.ranAlone(needed, budget.capacity());
  if (!held) held = budget.acquire(needed);
  ws.currentEntry = i;
  image.run();
  ws.currentEntry = -1;
  budget.release(*held);
}

// Whether a run may list its candidates while it converts them, which is
// what listing them all first gives. Not when an output may replace a file
// (it must never replace another listed source, so the whole list comes
// first), nor when sources are deleted and a path is named twice (its second
// listing must still find the file).
bool listsWhileConverting(const Session& s, const std::vector<DeferredListing::Step>& candidates) {
  if (s.settings.overwritesOutputs()) return false;
  if (!s.settings.DeleteSourceAfterConvert) return true;
  std::set<std::string> seen;
  for (const DeferredListing::Step& c : candidates)
    if (!seen.insert(c.path).second) return false;
  return true;
}

// The facts a header read on `lead` gives an entry of `path`, enough to plan
// the image's decode and its memory before it is decoded.
ImageEntry headerEntry(engine::CLead& lead, const std::string& path) {
  ImageEntry e = entryOfPath(path);
  engine::guarded([&] {
    e.width = static_cast<std::uint32_t>(std::max(0, lead.GetInfoValue44()));
    e.height = static_cast<std::uint32_t>(std::max(0, lead.GetInfoHeight()));
    e.sourceBits = static_cast<std::uint32_t>(std::max<short>(0, lead.GetInfoBits()));
    e.pageCount = static_cast<std::uint32_t>(std::max(0, lead.GetInfoPageCount()));
    e.sourceFormat = lead.GetInfoFormat();
    return 0;
  });
  e.multiPage = e.pageCount >= 2;
  return e;
}

// A run of the command line lists its candidates itself: each worker takes
// the next candidate, decodes it, lists it, and converts it from that decode,
// so that each image is decoded once. The decode is the conversion's where it
// gives the listing's verdict and facts: the listing's bits and page, at any
// JPEG scale (its DCT scaling reads every coefficient, so a damaged file
// fails at any scale). Where it is not, or where it fails, the image is
// listed the listing's way and decoded again to convert. The listing's lines
// and records come out first and in order, then the conversions', as a run
// that listed everything before converting writes them.
bool listAndConvert(Session& s, const std::vector<DeferredListing::Step>& candidates) {
  const int count = static_cast<int>(candidates.size());
  RunLog log(s.texts, s.settings, s.observer);
  ImageListBuilder lister(listContextOf(s));
  s.progress.reset();
  s.progress.total = count;
  const int workers = workerCount(s.settings, count);
  NameBook names;
  MemoryBudget budget(MemoryBudget::of(s.settings));

  // The log, the summary and the observer, for the listing and the
  // conversions alike. The conversions that finish before the last candidate
  // is listed wait, in order, until it is.
  std::mutex out;
  bool listed = false;
  std::vector<std::vector<OutcomeRecord>> waiting;
  const auto listingDone = [&] {
    lister.finishDeferred();
    listed = true;
    if (!s.list.empty()) log.start(std::time(nullptr));
    for (const std::vector<OutcomeRecord>& records : waiting)
      for (const OutcomeRecord& r : records) log.add(r);
    waiting.clear();
  };
  InListOrder<ImageListBuilder::Examined> found(count, [&](int k, ImageListBuilder::Examined& x) {
    std::lock_guard lock(out);
    lister.deliverDeferred(k, x);
    if (k == count - 1) listingDone();
  });
  InListOrder<std::vector<OutcomeRecord>> finished(count, [&](int, std::vector<OutcomeRecord>& records) {
    std::lock_guard lock(out);
    if (!listed) {
      waiting.push_back(std::move(records));
      return;
    }
    for (const OutcomeRecord& r : records) log.add(r);
  });
  std::atomic<int> next{0};
  std::atomic<int> stoppedAt{count};
  const auto stopping = [&] { return !s.running.load() || s.interrupted.load() || stoppedAt.load() < count; };

  const auto work = [&](Session& ws) {
    ws.primary.SetAutoRepaint(false);
    ws.chain.beforeEach = [&] { ws.progress.gate.pass(); };
    // Candidate k converts as entry k of the worker's own list.
    ws.list.assign(static_cast<std::size_t>(count), ImageEntry{});
    const ImageListBuilder examiner(listContextOf(ws));
    for (;;) {
      s.progress.gate.pass();
      const int k = next.fetch_add(1);
      if (k >= count) break;
      const DeferredListing::Step& c = candidates[static_cast<std::size_t>(k)];
      ImageEntry& e = ws.list[static_cast<std::size_t>(k)];
      // Room for the image is taken in list order, before its decode, and
      // held until it is converted.
      std::optional<double> held;
      std::optional<ImageConversion::FirstLoad> asked;
      ImageListBuilder::Examined x;
      x.started = std::chrono::steady_clock::now();
      if (stopping()) {
        // Never examined: it says nothing.
      } else if (names.ours(c.path)) {
        // An output of this run, written since the candidate was named: the
        // file was not there when the run began.
        x.candidate = true;
        x.status = engine::kFileNotFound;
      } else {
        x = examiner.examine(ws.primary, ws.secondary, c.path,
                             [&](engine::CLead& lead, ImageListBuilder::Decode& d) {
                               e = headerEntry(lead, c.path);
                               const ImageConversion planned(ws, names, nullptr, k);
                               held = budget.acquireInTurn(planned.bytes(), k);
                               const auto wanted = planned.firstLoad();
                               if (!wanted || wanted->bits != d.bits || wanted->page != d.page) return;
                               lead.SetLoadAtLeast(wanted->atLeastWidth, wanted->atLeastHeight);
                               asked = wanted;
                             });
        if (x.status != 0 && asked) {
          // Listed the listing's way, whatever the larger decode met.
          asked.reset();
          x = examiner.examine(ws.primary, ws.secondary, c.path);
        }
      }
      if (!held) held = budget.acquireInTurn(0, k);
      const bool listedHere = x.candidate && x.status == 0;
      if (listedHere) {
        e = x.entry;
        e.subFolder = c.subFolder;
      }
      found.put(k, std::move(x));

      std::vector<OutcomeRecord> records;
      ImageConversion image(
          ws, names, [&](const OutcomeRecord& r) { records.push_back(r); }, k);
      if (listedHere && asked && image.firstLoad() == asked) image.decoded();
      names.awaitTurn(k);
      const bool stop = stopping();
      if (stop && stoppedAt.load() == count) stoppedAt = k;
      if (!stop && listedHere) image.plan();
      names.endTurn();
      if (stop || !listedHere) {
        budget.release(*held);
        if (!stop) finished.put(k, {});
        continue;  // the candidates after it still pass their turns
      }
      convertImage(s, ws, image, out, k, count, budget, held);
      finished.put(k, std::move(records));
    }
    ws.chain.beforeEach = nullptr;
  };

  std::vector<std::unique_ptr<Session>> sessions;
  for (int w = 0; w < workers; ++w) {
    sessions.push_back(std::make_unique<Session>(s, Session::Snapshot{}, true));
    sessions.back()->observer = nullptr;
  }
  onWorkers(workers, [&](int w) { work(*sessions[static_cast<std::size_t>(w)]); });
  {
    std::lock_guard lock(out);
    if (!listed) listingDone();
  }
  const bool stopped = stoppedAt.load() < count;
  if (stopped && !s.list.empty()) log.aborted();
  s.progress.setName("-");
  s.progress.percent = 100;
  return !stopped;
}

}  // namespace

bool convertAll(Session& s) {
  const bool listsFirst = s.deferred && s.deferred->pending();
  if (listsFirst) {
    const std::vector<DeferredListing::Step> candidates = s.deferred->candidates();
    if (listsWhileConverting(s, candidates)) return listAndConvert(s, candidates);
    ImageListBuilder(listContextOf(s)).listDeferred();
    if (s.list.empty()) return true;
  }
  RunLog log(s.texts, s.settings, s.observer);
  if (listsFirst) log.start(std::time(nullptr));  // after the lines of the listing just made
  const int count = static_cast<int>(s.list.size());
  s.progress.reset();
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
      convertImage(s, ws, image, finished.mutex(), i, count, budget, std::nullopt);
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
