// Every format that our own codecs do not read goes through ImageMagick
// (MagickCore, the C layer under Magick++: no exceptions to cross, and the
// file's bytes are handed over as a blob so a path is never parsed as one of
// ImageMagick's "coder:file" forms). Our own policy file lifts the distro's
// caps on width, height and area (our pixel limit applies instead) and shuts
// the coders that read other files or run programs.
#include <magick/MagickCore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/process.h"
#include "engine/quantize.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

using ImageInfoOwned = Owned<ImageInfo, DestroyImageInfo>;
using MagickException = Owned<ExceptionInfo, DestroyExceptionInfo>;
using MagickImage = Owned<::Image, DestroyImageList>;

// Format codes of the formats read here, by ImageMagick's coder name. Codes
// from 1000 on are our own for formats that the output catalogue lacks.
struct CoderCode {
  const char* coder;
  short code;
};
constexpr CoderCode kCoderCodes[] = {
    {"PCX", kPcx},       {"DCX", kDcx},       {"TGA", kTga},      {"PSD", kPsd},    {"PSB", kPsd},
    {"ICO", kIcon},      {"ICON", kIcon},     {"CUR", kCursor},   {"PICT", kPict},  {"PCT", kPict},
    {"SUN", kSunRaster}, {"RAS", kSunRaster}, {"SGI", kSgi},      {"WBMP", kWbmp},  {"XBM", kXbm},
    {"XPM", kXpm},       {"XWD", kXwd11},     {"PBM", kPbm},      {"PGM", kPgm},    {"PPM", kPpm},
    {"PNM", kPpm},       {"PAM", kPam},       {"CALS", kCals},    {"CIN", kCineon}, {"FAX", kFaxG3},
    {"G3", kFaxG3},      {"WMF", kWmf},       {"EMF", kEmf},      {"WPG", kWpg},    {"MAC", kMacPaint},
    {"SCT", kScitexCt},  {"PCD", kPhotoCd},   {"FPX", kFlashPix}, {"DDS", kDds},    {"WEBP", kWebp},
    {"JP2", kJpeg2000},  {"J2K", kJpeg2000},  {"JPC", kJpeg2000}, {"PFM", kPfm},    {"HDR", kHdr},
    {"FITS", kFits},     {"XCF", kXcf},       {"MIFF", kMiff},    {"VIFF", kViff},  {"DPX", kDpx},
    {"EXR", kExr},       {"JNG", kJng},       {"MNG", kMng},      {"OTB", kOtb},    {"PALM", kPalm},
    {"PIX", kPix},       {"RLA", kRla},       {"VICAR", kVicar},  {"AVS", kAvs},    {"MTV", kMtv},
    {"SFW", kSfw},       {"HRZ", kHrz},       {"DIB", kBmp},      {"ICB", kTga},    {"VDA", kTga},
    {"VST", kTga},
};

short codeOfCoder(const char* coder, const ::Image* image) {
  for (const CoderCode& row : kCoderCodes)
    if (std::strcmp(row.coder, coder) == 0) {
      if (row.code == kTga && image->compression == RLECompression) return kTgaRle;
      if (row.code == kSgi && image->compression == RLECompression) return kSgiRle;
      return row.code;
    }
  return kOtherMagick;
}

short statusOf(const ExceptionInfo* e) {
  switch (e->severity) {
    case ResourceLimitError:
    case ResourceLimitFatalError:
      return kTooLarge;
    case MissingDelegateError:
    case MissingDelegateFatalError:
      return kNotAnImage;
    case PolicyError:
    case PolicyFatalError:
      return kNotSupported;
    case FileOpenError:
    case FileOpenFatalError:
      return kCannotOpen;
    default:
      return kDamaged;
  }
}

// The file's bytes and a name hint made of its extension alone (formats such
// as TGA carry no signature of their own).
struct Source {
  std::string bytes;
  std::string hint;
};

// Extensions that name an ImageMagick coder by another name.
std::string coderOfExtension(std::string ext) {
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static constexpr std::pair<const char*, const char*> kAliases[] = {
      {"CT", "SCT"}, {"DJV", "DJVU"}, {"FIT", "FITS"}};
  for (const auto& [alias, coder] : kAliases)
    if (ext == alias) return coder;
  return ext;
}

