// Black-and-white paint formats, our own codec: Microsoft Paint (MSP,
// version 1 raw and version 2 run-length; written as version 2), MacPaint
// (MAC, 576 x 720 PackBits rows; ImageMagick reads it back) and GEM raster
// (IMG, one plane with solid, literal and repeated-line runs).
#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

// Rows of packed bits, the first pixel in the high bit; `oneIsBlack` picks
// the meaning of a set bit.
std::vector<std::string> packedRows(const cv::Mat& black, std::size_t rowBytes, bool oneIsBlack) {
  std::vector<std::string> rows(static_cast<std::size_t>(black.rows),
                                std::string(rowBytes, oneIsBlack ? '\0' : '\xFF'));
  for (int y = 0; y < black.rows; ++y) {
    const std::uint8_t* b = black.ptr<std::uint8_t>(y);
    std::string& row = rows[static_cast<std::size_t>(y)];
    for (int x = 0; x < black.cols; ++x)
      if ((b[x] != 0) == oneIsBlack)
        row[static_cast<std::size_t>(x / 8)] =
            static_cast<char>(row[static_cast<std::size_t>(x / 8)] | (0x80 >> (x % 8)));
      else
        row[static_cast<std::size_t>(x / 8)] =
            static_cast<char>(row[static_cast<std::size_t>(x / 8)] & ~(0x80 >> (x % 8)));
  }
  return rows;
}

cv::Mat blackOfRows(const std::vector<std::string>& rows, int w, bool oneIsBlack) {
  cv::Mat black(static_cast<int>(rows.size()), w, CV_8UC1);
  for (int y = 0; y < black.rows; ++y) {
    const std::string& row = rows[static_cast<std::size_t>(y)];
    std::uint8_t* b = black.ptr<std::uint8_t>(y);
    for (int x = 0; x < w; ++x) {
      const bool set = static_cast<std::size_t>(x / 8) < row.size() &&
                       (static_cast<std::uint8_t>(row[static_cast<std::size_t>(x / 8)]) & (0x80 >> (x % 8)));
      b[x] = set == oneIsBlack ? 1 : 0;
    }
  }
  return black;
}

short onePage(const cv::Mat& black, Document& doc) {
  doc.setOnly(pageOfBlack(black));
  return kOk;
}

bool tooLarge(std::uint64_t w, std::uint64_t h) {
  return w * h > maxPixels();
}

}  // namespace

// PackBits as MacPaint and TIFF use it: n >= 0 copies n + 1 bytes, n < 0
// repeats the next byte 1 - n times.
std::string packBits(const std::string& in) {
  std::string out;
  splitRuns(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(), 128, 2,
            [&](bool run, const std::uint8_t* p, std::size_t n) {
              put8(out, run ? 257 - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n) - 1);
              out.append(reinterpret_cast<const char*>(p), run ? 1 : n);
            });
  return out;
}

bool unpackBits(ByteReader& r, std::size_t size, std::string& out) {
  out.clear();
  while (out.size() < size) {
    if (r.left() == 0) return false;
    const int n = static_cast<std::int8_t>(r.u8());
    if (n >= 0) {
      out += r.take(static_cast<std::size_t>(n) + 1);
    } else if (n != -128) {
      out.append(static_cast<std::size_t>(1 - n), static_cast<char>(r.u8()));
    }
    if (r.overrun()) return false;
  }
  out.resize(size);
  return true;
}

// ---- Microsoft Paint ----------------------------------------------------------

bool sniffMsp(const std::string& head, std::string_view) {
  return head.size() >= 32 && (head.starts_with("DanM") || head.starts_with("LinS"));
}

short decodeMsp(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes);
  const bool v2 = bytes.starts_with("LinS");
  r.skip(4);
  const std::uint32_t w = r.u16(), h = r.u16();
  if (w == 0 || h == 0) return kDamaged;
  if (tooLarge(w, h)) return kTooLarge;
  // The header's words, its checksum included, XOR to zero.
  std::uint32_t sum = 0;
  ByteReader words(bytes);
  for (int i = 0; i < 13; ++i) sum ^= words.u16();
  if (sum != 0 || bytes.size() < 32) return kDamaged;
  r.seek(32);
  const std::size_t rowBytes = (w + 7) / 8;
  std::vector<std::string> rows(h);
  if (!v2) {
    for (std::string& row : rows) row = r.take(rowBytes);
  } else {
    std::vector<std::uint32_t> sizes(h);
    for (std::uint32_t& s : sizes) s = r.u16();
    for (std::uint32_t y = 0; y < h && !r.overrun(); ++y) {
      ByteReader line(reinterpret_cast<const std::uint8_t*>(bytes.data()) + r.pos(),
                      std::min<std::size_t>(sizes[y], r.left()));
      r.skip(sizes[y]);
      std::string& row = rows[y];
      if (sizes[y] == 0) row.assign(rowBytes, '\xFF');  // an empty entry is a white row
      while (row.size() < rowBytes && line.left()) {
        const std::uint32_t type = line.u8();
        if (type == 0) {
          const std::uint32_t count = line.u8(), value = line.u8();
          row.append(count, static_cast<char>(value));
        } else {
          row += line.take(type);
        }
      }
      row.resize(rowBytes, '\xFF');
    }
  }
  if (r.overrun()) return kDamaged;
  return onePage(blackOfRows(rows, static_cast<int>(w), false), doc);
}

