// Lossless JPEG (ITU T.81 process 14, Huffman coded), which libjpeg-turbo 2.1
// neither writes nor reads. Written: 8-bit grey or R G B components, predictor
// 1 (the left neighbour), one Huffman table built for the picture. Read: any
// predictor 1..7, point transform, 2..16-bit precision, 1 or 3 components
// without subsampling, restart intervals.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

int category(int diff) {
  int v = diff < 0 ? -diff : diff, n = 0;
  while (v) ++n, v >>= 1;
  return n;
}

// Code lengths (at most 16) for the 17 categories from their counts, by the
// procedure of T.81 annex K.2.
std::array<int, 17> huffmanLengths(std::array<long, 17> freq) {
  std::array<long, 18> f{};
  for (int i = 0; i < 17; ++i) f[static_cast<std::size_t>(i)] = freq[static_cast<std::size_t>(i)];
  f[17] = 1;  // reserved symbol, so no code is all ones
  std::array<int, 18> size{}, others{};
  others.fill(-1);
  for (;;) {
    int v1 = -1, v2 = -1;
    for (int i = 0; i < 18; ++i)
      if (f[static_cast<std::size_t>(i)] > 0 &&
          (v1 < 0 || f[static_cast<std::size_t>(i)] <= f[static_cast<std::size_t>(v1)]))
        v1 = i;
    for (int i = 0; i < 18; ++i)
      if (i != v1 && f[static_cast<std::size_t>(i)] > 0 &&
          (v2 < 0 || f[static_cast<std::size_t>(i)] <= f[static_cast<std::size_t>(v2)]))
        v2 = i;
    if (v2 < 0) break;
    f[static_cast<std::size_t>(v1)] += f[static_cast<std::size_t>(v2)];
    f[static_cast<std::size_t>(v2)] = 0;
    for (++size[static_cast<std::size_t>(v1)]; others[static_cast<std::size_t>(v1)] >= 0;
         ++size[static_cast<std::size_t>(v1)])
      v1 = others[static_cast<std::size_t>(v1)];
    others[static_cast<std::size_t>(v1)] = v2;
    for (++size[static_cast<std::size_t>(v2)]; others[static_cast<std::size_t>(v2)] >= 0;
         ++size[static_cast<std::size_t>(v2)])
      v2 = others[static_cast<std::size_t>(v2)];
  }
  // Count by length, then limit lengths to 16 (annex K.3).
  std::array<int, 40> bits{};
  for (int i = 0; i < 18; ++i)
    if (size[static_cast<std::size_t>(i)])
      ++bits[static_cast<std::size_t>(size[static_cast<std::size_t>(i)])];
  for (int i = 39; i > 16; --i)
    while (bits[static_cast<std::size_t>(i)] > 0) {
      int j = i - 2;
      while (bits[static_cast<std::size_t>(j)] == 0) --j;
      bits[static_cast<std::size_t>(i)] -= 2;
      ++bits[static_cast<std::size_t>(i - 1)];
      bits[static_cast<std::size_t>(j + 1)] += 2;
      --bits[static_cast<std::size_t>(j)];
    }
  int longest = 16;
  while (longest > 0 && bits[static_cast<std::size_t>(longest)] == 0) --longest;
  --bits[static_cast<std::size_t>(longest)];  // drop the reserved symbol
  // Lengths handed out to symbols by frequency, most frequent shortest.
  std::array<int, 17> order{};
  for (int i = 0; i < 17; ++i) order[static_cast<std::size_t>(i)] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return freq[static_cast<std::size_t>(a)] > freq[static_cast<std::size_t>(b)];
  });
  std::array<int, 17> len{};
  int k = 0;
  for (int l = 1; l <= 16; ++l)
    for (int n = 0; n < bits[static_cast<std::size_t>(l)]; ++n, ++k)
      if (k < 17 && freq[static_cast<std::size_t>(order[static_cast<std::size_t>(k)])] > 0)
        len[static_cast<std::size_t>(order[static_cast<std::size_t>(k)])] = l;
  return len;
}

