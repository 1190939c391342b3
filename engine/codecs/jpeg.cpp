// JPEG through libjpeg-turbo: grey, colour and CMYK/YCCK read; grey and colour
// written with the subsampling of the file format code (10: 4:4:4, 23: 4:2:2,
// 21: 4:1:1), baseline or progressive with an exact number of scans.
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>
#include <lcms2.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <vector>

#include "engine/codecs/bytes.h"
#include "engine/codecs/codecs.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool truncated = false;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void noMessage(j_common_ptr) {}
// libjpeg pads a file that ends early with grey and only warns: remember it, so
// a truncated file is reported as damaged rather than loaded half grey.
void noteWarning(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
    reinterpret_cast<ErrorManager*>(cinfo->err)->truncated = true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

struct Decompressor {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  std::unique_ptr<std::FILE, FileCloser> file;
  Decompressor() {
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.output_message = noMessage;
    err.pub.emit_message = noteWarning;
    jpeg_create_decompress(&cinfo);
  }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
};

short openJpeg(const std::string& path, Decompressor& d) {
  d.file.reset(std::fopen(path.c_str(), "rb"));
  if (!d.file) return errno == ENOENT ? kFileNotFound : kCannotOpen;
  jpeg_stdio_src(&d.cinfo, d.file.get());
  return kOk;
}

}  // namespace

namespace {

// Lossless files go to our own codec; libjpeg-turbo 2.1 refuses them.
bool lossless(const std::string& path) {
  std::string head;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  const std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  head.assign(buf, n);
  return isLosslessJpeg(head);
}

}  // namespace

short readJpegInfo(const std::string& path, FileInfo& out) {
  if (lossless(path)) return readLosslessJpegInfo(path, out);
  Decompressor d;
  if (short s = openJpeg(path, d)) return s;
  if (setjmp(d.err.jump)) return kDamaged;
  jpeg_read_header(&d.cinfo, TRUE);
  out.format = kJpeg;
  out.width = static_cast<int>(d.cinfo.image_width);
  out.height = static_cast<int>(d.cinfo.image_height);
  out.bits = static_cast<short>(8 * d.cinfo.num_components);
  out.pageCount = 1;
  return kOk;
}

// A transform from the file's embedded CMYK profile (as libjpeg delivers the
// samples: inverted in files from Adobe) to sRGB B G R; null when the file
// has no CMYK profile or it is unusable.
Owned<void, cmsDeleteTransform> cmykToSrgb(j_decompress_ptr cinfo, bool inverted) {
  JOCTET* icc = nullptr;
  unsigned int size = 0;
  if (!jpeg_read_icc_profile(cinfo, &icc, &size) || !icc) return nullptr;
  cmsHPROFILE source = cmsOpenProfileFromMem(icc, size);
  std::free(icc);
  if (!source) return nullptr;
  cmsHTRANSFORM t = nullptr;
  if (cmsGetColorSpace(source) == cmsSigCmykData) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    t = cmsCreateTransform(source, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    cmsCloseProfile(srgb);
  }
  cmsCloseProfile(source);
  return Owned<void, cmsDeleteTransform>(t);
}

