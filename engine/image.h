#pragma once
// The image model: 8 bits a channel in a cv::Mat with 1 (grey), 3 (B G R) or
// 4 (B G R A) channels, plus the depth the image stands for, its palette when
// it is indexed, its resolution and its transparent colour. An indexed image
// keeps its pixels as colours (3 channels) so every operation works on it
// directly; `palette` lists the colours it may use and saving maps them back.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>

namespace pv::engine {

struct Metadata;  // engine/metadata.h

struct Image {
  cv::Mat pixels;
  int bits = 24;                       // 1..8, 12, 16, 24, 32
  std::vector<std::uint32_t> palette;  // 0x00BBGGRR; empty unless indexed
  int xDpi = 96;
  int yDpi = 96;
  bool useTransparentColor = false;
  std::uint32_t transparentColor = 0;  // 0x00BBGGRR
  // EXIF, XMP, IPTC and the colour profile of the file it came from; shared,
  // never changed in place (an operation that changes it makes a new one).
  std::shared_ptr<const Metadata> metadata;

  int width() const { return pixels.cols; }
  int height() const { return pixels.rows; }
  bool hasAlpha() const { return pixels.channels() == 4; }
};

// True when some pixel of the image is not fully opaque.
inline bool seeThrough(const Image& image) {
  if (!image.hasAlpha()) return false;
  cv::Mat alpha;
  cv::extractChannel(image.pixels, alpha, 3);
  double lowest = 255;
  cv::minMaxLoc(alpha, &lowest);
  return lowest < 255;
}

// A 0x00BBGGRR colour as the B G R of a pixel (alpha, when read, 255).
inline cv::Scalar bgrOf(std::uint32_t colour) {
  return cv::Scalar(colour >> 16 & 0xFF, colour >> 8 & 0xFF, colour & 0xFF, 255);
}

// `preferred` when `used` says it is free, else the first free colour of a
// fixed run of unlikely ones (magenta-ish first); the key colours that mark
// transparent pixels come from here.
template <class Used>
std::uint32_t unusedColour(std::uint32_t preferred, Used used) {
  std::uint32_t c = preferred & 0xFFFFFF;
  for (std::uint32_t step = 0; used(c) && step < 4096; ++step) c = (0x00FF00FE + step * 0x010307) & 0xFFFFFF;
  return c;
}

// Adds a colour to an indexed image's palette, growing its depth to hold it;
// a full palette (256) is given up and the image stands for 24 bits.
inline void addPaletteColour(Image& image, std::uint32_t colour) {
  auto& pal = image.palette;
  if (pal.empty() || std::find(pal.begin(), pal.end(), colour) != pal.end()) return;
  if (pal.size() >= 256) {
    pal.clear();
    image.bits = 24;
    return;
  }
  pal.push_back(colour);
  while ((std::size_t{1} << image.bits) < pal.size() && image.bits < 8) ++image.bits;
}

// What a load produces: one or all pages of a file, and the chosen page.
struct Document {
  std::vector<Image> pages;
  std::size_t current = 0;
  // The selected region of the current page: CV_8UC1, 255 inside; empty when
  // nothing is selected.
  cv::Mat region;
  // Asked of the decoder before a load: a decoder that can shrink while it
  // decodes (JPEG's DCT scaling) may deliver the largest reduction that still
  // covers this size; empty for the file's own size. Told by the decoder:
  // the reduction it used (1, 2, 4 or 8).
  cv::Size atLeast;
  int scale = 1;
  // Told by a decoder that reads its container's metadata itself: why a
  // damaged block of it was left out.
  std::string metadataProblem;

  Image* image() { return current < pages.size() ? &pages[current] : nullptr; }
  // Makes the document the one page, as a single-picture decode leaves it.
  void setOnly(Image page) {
    pages.clear();
    pages.push_back(std::move(page));
    current = 0;
    region.release();
  }
};

// The largest image a decoder accepts, in pixels: $PICTORAVINE_MAX_PIXELS, else
// one gigapixel.
std::uint64_t maxPixels();

}  // namespace pv::engine
