// Autodesk animations (FLI and FLC), our own codec. Read: every frame of
// either kind with 64- and 256-level colour maps and the full (byte run,
// copy, black) and delta (FLI line, FLC word) chunks; each frame becomes a
// page. Written: FLC with one full byte-run frame and colour map per page
// on a canvas that holds the largest page.
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/bytes.h"
#include "engine/codecs/own.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

enum : std::uint32_t {
  kColor256 = 4, kDeltaFlc = 7, kColor64 = 11, kDeltaFli = 12, kBlack = 13, kByteRun = 15, kCopy = 16,
  kFrame = 0xF1FA,
};

struct Canvas {
  int w, h;
  cv::Mat idx;                       // CV_8UC1
  std::vector<std::uint32_t> colours = std::vector<std::uint32_t>(256, 0);
};

bool colourChunk(ByteReader r, bool sixBit, Canvas& c) {
  const std::uint32_t packets = r.u16();
  std::uint32_t at = 0;
  for (std::uint32_t p = 0; p < packets && !r.overrun(); ++p) {
    at += r.u8();
    std::uint32_t n = r.u8();
    if (n == 0) n = 256;
    for (std::uint32_t i = 0; i < n && at < 256; ++i, ++at) {
      std::uint32_t red = r.u8(), green = r.u8(), blue = r.u8();
      if (sixBit) red = (red & 63) * 255 / 63, green = (green & 63) * 255 / 63, blue = (blue & 63) * 255 / 63;
      c.colours[at] = red | (green << 8) | (blue << 16);
    }
  }
  return !r.overrun();
}

bool byteRun(ByteReader r, Canvas& c) {
  for (int y = 0; y < c.h; ++y) {
    r.u8();  // packet count, unreliable for wide frames
    std::uint8_t* o = c.idx.ptr<std::uint8_t>(y);
    for (int x = 0; x < c.w;) {
      const int n = static_cast<std::int8_t>(r.u8());
      if (r.overrun()) return false;
      if (n > 0) {
        const std::uint8_t v = static_cast<std::uint8_t>(r.u8());
        for (int i = 0; i < n && x < c.w; ++i) o[x++] = v;
      } else {
        for (int i = 0; i < -n; ++i) {
          const std::uint8_t v = static_cast<std::uint8_t>(r.u8());
          if (x < c.w) o[x++] = v;
        }
      }
    }
  }
  return !r.overrun();
}

// FLI line delta: the first line and count, then per line packets of a
// skip and a signed count (positive: literal bytes, negative: a run).
bool deltaFli(ByteReader r, Canvas& c) {
  const std::uint32_t first = r.u16(), lines = r.u16();
  for (std::uint32_t l = 0; l < lines && !r.overrun(); ++l) {
    const std::uint32_t y = first + l;
    const std::uint32_t packets = r.u8();
    std::uint32_t x = 0;
    for (std::uint32_t p = 0; p < packets && !r.overrun(); ++p) {
      x += r.u8();
      const int n = static_cast<std::int8_t>(r.u8());
      auto put = [&](std::uint32_t v) {
        if (y < static_cast<std::uint32_t>(c.h) && x < static_cast<std::uint32_t>(c.w)) c.idx.at<std::uint8_t>(static_cast<int>(y), static_cast<int>(x)) = static_cast<std::uint8_t>(v);
        ++x;
      };
      if (n > 0) {
        for (int i = 0; i < n; ++i) put(r.u8());
      } else {
        const std::uint32_t v = r.u8();
        for (int i = 0; i < -n; ++i) put(v);
      }
    }
  }
  return !r.overrun();
}