struct BitWriter {
  std::string& out;
  std::uint32_t acc = 0;
  int n = 0;
  void put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      acc = (acc << 1) | ((value >> i) & 1u);
      if (++n == 8) {
        out.push_back(static_cast<char>(acc));
        if ((acc & 0xFF) == 0xFF) out.push_back('\0');
        acc = 0, n = 0;
      }
    }
  }
  void flush() {
    while (n) put(1, 1);
  }
};

void marker(std::string& out, int code, const std::string& body) {
  out.push_back(static_cast<char>(0xFF));
  out.push_back(static_cast<char>(code));
  const std::size_t len = body.size() + 2;
  out.push_back(static_cast<char>(len >> 8));
  out.push_back(static_cast<char>(len & 0xFF));
  out += body;
}

}  // namespace

short saveLosslessJpeg(const std::string& path, const Image& image, int bits) {
  const cv::Mat& src = image.pixels;
  if (src.empty()) return kInvalidParameter;
  if (bits == 0) bits = image.bits;
  cv::Mat px;
  const bool grey = bits <= 8 || src.channels() == 1;
  if (grey) {
    if (src.channels() == 1)
      px = src;
    else
      cv::cvtColor(src, px, src.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  } else {
    cv::cvtColor(src, px, src.channels() == 4 ? cv::COLOR_BGRA2RGB : cv::COLOR_BGR2RGB);
  }
  const int w = px.cols, h = px.rows, nc = px.channels();
  if (w > 65535 || h > 65535) return kTooLarge;
  // Differences to the left neighbour (above for the first column, 128 for
  // the first pixel), then their categories counted for the table.
  std::vector<std::int16_t> diff(static_cast<std::size_t>(w) * h * nc);
  std::array<long, 17> freq{};
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = px.ptr<std::uint8_t>(y);
    const std::uint8_t* above = y ? px.ptr<std::uint8_t>(y - 1) : nullptr;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < nc; ++c) {
        const int pred = x ? row[(x - 1) * nc + c] : y ? above[c] : 128;
        const int d = row[x * nc + c] - pred;
        diff[(static_cast<std::size_t>(y) * w + x) * nc + c] = static_cast<std::int16_t>(d);
        ++freq[static_cast<std::size_t>(category(d))];
      }
  }
  const std::array<int, 17> len = huffmanLengths(freq);
  // Canonical codes from the lengths, symbols in category order per length.
  std::array<std::uint32_t, 17> code{};
  std::string dht(1, '\0');
  std::array<int, 17> count{};
  for (int s = 0; s < 17; ++s)
    if (len[static_cast<std::size_t>(s)]) ++count[static_cast<std::size_t>(len[static_cast<std::size_t>(s)])];
  for (int l = 1; l <= 16; ++l) dht.push_back(static_cast<char>(count[static_cast<std::size_t>(l)]));
  std::uint32_t next = 0;
  for (int l = 1; l <= 16; ++l) {
    for (int s = 0; s < 17; ++s)
      if (len[static_cast<std::size_t>(s)] == l) {
        code[static_cast<std::size_t>(s)] = next++;
        dht.push_back(static_cast<char>(s));
      }
    next <<= 1;
  }
  std::string out("\xFF\xD8", 2);
  std::string sof;
  sof += static_cast<char>(8);
  sof += static_cast<char>(h >> 8), sof += static_cast<char>(h & 0xFF);
  sof += static_cast<char>(w >> 8), sof += static_cast<char>(w & 0xFF);
  sof += static_cast<char>(nc);
  for (int c = 0; c < nc; ++c) sof += static_cast<char>(c + 1), sof += static_cast<char>(0x11), sof += '\0';
  marker(out, 0xC3, sof);
  marker(out, 0xC4, dht);
  std::string sos(1, static_cast<char>(nc));
  for (int c = 0; c < nc; ++c) sos += static_cast<char>(c + 1), sos += '\0';
  sos += static_cast<char>(1), sos += '\0', sos += '\0';  // predictor 1, Se 0, Ah/Al 0
  marker(out, 0xDA, sos);
  BitWriter bw{out};
  for (std::int16_t d : diff) {
    const int cat = category(d);
    bw.put(code[static_cast<std::size_t>(cat)], len[static_cast<std::size_t>(cat)]);
    if (cat) bw.put(static_cast<std::uint32_t>(d < 0 ? d - 1 : d) & ((1u << cat) - 1), cat);
  }
  bw.flush();
  out += "\xFF\xD9";
  return writeFileAtomically(path, out);
}

