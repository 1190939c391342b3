#include "engine/quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

namespace pv::engine {

namespace {

inline std::uint32_t pack(int r, int g, int b) {
  return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) | (static_cast<std::uint32_t>(b) << 16);
}
inline int red(std::uint32_t c) { return static_cast<int>(c & 0xFF); }
inline int green(std::uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
inline int blue(std::uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }

inline std::uint32_t colourAt(const unsigned char* p, int channels) {
  return channels == 1 ? pack(p[0], p[0], p[0]) : pack(p[2], p[1], p[0]);
}

struct Box {
  int lo[3], hi[3];  // inclusive bounds in 5-bit units, channels r g b
  std::uint64_t count;
};

}  // namespace

std::optional<Palette> exactColours(const cv::Mat& image, std::size_t maxColours, cv::Mat* indices) {
  Palette out;
  std::unordered_map<std::uint32_t, int> seen;
  const int ch = image.channels();
  if (indices) indices->create(image.rows, image.cols, CV_8UC1);
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* p = image.ptr<unsigned char>(y);
    std::uint8_t* o = indices ? indices->ptr<std::uint8_t>(y) : nullptr;
    // Neighbours often share a colour: the last one is checked first.
    std::uint32_t last = ~0u;
    int lastIndex = 0;
    for (int x = 0; x < image.cols; ++x) {
      const std::uint32_t c = colourAt(p + x * ch, ch);
      if (c != last) {
        const auto [it, added] = seen.emplace(c, static_cast<int>(out.size()));
        if (added) {
          if (out.size() == maxColours) return std::nullopt;
          out.push_back(c);
        }
        last = c, lastIndex = it->second;
      }
      if (o) o[x] = static_cast<std::uint8_t>(lastIndex);
    }
  }
  return out;
}

Palette medianCutPalette(const cv::Mat& image, std::size_t maxColours) {
  std::vector<std::uint32_t> hist(32768, 0);
  std::vector<std::array<std::uint64_t, 3>> sums(32768, {0, 0, 0});
  const int ch = image.channels();
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* p = image.ptr<unsigned char>(y);
    for (int x = 0; x < image.cols; ++x) {
      const unsigned char* q = p + x * ch;
      const int b = q[0], g = ch == 1 ? q[0] : q[1], r = ch == 1 ? q[0] : q[2];
      const int bin = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
      ++hist[static_cast<std::size_t>(bin)];
      sums[static_cast<std::size_t>(bin)][0] += static_cast<std::uint64_t>(r);
      sums[static_cast<std::size_t>(bin)][1] += static_cast<std::uint64_t>(g);
      sums[static_cast<std::size_t>(bin)][2] += static_cast<std::uint64_t>(b);
    }
  }
  auto binOf = [](int r, int g, int b) { return static_cast<std::size_t>((r << 10) | (g << 5) | b); };
  // Shrinks a box to the bins it holds and counts them.
  auto fit = [&](Box& box) {
    int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
    box.count = 0;
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b)
          if (std::uint32_t n = hist[binOf(r, g, b)]) {
            box.count += n;
            const int v[3] = {r, g, b};
            for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], v[i]), hi[i] = std::max(hi[i], v[i]);
          }
    if (box.count)
      for (int i = 0; i < 3; ++i) box.lo[i] = lo[i], box.hi[i] = hi[i];
  };
  std::vector<Box> boxes{Box{{0, 0, 0}, {31, 31, 31}, 0}};
  fit(boxes[0]);
  while (boxes.size() < maxColours) {
    // Split the box with the most pixels times its longest side.
    int best = -1, axis = 0;
    std::uint64_t score = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      for (int a = 0; a < 3; ++a) {
        const int len = boxes[i].hi[a] - boxes[i].lo[a];
        if (len > 0 && boxes[i].count * static_cast<std::uint64_t>(len) > score) {
          score = boxes[i].count * static_cast<std::uint64_t>(len);
          best = static_cast<int>(i);
          axis = a;
        }
      }
    }
    if (best < 0) break;  // every box is a single bin
    Box& box = boxes[static_cast<std::size_t>(best)];
    // The median along the axis.
    std::vector<std::uint64_t> slice(32, 0);
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
          const int v[3] = {r, g, b};
          slice[static_cast<std::size_t>(v[axis])] += hist[binOf(r, g, b)];
        }
    std::uint64_t acc = 0;
    int cut = box.lo[axis];
    for (int v = box.lo[axis]; v < box.hi[axis]; ++v) {
      acc += slice[static_cast<std::size_t>(v)];
      cut = v;
      if (acc * 2 >= box.count) break;
    }
    Box other = box;
    box.hi[axis] = cut;
    other.lo[axis] = cut + 1;
    fit(box);
    fit(other);
    if (other.count) boxes.push_back(other);
  }
  Palette out;
  for (const Box& box : boxes) {
    std::uint64_t n = 0, s[3] = {0, 0, 0};
    for (int r = box.lo[0]; r <= box.hi[0]; ++r)
      for (int g = box.lo[1]; g <= box.hi[1]; ++g)
        for (int b = box.lo[2]; b <= box.hi[2]; ++b) {
          const std::size_t bin = binOf(r, g, b);
          n += hist[bin];
          for (int i = 0; i < 3; ++i) s[i] += sums[bin][static_cast<std::size_t>(i)];
        }
    if (n) out.push_back(pack(static_cast<int>((s[0] + n / 2) / n), static_cast<int>((s[1] + n / 2) / n),
                              static_cast<int>((s[2] + n / 2) / n)));
  }
  if (out.empty()) out.push_back(0);
  return out;
}

