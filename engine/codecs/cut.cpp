// Dr. Halo pictures (CUT), our own codec: a CUT file of run-length rows of
// 8-bit indices and, beside it, a palette file of the same name with the
// extension .pal. A CUT read without its palette file comes out as grey
// levels, which is all the file itself holds.
#include <unistd.h>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

// Reads the colours of a palette file: a 40-byte "AH" header, then red,
// green and blue as 16-bit values scaled by the header's maxima; no entry
// crosses a 512-byte block.
std::vector<std::uint32_t> readPalette(const std::string& bytes) {
  std::vector<std::uint32_t> out;
  if (!bytes.starts_with("AH") || bytes.size() < 40) return out;
  ByteReader r(bytes, 12);
  const std::uint32_t maxIndex = r.u16();
  const std::uint32_t maxR = std::max(r.u16(), 1u), maxG = std::max(r.u16(), 1u),
                      maxB = std::max(r.u16(), 1u);
  r.seek(40);
  for (std::uint32_t i = 0; i <= maxIndex && i < 256; ++i) {
    if (r.pos() % 512 > 512 - 6) r.seek((r.pos() / 512 + 1) * 512);
    const std::uint32_t red = r.u16(), green = r.u16(), blue = r.u16();
    if (r.overrun()) break;
    out.push_back(std::min(255u, red * 255 / maxR) | (std::min(255u, green * 255 / maxG) << 8) |
                  (std::min(255u, blue * 255 / maxB) << 16));
  }
  return out;
}

std::string palettePath(const std::string& path, bool upper) {
  const std::size_t dot = path.rfind('.'), slash = path.rfind('/');
  const std::string stem =
      dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
  return stem + (upper ? ".PAL" : ".pal");
}

}  // namespace

std::string cutPalettePath(const std::string& path) {
  return palettePath(path, false);
}

bool sniffCut(const std::string& head, std::string_view ext) {
  if (ext != "cut" || head.size() < 8) return false;
  ByteReader r(head);
  const std::uint32_t w = r.u16(), h = r.u16();
  return w > 0 && h > 0;
}

short decodeCut(const std::string& path, const std::string& bytes, Document& doc) {
  ByteReader r(bytes);
  const std::uint32_t w = r.u16(), h = r.u16();
  r.skip(2);
  if (w == 0 || h == 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels()) return kTooLarge;
  cv::Mat idx(static_cast<int>(h), static_cast<int>(w), CV_8UC1, cv::Scalar(0));
  for (std::uint32_t y = 0; y < h; ++y) {
    const std::uint32_t count = r.u16();
    if (r.overrun() || count > r.left()) return kDamaged;
    ByteReader line(reinterpret_cast<const std::uint8_t*>(bytes.data()) + r.pos(), count);
    r.skip(count);
    std::uint8_t* o = idx.ptr<std::uint8_t>(static_cast<int>(y));
    std::uint32_t x = 0;
    while (line.left()) {
      const std::uint32_t c = line.u8();
      if (c == 0) break;  // end of the row
      const std::uint32_t n = c & 0x7F;
      if (c & 0x80) {
        const std::uint32_t v = line.u8();
        for (std::uint32_t i = 0; i < n && x < w; ++i) o[x++] = static_cast<std::uint8_t>(v);
      } else {
        for (std::uint32_t i = 0; i < n; ++i) {
          const std::uint32_t v = line.u8();
          if (x < w) o[x++] = static_cast<std::uint8_t>(v);
        }
      }
    }
  }
  std::string palBytes;
  // The palette file is optional: without one the picture is grey.
  if (readFileBytes(palettePath(path, false), palBytes) != kOk)
    static_cast<void>(readFileBytes(palettePath(path, true), palBytes));
  std::vector<std::uint32_t> palette = readPalette(palBytes);
  Image img;
  if (palette.empty()) {
    img.pixels = idx;
    img.bits = 8;
  } else {
    palette.resize(256, 0);
    img = pageOfIndices(idx, palette, 8);
  }
  doc.setOnly(std::move(img));
  return kOk;
}

// The CUT file and its palette file, from the same indexing of the page.
short encodeCutFiles(const Image& page, std::string& cut, std::string& pal) {
  const int w = page.width(), h = page.height();
  if (w > 0x7FFF || h > 0xFFFF) return kInvalidParameter;
  const IndexedImage ix = toIndexed(page.pixels, 8);
  cut.clear();
  put16(cut, static_cast<std::uint32_t>(w)), put16(cut, static_cast<std::uint32_t>(h)), put16(cut, 0);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = ix.indices.ptr<std::uint8_t>(y);
    // Runs are 0x80 | count, index; literals count, indices.
    std::string line;
    splitRuns(p, static_cast<std::size_t>(w), 127, 2, [&](bool run, const std::uint8_t* q, std::size_t n) {
      put8(line, (run ? 0x80u : 0u) | static_cast<std::uint32_t>(n));
      line.append(reinterpret_cast<const char*>(q), run ? 1 : n);
    });
    line.push_back('\0');
    if (line.size() > 0xFFFF) return kInvalidParameter;
    put16(cut, static_cast<std::uint32_t>(line.size()));
    cut += line;
  }
  pal = "AH";
  put16(pal, 0);     // version
  put16(pal, 0);     // size, set below
  pal += "PC";       // a palette for a colour board
  put16(pal, 0xFF);  // board id
  put16(pal, 0);     // graphics mode
  put16(pal, 255);   // highest index
  put16(pal, 255), put16(pal, 255), put16(pal, 255);
  pal += std::string("Dr. Halo").append(12, ' ');
  for (std::size_t i = 0; i < 256; ++i) {
    if (pal.size() % 512 > 512 - 6) pal.append(512 - pal.size() % 512, '\0');
    const std::uint32_t c = i < ix.palette.size() ? ix.palette[i] : 0;
    put16(pal, c & 0xFF), put16(pal, (c >> 8) & 0xFF), put16(pal, (c >> 16) & 0xFF);
  }
  pal[4] = static_cast<char>(pal.size() & 0xFF);
  pal[5] = static_cast<char>((pal.size() >> 8) & 0xFF);
  return kOk;
}

short encodeCut(const std::vector<Image>& pages, int, int, std::string& out) {
  std::string pal;
  return encodeCutFiles(pages[0], out, pal);
}

short encodeCutPalette(const std::vector<Image>& pages, int, int, std::string& out) {
  std::string cut;
  return encodeCutFiles(pages[0], cut, out);
}

}  // namespace pv::engine::codecs
