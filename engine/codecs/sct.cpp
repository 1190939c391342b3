// Scitex continuous-tone files (SCT), our own encoder: a 1024-byte control
// block marked "CT", a parameter block with the picture's physical size and
// its rows and columns as text, then each row as its red, green and blue
// separations, each padded to an even length. ImageMagick reads them back.
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

short encodeSct(const std::vector<Image>& pages, int, int, std::string& out) {
  const Image& page = pages[0];
  cv::Mat bgr = page.pixels;
  if (bgr.channels() == 1) cv::cvtColor(bgr, bgr, cv::COLOR_GRAY2BGR);
  else if (bgr.channels() == 4) cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
  const int w = bgr.cols, h = bgr.rows;
  out.assign(2048, '\0');
  out.replace(0, 11, "Pictoravine");  // comment
  out.replace(80, 2, "CT");
  std::size_t at = 1024;
  out[at++] = 1;     // sizes in inches
  out[at++] = 3;     // three separations
  out[at++] = 0;
  out[at++] = 0x07;  // red, green and blue
  char field[32];
  // Physical height and width, then rows and columns, as fixed-width text.
  std::snprintf(field, sizeof field, "%+.7E", h / static_cast<double>(std::max(page.yDpi, 1)));
  out.replace(at, 14, std::string(field).substr(0, 14)), at += 14;
  std::snprintf(field, sizeof field, "%+.7E", w / static_cast<double>(std::max(page.xDpi, 1)));
  out.replace(at, 14, std::string(field).substr(0, 14)), at += 14;
  std::snprintf(field, sizeof field, "%+012d", h);
  out.replace(at, 12, field, 12), at += 12;
  std::snprintf(field, sizeof field, "%+012d", w);
  out.replace(at, 12, field, 12);
  const std::size_t sep = static_cast<std::size_t>(w) + (w % 2);
  out.reserve(out.size() + sep * 3 * static_cast<std::size_t>(h));
  std::string line(sep, '\0');
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* p = bgr.ptr<std::uint8_t>(y);
    for (int c = 2; c >= 0; --c) {
      for (int x = 0; x < w; ++x) line[static_cast<std::size_t>(x)] = static_cast<char>(p[3 * x + c]);
      out += line;
    }
  }
  return kOk;
}

}  // namespace pv::engine::codecs
