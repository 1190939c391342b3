// GIF through giflib: every frame read and composed onto the logical screen
// (disposal and transparency respected); written with palettes of 1..8 bits,
// interlace, the transparent colour and every page of a multi-page image.
#include <gif_lib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct GifCloser {
  void operator()(GifFileType* g) const {
    int err = 0;
    DGifCloseFile(g, &err);
  }
};
using Gif = std::unique_ptr<GifFileType, GifCloser>;

std::uint32_t packed(const GifColorType& c) {
  return c.Red | (c.Green << 8) | (static_cast<std::uint32_t>(c.Blue) << 16);
}

short openGif(const std::string& path, Gif& gif) {
  int err = 0;
  gif.reset(DGifOpenFileName(path.c_str(), &err));
  if (!gif)
    return err == D_GIF_ERR_OPEN_FAILED ? (errno == ENOENT ? kFileNotFound : kCannotOpen) : kNotAnImage;
  return kOk;
}

// What a frame is, before its pixels: where it lies, its palette (its own or
// the screen's) and its control block.
struct Frame {
  int left = 0, top = 0, width = 0, height = 0;
  bool interlaced = false;
  std::vector<std::uint32_t> palette;
  int paletteBits = 8;
  GraphicsControlBlock gcb{};
};

GraphicsControlBlock noControl() {
  GraphicsControlBlock g{};
  g.DisposalMode = DISPOSAL_UNSPECIFIED;
  g.TransparentColor = NO_TRANSPARENT_COLOR;
  return g;
}

// Reads the records up to the next frame: its control block (when one comes
// before it) and its descriptor. False at the end of the file: the trailer,
// or an end after complete frames; `damaged` when the file ends or breaks
// inside a record.
bool nextFrame(GifFileType* gif, Frame& frame, bool& damaged) {
  GraphicsControlBlock gcb = noControl();
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;  // no trailer after whole frames
    if (type == TERMINATE_RECORD_TYPE) return false;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) return damaged = true, false;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) DGifExtensionToGCB(ext[0], ext + 1, &gcb);
      while (ext)
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) return damaged = true, false;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) return damaged = true, false;
    if (DGifGetImageDesc(gif) == GIF_ERROR) return damaged = true, false;
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || d.Width <= 0 || d.Height <= 0) return damaged = true, false;
    frame.left = d.Left, frame.top = d.Top, frame.width = d.Width, frame.height = d.Height;
    frame.interlaced = d.Interlace;
    frame.palette.clear();
    for (int c = 0; c < map->ColorCount; ++c) frame.palette.push_back(packed(map->Colors[c]));
    frame.paletteBits = map->BitsPerPixel;
    frame.gcb = gcb;
    return true;
  }
}

// Passes over the current frame's compressed data without decoding it;
// false when the file ends inside it.
bool skipFrameData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) == GIF_ERROR) return false;
  while (block)
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  return true;
}

