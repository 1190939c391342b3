// Icons, cursors and animated cursors, our own codec. An icon or cursor file
// holds one entry per page: a device-independent bitmap of 1, 4, 8 or 24 bits
// twice as high as the picture, followed by a 1-bit mask (1: transparent)
// made from the page's alpha. An animated cursor is a RIFF "ACON" list of
// such files, one a frame.
#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

int storedBits(int bits) { return bits <= 1 ? 1 : bits <= 4 ? 4 : bits <= 8 ? 8 : 24; }

// One entry's bitmap: the colour bitmap with a doubled height and the mask.
short iconEntry(const Image& page, int bits, std::string& out) {
  const int w = page.width(), h = page.height();
  std::string dib = dibOf(page, storedBits(bits));
  if (dib.empty()) return kInvalidParameter;
  set32(dib, 8, static_cast<std::uint32_t>(2 * h));
  const std::size_t stride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
  std::string mask(stride * static_cast<std::size_t>(h), '\0');
  if (page.hasAlpha()) {
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* px = page.pixels.ptr<std::uint8_t>(y);
      char* row = mask.data() + stride * static_cast<std::size_t>(h - 1 - y);
      for (int x = 0; x < w; ++x)
        if (px[4 * x + 3] < 128) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    }
  }
  set32(dib, 20, static_cast<std::uint32_t>(dib.size() - 40 + mask.size() - 4 * (storedBits(bits) <= 8 ? 1u << storedBits(bits) : 0)));
  out = dib + mask;
  return kOk;
}

// An icon (type 1) or cursor (type 2, hotspot at the top left) file.
short iconFile(const std::vector<Image>& pages, bool cursor, int bits, std::string& out) {
  std::vector<std::string> entries(pages.size());
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (pages[i].width() > 256 || pages[i].height() > 256) return kInvalidParameter;
    if (short s = iconEntry(pages[i], bits, entries[i])) return s;
  }
  out.clear();
  put16(out, 0);
  put16(out, cursor ? 2 : 1);
  put16(out, static_cast<std::uint32_t>(pages.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pages.size());
  const int stored = storedBits(bits);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    put8(out, pages[i].width() == 256 ? 0 : static_cast<std::uint32_t>(pages[i].width()));
    put8(out, pages[i].height() == 256 ? 0 : static_cast<std::uint32_t>(pages[i].height()));
    put8(out, stored <= 4 ? 1u << stored : 0);  // colours, 0 for 256 and more
    put8(out, 0);
    put16(out, cursor ? 0 : 1);                   // planes, or the hotspot's x
    put16(out, cursor ? 0 : static_cast<std::uint32_t>(stored));  // bits, or its y
    put32(out, static_cast<std::uint32_t>(entries[i].size()));
    put32(out, offset);
    offset += static_cast<std::uint32_t>(entries[i].size());
  }
  for (const std::string& e : entries) out += e;
  return kOk;
}

void putChunk(std::string& out, const char* id, const std::string& data) {
  out.append(id, 4);
  put32(out, static_cast<std::uint32_t>(data.size()));
  out += data;
  if (data.size() % 2) out.push_back('\0');
}

}  // namespace

short encodeIcon(const std::vector<Image>& pages, int code, int bits, std::string& out) {
  if (code != kAnimatedCursor) return iconFile(pages, code == kCursor, bits, out);
  std::string frames = "fram";
  for (const Image& page : pages) {
    std::string icon;
    if (short s = iconFile({page}, false, bits, icon)) return s;
    putChunk(frames, "icon", icon);
  }
  std::string header;
  put32(header, 36);
  put32(header, static_cast<std::uint32_t>(pages.size()));  // frames
  put32(header, static_cast<std::uint32_t>(pages.size()));  // steps
  put32(header, static_cast<std::uint32_t>(pages[0].width()));
  put32(header, static_cast<std::uint32_t>(pages[0].height()));
  put32(header, static_cast<std::uint32_t>(storedBits(bits)));
  put32(header, 1);   // planes
  put32(header, 10);  // a frame every 10/60 s
  put32(header, 1);   // the frames are icon files
  std::string body = "ACON";
  putChunk(body, "anih", header);
  putChunk(body, "LIST", frames);
  out = "RIFF";
  put32(out, static_cast<std::uint32_t>(body.size()));
  out += body;
  return kOk;
}

