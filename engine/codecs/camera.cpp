// Camera raw files (Canon CRW, Kodak KDC and DCR) through LibRaw: demosaiced
// with the camera's white balance into 8-bit sRGB, the picture turned as the
// camera recorded it.
#include <libraw/libraw.h>

#include <algorithm>
#include <memory>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/own.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

short statusOf(int error) {
  switch (error) {
    case LIBRAW_SUCCESS:
      return kOk;
    case LIBRAW_FILE_UNSUPPORTED:
      return kNotAnImage;
    case LIBRAW_UNSUFFICIENT_MEMORY:
      return kOutOfMemory;
    case LIBRAW_TOO_BIG:
      return kTooLarge;
    default:
      return kDamaged;
  }
}

short openRaw(LibRaw& raw, const std::string& bytes) {
  raw.imgdata.params.max_raw_memory_mb =
      static_cast<unsigned>(std::min<std::uint64_t>(maxPixels() * 8 >> 20, 65535));
  if (short s = statusOf(raw.open_buffer(const_cast<char*>(bytes.data()), bytes.size()))) return s;
  const auto& size = raw.imgdata.sizes;
  if (size.width == 0 || size.height == 0) return kDamaged;
  if (static_cast<std::uint64_t>(size.width) * size.height > maxPixels()) return kTooLarge;
  return kOk;
}

}  // namespace

bool isCameraRawExtension(std::string_view ext) {
  return ext == "crw" || ext == "kdc" || ext == "dcr";
}

short cameraRawInfo(const std::string& bytes, FileInfo& info) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  if (short s = openRaw(*raw, bytes)) return s;
  const auto& size = raw->imgdata.sizes;
  // Flips 5 and 6 turn the picture a quarter.
  const bool turned = size.flip == 5 || size.flip == 6;
  info.width = turned ? size.height : size.width;
  info.height = turned ? size.width : size.height;
  info.bits = 24;
  info.pageCount = 1;
  return kOk;
}

short decodeCameraRaw(const std::string&, const std::string& bytes, Document& doc) {
  auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
  if (short s = openRaw(*raw, bytes)) return s;
  raw->imgdata.params.use_camera_wb = 1;
  raw->imgdata.params.output_bps = 8;
  raw->imgdata.params.output_color = 1;  // sRGB
  if (short s = statusOf(raw->unpack())) return s;
  if (short s = statusOf(raw->dcraw_process())) return s;
  int error = 0;
  libraw_processed_image_t* out = raw->dcraw_make_mem_image(&error);
  if (!out) return statusOf(error ? error : LIBRAW_UNSPECIFIED_ERROR);
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> hold(
      out, LibRaw::dcraw_clear_mem);
  if (out->type != LIBRAW_IMAGE_BITMAP || out->bits != 8 || (out->colors != 3 && out->colors != 1))
    return kUnsupportedSubtype;
  Image img;
  const cv::Mat wrapped(out->height, out->width, out->colors == 3 ? CV_8UC3 : CV_8UC1, out->data);
  if (out->colors == 3)
    cv::cvtColor(wrapped, img.pixels, cv::COLOR_RGB2BGR);
  else
    img.pixels = wrapped.clone();
  img.bits = out->colors == 3 ? 24 : 8;
  doc.setOnly(std::move(img));
  return kOk;
}

}  // namespace pv::engine::codecs
