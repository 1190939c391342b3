// Files that hold one device-independent bitmap, our own codec: clipboard
// files (one CF_DIB format), Windows metafiles (a placeable WMF with one
// StretchDIB record) and enhanced metafiles (one StretchDIBits record). A
// metafile that draws anything else is handed to ImageMagick when it reads
// the format.
#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

constexpr std::uint32_t kCfDib = 8, kCfDibV5 = 17;
constexpr std::uint32_t kSrcCopy = 0x00CC0020;

int dibBits(int bits) {
  return bits <= 1 ? 1 : bits <= 4 ? 4 : bits <= 8 ? 8 : 24;
}

// The size of a DIB's header and colour table, where its pixel bits start.
std::size_t dibHeaderBytes(const std::string& dib) {
  ByteReader r(dib);
  const std::uint32_t size = r.u32();
  r.skip(10);
  const std::uint32_t bits = r.u16(), compression = r.u32();
  r.skip(12);
  const std::uint32_t used = r.u32();
  std::size_t n = size;
  if (size == 40 && compression == 3) n += 12;
  if (bits <= 8) n += 4 * (used && used < (1u << bits) ? used : 1u << bits);
  return n;
}

short pageOfDib(const std::string& dib, Document& doc) {
  Image img;
  if (short s = decodeDib(dib, img)) return s;
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace

// ---- Clipboard files ---------------------------------------------------------

bool sniffClp(const std::string& head, std::string_view) {
  if (head.size() < 4) return false;
  const std::uint32_t id = static_cast<std::uint8_t>(head[0]) | (static_cast<std::uint8_t>(head[1]) << 8);
  return id == 0xC350 || id == 0xC351 || id == 0xC352;
}

short decodeClp(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes);
  const std::uint32_t id = r.u16(), count = r.u16();
  const bool nt = id != 0xC350;  // NT files: 32-bit format ids and wide names
  for (std::uint32_t i = 0; i < count && !r.overrun(); ++i) {
    const std::uint32_t format = nt ? r.u32() : r.u16();
    const std::uint32_t length = r.u32(), offset = r.u32();
    r.skip(nt ? 158 : 79);
    if (r.overrun()) break;
    if (format != kCfDib && format != kCfDibV5) continue;
    if (offset > bytes.size() || length > bytes.size() - offset) return kDamaged;
    return pageOfDib(bytes.substr(offset, length), doc);
  }
  return r.overrun() ? kDamaged : kUnsupportedSubtype;  // no bitmap on it
}

short encodeClp(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const std::string dib = dibOf(pages[0], dibBits(bits));
  if (dib.empty()) return kInvalidParameter;
  out.clear();
  put16(out, 0xC350);
  put16(out, 1);
  put16(out, kCfDib);
  put32(out, static_cast<std::uint32_t>(dib.size()));
  put32(out, 4 + 89);
  out.append(79, '\0');  // predefined formats have no name
  out += dib;
  return kOk;
}

// ---- Windows metafiles ---------------------------------------------------------

bool sniffWmf(const std::string& head, std::string_view) {
  return head.size() >= 4 && head.starts_with("\xD7\xCD\xC6\x9A");
}

short decodeWmf(const std::string& path, const std::string& bytes, Document& doc) {
  ByteReader r(bytes, 22);  // the placeable header
  r.skip(2);
  const std::uint32_t headerWords = r.u16();
  r.seek(22 + 2 * static_cast<std::size_t>(headerWords));
  while (r.left() >= 6) {
    const std::size_t at = r.pos();
    const std::uint32_t words = r.u32(), function = r.u16();
    if (function == 0 || words < 3) break;  // the end record
    if (static_cast<std::uint64_t>(words) * 2 > bytes.size() - at) return kDamaged;
    // StretchDIB: rop, usage, 8 coordinates; DIBStretchBlt: rop, 8 coordinates.
    if (function == 0x0F43 || function == 0x0B41) {
      const std::size_t fixed = function == 0x0F43 ? 6 + 4 + 2 + 16 : 6 + 4 + 16;
      if (words * 2 <= fixed) return kDamaged;
      return pageOfDib(bytes.substr(at + fixed, words * 2 - fixed), doc);
    }
    r.seek(at + 2 * static_cast<std::size_t>(words));
  }
  // A drawing rather than a bitmap: ImageMagick renders it when it can.
  if (magickReadsExtension("wmf")) return loadMagick(path, 1, -1, doc);
  return kUnsupportedSubtype;
}

