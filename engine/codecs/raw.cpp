// Raw uncompressed pixel data, our own encoder: rows top-down with no header
// or padding beyond whole bytes. Up to 8 bits a pixel are palette indices
// packed from the high bit (1 bit: 1 is white); 12 bits are grey levels of
// 0..4095 in 16-bit little-endian words; 16 bits are 5-5-5 colour in
// little-endian words; 24 bits are B G R bytes and 32 bits B G R A.
#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

short encodeRaw(const std::vector<Image>& pages, int, int bits, std::string& out) {
  const Image& page = pages[0];
  const int w = page.width(), h = page.height();
  if (bits == 0) bits = page.bits;
  bits = std::clamp(bits, 1, 32);
  out.clear();
  if (bits <= 8) {
    IndexedImage ix;
    if (bits == 1) ix.indices = 1 - blackOf(page);
    else ix = toIndexed(page.pixels, bits);
    const std::size_t rowBytes = (static_cast<std::size_t>(w) * static_cast<std::size_t>(bits) + 7) / 8;
    std::string row(rowBytes, '\0');
    for (int y = 0; y < h; ++y) {
      std::fill(row.begin(), row.end(), '\0');
      const std::uint8_t* p = ix.indices.ptr<std::uint8_t>(y);
      for (int x = 0; x < w; ++x)
        for (int b = 0; b < bits; ++b)
          if (p[x] & (1 << (bits - 1 - b))) {
            const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(bits) + static_cast<std::size_t>(b);
            row[at / 8] = static_cast<char>(row[at / 8] | (0x80 >> (at % 8)));
          }
      out += row;
    }
    return kOk;
  }
  cv::Mat px = page.pixels;
  if (bits == 12) {
    if (px.channels() != 1) cv::cvtColor(px, px, px.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) put16(out, px.at<std::uint8_t>(y, x) * 4095u / 255u);
    return kOk;
  }
  if (bits == 32) {
    if (px.channels() != 4) cv::cvtColor(px, px, px.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  } else if (px.channels() != 3) {
    cv::cvtColor(px, px, px.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
  }
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = px.ptr<std::uint8_t>(y);
    if (bits == 16) {
      for (int x = 0; x < w; ++x, p += 3) put16(out, ((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3));
    } else {
      out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(w) * static_cast<std::size_t>(px.channels()));
    }
  }
  return kOk;
}

}  // namespace pv::engine::codecs