short readSource(const std::string& path, Source& src) {
  if (short s = readFileBytes(path, src.bytes)) return s;
  if (src.bytes.empty()) return kNotAnImage;
  const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ext = path.substr(dot + 1);
  src.hint = "image";
  // The content's signature decides when it has one (a DCX named .pcx); the
  // extension only helps formats without a signature.
  startMagick();
  MagickException probe(AcquireExceptionInfo());
  const MagicInfo* magic = GetMagicInfo(reinterpret_cast<const unsigned char*>(src.bytes.data()),
                                        std::min<std::size_t>(src.bytes.size(), 4096), probe.get());
  if (src.bytes.size() >= 4 && std::memcmp(src.bytes.data(), "\xB1\x68\xDE\x3A", 4) == 0) {
    src.hint += ".dcx";  // ImageMagick knows this signature only in its DCX coder
  } else if (magic && magic->name &&
             std::all_of(magic->name, magic->name + std::strlen(magic->name),
                         [](unsigned char c) { return std::isalnum(c); })) {
    src.hint += "." + std::string(magic->name);
  } else if (!ext.empty() && ext.size() < 10 &&
             std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c); })) {
    src.hint += "." + coderOfExtension(ext);
  }
  return kOk;
}

// Pings or reads the frames [first, first + count) (count 0: all).
MagickImage readBlob(const Source& src, bool ping, std::size_t first, std::size_t count, short& status) {
  startMagick();
  ImageInfoOwned info(AcquireImageInfo());
  MagickException exc(AcquireExceptionInfo());
  CopyMagickString(info->filename, src.hint.c_str(), MaxTextExtent);
  info->ping = ping ? MagickTrue : MagickFalse;
  if (count > 0) {
    info->scene = first;
    info->number_scenes = count;
  }
  MagickImage image(ping ? PingBlob(info.get(), src.bytes.data(), src.bytes.size(), exc.get())
                         : BlobToImage(info.get(), src.bytes.data(), src.bytes.size(), exc.get()));
  if (!image || exc->severity >= ErrorException) {
    status = exc->severity >= ErrorException ? statusOf(exc.get()) : static_cast<short>(kNotAnImage);
    // A decode that failed on content that no format claims by its signature
    // was no image at all (a text file named .png), not a damaged one.
    MagickException probe(AcquireExceptionInfo());
    const MagicInfo* magic = GetMagicInfo(reinterpret_cast<const unsigned char*>(src.bytes.data()),
                                          std::min<std::size_t>(src.bytes.size(), 4096), probe.get());
    if (status == kDamaged && (!magic || !magic->name)) status = kNotAnImage;
    return nullptr;
  }
  status = kOk;
  return image;
}

// Layered Photoshop files list the composite first and then each layer; the
// composite is the picture.
bool compositeOnly(const ::Image* image) {
  return std::strcmp(image->magick, "PSD") == 0 || std::strcmp(image->magick, "PSB") == 0;
}

// Formats that can hold more than 8 bits a sample; for the rest ImageMagick's
// reported depth is its own quantum depth, not the file's.
bool deepCoder(const char* coder) {
  static constexpr const char* kDeep[] = {"PGM",  "PPM", "PNM",  "PAM", "SGI", "PSD", "PSB",
                                          "CIN",  "DPX", "FITS", "EXR", "HDR", "PFM", "MIFF",
                                          "VIFF", "JP2", "J2K",  "JPC", "RLA"};
  for (const char* c : kDeep)
    if (std::strcmp(c, coder) == 0) return true;
  return false;
}

// Formats that hold black and white only.
bool bilevelCoder(const char* coder) {
  static constexpr const char* kBilevel[] = {"WBMP", "XBM", "PBM", "FAX", "G3", "G4", "CALS", "MAC", "OTB"};
  for (const char* c : kBilevel)
    if (std::strcmp(c, coder) == 0) return true;
  return false;
}

short bitsOf(::Image* image) {
  if (bilevelCoder(image->magick)) return 1;
  int depth = static_cast<int>(std::clamp<std::size_t>(image->depth, 1, 16));
  if (!deepCoder(image->magick)) depth = std::min(depth, 8);
  if (image->storage_class == PseudoClass && image->colors > 0 && image->colors <= 256 && !image->matte) {
    int bits = 1;
    while ((std::size_t{1} << bits) < image->colors) ++bits;
    return static_cast<short>(bits);
  }
  ExceptionInfo* e = AcquireExceptionInfo();
  const bool grey = image->colorspace == GRAYColorspace || IsGrayImage(image, e) != MagickFalse;
  DestroyExceptionInfo(e);
  const int channels = grey ? 1 : image->colorspace == CMYKColorspace ? 4 : 3;
  return static_cast<short>((channels + (image->matte ? 1 : 0)) * depth);
}

