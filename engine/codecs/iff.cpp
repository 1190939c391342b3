// Interchange File Format bitmaps (ILBM), our own codec. Read: bit planes
// (1..8 with a colour map, extra-half-brite and hold-and-modify included;
// 24 and 32 planes of true colour), chunky "PBM " pictures, a mask plane,
// ByteRun1 or no compression, and several pictures in a "CAT " (pages).
// Written: one FORM ILBM, or a CAT of one FORM a page for the multi-page
// variant, ByteRun1 or uncompressed.
#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct Chunk {
  std::string id;
  std::size_t at = 0, size = 0;  // the data
};

// The chunks in [at, end) of the bytes.
std::vector<Chunk> chunksOf(const std::string& bytes, std::size_t at, std::size_t end) {
  std::vector<Chunk> out;
  end = std::min(end, bytes.size());
  while (at + 8 <= end) {
    ByteReader r(bytes, at);
    Chunk c;
    c.id = r.take(4);
    c.size = r.u32be();
    c.at = at + 8;
    if (c.size > end - c.at) c.size = end - c.at;  // a cut chunk keeps what it has
    out.push_back(c);
    at = c.at + c.size + (c.size & 1);
  }
  return out;
}

// Hold-and-modify pictures: 6 or 8 planes with the mode set in CAMG.
bool holdAndModify(std::uint32_t camg, std::uint32_t planes) {
  return (camg & 0x800) != 0 && (planes == 6 || planes == 8);
}

bool unpackRow(ByteReader& r, std::size_t n, bool compressed, std::string& out) {
  if (compressed) return unpackBits(r, n, out);
  out = r.take(n);
  return !r.overrun();
}

short decodeForm(const std::string& bytes, const Chunk& form, Image& img) {
  const bool chunky = bytes.compare(form.at, 4, "PBM ") == 0;
  if (!chunky && bytes.compare(form.at, 4, "ILBM") != 0) return kUnsupportedSubtype;
  const Chunk* bmhd = nullptr;
  const Chunk* body = nullptr;
  std::vector<std::uint32_t> cmap;
  std::uint32_t camg = 0;
  const std::vector<Chunk> chunks = chunksOf(bytes, form.at + 4, form.at + form.size);
  for (const Chunk& c : chunks) {
    if (c.id == "BMHD") bmhd = &c;
    if (c.id == "BODY") body = &c;
    if (c.id == "CAMG" && c.size >= 4) camg = ByteReader(bytes, c.at).u32be();
    if (c.id == "CMAP")
      for (std::size_t i = 0; i + 3 <= c.size && i < 3 * 256; i += 3) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + c.at + i;
        cmap.push_back(p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16));
      }
  }
  if (!bmhd || !body || bmhd->size < 20) return kDamaged;
  ByteReader h(bytes, bmhd->at);
  const std::uint32_t w = h.u16be(), ht = h.u16be();
  h.skip(4);
  const std::uint32_t planes = h.u8(), masking = h.u8(), compression = h.u8();
  if (w == 0 || ht == 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * ht > maxPixels()) return kTooLarge;
  if (compression > 1) return kUnsupportedSubtype;
  const bool ham = holdAndModify(camg, planes);
  const bool halfBrite = (camg & 0x80) != 0 && planes == 6;
  if (!chunky && !(planes >= 1 && planes <= 8) && planes != 24 && planes != 32) return kUnsupportedSubtype;
  if (chunky && planes != 8) return kUnsupportedSubtype;
  const int rows = static_cast<int>(ht), cols = static_cast<int>(w);
  const std::size_t rowBytes = chunky ? (w + 1) / 2 * 2 : (w + 15) / 16 * 2;
  const std::uint32_t stored = chunky ? 1 : planes + (masking == 1 ? 1 : 0);
  ByteReader r(reinterpret_cast<const std::uint8_t*>(bytes.data()) + body->at, body->size);
  const bool colour = planes == 24 || planes == 32;
  if (halfBrite) {
    cmap.resize(32, 0);
    for (int i = 0; i < 32; ++i) {
      const std::uint32_t c = cmap[static_cast<std::size_t>(i)];
      cmap.push_back(((c & 0xFF) >> 1) | (((c >> 8) & 0xFF) >> 1) << 8 | (((c >> 16) & 0xFF) >> 1) << 16);
    }
  }
  if (!colour && cmap.empty()) {  // no colour map: grey levels
    const std::uint32_t n = 1u << std::min<std::uint32_t>(planes, 8);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t v = i * 255 / (n - 1);
      cmap.push_back(v | (v << 8) | (v << 16));
    }
  }
  img = Image{};
  img.pixels.create(rows, cols, planes == 32 ? CV_8UC4 : CV_8UC3);
  std::vector<std::uint32_t> value(w);
  std::string row;
  for (int y = 0; y < rows; ++y) {
    std::fill(value.begin(), value.end(), 0);
    for (std::uint32_t p = 0; p < stored; ++p) {
      if (!unpackRow(r, rowBytes, compression == 1, row)) return kDamaged;
      const auto* b = reinterpret_cast<const std::uint8_t*>(row.data());
      if (chunky) {
        for (std::uint32_t x = 0; x < w; ++x) value[x] = b[x];
      } else if (p < planes) {
        for (std::uint32_t x = 0; x < w; ++x)
          if (b[x / 8] & (0x80 >> (x % 8))) value[x] |= 1u << p;
      }
    }
    std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
    const int ch = img.pixels.channels();
    std::uint32_t held = cmap.empty() ? 0 : cmap[0];  // hold-and-modify carries the previous colour
    for (std::uint32_t x = 0; x < w; ++x, o += ch) {
      std::uint32_t c;
      const std::uint32_t v = value[x];
      if (colour) {
        c = (v & 0xFFFFFF);
        if (ch == 4) o[3] = static_cast<std::uint8_t>(v >> 24);
      } else if (ham) {
        const std::uint32_t bits = planes - 2, ctrl = v >> bits, data = v & ((1u << bits) - 1);
        const std::uint32_t level = bits == 4 ? data * 17 : (data << 2) | (data >> 4);
        if (ctrl == 0)
          held = data < cmap.size() ? cmap[data] : 0;
        else if (ctrl == 1)
          held = (held & 0x00FFFF) | (level << 16);  // blue
        else if (ctrl == 2)
          held = (held & 0xFFFF00) | level;  // red
        else
          held = (held & 0xFF00FF) | (level << 8);  // green
        c = held;
      } else {
        c = v < cmap.size() ? cmap[v] : 0;
      }
      o[0] = static_cast<std::uint8_t>(c >> 16), o[1] = static_cast<std::uint8_t>(c >> 8),
      o[2] = static_cast<std::uint8_t>(c);
    }
  }
  if (colour)
    img.bits = static_cast<int>(planes);
  else if (ham)
    img.bits = 24;
  else {
    img.bits = static_cast<int>(planes);
    img.palette = cmap;
    img.palette.resize(std::min<std::size_t>(cmap.size(), std::size_t{1} << planes));
  }
  return kOk;
}

