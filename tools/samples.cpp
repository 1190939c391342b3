// Writes the demo's sample images into a folder: a photograph-like scene
// (JPEG), a logo with transparency (PNG), a three-page scan (TIFF), a small
// animation (GIF) and a palette bitmap (BMP). Every picture is drawn here, so
// the demo needs no download and no image from elsewhere.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include <opencv2/imgproc.hpp>

#include "engine/handles.h"
#include "engine/lead.h"

namespace {

using pv::engine::CLead;

cv::Mat scene(int w, int h, int seed) {
  cv::Mat m(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y) {
    auto* row = m.ptr<cv::Vec3b>(y);
    for (int x = 0; x < w; ++x) {
      const double sky = static_cast<double>(y) / h;
      row[x] = cv::Vec3b(static_cast<uchar>(230 - 120 * sky), static_cast<uchar>(180 - 60 * sky),
                         static_cast<uchar>(90 + 100 * sky));
    }
  }
  cv::RNG rng(static_cast<std::uint64_t>(seed));
  cv::rectangle(m, cv::Rect(0, h * 2 / 3, w, h / 3), cv::Scalar(40, 120, 60), cv::FILLED);
  for (int i = 0; i < 12; ++i)
    cv::circle(m, cv::Point(rng.uniform(0, w), rng.uniform(h / 2, h)), rng.uniform(h / 20, h / 6),
               cv::Scalar(rng.uniform(0, 120), rng.uniform(60, 200), rng.uniform(0, 90)), cv::FILLED, cv::LINE_AA);
  cv::circle(m, cv::Point(w * 3 / 4, h / 5), h / 10, cv::Scalar(120, 230, 255), cv::FILLED, cv::LINE_AA);
  cv::Mat noise(m.size(), m.type());
  cv::randn(noise, 0, 6);
  m += noise;
  cv::GaussianBlur(m, m, cv::Size(3, 3), 0);
  return m;
}

bool save(const cv::Mat& pixels, int bits, const std::string& path, short code, short pageMode = 0) {
  CLead lead;
  pv::engine::Image img;
  img.pixels = pixels;
  img.bits = bits;
  lead.SetImageHandle(pv::engine::handles::create(std::move(img)));
  const short status = lead.SaveImage(path, code, static_cast<short>(bits), code == 10 ? 20 : 0, pageMode);
  if (status != 0) std::fprintf(stderr, "could not write %s: status %d\n", path.c_str(), status);
  return status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pv_samples <folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::filesystem::create_directories(dir);
  bool ok = save(scene(2400, 1600, 1), 24, dir + "/meadow.jpg", 10);
  ok = save(scene(1200, 900, 2), 24, dir + "/hills.jpg", 10) && ok;

  cv::Mat logo(256, 256, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  cv::circle(logo, cv::Point(128, 128), 110, cv::Scalar(40, 90, 220, 255), cv::FILLED, cv::LINE_AA);
  cv::circle(logo, cv::Point(128, 128), 60, cv::Scalar(255, 255, 255, 160), cv::FILLED, cv::LINE_AA);
  ok = save(logo, 32, dir + "/logo.png", 75) && ok;

  for (int page = 0; page < 3; ++page) {
    cv::Mat paper(1100, 850, CV_8UC1, cv::Scalar(245));
    for (int line = 0; line < 30; ++line)
      cv::line(paper, cv::Point(80, 120 + line * 30), cv::Point(770 - (line * 37 + page * 50) % 200, 120 + line * 30),
               cv::Scalar(30), 3);
    cv::putText(paper, "Page " + std::to_string(page + 1), cv::Point(80, 80), cv::FONT_HERSHEY_SIMPLEX, 1.5,
                cv::Scalar(0), 3);
    ok = save(paper, 8, dir + "/scan.tif", 17, page == 0 ? 0 : 1) && ok;
  }

  for (int frame = 0; frame < 3; ++frame) {
    cv::Mat f(120, 160, CV_8UC3, cv::Scalar(250, 250, 250));
    cv::circle(f, cv::Point(30 + frame * 50, 60), 25, cv::Scalar(0, 80 * frame, 255 - 80 * frame), cv::FILLED);
    ok = save(f, 8, dir + "/ball.gif", 2, frame == 0 ? 0 : 1) && ok;
  }

  cv::Mat chart(200, 300, CV_8UC3);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x)
      chart.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>((x / 50) * 50), static_cast<uchar>((y / 50) * 80),
                                            static_cast<uchar>(((x + y) / 60) * 60));
  ok = save(chart, 8, dir + "/chart.bmp", 6) && ok;
  return ok ? 0 : 1;
}
