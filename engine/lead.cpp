#include "engine/lead.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>


#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/codecs/table.h"
#include "engine/handles.h"
#include "engine/image.h"
#include "engine/metadata.h"
#include "engine/status.h"

namespace pv::engine {

// The file of a page-by-page save: its temporary name, its codec and how it
// is saved, and the pages held until the end where the codec writes them all
// at once.
struct PageWriter {
  explicit PageWriter(const std::string& path) : file(path) {}
  codecs::PendingFile file;
  const codecs::Codec* codec = nullptr;
  codecs::SaveRequest request;
  std::unique_ptr<codecs::PageSink> sink;
  std::vector<Image> held;
};

// The pages of a file being read one after another: which file (it must not
// have changed since), and the page its source gives next.
struct PageReader {
  std::string path;
  struct stat identity {};
  codecs::FileInfo info;  // the file's facts, read when the reader started
  int nextPage = 1;
  std::unique_ptr<codecs::PageSource> source;
};

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

CLead::CLead() : doc_(std::make_unique<Document>()) {}
CLead::~CLead() {
  handles::release(imageHandle_);
  handles::release(alphaHandle_);
  handles::release(regionHandle_);
}

// ---- File input and output -------------------------------------------------

short CLead::ReadFileInfo(const std::string& path, int, int) {
  codecs::FileInfo fi;
  short s = codecs::readInfo(path, fi);
  info_ = s == kOk ? Info{fi.bits, fi.format, fi.width, fi.pageCount, fi.height} : Info{};
  return s;
}

short CLead::GetInfoBits() {
  return info_.bits;
}
short CLead::GetInfoFormat() {
  return info_.format;
}
// The width in pixels of the inspected file.
int CLead::GetInfoValue44() {
  return info_.value44;
}
int CLead::GetInfoPageCount() {
  return info_.pageCount;
}

short CLead::ReadFileResolutions(const std::string& path) {
  // A Photo CD holds several resolutions; every other file its own size.
  resolutions_.clear();
  codecs::FileInfo fi;
  if (short s = codecs::readInfo(path, fi)) return s;
  if (fi.format == fmt::kPhotoCd) {
    std::vector<std::pair<int, int>> sizes;
    if (short s = codecs::pcdResolutions(path, sizes)) return s;
    for (auto [w, h] : sizes) resolutions_.emplace_back(static_cast<float>(w), static_cast<float>(h));
    return kOk;
  }
  resolutions_.emplace_back(static_cast<float>(fi.width), static_cast<float>(fi.height));
  return kOk;
}
short CLead::GetResolutionCount() {
  return static_cast<short>(resolutions_.size());
}
float CLead::GetResolutionWidth(short index) {
  return index >= 0 && static_cast<std::size_t>(index) < resolutions_.size()
             ? resolutions_[static_cast<std::size_t>(index)].first
             : 0;
}
float CLead::GetResolutionHeight(short index) {
  return index >= 0 && static_cast<std::size_t>(index) < resolutions_.size()
             ? resolutions_[static_cast<std::size_t>(index)].second
             : 0;
}
short CLead::SetLoadResolution(short formatCode, float width, float height) {
  if (!(width >= 1 && height >= 1) || formatCode == 0) return kInvalidParameter;
  loadResolutionFormat_ = formatCode;
  loadWidth_ = std::trunc(width);
  loadHeight_ = std::trunc(height);
  return kOk;
}

namespace {

// Loads a file whose facts readInfo gave, through its reader. Readers that
// decode the file for its facts too fill `facts` (when given) from that decode.
short loadDocument(const codecs::FileInfo& fi, const std::string& path, int page, int pageCount,
                   Document& doc, codecs::FileInfo* facts = nullptr) {
  if (!fi.codec || !fi.codec->load) return kNotAnImage;
  return fi.codec->load(*fi.codec, path, page, pageCount, doc, facts);
}

// The pages already in the file at `path` when the codec adds pages to files
// of its code, for a page-mode-1 save; none otherwise.
short existingPages(const std::string& path, const codecs::Codec& codec, std::vector<Image>& out) {
  out.clear();
  codecs::FileInfo fi;
  if (codec.addsTo.empty() || codecs::readInfo(path, fi, true) != kOk) return kOk;
  if (std::find(codec.addsTo.begin(), codec.addsTo.end(), fi.format) == codec.addsTo.end()) return kOk;
  Document existing;
  if (short s = loadDocument(fi, path, 1, -1, existing)) return s;
  out = std::move(existing.pages);
  return kOk;
}

}  // namespace

bool CLead::readingInTurn(const std::string& path, codecs::FileInfo& info) const {
  struct stat now {};
  if (!reader_ || reader_->path != path || stat(path.c_str(), &now) != 0 || !sameFile(reader_->identity, now))
    return false;
  info = reader_->info;
  return true;
}

short CLead::loadInTurn(const codecs::FileInfo& info, const std::string& path, int page, Document& doc) {
  const int wanted = std::max(page, 1);
  // The reader goes on from where it is when the page comes after it in the
  // same file; otherwise the file is read again from its first page.
  codecs::FileInfo known;
  if (!readingInTurn(path, known) || reader_->nextPage > wanted) {
    reader_.reset();
    struct stat now {};
    if (stat(path.c_str(), &now) != 0) return kFileNotFound;
    short status = kOk;
    auto reader = std::make_unique<PageReader>();
    reader->source = info.codec->openReader(path, status);
    if (!reader->source) return status;
    reader->path = path;
    reader->identity = now;
    reader->info = info;
    reader_ = std::move(reader);
  }
  Image img;
  while (reader_->nextPage <= wanted) {
    if (short s = reader_->source->next(img)) {
      reader_.reset();
      return s;
    }
    ++reader_->nextPage;
  }
  doc.pages.clear();
  doc.pages.push_back(std::move(img));
  doc.current = 0;
  return kOk;
}

short CLead::LoadImage(const std::string& path, short bits, int page, int pageCount) {
  codecs::FileInfo fi;
  // A reduced scale asked for serves this load only.
  const cv::Size atLeast(std::exchange(atLeastWidth_, 0), std::exchange(atLeastHeight_, 0));
  // The facts of a file read page by page are read once, when its reader starts.
  short s = kOk;
  if (!readingInTurn(path, fi) && (s = codecs::readInfo(path, fi, true)) != kOk) return s;
  // The file's metadata travels with every page. It is read first: a photo
  // taken on its side is asked for its reduced size the way it is stored.
  // Codecs whose containers hold it as blocks of their own read it with the
  // pages.
  metadataProblem_.clear();
  std::shared_ptr<const Metadata> meta;
  if (!fi.codec || !fi.codec->embedsMetadata) meta = readMetadata(path, metadataProblem_);
  const bool sideways = autoOrient_ && meta && orientationOf(*meta) >= 5;
  Document loaded;
  loaded.atLeast = sideways ? cv::Size(atLeast.height, atLeast.width) : atLeast;
  // A Photo CD resolution asked for is decoded as such, not resampled.
  int pcdResolution = 0;
  if (fi.format == fmt::kPhotoCd && loadResolutionFormat_ == fmt::kPhotoCd) {
    std::vector<std::pair<int, int>> sizes;
    if (codecs::pcdResolutions(path, sizes) == kOk)
      for (std::size_t i = 0; i < sizes.size(); ++i)
        if (sizes[i].first == static_cast<int>(loadWidth_) &&
            sizes[i].second == static_cast<int>(loadHeight_))
          pcdResolution = static_cast<int>(i) + 1;
  }
  if (pcdResolution > 0)
    s = codecs::loadPcd(path, pcdResolution, loaded);
  else if (pageCount == 1 && fi.codec && fi.codec->openReader)
    s = loadInTurn(fi, path, page, loaded);
  else
    s = loadDocument(fi, path, page, pageCount, loaded, &fi);
  if (s != kOk) return s;
  // A resolution asked for with SetLoadResolution applies to this load.
  if (loadResolutionFormat_ != 0 && loadResolutionFormat_ == fi.format) {
    for (Image& p : loaded.pages) {
      const cv::Size size(static_cast<int>(loadWidth_), static_cast<int>(loadHeight_));
      if (size == p.pixels.size()) continue;
      if (static_cast<double>(size.width) * size.height > static_cast<double>(maxPixels())) return kTooLarge;
      cv::resize(p.pixels, p.pixels, size, 0, 0, size.width < p.width() ? cv::INTER_AREA : cv::INTER_CUBIC);
      p.palette.clear();
      if (p.bits < 8) p.bits = p.pixels.channels() == 1 ? 8 : 24;
    }
    loadResolutionFormat_ = 0;
  }
  // An icon's transparent pixels are selected as a region, so that
  // transparency flattening can paint them.
  if (fmt::isIconFamily(fi.format) && !loaded.pages.empty() && loaded.pages[0].hasAlpha()) {
    cv::Mat alpha;
    cv::extractChannel(loaded.pages[0].pixels, alpha, 3);
    cv::Mat clear = alpha == 0;
    if (cv::countNonZero(clear) > 0) loaded.region = clear;
  }
  if (bits == 32)
    for (Image& p : loaded.pages)
      if (p.pixels.channels() != 4) {
        cv::cvtColor(p.pixels, p.pixels, p.pixels.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        p.bits = 32;
        p.palette.clear();
      }
  // A photo taken on its side is turned upright before anything else sees it.
  if (fi.codec && fi.codec->embedsMetadata)
    metadataProblem_ = loaded.metadataProblem;
  else if (meta)
    for (Image& p : loaded.pages) p.metadata = meta;
  bool turned = false;
  for (Image& p : loaded.pages) {
    if (!p.metadata) continue;
    dropForeignProfile(p);
    if (!keepLocation_) dropLocation(p);
    if (!autoOrient_) continue;
    turned = turned || orientationOf(*p.metadata) != 1;
    orientUpright(p);
  }
  if (turned) loaded.region.release();
  info_ = Info{fi.bits, fi.format, fi.width, fi.pageCount, fi.height};
  loadScale_ = loaded.scale;
  uprightFileSize_ = sideways ? std::pair(fi.height, fi.width) : std::pair(fi.width, fi.height);
  *doc_ = std::move(loaded);
  return kOk;
}

namespace {

// The pixels a save leaves transparent get a colour of their own, so that
// no opaque pixel of the same colour turns transparent with them: those of
// alpha 0 in a picture with alpha, else the selected region, else the pixels
// of the transparent colour. The key is the transparent colour itself when
// nothing opaque shares it, else a colour the picture does not use.
void keyTransparency(Image& page, const cv::Mat& region) {
  if (!page.useTransparentColor || page.pixels.channels() < 3) return;
  cv::Mat bgr = page.pixels, mask;
  if (page.pixels.channels() == 4) {
    cv::cvtColor(page.pixels, bgr, cv::COLOR_BGRA2BGR);
    cv::extractChannel(page.pixels, mask, 3);
    mask = mask == 0;
  } else if (!region.empty() && region.size() == page.pixels.size()) {
    mask = region;
  } else {
    return;  // the colour itself is the key
  }
  if (cv::countNonZero(mask) == 0) return;
  const std::uint32_t key = unusedColour(page.transparentColor, [&](std::uint32_t c) {
    cv::Mat same;
    cv::inRange(bgr, bgrOf(c), bgrOf(c), same);
    return cv::countNonZero(same & ~mask) > 0;
  });
  cv::Scalar fill = bgrOf(key);
  fill[3] = 0;                           // a fourth channel, where there is one, says transparent
  cv::Mat pixels = page.pixels.clone();  // the control's own image stays as it is
  pixels.setTo(fill, mask);
  page.pixels = pixels;
  page.transparentColor = key;
  addPaletteColour(page, key);
}

}  // namespace

namespace {

// A page as a save writes it: its transparent pixels keyed (with the
// selected region where it is one page alone), and in sRGB for a codec whose
// files hold no profile.
void forSaving(Image& page, const codecs::Codec& codec, const cv::Mat& region) {
  keyTransparency(page, region);
  // A format without profiles gets its colours in sRGB, as every screen
  // shows a file without a profile.
  if (!codec.carriesMetadata && !codec.embedsMetadata) convertToSrgb(page);
}

// The writer of a save code, or the status that refuses it.
short writerOf(short formatCode, const codecs::Codec*& codec) {
  codec = codecs::codecWriting(formatCode);
  if (!codec || !codec->save) return kNotSupported;
  if (codec->missing && !codec->missing().empty()) return kNotSupported;
  return kOk;
}

}  // namespace

short CLead::SaveImage(const std::string& path, short formatCode, short bits, short quality, short pageMode) {
  Image* img;
  if (short s = current(img)) return s;
  bits = std::clamp<short>(bits, 0, 32);
  const codecs::Codec* codec = nullptr;
  if (short s = writerOf(formatCode, codec)) return s;
  // An image loaded with all its pages writes them all where the format
  // holds several; adding a page to a multi-page file puts its pages first.
  std::vector<Image> pages;
  if (pageMode == 1)
    if (short s = existingPages(path, *codec, pages)) return s;
  if (codec->everyPage && doc_->pages.size() > 1)
    pages.insert(pages.end(), doc_->pages.begin(), doc_->pages.end());
  else
    pages.push_back(*img);
  for (Image& p : pages)
    forSaving(p, *codec, &p == &pages.back() && pages.size() == 1 ? doc_->region : cv::Mat());
  const codecs::SaveRequest request{formatCode,      bits,          quality,      savePasses_,
                                    saveInterlaced_, pageMode == 1, keepMetadata_};
  savedPath_.clear();
  // A codec that keeps a second file beside the picture names it after the
  // picture's own name, so it writes under that name (each file still
  // through a temporary of its own).
  if (codec->companion) {
    const short s = codec->save(*codec, path, pages, request);
    if (s == kOk) savedPath_ = path;
    return s;
  }
  // The codec writes a temporary file beside the target; the metadata go
  // into it, and only then does it take its name.
  codecs::PendingFile staged(path);
  if (short s = staged.status()) return s;
  if (pageMode == 1 && codec->appends)
    if (codecs::FileInfo existing;
        codecs::readInfo(path, existing, true) == kOk && codec->canWrite(existing.format))
      if (short s = staged.copyTarget()) return s;
  // The whole file at a quality, metadata included, written into `file`.
  const auto encode = [&](const std::string& file, int q) -> short {
    codecs::SaveRequest at = request;
    at.quality = static_cast<short>(q);
    if (short s = codec->save(*codec, file, pages, at)) return s;
    std::string problem;
    short rewritten = kOk;
    if (codec->carriesMetadata && !request.append && img->metadata &&
        !writeMetadata(file, *img, keepMetadata_, problem, &rewritten))
      metadataProblem_ = problem;
    // A file that could not be written whole again (a full disk) never
    // takes the name.
    return rewritten;
  };
  sizeOutcome_.reset();
  if (sizeLimit_.bytes > 0 && !request.append) {
    SizeOutcome outcome;
    if (short s = encodeWithin(staged.path(), quality, encode, outcome)) return s;
    sizeOutcome_ = outcome;
  } else if (short s = encode(staged.path(), quality)) {
    return s;
  }
  if (short s = staged.commit(placement_)) return s;
  savedPath_ = staged.target();
  return kOk;
}

short CLead::encodeWithin(const std::string& file, int quality,
                          const std::function<short(const std::string&, int)>& encode, SizeOutcome& out) {
  // The trials are encoded into a file in memory; without one, into the
  // save's own temporary file.
  std::string trial = file;
  int memory = memfd_create("pictoravine-size-trial", MFD_CLOEXEC);
  if (memory >= 0) trial = std::string(codecs::kMemoryFileFolder) + std::to_string(memory);
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) close(fd);
    }
  } closer{memory};
  std::string kept;
  const auto probe = [&](int q, std::uint64_t& bytes) -> short {
    if (short s = encode(trial, q)) return s;
    struct stat st {};
    if (stat(trial.c_str(), &st) != 0) return kCannotOpen;
    bytes = static_cast<std::uint64_t>(st.st_size);
    return kOk;
  };
  bool held = false;
  if (short s = searchQuality(quality, sizeLimit_.worstQuality, sizeLimit_.bytes, kMaxSizeEncodes, probe,
                              [&] { static_cast<void>(codecs::readFileBytes(trial, kept)); }, out, held))
    return s;
  if (!held) {
    // Nothing fitted before the encodes ran out: the worst quality is written.
    ++out.encodes;
    if (short s = probe(out.quality, out.bytes)) return s;
    out.fits = out.bytes <= sizeLimit_.bytes;
    if (trial == file) return kOk;
    if (short s = codecs::readFileBytes(trial, kept)) return s;
  } else if (kept.size() != out.bytes) {
    return kCannotOpen;  // the kept file could not be read back whole
  }
  // `file` is the save's temporary: written in place.
  return codecs::writeFileAtomically(file, kept);
}

