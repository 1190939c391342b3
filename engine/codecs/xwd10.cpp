// X10 window dumps (XWD version 6), our own codec; ImageMagick reads only
// the X11 version. Header and colour map big-endian: seven 32-bit fields and
// six 16-bit fields, the window name, then 12-byte colour entries (pixel,
// red, green, blue). One plane is an XY bitmap of 16-bit items, bits from
// the low end, 1 white; more planes are a Z pixmap of one byte a pixel,
// rows padded to an even length.
#include <cstring>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

constexpr std::uint32_t kVersion = 6, kXYFormat = 0, kZFormat = 1;
constexpr const char kName[] = "pictoravine";

std::uint8_t reversed(std::uint8_t b) {
  b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

bool sniffXwd10(const std::string& head, std::string_view) {
  if (head.size() < 40) return false;
  ByteReader be(head), le(head);
  const std::uint32_t sizeBe = be.u32be(), versionBe = be.u32be();
  const std::uint32_t sizeLe = le.u32(), versionLe = le.u32();
  return (versionBe == kVersion && sizeBe >= 40 && sizeBe < 4096) ||
         (versionLe == kVersion && sizeLe >= 40 && sizeLe < 4096);
}

short decodeXwd10(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader probe(bytes, 4);
  const bool big = probe.u32be() == kVersion;
  ByteReader r(bytes);
  auto u32 = [&] { return big ? r.u32be() : r.u32(); };
  auto u16 = [&] { return big ? r.u16be() : r.u16(); };
  const std::uint32_t headerSize = u32();
  u32();
  u32();  // display type
  const std::uint32_t planes = u32(), format = u32(), w = u32(), h = u32();
  for (int i = 0; i < 5; ++i) u16();
  const std::uint32_t colours = u16();
  if (r.overrun() || w == 0 || h == 0 || planes == 0 || planes > 8 || colours > 256) return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels()) return kTooLarge;
  if (format != kZFormat && planes != 1) return kUnsupportedSubtype;
  r.seek(headerSize);
  std::vector<std::uint32_t> palette;
  for (std::uint32_t i = 0; i < colours; ++i) {
    u32();
    const std::uint32_t red = u16() >> 8, green = u16() >> 8, blue = u16() >> 8;
    u16();  // padding of the entry
    palette.push_back(red | (green << 8) | (blue << 16));
  }
  Image img;
  if (planes == 1) {
    const std::size_t rowBytes = (w + 15) / 16 * 2;
    cv::Mat black(static_cast<int>(h), static_cast<int>(w), CV_8UC1);
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::string row = r.take(rowBytes);
      if (r.overrun()) return kDamaged;
      std::uint8_t* o = black.ptr<std::uint8_t>(static_cast<int>(y));
      for (std::uint32_t x = 0; x < w; ++x) {
        // 16-bit items in the file's byte order, bits from the low end.
        const std::size_t item = x / 16 * 2, bit = x % 16;
        const std::uint8_t b = static_cast<std::uint8_t>(row[item + ((bit < 8) == big ? 1 : 0)]);
        o[x] = (b >> (bit % 8)) & 1 ? 0 : 1;
      }
    }
    img = pageOfBlack(black);
  } else {
    const std::size_t rowBytes = w + (w & 1);
    if (palette.empty())
      for (std::uint32_t i = 0; i < (1u << planes); ++i) {
        const std::uint32_t v = i * 255 / ((1u << planes) - 1);
        palette.push_back(v | (v << 8) | (v << 16));
      }
    cv::Mat idx(static_cast<int>(h), static_cast<int>(w), CV_8UC1);
    for (std::uint32_t y = 0; y < h; ++y) {
      const std::string row = r.take(rowBytes);
      if (r.overrun()) return kDamaged;
      std::memcpy(idx.ptr<std::uint8_t>(static_cast<int>(y)), row.data(), w);
    }
    img = pageOfIndices(idx, palette, static_cast<int>(planes));
  }
  doc.setOnly(std::move(img));
  return kOk;
}

short encodeXwd10(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const Image& page = pages[0];
  const int w = page.width(), h = page.height();
  if (w > 0x7FFF || h > 0x7FFF) return kInvalidParameter;
  const std::uint32_t planes = bits <= 1 ? 1 : bits <= 4 ? 4 : 8;
  IndexedImage ix;
  if (planes == 1) {
    ix.indices = 1 - blackOf(page);  // 1 white
  } else {
    ix = toIndexed(page.pixels, static_cast<int>(planes));
  }
  const std::uint32_t colours = planes == 1 ? 0 : 1u << planes;
  out.clear();
  put32be(out, 40 + sizeof kName);
  put32be(out, kVersion);
  put32be(out, 0);
  put32be(out, planes);
  put32be(out, planes == 1 ? kXYFormat : kZFormat);
  put32be(out, static_cast<std::uint32_t>(w));
  put32be(out, static_cast<std::uint32_t>(h));
  put16be(out, static_cast<std::uint32_t>(w)), put16be(out, static_cast<std::uint32_t>(h));
  put16be(out, 0), put16be(out, 0), put16be(out, 0);
  put16be(out, colours);
  out.append(kName, sizeof kName);
  for (std::uint32_t i = 0; i < colours; ++i) {
    const std::uint32_t c = i < ix.palette.size() ? ix.palette[i] : 0;
    put32be(out, i);
    put16be(out, (c & 0xFF) * 257), put16be(out, ((c >> 8) & 0xFF) * 257),
        put16be(out, ((c >> 16) & 0xFF) * 257);
    put16be(out, 0);
  }
  if (planes == 1) {
    const std::size_t rowBytes = (static_cast<std::size_t>(w) + 15) / 16 * 2;
    std::string row(rowBytes, '\0');
    for (int y = 0; y < h; ++y) {
      std::fill(row.begin(), row.end(), '\0');
      packIndices(ix.indices.ptr<std::uint8_t>(y), w, 1, reinterpret_cast<std::uint8_t*>(row.data()));
      // Low bit first within bytes, low byte last within big-endian items.
      for (std::size_t i = 0; i < rowBytes; i += 2) {
        const std::uint8_t a = reversed(static_cast<std::uint8_t>(row[i])),
                           b = reversed(static_cast<std::uint8_t>(row[i + 1]));
        row[i] = static_cast<char>(b), row[i + 1] = static_cast<char>(a);
      }
      out += row;
    }
  } else {
    for (int y = 0; y < h; ++y) {
      out.append(reinterpret_cast<const char*>(ix.indices.ptr<std::uint8_t>(y)), static_cast<std::size_t>(w));
      if (w & 1) out.push_back('\0');
    }
  }
  return kOk;
}

}  // namespace pv::engine::codecs
