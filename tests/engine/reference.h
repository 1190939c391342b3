#pragma once
// Independent references for codec tests: pictures with a known number of
// colours, and ImageMagick's decoding of a file.

#include <Magick++.h>

#include <string>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace pv::test {

// A B G R picture using exactly `colours` distinct colours (at most 256).
inline cv::Mat fewColours(int w, int h, int colours) {
  cv::Mat m(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int c = (x + y * 3) % colours;
      m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(c * 37), static_cast<uchar>(255 - c * 11), static_cast<uchar>(c * 5));
    }
  return m;
}

// Any picture of the engine's layout as B G R.
inline cv::Mat asColour(const cv::Mat& m) {
  cv::Mat c;
  if (m.channels() == 1) cv::cvtColor(m, c, cv::COLOR_GRAY2BGR);
  else if (m.channels() == 4) cv::cvtColor(m, c, cv::COLOR_BGRA2BGR);
  else c = m;
  return c;
}

// The picture as B G R (A) or grey according to ImageMagick.
inline cv::Mat decodeWithMagick(const std::string& path, int channels) {
  Magick::Image im;
  im.quiet(true);
  im.read(path);
  cv::Mat out(static_cast<int>(im.rows()), static_cast<int>(im.columns()), CV_8UC(channels));
  im.write(0, 0, im.columns(), im.rows(), channels == 4 ? "BGRA" : channels == 3 ? "BGR" : "I", Magick::CharPixel,
           out.data);
  return out;
}

}  // namespace pv::test
