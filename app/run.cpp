#include "app/run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <exception>
#include <new>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <filesystem>
#include <optional>
#include <chrono>
#include <climits>
#include <algorithm>

#include "app/budget.h"
#include "app/heap.h"
#include "app/image_list.h"
#include "app/in_order.h"
#include "app/log.h"
#include "app/naming.h"
#include "core/file_format.h"
#include "core/text.h"
#include "engine/composite.h"
#include "engine/status.h"

namespace pv::app {

namespace {

constexpr std::uint16_t kUnspecifiedException = 20149;
using Clock = std::chrono::steady_clock;

// Runs one engine step; an exception inside it becomes that step's status.
template <typename F>
short guardedStatus(F&& step) {
  try {
    return static_cast<short>(step());
  } catch (const std::bad_alloc&) {
    return static_cast<short>(engine::kOutOfMemory);
  } catch (const std::exception&) {
    return static_cast<short>(kUnspecifiedException);
  }
}

// Removes the temporary files of a save into `target` that a killed run left
// behind (engine saves write "<target>.pvtmp-XXXXXX" and rename it).
void removeTemporaries(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const std::string prefix = target.substr(slash == std::string::npos ? 0 : slash + 1) + ".pvtmp-";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) std::filesystem::remove(e.path(), ec);
  }
}

bool nonEmptyFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// The output names of a run. Images reserve their names in list order, each
// when every image before it has, so that workers never pick the same name.
// A name that an earlier image is still writing is settled first (written,
// it is taken; failed, it is free), so the numbering is the one a single
// worker gives.
class NameBook {
 public:
  void awaitTurn(int index) {
    std::unique_lock lock(mutex_);
    turn_.wait(lock, [&] { return next_ == index; });
  }
  void endTurn() {
    {
      std::lock_guard lock(mutex_);
      ++next_;
    }
    turn_.notify_all();
  }
  std::string reserve(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page) {
    std::unique_lock lock(mutex_);
    for (;;) {
      std::string unsettled;
      std::string name = MakeOutputName(settings, entry, extension, page, true, [&](const std::string& path) {
        if (!pending_.count(path)) return false;
        if (unsettled.empty()) unsettled = path;
        return true;
      });
      if (unsettled.empty()) {
        pending_.insert(name);
        return name;
      }
      settled_.wait(lock, [&] { return pending_.count(unsettled) == 0; });
    }
  }
  // The image that reserved `name` has written it, or failed.
  void settle(const std::string& name) {
    {
      std::lock_guard lock(mutex_);
      pending_.erase(name);
    }
    settled_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_, settled_;
  int next_ = 0;
  std::set<std::string> pending_;
};

// One image of a run.
class ImageConversion {
 public:
  using Emit = std::function<void(const OutcomeRecord&)>;
  ImageConversion(Session& s, NameBook& names, Emit emit, int index)
      : s_(s),
        names_(names),
        emit_(std::move(emit)),
        index_(index),
        e_(s.list[static_cast<std::size_t>(index)]),
        source_(e_.path()) {}

  // Decides, in the image's turn, whether it is already done (--skip-done)
  // and reserves the names it will write.
  void plan() {
    if (s_.settings.skipDone && upToDate()) {
      skipped_ = true;
      return;
    }
    for (int page : outputPages()) planned_[page] = names_.reserve(s_.settings, e_, s_.format->extension, page);
  }

  void run() {
    formats::Format& f = *s_.format;
    if (skipped_) return;
    chooseDepths();
    const std::string ext = asciiLower(e_.extension);
    if (ext == "sid" || ext == "fpx" || ext == "pcd")
      guardedStatus([&] { return (engine::ChooseLoadResolution(s_.primary, source_), 0); });
    code_ = static_cast<short>(f.FileFormatCode(f.method));

    const int option = s_.settings.MultiPageOption;
    short status = 0;
    if (f.isClipboard()) {
      status = toClipboard();
    } else if (!e_.multiPage) {
      status = single(0);
    } else if (option == 0 && f.multiPage) {
      status = f.writesPagesTogether() ? allPagesAtOnce() : pageByPage();
    } else if (option == 0 || option == 2) {
      status = single(e_.firstPage);
    } else if (option == 1) {
      separatePages();
      return;
    } else {
      // An unknown option passes the image over untouched.
      OutcomeRecord r = record(0);
      r.passedOver = true;
      emit_(r);
      return;
    }
    OutcomeRecord r = record(static_cast<std::uint16_t>(status));
    if (status == 0) {
      r.outputs = outputs_;
      afterSuccess(r);
    }
    emit_(r);
  }

