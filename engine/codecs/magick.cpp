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

#include "engine/codecs/codecs.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

constexpr const char* kPolicy = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE policymap [
<!ELEMENT policymap (policy)*>
<!ATTLIST policymap xmlns CDATA #FIXED ''>
<!ELEMENT policy EMPTY>
<!ATTLIST policy xmlns CDATA #FIXED '' domain NMTOKEN #REQUIRED name NMTOKEN #IMPLIED pattern CDATA #IMPLIED rights NMTOKEN #IMPLIED stealth NMTOKEN #IMPLIED value CDATA #IMPLIED>
]>
<policymap>
  <policy domain="resource" name="width" value="1000KP"/>
  <policy domain="resource" name="height" value="1000KP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="disk" value="64GiB"/>
  <policy domain="coder" rights="none" pattern="{MSL,MVG,SVG,MSVG,TEXT,TXT,URL,HTTP,HTTPS,FTP,EPHEMERAL,SHOW,WIN,X,PLT,SCAN,LABEL,CAPTION,INLINE,HTML}"/>
  <policy domain="delegate" rights="none" pattern="*"/>
  <policy domain="path" rights="none" pattern="@*"/>
</policymap>
)";

// Writes the policy into a folder of this user's and points ImageMagick at
// it, once per process, before ImageMagick starts.
void startMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string dir = runtime && *runtime ? std::string(runtime) + "/pictoravine-magick"
                                          : "/tmp/pictoravine-magick-" + std::to_string(getuid());
    mkdir(dir.c_str(), 0700);
    struct stat st{};
    if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid()) {
      const std::string file = dir + "/policy.xml";
      if (std::ofstream(file + ".new", std::ios::binary | std::ios::trunc) << kPolicy)
        std::rename((file + ".new").c_str(), file.c_str());
      setenv("MAGICK_CONFIGURE_PATH", dir.c_str(), 1);
    }
    MagickCoreGenesis(nullptr, MagickFalse);
  });
}

struct ImageInfoDeleter {
  void operator()(ImageInfo* i) const { DestroyImageInfo(i); }
};
struct ExceptionDeleter {
  void operator()(ExceptionInfo* e) const { DestroyExceptionInfo(e); }
};
struct ImageDeleter {
  void operator()(::Image* i) const { DestroyImageList(i); }
};
using MagickImage = std::unique_ptr<::Image, ImageDeleter>;

// Format codes of the formats read here, by ImageMagick's coder name. Codes
// from 1000 on are our own for formats that the output catalogue lacks.
struct CoderCode {
  const char* coder;
  short code;
};
constexpr CoderCode kCoderCodes[] = {
    {"PCX", kPcx},   {"DCX", 1001},   {"TGA", kTga},   {"PSD", kPsd},  {"PSB", kPsd},  {"ICO", kIcon},
    {"ICON", kIcon}, {"CUR", kCursor}, {"PICT", 56},   {"PCT", 56},    {"SUN", 55},    {"RAS", 55},
    {"SGI", 142},    {"WBMP", 170},   {"XBM", 110},    {"XPM", 109},   {"XWD", 133},   {"PBM", 103},
    {"PGM", 105},    {"PPM", 107},    {"PNM", 107},    {"PAM", 1002},  {"CALS", 50},   {"CIN", 298},
    {"FAX", 66},     {"G3", 66},      {"WMF", 15},     {"EMF", 116},   {"WPG", 54},    {"MAC", 51},
    {"SCT", 250},    {"PCD", 1003},   {"FPX", 1004},   {"DDS", 1005},  {"WEBP", 1006}, {"JP2", 1007},
    {"J2K", 1007},   {"JPC", 1007},   {"PFM", 1008},   {"HDR", 1009},  {"FITS", 1010}, {"XCF", 1011},
    {"MIFF", 1012},  {"VIFF", 1013},  {"DPX", 1014},   {"EXR", 1015},  {"JNG", 1016},  {"MNG", 1017},
    {"OTB", 1018},   {"PALM", 1019},  {"PIX", 1020},   {"RLA", 1021},  {"VICAR", 1022}, {"AVS", 1023},
    {"MTV", 1024},   {"SFW", 1025},   {"HRZ", 1026},   {"DIB", kBmp},  {"ICB", kTga},  {"VDA", kTga},
    {"VST", kTga},
};

short codeOfCoder(const char* coder, const ::Image* image) {
  for (const CoderCode& row : kCoderCodes)
    if (std::strcmp(row.coder, coder) == 0) {
      if (row.code == kTga && image->compression == RLECompression) return kTgaRle;
      if (row.code == 142 && image->compression == RLECompression) return 143;
      return row.code;
    }
  return 1000;  // any other format ImageMagick reads
}

short statusOf(const ExceptionInfo* e) {
  switch (e->severity) {
    case ResourceLimitError: case ResourceLimitFatalError: return kTooLarge;
    case MissingDelegateError: case MissingDelegateFatalError: return kNotAnImage;
    case PolicyError: case PolicyFatalError: return kNotSupported;
    case FileOpenError: case FileOpenFatalError: return kCannotOpen;
    default: return kDamaged;
  }
}

