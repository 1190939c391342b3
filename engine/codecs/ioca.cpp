// IBM image object content (IOCA, function set 10) for bilevel pictures, our
// own codec. Written: one image segment of self-defining fields (begin
// segment, begin image content, size, encoding, element size, the image data
// in fields of at most 65535 bytes, end image content, end segment) with G3
// modified Huffman, G3 modified READ, G4 or no compression; the CCITT
// codings come from libtiff. Read: such segments bare, or inside the image
// picture data of a MO:DCA document, one page an image object.
#include <tiffio.h>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

enum : std::uint32_t { kIbmMmr = 0x01, kNone = 0x03, kG3Mh = 0x80, kG3Mr = 0x81, kG4 = 0x82 };

// What the file format codes ask for.
std::uint32_t compressionOf(int code) {
  switch (code) {
    case kIcaG3:
      return kG3Mh;
    case kIcaG3_2D:
      return kG3Mr;
    case kIcaG4:
      return kG4;
    default:
      return kNone;
  }
}

Coding codingOf(std::uint32_t compression) {
  Coding c;
  c.compression = compression == kG3Mh   ? COMPRESSION_CCITTRLE
                  : compression == kG3Mr ? COMPRESSION_CCITTFAX3
                                         : COMPRESSION_CCITTFAX4;
  c.twoD = compression == kG3Mr;
  return c;
}