short loadJpeg(const std::string& path, Document& doc) {
  if (lossless(path)) return loadLosslessJpeg(path, doc);
  Decompressor d;
  if (short s = openJpeg(path, d)) return s;
  Image img;
  std::vector<unsigned char> cmykRow;
  Owned<void, cmsDeleteTransform> toSrgb;
  if (setjmp(d.err.jump)) return kDamaged;
  jpeg_save_markers(&d.cinfo, JPEG_APP0 + 2, 0xFFFF);  // the colour profile
  jpeg_read_header(&d.cinfo, TRUE);
  if (static_cast<std::uint64_t>(d.cinfo.image_width) * d.cinfo.image_height > maxPixels()) return kTooLarge;
  const J_COLOR_SPACE in = d.cinfo.jpeg_color_space;
  const bool cmyk = in == JCS_CMYK || in == JCS_YCCK;
  // Adobe writes CMYK inverted; the Adobe marker tells.
  const bool inverted = d.cinfo.saw_Adobe_marker;
  if (cmyk) toSrgb = cmykToSrgb(&d.cinfo, inverted);
  const bool grey = in == JCS_GRAYSCALE;
  d.cinfo.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  // Every coefficient is still decoded (damage is found as at full size);
  // only the inverse DCT makes fewer pixels.
  int scale = 1;
  if (!doc.atLeast.empty())
    while (scale < 8 && (d.cinfo.image_width + 2 * scale - 1) / (2 * scale) >= static_cast<unsigned>(doc.atLeast.width) &&
           (d.cinfo.image_height + 2 * scale - 1) / (2 * scale) >= static_cast<unsigned>(doc.atLeast.height))
      scale *= 2;
  d.cinfo.scale_num = 1;
  d.cinfo.scale_denom = static_cast<unsigned>(scale);
  jpeg_start_decompress(&d.cinfo);
  const int w = static_cast<int>(d.cinfo.output_width), h = static_cast<int>(d.cinfo.output_height);
  img.pixels.create(h, w, grey ? CV_8UC1 : CV_8UC3);
  img.bits = grey ? 8 : 24;
  if (cmyk) cmykRow.resize(static_cast<std::size_t>(w) * 4);
  while (d.cinfo.output_scanline < d.cinfo.output_height) {
    const int y = static_cast<int>(d.cinfo.output_scanline);
    JSAMPROW row = cmyk ? cmykRow.data() : img.pixels.ptr<JSAMPLE>(y);
    jpeg_read_scanlines(&d.cinfo, &row, 1);
    if (cmyk && toSrgb) {
      // Through the file's own CMYK profile.
      cmsDoTransform(toSrgb.get(), cmykRow.data(), img.pixels.ptr<unsigned char>(y), static_cast<cmsUInt32Number>(w));
    } else if (cmyk) {
      // Without a profile: the plain formula.
      unsigned char* o = img.pixels.ptr<unsigned char>(y);
      for (int x = 0; x < w; ++x) {
        int c = cmykRow[x * 4], m = cmykRow[x * 4 + 1], ye = cmykRow[x * 4 + 2], k = cmykRow[x * 4 + 3];
        if (!inverted) c = 255 - c, m = 255 - m, ye = 255 - ye, k = 255 - k;
        o[x * 3 + 0] = static_cast<unsigned char>(ye * k / 255);
        o[x * 3 + 1] = static_cast<unsigned char>(m * k / 255);
        o[x * 3 + 2] = static_cast<unsigned char>(c * k / 255);
      }
    }
  }
  jpeg_finish_decompress(&d.cinfo);
  if (d.err.truncated) return kDamaged;
  if (d.cinfo.density_unit == 1 && d.cinfo.X_density > 0 && d.cinfo.Y_density > 0) {
    img.xDpi = d.cinfo.X_density;
    img.yDpi = d.cinfo.Y_density;
  } else if (d.cinfo.density_unit == 2 && d.cinfo.X_density > 0 && d.cinfo.Y_density > 0) {
    img.xDpi = static_cast<int>(d.cinfo.X_density * 2.54 + 0.5);
    img.yDpi = static_cast<int>(d.cinfo.Y_density * 2.54 + 0.5);
  }
  doc.setOnly(std::move(img));
  doc.scale = scale;
  return kOk;
}

int jpegQuality(int factor) {
  // The quality factor runs from 2 (best) to 255 (smallest file); libjpeg's
  // quality from 100 (best) down to 1, linearly and monotonically.
  factor = std::clamp(factor, 2, 255);
  return 100 - ((factor - 2) * 99 + 126) / 253;
}

namespace {

// A progressive scan script of exactly `scans` scans (at least one DC scan and
// one AC scan per component): the DC scan first, then the AC spectrum of the
// first component cut into bands, then one AC scan for each other component.
std::vector<jpeg_scan_info> scanScript(int components, int scans) {
  const int acScans = std::max(scans - 1, components);
  const int lumaBands = std::min(63, acScans - (components - 1));
  std::vector<jpeg_scan_info> script;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c) dc.component_index[c] = c;
  script.push_back(dc);
  for (int b = 0; b < lumaBands; ++b) {
    jpeg_scan_info s{};
    s.comps_in_scan = 1;
    s.component_index[0] = 0;
    s.Ss = 1 + (63 * b) / lumaBands;
    s.Se = (63 * (b + 1)) / lumaBands;
    script.push_back(s);
  }
  for (int c = 1; c < components; ++c) {
    jpeg_scan_info s{};
    s.comps_in_scan = 1;
    s.component_index[0] = c;
    s.Ss = 1;
    s.Se = 63;
    script.push_back(s);
  }
  return script;
}

}  // namespace