short CLead::StartPages(const std::string& path, short formatCode, short bits, short quality) {
  pages_.reset();
  savedPath_.clear();
  const codecs::Codec* codec = nullptr;
  if (short s = writerOf(formatCode, codec)) return s;
  if (!codec->everyPage || codec->companion) return kNotSupported;
  auto writer = std::make_unique<PageWriter>(path);
  if (short s = writer->file.status()) return s;
  writer->codec = codec;
  writer->request = codecs::SaveRequest{
      formatCode,   std::clamp<short>(bits, 0, 32), quality, savePasses_, saveInterlaced_, false,
      keepMetadata_};
  if (codec->openWriter) {
    short status = kOk;
    writer->sink = codec->openWriter(writer->file.path(), writer->request, status);
    if (!writer->sink) return status == kOk ? static_cast<short>(kCannotCreate) : status;
  }
  pages_ = std::move(writer);
  return kOk;
}

short CLead::AddPage() {
  if (!pages_) return kInvalidParameter;
  Image* img;
  if (short s = current(img)) return s;
  Image page = *img;
  forSaving(page, *pages_->codec, doc_->region);
  if (!pages_->sink) {
    pages_->held.push_back(std::move(page));
    return kOk;
  }
  return pages_->sink->add(page);
}

short CLead::EndPages(bool keep) {
  std::unique_ptr<PageWriter> w = std::move(pages_);
  if (!w) return kInvalidParameter;
  if (!keep) return kOk;  // the temporary file goes with the writer
  short s = kOk;
  if (w->sink)
    s = w->sink->finish();
  else if (w->held.empty())
    s = kInvalidParameter;
  else
    s = w->codec->save(*w->codec, w->file.path(), w->held, w->request);
  w->sink.reset();  // closed before the file takes its name
  if (s == kOk) s = w->file.commit(placement_);
  if (s == kOk) savedPath_ = w->file.target();
  return s;
}

