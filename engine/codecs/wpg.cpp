// WordPerfect graphics (WPG version 1) holding one bitmap, our own encoder:
// a start record, the colour map, a type-1 bitmap record of 1, 4 or 8 bits
// with the format's run-length rows, and the end record. ImageMagick reads
// these files, so no reader of our own is needed.
#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

// A record: its type, then its length in one byte, or 0xFF and a 16-bit
// length, or 0xFF and two 16-bit halves with the high bit set.
void record(std::string& out, std::uint32_t type, const std::string& data) {
  put8(out, type);
  const std::size_t n = data.size();
  if (n < 0xFF) {
    put8(out, static_cast<std::uint32_t>(n));
  } else if (n < 0x8000) {
    put8(out, 0xFF);
    put16(out, static_cast<std::uint32_t>(n));
  } else {
    put8(out, 0xFF);
    put16(out, 0x8000 | static_cast<std::uint32_t>(n >> 16));
    put16(out, static_cast<std::uint32_t>(n & 0xFFFF));
  }
  out += data;
}

// One row: runs of a repeated byte (0x80 | n, byte) and literal spans
// (n, bytes), n up to 127.
void encodeRow(const std::string& row, std::string& out) {
  splitRuns(reinterpret_cast<const std::uint8_t*>(row.data()), row.size(), 127, 2,
            [&](bool run, const std::uint8_t* p, std::size_t n) {
              put8(out, (run ? 0x80u : 0u) | static_cast<std::uint32_t>(n));
              out.append(reinterpret_cast<const char*>(p), run ? 1 : n);
            });
}

}  // namespace

short encodeWpg(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const Image& page = pages[0];
  const int w = page.width(), h = page.height();
  if (w > 0xFFFF || h > 0xFFFF) return kInvalidParameter;
  const int depth = bits <= 1 ? 1 : bits <= 4 ? 4 : 8;
  IndexedImage ix;
  if (depth == 1) {
    ix.indices = 1 - blackOf(page);  // 0 black, 1 white
    ix.palette = {0x000000, 0xFFFFFF};
  } else {
    ix = toIndexed(page.pixels, depth);
  }
  out.clear();
  put32(out, 0x435057FF);  // FF "WPC"
  put32(out, 16);          // the records start here
  put8(out, 1);            // WordPerfect
  put8(out, 0x16);         // a graphics file
  put8(out, 1), put8(out, 0);
  put16(out, 0), put16(out, 0);
  std::string start;
  put8(start, 1), put8(start, 0);
  put16(start, static_cast<std::uint32_t>(w * 1200 / std::max(page.xDpi, 1)));  // size in 1/1200 inch
  put16(start, static_cast<std::uint32_t>(h * 1200 / std::max(page.yDpi, 1)));
  record(out, 0x0F, start);
  std::string map;
  const std::size_t colours = std::size_t{1} << depth;
  put16(map, 0), put16(map, static_cast<std::uint32_t>(colours));
  for (std::size_t i = 0; i < colours; ++i) {
    const std::uint32_t c = i < ix.palette.size() ? ix.palette[i] : 0;
    put8(map, c), put8(map, c >> 8), put8(map, c >> 16);
  }
  record(out, 0x0E, map);
  std::string bitmap;
  put16(bitmap, static_cast<std::uint32_t>(w)), put16(bitmap, static_cast<std::uint32_t>(h));
  put16(bitmap, static_cast<std::uint32_t>(depth));
  put16(bitmap, static_cast<std::uint32_t>(std::clamp(page.xDpi, 1, 0xFFFF)));
  put16(bitmap, static_cast<std::uint32_t>(std::clamp(page.yDpi, 1, 0xFFFF)));
  std::string row((static_cast<std::size_t>(w) * static_cast<std::size_t>(depth) + 7) / 8, '\0');
  for (int y = 0; y < h; ++y) {
    packIndices(ix.indices.ptr<std::uint8_t>(y), w, depth, reinterpret_cast<std::uint8_t*>(row.data()));
    encodeRow(row, bitmap);
  }
  record(out, 0x0B, bitmap);
  record(out, 0x10, "");
  return kOk;
}

}  // namespace pv::engine::codecs
