// GIF through giflib: every frame read and composed onto the logical screen
// (disposal and transparency respected); written with palettes of 1..8 bits,
// interlace, the transparent colour and every page of a multi-page image.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct GifCloser {
  void operator()(GifFileType* g) const {
    int err = 0;
    DGifCloseFile(g, &err);
  }
};

std::uint32_t packed(const GifColorType& c) {
  return c.Red | (c.Green << 8) | (static_cast<std::uint32_t>(c.Blue) << 16);
}

short openGif(const std::string& path, std::unique_ptr<GifFileType, GifCloser>& gif) {
  int err = 0;
  gif.reset(DGifOpenFileName(path.c_str(), &err));
  if (!gif) return err == D_GIF_ERR_OPEN_FAILED ? (errno == ENOENT ? kFileNotFound : kCannotOpen) : kNotAnImage;
  return kOk;
}

}  // namespace

short readGifInfo(const std::string& path, FileInfo& out) {
  std::unique_ptr<GifFileType, GifCloser> gif;
  if (short s = openGif(path, gif)) return s;
  out.format = kGif;
  out.width = gif->SWidth;
  out.height = gif->SHeight;
  out.bits = static_cast<short>(gif->SColorMap ? gif->SColorMap->BitsPerPixel : 8);
  // Counting frames needs the whole file; a damaged one still counts what it has.
  if (static_cast<std::uint64_t>(gif->SWidth) * gif->SHeight > maxPixels()) return kTooLarge;
  DGifSlurp(gif.get());
  out.pageCount = std::max(1, gif->ImageCount);
  if (gif->ImageCount > 0 && gif->SavedImages[0].ImageDesc.ColorMap)
    out.bits = static_cast<short>(gif->SavedImages[0].ImageDesc.ColorMap->BitsPerPixel);
  return kOk;
}

short loadGif(const std::string& path, int page, int pageCount, Document& doc) {
  std::unique_ptr<GifFileType, GifCloser> gif;
  if (short s = openGif(path, gif)) return s;
  const int w = gif->SWidth, h = gif->SHeight;
  if (w <= 0 || h <= 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels()) return kTooLarge;
  if (DGifSlurp(gif.get()) != GIF_OK && gif->ImageCount == 0) return kDamaged;
  if (gif->ImageCount == 0) return kDamaged;
  // Frames of a truncated file that arrived whole are still shown; a frame
  // whose data is missing marks the file damaged.
  for (int i = 0; i < gif->ImageCount; ++i)
    if (!gif->SavedImages[i].RasterBits) return kDamaged;

  const int wanted = page <= 0 ? 0 : page - 1;
  if (pageCount != -1 && wanted >= gif->ImageCount) return kInvalidParameter;
  const int last = pageCount == -1 ? gif->ImageCount - 1 : wanted;

  // The screen starts transparent where the first frame says so, where it
  // leaves the screen uncovered, or where a frame is disposed to the
  // background; transparent pixels carry a key colour that no palette uses
  // (the first frame's own transparent colour when nothing else has it).
  const auto gcbOf = [&](int i) {
    GraphicsControlBlock g{};
    g.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(gif.get(), i, &g);
    return g;
  };
  std::set<std::uint32_t> used;
  bool transparent = false;
  for (int i = 0; i <= last; ++i) {
    const GifImageDesc& d = gif->SavedImages[i].ImageDesc;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map) return kDamaged;
    const GraphicsControlBlock g = gcbOf(i);
    for (int c = 0; c < map->ColorCount; ++c)
      if (c != g.TransparentColor) used.insert(packed(map->Colors[c]));
    if (g.DisposalMode == DISPOSE_BACKGROUND) transparent = true;
    if (i == 0 && (d.Left > 0 || d.Top > 0 || d.Left + d.Width < w || d.Top + d.Height < h)) transparent = true;
  }
  std::uint32_t preferred = 0x00FF00FE;
  {
    const GraphicsControlBlock g0 = gcbOf(0);
    const SavedImage& f0 = gif->SavedImages[0];
    const ColorMapObject* map0 = f0.ImageDesc.ColorMap ? f0.ImageDesc.ColorMap : gif->SColorMap;
    if (g0.TransparentColor >= 0 && g0.TransparentColor < map0->ColorCount) {
      transparent = true;
      preferred = packed(map0->Colors[g0.TransparentColor]);
    }
  }
  const std::uint32_t transparentColour = unusedColour(preferred, [&](std::uint32_t c) { return used.count(c) > 0; });
  const cv::Scalar key = bgrOf(transparentColour);
  cv::Mat canvas(h, w, CV_8UC3, transparent ? key : cv::Scalar(0, 0, 0));
  const bool firstTransparent = transparent;
  Document out;
  for (int i = 0; i <= last; ++i) {
    const SavedImage& frame = gif->SavedImages[i];
    const GifImageDesc& d = frame.ImageDesc;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    const GraphicsControlBlock gcb = gcbOf(i);
    cv::Mat before = gcb.DisposalMode == DISPOSE_PREVIOUS ? canvas.clone() : cv::Mat();
    for (int y = 0; y < d.Height; ++y) {
      const int cy = d.Top + y;
      if (cy < 0 || cy >= h) continue;
      unsigned char* row = canvas.ptr<unsigned char>(cy);
      for (int x = 0; x < d.Width; ++x) {
        const int cx = d.Left + x;
        if (cx < 0 || cx >= w) continue;
        const int idx = frame.RasterBits[static_cast<std::size_t>(y) * d.Width + x];
        if (idx == gcb.TransparentColor) continue;
        if (idx >= map->ColorCount) continue;
        row[cx * 3 + 0] = map->Colors[idx].Blue;
        row[cx * 3 + 1] = map->Colors[idx].Green;
        row[cx * 3 + 2] = map->Colors[idx].Red;
      }
    }
    if (i >= wanted) {
      Image img;
      img.pixels = canvas.clone();
      img.bits = map->BitsPerPixel;
      for (int c = 0; c < map->ColorCount; ++c) img.palette.push_back(packed(map->Colors[c]));
      img.useTransparentColor = firstTransparent;
      img.transparentColor = transparentColour;
      if (firstTransparent) addPaletteColour(img, transparentColour);  // the key joins the palette
      // A composed frame may hold colours of earlier frames' palettes.
      if (i > 0 && !exactColours(img.pixels, std::size_t{1} << img.bits)) {
        img.palette.clear();
        img.bits = 24;
      }
      out.pages.push_back(std::move(img));
    }
    if (gcb.DisposalMode == DISPOSE_BACKGROUND) {
      canvas(cv::Rect(d.Left, d.Top, d.Width, d.Height) & cv::Rect(0, 0, w, h)).setTo(key);
    } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
      canvas = before;
    }
  }
  doc = std::move(out);
  doc.current = 0;
  return kOk;
}