short toPage(::Image* frame, Image& img) {
  const std::size_t w = frame->columns, h = frame->rows;
  if (w == 0 || h == 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels() || w > 0x7FFFFFF || h > 0x7FFFFFF) return kTooLarge;
  MagickException exc(AcquireExceptionInfo());
  if (frame->colorspace != sRGBColorspace && frame->colorspace != GRAYColorspace &&
      frame->colorspace != RGBColorspace)
    TransformImageColorspace(frame, sRGBColorspace);
  const bool alpha = frame->matte != MagickFalse;
  const bool grey = !alpha && IsGrayImage(frame, exc.get()) != MagickFalse;
  const int rows = static_cast<int>(h), cols = static_cast<int>(w);
  img.pixels.create(rows, cols, alpha ? CV_8UC4 : grey ? CV_8UC1 : CV_8UC3);
  if (!ExportImagePixels(frame, 0, 0, w, h,
                         alpha  ? "BGRA"
                         : grey ? "I"
                                : "BGR",
                         CharPixel, img.pixels.data, exc.get()))
    return kDamaged;
  // ImageMagick records a Targa file's row and column order without applying
  // it; the picture is turned upright here.
  if (std::strcmp(frame->magick, "TGA") == 0) {
    switch (frame->orientation) {
      case BottomLeftOrientation:
        cv::flip(img.pixels, img.pixels, 0);
        break;
      case BottomRightOrientation:
        cv::flip(img.pixels, img.pixels, -1);
        break;
      case TopRightOrientation:
        cv::flip(img.pixels, img.pixels, 1);
        break;
      default:
        break;
    }
  }
  img.bits = alpha  ? 32
             : grey ? std::min<int>(8, static_cast<int>(std::max<std::size_t>(frame->depth, 1)))
                    : 24;
  if (grey && img.bits > 1 && img.bits < 8) img.bits = 8;
  if (!alpha && !grey && frame->storage_class == PseudoClass && frame->colors > 0 && frame->colors <= 256) {
    for (std::size_t i = 0; i < frame->colors; ++i) {
      const PixelPacket& c = frame->colormap[i];
      img.palette.push_back(ScaleQuantumToChar(c.red) | (ScaleQuantumToChar(c.green) << 8) |
                            (static_cast<std::uint32_t>(ScaleQuantumToChar(c.blue)) << 16));
    }
    img.bits = bitsOf(frame);
  }
  double xres = frame->x_resolution, yres = frame->y_resolution;
  if (frame->units == PixelsPerCentimeterResolution) xres *= 2.54, yres *= 2.54;
  if (xres >= 1 && xres < 100000) img.xDpi = static_cast<int>(xres + 0.5);
  if (yres >= 1 && yres < 100000) img.yDpi = static_cast<int>(yres + 0.5);
  return kOk;
}

}  // namespace

// A Photo CD image pac holds its resolutions as scenes 1 (Base/16) to 5
// (16Base); a plain read gives the smallest, so the scene is always named.
constexpr std::size_t kPcdBase = 3;

short readMagickInfo(const std::string& path, FileInfo& info) {
  Source src;
  if (short s = readSource(path, src)) return s;
  short status;
  MagickImage image = readBlob(src, true, 0, 0, status);
  if (!image) return status;
  if (std::strcmp(image->magick, "PCD") == 0) {  // the facts of the Base resolution
    image = readBlob(src, true, kPcdBase, 1, status);
    if (!image) return status;
  }
  info.format = codeOfCoder(image->magick, image.get());
  info.width = static_cast<int>(std::min<std::size_t>(image->columns, 0x7FFFFFFF));
  info.height = static_cast<int>(std::min<std::size_t>(image->rows, 0x7FFFFFFF));
  info.bits = bitsOf(image.get());
  info.pageCount = compositeOnly(image.get()) || std::strcmp(image->magick, "PCD") == 0
                       ? 1
                       : static_cast<int>(std::min<std::size_t>(GetImageListLength(image.get()), 0x7FFFFFFF));
  return kOk;
}