// The frames of a file in order, each composed onto the logical screen
// (disposal and transparency respected), as a viewer shows them. Opening
// reads every frame's palette and control block without its pixels; each
// `next` then decodes one frame more, so a whole file is read once however
// many frames it has, holding one screen and one frame.
class GifFrames final : public PageSource {
 public:
  short open(const std::string& path) {
    Gif scan;
    if (short s = openGif(path, scan)) return s;
    width_ = scan->SWidth;
    height_ = scan->SHeight;
    if (width_ <= 0 || height_ <= 0) return kDamaged;
    if (static_cast<std::uint64_t>(width_) * height_ > maxPixels()) return kTooLarge;
    // Every frame's palette and control block. A file that ends inside a
    // frame is damaged; one that only lacks its trailer is not.
    std::vector<Frame> frames;
    Frame f;
    bool damaged = false;
    while (nextFrame(scan.get(), f, damaged)) {
      frames.push_back(f);
      if (!skipFrameData(scan.get())) return kDamaged;
    }
    if (damaged || frames.empty()) return kDamaged;
    count_ = static_cast<int>(frames.size());
    firstBits_ = frames[0].paletteBits;
    // The screen starts transparent where the first frame says so, where it
    // leaves the screen uncovered, or where a frame is disposed to the
    // background; transparent pixels carry a key colour that no palette uses
    // (the first frame's own transparent colour when nothing else has it).
    std::set<std::uint32_t> used;
    transparent_ = false;
    for (const Frame& fr : frames) {
      for (std::size_t c = 0; c < fr.palette.size(); ++c)
        if (static_cast<int>(c) != fr.gcb.TransparentColor) used.insert(fr.palette[c]);
      if (fr.gcb.DisposalMode == DISPOSE_BACKGROUND) transparent_ = true;
    }
    const Frame& f0 = frames[0];
    if (f0.left > 0 || f0.top > 0 || f0.left + f0.width < width_ || f0.top + f0.height < height_)
      transparent_ = true;
    std::uint32_t preferred = 0x00FF00FE;
    if (f0.gcb.TransparentColor >= 0 && f0.gcb.TransparentColor < static_cast<int>(f0.palette.size())) {
      transparent_ = true;
      preferred = f0.palette[static_cast<std::size_t>(f0.gcb.TransparentColor)];
    }
    key_ = unusedColour(preferred, [&](std::uint32_t c) { return used.count(c) > 0; });
    canvas_ = cv::Mat(height_, width_, CV_8UC3, transparent_ ? bgrOf(key_) : cv::Scalar(0, 0, 0));
    return openGif(path, gif_);
  }

  int count() const { return count_; }
  int firstBits() const { return firstBits_; }
  int width() const { return width_; }
  int height() const { return height_; }

  short next(Image& out) override {
    Frame f;
    bool damaged = false;
    if (!nextFrame(gif_.get(), f, damaged)) return damaged ? kDamaged : kInvalidParameter;
    // A frame may claim a size far beyond the screen; only the part on the
    // screen is kept, so one row of indices at a time is all that is held.
    if (static_cast<std::uint64_t>(f.width) * f.height > maxPixels()) return kTooLarge;
    const int transparentIndex = f.gcb.TransparentColor;
    cv::Mat before = f.gcb.DisposalMode == DISPOSE_PREVIOUS ? canvas_.clone() : cv::Mat();
    std::vector<GifPixelType> idx(static_cast<std::size_t>(f.width));
    // Rows come in picture order, or in four passes when interlaced.
    static constexpr int interlacedStart[] = {0, 4, 2, 1}, interlacedStep[] = {8, 8, 4, 2};
    const int passes = f.interlaced ? 4 : 1;
    for (int p = 0; p < passes; ++p) {
      const int start = f.interlaced ? interlacedStart[p] : 0;
      const int step = f.interlaced ? interlacedStep[p] : 1;
      for (int y = start; y < f.height; y += step) {
        if (DGifGetLine(gif_.get(), idx.data(), f.width) == GIF_ERROR) return kDamaged;
        const int cy = f.top + y;
        if (cy < 0 || cy >= height_) continue;
        unsigned char* row = canvas_.ptr<unsigned char>(cy);
        for (int x = 0; x < f.width; ++x) {
          const int cx = f.left + x;
          if (cx >= width_) break;
          const int i = idx[static_cast<std::size_t>(x)];
          if (i == transparentIndex || i >= static_cast<int>(f.palette.size())) continue;
          const std::uint32_t c = f.palette[static_cast<std::size_t>(i)];
          row[cx * 3 + 0] = static_cast<unsigned char>(c >> 16);
          row[cx * 3 + 1] = static_cast<unsigned char>(c >> 8);
          row[cx * 3 + 2] = static_cast<unsigned char>(c);
        }
      }
    }
    out = Image();
    out.pixels = canvas_.clone();
    out.bits = f.paletteBits;
    out.palette = f.palette;
    out.useTransparentColor = transparent_;
    out.transparentColor = key_;
    if (transparent_) addPaletteColour(out, key_);  // the key joins the palette
    // A composed frame may hold colours of earlier frames' palettes.
    if (index_ > 0 && !exactColours(out.pixels, std::size_t{1} << out.bits)) {
      out.palette.clear();
      out.bits = 24;
    }
    if (f.gcb.DisposalMode == DISPOSE_BACKGROUND) {
      canvas_(cv::Rect(f.left, f.top, f.width, f.height) & cv::Rect(0, 0, width_, height_))
          .setTo(bgrOf(key_));
    } else if (f.gcb.DisposalMode == DISPOSE_PREVIOUS) {
      canvas_ = before;
    }
    ++index_;
    return kOk;
  }

