// TIFF through libtiff: every page, strips and tiles, and every photometric and
// compression that libtiff decodes; written with the RGB, CMYK, YCbCr and
// JPEG methods of the format catalogue, one directory per page, appended to an
// existing file on request.
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/codecs/lzw.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

// libtiff's messages go nowhere: a failure shows in the status. The handlers
// are per file, so two threads never share them.
int quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

// The options of every TIFF we open. Messages must never reach libtiff's
// process-wide handlers: ImageMagick installs its own there, which fail on a
// thread that is not running an ImageMagick call.
struct OpenOptions {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  OpenOptions() {
    TIFFOpenOptionsSetErrorHandlerExtR(options, quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quiet, nullptr);
    // A hostile header can ask libtiff for any amount of memory; no buffer of
    // a picture within the pixel limit needs more than this.
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(std::min<std::uint64_t>(maxPixels() * 8, std::uint64_t{4} << 30)));
  }
  ~OpenOptions() { TIFFOpenOptionsFree(options); }
  OpenOptions(const OpenOptions&) = delete;
  OpenOptions& operator=(const OpenOptions&) = delete;
};

// A write that libtiff gave up on: a full file system says so.
short writeFailed() {
  return errno == ENOSPC ? kDiskFull : kWriteError;
}

Tiff openTiff(const std::string& path, const char* mode) {
  const OpenOptions opts;
  return Tiff(TIFFOpenExt(path.c_str(), mode, opts.options));
}

// A file that exists but does not open as a TIFF is damaged.
short failedOpen(const std::string& path) {
  const short s = openStatus(path);
  return s ? s : static_cast<short>(kDamaged);
}

int pageCountOf(TIFF* t) {
  // TIFFNumberOfDirectories stops at a directory loop.
  const tdir_t n = TIFFNumberOfDirectories(t);
  return n > 0 ? static_cast<int>(n) : 1;
}

int dpiOf(TIFF* t, ttag_t tag) {
  float res = 0;
  std::uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(t, tag, &res) || !(res > 0) || res > 100000) return 96;
  TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
  return std::max(1, static_cast<int>((unit == RESUNIT_CENTIMETER ? res * 2.54f : res) + 0.5f));
}

// Reads the current directory into the image model.
// A page of 32-bit floating-point samples (grey or RGB, with or without an
// extra sample for alpha), scaled from its sample range (SMinSampleValue to
// SMaxSampleValue, else 0 to 1) to 8 bits as the reference decoders do.
short readFloatPage(TIFF* t, Image& img, int cols, int rows, std::uint16_t spp, std::uint16_t photometric,
                    std::uint16_t planar, bool alphaSample) {
  const bool grey = photometric == PHOTOMETRIC_MINISBLACK;
  const int colours = grey ? 1 : 3;
  if ((!grey && photometric != PHOTOMETRIC_RGB) || spp < colours || spp > colours + 1)
    return kUnsupportedSubtype;
  double low = 0, high = 1;
  TIFFGetField(t, TIFFTAG_SMINSAMPLEVALUE, &low);
  TIFFGetField(t, TIFFTAG_SMAXSAMPLEVALUE, &high);
  if (!(high > low)) low = 0, high = 1;
  // Every sample as stored, as floats, rows in file order.
  cv::Mat samples(rows, cols, CV_32FC(spp));
  const tmsize_t rowBytes = static_cast<tmsize_t>(cols) * spp * 4;
  if (TIFFIsTiled(t)) {
    if (planar != PLANARCONFIG_CONTIG) return kUnsupportedSubtype;
    std::uint32_t tw = 0, th = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
    if (tw == 0 || th == 0) return kDamaged;
    std::vector<float> tile(static_cast<std::size_t>(tw) * th * spp);
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(rows); y += th)
      for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(cols); x += tw) {
        if (TIFFReadTile(t, tile.data(), x, y, 0, 0) < 0) return kDamaged;
        for (std::uint32_t ty = 0; ty < th && y + ty < static_cast<std::uint32_t>(rows); ++ty) {
          const std::uint32_t n = std::min(tw, static_cast<std::uint32_t>(cols) - x) * spp;
          std::copy_n(tile.data() + static_cast<std::size_t>(ty) * tw * spp, n,
                      samples.ptr<float>(static_cast<int>(y + ty)) + static_cast<std::size_t>(x) * spp);
        }
      }
  } else if (planar == PLANARCONFIG_CONTIG) {
    if (TIFFScanlineSize(t) != rowBytes) return kDamaged;
    for (int y = 0; y < rows; ++y)
      if (TIFFReadScanline(t, samples.ptr(y), static_cast<std::uint32_t>(y), 0) < 0) return kDamaged;
  } else {
    std::vector<float> line(static_cast<std::size_t>(cols));
    for (std::uint16_t s = 0; s < spp; ++s)
      for (int y = 0; y < rows; ++y) {
        if (TIFFReadScanline(t, line.data(), static_cast<std::uint32_t>(y), s) < 0) return kDamaged;
        float* o = samples.ptr<float>(y) + s;
        for (int x = 0; x < cols; ++x)
          o[static_cast<std::size_t>(x) * spp] = line[static_cast<std::size_t>(x)];
      }
  }
  cv::Mat scaled;
  samples.convertTo(scaled, CV_8U, 255.0 / (high - low), -low * 255.0 / (high - low));
  const bool alpha = alphaSample && spp == colours + 1;
  if (grey) {
    if (alpha) {
      std::vector<cv::Mat> parts;
      cv::split(scaled, parts);
      cv::merge(std::vector<cv::Mat>{parts[0], parts[0], parts[0], parts[1]}, img.pixels);
    } else {
      cv::extractChannel(scaled, img.pixels, 0);
    }
  } else {
    cv::cvtColor(scaled, img.pixels,
                 alpha      ? cv::COLOR_RGBA2BGRA
                 : spp == 4 ? cv::COLOR_RGBA2BGR
                            : cv::COLOR_RGB2BGR);
  }
  img.bits = alpha ? 32 : grey ? 8 : 24;
  return kOk;
}

