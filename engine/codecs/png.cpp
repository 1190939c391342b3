// PNG: libpng reads every colour type and depth into the image model (16-bit
// samples are held at 8 bits); our own chunk writer over zlib writes palette,
// grey, RGB and RGBA with adaptively filtered rows deflated in parallel bands.
#include <png.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/metadata.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void quietWarning(png_structp, png_const_charp) {}
// Damaged data is reported through the status, not on stderr.
[[noreturn]] void quietError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

short openForRead(const std::string& path, File& f) {
  f.reset(std::fopen(path.c_str(), "rb"));
  if (!f) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  unsigned char sig[8];
  if (std::fread(sig, 1, 8, f.get()) != 8 || png_sig_cmp(sig, 0, 8) != 0) return kNotAnImage;
  return kOk;
}

struct PngReader {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngReader() {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (png) info = png_create_info_struct(png);
  }
  ~PngReader() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

short readPngInfo(const std::string& path, FileInfo& out) {
  File f;
  if (short s = openForRead(path, f)) return s;
  PngReader r;
  if (!r.info) return kOutOfMemory;
  if (setjmp(png_jmpbuf(r.png))) return kDamaged;
  png_init_io(r.png, f.get());
  png_set_sig_bytes(r.png, 8);
  png_read_info(r.png, r.info);
  out.format = kPng;
  out.width = static_cast<int>(png_get_image_width(r.png, r.info));
  out.height = static_cast<int>(png_get_image_height(r.png, r.info));
  out.bits = static_cast<short>(png_get_bit_depth(r.png, r.info) * png_get_channels(r.png, r.info));
  out.pageCount = 1;
  return kOk;
}

namespace {

// Reads the picture of a PNG stream whose signature was read.
short readPngStream(std::FILE* f, Document& doc) {
  PngReader r;
  if (!r.info) return kOutOfMemory;
  Image img;
  // Rows live outside the jump so that a longjmp leaves nothing to unwind.
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(r.png))) return kDamaged;
  png_init_io(r.png, f);
  png_set_sig_bytes(r.png, 8);
  png_read_info(r.png, r.info);
  const png_uint_32 w = png_get_image_width(r.png, r.info), h = png_get_image_height(r.png, r.info);
  if (static_cast<std::uint64_t>(w) * h > maxPixels()) return kTooLarge;
  const int colourType = png_get_color_type(r.png, r.info);
  const int depth = png_get_bit_depth(r.png, r.info);
  const bool hasTrns = png_get_valid(r.png, r.info, PNG_INFO_tRNS);

  if (colourType == PNG_COLOR_TYPE_PALETTE && !hasTrns) {
    png_colorp pal = nullptr;
    int count = 0;
    png_get_PLTE(r.png, r.info, &pal, &count);
    for (int i = 0; i < count; ++i)
      img.palette.push_back(pal[i].red | (pal[i].green << 8) |
                            (static_cast<std::uint32_t>(pal[i].blue) << 16));
    img.bits = depth;
  }
  png_set_expand(r.png);  // palette to RGB, small grey to 8 bits, tRNS to alpha
  png_set_strip_16(r.png);
  const bool grey = (colourType & PNG_COLOR_MASK_COLOR) == 0;
  const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || hasTrns;
  if (grey && alpha) png_set_gray_to_rgb(r.png);
  png_set_bgr(r.png);
  png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  const int channels = png_get_channels(r.png, r.info);
  img.pixels.create(static_cast<int>(h), static_cast<int>(w), CV_8UC(channels));
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = img.pixels.ptr<png_byte>(static_cast<int>(y));
  png_read_image(r.png, rows.data());
  png_read_end(r.png, nullptr);
  if (img.palette.empty()) img.bits = channels == 1 ? 8 : channels * 8;
  png_uint_32 xres = 0, yres = 0;
  int unit = 0;
  if (png_get_pHYs(r.png, r.info, &xres, &yres, &unit) && unit == PNG_RESOLUTION_METER) {
    img.xDpi = static_cast<int>(xres * 0.0254 + 0.5);
    img.yDpi = static_cast<int>(yres * 0.0254 + 0.5);
  }
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace

short loadPng(const std::string& path, Document& doc) {
  File f;
  if (short s = openForRead(path, f)) return s;
  return readPngStream(f.get(), doc);
}

short decodePng(const std::string& bytes, Document& doc) {
  if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0)
    return kNotAnImage;
  File f(fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb"));
  if (!f) return kOutOfMemory;
  std::fseek(f.get(), 8, SEEK_SET);
  return readPngStream(f.get(), doc);
}

namespace {

void putBE32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void putChunk(std::string& out, const char* type, const std::string& data) {
  putBE32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = out.size();
  out.append(type, 4);
  out += data;
  const auto* p = reinterpret_cast<const Bytef*>(out.data() + start);
  putBE32(out,
          static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), p, static_cast<uInt>(out.size() - start))));
}