// FLC word delta: per line a word of packet count, or of skipped lines
// (top bits 11), or of the last pixel (top bits 10); packets of a skip and a
// signed count of pixel pairs.
bool deltaFlc(ByteReader r, Canvas& c) {
  std::uint32_t lines = r.u16();
  int y = 0;
  while (lines > 0 && !r.overrun()) {
    const std::uint32_t word = r.u16();
    if ((word & 0xC000) == 0xC000) {
      y += 0x10000 - static_cast<int>(word);
      continue;
    }
    if ((word & 0xC000) == 0x8000) {
      if (y < c.h && c.w > 0) c.idx.at<std::uint8_t>(y, c.w - 1) = static_cast<std::uint8_t>(word & 0xFF);
      continue;
    }
    std::uint32_t x = 0;
    for (std::uint32_t p = 0; p < word && !r.overrun(); ++p) {
      x += r.u8();
      const int n = static_cast<std::int8_t>(r.u8());
      auto put = [&](std::uint32_t v) {
        if (y < c.h && x < static_cast<std::uint32_t>(c.w)) c.idx.at<std::uint8_t>(y, static_cast<int>(x)) = static_cast<std::uint8_t>(v);
        ++x;
      };
      if (n > 0) {
        for (int i = 0; i < n; ++i) put(r.u8()), put(r.u8());
      } else {
        const std::uint32_t a = r.u8(), b = r.u8();
        for (int i = 0; i < -n; ++i) put(a), put(b);
      }
    }
    ++y;
    --lines;
  }
  return !r.overrun();
}

Image pageOf(const Canvas& c) { return pageOfIndices(c.idx, c.colours, 8); }

void putChunk(std::string& out, std::uint32_t type, const std::string& data) {
  std::string body = data;
  if (body.size() % 2) body.push_back('\0');
  put32(out, static_cast<std::uint32_t>(6 + body.size()));
  put16(out, type);
  out += body;
}

}  // namespace

bool sniffFlic(const std::string& head, std::string_view) {
  if (head.size() < 128) return false;
  const std::uint32_t magic = static_cast<std::uint8_t>(head[4]) | (static_cast<std::uint8_t>(head[5]) << 8);
  return magic == 0xAF11 || magic == 0xAF12;
}

short flicInfo(const std::string& bytes, FileInfo& info) {
  ByteReader h(bytes, 6);
  const std::uint32_t frames = h.u16(), w = h.u16(), ht = h.u16(), depth = h.u16();
  if (h.overrun() || w == 0 || ht == 0 || (depth != 8 && depth != 0)) return kDamaged;
  info.width = static_cast<int>(w);
  info.height = static_cast<int>(ht);
  info.bits = 8;
  info.pageCount = static_cast<int>(std::max<std::uint32_t>(frames, 1));
  return kOk;
}

short decodeFlic(const std::string&, const std::string& bytes, Document& doc) {
  ByteReader h(bytes, 4);
  const bool fli = h.u16() == 0xAF11;
  const std::uint32_t frames = h.u16(), w = h.u16(), ht = h.u16(), depth = h.u16();
  if (w == 0 || ht == 0 || (depth != 8 && depth != 0)) return kDamaged;
  if (static_cast<std::uint64_t>(w) * ht * std::max<std::uint32_t>(frames, 1) > maxPixels()) return kTooLarge;
  Canvas c{static_cast<int>(w), static_cast<int>(ht), cv::Mat(static_cast<int>(ht), static_cast<int>(w), CV_8UC1, cv::Scalar(0))};
  ByteReader r(bytes, 128);
  if (!fli) r.seek(ByteReader(bytes, 80).u32());  // the first frame
  doc.pages.clear();
  while (doc.pages.size() < frames && r.left() >= 6) {
    const std::size_t at = r.pos();
    std::uint32_t size = r.u32();
    const std::uint32_t type = r.u16();
    // Some writers leave the last frame's padding byte out; a frame cut
    // shorter than that is damaged.
    if (size < 6 || size > bytes.size() - at + 1) break;
    size = static_cast<std::uint32_t>(std::min<std::size_t>(size, bytes.size() - at));
    if (type == kFrame) {
      const std::uint32_t chunks = r.u16();
      std::size_t sub = at + 16;
      for (std::uint32_t i = 0; i < chunks && sub + 6 <= at + size; ++i) {
        ByteReader s(bytes, sub);
        const std::uint32_t csize = s.u32(), ctype = s.u16();
        if (csize < 6 || csize > at + size - sub) return doc.pages.empty() ? kDamaged : kOk;
        ByteReader data(reinterpret_cast<const std::uint8_t*>(bytes.data()) + sub + 6, csize - 6);
        bool ok = true;
        switch (ctype) {
          case kColor256: ok = colourChunk(data, false, c); break;
          case kColor64: ok = colourChunk(data, true, c); break;
          case kByteRun: ok = byteRun(data, c); break;
          case kDeltaFli: ok = deltaFli(data, c); break;
          case kDeltaFlc: ok = deltaFlc(data, c); break;
          case kBlack: c.idx.setTo(0); break;
          case kCopy:
            if (data.left() < static_cast<std::size_t>(w) * ht) ok = false;
            else std::memcpy(c.idx.data, bytes.data() + sub + 6, static_cast<std::size_t>(w) * ht);
            break;
          default: break;  // stamps and unknown chunks
        }
        if (!ok) return doc.pages.empty() ? kDamaged : kOk;
        sub += csize;
      }
      doc.pages.push_back(pageOf(c));
    }
    r.seek(at + size);
  }
  return doc.pages.empty() ? kDamaged : kOk;
}

