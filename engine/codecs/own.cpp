// What our own codecs share: black-and-white and indexed pages.
#include "engine/codecs/own.h"

#include <opencv2/imgproc.hpp>

#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

cv::Mat blackOf(const Image& page) {
  cv::Mat g;
  const cv::Mat& px = page.pixels;
  if (px.channels() == 1)
    g = px.clone();
  else
    cv::cvtColor(px, g, px.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  ditherToPalette(g, {0x000000, 0xFFFFFF}, 1);
  cv::Mat black;
  cv::compare(g, 128, black, cv::CMP_LT);
  return black / 255;
}

Image pageOfBlack(const cv::Mat& black) {
  Image img;
  cv::Mat white;
  cv::compare(black, 0, white, cv::CMP_EQ);  // 255 where white
  img.pixels = white;
  img.bits = 1;
  return img;
}

Image pageOfIndices(const cv::Mat& indices, const std::vector<std::uint32_t>& palette, int bits) {
  Image img;
  img.pixels.create(indices.size(), CV_8UC3);
  for (int y = 0; y < indices.rows; ++y) {
    const std::uint8_t* s = indices.ptr<std::uint8_t>(y);
    std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
    for (int x = 0; x < indices.cols; ++x, o += 3) {
      const std::uint32_t c = s[x] < palette.size() ? palette[s[x]] : 0;
      o[0] = static_cast<std::uint8_t>(c >> 16), o[1] = static_cast<std::uint8_t>(c >> 8),
      o[2] = static_cast<std::uint8_t>(c);
    }
  }
  img.bits = bits;
  img.palette = palette;
  return img;
}

}  // namespace pv::engine::codecs
