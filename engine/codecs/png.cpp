// PNG through libpng: every colour type and depth reads into the image model
// (16-bit samples are held at 8 bits); writes palette, grey, RGB and RGBA.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include "engine/codecs/codecs.h"
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
[[noreturn]] void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

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

short loadPng(const std::string& path, Document& doc) {
  File f;
  if (short s = openForRead(path, f)) return s;
  PngReader r;
  if (!r.info) return kOutOfMemory;
  Image img;
  // Rows live outside the jump so that a longjmp leaves nothing to unwind.
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(r.png))) return kDamaged;
  png_init_io(r.png, f.get());
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
      img.palette.push_back(pal[i].red | (pal[i].green << 8) | (static_cast<std::uint32_t>(pal[i].blue) << 16));
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
  doc.pages.clear();
  doc.pages.push_back(std::move(img));
  doc.current = 0;
  return kOk;
}

namespace {

void appendToString(png_structp png, png_bytep data, png_size_t len) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), len);
}
void flushNothing(png_structp) {}

// Runs libpng over prepared rows. Kept apart from the preparation so that no
// local of the caller lives across libpng's longjmp.
short encode(std::string& bytes, std::vector<png_bytep>& rowPtrs, int width, int height, int depth, int colourType,
             std::vector<png_color>& palette, int xDpi, int yDpi, int level) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return kOutOfMemory;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return kWriteError;
  }
  png_set_write_fn(png, &bytes, appendToString, flushNothing);
  if (level > 0) png_set_compression_level(png, level > 9 ? 9 : level);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, colourType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_set_pHYs(png, info, static_cast<png_uint_32>(xDpi / 0.0254 + 0.5), static_cast<png_uint_32>(yDpi / 0.0254 + 0.5),
               PNG_RESOLUTION_METER);
  png_write_info(png, info);
  png_write_image(png, rowPtrs.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return kOk;
}

}  // namespace

short savePng(const std::string& path, const Image& image, int bits, int level) {
  if (image.pixels.empty()) return kInvalidParameter;
  if (bits == 0) bits = image.bits;
  IndexedImage indexed;
  int colourType, depth = 8;
  std::vector<png_color> palette;
  if (bits >= 32) {
    colourType = PNG_COLOR_TYPE_RGB_ALPHA;
  } else if (bits > 8) {
    colourType = PNG_COLOR_TYPE_RGB;
  } else if (image.pixels.channels() == 1 && bits == 8) {
    colourType = PNG_COLOR_TYPE_GRAY;
  } else {
    // An indexed save: at most 2^bits colours, exact when they fit.
    colourType = PNG_COLOR_TYPE_PALETTE;
    indexed = toIndexed(image.pixels, bits);
    for (std::uint32_t c : indexed.palette)
      palette.push_back({static_cast<png_byte>(c & 0xFF), static_cast<png_byte>((c >> 8) & 0xFF),
                         static_cast<png_byte>((c >> 16) & 0xFF)});
    depth = bits <= 1 ? 1 : bits <= 2 ? 2 : bits <= 4 ? 4 : 8;
  }

  const cv::Mat& src = indexed.indices.empty() ? image.pixels : indexed.indices;
  // Rows in the file's layout.
  const int outChannels = colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : colourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  std::vector<std::vector<png_byte>> rows(static_cast<std::size_t>(src.rows));
  for (int y = 0; y < src.rows; ++y) {
    auto& row = rows[static_cast<std::size_t>(y)];
    const auto* p = src.ptr<unsigned char>(y);
    const int ch = src.channels();
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
      row.assign((static_cast<std::size_t>(src.cols) * static_cast<std::size_t>(depth) + 7) / 8, 0);
      for (int x = 0; x < src.cols; ++x) {
        const int bit = x * depth;
        row[static_cast<std::size_t>(bit / 8)] |= static_cast<png_byte>(p[x] << (8 - depth - bit % 8));
      }
    } else {
      row.resize(static_cast<std::size_t>(src.cols) * outChannels);
      for (int x = 0; x < src.cols; ++x) {
        png_byte* o = &row[static_cast<std::size_t>(x * outChannels)];
        const unsigned char* i = p + x * ch;
        if (outChannels == 1) {
          o[0] = i[0];
          continue;
        }
        o[0] = ch == 1 ? i[0] : i[2];
        o[1] = ch == 1 ? i[0] : i[1];
        o[2] = i[0];
        if (outChannels == 4) o[3] = ch == 4 ? i[3] : 255;
      }
    }
  }

  std::vector<png_bytep> rowPtrs;
  for (auto& row : rows) rowPtrs.push_back(row.data());
  std::string bytes;
  if (short st = encode(bytes, rowPtrs, src.cols, src.rows, depth, colourType, palette, image.xDpi, image.yDpi, level))
    return st;
  return writeFileAtomically(path, bytes);
}

}  // namespace pv::engine::codecs