PhotoFacts CLead::GetPhotoFacts() {
  const Image* img = nullptr;
  if (current(img) != kOk || !img->metadata) return {};
  return photoFacts(*img->metadata);
}

double CLead::GetHeldPixels() const {
  double held = 0;
  if (pages_)
    for (const Image& p : pages_->held) held += static_cast<double>(p.width()) * p.height();
  return held;
}

short CLead::CopyToClipboard(short) {
  if (!clipboard_) return kNotSupported;
  Image* img;
  if (short s = current(img)) return s;
  return clipboard_->putImage(*img) ? kOk : kFailed;
}

void CLead::SetPageNumber(short page) {
  if (page >= 0 && static_cast<std::size_t>(page) < doc_->pages.size())
    doc_->current = static_cast<std::size_t>(page);
}
void CLead::SetSavePasses(short passes) {
  savePasses_ = passes;
}
void CLead::SetSaveInterlaced(bool on) {
  saveInterlaced_ = on;
}
void CLead::SetPhotoshopSaveFlag(bool on) {
  photoshopSave_ = on;
}
void CLead::SetAutoRepaint(bool on) {
  autoRepaint_ = on;
}

short CLead::current(Image*& img) {
  img = doc_->image();
  if (!img || img->pixels.empty()) {
    img = nullptr;
    return kInvalidParameter;  // no current image
  }
  return kOk;
}

