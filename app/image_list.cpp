#include "app/image_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <filesystem>
#include <set>
#include <utility>

#include "app/budget.h"
#include "app/in_order.h"
#include "app/log.h"
#include "app/run.h"
#include "app/session.h"
#include "core/extensions.h"
#include "core/file_format.h"
#include "core/ini.h"
#include "core/text.h"
#include "engine/capabilities.h"
#include "engine/composite.h"
#include "engine/handles.h"
#include "engine/lead.h"
#include "engine/status.h"

namespace fs = std::filesystem;

namespace pv::app {

bool wildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*" || pattern == "*") return true;
  // Iterative match with one backtrack point for the last '*'.
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1, n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

namespace {

std::string afterLastSlash(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Names of the entries of `folder` (which ends in '/'), sorted, split into
// real folders (not links) and everything else. A folder that cannot be
// listed gives nothing, and says so.
struct Listing {
  std::vector<std::string> folders, others;
  bool readable = true;
};
Listing listFolder(const std::string& folder) {
  Listing out;
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? "." : folder, ec), end;
  out.readable = !ec;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    const bool isFolder = it->symlink_status(kind).type() == fs::file_type::directory;
    (isFolder ? out.folders : out.others).push_back(it->path().filename().string());
  }
  std::sort(out.folders.begin(), out.folders.end());
  std::sort(out.others.begin(), out.others.end());
  return out;
}

// What a candidate whose facts cannot be read is logged with: a file that is
// not there, cannot be read (its permissions) or is no regular file (a pipe,
// a socket, a device), one larger than the pixel limit, or a want of memory,
// each as itself; anything else (a folder named like an image included) is
// no image.
unsigned listingStatus(const std::string& path, short status) {
  struct stat st {};
  if (status == engine::kCannotOpen && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return kNotAnImageStatus;
  switch (status) {
    case engine::kFileNotFound:
    case engine::kCannotOpen:
    case engine::kTooLarge:
    case engine::kOutOfMemory:
      return static_cast<std::uint16_t>(status);
    default:
      return kNotAnImageStatus;
  }
}

}  // namespace

bool ImageListBuilder::aborted() const {
  return !c_.running.load() || (c_.interrupted && c_.interrupted->load());
}

void ImageListBuilder::report(const std::string& path, unsigned status, const ImageEntry* added,
                              std::chrono::steady_clock::time_point started) {
  OutcomeRecord r;
  if (added) r.entry = std::make_shared<const ImageEntry>(*added);
  r.kind = OutcomeRecord::kListEntry;
  r.source = path;
  r.status = status;
  if (status != 0) r.text = status == kNotAnImageStatus ? kNotAnImageText : std::string(errorMessage(status));
  r.milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
          .count();
  logListRecord(c_.texts, r);
  if (c_.observer) c_.observer->outcome(r);
}

bool ImageListBuilder::isAcceptedFile(const std::string& path, bool extensionTest) {
  if (extensionTest && !acceptedImageName(path)) return false;
  askForListingScale(c_.primary);
  const bool ok = openImage(path, true);
  c_.primary.SetLoadAtLeast(0, 0);
  return ok;
}

// A candidate is listed, not converted: a JPEG is decoded at the smallest
// scale that still gives its thumbnail (every coefficient is still read, so a
// damaged file fails as at full size).
void ImageListBuilder::askForListingScale(engine::CLead& lead) const {
  lead.SetLoadAtLeast(thumbnails() ? thumbnailSide(kThumbnailWidth) : 1,
                      thumbnails() ? thumbnailSide(kThumbnailHeight) : 1);
}

void applyPhotoSettings(engine::CLead& lead, const Settings& settings) {
  lead.SetAutoOrient(settings.AutoOrient);
  lead.SetKeepMetadata(settings.KeepMetadata);
  lead.SetKeepLocation(!settings.StripLocation);
}

bool ImageListBuilder::openImage(const std::string& path, bool logging) {
  openStarted_ = std::chrono::steady_clock::now();
  const unsigned status = openOn(c_.primary, path);
  if (status != 0 && logging) report(path, status, nullptr, openStarted_);
  return status == 0;
}

unsigned ImageListBuilder::openOn(engine::CLead& lead, const std::string& path,
                                  const ChooseDecode& choose) const {
  applyPhotoSettings(lead, c_.settings);
  const std::string lower = asciiLower(path);
  const std::size_t dot = lower.rfind('.'), slash = lower.rfind('/');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
    ext = lower.substr(dot + 1);
  else if (slash != std::string::npos)
    ext = lower.substr(slash + 1);
  else
    ext = lower;

  unsigned result = 0;
  try {
    lead.SetAutoRepaint(false);
    engine::guarded([&] { return lead.FreeRegion(); });
    short status = 0;
    if (ext != "sff" && (status = lead.ReadFileInfo(path, -1, 1)) != 0) {
      result = listingStatus(path, status);
    } else {
      if (engine::holdsResolutions(ext)) engine::chooseLoadResolution(lead, path);
      // A listed JPEG is decoded at the smallest DCT scale that gives its
      // thumbnail: a quarter of each side or less for any JPEG large enough
      // to matter, so a sixteenth of its pixels is counted.
      Decode d{.bits = static_cast<short>(ext == "png" && lead.GetInfoBits() > 23 ? 32 : 0),
               .page = lead.GetInfoPageCount() == 1 ? 0 : 1,
               .pixels = ext == "sff" ? 0.0
                                      : static_cast<double>(lead.GetInfoValue44()) * lead.GetInfoHeight() *
                                            (lead.GetInfoFormat() == fmt::kJpeg ? 1.0 / 16 : 1.0)};
      if (choose) choose(lead, d);
      status = lead.LoadImage(path, d.bits, d.page, 1);
      if (status != 0) result = static_cast<std::uint16_t>(status);
    }
  } catch (const std::exception& e) {
    // Running out of memory says so; any other failure is no image.
    result = engine::statusOf(e) == engine::kOutOfMemory ? static_cast<unsigned>(engine::kOutOfMemory)
                                                         : kNotAnImageStatus;
  }
  engine::guarded([&] { lead.SetAutoRepaint(true); });
  return result;
}

void ImageListBuilder::addImage(const std::string& path) {
  c_.list.push_back(entryOf(c_.primary, c_.secondary, path));
  report(path, 0, &c_.list.back(), openStarted_);
}

ListContext listContextOf(Session& s) {
  return {s.settings, s.texts, s.primary, s.secondary, s.list,          s.progress,
          s.running,  s.prompter, &s.interrupted, s.observer, s.deferred.get()};
}

ImageEntry entryOfPath(const std::string& path) {
  ImageEntry e;
  const std::size_t slash = path.rfind('/');
  e.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  e.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = e.fileName.rfind('.');
  e.extension = dot == std::string::npos ? std::string() : e.fileName.substr(dot + 1);
  return e;
}

ImageEntry ImageListBuilder::entryOf(engine::CLead& lead, engine::CLead& scratch,
                                     const std::string& path) const {
  ImageEntry e = entryOfPath(path);
  engine::guarded([&] { e.value44 = lead.GetInfoValue44(); });
  engine::guarded([&] {
    const engine::PhotoFacts facts = lead.GetPhotoFacts();
    e.dateTaken = facts.taken;
    e.camera = facts.camera;
    return 0;
  });
  engine::guarded([&] { e.width = static_cast<std::uint32_t>(std::max(0.0f, lead.GetImageWidth())); });
  engine::guarded([&] { e.height = static_cast<std::uint32_t>(std::max(0.0f, lead.GetImageHeight())); });
  if (lead.GetLoadScale() > 1) {
    // Decoded smaller for the list: the file's own size is the image's, turned
    // as the image was.
    const auto [w, h] = lead.GetUprightFileSize();
    e.width = static_cast<std::uint32_t>(std::max(0, w));
    e.height = static_cast<std::uint32_t>(std::max(0, h));
  }
  engine::guarded([&] { e.sourceBits = static_cast<std::uint32_t>(std::max<short>(0, lead.GetInfoBits())); });
  engine::guarded([&] { e.pageCount = static_cast<std::uint32_t>(std::max(0, lead.GetInfoPageCount())); });
  e.firstPage = 1;
  engine::guarded([&] { e.sourceFormat = lead.GetInfoFormat(); });
  e.multiPage = e.pageCount >= 2;
  engine::guarded([&] { e.hasAlpha = lead.GetHasAlpha(); });
  engine::guarded([&] { e.hasTransparentColor = lead.GetUseTransparentColor(); });
  engine::guarded([&] { e.seeThrough = lead.GetHasTransparency(); });
  if (thumbnails()) {
    engine::guarded([&] {
      engine::flattenTransparency(lead, scratch, static_cast<short>(e.sourceFormat), 0xFFFFFF, true);
      const double w = lead.GetImageWidth(), h = lead.GetImageHeight();
      if (w <= 0 || h <= 0) return;
      const double scale = std::min(thumbnailSide(kThumbnailWidth) / w, thumbnailSide(kThumbnailHeight) / h);
      const float tw = static_cast<float>(std::max(1.0, std::round(w * scale)));
      const float th = static_cast<float>(std::max(1.0, std::round(h * scale)));
      static_cast<void>(lead.ResizeImage(tw, th, w >= tw && h >= th ? 4 : 0));
      e.thumbnailWidth = static_cast<std::uint32_t>(lead.GetDisplayWidth());
      e.thumbnailHeight = static_cast<std::uint32_t>(lead.GetDisplayHeight());
      e.thumbnail = engine::handles::take(lead.MakeGdiBitmap(lead.GetDrawContext()));
    });
  }
  return e;
}

ImageListBuilder::Examined ImageListBuilder::examine(engine::CLead& lead, engine::CLead& scratch,
                                                    const std::string& path, const ChooseDecode& choose) const {
  Examined x;
  x.started = std::chrono::steady_clock::now();
  x.candidate = acceptedImageName(path);
  if (!x.candidate) return x;
  askForListingScale(lead);
  x.status = openOn(lead, path, choose);
  lead.SetLoadAtLeast(0, 0);
  if (x.status == 0) x.entry = entryOf(lead, scratch, path);
  return x;
}

void ImageListBuilder::deliver(const std::string& path, const std::string& subFolder, Examined& x) {
  if (x.candidate && x.status == 0) {
    x.entry.subFolder = subFolder;
    c_.list.push_back(std::move(x.entry));
    report(path, 0, &c_.list.back(), x.started);
  } else if (x.candidate) {
    report(path, x.status, nullptr, x.started);
  }
}

void ImageListBuilder::logFailure(const std::string& path, unsigned status) {
  if (c_.deferred && !replaying_ && c_.deferred->pending())
    c_.deferred->steps.push_back({DeferredListing::Step::kLogged, path, {}, status});
  else
    logOpenFailure(c_.texts, path, status);
}

void ImageListBuilder::writeStepsBefore(std::size_t end) {
  DeferredListing& d = *c_.deferred;
  for (; d.written < end && d.written < d.steps.size(); ++d.written) {
    const DeferredListing::Step& st = d.steps[d.written];
    if (st.kind == DeferredListing::Step::kLogged)
      logOpenFailure(c_.texts, st.path, st.status);
    else if (st.kind == DeferredListing::Step::kReported)
      report(st.path, st.status, nullptr, std::chrono::steady_clock::now());
  }
}

void ImageListBuilder::deliverDeferred(int k, Examined& x) {
  DeferredListing& d = *c_.deferred;
  std::size_t at = d.written;
  while (at < d.steps.size() && d.steps[at].kind != DeferredListing::Step::kCandidate) ++at;
  writeStepsBefore(at);
  if (at >= d.steps.size()) return;
  const DeferredListing::Step& st = d.steps[at];
  deliver(st.path, st.subFolder, x);
  d.written = at + 1;
  c_.progress.count = k + 1;
}

void ImageListBuilder::finishDeferred() {
  writeStepsBefore(c_.deferred->steps.size());
  c_.deferred->steps.clear();
  c_.deferred->written = 0;
  finish();
}

void ImageListBuilder::listDeferred() {
  const std::vector<DeferredListing::Step> steps = c_.deferred->candidates();
  std::vector<Candidate> candidates;
  for (const DeferredListing::Step& st : steps)
    candidates.push_back({st.path, afterLastSlash(st.path), static_cast<int>(candidates.size()), st.subFolder});
  replaying_ = true;
  examineAll(candidates, static_cast<int>(candidates.size()), false);
  replaying_ = false;
  finishDeferred();
}

bool ImageListBuilder::examineAll(const std::vector<Candidate>& candidates, int total, bool stoppable) {
  // A deferred listing keeps the candidates for the run (names that fail
  // the extension test are no candidates, and say nothing).
  if (c_.deferred && !replaying_) {
    for (const Candidate& c : candidates)
      if (acceptedImageName(c.path))
        c_.deferred->steps.push_back({DeferredListing::Step::kCandidate, c.path, c.subFolder, 0});
    return true;
  }
  const int count = static_cast<int>(candidates.size());
  const int workers = workerCount(c_.settings, count);
  // Every worker opens its candidates on controls of its own (worker 0 on the
  // list's); entries and records reach the list, the log and the observer in
  // the candidates' order, as one worker gives them. After a stop nothing
  // more is delivered: candidates the other workers already opened are
  // dropped, so the list ends where one worker's would.
  bool stopped = false;  // under the delivery's lock
  InListOrder<Examined> found(count, [&](int i, Examined& x) {
    if (stoppable && (stopped || aborted())) {
      stopped = true;
      return;
    }
    const Candidate& c = candidates[static_cast<std::size_t>(i)];
    if (replaying_)
      deliverDeferred(i, x);
    else
      deliver(c.path, c.subFolder, x);
    c_.progress.count = c.index + 1;
    c_.progress.percent = total > 0 ? static_cast<int>(static_cast<long long>(c.index + 1) * 100 / total) : 0;
  });
  std::atomic<int> next{0};
  MemoryBudget budget(MemoryBudget::of(c_.settings));
  onWorkers(workers, [&](int w) {
    std::unique_ptr<engine::CLead> ownPrimary, ownScratch;
    if (w > 0) ownPrimary = std::make_unique<engine::CLead>(), ownScratch = std::make_unique<engine::CLead>();
    engine::CLead& lead = w > 0 ? *ownPrimary : c_.primary;
    engine::CLead& scratch = w > 0 ? *ownScratch : c_.secondary;
    for (;;) {
      c_.progress.gate.pass();
      if (stoppable && aborted()) break;
      const int i = next.fetch_add(1);
      if (i >= count) break;
      const Candidate& c = candidates[static_cast<std::size_t>(i)];
      const std::string& path = c.path;
      {
        // The progress names the candidate being opened and counts the ones
        // delivered, so that it never goes back.
        std::lock_guard lock(found.mutex());
        c_.progress.setName(c.name);
      }
      // Several huge images are not decoded at once.
      double held = 0;
      Examined x = examine(lead, scratch, path, [&](engine::CLead&, Decode& d) {
        held = budget.acquire(std::max(1.0, d.pixels) * kDecodedBytesPerPixel);
      });
      budget.release(held);
      found.put(i, std::move(x));
    }
  });
  std::lock_guard lock(found.mutex());
  return !stopped && next.load() >= count;  // every candidate was delivered
}

void ImageListBuilder::finish() {
  c_.progress.setName("-");
  c_.progress.percent = 100;
}

void ImageListBuilder::addChosenFiles(const std::string& folder, const std::vector<std::string>& names) {
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  const int total = static_cast<int>(names.size());
  c_.progress.total = total;
  std::vector<Candidate> candidates;
  for (int i = 0; i < total; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    candidates.push_back({base + name, name, i});
  }
  if (examineAll(candidates, total, true)) finish();
}

bool ImageListBuilder::readListFile(const std::string& path) {
  // The whole file at once: lines of any length stay whole.
  std::string text;
  bool readable = false;
  // "-" is standard input, so a list can come down a pipe.
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st {};
    readable = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    char buf[1 << 16];
    while (readable) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) readable = false;
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    if (!standardInput) ::close(fd);
  }
  if (!readable) {
    if (c_.settings.ShowMessages) c_.prompter.error(c_.settings.caption, kFileLoadFailedText);
    return false;
  }
  c_.progress.setName("-");
  c_.progress.percent = 0;
  c_.progress.count = 0;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text, start, end - start);
    start = end + 1;
  }
  const int total = static_cast<int>(lines.size());
  c_.progress.total = total;
  std::vector<Candidate> candidates;
  for (int k = 0; k < total; ++k) {
    std::string& line = lines[static_cast<std::size_t>(k)];
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) candidates.push_back({line, afterLastSlash(line), k});
  }
  if (aborted() || !examineAll(candidates, total, true)) return false;
  finish();
  return true;
}