namespace {

struct Spread {
  int dx, dy, weight;
};

// Error diffusion kernels (offsets from the current pixel and weights) and
// their divisors, by dither kind 1..6.
struct Diffusion {
  std::vector<Spread> spread;
  int divisor;
};

const Diffusion& diffusion(int kind) {
  static const Diffusion kinds[] = {
      {{{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}, 16},  // Floyd-Steinberg
      {{{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2},
        {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4}, {1, 2, 2}, {2, 2, 1}},
       42},  // Stucki
      {{{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}, 32},  // Burkes
      {{{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2},
        {-1, 2, 2}, {0, 2, 3}, {1, 2, 2}},
       32},  // Sierra
      {{{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30}, {3, 1, 16}, {-2, 2, 12}, {0, 2, 26},
        {2, 2, 12}, {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12}, {3, 3, 5}},
       200},  // Stevenson-Arce
      {{{1, 0, 7}, {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5}, {2, 1, 3},
        {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5}, {1, 2, 3}, {2, 2, 1}},
       48},  // Jarvis, Judice and Ninke
  };
  return kinds[std::clamp(kind, 1, 6) - 1];
}

// Threshold maps for ordered dither: Bayer 8 x 8 and a 4 x 4 clustered dot,
// as offsets in 0..1.
float orderedOffset(int kind, int x, int y) {
  static constexpr int bayer[8][8] = {{0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
                                      {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
                                      {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
                                      {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
  static constexpr int cluster[4][4] = {{12, 5, 6, 13}, {4, 0, 1, 7}, {11, 3, 2, 8}, {15, 10, 9, 14}};
  if (kind == 7) return (bayer[y & 7][x & 7] + 0.5f) / 64.0f;
  return (cluster[y & 3][x & 3] + 0.5f) / 16.0f;
}

}  // namespace

void toFiveBits(cv::Mat& image) {
  static const cv::Mat lut = [] {
    cv::Mat t(1, 256, CV_8U);
    for (int v = 0; v < 256; ++v) {
      const int five = (v * 31 + 127) / 255;
      t.at<std::uint8_t>(v) = static_cast<std::uint8_t>((five << 3) | (five >> 2));
    }
    return t;
  }();
  cv::LUT(image, lut, image);
}

namespace {

// How far apart the palette's colours lie: the median distance from each to
// its nearest neighbour. An ordered dither moves samples by about this much,
// so a dense, optimised palette gets a fine dither and a coarse cube a coarse one.
float paletteSpacing(const Palette& palette) {
  if (palette.size() < 2) return 255.0f;
  std::vector<float> nearest;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    int best = 1 << 30;
    for (std::size_t j = 0; j < palette.size(); ++j) {
      if (i == j) continue;
      const int dr = red(palette[i]) - red(palette[j]), dg = green(palette[i]) - green(palette[j]),
                db = blue(palette[i]) - blue(palette[j]);
      const int d = dr * dr + dg * dg + db * db;
      if (d > 0) best = std::min(best, d);
    }
    if (best < (1 << 30)) nearest.push_back(std::sqrt(static_cast<float>(best)));
  }
  if (nearest.empty()) return 255.0f;
  std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2), nearest.end());
  return nearest[nearest.size() / 2];
}

}  // namespace

void ditherToPalette(cv::Mat& image, const Palette& palette, int kind, cv::Mat* indices) {
  // Nearest palette entry for every 5-5-5 colour, found once.
  std::vector<std::uint16_t> lookup(32768);
  for (int bin = 0; bin < 32768; ++bin) {
    const int r = ((bin >> 10) << 3) | 4, g = (((bin >> 5) & 31) << 3) | 4, b = ((bin & 31) << 3) | 4;
    int best = 0, bestD = 1 << 30;
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const int dr = r - red(palette[i]), dg = g - green(palette[i]), db = b - blue(palette[i]);
      const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
      if (d < bestD) bestD = d, best = static_cast<int>(i);
    }
    lookup[static_cast<std::size_t>(bin)] = static_cast<std::uint16_t>(best);
  }
  const int ch = image.channels(), w = image.cols;
  if (indices) indices->create(image.rows, image.cols, CV_8UC1);
  const bool diffuse = kind >= 1 && kind <= 6, ordered = kind == 7 || kind == 8;
  const Diffusion* kernel = diffuse ? &diffusion(kind) : nullptr;
  // Ordered dither moves each sample by up to one step between palette colours.
  const float step = ordered ? paletteSpacing(palette) : 0.0f;
  // Error rows in flight (up to four), with three columns of margin each side.
  constexpr int kMargin = 3;
  std::vector<std::vector<float>> errors(4, std::vector<float>(static_cast<std::size_t>(w + 2 * kMargin) * 3, 0.0f));
  for (int y = 0; y < image.rows; ++y) {
    unsigned char* p = image.ptr<unsigned char>(y);
    std::vector<float>& current = errors[static_cast<std::size_t>(y % 4)];
    for (int x = 0; x < w; ++x) {
      unsigned char* q = p + x * ch;
      float v[3] = {static_cast<float>(ch == 1 ? q[0] : q[2]), static_cast<float>(ch == 1 ? q[0] : q[1]),
                    static_cast<float>(q[0])};  // r g b
      const std::size_t at = static_cast<std::size_t>(x + kMargin) * 3;
      for (int i = 0; i < 3; ++i) {
        if (diffuse) v[i] += current[at + static_cast<std::size_t>(i)];
        if (ordered) v[i] += (orderedOffset(kind, x, y) - 0.5f) * step;
        v[i] = std::clamp(v[i], 0.0f, 255.0f);
      }
      const int r8 = static_cast<int>(v[0] + 0.5f), g8 = static_cast<int>(v[1] + 0.5f), b8 = static_cast<int>(v[2] + 0.5f);
      const std::uint16_t chosen = lookup[static_cast<std::size_t>(((r8 >> 3) << 10) | ((g8 >> 3) << 5) | (b8 >> 3))];
      if (indices) indices->at<std::uint8_t>(y, x) = static_cast<std::uint8_t>(chosen);
      const std::uint32_t c = palette[chosen];
      const int out[3] = {red(c), green(c), blue(c)};
      if (ch == 1) {
        q[0] = static_cast<unsigned char>((out[0] * 299 + out[1] * 587 + out[2] * 114 + 500) / 1000);
      } else {
        q[0] = static_cast<unsigned char>(out[2]);
        q[1] = static_cast<unsigned char>(out[1]);
        q[2] = static_cast<unsigned char>(out[0]);
      }
      if (!diffuse) continue;
      for (int i = 0; i < 3; ++i) {
        const float e = (v[i] - static_cast<float>(out[i])) / static_cast<float>(kernel->divisor);
        for (const Spread& s : kernel->spread) {
          const int tx = x + s.dx;
          if (tx < -kMargin || tx >= w + kMargin) continue;
          errors[static_cast<std::size_t>((y + s.dy) % 4)][static_cast<std::size_t>(tx + kMargin) * 3 + static_cast<std::size_t>(i)] +=
              e * static_cast<float>(s.weight);
        }
      }
    }
    std::fill(current.begin(), current.end(), 0.0f);
  }
}

void mapToPalette(cv::Mat& image, const Palette& palette, bool dither) { ditherToPalette(image, palette, dither ? 1 : 0); }

Palette reduceToPalette(cv::Mat& image, std::size_t maxColours, cv::Mat* indices) {
  if (auto exact = exactColours(image, maxColours, indices)) return *exact;
  Palette palette = medianCutPalette(image, maxColours);
  ditherToPalette(image, palette, 1, indices);
  return palette;
}

int IndexedImage::indexOf(std::uint32_t colour) const {
  auto it = std::find(palette.begin(), palette.end(), colour);
  return it == palette.end() ? -1 : static_cast<int>(it - palette.begin());
}

IndexedImage toIndexed(const cv::Mat& image, int bits) {
  IndexedImage out;
  // The palette and every pixel's index come from one pass: the reduction
  // knows the index it chose, so no colour is looked up again.
  cv::Mat reduced = image.clone();
  out.palette = reduceToPalette(reduced, std::size_t{1} << std::clamp(bits, 1, 8), &out.indices);
  return out;
}

}  // namespace pv::engine
