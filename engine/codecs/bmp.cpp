// Windows and OS/2 bitmaps, our own codec: reads 1/2/4/8/16/24/32 bits,
// bit fields, RLE8 and RLE4, top-down and bottom-up rows, the OS/2 1.x and
// 2.x headers; writes uncompressed 1/4/8/16/24/32 bits, RLE4/RLE8 and both
// OS/2 versions.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/codecs.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

std::uint32_t u16(const std::uint8_t* p) {
  return p[0] | (p[1] << 8);
}
std::uint32_t u32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

enum : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kAlphaBitFields = 6 };
// OS/2 2.x names its own methods with two of those numbers: 3 is Huffman 1D
// (fax lines, not read here) and 4 is run-length encoded 24-bit colour.
constexpr std::uint32_t kOs2Rle24 = 4, kOs2Huffman = 3;
// RLE24 as held once read (a number no Windows method uses).
constexpr std::uint32_t kRle24 = 0x1000;

// The facts of a bitmap's headers.
struct Header {
  std::uint32_t dataOffset = 0, headerSize = 0, compression = kRgb;
  std::int64_t width = 0, height = 0;  // height < 0: rows top-down
  int bits = 0;
  std::uint32_t masks[4] = {0, 0, 0, 0};  // r g b a
  std::vector<std::uint32_t> palette;     // 0x00BBGGRR
  int xDpi = 96, yDpi = 96;
  short code = kBmp;
};

short parseHeader(const std::string& data, Header& h) {
  const auto* d = reinterpret_cast<const std::uint8_t*>(data.data());
  const std::size_t n = data.size();
  if (n < 26 || d[0] != 'B' || d[1] != 'M') return kNotAnImage;
  h.dataOffset = u32(d + 10);
  h.headerSize = u32(d + 14);
  if (h.headerSize < 12 || 14 + static_cast<std::uint64_t>(h.headerSize) > n) return kDamaged;
  const std::uint8_t* ih = d + 14;
  int paletteEntry = 4;
  std::uint32_t coloursUsed = 0;
  if (h.headerSize == 12) {
    h.width = u16(ih + 4);
    h.height = u16(ih + 6);
    h.bits = static_cast<int>(u16(ih + 10));
    paletteEntry = 3;
    h.code = kOs2Bmp;
  } else {
    if (h.headerSize < 16) return kDamaged;
    h.width = static_cast<std::int32_t>(u32(ih + 4));
    h.height = static_cast<std::int32_t>(u32(ih + 8));
    h.bits = static_cast<int>(u16(ih + 14));
    if (h.headerSize >= 20) h.compression = u32(ih + 16);
    if (h.headerSize >= 32) {
      const std::uint32_t xppm = u32(ih + 24), yppm = u32(ih + 28);
      if (xppm > 0 && xppm < 4000000) h.xDpi = std::max(1, static_cast<int>(xppm * 0.0254 + 0.5));
      if (yppm > 0 && yppm < 4000000) h.yDpi = std::max(1, static_cast<int>(yppm * 0.0254 + 0.5));
    }
    if (h.headerSize >= 36) coloursUsed = u32(ih + 32);
    const bool windows =
        h.headerSize == 40 || h.headerSize == 52 || h.headerSize == 56 || h.headerSize >= 108;
    if (!windows) {
      h.code = kOs2Bmp2;
      if (h.compression == kOs2Huffman) return kUnsupportedSubtype;
      if (h.compression == kOs2Rle24) {
        if (h.bits != 24) return kDamaged;
        h.compression = kRle24;
      }
    }
    if (windows && (h.compression == kBitFields || h.compression == kAlphaBitFields)) {
      // The masks follow a 40-byte header or sit inside a longer one.
      const std::size_t at = 14 + 40;
      const int count = h.compression == kAlphaBitFields || h.headerSize >= 56 ? 4 : 3;
      if (at + 4u * count > n) return kDamaged;
      for (int i = 0; i < count; ++i) h.masks[i] = u32(d + at + 4 * i);
      if (h.headerSize == 40) h.headerSize += 4 * count;  // the palette follows the masks
      if (h.compression == kAlphaBitFields) h.compression = kBitFields;
    } else if (windows && h.headerSize >= 56 && h.compression == kRgb) {
      h.masks[3] = 0;  // an alpha mask means nothing without bit fields
    }
  }
  if (h.compression == kRle8 || h.compression == kRle4) {
    if (h.code == kBmp) h.code = kBmpRle;
  }
  if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return kDamaged;
  switch (h.bits) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return kUnsupportedSubtype;
  }
  if ((h.compression == kRle8 && h.bits != 8) || (h.compression == kRle4 && h.bits != 4)) return kDamaged;
  if (h.compression != kRgb && h.compression != kRle8 && h.compression != kRle4 &&
      h.compression != kBitFields && h.compression != kRle24)
    return kUnsupportedSubtype;
  if (h.bits <= 8) {
    const std::size_t max = std::size_t{1} << h.bits;
    std::size_t count = coloursUsed ? std::min<std::size_t>(coloursUsed, max) : max;
    const std::size_t at = 14 + static_cast<std::size_t>(h.headerSize);
    // A short palette takes what the file holds before the pixels.
    const std::size_t end = std::min<std::size_t>(n, h.dataOffset > at ? h.dataOffset : n);
    count = std::min(count, end > at ? (end - at) / paletteEntry : 0);
    if (count == 0) return kDamaged;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t* e = d + at + i * paletteEntry;
      h.palette.push_back(e[2] | (e[1] << 8) | (static_cast<std::uint32_t>(e[0]) << 16));
    }
  }
  return kOk;
}