  // Called when the image is done with its names, whatever happened.
  void settleNames() {
    for (const auto& [page, reserved] : planned_) names_.settle(reserved);
  }

  // The pixels the image holds decoded at once, for the budget.
  double pixels() const {
    const bool together = s_.format->writesPagesTogether() && e_.multiPage && s_.settings.MultiPageOption == 0;
    return std::max(1.0, static_cast<double>(e_.width) * e_.height * (together ? e_.pageCount : 1));
  }

 private:
  void chooseDepths() {
    formats::Format& f = *s_.format;
    int target = f.OutputDepth(static_cast<int>(e_.sourceBits));
    const int code = e_.sourceFormat;
    // Transparency survives: alpha (an icon's mask is alpha too) needs 32
    // bits where the method's 32 bits are colour and alpha (not CMYK); a
    // transparent colour is kept at any depth of a format with colour keys
    // (PNG: a palette entry or a key), at 32 bits in the others.
    const bool alpha32 = f.NearestAllowedDepth(f.method, 32) == 32 && !fmt::isCmyk(f.FileFormatCode(f.method));
    const bool keyed = f.row().colourKey;
    if (f.keepsTransparency() && target < 32 && alpha32 &&
        (e_.seeThrough || fmt::isIconFamily(code) || (e_.hasTransparentColor && !keyed)))
      target = 32;
    else if (f.keepsTransparency() && keyed && target > 8 && target < 24 && e_.hasTransparentColor)
      target = 24;
    loadBits_ = iequals(e_.extension, "png") && e_.sourceBits < 32 ? 32 : 0;
    // A plain 32-bit bitmap's fourth byte is padding; one with an alpha mask
    // keeps it.
    if (iequals(e_.extension, "bmp") && target == 32 && !e_.seeThrough) target = 24;
    target_ = target;
    e_.targetBits = static_cast<std::uint32_t>(target);
  }

  short load(int page, int count) {
    s_.progress.gate.pass();
    applyPhotoSettings(s_.primary, s_.settings);
    if (count == 1) AllowReducedLoad(s_, index_);
    return guardedStatus([&] { return s_.primary.LoadImage(source_, loadBits_, page, count); });
  }
  // Filters and the format's preparation, and the name reserved for `page`
  // (when `named`).
  std::string prepare(int page, bool named) {
    guardedStatus([&] { return (PrepareOutput(s_, index_, page, true, true, true, -1, false), 0); });
    return named ? name(page) : std::string();
  }
  std::string name(int page) const {
    const auto at = planned_.find(page);
    return at == planned_.end() ? std::string() : at->second;
  }

  void flatten() {
    guardedStatus([&] {
      return (engine::FlattenTransparency(s_.primary, s_.secondary, static_cast<short>(e_.sourceFormat),
                                          0xFFFFFF, false),
              0);
    });
  }
  short save(const std::string& path, short pageMode) {
    s_.progress.gate.pass();
    return guardedStatus([&] {
      return s_.primary.SaveImage(path, code_, static_cast<short>(target_),
                                  static_cast<short>(s_.format->quality), pageMode);
    });
  }

  short toClipboard() {
    if (short st = load(e_.firstPage, 1)) return st;
    prepare(-1, false);
    flatten();
    s_.progress.gate.pass();
    return guardedStatus([&] { return s_.primary.CopyToClipboard(2); });
  }

  // A source saved as one image (single-page sources, or the first page).
  short single(int page) {
    if (short st = load(page, 1)) return st;  // never save what an earlier image left
    output_ = prepare(-1, true);
    outputs_.push_back(output_);
    flatten();
    return save(output_, 0);
  }

