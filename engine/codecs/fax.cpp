// Fax codings through libtiff's CCITT coders, run on a TIFF held in memory:
// raw G3 2D and G4 fax files, and structured fax files (SFF: one record of
// modified Huffman code a line, pages of 1728-pixel lines or any width).
#include <tiffio.h>

#include <cstdarg>
#include <cstring>
#include <memory>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

int quiet(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// A TIFF file in a string.
struct MemoryFile {
  std::string data;
  std::size_t pos = 0;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryFile*>(h);
  const std::size_t k = std::min<std::size_t>(static_cast<std::size_t>(n),
                                              m->pos < m->data.size() ? m->data.size() - m->pos : 0);
  std::memcpy(buf, m->data.data() + m->pos, k);
  m->pos += k;
  return static_cast<tmsize_t>(k);
}
tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemoryFile*>(h);
  const std::size_t k = static_cast<std::size_t>(n);
  if (m->pos + k > m->data.size()) m->data.resize(m->pos + k);
  std::memcpy(m->data.data() + m->pos, buf, k);
  m->pos += k;
  return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemoryFile*>(h);
  const std::int64_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? static_cast<std::int64_t>(m->pos)
                                                 : static_cast<std::int64_t>(m->data.size());
  const std::int64_t at = base + static_cast<std::int64_t>(off);
  if (at < 0) return static_cast<toff_t>(-1);
  m->pos = static_cast<std::size_t>(at);
  return static_cast<toff_t>(at);
}
int memClose(thandle_t) {
  return 0;
}
toff_t memSize(thandle_t h) {
  return static_cast<MemoryFile*>(h)->data.size();
}
int memMap(thandle_t, void**, toff_t*) {
  return 0;
}
void memUnmap(thandle_t, void*, toff_t) {}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

Tiff openMemory(MemoryFile& file, const char* mode) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, quiet, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, quiet, nullptr);
  Tiff t(TIFFClientOpenExt("fax", mode, &file, memRead, memWrite, memSeek, memClose, memSize, memMap,
                           memUnmap, opts));
  TIFFOpenOptionsFree(opts);
  return t;
}

void setFaxFields(TIFF* t, int w, int h, const Coding& c) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(h));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, c.lsbFirst ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB);
  TIFFSetField(t, TIFFTAG_COMPRESSION, c.compression);
  if (c.compression == COMPRESSION_CCITTFAX3)
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, c.twoD ? GROUP3OPT_2DENCODING : 0u);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(c.rowsPerStrip ? c.rowsPerStrip : h));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

}  // namespace

short ccittEncode(const cv::Mat& black, const Coding& coding, std::vector<std::string>& strips) {
  strips.clear();
  const int w = black.cols, h = black.rows;
  MemoryFile file;
  {
    Tiff t = openMemory(file, "w");
    if (!t) return kOutOfMemory;
    setFaxFields(t.get(), w, h, coding);
    std::vector<std::uint8_t> row((static_cast<std::size_t>(w) + 7) / 8);
    for (int y = 0; y < h; ++y) {
      packIndices(black.ptr<std::uint8_t>(y), w, 1, row.data());
      if (TIFFWriteScanline(t.get(), row.data(), static_cast<std::uint32_t>(y), 0) < 0) return kWriteError;
    }
    if (!TIFFWriteDirectory(t.get())) return kWriteError;
  }
  file.pos = 0;
  Tiff t = openMemory(file, "r");
  if (!t) return kWriteError;
  const std::uint32_t count = TIFFNumberOfStrips(t.get());
  for (std::uint32_t s = 0; s < count; ++s) {
    const tmsize_t size = TIFFRawStripSize(t.get(), s);
    std::string strip(static_cast<std::size_t>(std::max<tmsize_t>(size, 0)), '\0');
    if (size < 0 || TIFFReadRawStrip(t.get(), s, strip.data(), size) != size) return kWriteError;
    strips.push_back(std::move(strip));
  }
  return kOk;
}

short ccittDecode(const std::vector<std::string>& strips, int w, int h, const Coding& coding,
                  cv::Mat& black) {
  if (w <= 0 || h <= 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h) > maxPixels()) return kTooLarge;
  MemoryFile file;
  {
    Tiff t = openMemory(file, "w");
    if (!t) return kOutOfMemory;
    setFaxFields(t.get(), w, h, coding);
    for (std::size_t s = 0; s < strips.size(); ++s)
      if (TIFFWriteRawStrip(t.get(), static_cast<std::uint32_t>(s), const_cast<char*>(strips[s].data()),
                            static_cast<tmsize_t>(strips[s].size())) < 0)
        return kOutOfMemory;
    if (!TIFFWriteDirectory(t.get())) return kOutOfMemory;
  }
  file.pos = 0;
  Tiff t = openMemory(file, "r");
  if (!t) return kDamaged;
  black.create(h, w, CV_8UC1);
  const std::uint32_t perStrip = static_cast<std::uint32_t>(coding.rowsPerStrip ? coding.rowsPerStrip : h);
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(TIFFStripSize(t.get())));
  const std::size_t rowBytes = (static_cast<std::size_t>(w) + 7) / 8;
  for (std::size_t s = 0; s < strips.size(); ++s) {
    const tmsize_t got = TIFFReadEncodedStrip(t.get(), static_cast<std::uint32_t>(s), buf.data(),
                                              static_cast<tmsize_t>(buf.size()));
    if (got < 0) return kDamaged;
    for (std::uint32_t r = 0; r < perStrip; ++r) {
      const std::uint64_t y = s * perStrip + r;
      if (y >= static_cast<std::uint64_t>(h)) break;
      std::uint8_t* o = black.ptr<std::uint8_t>(static_cast<int>(y));
      const std::uint8_t* in = buf.data() + r * rowBytes;
      for (int x = 0; x < w; ++x) o[x] = (in[x / 8] >> (7 - x % 8)) & 1;
    }
  }
  return kOk;
}