// One image segment's fields: size, encoding and the data.
short decodeSegment(const std::string& stream, Image& img) {
  ByteReader r(stream);
  std::uint32_t w = 0, h = 0, xres = 0, yres = 0, compression = kNone, ideSize = 1;
  bool unitTenInches = true, begun = false;
  std::string data;
  while (r.left() > 0) {
    std::uint32_t id = r.u8(), length;
    if (id == 0xFE) {  // long form: a second identifier byte and a 16-bit length
      id = 0xFE00 | r.u8();
      length = r.u16be();
    } else {
      length = r.u8();
    }
    const std::string field = r.take(length);
    if (r.overrun()) return kDamaged;
    ByteReader f(field);
    switch (id) {
      case 0x91:
        begun = true;
        break;
      case 0x94:
        unitTenInches = f.u8() == 0;
        xres = f.u16be(), yres = f.u16be(), w = f.u16be(), h = f.u16be();
        break;
      case 0x95:
        compression = f.u8();
        break;
      case 0x96:
        ideSize = f.u8();
        break;
      case 0xFE92:
        data += field;
        break;
      case 0x93:
        break;
      default:
        break;  // names, colours and other parameters
    }
    if (id == 0x93 || id == 0x71) break;
  }
  if (!begun || w == 0 || h == 0) return kDamaged;
  if (ideSize != 1) return kUnsupportedSubtype;
  if (static_cast<std::uint64_t>(w) * h > maxPixels()) return kTooLarge;
  cv::Mat black;
  if (compression == kNone) {
    const std::size_t rowBytes = (w + 7) / 8;
    if (data.size() < rowBytes * h) return kDamaged;
    black.create(static_cast<int>(h), static_cast<int>(w), CV_8UC1);
    for (std::uint32_t y = 0; y < h; ++y)
      for (std::uint32_t x = 0; x < w; ++x)
        black.at<std::uint8_t>(static_cast<int>(y), static_cast<int>(x)) =
            (static_cast<std::uint8_t>(data[y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
  } else if (compression == kG3Mh || compression == kG3Mr || compression == kG4 || compression == kIbmMmr) {
    // IBM's MMR is read as G4, its standard form; a picture that does not
    // decode so is reported damaged.
    if (short s = ccittDecode({data}, static_cast<int>(w), static_cast<int>(h),
                              codingOf(compression == kIbmMmr ? kG4 : compression), black))
      return s;
  } else {
    return kUnsupportedSubtype;
  }
  img = pageOfBlack(black);
  if (unitTenInches && xres > 0 && yres > 0)
    img.xDpi = static_cast<int>((xres + 5) / 10), img.yDpi = static_cast<int>((yres + 5) / 10);
  return kOk;
}

// The image picture data of each image object of a MO:DCA stream.
std::vector<std::string> imageObjects(const std::string& bytes) {
  std::vector<std::string> objects;
  bool inside = false;
  ByteReader r(bytes);
  while (r.left() >= 9) {
    if (r.u8() != 0x5A) break;
    const std::uint32_t length = r.u16be();
    const std::uint32_t id = (r.u8() << 16) | r.u16be();
    r.skip(3);  // flags and sequence number
    if (length < 8) break;
    const std::string data = r.take(length - 8);
    if (r.overrun()) break;
    if (id == 0xD3A8FB)
      inside = true, objects.emplace_back();  // begin image object
    else if (id == 0xD3A9FB)
      inside = false;  // end image object
    else if (id == 0xD3EEFB && inside)
      objects.back() += data;  // image picture data
  }
  return objects;
}

}  // namespace

bool sniffIoca(const std::string& head, std::string_view ext) {
  if (head.size() < 8) return false;
  const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(head[i]); };
  // A bare segment: begin segment (with or without a name), begin image content.
  if (b(0) == 0x70 && (b(1) == 0 || b(1) == 4) && b(2 + b(1)) == 0x91) return true;
  // A MO:DCA document or image object, taken as a picture when named so.
  return ext == "ica" && b(0) == 0x5A && b(3) == 0xD3 && b(4) == 0xA8;
}

short decodeIoca(const std::string&, const std::string& bytes, Document& doc) {
  doc.pages.clear();
  const std::vector<std::string> objects =
      bytes[0] == 0x5A ? imageObjects(bytes) : std::vector<std::string>{bytes};
  for (const std::string& object : objects) {
    Image img;
    if (short s = decodeSegment(object, img)) {
      if (doc.pages.empty()) return s;
      break;
    }
    doc.pages.push_back(std::move(img));
  }
  return doc.pages.empty() ? kDamaged : kOk;
}

short encodeIoca(const std::vector<Image>& pages, int code, int, std::string& out) {
  const Image& page = pages[0];
  const cv::Mat black = blackOf(page);
  if (black.cols > 0xFFFF || black.rows > 0xFFFF) return kInvalidParameter;
  const std::uint32_t compression = compressionOf(code);
  std::string data;
  if (compression == kNone) {
    const std::size_t rowBytes = (static_cast<std::size_t>(black.cols) + 7) / 8;
    data.assign(rowBytes * static_cast<std::size_t>(black.rows), '\0');
    for (int y = 0; y < black.rows; ++y)
      packIndices(black.ptr<std::uint8_t>(y), black.cols, 1,
                  reinterpret_cast<std::uint8_t*>(data.data()) + rowBytes * static_cast<std::size_t>(y));
  } else {
    std::vector<std::string> strips;
    if (short s = ccittEncode(black, codingOf(compression), strips)) return s;
    for (const std::string& strip : strips) data += strip;
  }
  out.clear();
  put8(out, 0x70), put8(out, 0);                   // begin segment
  put8(out, 0x91), put8(out, 1), put8(out, 0xFF);  // begin image content
  put8(out, 0x94), put8(out, 9), put8(out, 0);     // size, resolution per ten inches
  put16be(out, static_cast<std::uint32_t>(std::clamp(page.xDpi * 10, 1, 0xFFFF)));
  put16be(out, static_cast<std::uint32_t>(std::clamp(page.yDpi * 10, 1, 0xFFFF)));
  put16be(out, static_cast<std::uint32_t>(black.cols)), put16be(out, static_cast<std::uint32_t>(black.rows));
  put8(out, 0x95), put8(out, 2), put8(out, compression), put8(out, 0x01);  // encoding, recorded in line
  put8(out, 0x96), put8(out, 1), put8(out, 1);                             // one bit an element
  for (std::size_t at = 0; at < data.size(); at += 0xFFFF) {
    const std::size_t n = std::min<std::size_t>(0xFFFF, data.size() - at);
    put8(out, 0xFE), put8(out, 0x92), put16be(out, static_cast<std::uint32_t>(n));
    out.append(data, at, n);
  }
  put8(out, 0x93), put8(out, 0);  // end image content
  put8(out, 0x71), put8(out, 0);  // end segment
  return kOk;
}

}  // namespace pv::engine::codecs