short readPage(TIFF* t, Image& img) {
  std::uint32_t w = 0, h = 0;
  std::uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h) || w == 0 ||
      h == 0)
    return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels() || w > 0x7FFFFFFF / 4 || h > 0x7FFFFFFF)
    return kTooLarge;
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  std::uint16_t extraCount = 0;
  std::uint16_t* extraKinds = nullptr;
  TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
  const int rows = static_cast<int>(h), cols = static_cast<int>(w);
  img.xDpi = dpiOf(t, TIFFTAG_XRESOLUTION);
  img.yDpi = dpiOf(t, TIFFTAG_YRESOLUTION);
  std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (sampleFormat == SAMPLEFORMAT_IEEEFP) {
    if (bps != 32 || orientation != ORIENTATION_TOPLEFT) return kUnsupportedSubtype;
    return readFloatPage(t, img, cols, rows, spp, photometric, planar, extraCount >= 1);
  }

  // Plain 8-bit grey and RGB(A) strips read row by row without conversion.
  const bool plainRgb =
      photometric == PHOTOMETRIC_RGB &&
      (spp == 3 || (spp == 4 && extraCount == 1 && extraKinds[0] == EXTRASAMPLE_UNASSALPHA));
  const bool plainGrey = photometric == PHOTOMETRIC_MINISBLACK && spp == 1;
  if (bps == 8 && planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(t) && orientation == ORIENTATION_TOPLEFT &&
      (plainRgb || plainGrey)) {
    cv::Mat raw(rows, cols, CV_8UC(spp));
    for (int y = 0; y < rows; ++y)
      if (TIFFReadScanline(t, raw.ptr(y), static_cast<std::uint32_t>(y), 0) < 0) return kDamaged;
    if (spp == 1)
      img.pixels = raw;
    else
      cv::cvtColor(raw, img.pixels, spp == 3 ? cv::COLOR_RGB2BGR : cv::COLOR_RGBA2BGRA);
    img.bits = spp * 8;
    return kOk;
  }

  char message[1024] = {};
  if (!TIFFRGBAImageOK(t, message)) return kUnsupportedSubtype;
  TIFFRGBAImage rgba;
  if (!TIFFRGBAImageBegin(&rgba, t, 1, message)) return kUnsupportedSubtype;
  // Rows come as stored; the orientation is applied below, transposes too.
  rgba.req_orientation = rgba.orientation;
  const bool alpha = rgba.alpha != 0;
  cv::Mat raster(rows, cols, CV_8UC4);  // R G B A bytes, alpha premultiplied
  const int ok = TIFFRGBAImageGet(&rgba, reinterpret_cast<std::uint32_t*>(raster.data), w, h);
  TIFFRGBAImageEnd(&rgba);
  if (!ok) return kDamaged;
  switch (orientation) {
    case ORIENTATION_TOPRIGHT:
      cv::flip(raster, raster, 1);
      break;
    case ORIENTATION_BOTRIGHT:
      cv::flip(raster, raster, -1);
      break;
    case ORIENTATION_BOTLEFT:
      cv::flip(raster, raster, 0);
      break;
    case ORIENTATION_LEFTTOP:
      cv::transpose(raster, raster);
      break;
    case ORIENTATION_RIGHTTOP:
      cv::rotate(raster, raster, cv::ROTATE_90_CLOCKWISE);
      break;
    case ORIENTATION_RIGHTBOT:
      cv::transpose(raster, raster), cv::flip(raster, raster, -1);
      break;
    case ORIENTATION_LEFTBOT:
      cv::rotate(raster, raster, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
    default:
      break;
  }

  if (alpha) {
    // Back to straight alpha.
    for (int y = 0; y < rows; ++y) {
      unsigned char* p = raster.ptr(y);
      for (int x = 0; x < cols; ++x, p += 4)
        if (p[3] != 0 && p[3] != 255)
          for (int c = 0; c < 3; ++c)
            p[c] = static_cast<unsigned char>(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
    }
    cv::cvtColor(raster, img.pixels, cv::COLOR_RGBA2BGRA);
    img.bits = 32;
  } else if ((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) && spp == 1) {
    cv::extractChannel(raster, img.pixels, 0);
    img.pixels = img.pixels.clone();
    img.bits = bps <= 8 ? bps : 8;
  } else {
    cv::cvtColor(raster, img.pixels, cv::COLOR_RGBA2BGR);
    img.bits = 24;
    std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
    if (photometric == PHOTOMETRIC_PALETTE && bps <= 8 && TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b)) {
      const int n = 1 << bps;
      // Old writers store 8-bit colour maps; libtiff's own test is the same.
      bool eightBit = true;
      for (int i = 0; i < n; ++i)
        if (r[i] > 255 || g[i] > 255 || b[i] > 255) eightBit = false;
      for (int i = 0; i < n; ++i) {
        auto v = [&](std::uint16_t c) { return static_cast<std::uint32_t>(eightBit ? c : c >> 8); };
        img.palette.push_back(v(r[i]) | (v(g[i]) << 8) | (v(b[i]) << 16));
      }
      img.bits = bps;
    }
  }
  return kOk;
}

}  // namespace