std::string chunk(const char* id, const std::string& data) {
  std::string out(id, 4);
  put32be(out, static_cast<std::uint32_t>(data.size()));
  out += data;
  if (data.size() & 1) out.push_back('\0');
  return out;
}

short encodeForm(const Image& page, int bits, bool rle, std::string& out) {
  const int w = page.width(), h = page.height();
  if (w > 0xFFFF || h > 0xFFFF) return kInvalidParameter;
  const int planes = bits >= 24 || bits == 0 ? 24 : std::clamp(bits, 1, 8);
  IndexedImage ix;
  cv::Mat bgr;
  if (planes <= 8) {
    ix = toIndexed(page.pixels, planes);
  } else if (page.pixels.channels() == 3) {
    bgr = page.pixels;
  } else {
    cv::cvtColor(page.pixels, bgr, page.pixels.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
  }
  std::string bmhd;
  put16be(bmhd, static_cast<std::uint32_t>(w)), put16be(bmhd, static_cast<std::uint32_t>(h));
  put16be(bmhd, 0), put16be(bmhd, 0);
  put8(bmhd, static_cast<std::uint32_t>(planes));
  put8(bmhd, 0);  // no mask
  put8(bmhd, rle ? 1 : 0);
  put8(bmhd, 0);
  put16be(bmhd, 0);              // transparent colour
  put8(bmhd, 1), put8(bmhd, 1);  // square pixels
  put16be(bmhd, static_cast<std::uint32_t>(w)), put16be(bmhd, static_cast<std::uint32_t>(h));
  std::string body = "ILBM" + chunk("BMHD", bmhd);
  if (planes <= 8) {
    std::string cmap;
    for (std::size_t i = 0; i < (std::size_t{1} << planes); ++i) {
      const std::uint32_t c = i < ix.palette.size() ? ix.palette[i] : 0;
      put8(cmap, c), put8(cmap, c >> 8), put8(cmap, c >> 16);
    }
    body += chunk("CMAP", cmap);
  }
  const std::size_t rowBytes = (static_cast<std::size_t>(w) + 15) / 16 * 2;
  std::string data, plane(rowBytes, '\0');
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* idx = planes <= 8 ? ix.indices.ptr<std::uint8_t>(y) : nullptr;
    const std::uint8_t* px = planes > 8 ? bgr.ptr<std::uint8_t>(y) : nullptr;
    for (int p = 0; p < planes; ++p) {
      std::fill(plane.begin(), plane.end(), '\0');
      for (int x = 0; x < w; ++x) {
        // True colour planes run red 0..7, green 0..7, blue 0..7.
        const std::uint32_t v = idx ? idx[x] : (px[3 * x + 2] | (px[3 * x + 1] << 8) | (px[3 * x] << 16));
        if (v & (1u << p))
          plane[static_cast<std::size_t>(x / 8)] =
              static_cast<char>(plane[static_cast<std::size_t>(x / 8)] | (0x80 >> (x % 8)));
      }
      data += rle ? packBits(plane) : plane;
    }
  }
  body += chunk("BODY", data);
  out = chunk("FORM", body);
  return kOk;
}

}  // namespace