  // Every page appended to one multi-page output. Any failed page fails the
  // image, and the incomplete output is removed.
  short pageByPage() {
    output_ = name(-1);
    PrepareOutput(s_, index_, -1, true, false, false, -1, false);
    short first = 0;
    for (std::uint32_t p = 0; p < e_.pageCount; ++p) {
      short st = load(e_.firstPage + static_cast<int>(p), 1);
      if (st == 0) {
        prepare(-1, false);
        flatten();
        st = save(output_, 1);
      }
      if (st != 0 && first == 0) first = st;
    }
    if (first != 0)
      std::remove(output_.c_str());
    else
      outputs_.push_back(output_);
    return first;
  }

  // GIF output: all pages loaded at once, each filtered in turn; every save
  // writes all pages.
  short allPagesAtOnce() {
    output_ = name(-1);
    PrepareOutput(s_, index_, -1, true, false, false, -1, false);
    if (short st = load(e_.firstPage, -1)) return st;
    short first = 0;
    for (std::uint32_t p = 0; p < e_.pageCount; ++p) {
      guardedStatus([&] { return (s_.primary.SetPageNumber(static_cast<short>(p)), 0); });
      prepare(-1, false);
      flatten();
      const short st = save(output_, 0);
      if (st != 0 && first == 0) first = st;
    }
    if (first != 0)
      std::remove(output_.c_str());
    else
      outputs_.push_back(output_);
    return first;
  }

  // Each page in a file of its own, each with its own record. The last
  // page's record waits for what happens to the source.
  void separatePages() {
    bool every = e_.pageCount > 0, last = false;
    std::optional<OutcomeRecord> held;
    for (std::uint32_t p = 0; p < e_.pageCount; ++p) {
      if (held) emit_(*held);
      pageStarted_ = Clock::now();
      short st = load(e_.firstPage + static_cast<int>(p), 1);
      std::string out;
      if (st == 0) {
        out = prepare(static_cast<int>(p) + 1, true);
        flatten();
        st = save(out, 0);
        if (st == 0) outputs_.push_back(out);
      }
      last = st == 0;
      every = every && last;
      if (st == 0) pagesSeparately_ = true;
      held = record(static_cast<std::uint16_t>(st));
      held->page = static_cast<int>(p) + 1;
      if (st == 0) held->outputs = {out};
    }
    // The source goes only when every page is safely written.
    if (held && last) afterSuccess(*held, every);
    if (held) emit_(*held);
  }

  // With --skip-done: true (and the image's record written) when every file
  // this image would be saved to, named without numbering, is there, whole
  // and newer than the source. Otherwise the temporaries a killed run left
  // beside those files are removed before the image is converted again.
  bool upToDate() {
    std::vector<std::string> names;
    for (int page : outputPages()) names.push_back(MakeOutputName(s_.settings, e_, s_.format->extension, page, false));
    struct stat source {};
    bool done = stat(source_.c_str(), &source) == 0 && !names.empty();
    for (const std::string& name : names) {
      struct stat out {};
      done = done && stat(name.c_str(), &out) == 0 && S_ISREG(out.st_mode) && out.st_size > 0 &&
             (out.st_mtim.tv_sec > source.st_mtim.tv_sec ||
              (out.st_mtim.tv_sec == source.st_mtim.tv_sec && out.st_mtim.tv_nsec > source.st_mtim.tv_nsec));
    }
    if (done) {
      OutcomeRecord r = record(0);
      r.skipped = true;
      r.outputs = names;
      emit_(r);
      return true;
    }
    for (const std::string& name : names) removeTemporaries(name);
    return false;
  }

  // The pages the image is saved as files of, by the name's page number: each
  // page (1..n) when pages go to files of their own, -1 for one file, none
  // for the clipboard or an unknown multi-page option.
  std::vector<int> outputPages() const {
    const int option = s_.settings.MultiPageOption;
    if (s_.format->isClipboard()) return {};
    if (e_.multiPage && option == 1) {
      std::vector<int> pages;
      for (std::uint32_t p = 1; p <= e_.pageCount; ++p) pages.push_back(static_cast<int>(p));
      return pages;
    }
    if (!e_.multiPage || option == 0 || option == 2) return {-1};
    return {};
  }