// One row through one of the five PNG filters; `prev` is the unfiltered row
// above (zeros for the first).
void filterRow(int kind, const std::uint8_t* row, const std::uint8_t* prev, std::size_t n, int bpp,
               std::uint8_t* out) {
  const std::size_t b = static_cast<std::size_t>(bpp);
  switch (kind) {
    case 0:
      std::memcpy(out, row, n);
      break;
    case 1:
      for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - (i >= b ? row[i - b] : 0));
      break;
    case 2:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prev[i]);
      break;
    case 3:
      for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - (((i >= b ? row[i - b] : 0) + prev[i]) >> 1));
      break;
    default:
      for (std::size_t i = 0; i < n; ++i) {
        const int a = i >= b ? row[i - b] : 0, up = prev[i], c = i >= b ? prev[i - b] : 0;
        const int pa = std::abs(up - c), pb = std::abs(a - c), pc = std::abs(a + up - 2 * c);
        out[i] = static_cast<std::uint8_t>(row[i] - (pa <= pb && pa <= pc ? a : pb <= pc ? up : c));
      }
  }
}

// The filtered rows [first, last) with each row's filter byte, written at
// their place in `out` (which holds every row): the filter whose output has
// the smallest sum of magnitudes, or none when not adaptive.
void filterRows(const FileRows& rows, int first, int last, int bpp, bool adaptive, std::uint8_t* out) {
  const std::size_t n = rows.bytes();
  std::vector<std::uint8_t> zeros(n, 0), trial(n), current(n), previous(n);
  const std::uint8_t* prev = first > 0 ? rows.row(first - 1, previous.data()) : zeros.data();
  for (int y = first; y < last; ++y) {
    std::uint8_t* o = out + (n + 1) * static_cast<std::size_t>(y);
    const std::uint8_t* row = rows.row(y, current.data());
    if (!adaptive) {
      o[0] = 0;
      std::memcpy(o + 1, row, n);
    } else {
      std::uint64_t best = ~std::uint64_t{0};
      for (int kind = 0; kind < 5; ++kind) {
        filterRow(kind, row, prev, n, bpp, trial.data());
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < n; ++i)
          sum += static_cast<std::uint64_t>(std::abs(static_cast<std::int8_t>(trial[i])));
        if (sum < best) {
          best = sum;
          o[0] = static_cast<std::uint8_t>(kind);
          std::memcpy(o + 1, trial.data(), n);
        }
      }
    }
    // This row is the next one's previous: a converted row stays in its
    // buffer, which the next row must then not overwrite.
    if (row == current.data()) {
      std::swap(current, previous);
      prev = previous.data();
    } else {
      prev = row;
    }
  }
}

// The filtered rows as one zlib stream. Rows are filtered in parallel bands;
// libdeflate (two to three times faster than zlib at the same level and
// size) compresses them in one piece, as it writes whole streams only.
short compressRows(const FileRows& fileRows, int bpp, bool adaptive, int level, std::string& stream) {
  const int rows = fileRows.source.rows;
  const std::size_t rowBytes = fileRows.bytes() + 1;
  std::vector<std::uint8_t> filtered(rowBytes * static_cast<std::size_t>(rows));
  const int bands = std::clamp(cv::getNumThreads() * 2, 1, std::max(1, rows));
  cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range& range) {
    for (int band = range.start; band < range.end; ++band)
      filterRows(fileRows, static_cast<int>(static_cast<std::int64_t>(rows) * band / bands),
                 static_cast<int>(static_cast<std::int64_t>(rows) * (band + 1) / bands), bpp, adaptive,
                 filtered.data());
  });
  // zlib's levels, with its default (6) for "none chosen".
  const int effort = level == Z_DEFAULT_COMPRESSION ? 6 : std::clamp(level, 1, 12);
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
      libdeflate_alloc_compressor(effort), libdeflate_free_compressor);
  if (!compressor) return kOutOfMemory;
  stream.resize(libdeflate_zlib_compress_bound(compressor.get(), filtered.size()));
  const std::size_t n =
      libdeflate_zlib_compress(compressor.get(), filtered.data(), filtered.size(), stream.data(), stream.size());
  if (n == 0) return kOutOfMemory;
  stream.resize(n);
  return kOk;
}

}  // namespace