short encodeMsp(const std::vector<Image>& pages, int, int, std::string& out) {
  const cv::Mat black = blackOf(pages[0]);
  if (black.cols > 0xFFFF || black.rows > 0xFFFF) return kInvalidParameter;
  const std::size_t rowBytes = (static_cast<std::size_t>(black.cols) + 7) / 8;
  std::string map, data;
  for (const std::string& row : packedRows(black, rowBytes, false)) {
    // Runs are 0, count, byte; literals count, bytes.
    std::string line;
    splitRuns(reinterpret_cast<const std::uint8_t*>(row.data()), row.size(), 255, 3,
              [&](bool run, const std::uint8_t* p, std::size_t n) {
                if (run) put8(line, 0);
                put8(line, static_cast<std::uint32_t>(n));
                line.append(reinterpret_cast<const char*>(p), run ? 1 : n);
              });
    if (line.size() > 0xFFFF) return kInvalidParameter;
    put16(map, static_cast<std::uint32_t>(line.size()));
    data += line;
  }
  out = "LinS";
  const std::uint32_t w = static_cast<std::uint32_t>(black.cols), h = static_cast<std::uint32_t>(black.rows);
  for (std::uint32_t v : {w, h, w, h, w, h, 0u, 0u, 1u, 1u}) put16(out, v);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < out.size(); i += 2)
    sum ^= static_cast<std::uint8_t>(out[i]) | (static_cast<std::uint8_t>(out[i + 1]) << 8);
  put16(out, sum);
  out.append(6, '\0');
  out += map + data;
  return kOk;
}

// ---- MacPaint --------------------------------------------------------------------

// A MacBinary header (a zero byte, a name, the file type "PNTG") may come
// before the picture's 512-byte header.
std::size_t macPictureStart(const std::string& bytes) {
  return bytes.size() > 128 && bytes[0] == '\0' && bytes.compare(65, 4, "PNTG") == 0 ? 128 : 0;
}

bool sniffMac(const std::string& head, std::string_view ext) {
  return ext == "mac" || (head.size() > 128 && head[0] == '\0' && head.compare(65, 8, "PNTGMPNT") == 0);
}

short decodeMac(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes, macPictureStart(bytes) + 512);
  if (r.overrun() || r.left() == 0) return kDamaged;
  std::vector<std::string> rows(720);
  for (std::string& row : rows)
    if (!unpackBits(r, 72, row)) return kDamaged;
  return onePage(blackOfRows(rows, 576, true), doc);
}

short encodeMac(const std::vector<Image>& pages, int, int, std::string& out) {
  // The picture is always 576 x 720: a smaller page sits at the top left on
  // white, a larger one is scaled down to fit (never cut).
  Image page = pages[0];
  if (page.width() > 576 || page.height() > 720) {
    const double scale = std::min(576.0 / page.width(), 720.0 / page.height());
    const cv::Size fit(std::clamp(static_cast<int>(page.width() * scale), 1, 576),
                       std::clamp(static_cast<int>(page.height() * scale), 1, 720));
    cv::resize(page.pixels, page.pixels, fit, 0, 0, cv::INTER_AREA);
  }
  const cv::Mat black = blackOf(page);
  cv::Mat canvas(720, 576, CV_8UC1, cv::Scalar(0));
  black.copyTo(canvas(cv::Rect(0, 0, black.cols, black.rows)));
  std::string data(512, '\0');
  data[3] = 2;  // version 2: the 38 patterns that follow (all empty) are used
  for (const std::string& row : packedRows(canvas, 72, true)) data += packBits(row);
  // A MacBinary header carries the Macintosh file type, as readers on other
  // systems expect it in front of the picture.
  out.assign(128, '\0');
  const std::string name = "Picture";
  out[1] = static_cast<char>(name.size());
  out.replace(2, name.size(), name);
  out.replace(65, 8, "PNTGMPNT");
  set32be(out, 83, static_cast<std::uint32_t>(data.size()));
  out += data;
  return kOk;
}