// The file's bytes and a name hint made of its extension alone (formats such
// as TGA carry no signature of their own).
struct Source {
  std::string bytes;
  std::string hint;
};

short readSource(const std::string& path, Source& src) {
  if (short s = readFileBytes(path, src.bytes)) return s;
  if (src.bytes.empty()) return kNotAnImage;
  const std::size_t slash = path.rfind('/'), dot = path.rfind('.');
  std::string ext;
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ext = path.substr(dot + 1);
  src.hint = "image";
  if (!ext.empty() && ext.size() < 10 && std::all_of(ext.begin(), ext.end(), [](unsigned char c) { return std::isalnum(c); }))
    src.hint += "." + ext;
  return kOk;
}

// Pings or reads the frames [first, first + count) (count 0: all).
MagickImage readBlob(const Source& src, bool ping, std::size_t first, std::size_t count, short& status) {
  startMagick();
  std::unique_ptr<ImageInfo, ImageInfoDeleter> info(AcquireImageInfo());
  std::unique_ptr<ExceptionInfo, ExceptionDeleter> exc(AcquireExceptionInfo());
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
    std::unique_ptr<ExceptionInfo, ExceptionDeleter> probe(AcquireExceptionInfo());
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
bool compositeOnly(const ::Image* image) { return std::strcmp(image->magick, "PSD") == 0 || std::strcmp(image->magick, "PSB") == 0; }

short bitsOf(::Image* image) {
  const int depth = static_cast<int>(std::clamp<std::size_t>(image->depth, 1, 16));
  if (image->storage_class == PseudoClass && image->colors > 0 && image->colors <= 256 && !image->matte) {
    int bits = 1;
    while ((std::size_t{1} << bits) < image->colors) ++bits;
    return static_cast<short>(bits);
  }
  ExceptionInfo* e = AcquireExceptionInfo();
  const bool grey = IsGrayImage(image, e) != MagickFalse;
  DestroyExceptionInfo(e);
  const int channels = grey ? 1 : image->colorspace == CMYKColorspace ? 4 : 3;
  return static_cast<short>((channels + (image->matte ? 1 : 0)) * depth);
}

short toPage(::Image* frame, Image& img) {
  const std::size_t w = frame->columns, h = frame->rows;
  if (w == 0 || h == 0) return kDamaged;
  if (static_cast<std::uint64_t>(w) * h > maxPixels() || w > 0x7FFFFFF || h > 0x7FFFFFF) return kTooLarge;
  std::unique_ptr<ExceptionInfo, ExceptionDeleter> exc(AcquireExceptionInfo());
  if (frame->colorspace != sRGBColorspace && frame->colorspace != GRAYColorspace &&
      frame->colorspace != RGBColorspace)
    TransformImageColorspace(frame, sRGBColorspace);
  const bool alpha = frame->matte != MagickFalse;
  const bool grey = !alpha && IsGrayImage(frame, exc.get()) != MagickFalse;
  const int rows = static_cast<int>(h), cols = static_cast<int>(w);
  img.pixels.create(rows, cols, alpha ? CV_8UC4 : grey ? CV_8UC1 : CV_8UC3);
  if (!ExportImagePixels(frame, 0, 0, w, h, alpha ? "BGRA" : grey ? "I" : "BGR", CharPixel, img.pixels.data,
                         exc.get()))
    return kDamaged;
  // ImageMagick records a Targa file's row and column order without applying
  // it; the picture is turned upright here.
  if (std::strcmp(frame->magick, "TGA") == 0) {
    switch (frame->orientation) {
      case BottomLeftOrientation: cv::flip(img.pixels, img.pixels, 0); break;
      case BottomRightOrientation: cv::flip(img.pixels, img.pixels, -1); break;
      case TopRightOrientation: cv::flip(img.pixels, img.pixels, 1); break;
      default: break;
    }
  }
  img.bits = alpha ? 32 : grey ? std::min<int>(8, static_cast<int>(std::max<std::size_t>(frame->depth, 1))) : 24;
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

short readMagickInfo(const std::string& path, FileInfo& info) {
  Source src;
  if (short s = readSource(path, src)) return s;
  short status;
  MagickImage image = readBlob(src, true, 0, 0, status);
  if (!image) return status;
  info.reader = Reader::kMagick;
  info.format = codeOfCoder(image->magick, image.get());
  info.width = static_cast<int>(std::min<std::size_t>(image->columns, 0x7FFFFFFF));
  info.height = static_cast<int>(std::min<std::size_t>(image->rows, 0x7FFFFFFF));
  info.bits = bitsOf(image.get());
  info.pageCount = compositeOnly(image.get()) ? 1 : static_cast<int>(std::min<std::size_t>(GetImageListLength(image.get()), 0x7FFFFFFF));
  return kOk;
}

short loadMagick(const std::string& path, int page, int pageCount, Document& doc) {
  Source src;
  if (short s = readSource(path, src)) return s;
  short status;
  // Sizes first, so an oversized picture is refused before it is decoded.
  MagickImage pinged = readBlob(src, true, 0, 0, status);
  if (!pinged) return status;
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
