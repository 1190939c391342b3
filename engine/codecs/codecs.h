#pragma once
// The codec families behind CLead's file operations. Each returns a status of
// engine/status.h and never throws on bad input.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_format.h"
#include "engine/image.h"
#include "engine/outputs.h"
#include "engine/status.h"

namespace pv::engine::codecs {

// The file format codes, by name, are the codecs' own vocabulary.
using namespace ::pv::fmt;

struct Codec;

// Facts of a file read from its content, never from its name.
struct FileInfo {
  const Codec* codec = nullptr;  // the row of engine/codecs/table.h that reads it
  short format = 0;              // file format code
  short bits = 0;                // bits per pixel as stored
  int pageCount = 1;
  int width = 0;
  int height = 0;
};

// `readerOnly` asks only for the reader and format code, as a load needs
// them: readers whose facts take a decode then skip it.
[[nodiscard]] short readInfo(const std::string& path, FileInfo& info, bool readerOnly = false);
// The lower-case text after the last dot of the file name; empty without one.
std::string extensionOf(const std::string& path);

[[nodiscard]] short readPngInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadPng(const std::string& path, Document& doc);
// A PNG held in memory (icon entries, for one).
[[nodiscard]] short decodePng(const std::string& bytes, Document& doc);
// level 0..9 (0: the library's default).
[[nodiscard]] short savePng(const std::string& path, const Image& image, int bits, int level);

[[nodiscard]] short readJpegInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadJpeg(const std::string& path, Document& doc);
// `code` picks the subsampling; `quality` is the factor 2 (best) .. 255;
// `passes` 0 writes baseline, more a progressive file with that many scans
// (at least one per component and one DC scan).
// A non-empty `app1` is written as the APP1 segment in place of the JFIF
// header (Exif files).
[[nodiscard]] short saveJpeg(const std::string& path, const Image& image, int code, int bits, int quality,
                             int passes, const std::string& app1 = {});
// The APP1 segment of an Exif JPEG: resolution and an Exif directory of the
// given version ("0110", "0200").
std::string exifSegment(const Image& image, const char* version);
// The libjpeg quality (100 .. 1) of a quality factor (2 .. 255).
int jpegQuality(int factor);

// Writes all of `size` bytes to `fd`, retrying short writes; kDiskFull or
// kWriteError when it cannot.
[[nodiscard]] short writeAll(int fd, const void* data, std::size_t size);

// A file of several pages written one page at a time, as the pages come:
// `add` writes a page (a sink may hold one back until it knows whether more
// follow), `finish` writes what is left and closes the file.
class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual short add(const Image& page) = 0;
  virtual short finish() = 0;
};

// A sink whose file starts differently for one page and for several: the
// first page waits for the second, or for the end of the pages.
class FirstPageHeld : public PageSink {
 public:
  short add(const Image& page) final {
    if (page.pixels.empty()) return kInvalidParameter;
    if (!first_ && !begun_) {
      first_ = page;
      return kOk;
    }
    if (short s = release(true)) return s;
    return put(page, true);
  }
  short finish() final {
    if (short s = release(false)) return s;
    return begun_ ? end() : static_cast<short>(kInvalidParameter);
  }

 protected:
  // Starts the file with pages like `first`; `several` when more follow.
  virtual short begin(const Image& first, bool several) = 0;
  virtual short put(const Image& page, bool several) = 0;
  // Ends the file after the last page.
  virtual short end() = 0;

 private:
  short release(bool several) {
    if (!first_) return kOk;
    const Image held = std::move(*first_);
    first_.reset();
    if (short s = begin(held, several)) return s;
    begun_ = true;
    return put(held, several);
  }
  std::optional<Image> first_;
  bool begun_ = false;
};

// Pages read one after another, each as a load of that page alone gives it.
class PageSource {
 public:
  virtual ~PageSource() = default;
  // The next page; kInvalidParameter after the last.
  virtual short next(Image& page) = 0;
};