 private:
  Gif gif_;
  int width_ = 0, height_ = 0, count_ = 0, firstBits_ = 8, index_ = 0;
  bool transparent_ = false;
  std::uint32_t key_ = 0;
  cv::Mat canvas_;
};

}  // namespace

short readGifInfo(const std::string& path, FileInfo& out) {
  GifFrames frames;
  const short s = frames.open(path);
  if (s == kFileNotFound || s == kCannotOpen || s == kNotAnImage) return s;
  Gif gif;
  if (short o = openGif(path, gif)) return o;
  out.format = kGif;
  out.width = gif->SWidth;
  out.height = gif->SHeight;
  out.bits = static_cast<short>(gif->SColorMap ? gif->SColorMap->BitsPerPixel : 8);
  if (s == kTooLarge) return kTooLarge;
  // A damaged file still tells what it has; its load says it is damaged.
  out.pageCount = std::max(1, frames.count());
  if (s == kOk) out.bits = static_cast<short>(frames.firstBits());
  return kOk;
}

std::unique_ptr<PageSource> gifPageReader(const std::string& path, short& status) {
  auto frames = std::make_unique<GifFrames>();
  status = frames->open(path);
  return status == kOk ? std::move(frames) : nullptr;
}

short loadGif(const std::string& path, int page, int pageCount, Document& doc) {
  GifFrames frames;
  if (short s = frames.open(path)) return s;
  const int wanted = page <= 0 ? 0 : page - 1;
  if (pageCount != -1 && wanted >= frames.count()) return kInvalidParameter;
  const int last = pageCount == -1 ? frames.count() - 1 : wanted;
  Document out;
  for (int i = 0; i <= last; ++i) {
    Image img;
    if (short s = frames.next(img)) return s;
    if (i >= wanted) out.pages.push_back(std::move(img));
  }
  doc = std::move(out);
  doc.current = 0;
  return kOk;
}

namespace {

// Writes frames as they come: the screen (the first page's size) and, once
// a second page shows that the file is an animation, the loop extension;
// every page is one frame with a palette of its own. The first page is held
// back until then, so that one page and many give the files saveGif made of
// them. Bytes go to `out` (a string, or a file descriptor).
class GifWriter final : public FirstPageHeld {
 public:
  GifWriter(std::string* memory, int fd, int bits, bool interlaced)
      : memory_(memory), fd_(fd), bits_(bits), interlaced_(interlaced) {}
  ~GifWriter() override {
    if (gif_) EGifCloseFile(gif_, nullptr);
    if (fd_ >= 0) close(fd_);
  }

  short end() override {
    int err = 0;
    const int closed = EGifCloseFile(gif_, &err);
    gif_ = nullptr;
    if (fd_ >= 0 && closed == GIF_OK) flush();
    if (closed != GIF_OK || failed_ != kOk) return failed_ != kOk ? failed_ : static_cast<short>(kWriteError);
    if (fd_ >= 0) {
      const int fd = std::exchange(fd_, -1);
      if (close(fd) != 0) return errno == ENOSPC ? kDiskFull : kWriteError;
    }
    return kOk;
  }

 private:
  static int output(GifFileType* gif, const GifByteType* data, int len) {
    auto* self = static_cast<GifWriter*>(gif->UserData);
    std::string& to = self->memory_ ? *self->memory_ : self->buffer_;
    to.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    if (!self->memory_ && to.size() >= (1u << 20) && !self->flush()) return 0;
    return len;
  }