// ---- Raw fax ---------------------------------------------------------------------

short encodeRawFax(const std::vector<Image>& pages, int code, int, std::string& out) {
  Coding c;
  c.compression = code == kFaxG4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3;
  c.twoD = code == kFaxG3_2D;
  std::vector<std::string> strips;
  if (short s = ccittEncode(blackOf(pages[0]), c, strips)) return s;
  out = strips.empty() ? std::string() : strips[0];
  return out.empty() ? kWriteError : kOk;
}

// ---- Structured fax files ------------------------------------------------------------

namespace {

constexpr std::size_t kDocumentHeader = 20;

}  // namespace

bool sniffSff(const std::string& head, std::string_view) {
  return head.size() >= 20 && head.starts_with("Sfff");
}

short decodeSff(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes, 4);
  if (r.u8() != 1) return kUnsupportedSubtype;  // version
  r.skip(3);
  const std::uint32_t pages = r.u16(), firstPage = r.u16();
  if (pages == 0) return kDamaged;
  r.seek(firstPage);
  Coding c;
  c.compression = COMPRESSION_CCITTRLE;
  c.lsbFirst = true;
  c.rowsPerStrip = 1;
  doc.pages.clear();
  while (!r.overrun() && r.left() > 0) {
    if (r.u8() != 254) return kDamaged;
    const std::uint32_t length = r.u8();
    if (length == 0) break;  // end of the document
    const std::size_t next = r.pos() + length;
    r.skip(3);  // vertical and horizontal resolution, coding
    r.skip(1);
    const std::uint32_t width = r.u16();  // the page height after it is taken from the line records
    r.seek(next);
    if (width == 0 || r.overrun()) return kDamaged;
    // Lines until the next page header; white lines stand in for skips and
    // unreadable lines.
    std::vector<std::string> lines;
    std::string white;
    auto whiteLine = [&]() -> const std::string& {
      if (white.empty()) {
        std::vector<std::string> one;
        static_cast<void>(ccittEncode(cv::Mat(1, static_cast<int>(width), CV_8UC1, cv::Scalar(0)), c, one));
        white = one.empty() ? std::string() : one[0];
      }
      return white;
    };
    while (r.left() > 0) {
      const std::size_t at = r.pos();
      const std::uint32_t type = r.u8();
      if (type == 254) {
        r.seek(at);
        break;
      }
      if (type >= 1 && type <= 216) {
        lines.push_back(r.take(type));
      } else if (type == 0) {
        lines.push_back(r.take(r.u16()));
      } else if (type <= 253) {
        lines.insert(lines.end(), type - 216, whiteLine());
      } else {  // 255: a line the sender could not code
        r.skip(1);
        lines.push_back(whiteLine());
      }
      if (lines.size() > 1u << 20) return kTooLarge;
    }
    if (r.overrun() || lines.empty()) return kDamaged;
    cv::Mat black;
    if (short s = ccittDecode(lines, static_cast<int>(width), static_cast<int>(lines.size()), c, black))
      return s;
    doc.pages.push_back(pageOfBlack(black));
    doc.pages.back().xDpi = 203;
    doc.pages.back().yDpi = 196;
  }
  return doc.pages.empty() ? kDamaged : kOk;
}

short encodeSff(const std::vector<Image>& pages, int, int, std::string& out) {
  const cv::Mat black = blackOf(pages[0]);
  if (black.cols > 0xFFFF || black.rows > 0xFFFF) return kInvalidParameter;
  Coding c;
  c.compression = COMPRESSION_CCITTRLE;
  c.lsbFirst = true;
  c.rowsPerStrip = 1;
  std::vector<std::string> lines;
  if (short s = ccittEncode(black, c, lines)) return s;
  out = "Sfff";
  put8(out, 1);   // version
  put8(out, 0);   // reserved
  put16(out, 0);  // user information
  put16(out, 1);  // pages
  put16(out, kDocumentHeader);
  put32(out, kDocumentHeader);  // the last page header
  put32(out, 0);                // the end of the document, set below
  // Page header: resolution codes, modified Huffman, line width and count.
  put8(out, 254);
  put8(out, 16);
  put8(out, pages[0].yDpi >= 150 ? 1 : 0);
  put8(out, 0);
  put8(out, 0);
  put8(out, 0);
  put16(out, static_cast<std::uint32_t>(black.cols));
  put16(out, static_cast<std::uint32_t>(black.rows));
  put32(out, 0);  // previous page
  put32(out, 1);  // next page: none
  for (const std::string& line : lines) {
    if (line.size() <= 216) {
      put8(out, static_cast<std::uint32_t>(line.size()));
    } else {
      put8(out, 0);
      put16(out, static_cast<std::uint32_t>(line.size()));
    }
    out += line;
  }
  set32(out, 16, static_cast<std::uint32_t>(out.size()));
  put8(out, 254);
  put8(out, 0);
  return kOk;
}

}  // namespace pv::engine::codecs