std::string exifSegment(const Image& image, const char* version) {
  // A little-endian TIFF structure: the first directory holds the
  // resolution and points to the Exif directory.
  std::string t = "Exif";
  t.append(2, '\0');
  t += "II*";
  t.push_back('\0');
  put32(t, 8);
  auto entry = [&t](std::uint32_t tag, std::uint32_t type, std::uint32_t count, std::uint32_t value) {
    put16(t, tag), put16(t, type), put32(t, count), put32(t, value);
  };
  put16(t, 4);
  entry(0x011A, 5, 1, 62);  // XResolution, a rational at 62
  entry(0x011B, 5, 1, 70);  // YResolution
  entry(0x0128, 3, 1, 2);   // ResolutionUnit: inches
  entry(0x8769, 4, 1, 78);  // the Exif directory
  put32(t, 0);
  put32(t, static_cast<std::uint32_t>(std::max(image.xDpi, 1))), put32(t, 1);
  put32(t, static_cast<std::uint32_t>(std::max(image.yDpi, 1))), put32(t, 1);
  put16(t, 5);
  std::uint32_t v = 0;
  std::memcpy(&v, version, 4);
  entry(0x9000, 7, 4, v);  // ExifVersion
  std::memcpy(&v, "0100", 4);
  entry(0xA000, 7, 4, v);  // FlashpixVersion
  entry(0xA001, 3, 1, 1);  // ColorSpace: sRGB
  entry(0xA002, 4, 1, static_cast<std::uint32_t>(image.width()));
  entry(0xA003, 4, 1, static_cast<std::uint32_t>(image.height()));
  put32(t, 0);
  return t;
}

short saveJpeg(const std::string& path, const Image& image, int code, int bits, int quality, int passes,
               const std::string& app1) {
  // Quality factor 0 is the lossless method.
  if (quality == 0 && code == kJpeg) return saveLosslessJpeg(path, image, bits);
  const cv::Mat& src = image.pixels;
  if (src.empty()) return kInvalidParameter;
  if (bits == 0) bits = image.bits;
  // 12 and 16 bits are written as 8-bit-a-sample colour: the only precision
  // of this libjpeg build.
  const bool grey = bits <= 8;
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.output_message = noMessage;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<unsigned char> row(static_cast<std::size_t>(src.cols) * 3);
  std::vector<jpeg_scan_info> script;
  jpeg_create_compress(&cinfo);
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return kWriteError;
  }
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(src.cols);
  cinfo.image_height = static_cast<JDIMENSION>(src.rows);
  cinfo.input_components = grey ? 1 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, jpegQuality(quality), TRUE);
  if (!grey) {
    const int h = code == kJpeg411 ? 4 : code == kJpeg422 ? 2 : 1;
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = 1;
  }
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(std::clamp(image.xDpi, 1, 65535));
  cinfo.Y_density = static_cast<UINT16>(std::clamp(image.yDpi, 1, 65535));
  if (passes > 0) {
    script = scanScript(cinfo.num_components, passes);
    cinfo.scan_info = script.data();
    cinfo.num_scans = static_cast<int>(script.size());
  }
  if (!app1.empty()) cinfo.write_JFIF_header = FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (!app1.empty())
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(app1.data()),
                      static_cast<unsigned>(app1.size()));
  const int ch = src.channels();
  while (cinfo.next_scanline < cinfo.image_height) {
    const unsigned char* p = src.ptr<unsigned char>(static_cast<int>(cinfo.next_scanline));
    for (int x = 0; x < src.cols; ++x) {
      if (grey) {
        // Luminance of colour sources; grey ones pass through.
        row[static_cast<std::size_t>(x)] =
            ch == 1 ? p[x]
                    : static_cast<unsigned char>(
                          (p[x * ch] * 114 + p[x * ch + 1] * 587 + p[x * ch + 2] * 299 + 500) / 1000);
      } else {
        for (int c = 0; c < 3; ++c) row[static_cast<std::size_t>(x * 3 + c)] = ch == 1 ? p[x] : p[x * ch + c];
      }
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return writeFileAtomically(path, bytes);
}

}  // namespace pv::engine::codecs