short encodeWmf(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const Image& page = pages[0];
  const int w = page.width(), h = page.height();
  if (w > 0x7FFF || h > 0x7FFF) return kInvalidParameter;
  std::string dib = dibOf(page, bits <= 8 ? 8 : 24);
  if (dib.empty()) return kInvalidParameter;
  if (dib.size() % 2) dib.push_back('\0');
  // Placeable header: the picture's size at its resolution.
  out.clear();
  put32(out, 0x9AC6CDD7);
  put16(out, 0);
  put16(out, 0), put16(out, 0), put16(out, static_cast<std::uint32_t>(w)),
      put16(out, static_cast<std::uint32_t>(h));
  put16(out, static_cast<std::uint32_t>(std::clamp(page.xDpi, 1, 0x7FFF)));
  put32(out, 0);
  std::uint32_t sum = 0;
  for (int i = 0; i < 10; ++i)
    sum ^= static_cast<std::uint8_t>(out[2 * i]) | (static_cast<std::uint8_t>(out[2 * i + 1]) << 8);
  put16(out, sum);
  std::string records;
  auto record = [&](std::uint32_t function, const std::string& params) {
    put32(records, static_cast<std::uint32_t>(3 + params.size() / 2));
    put16(records, function);
    records += params;
  };
  std::string p;
  put16(p, 0), put16(p, 0);
  record(0x020B, p);  // SetWindowOrg y, x
  p.clear();
  put16(p, static_cast<std::uint32_t>(h)), put16(p, static_cast<std::uint32_t>(w));
  record(0x020C, p);  // SetWindowExt
  p.clear();
  put32(p, kSrcCopy);
  put16(p, 0);  // DIB_RGB_COLORS
  for (int v : {h, w, 0, 0, h, w, 0, 0}) put16(p, static_cast<std::uint32_t>(v));
  const std::size_t biggest = 3 + (p.size() + dib.size()) / 2;
  record(0x0F43, p + dib);  // StretchDIB
  record(0x0000, "");       // end
  const std::size_t words = 9 + records.size() / 2;
  put16(out, 1);       // in memory
  put16(out, 9);       // header words
  put16(out, 0x0300);  // version
  put32(out, static_cast<std::uint32_t>(words));
  put16(out, 0);
  put32(out, static_cast<std::uint32_t>(biggest));
  put16(out, 0);
  out += records;
  return kOk;
}

// ---- Enhanced metafiles --------------------------------------------------------

bool sniffEmf(const std::string& head, std::string_view) {
  return head.size() >= 44 && head.starts_with(std::string("\x01\0\0\0", 4)) &&
         head.compare(40, 4, " EMF") == 0;
}

short decodeEmf(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader r(bytes);
  while (r.left() >= 8) {
    const std::size_t at = r.pos();
    const std::uint32_t type = r.u32(), size = r.u32();
    if (size < 8 || size % 4 || size > bytes.size() - at) return kDamaged;
    if (type == 14) break;           // end of file
    if (type == 81 && size >= 80) {  // StretchDIBits
      r.seek(at + 48);
      const std::uint32_t offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
      if (offBmi > size || cbBmi > size - offBmi || offBits > size || cbBits > size - offBits)
        return kDamaged;
      return pageOfDib(bytes.substr(at + offBmi, cbBmi) + bytes.substr(at + offBits, cbBits), doc);
    }
    r.seek(at + size);
  }
  return kUnsupportedSubtype;  // drawings are not rendered here
}

short encodeEmf(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const Image& page = pages[0];
  const int w = page.width(), h = page.height();
  std::string dib = dibOf(page, bits <= 8 ? 8 : 24);
  if (dib.empty()) return kInvalidParameter;
  const std::size_t head = dibHeaderBytes(dib);
  std::string bmi = dib.substr(0, head), pixels = dib.substr(head);
  while (bmi.size() % 4) bmi.push_back('\0');
  while (pixels.size() % 4) pixels.push_back('\0');
  auto rect = [](std::string& s, int l, int t, int r, int b) {
    put32(s, static_cast<std::uint32_t>(l)), put32(s, static_cast<std::uint32_t>(t));
    put32(s, static_cast<std::uint32_t>(r)), put32(s, static_cast<std::uint32_t>(b));
  };
  std::string blit;
  put32(blit, 81);
  put32(blit, static_cast<std::uint32_t>(80 + bmi.size() + pixels.size()));
  rect(blit, 0, 0, w - 1, h - 1);
  for (int v : {0, 0, 0, 0, w, h}) put32(blit, static_cast<std::uint32_t>(v));
  put32(blit, 80), put32(blit, static_cast<std::uint32_t>(bmi.size()));
  put32(blit, static_cast<std::uint32_t>(80 + bmi.size())),
      put32(blit, static_cast<std::uint32_t>(pixels.size()));
  put32(blit, 0);  // DIB_RGB_COLORS
  put32(blit, kSrcCopy);
  put32(blit, static_cast<std::uint32_t>(w)), put32(blit, static_cast<std::uint32_t>(h));
  blit += bmi + pixels;
  std::string end;
  put32(end, 14), put32(end, 20), put32(end, 0), put32(end, 16), put32(end, 20);
  // The header: bounds in pixels, frame in hundredths of a millimetre at the
  // picture's resolution, and a reference device of 96 dots per inch.
  out.clear();
  put32(out, 1);
  put32(out, 88);
  rect(out, 0, 0, w - 1, h - 1);
  rect(out, 0, 0, static_cast<int>(w * 2540.0 / std::max(page.xDpi, 1)) - 1,
       static_cast<int>(h * 2540.0 / std::max(page.yDpi, 1)) - 1);
  put32(out, 0x464D4520);
  put32(out, 0x10000);
  put32(out, static_cast<std::uint32_t>(88 + blit.size() + end.size()));
  put32(out, 3);  // records
  put16(out, 1), put16(out, 0);
  put32(out, 0), put32(out, 0), put32(out, 0);
  put32(out, 1024), put32(out, 768);  // reference device in pixels
  put32(out, 271), put32(out, 203);   // and in millimetres (96 dpi)
  out += blit + end;
  return kOk;
}

}  // namespace pv::engine::codecs