  OutcomeRecord record(unsigned status) const {
    OutcomeRecord r;
    r.index = index_;
    r.source = source_;
    r.status = status;
    if (status != 0) r.text = std::string(errorMessage(status));
    r.metadataDropped = s_.primary.GetMetadataProblem();
    r.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pageStarted_).count();
    return r;
  }

  void afterSuccess(OutcomeRecord& r, bool everyPage = true) {
    const Settings& set = s_.settings;
    if (set.DeleteSourceAfterConvert) {
      bool safe = everyPage && !outputs_.empty();
      for (const std::string& out : outputs_) safe = safe && nonEmptyFile(out);
      if (!safe || std::remove(source_.c_str()) != 0) r.sourceNotDeleted = true;
    }
    if (set.OverwriteOriginalImage && !pagesSeparately_ && !output_.empty()) {
      const std::string plain = PrepareOutput(s_, index_, -1, false, false, false, -1, true);
      // One rename replaces the old file, so it is never lost if this fails.
      if (plain != output_ && std::rename(output_.c_str(), plain.c_str()) != 0) {
        r.outputNotRenamed = true;
      } else {
        std::replace(r.outputs.begin(), r.outputs.end(), output_, plain);
      }
    }
  }

  Session& s_;
  NameBook& names_;
  Emit emit_;
  std::map<int, std::string> planned_;  // the names reserved, by page (-1: the whole image)
  bool skipped_ = false;
  int index_;
  ImageEntry& e_;
  std::string source_;
  std::string output_;
  std::vector<std::string> outputs_;
  short loadBits_ = 0;
  int target_ = 0;
  short code_ = 0;
  bool pagesSeparately_ = false;
  Clock::time_point pageStarted_ = Clock::now();
};

}  // namespace

std::string PrepareOutput(Session& s, int index, int page, bool avoidExisting, bool applyFilters,
                          bool prepareImage, int filterCount, bool makeName) {
  std::string path;
  if (makeName)
    path = MakeOutputName(s.settings, s.list.at(static_cast<std::size_t>(index)), s.format->extension, page,
                          avoidExisting);
  try {
    s.primary.SetSavePasses(s.format->hasPasses ? static_cast<short>(s.format->passes) : 0);
  } catch (const std::exception&) {
  }
  if (applyFilters) {
    s.chain.apply(filterCount);
    if (prepareImage) s.format->PrepareImage(s.primary);
  }
  return path;
}

void AllowReducedLoad(Session& s, int index) {
  if (s.chain.size() == 0 || index < 0 || static_cast<std::size_t>(index) >= s.list.size()) return;
  const ImageEntry& e = s.list[static_cast<std::size_t>(index)];
  const auto w = static_cast<int>(std::min<std::uint32_t>(e.width, INT_MAX));
  const auto h = static_cast<int>(std::min<std::uint32_t>(e.height, INT_MAX));
  int toW = 0, toH = 0;
  if (s.chain.at(0).resamplesTo(w, h, toW, toH) && toW <= w / 2 && toH <= h / 2)
    s.primary.SetLoadAtLeast(toW, toH);
}

int WorkerCount(const Settings& settings, int images) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const int wanted = settings.Threads > 0 ? settings.Threads : cores;
  return std::clamp(std::min(wanted, images), 1, 64);
}