[[nodiscard]] short readGifInfo(const std::string& path, FileInfo& info);
// The frames of a GIF one after another, the file read once.
std::unique_ptr<PageSource> gifPageReader(const std::string& path, short& status);
// Page 0 or 1 is the first frame; page count -1 loads every frame from `page` on.
[[nodiscard]] short loadGif(const std::string& path, int page, int pageCount, Document& doc);
// Pages written frame by frame into `path` (a save's temporary file), the
// file as saveGif makes it of the same pages.
std::unique_ptr<PageSink> gifPageWriter(const std::string& path, int bits, bool interlaced, short& status);
// Every page becomes a frame with its own palette of 2^bits colours (bits 0:
// the page's own depth, at most 8).
[[nodiscard]] short saveGif(const std::string& path, const std::vector<Image>& pages, int bits,
                            bool interlaced);

[[nodiscard]] short readTiffInfo(const std::string& path, FileInfo& info);
// The pages of a TIFF one after another, the file read once.
std::unique_ptr<PageSource> tiffPageReader(const std::string& path, short& status);
// Page 0 or 1 is the first page; page count -1 loads every page from `page` on.
[[nodiscard]] short loadTiff(const std::string& path, int page, int pageCount, Document& doc);
// Writes the pages with the method of `code` (the TIFF codes of the format
// catalogue); `append` adds them to the TIFF already at the path.
// Pages written one after another into `path` (a save's temporary file), the
// file saveTiff makes of the same pages.
std::unique_ptr<PageSink> tiffPageWriter(const std::string& path, int code, int bits, int quality,
                                         short& status);
[[nodiscard]] short saveTiff(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                             int quality, bool append);

// Lossless JPEG (process 14): written for code 10 with quality factor 0.
[[nodiscard]] short saveLosslessJpeg(const std::string& path, const Image& image, int bits);
bool isLosslessJpeg(const std::string& bytes);
[[nodiscard]] short readLosslessJpegInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadLosslessJpeg(const std::string& path, Document& doc);

[[nodiscard]] short readBmpInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadBmp(const std::string& path, Document& doc);
// `code` 6 uncompressed, 84 RLE, 14 OS/2 1.x, 74 OS/2 2.x.
[[nodiscard]] short saveBmp(const std::string& path, const Image& image, int code, int bits);
[[nodiscard]] short decodeBmp(const std::string& bytes, Image& image);
[[nodiscard]] short encodeBmp(const Image& image, int code, int bits, std::string& bytes);
// A device-independent bitmap (the BMP file without its 14-byte file header),
// as icons, clipboard files and metafiles hold it; empty on failure.
std::string dibOf(const Image& image, int bits);
[[nodiscard]] short decodeDib(const std::string& dib, Image& image);

// Everything else that ImageMagick reads; page 0 or 1 is the first frame.
[[nodiscard]] short readMagickInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadMagick(const std::string& path, int page, int pageCount, Document& doc);
// The formats ImageMagick writes for us (PCX/DCX, TGA, PSD, PICT, Sun raster,
// SGI, WBMP, XBM, XPM, XWD, PBM/PGM/PPM, CALS, Cineon, raw G3 fax, EPS).
bool magickWrites(int code);
// Photo CD: the sizes of the resolutions a file holds (Base/16 upwards), and
// a load of one of them (1 Base/16 .. 5 16Base). A plain load gives Base.
[[nodiscard]] short pcdResolutions(const std::string& path, std::vector<std::pair<int, int>>& sizes);
[[nodiscard]] short loadPcd(const std::string& path, int resolution, Document& doc);
// True when ImageMagick has a decoder named like the extension that our
// policy allows.
bool magickReadsExtension(std::string_view extension);
[[nodiscard]] short saveMagick(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                               int quality);

// Today's photo formats (engine/codecs/modern.h maps quality and effort).
// Every load gives pages [page, page + pageCount) as loadGif does, with the
// container's metadata; every save writes all `pages` (an animation, a
// sequence or a collection when several) with the method of `code`, the
// metadata's EXIF and XMP when `tags`, through a temporary file.
[[nodiscard]] short readWebpInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadWebp(const std::string& path, int page, int pageCount, Document& doc);
[[nodiscard]] short saveWebp(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                             int quality, int effort, bool tags);
[[nodiscard]] short readAvifInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadAvif(const std::string& path, int page, int pageCount, Document& doc);
[[nodiscard]] short saveAvif(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                             int quality, int speed, bool tags);
[[nodiscard]] short readHeifInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadHeif(const std::string& path, int page, int pageCount, Document& doc);
[[nodiscard]] short saveHeic(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                             int quality, int speed, bool tags);
[[nodiscard]] short readJxlInfo(const std::string& path, FileInfo& info);
[[nodiscard]] short loadJxl(const std::string& path, int page, int pageCount, Document& doc);
[[nodiscard]] short saveJxl(const std::string& path, const std::vector<Image>& pages, int code, int bits,
                            int quality, int effort, bool tags);