short encodeFlic(const std::vector<Image>& pages, int, int, std::string& out) {
  int w = 0, h = 0;
  for (const Image& p : pages) w = std::max(w, p.width()), h = std::max(h, p.height());
  if (w > 0xFFFF || h > 0xFFFF || pages.size() > 0xFFFF) return kInvalidParameter;
  std::string frames;
  std::size_t firstFrame = 0;
  for (const Image& page : pages) {
    const IndexedImage ix = toIndexed(page.pixels, 8);
    cv::Mat idx(h, w, CV_8UC1, cv::Scalar(0));
    ix.indices.copyTo(idx(cv::Rect(0, 0, page.width(), page.height())));
    std::string colours;
    put16(colours, 1);
    put8(colours, 0), put8(colours, 0);  // from index 0, all 256
    for (std::size_t i = 0; i < 256; ++i) {
      const std::uint32_t c = i < ix.palette.size() ? ix.palette[i] : 0;
      put8(colours, c), put8(colours, c >> 8), put8(colours, c >> 16);
    }
    std::string run;
    for (int y = 0; y < h; ++y) {
      const std::uint8_t* p = idx.ptr<std::uint8_t>(y);
      const std::size_t countAt = run.size();
      run.push_back('\0');
      std::uint32_t packets = 0;
      // Runs are count, index; literals minus the count, indices.
      splitRuns(p, static_cast<std::size_t>(w), 127, 2, [&](bool repeat, const std::uint8_t* q, std::size_t n) {
        put8(run, repeat ? static_cast<std::uint32_t>(n) : 256 - static_cast<std::uint32_t>(n));
        run.append(reinterpret_cast<const char*>(q), repeat ? 1 : n);
        ++packets;
      });
      run[countAt] = static_cast<char>(std::min<std::uint32_t>(packets, 255));
    }
    std::string chunks;
    putChunk(chunks, kColor256, colours);
    putChunk(chunks, kByteRun, run);
    put32(frames, static_cast<std::uint32_t>(16 + chunks.size()));
    put16(frames, kFrame);
    put16(frames, 2);
    frames.append(8, '\0');
    frames += chunks;
    if (!firstFrame) firstFrame = frames.size();
  }
  out.clear();
  put32(out, static_cast<std::uint32_t>(128 + frames.size()));
  put16(out, 0xAF12);
  put16(out, static_cast<std::uint32_t>(pages.size()));
  put16(out, static_cast<std::uint32_t>(w)), put16(out, static_cast<std::uint32_t>(h));
  put16(out, 8);
  put16(out, 3);   // flags: written completely
  put32(out, 70);  // milliseconds a frame
  out.append(2 + 16, '\0');
  put16(out, 1), put16(out, 1);  // aspect
  out.append(38, '\0');
  put32(out, 128);  // first frame
  put32(out, static_cast<std::uint32_t>(128 + (pages.size() > 1 ? firstFrame : 0)));  // second frame
  out.append(40, '\0');
  out += frames;
  return kOk;
}

}  // namespace pv::engine::codecs
