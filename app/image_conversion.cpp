#include "app/image_conversion.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <utility>

#include "app/budget.h"
#include "app/image_list.h"
#include "app/log.h"
#include "app/naming.h"
#include "core/extensions.h"
#include "core/file_format.h"
#include "core/text.h"
#include "engine/capabilities.h"
#include "engine/composite.h"
#include "engine/outputs.h"
#include "engine/status.h"

namespace pv::app {

namespace {

using Clock = std::chrono::steady_clock;

bool nonEmptyFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// The save options of the session's format, for the next save.
void setSaveOptions(Session& s) {
  engine::guarded([&] { s.format->setSaveOptions(s.primary); });
}

// The size entry `e` is resampled to by the chain's first filter, when that
// filter resamples (measured from the entry's recorded size).
bool firstResample(const Session& s, const ImageEntry& e, int& toW, int& toH) {
  if (s.chain.size() == 0) return false;
  const auto w = static_cast<int>(std::min<std::uint32_t>(e.width, INT_MAX));
  const auto h = static_cast<int>(std::min<std::uint32_t>(e.height, INT_MAX));
  return s.chain.at(0).resamplesTo(w, h, toW, toH);
}

// Gives `path` the access and modification times `dates`; false when the
// file system refused them or stored another modification time: FAT keeps
// times in steps of two seconds from 1980 to 2107 only and may turn a date
// outside them into another without an error. A file that did not take the
// dates is dated now, never with a date its source did not have.
bool giveDates(const std::string& path, const std::array<timespec, 2>& dates) {
  struct stat st {};
  if (utimensat(AT_FDCWD, path.c_str(), dates.data(), 0) == 0 && stat(path.c_str(), &st) == 0) {
    const long long off = static_cast<long long>(st.st_mtim.tv_sec) - static_cast<long long>(dates[1].tv_sec);
    if (off >= -2 && off <= 2) return true;
    utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  }
  return false;
}

}  // namespace

ImageConversion::ImageConversion(Session& s, NameBook& names, Emit emit, int index)
    : s_(s),
      names_(names),
      emit_(std::move(emit)),
      index_(index),
      e_(s.list[static_cast<std::size_t>(index)]),
      source_(e_.path()) {}

void ImageConversion::plan() {
  const bool skipExisting = s_.settings.skipDone || s_.settings.WhenOutputExists == Settings::kSkipExisting;
  if (skipExisting && upToDate()) {
    skipped_ = true;
    return;
  }
  for (int page : outputPages()) {
    planned_[page] = names_.reserve(s_.settings, e_, s_.format->extension, page);
    names_.clearFolderOf(planned_[page]);
  }
}

void ImageConversion::run() {
  formats::Format& f = *s_.format;
  if (skipped_) return;
  if (struct stat st {}; s_.settings.KeepDates && stat(source_.c_str(), &st) == 0)
    sourceDates_ = std::array<timespec, 2>{st.st_atim, st.st_mtim};
  chooseDepths();
  const std::string ext = asciiLower(e_.extension);
  if (engine::holdsResolutions(ext))
    engine::guarded([&] { engine::chooseLoadResolution(s_.primary, source_); });
  code_ = static_cast<short>(f.fileFormatCode(f.method));

  const int option = s_.settings.MultiPageOption;
  short status = 0;
  if (f.isClipboard()) {
    status = toClipboard();
  } else if (!e_.multiPage) {
    status = single(0);
  } else if (option == 0 && f.multiPage) {
    status = allPages();
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
    if (s_.settings.OnlySmaller) keepSmallerSource(r);
    afterSuccess(r);
  }
  emit_(r);
}

void ImageConversion::settleNames() {
  for (const auto& [page, reserved] : planned_) names_.settle(reserved);
}

double ImageConversion::bytes() const {
  // A multi-page output holds the page in work and what its writer keeps:
  // one page more where the pages are written one at a time, every page
  // where they are gathered and written at the end.
  const formats::Format& f = *s_.format;
  const int code = f.fileFormatCode(f.method);
  double pages = 1;
  if (e_.multiPage && s_.settings.MultiPageOption == 0 && f.multiPage)
    pages = engine::writesPageByPage(code) ? 2 : std::max<std::uint32_t>(e_.pageCount, 1);
  const double pixels = std::max(1.0, static_cast<double>(e_.width) * e_.height);
  // The encoder works on the image as saved: the size the chain's first
  // filter resamples to, where it does, else the source's.
  double saved = pixels;
  if (int toW = 0, toH = 0; firstResample(s_, e_, toW, toH)) saved = std::max(1.0, static_cast<double>(toW) * toH);
  return pixels * pages * kDecodedBytesPerPixel +
         saved * engine::encoderBytesPerPixel(code, f.hasPasses ? static_cast<int>(f.passes) : 0);
}

void ImageConversion::chooseDepths() {
  formats::Format& f = *s_.format;
  int target = f.outputDepth(static_cast<int>(e_.sourceBits));
  const int code = e_.sourceFormat;
  // Transparency survives: alpha (an icon's mask is alpha too) needs 32
  // bits where the method's 32 bits are colour and alpha (not CMYK); a
  // transparent colour is kept at any depth of a format with colour keys
  // (PNG: a palette entry or a key), at 32 bits in the others.
  const bool alpha32 = f.nearestAllowedDepth(f.method, 32) == 32 && !fmt::isCmyk(f.fileFormatCode(f.method));
  const bool keyed = f.row().colourKey;
  if (f.keepsTransparency() && target < 32 && alpha32 &&
      (e_.seeThrough || fmt::isIconFamily(code) || (e_.hasTransparentColor && !keyed)))
    target = 32;
  else if (f.keepsTransparency() && keyed && target > 8 && target < 24 && e_.hasTransparentColor)
    target = 24;
  loadBits_ = loadBits();
  // A plain 32-bit bitmap's fourth byte is padding; one with an alpha mask
  // keeps it.
  if (iequals(e_.extension, "bmp") && target == 32 && !e_.seeThrough) target = 24;
  target_ = target;
  e_.targetBits = static_cast<std::uint32_t>(target);
}

short ImageConversion::loadBits() const {
  return iequals(e_.extension, "png") && e_.sourceBits < 32 ? 32 : 0;
}

std::optional<ImageConversion::FirstLoad> ImageConversion::firstLoad() const {
  const formats::Format& f = *s_.format;
  const int option = s_.settings.MultiPageOption;
  if (f.isClipboard() || engine::holdsResolutions(asciiLower(e_.extension))) return std::nullopt;
  if (e_.multiPage && (option < 0 || option > 2)) return std::nullopt;
  FirstLoad l{.bits = loadBits(), .page = e_.multiPage ? e_.firstPage : 0};
  if (!reducedLoadSize(s_, e_, l.atLeastWidth, l.atLeastHeight)) l.atLeastWidth = l.atLeastHeight = 0;
  return l;
}

short ImageConversion::load(int page, int count) {
  s_.progress.gate.pass();
  // The decode that listed the image is this one (its first).
  if (std::exchange(decoded_, false)) return 0;
  applyPhotoSettings(s_.primary, s_.settings);
  if (count == 1) allowReducedLoad(s_, index_);
  return engine::guarded([&] { return s_.primary.LoadImage(source_, loadBits_, page, count); });
}

void ImageConversion::prepare() {
  engine::guarded([&] { prepareOutput(s_, index_, {.applyFilters = true, .prepareImage = true}); });
}

std::string ImageConversion::name(int page) const {
  const auto at = planned_.find(page);
  return at == planned_.end() ? std::string() : at->second;
}

void ImageConversion::flatten() {
  engine::guarded([&] {
    return (engine::flattenTransparency(s_.primary, s_.secondary, static_cast<short>(e_.sourceFormat),
                                        0xFFFFFF, false),
            0);
  });
}

void ImageConversion::placeOutputs(int page) {
  // A name another program (another run) took since it was reserved is never
  // overwritten: the output takes the next number.
  engine::Placement placement;
  placement.replace = false;
  placement.another = [this, page](const std::string& taken) {
    return names_.another(s_.settings, e_, s_.format->extension, page, taken);
  };
  s_.primary.SetSavePlacement(std::move(placement));
}

void ImageConversion::written(int page, bool pagesTogether) {
  const std::string& path = s_.primary.GetSavedPath();
  names_.wrote(path);
  planned_[page] = path;
  output_ = path;
  outputs_.push_back(path);
  if (sourceDates_ && !giveDates(path, *sourceDates_)) datesNotKept_ = true;
  sizeTarget_.reset();
  const engine::SizeLimit limit = s_.format->sizeLimit();
  if (limit.bytes == 0) return;
  OutcomeRecord::SizeTarget t{.quality = s_.format->quality, .limit = limit.bytes, .pagesTogether = pagesTogether};
  if (const auto& outcome = s_.primary.GetSizeOutcome(); outcome && !t.pagesTogether) {
    t.quality = outcome->quality;
    t.bytes = outcome->bytes;
  } else if (struct stat st {}; stat(path.c_str(), &st) == 0) {
    t.bytes = static_cast<std::uint64_t>(st.st_size);
  }
  sizeTarget_ = t;
}

short ImageConversion::save(int page) {
  s_.progress.gate.pass();
  placeOutputs(page);
  const short st = engine::guarded([&] {
    return s_.primary.SaveImage(name(page), code_, static_cast<short>(target_),
                                static_cast<short>(s_.format->quality), 0);
  });
  if (st == 0) written(page);
  return st;
}

short ImageConversion::toClipboard() {
  if (short st = load(e_.firstPage, 1)) return st;
  prepare();
  flatten();
  s_.progress.gate.pass();
  return engine::guarded([&] { return s_.primary.CopyToClipboard(2); });
}

short ImageConversion::single(int page) {
  if (short st = load(page, 1)) return st;  // never save what an earlier image left
  prepare();
  flatten();
  return save(-1);
}

short ImageConversion::allPages() {
  setSaveOptions(s_);
  placeOutputs(-1);
  short first = engine::guarded([&] {
    return s_.primary.StartPages(name(-1), code_, static_cast<short>(target_),
                                 static_cast<short>(s_.format->quality));
  });
  for (std::uint32_t p = 0; first == 0 && p < e_.pageCount; ++p) {
    first = load(e_.firstPage + static_cast<int>(p), 1);
    if (first != 0) break;
    prepare();
    flatten();
    s_.progress.gate.pass();
    first = engine::guarded([&] { return s_.primary.AddPage(); });
  }
  const short end = engine::guarded([&] { return s_.primary.EndPages(first == 0); });
  if (first == 0) first = end;
  if (first == 0) written(-1, true);
  return first;
}

void ImageConversion::separatePages() {
  bool every = e_.pageCount > 0, last = false;
  std::optional<OutcomeRecord> held;
  for (std::uint32_t p = 0; p < e_.pageCount; ++p) {
    if (held) emit_(*held);
    pageStarted_ = Clock::now();
    short st = load(e_.firstPage + static_cast<int>(p), 1);
    std::string out;
    if (st == 0) {
      prepare();
      flatten();
      st = save(static_cast<int>(p) + 1);
      if (st == 0) out = output_;
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

bool ImageConversion::upToDate() {
  std::vector<std::string> names;
  for (int page : outputPages())
    names.push_back(makeOutputName(s_.settings, e_, s_.format->extension, page, false));
  for (const std::string& name : names) names_.clearFolderOf(name);
  struct stat source {};
  bool done = stat(source_.c_str(), &source) == 0 && !names.empty();
  for (const std::string& name : names) {
    struct stat out {};
    // An output that kept its source's dates is as old as the source.
    done = done && stat(name.c_str(), &out) == 0 && S_ISREG(out.st_mode) && out.st_size > 0 &&
           (out.st_mtim.tv_sec > source.st_mtim.tv_sec ||
            (out.st_mtim.tv_sec == source.st_mtim.tv_sec && out.st_mtim.tv_nsec >= source.st_mtim.tv_nsec));
  }
  if (done) {
    OutcomeRecord r = record(0);
    r.skipped = true;
    r.outputs = names;
    emit_(r);
    return true;
  }
  return false;
}

std::vector<int> ImageConversion::outputPages() const {
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

OutcomeRecord ImageConversion::record(unsigned status) const {
  OutcomeRecord r;
  r.index = index_;
  r.source = source_;
  r.status = status;
  if (status != 0) r.text = std::string(errorMessage(status));
  r.metadataDropped = s_.primary.GetMetadataProblem();
  r.datesNotKept = datesNotKept_;
  if (status == 0) r.sizeTarget = sizeTarget_;
  if (ranAlone_) {
    r.memoryNeeded = ranAlone_->first;
    r.memoryBudget = ranAlone_->second;
  }
  r.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pageStarted_).count();
  return r;
}

void ImageConversion::afterSuccess(OutcomeRecord& r, bool everyPage) {
  const Settings& set = s_.settings;
  if (set.DeleteSourceAfterConvert) {
    bool safe = everyPage && !outputs_.empty();
    for (const std::string& out : outputs_) safe = safe && nonEmptyFile(out);
    if (!safe || std::remove(source_.c_str()) != 0) r.sourceNotDeleted = true;
  }
  if (pagesSeparately_ || output_.empty()) return;
  // The name without numbering: where it differs, the output was numbered
  // because a file had that name.
  const std::string plain = makeOutputName(set, e_, s_.format->extension, -1, false);
  if (plain == output_) return;
  // Overwriting: one rename replaces the old file, so it is never lost if
  // this fails. Never the output of another image of this run, nor another
  // image's source: the output then stays under its numbered name.
  if (!set.overwritesOutputs() || !names_.mayReplace(plain, source_) ||
      std::rename(output_.c_str(), plain.c_str()) != 0) {
    r.outputNotRenamed = set.overwritesOutputs();
    r.numbered = true;
    return;
  }
  r.overwrote = true;
  std::replace(r.outputs.begin(), r.outputs.end(), output_, plain);
}

void ImageConversion::keepSmallerSource(OutcomeRecord& r) {
  if (outputs_.size() != 1 || pagesSeparately_) return;
  const std::string out = outputs_.front();
  const std::string_view family = familyOfName(source_);
  struct stat source {}, output{};
  if (family.empty() || family != familyOfName(out) || stat(source_.c_str(), &source) != 0 ||
      stat(out.c_str(), &output) != 0 || output.st_size <= source.st_size)
    return;
  if (engine::replaceWithCopy(source_, out) != 0) return;
  if (sourceDates_ && !giveDates(out, *sourceDates_)) r.datesNotKept = true;
  r.sourceKept = true;
}

std::string prepareOutput(Session& s, int index, const OutputSteps& steps) {
  std::string path;
  if (steps.makeName)
    path = makeOutputName(s.settings, s.list.at(static_cast<std::size_t>(index)), s.format->extension,
                          steps.page, steps.avoidExisting);
  setSaveOptions(s);
  if (steps.applyFilters) {
    s.chain.apply(steps.filterCount);
    if (steps.prepareImage) s.format->prepareImage(s.primary);
  }
  return path;
}

bool reducedLoadSize(const Session& s, const ImageEntry& e, int& toW, int& toH) {
  return firstResample(s, e, toW, toH) && toW <= static_cast<int>(std::min<std::uint32_t>(e.width, INT_MAX)) / 2 &&
         toH <= static_cast<int>(std::min<std::uint32_t>(e.height, INT_MAX)) / 2;
}

void allowReducedLoad(Session& s, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= s.list.size()) return;
  if (int toW = 0, toH = 0; reducedLoadSize(s, s.list[static_cast<std::size_t>(index)], toW, toH))
    s.primary.SetLoadAtLeast(toW, toH);
}

}  // namespace pv::app