void ImageListBuilder::addWildcard(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  std::vector<std::string> names;
  for (std::string& name : listFolder(folder).others)
    if (wildcardMatch(pattern, name)) names.push_back(std::move(name));
  const int total = static_cast<int>(names.size());
  c_.progress.total = total;
  std::vector<Candidate> candidates;
  for (int i = 0; i < total; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    candidates.push_back({folder + name, name, i});
  }
  if (examineAll(candidates, total, true)) finish();
}

void ImageListBuilder::searchFolder(const std::string& folderIn, const std::string& pattern) {
  const std::string top = folderIn.empty() || folderIn.back() == '/' ? folderIn : folderIn + "/";
  c_.progress.setName("Making search list...");
  // Folders breadth first. Links are never descended into, and a folder seen
  // before (a bind mount of its parent) is not visited twice.
  std::vector<std::string> folders{top};
  std::set<std::pair<dev_t, ino_t>> seen;
  // The folders a run writes into are never searched, however they are
  // named: the outputs of one run are no sources of the next.
  std::set<std::pair<dev_t, ino_t>> outputs;
  const auto noteOutputFolder = [&](const std::string& folder) {
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) outputs.insert({st.st_dev, st.st_ino});
  };
  const Settings& set = c_.settings;
  if (!set.UseSourcePathForOutput && set.OutPutDir.starts_with('/')) noteOutputFolder(set.OutPutDir);
  std::vector<std::vector<std::string>> files;
  int total = 0;
  for (std::size_t i = 0; i < folders.size(); ++i) {
    if (aborted()) return;
    struct stat st {};
    const bool known = stat(folders[i].empty() ? "." : folders[i].c_str(), &st) == 0;
    if (known &&
        (!seen.insert({st.st_dev, st.st_ino}).second || (i > 0 && outputs.count({st.st_dev, st.st_ino})))) {
      files.emplace_back();
      continue;
    }
    // Images found here are written below this folder when the output
    // folder is a relative one.
    if (!set.UseSourcePathForOutput && !set.OutPutDir.empty() && !set.OutPutDir.starts_with('/'))
      noteOutputFolder((folders[i].empty() ? "./" : folders[i]) + set.OutPutDir);
    Listing l = listFolder(folders[i]);
    // A folder that cannot be read (its permissions) is logged, not passed over.
    if (!l.readable && c_.deferred && !replaying_ && c_.deferred->pending())
      c_.deferred->steps.push_back({DeferredListing::Step::kReported, folders[i], {}, kFolderNotReadStatus});
    else if (!l.readable)
      report(folders[i], kFolderNotReadStatus, nullptr, std::chrono::steady_clock::now());
    if (set.ScanSubDir)
      for (const std::string& sub : l.folders) folders.push_back(folders[i] + sub + "/");
    total += static_cast<int>(l.others.size());
    std::vector<std::string> matching;
    for (std::string& name : l.others)
      if (wildcardMatch(pattern, name)) matching.push_back(std::move(name));
    files.push_back(std::move(matching));
    if (!c_.settings.ScanSubDir) break;
  }
  c_.progress.total = total;
  std::vector<Candidate> candidates;
  for (std::size_t i = 0; i < files.size(); ++i)
    for (const std::string& name : files[i])
      candidates.push_back(
          {folders[i] + name, name, static_cast<int>(candidates.size()), folders[i].substr(top.size())});
  if (examineAll(candidates, total, true)) finish();
}

void ImageListBuilder::addDropped(const std::vector<std::string>& paths) {
  const int total = static_cast<int>(paths.size());
  c_.progress.total = total;
  std::vector<Candidate> candidates;
  for (int k = 0; k < total; ++k) {
    const std::string& path = paths[static_cast<std::size_t>(k)];
    candidates.push_back({path, afterLastSlash(path), k});
  }
  examineAll(candidates, total, false);
  finish();
}

bool writeListFile(const Settings& settings, const ImageList& list, const std::string& path,
                   Prompter& prompter) {
  std::string text;
  for (const ImageEntry& e : list) text += e.path() + "\n";
  if (ini::replaceFileAtomically(path, text)) return true;
  if (settings.ShowMessages) prompter.error(settings.caption, kFileSaveFailedText);
  return false;
}

void sortImageList(ImageList& list, bool ascending) {
  const auto before = [](const ImageEntry& a, const ImageEntry& b) {
    return asciiLower(a.fileName) < asciiLower(b.fileName);
  };
  if (ascending)
    std::stable_sort(list.begin(), list.end(), before);
  else
    std::stable_sort(list.begin(), list.end(),
                     [&](const ImageEntry& a, const ImageEntry& b) { return before(b, a); });
}

}  // namespace pv::app