short CLead::current(const Image*& img) {
  Image* mutableImage = nullptr;
  const short s = current(mutableImage);
  img = mutableImage;
  return s;
}

// ---- Image properties ------------------------------------------------------

float CLead::GetImageWidth() {
  return doc_->image() ? static_cast<float>(doc_->image()->width()) : 0.0f;
}
float CLead::GetImageHeight() {
  return doc_->image() ? static_cast<float>(doc_->image()->height()) : 0.0f;
}
// Images are drawn pixel for pixel.
float CLead::GetDisplayWidth() {
  return GetImageWidth();
}
float CLead::GetDisplayHeight() {
  return GetImageHeight();
}
short CLead::GetDisplayBits() {
  return doc_->image() ? static_cast<short>(doc_->image()->bits) : 0;
}
void CLead::SetImageXResolution(short dpi) {
  if (Image* img = doc_->image()) img->xDpi = std::max<int>(1, dpi);
}
void CLead::SetImageYResolution(short dpi) {
  if (Image* img = doc_->image()) img->yDpi = std::max<int>(1, dpi);
}
// The two resolutions are always kept apart, so there is nothing to switch.
void CLead::SetUnequalResolution(bool) {}

namespace {
// An image whose pixels are its own: a cv::Mat copy shares its buffer, and an
// operation on the control's image must never change a handle's image, nor
// the other way round.
Image ownCopy(const Image& image) {
  Image copy = image;
  copy.pixels = image.pixels.clone();
  return copy;
}
}  // namespace