short decodeIconFile(const std::string& bytes, Image& image) {
  ByteReader r(bytes);
  if (r.u16() != 0) return kNotAnImage;
  const std::uint32_t type = r.u16(), count = r.u16();
  if ((type != 1 && type != 2) || count == 0) return kNotAnImage;
  r.skip(8);
  const std::uint32_t size = r.u32(), offset = r.u32();
  if (r.overrun() || offset >= bytes.size() || size > bytes.size() - offset) return kDamaged;
  const std::string entry = bytes.substr(offset, size);
  if (entry.starts_with("\x89PNG")) {  // a compressed entry, as large icons keep them
    Document png;
    if (short s = decodePng(entry, png)) return s;
    image = std::move(png.pages[0]);
    return kOk;
  }
  ByteReader e(entry);
  const std::uint32_t headerSize = e.u32();
  const std::int32_t w = static_cast<std::int32_t>(e.u32()), h2 = static_cast<std::int32_t>(e.u32());
  if (headerSize != 40 || w <= 0 || h2 <= 1 || w > 4096 || h2 > 8192) return kDamaged;
  const int h = h2 / 2;
  std::string dib = entry;
  set32(dib, 8, static_cast<std::uint32_t>(h));
  if (short s = decodeDib(dib, image)) return s;
  // The mask follows the colour rows.
  const int bits = static_cast<int>(static_cast<std::uint8_t>(entry[14]) | (static_cast<std::uint8_t>(entry[15]) << 8));
  const std::size_t stride = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
  const std::uint32_t used = static_cast<std::uint8_t>(entry[32]) | (static_cast<std::uint8_t>(entry[33]) << 8);
  const std::size_t palette = bits <= 8 ? 4u * (used && used < (1u << bits) ? used : 1u << bits) : 0;
  const std::size_t maskAt = 40 + palette + stride * static_cast<std::size_t>(h);
  const std::size_t maskStride = ((static_cast<std::size_t>(w) + 31) / 32) * 4;
  cv::Mat alpha(h, w, CV_8UC1, cv::Scalar(255));
  // A 32-bit entry carries its own alpha in the fourth byte of each pixel;
  // the mask counts only when that alpha is all zero (older writers).
  bool ownAlpha = false;
  if (bits == 32 && maskAt <= entry.size()) {
    for (int y = 0; y < h; ++y) {
      const auto* row = reinterpret_cast<const std::uint8_t*>(entry.data()) + 40 + stride * static_cast<std::size_t>(h - 1 - y);
      for (int x = 0; x < w; ++x) alpha.at<std::uint8_t>(y, x) = row[4 * x + 3];
    }
    ownAlpha = cv::countNonZero(alpha) > 0;
    if (!ownAlpha) alpha.setTo(255);
  }
  if (!ownAlpha) {
    if (maskAt + maskStride * static_cast<std::size_t>(h) > entry.size()) return kOk;  // no mask: opaque
    for (int y = 0; y < h; ++y) {
      const auto* row = reinterpret_cast<const std::uint8_t*>(entry.data()) + maskAt + maskStride * static_cast<std::size_t>(h - 1 - y);
      for (int x = 0; x < w; ++x)
        if (row[x / 8] & (0x80 >> (x % 8))) alpha.at<std::uint8_t>(y, x) = 0;
    }
  }
  const bool any = cv::countNonZero(alpha != 255) > 0;
  if (any) {
    cv::Mat bgr = image.pixels;
    if (bgr.channels() == 1) cv::cvtColor(bgr, bgr, cv::COLOR_GRAY2BGR);
    if (bgr.channels() == 4) cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
    cv::Mat bgra;
    cv::merge(std::vector<cv::Mat>{bgr, alpha}, bgra);
    image.pixels = bgra;
  }
  return kOk;
}

bool sniffAni(const std::string& head, std::string_view) {
  return head.size() >= 12 && head.starts_with("RIFF") && head.compare(8, 4, "ACON") == 0;
}

short decodeAni(const std::string&, const std::string& bytes, Document& doc) {
  // Walks the chunks of the RIFF form and of its "fram" list.
  ByteReader r(bytes, 12);
  doc.pages.clear();
  while (r.left() >= 8) {
    const std::string id = r.take(4);
    const std::uint32_t size = r.u32();
    if (size > r.left()) return doc.pages.empty() ? kDamaged : kOk;
    if (id == "LIST") {
      const std::string list = r.take(size);
      if (!list.starts_with("fram")) {
        if (size % 2) r.skip(1);
        continue;
      }
      ByteReader f(list, 4);
      while (f.left() >= 8) {
        const std::string fid = f.take(4);
        const std::uint32_t fsize = f.u32();
        if (fsize > f.left()) return doc.pages.empty() ? kDamaged : kOk;
        const std::string frame = f.take(fsize);
        if (fsize % 2) f.skip(1);
        if (fid != "icon") continue;
        Image img;
        if (short s = decodeIconFile(frame, img)) return s;
        doc.pages.push_back(std::move(img));
        if (doc.pages.size() > 10000) return kDamaged;
      }
    } else {
      r.skip(size + size % 2);
    }
  }
  return doc.pages.empty() ? kDamaged : kOk;
}

}  // namespace pv::engine::codecs
