// Targa files (TGA), read by our own decoder: colour-mapped, true-colour and
// grey pictures, plain or run-length encoded, at 8, 15, 16, 24 and 32 bits,
// grey with alpha at 16 bits, every origin. ImageMagick writes them.
#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/image.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct TgaHeader {
  int idLength, mapType, type, mapFirst, mapLength, mapBits, width, height, bits, descriptor;
  int alphaBits() const { return descriptor & 0x0F; }
  bool rle() const { return type >= 9; }
  int kind() const { return type & 7; }  // 1 colour-mapped, 2 true colour, 3 grey
};

bool parse(const std::string& bytes, TgaHeader& h) {
  if (bytes.size() < 18) return false;
  ByteReader r(bytes);
  h.idLength = static_cast<int>(r.u8());
  h.mapType = static_cast<int>(r.u8());
  h.type = static_cast<int>(r.u8());
  h.mapFirst = static_cast<int>(r.u16());
  h.mapLength = static_cast<int>(r.u16());
  h.mapBits = static_cast<int>(r.u8());
  r.skip(4);  // origin on the screen
  h.width = static_cast<int>(r.u16());
  h.height = static_cast<int>(r.u16());
  h.bits = static_cast<int>(r.u8());
  h.descriptor = static_cast<int>(r.u8());
  if (h.mapType > 1 || h.width == 0 || h.height == 0) return false;
  switch (h.kind()) {
    case 1:
      return (h.type == 1 || h.type == 9) && h.mapType == 1 && h.bits == 8;
    case 2:
      return (h.type == 2 || h.type == 10) && (h.bits == 15 || h.bits == 16 || h.bits == 24 || h.bits == 32);
    case 3:
      return (h.type == 3 || h.type == 11) && (h.bits == 8 || h.bits == 16);
    default:
      return false;
  }
}

// One 15/16-bit colour (A RRRRR GGGGG BBBBB, little-endian) as B G R A.
cv::Vec4b colour16(std::uint32_t v, bool alpha) {
  const auto five = [](std::uint32_t c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
  return {five(v & 31), five(v >> 5 & 31), five(v >> 10 & 31),
          static_cast<std::uint8_t>(alpha ? (v & 0x8000 ? 255 : 0) : 255)};
}

// What a file says of its alpha. The header's attribute bits say whether its
// pixels carry any; a TGA 2.0 file's extension area says what they are (0
// none, 1 and 2 data to ignore, 3 alpha, 4 alpha the colours are
// multiplied with), and where it speaks it is heeded.
enum class Alpha { kNone, kStraight, kPremultiplied };
Alpha alphaOf(const std::string& bytes, const TgaHeader& h) {
  Alpha said = h.alphaBits() > 0 ? Alpha::kStraight : Alpha::kNone;
  static constexpr char kSignature[] = "TRUEVISION-XFILE.";
  if (bytes.size() < 26 + 18 || bytes.compare(bytes.size() - 18, 18, std::string(kSignature, 18)) != 0)
    return said;
  ByteReader footer(bytes, bytes.size() - 26);
  const std::size_t extension = footer.u32();
  if (extension < 18 || extension + 495 > bytes.size() - 26) return said;
  ByteReader area(bytes, extension);
  if (area.u16() < 495) return said;  // the area's own size
  switch (static_cast<std::uint8_t>(bytes[extension + 494])) {
    case 0:
    case 1:
    case 2:
      return Alpha::kNone;
    case 3:
      return said == Alpha::kNone ? Alpha::kNone : Alpha::kStraight;
    case 4:
      return said == Alpha::kNone ? Alpha::kNone : Alpha::kPremultiplied;
    default:
      return said;
  }
}

}  // namespace

bool sniffTga(const std::string& head, std::string_view ext) {
  TgaHeader h{};
  return ext == "tga" && parse(head, h);
}

short tgaInfo(const std::string& bytes, FileInfo& info) {
  TgaHeader h{};
  if (!parse(bytes, h)) return kNotAnImage;
  info.format = h.rle() ? kTgaRle : kTga;
  info.width = h.width;
  info.height = h.height;
  info.bits = static_cast<short>(h.kind() == 3 && h.bits == 16 ? 32 : h.bits == 15 ? 16 : h.bits);
  info.pageCount = 1;
  return kOk;
}