namespace {

struct Table {
  std::array<int, 17> maxCode{}, valPtr{}, minCode{};
  std::vector<int> values;
  bool present = false;
};

struct BitReader {
  const std::string& data;
  std::size_t pos;
  std::uint32_t acc = 0;
  int n = 0;
  bool bad = false;
  int bit() {
    if (n == 0) {
      if (pos >= data.size()) return bad = true, 0;
      std::uint8_t b = static_cast<std::uint8_t>(data[pos++]);
      if (b == 0xFF) {
        const std::uint8_t next = pos < data.size() ? static_cast<std::uint8_t>(data[pos]) : 0;
        if (next == 0)
          ++pos;
        else
          return bad = true, 0;  // a marker inside the data: it ended early
      }
      acc = b, n = 8;
    }
    --n;
    return static_cast<int>((acc >> n) & 1u);
  }
  int bits(int count) {
    int v = 0;
    for (int i = 0; i < count; ++i) v = (v << 1) | bit();
    return v;
  }
  // Skips to the next byte and over a restart marker.
  bool restart() {
    n = 0;
    if (pos + 1 < data.size() && static_cast<std::uint8_t>(data[pos]) == 0xFF &&
        (static_cast<std::uint8_t>(data[pos + 1]) & 0xF8) == 0xD0) {
      pos += 2;
      return true;
    }
    return false;
  }
};

int decodeSymbol(BitReader& br, const Table& t) {
  int code = br.bit();
  for (int l = 1; l <= 16; ++l) {
    if (br.bad) return -1;
    if (t.maxCode[static_cast<std::size_t>(l)] >= code && code >= t.minCode[static_cast<std::size_t>(l)] &&
        t.maxCode[static_cast<std::size_t>(l)] >= 0)
      return t.values[static_cast<std::size_t>(t.valPtr[static_cast<std::size_t>(l)] + code -
                                               t.minCode[static_cast<std::size_t>(l)])];
    code = (code << 1) | br.bit();
  }
  return -1;
}

struct Frame {
  int precision = 0, width = 0, height = 0, components = 0;
  std::array<int, 4> ids{};
};

// Walks the markers up to the frame header; false when the file is no
// lossless JPEG.
bool frameOf(const std::string& d, Frame& f, std::size_t& afterFrame) {
  std::size_t p = 2;
  while (p + 4 <= d.size()) {
    if (static_cast<std::uint8_t>(d[p]) != 0xFF) return false;
    const int m = static_cast<std::uint8_t>(d[p + 1]);
    if (m == 0xFF) {
      ++p;
      continue;
    }
    const std::size_t len = (static_cast<std::uint8_t>(d[p + 2]) << 8) | static_cast<std::uint8_t>(d[p + 3]);
    if (len < 2 || p + 2 + len > d.size()) return false;
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      if (m != 0xC3 || len < 8) return false;
      const char* b = d.data() + p + 4;
      f.precision = static_cast<std::uint8_t>(b[0]);
      f.height = (static_cast<std::uint8_t>(b[1]) << 8) | static_cast<std::uint8_t>(b[2]);
      f.width = (static_cast<std::uint8_t>(b[3]) << 8) | static_cast<std::uint8_t>(b[4]);
      f.components = static_cast<std::uint8_t>(b[5]);
      if (f.components != 1 && f.components != 3) return false;
      if (len < 8 + static_cast<std::size_t>(3 * f.components)) return false;
      for (int c = 0; c < f.components; ++c) {
        f.ids[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(b[6 + 3 * c]);
        if (static_cast<std::uint8_t>(b[7 + 3 * c]) != 0x11) return false;  // no subsampling
      }
      afterFrame = p + 2 + len;
      return f.precision >= 2 && f.precision <= 16 && f.width > 0 && f.height > 0;
    }
    p += 2 + len;
  }
  return false;
}

}  // namespace