namespace {

int appendBytes(GifFileType* gif, const GifByteType* data, int len) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
  return len;
}

}  // namespace

short saveGif(const std::string& path, const std::vector<Image>& pages, int bits, bool interlaced) {
  if (pages.empty() || pages[0].pixels.empty()) return kInvalidParameter;
  const int w = pages[0].width(), h = pages[0].height();
  std::string bytes;
  int err = 0;
  GifFileType* gif = EGifOpen(&bytes, appendBytes, &err);
  if (!gif) return kOutOfMemory;
  auto fail = [&](short status) {
    EGifCloseFile(gif, &err);
    return status;
  };
  EGifSetGifVersion(gif, true);
  if (EGifPutScreenDesc(gif, w, h, 8, 0, nullptr) != GIF_OK) return fail(kWriteError);
  if (pages.size() > 1) {
    // Loop the animation forever.
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, "\x01\x00\x00");
    EGifPutExtensionTrailer(gif);
  }
  std::vector<GifByteType> line(static_cast<std::size_t>(w));
  for (const Image& page : pages) {
    const int b = std::clamp(bits == 0 ? (page.bits <= 8 ? page.bits : 8) : bits, 1, 8);
    cv::Mat px = page.pixels.clone();
    if (px.cols != w || px.rows != h) cv::resize(px, px, cv::Size(w, h), 0, 0, cv::INTER_NEAREST);
    const IndexedImage indexed = toIndexed(px, b);
    Owned<ColorMapObject, GifFreeMapObject> map(GifMakeMapObject(1 << b, nullptr));
    if (!map) return fail(kOutOfMemory);
    for (std::size_t i = 0; i < indexed.palette.size(); ++i) {
      const std::uint32_t c = indexed.palette[i];
      map->Colors[i] = {static_cast<GifByteType>(c & 0xFF), static_cast<GifByteType>((c >> 8) & 0xFF),
                        static_cast<GifByteType>((c >> 16) & 0xFF)};
    }
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.DelayTime = pages.size() > 1 ? 10 : 0;
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    if (page.useTransparentColor)
      if (int i = indexed.indexOf(page.transparentColor); i >= 0) gcb.TransparentColor = i;
    GifByteType ext[4];
    const std::size_t extLen = EGifGCBToExtension(&gcb, ext);
    if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(extLen), ext) != GIF_OK) return fail(kWriteError);
    if (EGifPutImageDesc(gif, 0, 0, w, h, interlaced, map.get()) != GIF_OK) return fail(kWriteError);
    // Interlaced rows go out in the four passes of the format.
    std::vector<int> order;
    if (interlaced) {
      static constexpr int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < h; y += step[p]) order.push_back(y);
    } else {
      for (int y = 0; y < h; ++y) order.push_back(y);
    }
    for (int y : order) {
      std::copy_n(indexed.indices.ptr<std::uint8_t>(y), w, line.begin());
      if (EGifPutLine(gif, line.data(), w) != GIF_OK) return fail(kWriteError);
    }
  }
  if (EGifCloseFile(gif, &err) != GIF_OK) return kWriteError;
  return writeFileAtomically(path, bytes);
}

}  // namespace pv::engine::codecs