short readTiffInfo(const std::string& path, FileInfo& info) {
  Tiff t = openTiff(path, "rm");
  if (!t) return failedOpen(path);
  std::uint32_t w = 0, h = 0;
  std::uint16_t bps = 1, spp = 1;
  if (!TIFFGetField(t.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(t.get(), TIFFTAG_IMAGELENGTH, &h))
    return kDamaged;
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(t.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
  info.format = kTiff;
  info.width = static_cast<int>(std::min<std::uint32_t>(w, 0x7FFFFFFF));
  info.height = static_cast<int>(std::min<std::uint32_t>(h, 0x7FFFFFFF));
  info.bits = static_cast<short>(std::min(bps * spp, 0x7FFF));
  info.pageCount = pageCountOf(t.get());
  return kOk;
}

namespace {

// The pages of a TIFF one after another, the file opened and its
// directories walked once.
class TiffReader final : public PageSource {
 public:
  explicit TiffReader(Tiff t) : tiff_(std::move(t)), pages_(pageCountOf(tiff_.get())) {}
  short next(Image& page) override {
    if (index_ >= pages_) return kInvalidParameter;
    // The first directory is the current one after opening.
    if (index_ > 0 && !TIFFReadDirectory(tiff_.get())) return kDamaged;
    ++index_;
    return readPage(tiff_.get(), page);
  }

 private:
  Tiff tiff_;
  int pages_;
  int index_ = 0;
};

}  // namespace

std::unique_ptr<PageSource> tiffPageReader(const std::string& path, short& status) {
  Tiff t = openTiff(path, "rm");
  if (!t) {
    status = failedOpen(path);
    return nullptr;
  }
  status = kOk;
  auto reader = std::make_unique<TiffReader>(std::move(t));
  return reader;
}

short loadTiff(const std::string& path, int page, int pageCount, Document& doc) {
  Tiff t = openTiff(path, "rm");
  if (!t) return failedOpen(path);
  const int pages = pageCountOf(t.get());
  const int first = std::max(page, 1) - 1;
  if (first >= pages) return kInvalidParameter;
  const int last = pageCount < 0 ? pages - 1 : first;
  Document out;
  for (int p = first; p <= last; ++p) {
    if (!TIFFSetDirectory(t.get(), static_cast<tdir_t>(p))) return kDamaged;
    Image img;
    if (short s = readPage(t.get(), img)) return s;
    out.pages.push_back(std::move(img));
  }
  doc = std::move(out);
  doc.current = 0;
  return kOk;
}

namespace {

enum class Layout { kRgb, kCmyk, kYCbCr, kJpeg };

struct Method {
  Layout layout;
  std::uint16_t compression;
  int hSub = 1;       // JPEG chroma subsampling
  bool exif = false;  // an Exif directory goes with the page
};

// Internet fax pages: black and white as 2D fax lines, up to 8 bits as a
// palette, colour as JPEG.
Method internetFaxMethod(int bits) {
  if (bits <= 1) return {Layout::kRgb, COMPRESSION_CCITTFAX3};
  if (bits <= 8) return {Layout::kRgb, COMPRESSION_LZW};
  return {Layout::kJpeg, COMPRESSION_JPEG, 2};
}

bool methodOf(int code, Method& m) {
  switch (code) {
    case kExifTiffRgb:
      m = {Layout::kRgb, COMPRESSION_NONE, 1, true};
      return true;
    case kExifTiffYcc:
      m = {Layout::kYCbCr, COMPRESSION_NONE, 1, true};
      return true;
    case kTiff:
      m = {Layout::kRgb, COMPRESSION_NONE};
      return true;
    case kTiffPackbits:
      m = {Layout::kRgb, COMPRESSION_PACKBITS};
      return true;
    case kTiffLzw:
      m = {Layout::kRgb, COMPRESSION_LZW};
      return true;
    case kTiffCmyk:
      m = {Layout::kCmyk, COMPRESSION_NONE};
      return true;
    case kTiffPackbitsCmyk:
      m = {Layout::kCmyk, COMPRESSION_PACKBITS};
      return true;
    case kTiffLzwCmyk:
      m = {Layout::kCmyk, COMPRESSION_LZW};
      return true;
    case kTiffYcc:
      m = {Layout::kYCbCr, COMPRESSION_NONE};
      return true;
    case kTiffPackbitsYcc:
      m = {Layout::kYCbCr, COMPRESSION_PACKBITS};
      return true;
    case kTiffLzwYcc:
      m = {Layout::kYCbCr, COMPRESSION_LZW};
      return true;
    case kTiffJpeg:
      m = {Layout::kJpeg, COMPRESSION_JPEG, 1};
      return true;
    case kTiffJpeg422:
      m = {Layout::kJpeg, COMPRESSION_JPEG, 2};
      return true;
    case kTiffJpeg411:
      m = {Layout::kJpeg, COMPRESSION_JPEG, 4};
      return true;
    default:
      return false;
  }
}

// A TIFF in memory, for libtiff's codecs to encode strips into.
struct MemoryTiff {
  std::string bytes;
  std::uint64_t at = 0;

  static tmsize_t read(thandle_t, void*, tmsize_t) { return 0; }
  static tmsize_t write(thandle_t h, void* data, tmsize_t n) {
    auto* f = static_cast<MemoryTiff*>(h);
    if (f->at + static_cast<std::uint64_t>(n) > f->bytes.size())
      f->bytes.resize(f->at + static_cast<std::uint64_t>(n));
    std::memcpy(f->bytes.data() + f->at, data, static_cast<std::size_t>(n));
    f->at += static_cast<std::uint64_t>(n);
    return n;
  }
  static toff_t seek(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryTiff*>(h);
    f->at = whence == SEEK_SET ? offset : whence == SEEK_CUR ? f->at + offset : f->bytes.size() + offset;
    return f->at;
  }
  static int close(thandle_t) { return 0; }
  static toff_t size(thandle_t h) { return static_cast<MemoryTiff*>(h)->bytes.size(); }
  static int map(thandle_t, void**, toff_t*) { return 0; }
  static void unmap(thandle_t, void*, toff_t) {}
};

// What a page's strips are encoded with.
struct StripCoding {
  std::uint32_t width;
  std::uint16_t bitsPerSample, samplesPerPixel, compression, predictor;
};

// One strip of `rows` rows (their bytes one after another, changed by the
// predictor) compressed by libtiff's own codec, exactly as it would write it
// into the file; empty when the codec fails.
std::string encodeStrip(const StripCoding& c, std::uint32_t rows, std::vector<std::uint8_t>& data) {
  // LZW is ours (libtiff's codes, in less time); the horizontal predictor of
  // 8-bit samples is each sample less the one a pixel before it.
  if (c.compression == COMPRESSION_LZW && (c.predictor == PREDICTOR_NONE ||
                                           (c.predictor == PREDICTOR_HORIZONTAL && c.bitsPerSample == 8))) {
    if (c.predictor == PREDICTOR_HORIZONTAL && rows > 0) {
      const std::size_t rowBytes = data.size() / rows, step = c.samplesPerPixel;
      std::vector<std::uint8_t> row(rowBytes);
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::uint8_t* p = data.data() + rowBytes * r;
        std::memcpy(row.data(), p, rowBytes);
        for (std::size_t x = step; x < rowBytes; ++x) p[x] = static_cast<std::uint8_t>(row[x] - row[x - step]);
      }
    }
    return lzwEncode(data.data(), data.size());
  }
  MemoryTiff file;
  const OpenOptions opts;
  TIFF* t = TIFFClientOpenExt("strip", "w", &file, MemoryTiff::read, MemoryTiff::write, MemoryTiff::seek,
                              MemoryTiff::close, MemoryTiff::size, MemoryTiff::map, MemoryTiff::unmap,
                              opts.options);
  if (!t) return {};
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, c.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, rows);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, c.bitsPerSample);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.samplesPerPixel);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
  if (c.predictor != PREDICTOR_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, c.predictor);
  std::string out;
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  if (TIFFWriteEncodedStrip(t, 0, data.data(), static_cast<tmsize_t>(data.size())) >= 0 && TIFFFlushData(t) &&
      TIFFGetField(t, TIFFTAG_STRIPOFFSETS, &offsets) && TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts) &&
      offsets[0] + counts[0] <= file.bytes.size())
    out.assign(file.bytes, static_cast<std::size_t>(offsets[0]), static_cast<std::size_t>(counts[0]));
  TIFFCleanup(t);
  return out;
}