short savePng(const std::string& path, const Image& image, int bits, int level) {
  if (image.pixels.empty()) return kInvalidParameter;
  if (bits == 0) bits = image.bits;
  const int w = image.width(), h = image.height();
  // The rows in the file's layout.
  FileRows rows;
  int colourType, depth = 8, channels;
  IndexedImage indexed;
  const int ch = image.pixels.channels();
  if (bits >= 32) {
    colourType = PNG_COLOR_TYPE_RGB_ALPHA, channels = 4;
    rows = {bgraOf(image), cv::COLOR_BGRA2RGBA, 4};
  } else if (bits > 8) {
    colourType = PNG_COLOR_TYPE_RGB, channels = 3;
    rows = {image.pixels, ch == 4 ? cv::COLOR_BGRA2RGB : ch == 3 ? cv::COLOR_BGR2RGB : cv::COLOR_GRAY2RGB, 3};
  } else if (ch == 1 && bits == 8) {
    colourType = PNG_COLOR_TYPE_GRAY, channels = 1;
    rows.source = image.pixels;
  } else {
    // An indexed save: at most 2^bits colours, exact when they fit.
    colourType = PNG_COLOR_TYPE_PALETTE, channels = 1;
    indexed = toIndexed(image.pixels, bits);
    depth = bits <= 1 ? 1 : bits <= 2 ? 2 : bits <= 4 ? 4 : 8;
    rows.source.create(h, static_cast<int>((static_cast<std::size_t>(w) * depth + 7) / 8), CV_8UC1);
    for (int y = 0; y < h; ++y)
      packIndices(indexed.indices.ptr<std::uint8_t>(y), w, depth, rows.source.ptr<std::uint8_t>(y));
  }

  std::string stream;
  // Filters suit photographs; palette and grey-level indices compress best unfiltered.
  const bool adaptive = colourType != PNG_COLOR_TYPE_PALETTE;
  if (short s = compressRows(rows, std::max(1, channels * depth / 8), adaptive,
                             level > 0 ? std::min(level, 9) : Z_DEFAULT_COMPRESSION, stream))
    return s;

  std::string out("\x89PNG\r\n\x1a\n", 8), chunk;
  putBE32(chunk, static_cast<std::uint32_t>(w));
  putBE32(chunk, static_cast<std::uint32_t>(h));
  chunk.push_back(static_cast<char>(depth));
  chunk.push_back(static_cast<char>(colourType));
  chunk.append(3, '\0');  // deflate, adaptive filtering, no interlace
  putChunk(out, "IHDR", chunk);
  // The colour profile, under a name as readers require one (exiv2, which
  // adds the metadata afterwards, keeps the chunk and its name).
  if (const std::string icc = metadataBlocks(image, false).icc; !icc.empty()) {
    uLongf size = compressBound(static_cast<uLong>(icc.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(icc.data()),
                  static_cast<uLong>(icc.size()), Z_BEST_COMPRESSION) == Z_OK) {
      chunk.assign("ICC profile\0\0", 13);  // the name, its end, deflate
      chunk.append(packed, 0, size);
      putChunk(out, "iCCP", chunk);
    }
  }
  if (!indexed.palette.empty()) {
    chunk.clear();
    for (std::uint32_t c : indexed.palette) {
      chunk.push_back(static_cast<char>(c & 0xFF));
      chunk.push_back(static_cast<char>((c >> 8) & 0xFF));
      chunk.push_back(static_cast<char>((c >> 16) & 0xFF));
    }
    putChunk(out, "PLTE", chunk);
  }
  // A transparent colour: a palette entry of alpha 0, or the colour key of
  // a grey or RGB file.
  if (image.useTransparentColor && colourType != PNG_COLOR_TYPE_RGB_ALPHA) {
    const std::uint32_t c = image.transparentColor;
    const std::uint16_t r = c & 0xFF, g = c >> 8 & 0xFF, b = c >> 16 & 0xFF;
    chunk.clear();
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      if (const int at = indexed.indexOf(c); at >= 0) {
        chunk.assign(static_cast<std::size_t>(at), '\xff');
        chunk.push_back('\0');
      }
    } else if (colourType == PNG_COLOR_TYPE_RGB) {
      for (std::uint16_t v : {r, g, b}) chunk += {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
    } else if (r == g && g == b) {
      chunk += {'\0', static_cast<char>(r)};
    }
    if (!chunk.empty()) putChunk(out, "tRNS", chunk);
  }
  chunk.clear();
  putBE32(chunk, static_cast<std::uint32_t>(image.xDpi / 0.0254 + 0.5));
  putBE32(chunk, static_cast<std::uint32_t>(image.yDpi / 0.0254 + 0.5));
  chunk.push_back(1);  // per metre
  putChunk(out, "pHYs", chunk);
  // IDAT chunks of at most 1 MiB.
  for (std::size_t at = 0; at < stream.size(); at += 1 << 20)
    putChunk(out, "IDAT", stream.substr(at, 1 << 20));
  putChunk(out, "IEND", {});
  return writeFileAtomically(path, out);
}

}  // namespace pv::engine::codecs