short decodeTga(const std::string&, const std::string& bytes, Document& doc) {
  TgaHeader h{};
  if (!parse(bytes, h)) return kNotAnImage;
  if (static_cast<std::uint64_t>(h.width) * h.height > maxPixels()) return kTooLarge;
  ByteReader r(bytes, 18);
  r.skip(static_cast<std::size_t>(h.idLength));
  // The colour map, as B G R A.
  std::vector<cv::Vec4b> map;
  bool mapAlpha = false;
  if (h.mapType == 1) {
    for (int i = 0; i < h.mapLength; ++i) {
      if (h.mapBits == 24) {
        const std::uint32_t b = r.u8(), g = r.u8(), rd = r.u8();
        map.emplace_back(b, g, rd, 255);
      } else if (h.mapBits == 32) {
        const std::uint32_t b = r.u8(), g = r.u8(), rd = r.u8(), a = r.u8();
        map.emplace_back(b, g, rd, a);
        mapAlpha = mapAlpha || a != 255;
      } else if (h.mapBits == 15 || h.mapBits == 16) {
        map.push_back(colour16(r.u16(), false));
      } else {
        return kDamaged;
      }
    }
  }
  const int bytesPer = std::min(4, (h.bits + 7) / 8);  // parse() allows at most 32 bits
  const bool grey = h.kind() == 3;
  // Alpha where the header says the pixels carry it and they can hold it; a
  // colour map's own alpha is the colours', whatever the pixels say.
  const Alpha said = alphaOf(bytes, h);
  const bool alpha =
      (said != Alpha::kNone && ((grey && h.bits == 16) || h.bits == 32 || (h.bits == 16 && !grey))) ||
      (h.kind() == 1 && mapAlpha);
  const int alphaMask =
      h.bits == 32 && h.alphaBits() > 0 && h.alphaBits() < 8 ? (1 << h.alphaBits()) - 1 : 255;
  // Every pixel as B G R A in file order, then turned to the picture's order.
  cv::Mat px(h.height, h.width, CV_8UC4);
  const auto decodeOne = [&](const std::uint8_t* s) -> cv::Vec4b {
    if (h.kind() == 1) {
      const int i = s[0] - h.mapFirst;
      return i >= 0 && i < static_cast<int>(map.size()) ? map[static_cast<std::size_t>(i)]
                                                        : cv::Vec4b(0, 0, 0, 255);
    }
    if (grey) return {s[0], s[0], s[0], static_cast<std::uint8_t>(h.bits == 16 ? s[1] : 255)};
    if (bytesPer == 2) return colour16(static_cast<std::uint32_t>(s[0] | s[1] << 8), alpha);
    if (bytesPer == 4 && alpha && alphaMask != 255)  // fewer alpha bits: the low ones, scaled to 8
      return {s[0], s[1], s[2], static_cast<std::uint8_t>((s[3] & alphaMask) * 255 / alphaMask)};
    return {s[0], s[1], s[2], static_cast<std::uint8_t>(bytesPer == 4 && alpha ? s[3] : 255)};
  };
  const std::size_t total = static_cast<std::size_t>(h.width) * h.height;
  auto* out = px.ptr<cv::Vec4b>(0);
  std::uint8_t one[4];
  for (std::size_t done = 0; done < total;) {
    std::size_t count = 1;
    bool run = false;
    if (h.rle()) {
      const std::uint32_t packet = r.u8();
      count = (packet & 0x7F) + 1;
      run = packet & 0x80;
    } else {
      count = total;
    }
    count = std::min(count, total - done);
    if (run) {
      for (int b = 0; b < bytesPer; ++b) one[b] = static_cast<std::uint8_t>(r.u8());
      const cv::Vec4b c = decodeOne(one);
      for (std::size_t k = 0; k < count; ++k) out[done++] = c;
    } else {
      for (std::size_t k = 0; k < count; ++k) {
        for (int b = 0; b < bytesPer; ++b) one[b] = static_cast<std::uint8_t>(r.u8());
        out[done++] = decodeOne(one);
      }
    }
    if (r.overrun()) return kDamaged;
  }
  // Rows are stored bottom-up unless the descriptor says top-down; columns
  // left to right unless it says right to left.
  const bool topDown = h.descriptor & 0x20, rightToLeft = h.descriptor & 0x10;
  if (!topDown && rightToLeft)
    cv::flip(px, px, -1);
  else if (!topDown)
    cv::flip(px, px, 0);
  else if (rightToLeft)
    cv::flip(px, px, 1);

  Image img;
  if (alpha) {
    // Colours multiplied with their alpha are divided back.
    if (said == Alpha::kPremultiplied)
      px.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) {
        if (p[3] == 0 || p[3] == 255) return;
        for (int c = 0; c < 3; ++c)
          p[c] = static_cast<std::uint8_t>(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
      });
    img.pixels = px;
    img.bits = 32;
  } else if (grey) {
    cv::extractChannel(px, img.pixels, 0);
    img.bits = 8;
  } else {
    cv::cvtColor(px, img.pixels, cv::COLOR_BGRA2BGR);
    img.bits = h.kind() == 1 ? 8 : h.bits == 32 ? 24 : h.bits;
    if (h.bits == 15) img.bits = 16;
    if (h.kind() == 1)
      for (const cv::Vec4b& c : map)
        img.palette.push_back(static_cast<std::uint32_t>(c[2] | c[1] << 8 | c[0] << 16));
  }
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace pv::engine::codecs