cv::Mat toBgr(const cv::Mat& px) {
  cv::Mat out;
  if (px.channels() == 3) return px;
  cv::cvtColor(px, out, px.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
  return out;
}

// Writes one page as the current directory.
short writePage(TIFF* t, const Image& page, const Method& m, int bits, int quality) {
  const int w = page.width(), h = page.height();
  if (bits == 0) bits = page.bits;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(h));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, static_cast<float>(page.xDpi));
  TIFFSetField(t, TIFFTAG_YRESOLUTION, static_cast<float>(page.yDpi));
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_COMPRESSION, m.compression);

  // The rows as the file stores them (indices of fewer than 8 bits are
  // packed as each row is written).
  FileRows rows;
  cv::Mat& samples = rows.source;
  int storedBits = 8;
  std::uint16_t photometric = PHOTOMETRIC_RGB;
  IndexedImage indexed;
  const bool grey = page.pixels.channels() == 1;
  if (m.layout == Layout::kCmyk) {
    // Naive separation: K is the darkness shared by all three inks, and the
    // inks cover what is left, so that R = (1 - C)(1 - K) restores the colour.
    cv::Mat bgr = toBgr(page.pixels);
    samples.create(h, w, CV_8UC4);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* p = bgr.ptr(y);
      std::uint8_t* o = samples.ptr(y);
      for (int x = 0; x < w; ++x, p += 3, o += 4) {
        const int c = 255 - p[2], mg = 255 - p[1], ye = 255 - p[0], k = std::min({c, mg, ye});
        const auto ink = [k](int v) {
          return static_cast<std::uint8_t>(k == 255 ? 0 : ((v - k) * 255 + (255 - k) / 2) / (255 - k));
        };
        o[0] = ink(c);
        o[1] = ink(mg);
        o[2] = ink(ye);
        o[3] = static_cast<std::uint8_t>(k);
      }
    }
    photometric = PHOTOMETRIC_SEPARATED;
    TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
  } else if (m.layout == Layout::kJpeg) {
    if (bits <= 8 || grey) {
      if (grey)
        samples = page.pixels;
      else
        cv::cvtColor(toBgr(page.pixels), samples, cv::COLOR_BGR2GRAY);
      photometric = PHOTOMETRIC_MINISBLACK;
    } else {
      rows = {toBgr(page.pixels), cv::COLOR_BGR2RGB, 3};
      photometric = PHOTOMETRIC_YCBCR;
      TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, static_cast<std::uint16_t>(m.hSub),
                   static_cast<std::uint16_t>(1));
    }
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, jpegQuality(quality));
    // libjpeg converts RGB to YCbCr and subsamples.
    if (photometric == PHOTOMETRIC_YCBCR) TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  } else if (m.layout == Layout::kYCbCr) {
    cv::Mat ycrcb;
    cv::cvtColor(toBgr(page.pixels), ycrcb, cv::COLOR_BGR2YCrCb);
    const int order[] = {0, 0, 2, 1, 1, 2};  // Y Cr Cb -> Y Cb Cr
    samples.create(h, w, CV_8UC3);
    cv::mixChannels(&ycrcb, 1, &samples, 1, order, 3);
    photometric = PHOTOMETRIC_YCBCR;
    TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, static_cast<std::uint16_t>(1), static_cast<std::uint16_t>(1));
    float refBlackWhite[6] = {0, 255, 128, 255, 128, 255};
    TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, refBlackWhite);
  } else if (bits >= 32) {
    rows = {bgraOf(page), cv::COLOR_BGRA2RGBA, 4};
    std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, static_cast<std::uint16_t>(1), &kind);
  } else if (bits >= 24) {
    rows = {toBgr(page.pixels), cv::COLOR_BGR2RGB, 3};
  } else if (bits > 8) {
    // 16 bits stand for 5-5-5 colour, stored as 8-bit samples.
    cv::cvtColor(toBgr(page.pixels), samples, cv::COLOR_BGR2RGB);
    toFiveBits(samples);
  } else if (grey && bits == 8) {
    samples = page.pixels;
    photometric = PHOTOMETRIC_MINISBLACK;
  } else if (m.compression == COMPRESSION_CCITTFAX3) {
    samples = 1 - blackOf(page);  // 1 is white
    storedBits = 1;
    photometric = PHOTOMETRIC_MINISBLACK;
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
  } else {
    indexed = toIndexed(page.pixels, bits);
    storedBits = bits <= 1 ? 1 : bits <= 2 ? 2 : bits <= 4 ? 4 : 8;
    const bool blackWhite = storedBits == 1 && std::all_of(indexed.palette.begin(), indexed.palette.end(),
                                                           [](auto c) { return c == 0 || c == 0xFFFFFF; });
    samples = indexed.indices;
    if (blackWhite) {
      // A bilevel page: 1 is white.
      photometric = PHOTOMETRIC_MINISBLACK;
      if (indexed.palette[0] != 0) samples = 1 - samples;
    } else {
      photometric = PHOTOMETRIC_PALETTE;
    }
  }
  const int spp = rows.samplesPerPixel();
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(storedBits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(spp));
  if (photometric == PHOTOMETRIC_PALETTE) {
    // libtiff sizes the colour map by the bits per sample set before it.
    const std::size_t n = std::size_t{1} << storedBits;
    std::vector<std::uint16_t> r(n, 0), g(n, 0), b(n, 0);
    for (std::size_t i = 0; i < indexed.palette.size(); ++i) {
      r[i] = static_cast<std::uint16_t>((indexed.palette[i] & 0xFF) * 257);
      g[i] = static_cast<std::uint16_t>(((indexed.palette[i] >> 8) & 0xFF) * 257);
      b[i] = static_cast<std::uint16_t>(((indexed.palette[i] >> 16) & 0xFF) * 257);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
  }
  const std::uint16_t predictor =
      m.compression == COMPRESSION_LZW && storedBits == 8 && photometric != PHOTOMETRIC_PALETTE
          ? PREDICTOR_HORIZONTAL
          : PREDICTOR_NONE;
  if (predictor != PREDICTOR_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, predictor);
  // Strips of at least 128 rows (libtiff's own choice, 8 KiB, is one row a
  // strip for a photo 2,731 pixels wide, which costs every reader a seek and
  // a codec restart a row); JPEG strips hold whole 16-row blocks.
  std::uint32_t rowsPerStrip =
      std::min(std::max<std::uint32_t>(TIFFDefaultStripSize(t, 0), 128), static_cast<std::uint32_t>(h));
  if (m.layout == Layout::kJpeg) rowsPerStrip = std::max<std::uint32_t>(16, rowsPerStrip / 16 * 16);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

  // Every row is handed over in a buffer of ours: libtiff's horizontal
  // predictor differences the row it is given in place, which must never be
  // the image's own pixels.
  const std::size_t rowBytes =
      storedBits < 8 ? (static_cast<std::size_t>(w) * storedBits + 7) / 8 : rows.bytes();
  const auto fileRow = [&](int y, std::uint8_t* out) {
    if (storedBits < 8)
      packIndices(samples.ptr(y), w, storedBits, out);
    else
      rows.copyRow(y, out);
  };
  const std::uint32_t strips = (static_cast<std::uint32_t>(h) + rowsPerStrip - 1) / rowsPerStrip;
  const bool compressed = m.compression == COMPRESSION_LZW || m.compression == COMPRESSION_PACKBITS ||
                          m.compression == COMPRESSION_ADOBE_DEFLATE;
  if (!compressed || strips < 2) {
    std::vector<std::uint8_t> row(rowBytes);
    for (int y = 0; y < h; ++y) {
      fileRow(y, row.data());
      if (TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) < 0) return writeFailed();
    }
  } else {
    // Strips are compressed independently, so several are compressed at once
    // (a batch of a few per core) and written in order: a large page no
    // longer waits for one core's LZW.
    const StripCoding coding{static_cast<std::uint32_t>(w), static_cast<std::uint16_t>(storedBits),
                             static_cast<std::uint16_t>(spp), m.compression, predictor};
    const std::uint32_t batch = static_cast<std::uint32_t>(std::max(1, cv::getNumThreads() * 2));
    std::vector<std::string> encoded(batch);
    for (std::uint32_t first = 0; first < strips; first += batch) {
      const std::uint32_t count = std::min(batch, strips - first);
      cv::parallel_for_(cv::Range(0, static_cast<int>(count)), [&](const cv::Range& range) {
        std::vector<std::uint8_t> data;
        for (int k = range.start; k < range.end; ++k) {
          const std::uint32_t strip = first + static_cast<std::uint32_t>(k);
          const std::uint32_t top = strip * rowsPerStrip;
          const std::uint32_t rows = std::min(rowsPerStrip, static_cast<std::uint32_t>(h) - top);
          data.resize(rowBytes * rows);
          for (std::uint32_t r = 0; r < rows; ++r)
            fileRow(static_cast<int>(top + r), data.data() + rowBytes * r);
          encoded[static_cast<std::size_t>(k)] = encodeStrip(coding, rows, data);
        }
      });
      for (std::uint32_t k = 0; k < count; ++k) {
        std::string& bytes = encoded[k];
        if (bytes.empty() ||
            TIFFWriteRawStrip(t, first + k, bytes.data(), static_cast<tmsize_t>(bytes.size())) < 0)
          return writeFailed();
        std::string().swap(bytes);
      }
    }
  }
  if (m.exif)
    TIFFSetField(t, TIFFTAG_EXIFIFD,
                 static_cast<std::uint64_t>(0));  // set once the Exif directory is written
  if (!TIFFWriteDirectory(t)) return writeFailed();
  if (!m.exif) return kOk;
  // The Exif directory after the page, then the page's pointer to it.
  const tdir_t directory = TIFFCurrentDirectory(t);
  std::uint64_t at = 0;
  if (TIFFCreateEXIFDirectory(t) != 0) return writeFailed();
  TIFFSetField(t, EXIFTAG_EXIFVERSION, "0210");
  TIFFSetField(t, EXIFTAG_COLORSPACE, static_cast<std::uint16_t>(1));  // sRGB
  TIFFSetField(t, EXIFTAG_PIXELXDIMENSION, static_cast<std::uint32_t>(w));
  TIFFSetField(t, EXIFTAG_PIXELYDIMENSION, static_cast<std::uint32_t>(h));
  if (!TIFFWriteCustomDirectory(t, &at)) return writeFailed();
  if (!TIFFSetDirectory(t, directory)) return writeFailed();
  TIFFSetField(t, TIFFTAG_EXIFIFD, at);
  return TIFFRewriteDirectory(t) ? static_cast<short>(kOk) : writeFailed();
}

}  // namespace

