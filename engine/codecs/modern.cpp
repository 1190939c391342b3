#include "engine/codecs/modern.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <thread>

#include "engine/codecs/codecs.h"
#include "engine/status.h"

namespace pv::engine::codecs::modern {

int channelsFor(const Image& image, int bits, bool greyHeld) {
  if (bits == 32) return 4;
  if (bits == 0 && (image.hasAlpha() || image.useTransparentColor)) return 4;
  const bool grey = image.pixels.channels() == 1 && image.palette.empty() && image.bits == 8;
  if (greyHeld && (bits == 8 || (bits == 0 && grey))) return 1;
  return 3;
}

cv::Mat encoderRows(const Image& image, int channels) {
  const cv::Mat& px = image.pixels;
  cv::Mat out;
  if (channels == 4) {
    cv::cvtColor(bgraOf(image), out, cv::COLOR_BGRA2RGBA);
  } else if (channels == 1) {
    if (px.channels() == 1)
      out = px.clone();
    else
      cv::cvtColor(px, out, px.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  } else {
    const int code = px.channels() == 1   ? cv::COLOR_GRAY2RGB
                     : px.channels() == 4 ? cv::COLOR_BGRA2RGB
                                          : cv::COLOR_BGR2RGB;
    cv::cvtColor(px, out, code);
  }
  return out.isContinuous() ? out : out.clone();
}

std::vector<cv::Mat> frameRows(const std::vector<Image>& pages, int& channels) {
  cv::Size canvas;
  bool sameSize = true;
  for (const Image& p : pages) {
    sameSize = sameSize && p.pixels.size() == pages[0].pixels.size();
    canvas.width = std::max(canvas.width, p.width());
    canvas.height = std::max(canvas.height, p.height());
  }
  if (!sameSize) channels = 4;
  std::vector<cv::Mat> frames;
  for (const Image& p : pages) {
    cv::Mat rows = encoderRows(p, channels);
    if (rows.size() != canvas) {
      cv::Mat padded(canvas, rows.type(), cv::Scalar::all(0));
      rows.copyTo(padded(cv::Rect(cv::Point(), rows.size())));
      rows = padded;
    }
    frames.push_back(rows);
  }
  return frames;
}

Image pageOf(const cv::Mat& rows) {
  Image page;
  switch (rows.channels()) {
    case 1:
      page.pixels = rows.clone(), page.bits = 8;
      break;
    case 4:
      cv::cvtColor(rows, page.pixels, cv::COLOR_RGBA2BGRA), page.bits = 32;
      break;
    default:
      cv::cvtColor(rows, page.pixels, cv::COLOR_RGB2BGR), page.bits = 24;
      break;
  }
  return page;
}

int pagesNeeded(int page, int pageCount, int available) {
  if (pageCount < 0) return available;
  return std::min(available, std::max(page, 1) - 1 + std::max(pageCount, 1));
}

short saveStatus(short s) {
  return s == kDamaged ? static_cast<short>(kFailed) : s;
}

int threads() {
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool withinLimit(std::uint64_t width, std::uint64_t height) {
  return width > 0 && height > 0 && width * height <= maxPixels();
}

}  // namespace pv::engine::codecs::modern