bool sniffIff(const std::string& head, std::string_view) {
  if (head.size() < 12) return false;
  if (head.starts_with("FORM")) return head.compare(8, 4, "ILBM") == 0 || head.compare(8, 4, "PBM ") == 0;
  return head.starts_with("CAT ") && head.size() >= 24 && head.compare(12, 4, "FORM") == 0 &&
         (head.compare(20, 4, "ILBM") == 0 || head.compare(20, 4, "PBM ") == 0);
}

namespace {

// The pictures of a file: its FORM, or the FORMs of its CAT list.
std::vector<Chunk> formsOf(const std::string& bytes) {
  std::vector<Chunk> forms;
  const std::vector<Chunk> top = chunksOf(bytes, 0, bytes.size());
  if (top.empty()) return forms;
  if (top[0].id == "FORM")
    forms.push_back(top[0]);
  else if (top[0].id == "CAT " && top[0].size >= 4)
    // Some writers leave the list's own type out of its size, so its forms
    // are taken up to the end of the file.
    for (const Chunk& c : chunksOf(bytes, top[0].at + 4, bytes.size()))
      if (c.id == "FORM" && c.size >= 4) forms.push_back(c);
  return forms;
}

}  // namespace

short iffInfo(const std::string& bytes, FileInfo& info) {
  const std::vector<Chunk> forms = formsOf(bytes);
  if (forms.empty()) return kDamaged;
  const Chunk* bmhd = nullptr;
  std::uint32_t camg = 0;
  const std::vector<Chunk> chunks = chunksOf(bytes, forms[0].at + 4, forms[0].at + forms[0].size);
  for (const Chunk& c : chunks) {
    if (c.id == "BMHD" && c.size >= 20) bmhd = &c;
    if (c.id == "CAMG" && c.size >= 4) camg = ByteReader(bytes, c.at).u32be();
  }
  if (!bmhd) return kDamaged;
  ByteReader h(bytes, bmhd->at);
  info.width = static_cast<int>(h.u16be());
  info.height = static_cast<int>(h.u16be());
  h.skip(4);
  const std::uint32_t planes = h.u8();
  const bool ham = holdAndModify(camg, planes);
  info.bits = static_cast<short>(planes == 32 ? 32 : planes >= 24 || ham ? 24 : planes);
  info.pageCount = static_cast<int>(forms.size());
  if (bytes.starts_with("CAT ")) info.format = kIffCat;
  return info.width > 0 && info.height > 0 ? kOk : kDamaged;
}

short decodeIff(const std::string&, const std::string& bytes, Document& doc) {
  doc.pages.clear();
  const std::vector<Chunk> forms = formsOf(bytes);
  if (forms.empty()) return kDamaged;
  for (const Chunk& f : forms) {
    Image img;
    const short s = decodeForm(bytes, f, img);
    if (s != kOk) {
      if (doc.pages.empty()) return s;
      break;  // later pages that cannot be read are left out
    }
    doc.pages.push_back(std::move(img));
  }
  return doc.pages.empty() ? kDamaged : kOk;
}

short encodeIff(const std::vector<Image>& pages, int code, int bits, std::string& out) {
  const bool rle = code == kIff || code == kIffCat;
  if (code == kIff || code == kIffRaw) return encodeForm(pages[0], bits, rle, out);
  std::string body = "ILBM";
  for (const Image& page : pages) {
    std::string form;
    if (short s = encodeForm(page, bits, rle, form)) return s;
    body += form;
  }
  out = chunk("CAT ", body);
  return kOk;
}

}  // namespace pv::engine::codecs