namespace {

// The method of a save code; the internet-fax code takes its method from the
// depth of the first page.
short methodFor(int code, int bits, const Image& first, Method& m) {
  if (code == kTiffFax)
    m = internetFaxMethod(bits == 0 ? first.bits : bits);
  else if (!methodOf(code, m))
    return kNotSupported;
  return kOk;
}

// Pages written one after another into `path` (a save's temporary file), each
// its own directory. The first page waits for the second: only a file of
// several pages marks its pages as pages, as saveTiff does.
class TiffPages final : public FirstPageHeld {
 public:
  TiffPages(std::string path, int code, int bits, int quality)
      : path_(std::move(path)), code_(code), bits_(bits), quality_(quality) {}

  short end() override {
    // Closing flushes; a failure there is a failed save.
    const bool flushed = TIFFFlush(tiff_.get()) != 0;
    tiff_.reset();
    return flushed ? static_cast<short>(kOk) : writeFailed();
  }

 private:
  short begin(const Image& first, bool) override {
    if (short s = methodFor(code_, bits_, first, method_)) return s;
    if (method_.exif) bits_ = 24;
    tiff_ = openTiff(path_, "w");
    return tiff_ ? kOk : kCannotCreate;
  }
  short put(const Image& page, bool several) override {
    if (several) TIFFSetField(tiff_.get(), TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    return writePage(tiff_.get(), page, method_, bits_, quality_);
  }

  std::string path_;
  int code_, bits_, quality_;
  Method method_;
  Tiff tiff_;
};

}  // namespace

std::unique_ptr<PageSink> tiffPageWriter(const std::string& path, int code, int bits, int quality,
                                         short& status) {
  Method m;
  if (code != kTiffFax && !methodOf(code, m)) {
    status = kNotSupported;
    return nullptr;
  }
  status = kOk;
  return std::make_unique<TiffPages>(path, code, bits, quality);
}

short saveTiff(const std::string& path, const std::vector<Image>& pages, int code, int bits, int quality,
               bool append) {
  if (pages.empty() || pages[0].pixels.empty()) return kInvalidParameter;
  Method m;
  if (short s = methodFor(code, bits, pages[0], m)) return s;
  if (m.exif) bits = 24;
  PendingFile file(path);
  if (file.status() != kOk) return file.status();
  // An append starts from a copy of the existing TIFF; the original stays in
  // place until the new file is complete.
  bool adding = false;
  if (append) {
    FileInfo existing;
    if (readInfo(path, existing) == kOk && existing.format == kTiff) {
      if (short s = file.copyTarget()) return s;
      adding = true;
    }
  }
  Tiff t = openTiff(file.path(), adding ? "a" : "w");
  if (!t) return kCannotCreate;
  // An Exif file holds one picture.
  const std::size_t count = m.exif ? 1 : pages.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Image& page = pages[i];
    if (count > 1 || adding) {
      TIFFSetField(t.get(), TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    }
    if (short s = writePage(t.get(), page, m, bits, quality)) return s;
  }
  // Closing flushes; a failure there is a failed save.
  const bool flushed = TIFFFlush(t.get()) != 0;
  t.reset();
  if (!flushed) return writeFailed();
  return file.commit();
}

}  // namespace pv::engine::codecs
