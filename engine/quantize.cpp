#include "engine/quantize.h"

#include <algorithm>
#include <array>
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

std::optional<Palette> exactColours(const cv::Mat& image, std::size_t maxColours) {
  Palette out;
  std::unordered_map<std::uint32_t, int> seen;
  const int ch = image.channels();
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* p = image.ptr<unsigned char>(y);
    for (int x = 0; x < image.cols; ++x) {
      std::uint32_t c = colourAt(p + x * ch, ch);
      if (seen.emplace(c, 0).second) {
        if (out.size() == maxColours) return std::nullopt;
        out.push_back(c);
      }
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

void mapToPalette(cv::Mat& image, const Palette& palette, bool dither) {
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
  const int ch = image.channels();
  const int w = image.cols;
  // Error rows for Floyd-Steinberg, in 1/16 units, with a margin each side.
  std::vector<int> errCur(static_cast<std::size_t>(w + 2) * 3, 0), errNext(errCur.size(), 0);
  for (int y = 0; y < image.rows; ++y) {
    unsigned char* p = image.ptr<unsigned char>(y);
    std::fill(errNext.begin(), errNext.end(), 0);
    for (int x = 0; x < w; ++x) {
      unsigned char* q = p + x * ch;
      int v[3] = {ch == 1 ? q[0] : q[2], ch == 1 ? q[0] : q[1], q[0]};  // r g b
      if (dither)
        for (int i = 0; i < 3; ++i)
          v[i] = std::clamp(v[i] + errCur[static_cast<std::size_t>((x + 1) * 3 + i)] / 16, 0, 255);
      const std::uint32_t c = palette[lookup[static_cast<std::size_t>(((v[0] >> 3) << 10) | ((v[1] >> 3) << 5) | (v[2] >> 3))]];
      const int out[3] = {red(c), green(c), blue(c)};
      if (ch == 1) {
        q[0] = static_cast<unsigned char>((out[0] * 299 + out[1] * 587 + out[2] * 114 + 500) / 1000);
      } else {
        q[0] = static_cast<unsigned char>(out[2]);
        q[1] = static_cast<unsigned char>(out[1]);
        q[2] = static_cast<unsigned char>(out[0]);
      }
      if (dither)
        for (int i = 0; i < 3; ++i) {
          const int e = v[i] - out[i];
          errCur[static_cast<std::size_t>((x + 2) * 3 + i)] += e * 7;
          errNext[static_cast<std::size_t>(x * 3 + i)] += e * 3;
          errNext[static_cast<std::size_t>((x + 1) * 3 + i)] += e * 5;
          errNext[static_cast<std::size_t>((x + 2) * 3 + i)] += e;
        }
    }
    std::swap(errCur, errNext);
  }
}

Palette reduceToPalette(cv::Mat& image, std::size_t maxColours) {
  if (auto exact = exactColours(image, maxColours)) return *exact;
  Palette palette = medianCutPalette(image, maxColours);
  mapToPalette(image, palette, true);
  return palette;
}

int IndexedImage::indexOf(std::uint32_t colour) const {
  auto it = std::find(palette.begin(), palette.end(), colour);
  return it == palette.end() ? -1 : static_cast<int>(it - palette.begin());
}

IndexedImage toIndexed(const cv::Mat& image, int bits) {
  IndexedImage out;
  cv::Mat reduced = image.clone();
  out.palette = reduceToPalette(reduced, std::size_t{1} << std::clamp(bits, 1, 8));
  std::unordered_map<std::uint32_t, std::uint8_t> index;
  for (std::size_t i = 0; i < out.palette.size(); ++i) index.emplace(out.palette[i], static_cast<std::uint8_t>(i));
  out.indices.create(reduced.rows, reduced.cols, CV_8UC1);
  const int ch = reduced.channels();
  for (int y = 0; y < reduced.rows; ++y) {
    const unsigned char* p = reduced.ptr<unsigned char>(y);
    std::uint8_t* o = out.indices.ptr<std::uint8_t>(y);
    std::uint32_t last = ~0u;
    std::uint8_t lastIndex = 0;
    for (int x = 0; x < reduced.cols; ++x) {
      const std::uint32_t c = colourAt(p + x * ch, ch);
      if (c != last) {
        auto it = index.find(c);
        lastIndex = it == index.end() ? 0 : it->second;
        last = c;
      }
      o[x] = lastIndex;
    }
  }
  return out;
}

}  // namespace pv::engine
