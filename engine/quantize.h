#pragma once
// Colour reduction shared by the indexed saves and ReduceColors: an image that
// already has few enough colours keeps them exactly; otherwise an optimised
// palette (median cut over a 5-5-5 histogram) with optional Floyd-Steinberg
// error diffusion.

#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

namespace pv::engine {

// Colours as 0x00BBGGRR.
using Palette = std::vector<std::uint32_t>;

// The distinct colours of a 1-, 3- or 4-channel image (alpha ignored), in
// order of first appearance, when there are at most `maxColours`; with
// `indices`, each pixel's place in that palette (CV_8UC1) as it goes.
std::optional<Palette> exactColours(const cv::Mat& image, std::size_t maxColours, cv::Mat* indices = nullptr);

// An optimised palette of at most `maxColours` colours for the image.
Palette medianCutPalette(const cv::Mat& image, std::size_t maxColours);

// Replaces every pixel's colour by a palette colour (alpha kept), diffusing the
// error with Floyd-Steinberg when `dither` is set.
void mapToPalette(cv::Mat& image, const Palette& palette, bool dither);

// Replaces every pixel's colour by a palette colour (alpha kept) with the
// dither kind: 0 none, 1 Floyd-Steinberg, 2 Stucki, 3 Burkes, 4 Sierra,
// 5 Stevenson-Arce, 6 Jarvis, 7 ordered (Bayer), 8 clustered dot. With
// `indices`, each pixel's palette index (CV_8UC1, palettes of up to 256).
void ditherToPalette(cv::Mat& image, const Palette& palette, int kind, cv::Mat* indices = nullptr);

// Reduces the image to at most `maxColours` colours and returns its palette:
// exact when the colours fit, else median cut with Floyd-Steinberg.
// With `indices`, each pixel's palette index, found on the way (CV_8UC1).
Palette reduceToPalette(cv::Mat& image, std::size_t maxColours, cv::Mat* indices = nullptr);

// An image as palette indices, what the indexed file formats store.
struct IndexedImage {
  Palette palette;  // at most 2^bits colours
  cv::Mat indices;  // CV_8UC1, one palette index per pixel
  int indexOf(std::uint32_t colour) const;  // -1 when absent
};

// Reduces a copy of the image to at most 2^bits colours (bits 1..8) as
// reduceToPalette does, and indexes it.
IndexedImage toIndexed(const cv::Mat& image, int bits);

// Each 8-bit sample as the nearest of the 32 levels of a 5-bit channel,
// spread over the whole range (0 stays 0, 255 stays 255).
void toFiveBits(cv::Mat& image);

}  // namespace pv::engine