int CLead::GetImageHandle() {
  handles::release(imageHandle_);
  imageHandle_ = doc_->image() ? handles::create(ownCopy(*doc_->image())) : 0;
  return imageHandle_;
}

void CLead::SetImageHandle(int handle) {
  Document next;
  if (auto image = handles::find(handle)) next.pages.push_back(ownCopy(*image));
  *doc_ = std::move(next);
}

// One drawing context serves every bitmap.
int CLead::GetDrawContext() {
  return 1;
}

int CLead::MakeGdiBitmap(int) {
  const Image* img = doc_->image();
  if (!img || img->pixels.empty()) return 0;
  // Windowing toolkits draw 32-bit B G R A rows directly.
  Image bitmap = *img;
  const int ch = img->pixels.channels();
  if (ch != 4)
    cv::cvtColor(img->pixels, bitmap.pixels, ch == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  else
    bitmap.pixels = img->pixels.clone();
  bitmap.bits = 32;
  bitmap.palette.clear();
  return handles::create(std::move(bitmap));
}

// ---- Transparency and regions ----------------------------------------------

bool CLead::GetHasTransparency() {
  const Image* img = doc_->image();
  return img && seeThrough(*img);
}

bool CLead::GetHasAlpha() {
  return doc_->image() && doc_->image()->hasAlpha();
}

int CLead::GetAlphaImage() {
  const Image* img = doc_->image();
  if (!img || !img->hasAlpha()) return 0;
  handles::release(alphaHandle_);
  Image alpha;
  cv::extractChannel(img->pixels, alpha.pixels, 3);
  alpha.bits = 8;
  alpha.xDpi = img->xDpi;
  alpha.yDpi = img->yDpi;
  alphaHandle_ = handles::create(std::move(alpha));
  return alphaHandle_;
}

bool CLead::GetUseTransparentColor() {
  return doc_->image() && doc_->image()->useTransparentColor;
}
void CLead::SetUseTransparentColor(bool on) {
  if (Image* img = doc_->image()) img->useTransparentColor = on;
}
int CLead::GetTransparentColor() {
  return doc_->image() ? static_cast<int>(doc_->image()->transparentColor) : 0;
}
void CLead::SetTransparentColor(int colour) {
  if (Image* img = doc_->image()) img->transparentColor = static_cast<std::uint32_t>(colour) & 0xFFFFFF;
}
bool CLead::GetHasRegion() {
  return !doc_->region.empty();
}

namespace {

// Combine mode 1 replaces the region, 6 adds to it.
short combineRegion(cv::Mat& region, const cv::Mat& mask, short mode) {
  if (mode == 1 || region.empty() || region.size() != mask.size()) {
    if (mode != 1 && mode != 6) return kInvalidParameter;
    region = mask;
  } else if (mode == 6) {
    cv::bitwise_or(region, mask, region);
  } else {
    return kInvalidParameter;
  }
  if (cv::countNonZero(region) == 0) region.release();
  return kOk;
}

}  // namespace

short CLead::SetRegionByColor(int colour, short combineMode) {
  const Image* img;
  if (short s = current(img)) return s;
  const int r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  cv::Mat mask;
  if (img->pixels.channels() == 1) {
    mask = r == g && g == b ? img->pixels == r : cv::Mat::zeros(img->pixels.size(), CV_8UC1);
  } else {
    cv::Mat bgr = img->pixels;
    if (bgr.channels() == 4) cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
    cv::inRange(bgr, cv::Scalar(b, g, r), cv::Scalar(b, g, r), mask);
  }
  return combineRegion(doc_->region, mask, combineMode);
}

int CLead::GetRegionHandle() {
  if (doc_->region.empty()) return 0;
  handles::release(regionHandle_);
  Image region;
  region.pixels = doc_->region.clone();
  region.bits = 8;
  regionHandle_ = handles::create(std::move(region));
  return regionHandle_;
}

short CLead::SetRegionFromHandle(int region, float x, float y, short combineMode) {
  const Image* img;
  if (short s = current(img)) return s;
  auto source = handles::find(region);
  if (!source || source->pixels.channels() != 1) return kInvalidParameter;
  // The mask is placed at the offset and cut to the image.
  cv::Mat mask = cv::Mat::zeros(img->pixels.size(), CV_8UC1);
  const cv::Rect at(static_cast<int>(std::trunc(x)), static_cast<int>(std::trunc(y)), source->width(),
                    source->height());
  const cv::Rect inside = at & cv::Rect(0, 0, mask.cols, mask.rows);
  if (inside.area() > 0) {
    cv::Mat part =
        source->pixels(cv::Rect(inside.x - at.x, inside.y - at.y, inside.width, inside.height)) != 0;
    part.copyTo(mask(inside));
  }
  return combineRegion(doc_->region, mask, combineMode);
}

short CLead::FillImage(int colour) {
  Image* img;
  if (short s = current(img)) return s;
  const int r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const std::uint32_t packed = static_cast<std::uint32_t>(colour) & 0xFFFFFF;
  if (img->pixels.channels() == 1 && !(r == g && g == b)) {
    cv::cvtColor(img->pixels, img->pixels, cv::COLOR_GRAY2BGR);
    img->bits = 24;
  }
  // The colour joins an indexed image's palette while there is room.
  if (!img->palette.empty() &&
      std::find(img->palette.begin(), img->palette.end(), packed) == img->palette.end()) {
    if (img->palette.size() < (std::size_t{1} << std::clamp(img->bits, 1, 8))) {
      img->palette.push_back(packed);
    } else {
      img->palette.clear();
      img->bits = img->hasAlpha() ? 32 : 24;
    }
  }
  // Colour channels only: alpha stays as it is. Without a region the whole
  // image is painted.
  const cv::Mat& mask = doc_->region;
  const int ch = img->pixels.channels();
  for (int row = 0; row < img->pixels.rows; ++row) {
    std::uint8_t* p = img->pixels.ptr<std::uint8_t>(row);
    const std::uint8_t* m = mask.empty() ? nullptr : mask.ptr<std::uint8_t>(row);
    for (int col = 0; col < img->pixels.cols; ++col, p += ch) {
      if (m && !m[col]) continue;
      if (ch == 1) {
        p[0] = static_cast<std::uint8_t>(r);
      } else {
        p[0] = static_cast<std::uint8_t>(b), p[1] = static_cast<std::uint8_t>(g),
        p[2] = static_cast<std::uint8_t>(r);
      }
    }
  }
  return kOk;
}

short CLead::FreeRegion() {
  doc_->region.release();
  return kOk;
}

}  // namespace pv::engine