// A mask's shift and its scale to 8 bits.
struct Field {
  int shift = 0;
  std::uint32_t max = 0;
  explicit Field(std::uint32_t mask) {
    if (!mask) return;
    shift = std::countr_zero(mask);
    max = mask >> shift;
  }
  std::uint8_t get(std::uint32_t v) const {
    return max ? static_cast<std::uint8_t>(((v >> shift) & max) * 255u / max) : 0;
  }
};

// Decodes RLE8 or RLE4 into one index per pixel, or OS/2's RLE24 into one
// B G R colour per pixel; rows bottom-up as stored. Pixels the runs leave
// out keep what `idx` held. The three share their escapes (end of line, end
// of bitmap, delta) and differ in how a run and an absolute run hold pixels.
short decodeRle(const std::uint8_t* p, std::size_t n, const Header& h, cv::Mat& idx) {
  const int w = idx.cols, rows = idx.rows;
  const bool four = h.compression == kRle4, colour = h.compression == kRle24;
  int x = 0, y = 0;
  std::size_t i = 0;
  const auto put = [&](const std::uint8_t* c, int v) {
    if (x < w && y < rows) {
      std::uint8_t* at = idx.ptr<std::uint8_t>(rows - 1 - y);
      if (colour)
        std::copy_n(c, 3, at + 3 * x);
      else
        at[x] = static_cast<std::uint8_t>(v);
    }
    ++x;
  };
  // An index of an RLE4 pair, high half first.
  const auto nibble = [](int pair, int k) { return k % 2 ? pair & 15 : pair >> 4; };
  while (i + 1 < n) {
    const int count = p[i];
    if (count > 0) {  // a run: one colour, or one index (RLE4: a pair) repeated
      const std::size_t size = colour ? 4 : 2;
      if (i + size > n) return kDamaged;
      for (int k = 0; k < count; ++k) put(p + i + 1, four ? nibble(p[i + 1], k) : p[i + 1]);
      i += size;
      continue;
    }
    const int value = p[i + 1];
    i += 2;
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of bitmap
      return kOk;
    } else if (value == 2) {  // delta
      if (i + 1 >= n) return kDamaged;
      x += p[i];
      y += p[i + 1];
      i += 2;
    } else {  // absolute run of `value` pixels, padded to a word
      const std::size_t v = static_cast<std::size_t>(value);
      const std::size_t bytes = colour ? v * 3 : four ? (v + 1) / 2 : v;
      if (i + bytes > n) return kDamaged;
      for (int k = 0; k < value; ++k)
        put(colour ? p + i + 3 * k : nullptr, four ? nibble(p[i + k / 2], k) : colour ? 0 : p[i + k]);
      i += (bytes + 1) & ~std::size_t{1};
    }
    if (y >= rows) return kOk;
  }
  return kDamaged;  // no end-of-bitmap mark
}

}  // namespace

short readBmpInfo(const std::string& path, FileInfo& info) {
  // The headers and palette sit in the first few kilobytes.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  std::string head(14 + 124 + 16 + 1024, '\0');
  head.resize(std::fread(head.data(), 1, head.size(), f));
  std::fclose(f);
  Header h;
  if (short s = parseHeader(head, h)) return s;
  info.format = h.code;
  info.bits = static_cast<short>(h.bits);
  info.width = static_cast<int>(std::min<std::int64_t>(h.width, 0x7FFFFFFF));
  info.height = static_cast<int>(std::min<std::int64_t>(h.height < 0 ? -h.height : h.height, 0x7FFFFFFF));
  info.pageCount = 1;
  return kOk;
}