namespace {

short loadPcdScene(const Source& src, std::size_t scene, Document& doc) {
  short status;
  MagickImage pinged = readBlob(src, true, scene, 1, status);
  if (!pinged) return status;
  if (static_cast<std::uint64_t>(pinged->columns) * pinged->rows > maxPixels()) return kTooLarge;
  pinged.reset();
  MagickImage image = readBlob(src, false, scene, 1, status);
  if (!image) return status;
  Image img;
  if (short s = toPage(image.get(), img)) return s;
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace

short pcdResolutions(const std::string& path, std::vector<std::pair<int, int>>& sizes) {
  sizes.clear();
  Source src;
  if (short s = readSource(path, src)) return s;
  for (std::size_t scene = 1; scene <= 5; ++scene) {
    short status;
    MagickImage pinged = readBlob(src, true, scene, 1, status);
    if (!pinged || std::strcmp(pinged->magick, "PCD") != 0) break;  // the larger ones are not in the file
    sizes.emplace_back(static_cast<int>(pinged->columns), static_cast<int>(pinged->rows));
  }
  return sizes.empty() ? kDamaged : kOk;
}

short loadPcd(const std::string& path, int resolution, Document& doc) {
  Source src;
  if (short s = readSource(path, src)) return s;
  return loadPcdScene(src, static_cast<std::size_t>(std::clamp(resolution, 1, 5)), doc);
}

short loadMagick(const std::string& path, int page, int pageCount, Document& doc) {
  Source src;
  if (short s = readSource(path, src)) return s;
  short status;
  // Sizes first, so an oversized picture is refused before it is decoded.
  MagickImage pinged = readBlob(src, true, 0, 0, status);
  if (!pinged) return status;
  if (std::strcmp(pinged->magick, "PCD") == 0) return loadPcdScene(src, kPcdBase, doc);
  const bool composite = compositeOnly(pinged.get());
  const std::size_t frames = composite ? 1 : GetImageListLength(pinged.get());
  const std::size_t first = static_cast<std::size_t>(std::max(page, 1) - 1);
  if (first >= frames) return kInvalidParameter;
  const std::size_t count = pageCount < 0 ? frames - first : 1;
  for (std::size_t i = first; i < first + count; ++i) {
    const ::Image* f = GetImageFromList(pinged.get(), static_cast<ssize_t>(i));
    if (f && static_cast<std::uint64_t>(f->columns) * f->rows > maxPixels()) return kTooLarge;
  }
  pinged.reset();
  MagickImage image = readBlob(src, false, first, count, status);
  if (!image) return status;
  // A coder that ignores the frame range returns every frame.
  const std::size_t offset = GetImageListLength(image.get()) > count ? first : 0;
  Document out;
  for (std::size_t i = 0; i < count; ++i) {
    ::Image* frame = GetImageFromList(image.get(), static_cast<ssize_t>(offset + i));
    if (!frame) break;
    Image img;
    if (short s = toPage(frame, img)) return s;
    out.pages.push_back(std::move(img));
  }
  if (out.pages.empty()) return kDamaged;
  doc = std::move(out);
  doc.current = 0;
  return kOk;
}

}  // namespace pv::engine::codecs

// ---- Writing ----------------------------------------------------------------

namespace pv::engine::codecs {

namespace {

// How one file format code is written through ImageMagick. The coder is named
// explicitly, so a missing encoder is an error and never a silent PNG.
struct MagickWriter {
  short code;
  const char* coder;
  CompressionType compression;
  bool greyAt8;            // 8 bits means grey, not a palette
  bool bilevelOnly;        // the format holds black and white only
  bool noPalette = false;  // palette depths are written as colour (reduced colours)
};

constexpr MagickWriter kMagickWriters[] = {
    {kPcx, "PCX", RLECompression, false, false},
    {kTga, "TGA", NoCompression, false, false},
    {kTgaRle, "TGA", RLECompression, false, false},
    // ImageMagick's indexed Photoshop files cannot be read back (by itself
    // either), so up to 8 bits the reduced colours are stored as RGB.
    {kPsd, "PSD", RLECompression, false, false, true},
    {kPict, "PICT", UndefinedCompression, false, false},
    {kSunRaster, "SUN", UndefinedCompression, false, false},
    {kSgi, "SGI", NoCompression, true, false},
    {kSgiRle, "SGI", RLECompression, true, false},
    {kWbmp, "WBMP", UndefinedCompression, false, true},
    {kXbm, "XBM", UndefinedCompression, false, true},
    {kXpm, "XPM", UndefinedCompression, false, false},
    {kXwd11, "XWD", UndefinedCompression, false, false},
    {kPbmAscii, "PBM", NoCompression, false, true},  // plain (ASCII)
    {kPbm, "PBM", UndefinedCompression, false, true},
    {kPgmAscii, "PGM", NoCompression, true, false},
    {kPgm, "PGM", UndefinedCompression, true, false},
    {kPpmAscii, "PPM", NoCompression, false, false},
    {kPpm, "PPM", UndefinedCompression, false, false},
    // A CALS raster file is a type 1 file, whose pixels are always G4.
    {kCals, "CALS", Group4Compression, false, true},
    {kCalsG4, "CALS", Group4Compression, false, true},
    {kCalsFaxG4, "CALS", Group4Compression, false, true},
    {kCineon, "CIN", UndefinedCompression, false, false},
    {kFaxG3, "FAX", FaxCompression, false, true},
    {kEps, "EPS2", RLECompression, true, false},
};

const MagickWriter* magickWriter(int code) {
  for (const MagickWriter& w : kMagickWriters)
    if (w.code == code) return &w;
  return nullptr;
}

// A palette image built index by index, so every writer sees the exact
// palette and stores it with the fewest bits it has.
MagickImage paletteImage(const IndexedImage& ix, short& status) {
  ImageInfoOwned info(AcquireImageInfo());
  MagickImage image(AcquireImage(info.get()));
  const std::size_t w = static_cast<std::size_t>(ix.indices.cols),
                    h = static_cast<std::size_t>(ix.indices.rows);
  if (!image || SetImageExtent(image.get(), w, h) == MagickFalse ||
      AcquireImageColormap(image.get(), std::max<std::size_t>(ix.palette.size(), 1)) == MagickFalse) {
    status = kOutOfMemory;
    return nullptr;
  }
  const auto quantum = [](std::uint32_t v) {
    return static_cast<Quantum>(static_cast<double>(v & 0xFF) * (static_cast<double>(QuantumRange) / 255.0) +
                                0.5);
  };
  for (std::size_t i = 0; i < ix.palette.size(); ++i) {
    const std::uint32_t c = ix.palette[i];
    image->colormap[i].red = quantum(c);
    image->colormap[i].green = quantum(c >> 8);
    image->colormap[i].blue = quantum(c >> 16);
    image->colormap[i].opacity = OpaqueOpacity;
  }
  MagickException exc(AcquireExceptionInfo());
  for (std::size_t y = 0; y < h; ++y) {
    PixelPacket* q = GetAuthenticPixels(image.get(), 0, static_cast<ssize_t>(y), w, 1, exc.get());
    IndexPacket* idx = GetAuthenticIndexQueue(image.get());
    if (!q || !idx) {
      status = kOutOfMemory;
      return nullptr;
    }
    const std::uint8_t* src = ix.indices.ptr<std::uint8_t>(static_cast<int>(y));
    for (std::size_t x = 0; x < w; ++x) {
      idx[x] = src[x];
      q[x] = image->colormap[src[x]];
    }
    if (SyncAuthenticPixels(image.get(), exc.get()) == MagickFalse) {
      status = kOutOfMemory;
      return nullptr;
    }
  }
  status = kOk;
  return image;
}

// One page as an ImageMagick image at the depth asked for: bilevel, palette,
// grey, 5-5-5 colour (in 8-bit samples), colour, or colour with alpha.
MagickImage toMagick(const Image& page, const MagickWriter& w, int bits, short& status) {
  cv::Mat px = page.pixels;
  auto colourOf = [](const cv::Mat& m) {
    cv::Mat c;
    if (m.channels() == 1)
      cv::cvtColor(m, c, cv::COLOR_GRAY2BGR);
    else if (m.channels() == 4)
      cv::cvtColor(m, c, cv::COLOR_BGRA2BGR);
    else
      c = m.clone();
    return c;
  };
  auto greyOf = [](const cv::Mat& m) {
    cv::Mat g;
    if (m.channels() == 1)
      g = m.clone();
    else
      cv::cvtColor(m, g, m.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    return g;
  };
  MagickImage image;
  if (w.bilevelOnly || bits == 1 || (bits <= 8 && !w.greyAt8 && !w.noPalette)) {
    IndexedImage ix;
    if (w.bilevelOnly || bits == 1) {
      cv::Mat g = greyOf(px);
      ditherToPalette(g, {0x000000, 0xFFFFFF}, 1);
      ix.palette = {0x000000, 0xFFFFFF};
      ix.indices = g / 255;
    } else {
      ix = toIndexed(colourOf(px), bits);
    }
    image = paletteImage(ix, status);
    if (!image) return nullptr;
    if (w.bilevelOnly) SetImageType(image.get(), BilevelType);
  } else {
    const char* map = "BGR";
    if (bits <= 8 && w.greyAt8) {
      px = greyOf(px);
      map = "I";
    } else if (bits <= 8) {  // a reduced palette stored as colour
      px = colourOf(px);
      reduceToPalette(px, std::size_t{1} << bits);
    } else if (bits == 32 && px.channels() == 4) {
      map = "BGRA";
    } else {
      px = colourOf(px);
      if (bits == 16) px &= cv::Scalar(0xF8, 0xF8, 0xF8);
    }
    if (!px.isContinuous()) px = px.clone();
    MagickException exc(AcquireExceptionInfo());
    image.reset(ConstituteImage(static_cast<std::size_t>(px.cols), static_cast<std::size_t>(px.rows), map,
                                CharPixel, px.data, exc.get()));
    if (!image) {
      status = kOutOfMemory;
      return nullptr;
    }
    if (std::strcmp(map, "I") == 0) SetImageType(image.get(), GrayscaleType);
  }
  image->depth = 8;
  image->compression = w.compression;
  image->x_resolution = page.xDpi;
  image->y_resolution = page.yDpi;
  image->units = PixelsPerInchResolution;
  // Targa rows go out top-down; saying so keeps readers from flipping them.
  if (std::strcmp(w.coder, "TGA") == 0) image->orientation = TopLeftOrientation;
  status = kOk;
  return image;
}

}  // namespace

bool magickWrites(int code) {
  return magickWriter(code) != nullptr;
}

short saveMagick(const std::string& path, const std::vector<Image>& pages, int code, int bits, int quality) {
  const MagickWriter* w = magickWriter(code);
  if (!w) return kNotSupported;
  if (pages.empty() || pages[0].pixels.empty()) return kInvalidParameter;
  startMagick();
  // Several pages of a PCX are a DCX; every other format here holds one.
  const bool dcx = code == kPcx && pages.size() > 1;
  const std::size_t count = dcx ? pages.size() : 1;
  MagickImage list;
  for (std::size_t i = 0; i < count; ++i) {
    short status = kOk;
    MagickImage page =
        toMagick(pages[i], *w, bits == 0 ? pages[i].bits : bits, status);  // 0: the page's own depth
    if (!page) return status;
    ::Image* head = list.release();
    AppendImageToList(&head, page.release());
    list.reset(head);
  }
  ImageInfoOwned info(AcquireImageInfo());
  MagickException exc(AcquireExceptionInfo());
  const char* coder = dcx ? "DCX" : w->coder;
  CopyMagickString(info->magick, coder, MaxTextExtent);
  info->compression = w->compression;
  info->adjoin = MagickTrue;
  if (quality > 0) info->quality = static_cast<std::size_t>(quality);
  for (::Image* p = list.get(); p; p = GetNextImageInList(p))
    CopyMagickString(p->magick, coder, MaxTextExtent);
  std::size_t length = 0;
  unsigned char* blob = ImagesToBlob(info.get(), list.get(), &length, exc.get());
  if (!blob || length == 0 || exc->severity >= ErrorException) {
    if (blob) RelinquishMagickMemory(blob);
    return exc->severity == ResourceLimitError ? kTooLarge : kNotSupported;
  }
  std::string bytes(reinterpret_cast<const char*>(blob), length);
  RelinquishMagickMemory(blob);
  return writeFileAtomically(path, bytes);
}

}  // namespace pv::engine::codecs

namespace pv::engine::codecs {

bool magickReadsExtension(std::string_view extension) {
  startMagick();
  const std::string coder = coderOfExtension(std::string(extension));
  if (coder.empty()) return false;
  MagickException exc(AcquireExceptionInfo());
  const MagickInfo* info = GetMagickInfo(coder.c_str(), exc.get());
  if (!info || !info->decoder || std::strcmp(info->name, coder.c_str()) != 0) return false;
  return IsRightsAuthorized(CoderPolicyDomain, ReadPolicyRights, coder.c_str()) != MagickFalse;
}

}  // namespace pv::engine::codecs
