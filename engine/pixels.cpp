// CLead's pixel operations on the image model (engine/image.h), on OpenCV.
//
// Colour operations work on the colour channels and leave alpha alone;
// geometry operations move alpha with the pixels. An indexed image stays
// indexed where every old colour maps to one new colour (point operations map
// the palette with the same function; flips, quarter turns and trims keep
// it); operations that mix neighbouring pixels or resample drop the palette
// and the image becomes 24-bit (32 with alpha, 8 for grey).
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "engine/image.h"
#include "engine/lead.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine {

namespace {

// Runs `fn` on the colour channels (1 or 3), with alpha set aside and put back.
template <typename Fn>
void onColour(Image& img, Fn fn) {
  if (!img.hasAlpha()) {
    fn(img.pixels);
    return;
  }
  cv::Mat bgr, alpha;
  cv::cvtColor(img.pixels, bgr, cv::COLOR_BGRA2BGR);
  cv::extractChannel(img.pixels, alpha, 3);
  fn(bgr);
  cv::Mat out;
  cv::cvtColor(bgr, out, bgr.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  cv::insertChannel(alpha, out, 3);
  img.pixels = out;
}

// After an operation that mixes pixels: no palette, the plain depth.
void dropPalette(Image& img) {
  if (img.palette.empty() && img.bits >= 8) return;
  img.palette.clear();
  img.bits = img.pixels.channels() == 4 ? 32 : img.pixels.channels() == 1 ? 8 : 24;
}

// The same value map on every colour channel, and on the palette.
void pointOp(Image& img, const cv::Mat& lut) {
  onColour(img, [&](cv::Mat& m) { cv::LUT(m, lut, m); });
  for (std::uint32_t& c : img.palette) {
    const auto* l = lut.ptr<std::uint8_t>();
    c = l[c & 0xFF] | (l[(c >> 8) & 0xFF] << 8) | (static_cast<std::uint32_t>(l[(c >> 16) & 0xFF]) << 16);
  }
}

template <typename Fn>
cv::Mat makeLut(Fn fn) {
  cv::Mat lut(1, 256, CV_8U);
  for (int v = 0; v < 256; ++v) lut.at<std::uint8_t>(v) = cv::saturate_cast<std::uint8_t>(fn(v));
  return lut;
}

// A colour operation on 3-channel pixels (grey images become colour first,
// since the result may not stay grey), applied to the palette as well.
template <typename Fn>
void colourOp(Image& img, Fn fn) {
  onColour(img, [&](cv::Mat& m) {
    if (m.channels() == 1) cv::cvtColor(m, m, cv::COLOR_GRAY2BGR);
    fn(m);
  });
  if (img.bits == 8 && img.palette.empty() && img.pixels.channels() == 3) img.bits = 24;
  if (!img.palette.empty()) {
    cv::Mat pal(1, static_cast<int>(img.palette.size()), CV_8UC3);
    for (std::size_t i = 0; i < img.palette.size(); ++i) {
      const std::uint32_t c = img.palette[i];
      pal.at<cv::Vec3b>(0, static_cast<int>(i)) =
          cv::Vec3b(static_cast<uchar>(c >> 16), static_cast<uchar>(c >> 8), static_cast<uchar>(c));
    }
    fn(pal);
    for (std::size_t i = 0; i < img.palette.size(); ++i) {
      const cv::Vec3b p = pal.at<cv::Vec3b>(0, static_cast<int>(i));
      img.palette[i] = p[2] | (p[1] << 8) | (static_cast<std::uint32_t>(p[0]) << 16);
    }
  }
}

cv::Scalar fillOf(const Image& img, int colour) {
  const double r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  if (img.pixels.channels() == 1) return cv::Scalar((r * 299 + g * 587 + b * 114) / 1000);
  return cv::Scalar(b, g, r, 255);
}

}  // namespace

// ---- Geometry ----------------------------------------------------------------

short CLead::FlipImage() {
  Image* img;
  if (short s = current(img)) return s;
  cv::flip(img->pixels, img->pixels, 0);
  if (!doc_->region.empty()) cv::flip(doc_->region, doc_->region, 0);
  return kOk;
}

short CLead::MirrorImage() {
  Image* img;
  if (short s = current(img)) return s;
  cv::flip(img->pixels, img->pixels, 1);
  if (!doc_->region.empty()) cv::flip(doc_->region, doc_->region, 1);
  return kOk;
}

short CLead::TrimImage(float left, float top, float width, float height) {
  Image* img;
  if (short s = current(img)) return s;
  // The rectangle is cut to the image; at least one pixel remains.
  const double l = std::clamp<double>(std::trunc(left), 0, img->width() - 1);
  const double t = std::clamp<double>(std::trunc(top), 0, img->height() - 1);
  const double w = std::clamp<double>(std::trunc(width), 1, img->width() - l);
  const double h = std::clamp<double>(std::trunc(height), 1, img->height() - t);
  const cv::Rect r(static_cast<int>(l), static_cast<int>(t), static_cast<int>(w), static_cast<int>(h));
  img->pixels = img->pixels(r).clone();
  doc_->region.release();
  return kOk;
}

short CLead::AutoTrimImage(short threshold) {
  Image* img;
  if (short s = current(img)) return s;
  const int t = std::max<int>(0, threshold);
  const cv::Mat& m = img->pixels;
  const int ch = m.channels();
  const std::uint8_t* corner = m.ptr<std::uint8_t>(0);
  // A pixel is background when no channel differs from the top-left one by more than t.
  auto background = [&](int x, int y) {
    const std::uint8_t* p = m.ptr<std::uint8_t>(y) + x * ch;
    for (int c = 0; c < ch; ++c)
      if (std::abs(p[c] - corner[c]) > t) return false;
    return true;
  };
  auto rowClear = [&](int y) {
    for (int x = 0; x < m.cols; ++x)
      if (!background(x, y)) return false;
    return true;
  };
  int top = 0, bottom = m.rows - 1;
  while (top <= bottom && rowClear(top)) ++top;
  if (top > bottom) return kOk;  // nothing but background: keep the image
  while (bottom > top && rowClear(bottom)) --bottom;
  auto colClear = [&](int x) {
    for (int y = top; y <= bottom; ++y)
      if (!background(x, y)) return false;
    return true;
  };
  int left = 0, right = m.cols - 1;
  while (left < right && colClear(left)) ++left;
  while (right > left && colClear(right)) --right;
  img->pixels = m(cv::Rect(left, top, right - left + 1, bottom - top + 1)).clone();
  doc_->region.release();
  return kOk;
}

short CLead::RotateImage(int angle, short flags, int fill) {
  Image* img;
  if (short s = current(img)) return s;
  angle %= 36000;
  if (angle < 0) angle += 36000;
  doc_->region.release();
  if (angle % 9000 == 0) {  // quarter turns are exact
    if (angle == 9000)
      cv::rotate(img->pixels, img->pixels, cv::ROTATE_90_CLOCKWISE);
    else if (angle == 18000)
      cv::rotate(img->pixels, img->pixels, cv::ROTATE_180);
    else if (angle == 27000)
      cv::rotate(img->pixels, img->pixels, cv::ROTATE_90_COUNTERCLOCKWISE);
    return kOk;
  }
  const double degrees = angle / 100.0;
  const cv::Point2f centre((img->width() - 1) / 2.0f, (img->height() - 1) / 2.0f);
  // OpenCV turns counter-clockwise for positive angles.
  cv::Mat m = cv::getRotationMatrix2D(centre, -degrees, 1.0);
  cv::Size size = img->pixels.size();
  if (!(flags & 1)) {
    // Without growing, the canvas keeps its size turned by the nearest
    // quarter turn, so 8999 and 9000 give the same canvas (9000 exactly the
    // quarter turn) and 4400 keeps the original one.
    if (((angle + 4499) / 9000) % 2 == 1) {
      size = cv::Size(img->height(), img->width());
      m.at<double>(0, 2) += (size.width - 1) / 2.0 - centre.x;
      m.at<double>(1, 2) += (size.height - 1) / 2.0 - centre.y;
    }
  } else {
    const double rad = degrees * std::numbers::pi / 180.0, c = std::abs(std::cos(rad)),
                 s = std::abs(std::sin(rad));
    size = cv::Size(static_cast<int>(std::ceil(img->width() * c + img->height() * s - 1e-6)),
                    static_cast<int>(std::ceil(img->width() * s + img->height() * c - 1e-6)));
    if (static_cast<double>(size.width) * size.height > static_cast<double>(maxPixels())) return kTooLarge;
    m.at<double>(0, 2) += (size.width - 1) / 2.0 - centre.x;
    m.at<double>(1, 2) += (size.height - 1) / 2.0 - centre.y;
  }
  const int interpolation = flags & 4 ? cv::INTER_CUBIC : flags & 2 ? cv::INTER_LINEAR : cv::INTER_NEAREST;
  cv::Mat out;
  cv::warpAffine(img->pixels, out, m, size, interpolation, cv::BORDER_CONSTANT, fillOf(*img, fill));
  img->pixels = out;
  // Nearest samples keep the palette when the fill colour has a place in it.
  const std::uint32_t fillColour = static_cast<std::uint32_t>(fill) & 0xFFFFFF;
  auto& pal = img->palette;
  const bool known = std::find(pal.begin(), pal.end(), fillColour) != pal.end();
  if (interpolation == cv::INTER_NEAREST && !pal.empty() && !known &&
      pal.size() < (std::size_t{1} << std::clamp(img->bits, 1, 8)))
    pal.push_back(fillColour);
  else if (interpolation != cv::INTER_NEAREST || !known)
    dropPalette(*img);
  return kOk;
}

short CLead::ShearImage(short angle, bool horizontal, int fill) {
  Image* img;
  if (short s = current(img)) return s;
  const double a = std::clamp<int>(angle, -8999, 8999) / 100.0;
  const double k = std::tan(a * std::numbers::pi / 180.0);
  const int w = img->width(), h = img->height();
  // The canvas grows by the shear so nothing is cut off.
  const int grow = static_cast<int>(std::ceil(std::abs(k) * (horizontal ? h : w)));
  const cv::Size size = horizontal ? cv::Size(w + grow, h) : cv::Size(w, h + grow);
  if (static_cast<double>(size.width) * size.height > static_cast<double>(maxPixels())) return kTooLarge;
  cv::Mat m = horizontal ? (cv::Mat_<double>(2, 3) << 1, k, k < 0 ? -k * (h - 1) : 0, 0, 1, 0)
                         : (cv::Mat_<double>(2, 3) << 1, 0, 0, k, 1, k < 0 ? -k * (w - 1) : 0);
  cv::Mat out;
  cv::warpAffine(img->pixels, out, m, size, cv::INTER_LINEAR, cv::BORDER_CONSTANT, fillOf(*img, fill));
  img->pixels = out;
  doc_->region.release();
  dropPalette(*img);
  return kOk;
}

// ---- Tone and colour -----------------------------------------------------------

short CLead::InvertImage() {
  Image* img;
  if (short s = current(img)) return s;
  pointOp(*img, makeLut([](int v) { return 255 - v; }));
  return kOk;
}

short CLead::ChangeIntensity(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int a = std::clamp<int>(n, -1000, 1000);
  pointOp(*img, makeLut([a](int v) {
    return a >= 0 ? v + ((255 - v) * a + 500) / 1000 : (v * (1000 + a) + 500) / 1000;
  }));
  return kOk;
}

short CLead::ChangeContrast(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int a = std::clamp<int>(n, -1000, 1000);
  pointOp(*img, makeLut([a](int v) -> double {
    if (a >= 1000) return v < 128 ? 0 : 255;  // the limit: a threshold
    const double factor = a >= 0 ? 1000.0 / (1000 - a) : (1000.0 + a) / 1000.0;
    return std::round(128 + (v - 128) * factor);
  }));
  return kOk;
}

short CLead::GammaCorrect(short gamma) {
  Image* img;
  if (short s = current(img)) return s;
  const double g = std::max<int>(1, gamma);
  pointOp(*img, makeLut([g](int v) { return std::round(255.0 * std::pow(v / 255.0, 100.0 / g)); }));
  return kOk;
}

short CLead::SolarizeImage(short threshold) {
  Image* img;
  if (short s = current(img)) return s;
  const int t = threshold;
  pointOp(*img, makeLut([t](int v) { return v > t ? 255 - v : v; }));
  return kOk;
}

short CLead::PosterizeImage(short levels) {
  Image* img;
  if (short s = current(img)) return s;
  const int n = std::clamp<int>(levels, 2, 256);
  pointOp(*img, makeLut([n](int v) {
    const int level = (v * (n - 1) + 127) / 255;
    return (level * 255 + (n - 1) / 2) / (n - 1);
  }));
  return kOk;
}

short CLead::StretchIntensity() {
  Image* img;
  if (short s = current(img)) return s;
  double lo = 255, hi = 0;
  onColour(*img, [&](cv::Mat& m) { cv::minMaxLoc(m.reshape(1), &lo, &hi); });
  if (hi <= lo) return kOk;
  pointOp(*img, makeLut([lo, hi](int v) { return std::round((v - lo) * 255.0 / (hi - lo)); }));
  return kOk;
}

short CLead::GrayScaleWeighted(short red, short green, short blue) {
  Image* img;
  if (short s = current(img)) return s;
  const float r = std::max<int>(0, red) / 1000.0f, g = std::max<int>(0, green) / 1000.0f,
              b = std::max<int>(0, blue) / 1000.0f;
  onColour(*img, [&](cv::Mat& m) {
    if (m.channels() == 1) return;
    cv::Mat grey;
    cv::transform(m, grey, cv::Matx13f(b, g, r));
    m = grey;
  });
  // A grey image; with alpha it stays B G R A with equal colour channels.
  img->palette.clear();
  img->bits = img->hasAlpha() ? 32 : 8;
  return kOk;
}

short CLead::BalanceColors(float m1, float m2, float m3, float m4, float m5, float m6, float m7, float m8,
                           float m9) {
  Image* img;
  if (short s = current(img)) return s;
  auto finite = [](float v) { return std::isfinite(v) ? std::clamp(v, -1000.0f, 1000.0f) : 0.0f; };
  // R' = m1 R + m2 G + m3 B and so on, in B G R channel order.
  const cv::Matx33f mix(finite(m9), finite(m8), finite(m7), finite(m6), finite(m5), finite(m4), finite(m3),
                        finite(m2), finite(m1));
  if (mix == cv::Matx33f::eye()) return kOk;
  // Grey stays grey when every output channel weighs its inputs alike.
  const float rows[3] = {mix(0, 0) + mix(0, 1) + mix(0, 2), mix(1, 0) + mix(1, 1) + mix(1, 2),
                         mix(2, 0) + mix(2, 1) + mix(2, 2)};
  if (img->pixels.channels() == 1 && rows[0] == rows[1] && rows[1] == rows[2]) {
    pointOp(*img, makeLut([k = rows[0]](int v) { return std::round(v * k); }));
    return kOk;
  }
  colourOp(*img, [&](cv::Mat& m) { cv::transform(m, m, mix); });
  return kOk;
}

namespace {

// Hue and saturation in floating point HLS, so a full turn comes back exact
// to rounding; `fn` changes (hue in degrees, saturation 0..1) in place.
template <typename Fn>
void hlsOp(Image& img, Fn fn) {
  colourOp(img, [&](cv::Mat& m) {
    cv::Mat f, hls;
    m.convertTo(f, CV_32F, 1.0 / 255);
    cv::cvtColor(f, hls, cv::COLOR_BGR2HLS);
    for (int y = 0; y < hls.rows; ++y) {
      auto* p = hls.ptr<cv::Vec3f>(y);
      for (int x = 0; x < hls.cols; ++x) fn(p[x][0], p[x][2]);
    }
    cv::cvtColor(hls, f, cv::COLOR_HLS2BGR);
    f.convertTo(m, CV_8U, 255);
  });
}

}  // namespace

short CLead::ChangeHue(short degrees) {
  Image* img;
  if (short s = current(img)) return s;
  const int d = ((degrees % 360) + 360) % 360;
  if (d == 0 || img->pixels.channels() == 1) return kOk;  // grey has no hue
  hlsOp(*img, [d](float& h, float&) { h = std::fmod(h + static_cast<float>(d), 360.0f); });
  return kOk;
}

short CLead::ChangeSaturation(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int a = std::max<int>(-1000, n);
  if (a == 0 || img->pixels.channels() == 1) return kOk;  // grey has no saturation
  const float factor = static_cast<float>((1000.0 + a) / 1000.0);
  hlsOp(*img, [factor](float&, float& s) { s = std::clamp(s * factor, 0.0f, 1.0f); });
  return kOk;
}

short CLead::IntensityDetect(short low, short high) {
  Image* img;
  if (short s = current(img)) return s;
  const int lo = std::clamp<int>(low, 0, 255), hi = std::clamp<int>(high, 0, 255);
  onColour(*img, [&](cv::Mat& m) {
    cv::Mat grey = m;
    if (m.channels() == 3) cv::cvtColor(m, grey, cv::COLOR_BGR2GRAY);
    cv::Mat inside;
    cv::inRange(grey, cv::Scalar(lo), cv::Scalar(hi), inside);
    if (m.channels() == 3)
      cv::cvtColor(inside, m, cv::COLOR_GRAY2BGR);
    else
      m = inside;
  });
  dropPalette(*img);
  return kOk;
}

short CLead::AddNoise(short range, short channel) {
  Image* img;
  if (short s = current(img)) return s;
  const int spread = static_cast<int>(std::lround(std::clamp<int>(range, 0, 1000) / 1000.0 * 255));
  if (spread == 0) return kOk;
  const int which = std::clamp<int>(channel, 0, 3);
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<int> noise(-spread, spread);
  onColour(*img, [&](cv::Mat& m) {
    if (which != 0 && m.channels() == 1) cv::cvtColor(m, m, cv::COLOR_GRAY2BGR);
    const int ch = m.channels();
    for (int y = 0; y < m.rows; ++y) {
      std::uint8_t* p = m.ptr<std::uint8_t>(y);
      for (int x = 0; x < m.cols; ++x, p += ch) {
        const int d = noise(random);
        if (which == 0) {
          for (int c = 0; c < ch; ++c) p[c] = cv::saturate_cast<std::uint8_t>(p[c] + d);
        } else {
          const int c = 3 - which;  // 1 red, 2 green, 3 blue in B G R order
          p[c] = cv::saturate_cast<std::uint8_t>(p[c] + d);
        }
      }
    }
  });
  dropPalette(*img);
  if (img->bits == 8 && img->pixels.channels() == 3) img->bits = 24;
  return kOk;
}

// ---- Neighbourhoods --------------------------------------------------------------

short CLead::AverageFilter(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int k = std::clamp<int>(n, 1, 255);
  onColour(*img,
           [&](cv::Mat& m) { cv::blur(m, m, cv::Size(k, k), cv::Point(-1, -1), cv::BORDER_REPLICATE); });
  dropPalette(*img);
  return kOk;
}

namespace {

// The median of each k x k window (k even) of an 8-bit single-channel
// picture: the window reaches k/2 pixels up and left and k/2 - 1 down and
// right, and the median of its even count is the mean of the two middle
// values. A sliding histogram per row, its middle found from the last one.
cv::Mat evenMedian(const cv::Mat& in, int k) {
  cv::Mat padded;
  cv::copyMakeBorder(in, padded, k / 2, k / 2 - 1, k / 2, k / 2 - 1, cv::BORDER_REPLICATE);
  cv::Mat out(in.size(), CV_8UC1);
  const int lower = k * k / 2 - 1;  // the lower middle's rank
  for (int y = 0; y < in.rows; ++y) {
    int hist[256] = {};
    for (int dy = 0; dy < k; ++dy)
      for (int dx = 0; dx < k; ++dx) ++hist[padded.at<std::uint8_t>(y + dy, dx)];
    int m = 0, below = 0;  // below: how many values are less than m
    for (int x = 0; x < in.cols; ++x) {
      if (x > 0)
        for (int dy = 0; dy < k; ++dy) {
          const int gone = padded.at<std::uint8_t>(y + dy, x - 1), come = padded.at<std::uint8_t>(y + dy, x + k - 1);
          --hist[gone], ++hist[come];
          below += (come < m) - (gone < m);
        }
      while (below > lower) below -= hist[--m];
      while (below + hist[m] <= lower) below += hist[m++];
      int upper = m;  // the value of rank lower + 1
      if (below + hist[m] <= lower + 1)
        do ++upper;
        while (upper < 255 && hist[upper] == 0);
      out.at<std::uint8_t>(y, x) = static_cast<std::uint8_t>((m + upper + 1) / 2);
    }
  }
  return out;
}

}  // namespace

short CLead::MedianFilter(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int k = std::clamp<int>(n, 1, 255);
  onColour(*img, [&](cv::Mat& m) {
    if (k % 2 == 1) {
      cv::medianBlur(m, m, k);
      return;
    }
    std::vector<cv::Mat> planes;
    cv::split(m, planes);
    for (cv::Mat& p : planes) p = evenMedian(p, k);
    cv::merge(planes, m);
  });
  dropPalette(*img);
  return kOk;
}

namespace {

// A Gaussian blur whose cost does not grow with its size: up to sigma 8 the
// exact kernel, beyond it three box blurs whose widths give the same variance,
// in floating point (on average within a grey level of the exact one, a few
// levels at most).
void gaussian(const cv::Mat& in, cv::Mat& out, double sigma) {
  if (sigma <= 8) {
    cv::GaussianBlur(in, out, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
    return;
  }
  constexpr int n = 3;
  const double ideal = std::sqrt(12 * sigma * sigma / n + 1);
  int wl = static_cast<int>(std::floor(ideal));
  if (wl % 2 == 0) --wl;
  const int m = static_cast<int>(std::lround((12 * sigma * sigma - n * wl * wl - 4.0 * n * wl - 3.0 * n) / (-4.0 * wl - 4)));
  // The edges are repeated outward once, as far as the three boxes reach, so
  // every pass sees the picture's own edge pixels as the Gaussian does.
  const int pad = std::min(3 * (wl + 2) / 2 + 1, std::max(in.cols, in.rows));
  cv::Mat f;
  in.convertTo(f, CV_32F);
  cv::copyMakeBorder(f, f, pad, pad, pad, pad, cv::BORDER_REPLICATE);
  for (int i = 0; i < n; ++i) {
    const int w = i < m ? wl : wl + 2;
    cv::blur(f, f, cv::Size(w, w), cv::Point(-1, -1), cv::BORDER_REPLICATE);
  }
  f(cv::Rect(pad, pad, in.cols, in.rows)).convertTo(out, in.type());
}

}  // namespace

short CLead::GaussianBlur(short radius) {
  Image* img;
  if (short s = current(img)) return s;
  const double sigma = std::clamp<int>(radius, 1, 2000) / 2.0;
  onColour(*img,
           [&](cv::Mat& m) { gaussian(m, m, sigma); });
  dropPalette(*img);
  return kOk;
}

short CLead::SharpenImage(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const float a = std::clamp<int>(n, -1000, 1000) / 1000.0f;
  if (a == 0) return kOk;
  // Sharpening adds a times the difference from the 3 x 3 mean; blurring
  // mixes in -a of that mean.
  // Both are v + a (v - mean) = (1 + a) v - a mean.
  cv::Mat kernel(3, 3, CV_32F, cv::Scalar(-a / 9.0f));
  kernel.at<float>(1, 1) = 1 + a * 8 / 9.0f;
  onColour(*img,
           [&](cv::Mat& m) { cv::filter2D(m, m, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); });
  dropPalette(*img);
  return kOk;
}

short CLead::UnsharpMask(short amount, short radius, short threshold, short space) {
  Image* img;
  if (short s = current(img)) return s;
  const double a = std::clamp<int>(amount, 0, 1000) / 100.0;
  if (a == 0) return kOk;
  const double sigma = std::clamp<int>(radius, 1, 2000) / 2.0;
  const int t = std::clamp<int>(threshold, 0, 255);
  // v + a (v - blur(v)) where |v - blur(v)| > t, channel by channel.
  auto sharpen = [&](cv::Mat& m) {
    cv::Mat blurred, src16, diff, out;
    gaussian(m, blurred, sigma);
    m.convertTo(src16, CV_16S);
    blurred.convertTo(diff, CV_16S);
    cv::subtract(src16, diff, diff);
    const cv::Mat mask = cv::abs(diff) > t;
    cv::addWeighted(src16, 1.0, diff, a, 0, out, CV_16S);
    cv::Mat result;
    out.convertTo(result, CV_8U);
    result.copyTo(m, mask);
  };
  onColour(*img, [&](cv::Mat& m) {
    if (space == 2 && m.channels() == 3) {  // luminance only
      cv::Mat ycc;
      cv::cvtColor(m, ycc, cv::COLOR_BGR2YCrCb);
      std::vector<cv::Mat> planes;
      cv::split(ycc, planes);
      sharpen(planes[0]);
      cv::merge(planes, ycc);
      cv::cvtColor(ycc, m, cv::COLOR_YCrCb2BGR);
    } else {
      sharpen(m);
    }
  });
  dropPalette(*img);
  return kOk;
}

short CLead::MosaicFilter(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int k = std::clamp<int>(n, 1, 4096);
  onColour(*img, [&](cv::Mat& m) {
    for (int y = 0; y < m.rows; y += k)
      for (int x = 0; x < m.cols; x += k) {
        cv::Mat block = m(cv::Rect(x, y, std::min(k, m.cols - x), std::min(k, m.rows - y)));
        block.setTo(cv::mean(block));
      }
  });
  dropPalette(*img);
  return kOk;
}

// ---- Kernels and edges -------------------------------------------------------------

namespace {

// The eight neighbours in the order of the direction codes: N, NE, E, SE, S,
// SW, W, NW, as (row, column) of a 3 x 3 kernel.
constexpr int kRing[8][2] = {{0, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 1}, {2, 0}, {1, 0}, {0, 0}};

using Kernel = std::array<float, 9>;

// A compass gradient (Prewitt's): the north mask is 1 1 1 / 1 -2 1 / -1 -1 -1,
// and direction d turns its ring by d steps of 45 degrees.
Kernel compass(int d) {
  constexpr float north[8] = {1, 1, 1, -1, -1, -1, 1, 1};  // by ring position N, NE, ... NW
  Kernel k{};
  for (int p = 0; p < 8; ++p)
    k[static_cast<std::size_t>(kRing[p][0] * 3 + kRing[p][1])] = north[(p - d + 8) % 8];
  k[4] = -2;
  return k;
}

Kernel spatialKernel(int code) {
  if (code >= 0 && code <= 7) {  // emboss: the pixel plus the difference along d
    Kernel k{};
    k[4] = 1;
    k[static_cast<std::size_t>(kRing[code][0] * 3 + kRing[code][1])] = 1;
    k[static_cast<std::size_t>(kRing[(code + 4) % 8][0] * 3 + kRing[(code + 4) % 8][1])] = -1;
    return k;
  }
  if (code >= 8 && code <= 15) return compass(code - 8);
  switch (code) {
    case 16:
      return {0, -1, 0, -1, 4, -1, 0, -1, 0};
    case 17:
      return {-1, -1, -1, -1, 8, -1, -1, -1, -1};
    case 18:
      return {1, -2, 1, -2, 4, -2, 1, -2, 1};
    case 19:
      return {-1, 0, -1, 0, 4, 0, -1, 0, -1};
    case 20:
      return {0, 0, 0, -1, 2, -1, 0, 0, 0};
    case 21:
      return {0, -1, 0, 0, 2, 0, 0, -1, 0};
    case 22:
      return {-1, -2, -1, 0, 0, 0, 1, 2, 1};
    case 23:
      return {-1, 0, 1, -2, 0, 2, -1, 0, 1};
    case 24:
      return {-1, -1, -1, 0, 0, 0, 1, 1, 1};
    case 25:
      return {-1, 0, 1, -1, 0, 1, -1, 0, 1};
    case 26:
      return {-1, 0, 0, 0, 1, 0, 0, 0, 0};
    case 27:
      return {0, 0, 0, -1, 1, 0, 0, 0, 0};
    case 28:
      return {0, -1, 0, 0, 1, 0, 0, 0, 0};
    case 29:
      return {-1, -1, -1, 2, 2, 2, -1, -1, -1};
    case 30:
      return {-1, 2, -1, -1, 2, -1, -1, 2, -1};
    case 31:
      return {2, -1, -1, -1, 2, -1, -1, -1, 2};
    default:
      return {-1, -1, 2, -1, 2, -1, 2, -1, -1};  // 32 and anything beyond
  }
}

cv::Mat asMat(const Kernel& k) {
  return cv::Mat(3, 3, CV_32F, const_cast<float*>(k.data())).clone();
}

}  // namespace

short CLead::SpatialFilter(short code) {
  Image* img;
  if (short s = current(img)) return s;
  const cv::Mat kernel = asMat(spatialKernel(std::clamp<int>(code, 0, 32)));
  onColour(*img,
           [&](cv::Mat& m) { cv::filter2D(m, m, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); });
  dropPalette(*img);
  return kOk;
}

short CLead::EmbossImage(short direction, short depth) {
  Image* img;
  if (short s = current(img)) return s;
  const int d = std::clamp<int>(direction, 0, 7);
  const float k = std::clamp<int>(depth, 0, 10000) / 100.0f;
  // Mid grey plus the scaled difference along the direction.
  cv::Mat kernel = cv::Mat::zeros(3, 3, CV_32F);
  kernel.at<float>(kRing[d][0], kRing[d][1]) = k;
  kernel.at<float>(kRing[(d + 4) % 8][0], kRing[(d + 4) % 8][1]) = -k;
  onColour(*img,
           [&](cv::Mat& m) { cv::filter2D(m, m, -1, kernel, cv::Point(-1, -1), 128, cv::BORDER_REPLICATE); });
  dropPalette(*img);
  return kOk;
}

short CLead::EdgeDetect(short threshold, short kind) {
  Image* img;
  if (short s = current(img)) return s;
  const int family = (kind >> 8) & 0xFF, variant = kind & 0xFF, t = std::clamp<int>(threshold, 0, 255);
  std::vector<Kernel> kernels;
  switch (family) {
    case 2:  // Prewitt
      if (variant != 2) kernels.push_back(spatialKernel(25));
      if (variant != 1) kernels.push_back(spatialKernel(24));
      break;
    case 3:
      kernels.push_back(spatialKernel(16 + std::clamp(variant, 1, 6) - 1));
      break;
    case 4:
      kernels.push_back(spatialKernel(8 + std::clamp(variant, 1, 8) - 1));
      break;
    default:  // 1, Sobel, and anything unknown
      if (variant != 2) kernels.push_back(spatialKernel(23));
      if (variant != 1) kernels.push_back(spatialKernel(22));
  }
  onColour(*img, [&](cv::Mat& m) {
    cv::Mat sum;
    for (const Kernel& k : kernels) {
      cv::Mat g;
      cv::filter2D(m, g, CV_32F, asMat(k), cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
      sum = sum.empty() ? g.mul(g) : sum + g.mul(g);
    }
    cv::sqrt(sum, sum);
    cv::Mat out;
    sum.convertTo(out, CV_8U);
    out.setTo(0, out < t);
    m = out;
  });
  dropPalette(*img);
  return kOk;
}

short CLead::MotionBlur(short length, int angle, bool oneWay) {
  Image* img;
  if (short s = current(img)) return s;
  const int len = std::clamp<int>(length, 1, 1000);
  if (len == 1) return kOk;
  // A line of `len` pixels through (or, one way, ending at) the centre.
  const double rad = (angle % 36000) / 100.0 * std::numbers::pi / 180.0;
  const int size = 2 * len + 1;
  cv::Mat kernel = cv::Mat::zeros(size, size, CV_32F);
  // Angles turn clockwise, as everywhere in the program (y grows downward).
  const cv::Point2d c(len, len), step(std::cos(rad), std::sin(rad));
  for (int i = 0; i < len; ++i) {
    const double offset = oneWay ? -i : i - (len - 1) / 2.0;
    const cv::Point p(static_cast<int>(std::lround(c.x + step.x * offset)),
                      static_cast<int>(std::lround(c.y + step.y * offset)));
    kernel.at<float>(p) += 1.0f;
  }
  kernel /= cv::sum(kernel)[0];
  onColour(*img,
           [&](cv::Mat& m) { cv::filter2D(m, m, -1, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); });
  dropPalette(*img);
  return kOk;
}

short CLead::HistoContrast(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const double a = std::clamp<int>(n, -1000, 1000) / 1000.0;
  if (a == 0) return kOk;
  onColour(*img, [&](cv::Mat& m) {
    cv::Mat luma = m;
    if (m.channels() == 3) cv::cvtColor(m, luma, cv::COLOR_BGR2GRAY);
    cv::Mat target;
    if (a > 0) {
      // Toward the histogram-equalised picture, through the luminance.
      cv::Mat equalised;
      cv::equalizeHist(luma, equalised);
      if (m.channels() == 1) {
        target = equalised;
      } else {
        cv::Mat ycc;
        cv::cvtColor(m, ycc, cv::COLOR_BGR2YCrCb);
        cv::insertChannel(equalised, ycc, 0);
        cv::cvtColor(ycc, target, cv::COLOR_YCrCb2BGR);
      }
    } else {
      target = cv::Mat(m.size(), m.type(), cv::Scalar::all(cv::mean(luma)[0]));  // the mean grey
    }
    cv::addWeighted(m, 1 - std::abs(a), target, std::abs(a), 0, m);
  });
  dropPalette(*img);
  return kOk;
}

// ---- Colour resolution ----------------------------------------------------------------

namespace {

// A fixed palette spread evenly over the colour cube: greys for 1 and 2
// bits, else levels per channel with green, then red, getting the spare bits
// (the eye tells greens apart best: 4 bits give 4 greens, 2 reds, 2 blues).
Palette uniformPalette(int bits) {
  Palette out;
  if (bits <= 2) {
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i) {
      const std::uint32_t v = static_cast<std::uint32_t>(i * 255 / (n - 1));
      out.push_back(v | (v << 8) | (v << 16));
    }
    return out;
  }
  const int gb = (bits + 2) / 3, rb = (bits + 1) / 3, bb = bits / 3;
  const int rn = 1 << rb, gn = 1 << gb, bn = 1 << bb;
  for (int r = 0; r < rn; ++r)
    for (int g = 0; g < gn; ++g)
      for (int b = 0; b < bn; ++b)
        out.push_back(static_cast<std::uint32_t>(r * 255 / (rn - 1)) |
                      (static_cast<std::uint32_t>(g * 255 / (gn - 1)) << 8) |
                      (static_cast<std::uint32_t>(b * 255 / (bn - 1)) << 16));
  return out;
}

// The 216 colours of the web-safe cube.
Palette webPalette() {
  Palette out;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        out.push_back(static_cast<std::uint32_t>(r * 51) | (static_cast<std::uint32_t>(g * 51) << 8) |
                      (static_cast<std::uint32_t>(b * 51) << 16));
  return out;
}

}  // namespace

short CLead::ReduceColors(short bits, short palette, short dither, short colours) {
  Image* img;
  if (short s = current(img)) return s;
  const int ch = img->pixels.channels();
  if (bits == 24 || bits == 16) {
    if (ch == 4) cv::cvtColor(img->pixels, img->pixels, cv::COLOR_BGRA2BGR);
    if (ch == 1) cv::cvtColor(img->pixels, img->pixels, cv::COLOR_GRAY2BGR);
    if (bits == 16) toFiveBits(img->pixels);  // 5-5-5
    img->palette.clear();
    img->bits = bits;
    return kOk;
  }
  if (bits == 32) {
    if (ch != 4) cv::cvtColor(img->pixels, img->pixels, ch == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
    img->palette.clear();
    img->bits = 32;
    return kOk;
  }
  if (bits < 1 || bits > 8) return kInvalidParameter;
  const std::size_t limit = std::size_t{1} << bits;
  const std::size_t wanted =
      colours > 0 ? std::min<std::size_t>(static_cast<std::size_t>(colours), limit) : limit;
  const int kind = std::clamp<int>(dither, 0, 8);
  Palette chosen;
  onColour(*img, [&](cv::Mat& m) {
    if (palette == 1) {
      chosen = uniformPalette(bits);
      if (chosen.size() > wanted) chosen.resize(wanted);
    } else if (palette == 64 && wanted >= 216) {
      chosen = webPalette();
    } else if (auto exact = exactColours(m, wanted)) {
      chosen = *exact;  // already few enough colours: kept exactly
      return;
    } else {
      chosen = medianCutPalette(m, wanted);  // optimised
    }
    // A grey image takes colours only when the palette has them.
    const bool greyPalette = std::all_of(chosen.begin(), chosen.end(), [](std::uint32_t c) {
      return (c & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 16) & 0xFF);
    });
    if (m.channels() == 1 && !greyPalette) cv::cvtColor(m, m, cv::COLOR_GRAY2BGR);
    ditherToPalette(m, chosen, kind);
  });
  img->palette = chosen;
  img->bits = bits;
  return kOk;
}

// ---- Artistic ---------------------------------------------------------------------------

short CLead::OilifyImage(short n) {
  Image* img;
  if (short s = current(img)) return s;
  const int k = std::clamp<int>(n, 1, 255);
  if (k == 1) return kOk;
  constexpr int kLevels = 32;  // intensity classes
  onColour(*img, [&](cv::Mat& m) {
    const int ch = m.channels(), w = m.cols, h = m.rows, before = (k - 1) / 2, after = k / 2;
    cv::Mat level(h, w, CV_8U);
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* p = m.ptr<std::uint8_t>(y);
      std::uint8_t* l = level.ptr<std::uint8_t>(y);
      for (int x = 0; x < w; ++x, p += ch)
        l[x] = static_cast<std::uint8_t>((ch == 1 ? p[0] : (p[2] * 299 + p[1] * 587 + p[0] * 114) / 1000) *
                                         kLevels / 256);
    }
    cv::Mat out(m.size(), m.type());
    // Each row slides a window histogram along x: counts and colour sums per class.
    cv::parallel_for_(cv::Range(0, h), [&](const cv::Range& rows) {
      std::vector<int> count(kLevels);
      std::vector<std::array<int, 3>> sum(kLevels);
      for (int y = rows.start; y < rows.end; ++y) {
        const int y0 = std::max(0, y - before), y1 = std::min(h - 1, y + after);
        std::fill(count.begin(), count.end(), 0);
        std::fill(sum.begin(), sum.end(), std::array<int, 3>{0, 0, 0});
        auto column = [&](int x, int sign) {
          if (x < 0 || x >= w) return;
          for (int yy = y0; yy <= y1; ++yy) {
            const int c = level.ptr<std::uint8_t>(yy)[x];
            const std::uint8_t* p = m.ptr<std::uint8_t>(yy) + x * ch;
            count[static_cast<std::size_t>(c)] += sign;
            for (int i = 0; i < ch; ++i)
              sum[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] += sign * p[i];
          }
        };
        for (int x = -before; x < after; ++x) column(x, 1);
        std::uint8_t* o = out.ptr<std::uint8_t>(y);
        for (int x = 0; x < w; ++x) {
          column(x + after, 1);
          if (x - before - 1 >= 0) column(x - before - 1, -1);
          const auto best =
              static_cast<std::size_t>(std::max_element(count.begin(), count.end()) - count.begin());
          for (int i = 0; i < ch; ++i)
            o[x * ch + i] = static_cast<std::uint8_t>(
                (sum[best][static_cast<std::size_t>(i)] + count[best] / 2) / count[best]);
        }
      }
    });
    m = out;
  });
  dropPalette(*img);
  return kOk;
}

short CLead::HalftoneImage(short pattern, int angle, short size) {
  Image* img;
  if (short s = current(img)) return s;
  const int kind = std::clamp<int>(pattern, 0, 6);
  const double cell = std::clamp<int>(size, 2, 1000);
  const double rad = (angle % 36000) / 100.0 * std::numbers::pi / 180.0, c = std::cos(rad), s = std::sin(rad);
  std::mt19937 random(12345);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  static constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  // The spot function of a screen cell (fu, fv in -0.5..0.5): the order in
  // which the cell's positions are inked as the grey darkens.
  const auto spot = [kind](double fu, double fv) {
    // A slight slant breaks the ties between positions of equal value, so the
    // spot grows one position at a time.
    const double slant = 1e-4 * (fu + 0.37 * fv);
    switch (kind) {
      case 2: return std::sqrt(fu * fu + fv * fv) + slant;           // circles
      case 3: return 0.5 * fu * fu + 1.5 * fv * fv + slant;          // ellipses
      case 4: return std::max(std::abs(fu), std::abs(fv)) + slant;   // squares
      default: return fu * fu + fv * fv + slant;                     // round dots
    }
  };
  // A spot's value becomes the share of the cell that is inked before it (its
  // distribution over the cell), so a flat grey inks exactly its darkness.
  constexpr int kBins = 4096, kSamples = 512;
  std::vector<float> share(kBins + 1, 1.0f);
  double top = 0;
  const bool shaped = kind == 0 || kind == 2 || kind == 3 || kind == 4;
  if (shaped) {
    std::vector<double> samples;
    samples.reserve(kSamples * kSamples);
    for (int i = 0; i < kSamples; ++i)
      for (int j = 0; j < kSamples; ++j) samples.push_back(spot((i + 0.5) / kSamples - 0.5, (j + 0.5) / kSamples - 0.5));
    top = *std::max_element(samples.begin(), samples.end());
    std::vector<int> count(kBins + 1, 0);
    for (double v : samples) ++count[static_cast<std::size_t>(std::clamp(v / top, 0.0, 1.0) * kBins)];
    double below = 0;
    for (int b = 0; b <= kBins; ++b) {
      share[static_cast<std::size_t>(b)] = static_cast<float>((below + count[static_cast<std::size_t>(b)] / 2.0) /
                                                              (kSamples * kSamples));
      below += count[static_cast<std::size_t>(b)];
    }
  }
  onColour(*img, [&](cv::Mat& m) {
    cv::Mat grey = m;
    if (m.channels() == 3) cv::cvtColor(m, grey, cv::COLOR_BGR2GRAY);
    cv::Mat out(grey.size(), CV_8U);
    for (int y = 0; y < grey.rows; ++y) {
      const std::uint8_t* g = grey.ptr<std::uint8_t>(y);
      std::uint8_t* o = out.ptr<std::uint8_t>(y);
      for (int x = 0; x < grey.cols; ++x) {
        // Position inside the rotated screen cell, each coordinate in -0.5..0.5.
        // Each pixel stands for one point of its square, spread evenly over
        // 4 x 4 neighbours, so that on any grid the pixels of a cell sample
        // the spot's whole range and a flat grey keeps its level.
        const double px = x + (bayer[y & 3][x & 3] + 0.5) / 16.0,
                     py = y + (bayer[(x + 1) & 3][(y + 2) & 3] + 0.5) / 16.0;
        const double u = (px * c + py * s) / cell, v = (-px * s + py * c) / cell;
        const double fu = u - std::floor(u) - 0.5, fv = v - std::floor(v) - 0.5;
        double t;  // the darkness needed to ink this spot, 0..1
        if (shaped)
          t = share[static_cast<std::size_t>(std::clamp(spot(fu, fv) / top, 0.0, 1.0) * kBins)];
        else if (kind == 1)
          t = (bayer[y & 3][x & 3] + 0.5) / 16.0;
        else if (kind == 5)
          t = std::abs(fv) * 2;  // lines: already even
        else
          t = uniform(random);
        const double darkness = 1.0 - g[x] / 255.0;
        o[x] = darkness > t ? 0 : 255;
      }
    }
    if (m.channels() == 3)
      cv::cvtColor(out, m, cv::COLOR_GRAY2BGR);
    else
      m = out;
  });
  // A black and white picture: 1 bit unless it carries alpha.
  if (img->hasAlpha()) {
    img->palette.clear();
    img->bits = 32;
  } else {
    img->palette = {0x000000, 0xFFFFFF};
    img->bits = 1;
  }
  return kOk;
}

// ---- Resampling ------------------------------------------------------------

short CLead::ResizeImage(float width, float height, short flags) {
  Image* img;
  if (short s = current(img)) return s;
  const double w0 = img->width(), h0 = img->height();
  double w = std::trunc(width), h = std::trunc(height);
  if (w < 0 || h < 0 || (w == 0 && h == 0)) return kInvalidParameter;
  // A size of 0 follows from the aspect ratio.
  if (w == 0) w = std::max(1.0, std::trunc(h * w0 / h0));
  if (h == 0) h = std::max(1.0, std::trunc(w * h0 / w0));
  if (w * h > static_cast<double>(maxPixels())) return kTooLarge;
  const cv::Size size(static_cast<int>(w), static_cast<int>(h));
  const bool shrinking = w < w0 || h < h0;
  cv::Mat out;
  switch (flags) {
    case 0:
      cv::resize(img->pixels, out, size, 0, 0, cv::INTER_NEAREST);
      break;
    case 1: {
      // Nearest neighbour that keeps thin dark lines: when shrinking, each
      // sample takes the darkest pixel of the block it stands for.
      cv::Mat src = img->pixels;
      if (shrinking) {
        const int kx = std::max(1, static_cast<int>(std::ceil(w0 / w))),
                  ky = std::max(1, static_cast<int>(std::ceil(h0 / h)));
        cv::erode(src, src, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kx, ky)));
      }
      cv::resize(src, out, size, 0, 0, cv::INTER_NEAREST);
      break;
    }
    case 4:
    case 5: {
      cv::Mat src = img->pixels;
      // Beyond 2:1, shrink by area averaging first so nothing aliases.
      if (w * 2 < w0 || h * 2 < h0) {
        cv::resize(src, src,
                   cv::Size(std::max(size.width * 2, std::min<int>(size.width, src.cols)),
                            std::max(size.height * 2, std::min<int>(size.height, src.rows))),
                   0, 0, cv::INTER_AREA);
      }
      cv::resize(src, out, size, 0, 0, flags == 4 ? cv::INTER_CUBIC : cv::INTER_LANCZOS4);
      break;
    }
    default:  // 2, 3 and anything else resample
      cv::resize(img->pixels, out, size, 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  }
  img->pixels = out;
  doc_->region.release();
  // Interpolated pixels leave the palette and the low depths; nearest-neighbour
  // ones keep them.
  if (flags != 0 && flags != 1 && (!img->palette.empty() || img->bits < 8)) {
    img->palette.clear();
    img->bits = img->pixels.channels() == 4 ? 32 : img->pixels.channels() == 1 ? 8 : 24;
  }
  return kOk;
}

}  // namespace pv::engine
