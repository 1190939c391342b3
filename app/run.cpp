#include "app/run.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <exception>
#include <new>
#include <filesystem>
#include <optional>
#include <chrono>
#include <algorithm>

#include "app/image_list.h"
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

// One image of a run.
class ImageConversion {
 public:
  ImageConversion(Session& s, RunLog& log, int index)
      : s_(s), log_(log), index_(index), e_(s.list[static_cast<std::size_t>(index)]), source_(e_.path()) {}

  void run() {
    formats::Format& f = *s_.format;
    if (s_.settings.skipDone && !f.isClipboard() && upToDate()) return;
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
      log_.add(r);
      return;
    }
    OutcomeRecord r = record(static_cast<std::uint16_t>(status));
    if (status == 0) {
      r.outputs = outputs_;
      afterSuccess(r);
    }
    log_.add(r);
  }

 private:
  void chooseDepths() {
    formats::Format& f = *s_.format;
    int target = f.OutputDepth(static_cast<int>(e_.sourceBits));
    const int code = e_.sourceFormat;
    if (f.keepsTransparency() && target < 24 &&
        (e_.hasAlpha || e_.hasTransparentColor || fmt::isIconFamily(code)))
      target = 24;
    loadBits_ = iequals(e_.extension, "png") && e_.sourceBits < 32 ? 32 : 0;
    if (iequals(e_.extension, "bmp") && target == 32) target = 24;
    target_ = target;
    e_.targetBits = static_cast<std::uint32_t>(target);
  }

  short load(int page, int count) {
    s_.progress.gate.pass();
    return guardedStatus([&] { return s_.primary.LoadImage(source_, loadBits_, page, count); });
  }
  // Filters and the format's preparation, with or without a name.
  std::string prepare(int page, bool makeName) {
    std::string name;
    guardedStatus(
        [&] { return (name = PrepareOutput(s_, index_, page, true, true, true, -1, makeName), 0); });
    return name;
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
    prepare(-1, true);
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
    output_ = PrepareOutput(s_, index_, -1, true, false, false, -1, true);
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
    output_ = PrepareOutput(s_, index_, -1, true, false, false, -1, true);
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
      if (held) log_.add(*held);
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
    if (held) log_.add(*held);
  }

  // With --skip-done: true (and the image's record written) when every file
  // this image would be saved to, named without numbering, is there, whole
  // and newer than the source. Otherwise the temporaries a killed run left
  // beside those files are removed before the image is converted again.
  bool upToDate() {
    const bool separate = e_.multiPage && s_.settings.MultiPageOption == 1;
    std::vector<std::string> names;
    if (separate) {
      for (std::uint32_t p = 1; p <= e_.pageCount; ++p)
        names.push_back(MakeOutputName(s_.settings, e_, s_.format->extension, static_cast<int>(p), false));
    } else {
      names.push_back(MakeOutputName(s_.settings, e_, s_.format->extension, -1, false));
    }
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
      log_.add(r);
      return true;
    }
    for (const std::string& name : names) removeTemporaries(name);
    return false;
  }

  OutcomeRecord record(unsigned status) const {
    OutcomeRecord r;
    r.index = index_;
    r.source = source_;
    r.status = status;
    if (status != 0) r.text = std::string(errorMessage(status));
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
  RunLog& log_;
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

bool ConvertAll(Session& s) {
  RunLog log(s.settings, s.observer);
  const auto count = [&] { return static_cast<int>(s.list.size()); };
  s.progress.setName("-");
  s.progress.percent = 0;
  s.progress.count = 0;
  s.progress.total = count();
  s.primary.SetAutoRepaint(false);
  s.chain.beforeEach = [&] { s.progress.gate.pass(); };
  for (int i = 0; i < count(); ++i) {
    s.progress.gate.pass();
    const ImageEntry& e = s.list[static_cast<std::size_t>(i)];
    s.progress.setName(e.fileName);
    s.progress.count = i;
    s.progress.percent = static_cast<int>(static_cast<unsigned>(i) * 100u / static_cast<unsigned>(count()));
    if (s.observer) s.observer->progress(i, count(), s.progress.percent, e.fileName);
    // An abort or an interrupt stops before the next image, and the images
    // done so far are complete.
    if (!s.running.load() || s.interrupted.load()) {
      log.aborted();
      break;
    }
    s.currentEntry = i;
    ImageConversion(s, log, i).run();
  }
  s.chain.beforeEach = nullptr;
  s.currentEntry = -1;
  s.primary.SetAutoRepaint(true);
  s.progress.setName("-");
  s.progress.percent = 100;
  return true;
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
  switch (runKind) {
    case kRunConvert:
      ConvertAll(s);
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
  s.settings.conversionLog += endLine(std::time(nullptr));
  if (s.settings.DoLog) SaveLog(s.settings, s.prompter);
  const JobSummary summary{runKind,
                           tally.converted,
                           tally.failed,
                           tally.skipped,
                           !s.running.load() || s.interrupted.load(),
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