  // Bytes bound for a file go out a megabyte at a time.
  bool flush() {
    if (short s = writeAll(fd_, buffer_.data(), buffer_.size())) {
      failed_ = s;
      return false;
    }
    buffer_.clear();
    return true;
  }

  short begin(const Image& first, bool animated) override {
    width_ = first.width();
    height_ = first.height();
    int err = 0;
    gif_ = EGifOpen(this, output, &err);
    if (!gif_) return kOutOfMemory;
    EGifSetGifVersion(gif_, true);
    if (EGifPutScreenDesc(gif_, width_, height_, 8, 0, nullptr) != GIF_OK) return fail();
    if (animated) {
      // Loop the animation forever.
      EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE);
      EGifPutExtensionBlock(gif_, 11, "NETSCAPE2.0");
      EGifPutExtensionBlock(gif_, 3, "\x01\x00\x00");
      EGifPutExtensionTrailer(gif_);
    }
    return kOk;
  }

  short put(const Image& page, bool animated) override {
    const int w = width_, h = height_;
    const int b = std::clamp(bits_ == 0 ? (page.bits <= 8 ? page.bits : 8) : bits_, 1, 8);
    cv::Mat px = page.pixels;
    if (px.cols != w || px.rows != h) cv::resize(px, px, cv::Size(w, h), 0, 0, cv::INTER_NEAREST);
    const IndexedImage indexed = toIndexed(px, b);
    Owned<ColorMapObject, GifFreeMapObject> map(GifMakeMapObject(1 << b, nullptr));
    if (!map) return kOutOfMemory;
    for (std::size_t i = 0; i < indexed.palette.size(); ++i) {
      const std::uint32_t c = indexed.palette[i];
      map->Colors[i] = {static_cast<GifByteType>(c & 0xFF), static_cast<GifByteType>((c >> 8) & 0xFF),
                        static_cast<GifByteType>((c >> 16) & 0xFF)};
    }
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.DelayTime = animated ? 10 : 0;
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    if (page.useTransparentColor)
      if (int i = indexed.indexOf(page.transparentColor); i >= 0) gcb.TransparentColor = i;
    GifByteType ext[4];
    const std::size_t extLen = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extLen), ext) != GIF_OK)
      return fail();
    if (EGifPutImageDesc(gif_, 0, 0, w, h, interlaced_, map.get()) != GIF_OK) return fail();
    // Interlaced rows go out in the four passes of the format.
    std::vector<GifByteType> line(static_cast<std::size_t>(w));
    const auto put = [&](int y) {
      std::copy_n(indexed.indices.ptr<std::uint8_t>(y), w, line.begin());
      return EGifPutLine(gif_, line.data(), w) == GIF_OK;
    };
    if (interlaced_) {
      static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < h; y += step[p])
          if (!put(y)) return fail();
    } else {
      for (int y = 0; y < h; ++y)
        if (!put(y)) return fail();
    }
    return kOk;
  }

  short fail() { return failed_ != kOk ? failed_ : static_cast<short>(kWriteError); }

  std::string* memory_;
  std::string buffer_;
  int fd_;
  int bits_;
  bool interlaced_;
  GifFileType* gif_ = nullptr;
  int width_ = 0, height_ = 0;
  short failed_ = kOk;
};

}  // namespace

std::unique_ptr<PageSink> gifPageWriter(const std::string& path, int bits, bool interlaced, short& status) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) {
    status = kCannotCreate;
    return nullptr;
  }
  return std::make_unique<GifWriter>(nullptr, fd, bits, interlaced);
}

short saveGif(const std::string& path, const std::vector<Image>& pages, int bits, bool interlaced) {
  if (pages.empty() || pages[0].pixels.empty()) return kInvalidParameter;
  std::string bytes;
  {
    GifWriter writer(&bytes, -1, bits, interlaced);
    for (const Image& page : pages)
      if (short s = writer.add(page)) return s;
    if (short s = writer.finish()) return s;
  }
  return writeFileAtomically(path, bytes);
}

}  // namespace pv::engine::codecs
