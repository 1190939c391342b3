#include "engine/libraries.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <Magick++.h>
#include <avif/avif.h>
#include <jxl/decode.h>
#include <libheif/heif.h>
#include <webp/decode.h>
#include <exiv2/version.hpp>
#include <lcms2.h>
#include <libdeflate.h>
#include <libraw/libraw_version.h>
#include <opencv2/core.hpp>

namespace pv::engine {

std::vector<LibraryVersion> libraryVersions() {
  std::vector<LibraryVersion> rows;
#ifdef LIBJPEG_TURBO_VERSION
#define PV_STR2(x) #x
#define PV_STR(x) PV_STR2(x)
  rows.push_back({"libjpeg-turbo", PV_STR(LIBJPEG_TURBO_VERSION)});
#else
  rows.push_back({"libjpeg", std::to_string(JPEG_LIB_VERSION)});
#endif
  rows.push_back({"libpng", png_get_libpng_ver(nullptr)});
  std::string tiff = TIFFGetVersion();
  // "LIBTIFF, Version 4.5.0\n..." -> "4.5.0"
  if (auto at = tiff.find("Version "); at != std::string::npos) tiff = tiff.substr(at + 8);
  if (auto nl = tiff.find('\n'); nl != std::string::npos) tiff.resize(nl);
  rows.push_back({"libtiff", tiff});
  rows.push_back({"giflib", std::to_string(GIFLIB_MAJOR) + "." + std::to_string(GIFLIB_MINOR) + "." +
                                std::to_string(GIFLIB_RELEASE)});
  size_t magickNumber = 0;
  std::string magick = MagickCore::GetMagickVersion(&magickNumber);
  // "ImageMagick 6.9.11-60 Q16 x86_64 ..." -> "6.9.11-60 Q16"
  if (magick.rfind("ImageMagick ", 0) == 0) magick = magick.substr(12);
  if (auto sp = magick.find(' '); sp != std::string::npos)
    if (auto sp2 = magick.find(' ', sp + 1); sp2 != std::string::npos) magick.resize(sp2);
  rows.push_back({"ImageMagick", magick});
  rows.push_back({"OpenCV", cv::getVersionString()});
  rows.push_back({"LibRaw", LIBRAW_VERSION_STR});
  rows.push_back({"exiv2", Exiv2::versionString()});
  rows.push_back({"Little CMS", std::to_string(cmsGetEncodedCMMversion() / 1000) + "." +
                                    std::to_string(cmsGetEncodedCMMversion() % 1000 / 10)});
  rows.push_back({"libdeflate", LIBDEFLATE_VERSION_STRING});
  // Versions packed as 0xMMmmpp (libwebp) and MMMmmmppp (libjxl).
  const auto dotted = [](unsigned major, unsigned minor, unsigned patch) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  };
  const auto webp = static_cast<unsigned>(WebPGetDecoderVersion());
  rows.push_back({"libwebp", dotted(webp >> 16, webp >> 8 & 0xFF, webp & 0xFF)});
  rows.push_back({"libavif", avifVersion()});
  rows.push_back({"libheif", heif_get_version()});
  const std::uint32_t jxl = JxlDecoderVersion();
  rows.push_back({"libjxl", dotted(jxl / 1000000, jxl / 1000 % 1000, jxl % 1000)});
  return rows;
}

}  // namespace pv::engine