// Why the installed libavif or libheif cannot encode; empty when it can.
std::string avifEncoderMissing();
std::string heicEncoderMissing();

// Why a file cannot be read: kFileNotFound or kCannotOpen; kOk when it can.
[[nodiscard]] short openStatus(const std::string& path);
// The whole content of a file, or the status of openStatus.
[[nodiscard]] short readFileBytes(const std::string& path, std::string& bytes);

// Packs one index (below 2^bits) a byte into `bits` (1, 2, 4 or 8) a pixel,
// the first pixel in the high bits, as PNG, TIFF and BMP rows store them.
void packIndices(const std::uint8_t* in, int count, int bits, std::uint8_t* out);

// An image's rows in a file's sample order, made one row at a time as an
// encoder takes them, so that a photo is never copied whole before it is
// compressed: `source`'s own bytes, or each row converted by the cv::cvtColor
// code `conversion` into `channels` 8-bit samples a pixel.
struct FileRows {
  cv::Mat source;
  int conversion = -1;  // -1: the source's bytes as they are
  int channels = 0;     // of a converted row

  int samplesPerPixel() const { return conversion < 0 ? source.channels() : channels; }
  // The bytes of one row in the file.
  std::size_t bytes() const;
  // Row y: the source's own, or converted into `buffer` (of bytes()).
  const std::uint8_t* row(int y, std::uint8_t* buffer) const;
  // Row y in `out` (of bytes()), a copy when it is the source's own.
  void copyRow(int y, std::uint8_t* out) const;
};

// The image as B G R A for a save with alpha: its own alpha, or, for an image
// with a transparent colour, alpha 0 wherever that colour is (a GIF's
// transparent index, an area no frame covered) and 255 elsewhere.
cv::Mat bgraOf(const Image& image);

// Moves the pages [page, page + pageCount) of a decode's `all` into `doc`
// (page 0 or 1 is the first; a count of -1 every page from there), each
// with `metadata` where it has none of its own. kInvalidParameter for a
// page beyond the file, kDamaged when nothing was decoded.
[[nodiscard]] short keepPages(std::vector<Image>& all, int page, int pageCount, Document& doc,
                              const std::shared_ptr<const Metadata>& metadata = nullptr);

// A library's object, released by the library's own function when it goes:
// Owned<heif_context, heif_context_free>.
template <auto Release>
struct Releaser {
  template <class T>
  void operator()(T* p) const {
    Release(p);
  }
};
template <class T, auto Release>
using Owned = std::unique_ptr<T, Releaser<Release>>;

// What a temporary file beside its target is called: "<target>.pvtmp-XXXXXX".
inline constexpr const char* kTemporaryMark = ".pvtmp-";

// A file in memory that a caller opened (a size search's trials are encoded
// into one) is named by its descriptor under this folder; it is written in
// place, like a temporary.
inline constexpr std::string_view kMemoryFileFolder = "/proc/self/fd/";

// A temporary file beside a target that takes the target's name on commit
// and is removed otherwise, so a failed save leaves neither a partial file
// nor a clobbered old one. Its writer holds a lock on it while it lives. A
// target that is itself such a temporary (a save staged by its caller) is
// written in place, and its commit is the caller's.
class PendingFile {
 public:
  explicit PendingFile(const std::string& target);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // kOk when the temporary file was created.
  short status() const { return status_; }
  const std::string& path() const { return temp_; }
  // The name the file has after its commit.
  const std::string& target() const { return target_; }
  // Starts the temporary file as a copy of the target (for appends); nothing
  // to do for a file written in place.
  short copyTarget();
  // Starts the temporary file as a copy of another file.
  short copyFrom(const std::string& source);
  short commit(const Placement& placement = {});

 private:
  std::string target_, temp_;
  int lock_ = -1;
  short status_;
  bool inPlace_ = false;
  bool done_ = false;
};

// Writes `bytes` through a temporary file in the target folder and a rename, so
// a failed save leaves neither a partial file nor a clobbered old one.
[[nodiscard]] short writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace pv::engine::codecs