// ---- GEM raster ---------------------------------------------------------------------

bool sniffImg(const std::string& head, std::string_view ext) {
  if (head.size() < 16) return false;
  ByteReader r(head);
  const std::uint32_t version = r.u16be(), words = r.u16be(), planes = r.u16be(), pattern = r.u16be();
  r.skip(4);
  const std::uint32_t w = r.u16be(), h = r.u16be();
  return (ext == "img" || head.compare(0, 6, std::string("\0\1\0\x08\0\1", 6)) == 0) && version <= 3 &&
         words >= 8 && words < 64 && planes == 1 && pattern >= 1 && pattern <= 8 && w > 0 && h > 0;
}

short decodeImg(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes);
  r.skip(2);
  const std::uint32_t words = r.u16be();
  r.skip(2);
  const std::uint32_t patternLength = r.u16be();
  r.skip(4);
  const std::uint32_t w = r.u16be(), h = r.u16be();
  if (w == 0 || h == 0 || patternLength == 0) return kDamaged;
  if (tooLarge(w, h)) return kTooLarge;
  r.seek(2 * static_cast<std::size_t>(words));
  const std::size_t rowBytes = (w + 7) / 8;
  std::vector<std::string> rows;
  rows.reserve(h);
  while (rows.size() < h) {
    if (r.left() == 0) return kDamaged;
    std::uint32_t repeat = 1;
    std::string row;
    while (row.size() < rowBytes) {
      if (r.left() == 0) return kDamaged;
      const std::uint32_t op = r.u8();
      if (op == 0) {
        const std::uint32_t count = r.u8();
        if (count == 0) {  // 00 00 FF n: the next line n times
          if (r.u8() != 0xFF) return kDamaged;
          repeat = r.u8();
          continue;
        }
        const std::string pattern = r.take(patternLength);
        for (std::uint32_t i = 0; i < count && row.size() < rowBytes; ++i) row += pattern;
      } else if (op == 0x80) {
        row += r.take(r.u8());
      } else {
        row.append(op & 0x7F, (op & 0x80) ? '\xFF' : '\0');
      }
      if (r.overrun()) return kDamaged;
    }
    row.resize(rowBytes);
    for (std::uint32_t i = 0; i < repeat && rows.size() < h; ++i) rows.push_back(row);
  }
  return onePage(blackOfRows(rows, static_cast<int>(w), true), doc);
}

short encodeImg(const std::vector<Image>& pages, int, int, std::string& out) {
  const Image& page = pages[0];
  const cv::Mat black = blackOf(page);
  if (black.cols > 0xFFFF || black.rows > 0xFFFF) return kInvalidParameter;
  const std::size_t rowBytes = (static_cast<std::size_t>(black.cols) + 7) / 8;
  out.clear();
  const std::uint32_t microns = [](int dpi) {
    return static_cast<std::uint32_t>(25400 / std::max(dpi, 1));
  }(page.xDpi);
  const std::uint32_t micronsY = static_cast<std::uint32_t>(25400 / std::max(page.yDpi, 1));
  for (std::uint32_t v : {1u, 8u, 1u, 1u, microns, micronsY, static_cast<std::uint32_t>(black.cols),
                          static_cast<std::uint32_t>(black.rows)})
    put16be(out, v);
  const std::vector<std::string> rows = packedRows(black, rowBytes, true);
  for (std::size_t y = 0; y < rows.size();) {
    std::size_t same = 1;
    while (y + same < rows.size() && same < 255 && rows[y + same] == rows[y]) ++same;
    if (same > 1) out.append("\0\0\xFF", 3), put8(out, static_cast<std::uint32_t>(same));
    const std::string& row = rows[y];
    for (std::size_t i = 0; i < row.size();) {
      const char c = row[i];
      std::size_t run = 1;
      if (c == '\0' || c == '\xFF')
        while (i + run < row.size() && run < 127 && row[i + run] == c) ++run;
      if (run >= 2 || c == '\0' || c == '\xFF') {
        put8(out, (c == '\xFF' ? 0x80u : 0u) | static_cast<std::uint32_t>(run));
        i += run;
        continue;
      }
      std::size_t lit = 1;
      while (i + lit < row.size() && lit < 255 && row[i + lit] != '\0' && row[i + lit] != '\xFF') ++lit;
      put8(out, 0x80);
      put8(out, static_cast<std::uint32_t>(lit));
      out.append(row, i, lit);
      i += lit;
    }
    y += same;
  }
  return kOk;
}

}  // namespace pv::engine::codecs