bool isLosslessJpeg(const std::string& bytes) {
  Frame f;
  std::size_t after = 0;
  return bytes.size() > 4 && frameOf(bytes, f, after);
}

short readLosslessJpegInfo(const std::string& path, FileInfo& info) {
  std::string d;
  if (short s = readFileBytes(path, d)) return s;
  Frame f;
  std::size_t after = 0;
  if (!frameOf(d, f, after)) return kNotAnImage;
  info.format = kJpeg;
  info.width = f.width;
  info.height = f.height;
  info.bits = static_cast<short>(f.components * 8);
  info.pageCount = 1;
  return kOk;
}

short loadLosslessJpeg(const std::string& path, Document& doc) {
  std::string d;
  if (short s = readFileBytes(path, d)) return s;
  Frame f;
  std::size_t p = 0;
  if (!frameOf(d, f, p)) return kNotAnImage;
  if (static_cast<std::uint64_t>(f.width) * f.height > maxPixels()) return kTooLarge;
  std::array<Table, 4> tables;
  int restartInterval = 0;
  // Tables and the scan header (one scan holding every component).
  while (true) {
    if (p + 4 > d.size() || static_cast<std::uint8_t>(d[p]) != 0xFF) return kDamaged;
    const int m = static_cast<std::uint8_t>(d[p + 1]);
    const std::size_t len = (static_cast<std::uint8_t>(d[p + 2]) << 8) | static_cast<std::uint8_t>(d[p + 3]);
    if (len < 2 || p + 2 + len > d.size()) return kDamaged;
    const std::size_t body = p + 4, end = p + 2 + len;
    if (m == 0xC4) {
      for (std::size_t q = body; q < end;) {
        const int id = static_cast<std::uint8_t>(d[q]) & 3;
        if (q + 17 > end) return kDamaged;
        Table& t = tables[static_cast<std::size_t>(id)];
        t = Table{};
        std::array<int, 17> counts{};
        std::size_t total = 0;
        for (int l = 1; l <= 16; ++l)
          total += static_cast<std::size_t>(counts[static_cast<std::size_t>(l)] = static_cast<std::uint8_t>(
                                                d[q + static_cast<std::size_t>(l)]));
        if (q + 17 + total > end) return kDamaged;
        for (std::size_t i = 0; i < total; ++i) t.values.push_back(static_cast<std::uint8_t>(d[q + 17 + i]));
        int codeValue = 0, k = 0;
        for (int l = 1; l <= 16; ++l) {
          t.valPtr[static_cast<std::size_t>(l)] = k;
          t.minCode[static_cast<std::size_t>(l)] = codeValue;
          codeValue += counts[static_cast<std::size_t>(l)];
          k += counts[static_cast<std::size_t>(l)];
          t.maxCode[static_cast<std::size_t>(l)] = counts[static_cast<std::size_t>(l)] ? codeValue - 1 : -1;
          codeValue <<= 1;
        }
        t.present = true;
        q += 17 + total;
      }
    } else if (m == 0xDD && len >= 4) {
      restartInterval = (static_cast<std::uint8_t>(d[body]) << 8) | static_cast<std::uint8_t>(d[body + 1]);
    } else if (m == 0xDA) {
      break;
    } else if (m == 0xD9) {
      return kDamaged;
    }
    p = end;
  }
  const std::size_t len = (static_cast<std::uint8_t>(d[p + 2]) << 8) | static_cast<std::uint8_t>(d[p + 3]);
  const std::size_t body = p + 4;
  const int ns = static_cast<std::uint8_t>(d[body]);
  if (ns != f.components || len != 6 + 2 * static_cast<std::size_t>(ns)) return kNotSupported;
  std::array<const Table*, 3> table{};
  for (int c = 0; c < ns; ++c) {
    const int id = static_cast<std::uint8_t>(d[body + 1 + 2 * c]);
    if (id != f.ids[static_cast<std::size_t>(c)]) return kNotSupported;  // interleaved in frame order only
    const Table& t =
        tables[static_cast<std::size_t>((static_cast<std::uint8_t>(d[body + 2 + 2 * c]) >> 4) & 3)];
    if (!t.present) return kDamaged;
    table[static_cast<std::size_t>(c)] = &t;
  }
  const int predictor = static_cast<std::uint8_t>(d[body + 1 + 2 * ns]);
  const int pt = static_cast<std::uint8_t>(d[body + 3 + 2 * ns]) & 15;
  if (predictor < 1 || predictor > 7 || pt >= f.precision) return kNotSupported;
  const int w = f.width, h = f.height, nc = f.components;
  const int mask = (1 << (f.precision - pt)) - 1, start = 1 << (f.precision - pt - 1);
  std::vector<int> cur(static_cast<std::size_t>(w) * nc), prev(static_cast<std::size_t>(w) * nc);
  Image img;
  img.pixels.create(h, w, nc == 1 ? CV_8UC1 : CV_8UC3);
  img.bits = nc == 1 ? 8 : 24;
  BitReader br{d, p + 2 + len};
  int sinceRestart = 0;
  bool firstRowOfInterval = true;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (restartInterval && sinceRestart == restartInterval) {
        if (!br.restart()) return kDamaged;
        sinceRestart = 0;
        firstRowOfInterval = true;
      }
      for (int c = 0; c < nc; ++c) {
        const std::size_t i = static_cast<std::size_t>(x) * nc + c;
        int pred;
        const bool restartStart = restartInterval && sinceRestart == 0;
        if ((y == 0 && x == 0) || restartStart)
          pred = start;
        else if (y == 0 || firstRowOfInterval)
          pred = cur[i - nc];
        else if (x == 0)
          pred = prev[i];
        else {
          const int a = cur[i - nc], b = prev[i], cc = prev[i - nc];
          switch (predictor) {
            case 1:
              pred = a;
              break;
            case 2:
              pred = b;
              break;
            case 3:
              pred = cc;
              break;
            case 4:
              pred = a + b - cc;
              break;
            case 5:
              pred = a + ((b - cc) >> 1);
              break;
            case 6:
              pred = b + ((a - cc) >> 1);
              break;
            default:
              pred = (a + b) >> 1;
              break;
          }
        }
        const int cat = decodeSymbol(br, *table[static_cast<std::size_t>(c)]);
        if (cat < 0 || cat > 16 || br.bad) return kDamaged;
        int diff = 0;
        if (cat == 16)
          diff = 32768;
        else if (cat) {
          diff = br.bits(cat);
          if (diff < (1 << (cat - 1))) diff -= (1 << cat) - 1;
        }
        cur[i] = (pred + diff) & mask;
      }
      ++sinceRestart;
    }
    if (firstRowOfInterval && (!restartInterval || sinceRestart >= w)) firstRowOfInterval = false;
    std::uint8_t* o = img.pixels.ptr<std::uint8_t>(y);
    const int shift = f.precision - 8;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < nc; ++c) {
        const int v = cur[static_cast<std::size_t>(x) * nc + c] << pt;
        // R G B components become B G R pixels.
        o[x * nc + (nc == 3 ? 2 - c : 0)] = static_cast<std::uint8_t>(shift >= 0 ? v >> shift : v << -shift);
      }
    std::swap(cur, prev);
  }
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace pv::engine::codecs