short loadBmp(const std::string& path, Document& doc) {
  std::string data;
  if (short s = readFileBytes(path, data)) return s;
  Image img;
  if (short s = decodeBmp(data, img)) return s;
  doc.setOnly(std::move(img));
  return kOk;
}

short decodeBmp(const std::string& data, Image& img) {
  Header h;
  if (short s = parseHeader(data, h)) return s;
  const std::int64_t rows64 = h.height < 0 ? -h.height : h.height;
  if (static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(rows64) > maxPixels() ||
      h.width > 0x7FFFFFFF / 4)
    return kTooLarge;
  const int w = static_cast<int>(h.width), rows = static_cast<int>(rows64);
  if (h.dataOffset >= data.size()) return kDamaged;
  const auto* px = reinterpret_cast<const std::uint8_t*>(data.data()) + h.dataOffset;
  const std::size_t avail = data.size() - h.dataOffset;
  img = Image{};
  img.xDpi = h.xDpi;
  img.yDpi = h.yDpi;

  if (h.bits <= 8) {
    cv::Mat idx(rows, w, CV_8UC1, cv::Scalar(0));
    if (h.compression == kRle8 || h.compression == kRle4) {
      if (h.height < 0) return kDamaged;  // compressed bitmaps are bottom-up
      if (short s = decodeRle(px, avail, h, idx)) return s;
    } else {
      const std::size_t stride = ((static_cast<std::size_t>(w) * h.bits + 31) / 32) * 4;
      if (stride * static_cast<std::size_t>(rows) > avail) return kDamaged;
      for (int y = 0; y < rows; ++y) {
        const std::uint8_t* src = px + stride * static_cast<std::size_t>(h.height < 0 ? y : rows - 1 - y);
        std::uint8_t* o = idx.ptr<std::uint8_t>(y);
        const int per = 8 / h.bits, mask = (1 << h.bits) - 1;
        for (int x = 0; x < w; ++x)
          o[x] = static_cast<std::uint8_t>((src[x / per] >> (8 - h.bits * (x % per + 1))) & mask);
      }
    }
    img.pixels.create(rows, w, CV_8UC3);
    for (int y = 0; y < rows; ++y) {
      const std::uint8_t* s = idx.ptr<std::uint8_t>(y);
      std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
      for (int x = 0; x < w; ++x, o += 3) {
        const std::uint32_t c = s[x] < h.palette.size() ? h.palette[s[x]] : 0;
        o[0] = static_cast<std::uint8_t>(c >> 16);
        o[1] = static_cast<std::uint8_t>(c >> 8);
        o[2] = static_cast<std::uint8_t>(c);
      }
    }
    img.palette = h.palette;
    img.bits = h.bits;
  } else if (h.compression == kRle24) {
    if (h.height < 0) return kDamaged;  // compressed bitmaps are bottom-up
    img.pixels = cv::Mat(rows, w, CV_8UC3, cv::Scalar(0, 0, 0));
    if (short s = decodeRle(px, avail, h, img.pixels)) return s;
    img.bits = 24;
  } else {
    const int bytes = h.bits / 8;
    const std::size_t stride = ((static_cast<std::size_t>(w) * h.bits + 31) / 32) * 4;
    if (stride * static_cast<std::size_t>(rows) > avail) return kDamaged;
    std::uint32_t masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    if (h.compression == kRgb) {
      if (h.bits == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
      if (h.bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
      masks[3] = 0;  // the fourth byte of an uncompressed 32-bit bitmap is padding
    }
    const bool alpha = masks[3] != 0;
    const Field r(masks[0]), g(masks[1]), b(masks[2]), a(masks[3]);
    img.pixels.create(rows, w, alpha ? CV_8UC4 : CV_8UC3);
    const int ch = img.pixels.channels();
    for (int y = 0; y < rows; ++y) {
      const std::uint8_t* s = px + stride * static_cast<std::size_t>(h.height < 0 ? y : rows - 1 - y);
      std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
      for (int x = 0; x < w; ++x, s += bytes, o += ch) {
        if (h.bits == 24) {
          o[0] = s[0], o[1] = s[1], o[2] = s[2];
          continue;
        }
        const std::uint32_t v = h.bits == 16 ? u16(s) : u32(s);
        o[0] = b.get(v), o[1] = g.get(v), o[2] = r.get(v);
        if (alpha) o[3] = a.get(v);
      }
    }
    img.bits = alpha ? 32 : h.bits == 16 ? 16 : 24;
    // An alpha mask whose every value is 0 would hide the whole picture:
    // writers that fill the mask's bits with nothing mean an opaque one, as
    // the browsers' decoders take it.
    if (alpha) {
      cv::Mat a;
      cv::extractChannel(img.pixels, a, 3);
      if (cv::countNonZero(a) == 0) {
        cv::cvtColor(img.pixels, img.pixels, cv::COLOR_BGRA2BGR);
        img.bits = h.bits == 16 ? 16 : 24;
      }
    }
  }
  return kOk;
}

short decodeDib(const std::string& dib, Image& img) {
  const auto* d = reinterpret_cast<const std::uint8_t*>(dib.data());
  if (dib.size() < 16) return kDamaged;
  const std::uint32_t headerSize = u32(d);
  if (headerSize < 12 || headerSize > dib.size()) return kDamaged;
  std::uint32_t offset = headerSize;
  if (headerSize == 12) {
    const std::uint32_t bits = u16(d + 10);
    if (bits <= 8) offset += 3u << bits;
  } else {
    if (dib.size() < 40) return kDamaged;
    const std::uint32_t bits = u16(d + 14), compression = u32(d + 16), used = u32(d + 32);
    if (headerSize == 40 && compression == kBitFields) offset += 12;
    if (headerSize == 40 && compression == kAlphaBitFields) offset += 16;
    if (bits <= 8) offset += 4 * (used && used < (1u << bits) ? used : 1u << bits);
  }
  std::string file = "BM";
  put32(file, static_cast<std::uint32_t>(14 + dib.size()));
  put32(file, 0);
  put32(file, 14 + offset);
  file += dib;
  return decodeBmp(file, img);
}

namespace {

// RLE8 or RLE4 of one row of indices: runs of one index as counted pairs,
// stretches of differing indices in absolute mode.
void encodeRleRow(const std::uint8_t* idx, int w, bool four, std::string& out) {
  int x = 0;
  while (x < w) {
    int run = 1;
    while (x + run < w && run < 255 && idx[x + run] == idx[x]) ++run;
    if (run >= 2 || w - x < 3) {
      out.push_back(static_cast<char>(run));
      out.push_back(static_cast<char>(four ? (idx[x] << 4) | idx[x] : idx[x]));
      x += run;
      continue;
    }
    // Absolute mode up to the next run of three equal indices.
    int len = 0;
    while (x + len < w && len < 255) {
      if (x + len + 2 < w && idx[x + len] == idx[x + len + 1] && idx[x + len] == idx[x + len + 2]) break;
      ++len;
    }
    if (len < 3) {
      out.push_back(1);
      out.push_back(static_cast<char>(four ? (idx[x] << 4) | idx[x] : idx[x]));
      ++x;
      continue;
    }
    out.push_back(0);
    out.push_back(static_cast<char>(len));
    std::size_t bytes = 0;
    if (four) {
      for (int k = 0; k < len; k += 2, ++bytes)
        out.push_back(static_cast<char>((idx[x + k] << 4) | (k + 1 < len ? idx[x + k + 1] : 0)));
    } else {
      out.append(reinterpret_cast<const char*>(idx + x), static_cast<std::size_t>(len));
      bytes = static_cast<std::size_t>(len);
    }
    if (bytes % 2) out.push_back(0);
    x += len;
  }
  out.append("\0\0", 2);  // end of line
}

}  // namespace

short saveBmp(const std::string& path, const Image& image, int code, int bits) {
  std::string out;
  if (short s = encodeBmp(image, code, bits, out)) return s;
  return writeFileAtomically(path, out);
}

std::string dibOf(const Image& image, int bits) {
  std::string out;
  if (encodeBmp(image, kBmp, bits, out) != kOk) return {};
  return out.substr(14);
}

short encodeBmp(const Image& image, int code, int bits, std::string& out) {
  out.clear();
  if (image.pixels.empty()) return kInvalidParameter;
  if (code != kBmp && code != kBmpRle && code != kOs2Bmp && code != kOs2Bmp2) return kNotSupported;
  const int w = image.width(), h = image.height();
  if (bits == 0) bits = image.bits;
  // Each variant stores a few depths; others take the next one up.
  int stored;
  if (code == kBmpRle)
    stored = bits <= 4 ? 4 : 8;
  else if (bits <= 1)
    stored = 1;
  else if (bits <= 4)
    stored = 4;
  else if (bits <= 8)
    stored = 8;
  else if (code == kBmp && bits <= 16)
    stored = 16;
  else if (code == kBmp && bits >= 32)
    stored = 32;
  else
    stored = 24;
  const int colours = std::min(bits, stored);  // 2^colours palette entries in use
  if (code == kOs2Bmp && (w > 0xFFFF || h > 0x7FFF)) return kInvalidParameter;

  IndexedImage indexed;
  if (stored <= 8) indexed = toIndexed(image.pixels, colours);
  std::string pixels;
  const std::size_t stride = ((static_cast<std::size_t>(w) * stored + 31) / 32) * 4;
  if (code == kBmpRle) {
    for (int y = h - 1; y >= 0; --y)
      encodeRleRow(indexed.indices.ptr<std::uint8_t>(y), w, stored == 4, pixels);
    pixels.append("\0\1", 2);  // end of bitmap
  } else {
    pixels.assign(stride * static_cast<std::size_t>(h), '\0');
    cv::Mat bgr = image.pixels;
    if (stored > 8 && stored != 32 && bgr.channels() != 3)
      cv::cvtColor(bgr, bgr, bgr.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    if (stored == 32) bgr = bgraOf(image);
    for (int y = 0; y < h; ++y) {
      auto* o = reinterpret_cast<std::uint8_t*>(pixels.data()) + stride * static_cast<std::size_t>(h - 1 - y);
      if (stored <= 8) {
        packIndices(indexed.indices.ptr<std::uint8_t>(y), w, stored, o);
      } else if (stored == 16) {
        const std::uint8_t* s = bgr.ptr<std::uint8_t>(y);
        for (int x = 0; x < w; ++x, s += 3) {
          const std::uint32_t v = ((s[2] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[0] >> 3);
          o[2 * x] = static_cast<std::uint8_t>(v), o[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        }
      } else {
        std::memcpy(o, bgr.ptr<std::uint8_t>(y), static_cast<std::size_t>(w) * (stored / 8));
      }
    }
  }

  // Headers: OS/2 1.x (12 bytes), OS/2 2.x (64), Windows 3 (40), and Windows 4
  // (108, with an alpha mask) for 32 bits.
  const std::uint32_t headerSize = code == kOs2Bmp ? 12 : code == kOs2Bmp2 ? 64 : stored == 32 ? 108 : 40;
  const std::uint32_t entry = code == kOs2Bmp ? 3 : 4;
  const std::uint32_t paletteBytes = stored <= 8 ? (1u << stored) * entry : 0;
  const std::uint32_t offset = 14 + headerSize + paletteBytes;
  const std::uint32_t xppm = static_cast<std::uint32_t>(image.xDpi / 0.0254 + 0.5);
  const std::uint32_t yppm = static_cast<std::uint32_t>(image.yDpi / 0.0254 + 0.5);
  out.reserve(offset + pixels.size());
  out += "BM";
  put32(out, static_cast<std::uint32_t>(offset + pixels.size()));
  put32(out, 0);
  put32(out, offset);
  put32(out, headerSize);
  if (code == kOs2Bmp) {
    put16(out, static_cast<std::uint32_t>(w));
    put16(out, static_cast<std::uint32_t>(h));
    put16(out, 1);
    put16(out, static_cast<std::uint32_t>(stored));
  } else {
    put32(out, static_cast<std::uint32_t>(w));
    put32(out, static_cast<std::uint32_t>(h));
    put16(out, 1);
    put16(out, static_cast<std::uint32_t>(stored));
    put32(out, code == kBmpRle ? (stored == 4 ? kRle4 : kRle8) : stored == 32 ? kBitFields : kRgb);
    put32(out, static_cast<std::uint32_t>(pixels.size()));
    put32(out, xppm);
    put32(out, yppm);
    put32(out, stored <= 8 ? 1u << stored : 0);
    put32(out, 0);
    if (headerSize == 108) {
      put32(out, 0x00FF0000), put32(out, 0x0000FF00), put32(out, 0x000000FF), put32(out, 0xFF000000);
      put32(out, 0x73524742);  // 'sRGB'
      out.append(48, '\0');    // end points and gamma, unused for sRGB
    } else if (headerSize == 64) {
      out.append(24, '\0');  // units, reserved, recording, rendering, sizes, encoding, identifier
    }
  }
  for (std::uint32_t i = 0; stored <= 8 && i < (1u << stored); ++i) {
    const std::uint32_t c = i < indexed.palette.size() ? indexed.palette[i] : 0;
    out.push_back(static_cast<char>((c >> 16) & 0xFF));
    out.push_back(static_cast<char>((c >> 8) & 0xFF));
    out.push_back(static_cast<char>(c & 0xFF));
    if (entry == 4) out.push_back('\0');
  }
  out += pixels;
  return kOk;
}

}  // namespace pv::engine::codecs