bool ConvertAll(Session& s) {
  RunLog log(s.settings, s.observer);
  const int count = static_cast<int>(s.list.size());
  s.progress.setName("-");
  s.progress.percent = 0;
  s.progress.count = 0;
  s.progress.total = count;
  const int workers = WorkerCount(s.settings, count);
  NameBook names;
  PixelBudget budget;

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
      ImageConversion image(ws, names, [&](const OutcomeRecord& r) { records.push_back(r); }, i);
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
      const double held = budget.acquire(image.pixels());
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

namespace {

// Counts the records on their way to the job's observer.
class Tally final : public JobObserver {
 public:
  explicit Tally(JobObserver* next) : next_(next) {}
  void started(int runKind, int total) override {
    if (next_) next_->started(runKind, total);
  }
  void outcome(const OutcomeRecord& r) override {
    if (r.skipped) ++skipped;
    else if (!r.passedOver) ++(r.succeeded() ? converted : failed);
    if (next_) next_->outcome(r);
  }
  void progress(int count, int total, int percent, const std::string& name) override {
    if (next_) next_->progress(count, total, percent, name);
  }
  int converted = 0, failed = 0, skipped = 0;

 private:
  JobObserver* next_;
};

}  // namespace

int ConversionWorker(Session& s, int runKind, const JobArgument& argument) {
  const HeapKeptForRun heap;
  const Clock::time_point begun = Clock::now();
  JobObserver* const watcher = s.observer;
  Tally tally(watcher);
  s.observer = &tally;
  tally.started(runKind, runKind == kRunConvert ? static_cast<int>(s.list.size()) : 0);
  if (!s.settings.commandLineMode) {
    s.settings.conversionLog.clear();
    s.settings.errorSummary.clear();
  }
  s.settings.conversionLog += startLine(std::time(nullptr));
  ImageListBuilder lister(
      {s.settings, s.primary, s.secondary, s.list, s.progress, s.running, s.prompter, &s.interrupted, &tally});
  const std::string* path = std::get_if<std::string>(&argument);
  // A listing stopped at any time is cut short; a conversion only when an
  // image did not begin, so the summary says what the log says.
  bool aborted = false;
  switch (runKind) {
    case kRunConvert:
      aborted = !ConvertAll(s);
      break;
    case kRunChosenFiles:
      if (const auto* chosen = std::get_if<ChosenFiles>(&argument))
        lister.addChosenFiles(chosen->folder, chosen->names);
      break;
    case kRunListFile:
      if (path) lister.ReadListFile(*path);
      break;
    case kRunWildcard:
      if (path) lister.addWildcard(*path);
      break;
    case kRunFolderSearch:
      if (path) lister.searchFolder(*path);
      break;
    case kRunDropped:
      if (const auto* dropped = std::get_if<std::vector<std::string>>(&argument)) lister.addDropped(*dropped);
      break;
    default:
      break;
  }
  if (runKind != kRunConvert) aborted = !s.running.load() || s.interrupted.load();
  s.settings.conversionLog += endLine(std::time(nullptr));
  if (s.settings.DoLog) SaveLog(s.settings, s.prompter);
  const JobSummary summary{runKind,
                           tally.converted,
                           tally.failed,
                           tally.skipped,
                           aborted,
                           std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun).count()};
  s.observer = watcher;
  s.running = false;
  if (watcher) watcher->finished(summary);
  return 0;
}

JobRunner::~JobRunner() {
  wait();
}

bool JobRunner::start(int runKind, JobArgument argument, JobObserver* observer) {
  if (!done_.load()) return false;
  wait();
  done_ = false;
  session_.running = true;
  // The job's own copy of what it needs, taken here on the owner's thread.
  work_ = std::make_unique<Session>(session_, Session::Snapshot{});
  work_->observer = observer;
  runKind_ = runKind;
  worker_ = std::thread([this, runKind, arg = std::move(argument)] {
    workerTid_ = static_cast<int>(gettid());
    applyPriority();
    ConversionWorker(*work_, runKind, arg);
    workerTid_ = 0;
    done_ = true;
  });
  return true;
}

void JobRunner::wait() {
  if (worker_.joinable()) worker_.join();
  if (!work_) return;
  // The job's results: its log and summary, and the list a list job built.
  session_.settings.conversionLog = std::move(work_->settings.conversionLog);
  session_.settings.errorSummary = std::move(work_->settings.errorSummary);
  if (runKind_ != kRunConvert) session_.list = std::move(work_->list);
  work_.reset();
}

void JobRunner::abort() {
  session_.running = false;
  session_.progress.gate.resume();
}

void JobRunner::setPriority(int level) {
  priority_ = std::clamp(level, 0, kPriorityCount - 1);
  applyPriority();
}

void JobRunner::applyPriority() {
  static constexpr std::array<int, kPriorityCount> kNice = {19, 10, 5, 0, -5, -10, -15};
  const int tid = workerTid_.load();
  if (tid == 0) return;
  // Raising the priority needs privileges; a refusal leaves it as it was.
  setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kNice[static_cast<std::size_t>(priority_.load())]);
}

}  // namespace pv::app
