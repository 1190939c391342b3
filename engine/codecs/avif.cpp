// AVIF with libavif: every image of a file (a sequence's frames) a page, its
// rotation and mirroring applied as viewers apply them, grey and alpha kept,
// the EXIF, XMP and profile read and written; lossy or lossless (4:4:4 with
// the identity matrix), several pages written as a sequence.
#include <avif/avif.h>

#include <cmath>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/codecs/modern.h"
#include "engine/metadata.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

using Decoder = Owned<avifDecoder, avifDecoderDestroy>;
using AvifImage = Owned<avifImage, avifImageDestroy>;

Decoder openDecoder(const std::string& bytes, avifResult& result) {
  Decoder dec(avifDecoderCreate());
  dec->maxThreads = modern::threads();
  // Files from cameras and older encoders often lack a 'pixi' box or a
  // valid clean aperture; they are read as viewers read them.
  dec->strictFlags = AVIF_STRICT_DISABLED;
  dec->ignoreExif = AVIF_FALSE;
  dec->ignoreXMP = AVIF_FALSE;
  result =
      avifDecoderSetIOMemory(dec.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (result == AVIF_RESULT_OK) result = avifDecoderParse(dec.get());
  return dec;
}

short statusOf(avifResult r) {
  switch (r) {
    case AVIF_RESULT_OK:
      return kOk;
    case AVIF_RESULT_OUT_OF_MEMORY:
      return kOutOfMemory;
    case AVIF_RESULT_NO_CODEC_AVAILABLE:
      return kNotSupported;
    default:
      return kDamaged;
  }
}

// The picture as viewers show it: 'irot' (anticlockwise quarter turns),
// then 'imir' (mode 0 swaps top and bottom, 1 left and right).
void transform(const avifImage& image, cv::Mat& px) {
  if (image.transformFlags & AVIF_TRANSFORM_IROT) {
    switch (image.irot.angle & 3) {
      case 1:
        cv::rotate(px, px, cv::ROTATE_90_COUNTERCLOCKWISE);
        break;
      case 2:
        cv::rotate(px, px, cv::ROTATE_180);
        break;
      case 3:
        cv::rotate(px, px, cv::ROTATE_90_CLOCKWISE);
        break;
      default:
        break;
    }
  }
  if (image.transformFlags & AVIF_TRANSFORM_IMIR) cv::flip(px, px, image.imir.mode == 0 ? 0 : 1);
}

// The current image of the decoder as 8-bit rows: grey, R G B or R G B A.
short rowsOf(const avifImage& image, cv::Mat& rows) {
  const bool alpha = image.alphaPlane != nullptr;
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, &image);
  rgb.depth = 8;
  rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
  cv::Mat out(static_cast<int>(image.height), static_cast<int>(image.width), alpha ? CV_8UC4 : CV_8UC3);
  rgb.pixels = out.data;
  rgb.rowBytes = static_cast<std::uint32_t>(out.step);
  if (const avifResult r = avifImageYUVToRGB(&image, &rgb); r != AVIF_RESULT_OK) return statusOf(r);
  if (image.yuvFormat == AVIF_PIXEL_FORMAT_YUV400 && !alpha) cv::extractChannel(out, out, 0);
  transform(image, out);
  rows = out;
  return kOk;
}

int quantizer(int quality) {
  return static_cast<int>(std::lround(63.0 * (100 - std::clamp(quality, 0, 100)) / 100.0));
}

short toAvif(const cv::Mat& rows, bool lossless, int quality, const MetadataBlocks& blocks, AvifImage& out) {
  const int channels = rows.channels();
  const avifPixelFormat yuv = channels == 1               ? AVIF_PIXEL_FORMAT_YUV400
                              : lossless || quality >= 90 ? AVIF_PIXEL_FORMAT_YUV444
                                                          : AVIF_PIXEL_FORMAT_YUV420;
  out.reset(
      avifImageCreate(static_cast<std::uint32_t>(rows.cols), static_cast<std::uint32_t>(rows.rows), 8, yuv));
  avifImage& image = *out;
  image.yuvRange = AVIF_RANGE_FULL;
  if (lossless && channels != 1) image.matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_IDENTITY;
  cv::Mat rgbRows = rows;
  if (channels == 1) cv::cvtColor(rows, rgbRows, cv::COLOR_GRAY2RGB);
  avifRGBImage rgb;
  avifRGBImageSetDefaults(&rgb, &image);
  rgb.depth = 8;
  rgb.format = channels == 4 ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
  rgb.pixels = rgbRows.data;
  rgb.rowBytes = static_cast<std::uint32_t>(rgbRows.step);
  if (const avifResult r = avifImageRGBToYUV(&image, &rgb); r != AVIF_RESULT_OK) return statusOf(r);
  if (!blocks.icc.empty())
    avifImageSetProfileICC(&image, reinterpret_cast<const std::uint8_t*>(blocks.icc.data()),
                           blocks.icc.size());
  if (!blocks.exif.empty())
    avifImageSetMetadataExif(&image, reinterpret_cast<const std::uint8_t*>(blocks.exif.data()),
                             blocks.exif.size());
  if (!blocks.xmp.empty())
    avifImageSetMetadataXMP(&image, reinterpret_cast<const std::uint8_t*>(blocks.xmp.data()),
                            blocks.xmp.size());
  return kOk;
}

std::string_view bytesOf(const avifRWData& d) {
  return {reinterpret_cast<const char*>(d.data), d.size};
}

}  // namespace

std::string avifEncoderMissing() {
  return avifCodecName(AVIF_CODEC_CHOICE_AUTO, AVIF_CODEC_FLAG_CAN_ENCODE)
             ? std::string()
             : "the installed libavif has no AV1 encoder";
}

short readAvifInfo(const std::string& path, FileInfo& info) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  avifResult r;
  auto dec = openDecoder(bytes, r);
  if (r != AVIF_RESULT_OK) return statusOf(r);
  const avifImage& image = *dec->image;
  const bool turned = (image.transformFlags & AVIF_TRANSFORM_IROT) && (image.irot.angle & 1);
  info.format = kAvif;
  info.width = static_cast<int>(turned ? image.height : image.width);
  info.height = static_cast<int>(turned ? image.width : image.height);
  info.pageCount = std::max(1, dec->imageCount);
  info.bits = dec->alphaPresent ? 32 : image.yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 8 : 24;
  return kOk;
}

short loadAvif(const std::string& path, int page, int pageCount, Document& doc) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  avifResult r;
  auto dec = openDecoder(bytes, r);
  if (r != AVIF_RESULT_OK) return statusOf(r);
  if (!modern::withinLimit(dec->image->width, dec->image->height)) return kTooLarge;
  std::vector<Image> all;
  const int needed = modern::pagesNeeded(page, pageCount, std::max(1, dec->imageCount));
  while (static_cast<int>(all.size()) < needed) {
    if ((r = avifDecoderNextImage(dec.get())) != AVIF_RESULT_OK) return statusOf(r);
    cv::Mat rows;
    if (short s = rowsOf(*dec->image, rows)) return s;
    all.push_back(modern::pageOf(rows));
  }
  const avifImage& image = *dec->image;
  // The container's rotation and mirroring are the picture's orientation;
  // an EXIF orientation beside them describes the same turn.
  auto meta = metadataFromBlocks(bytesOf(image.exif), bytesOf(image.xmp), bytesOf(image.icc), true,
                                 doc.metadataProblem);
  return keepPages(all, page, pageCount, doc, meta);
}

short saveAvif(const std::string& path, const std::vector<Image>& pages, int code, int bits, int quality,
               int speed, bool tags) {
  if (!avifEncoderMissing().empty()) return kNotSupported;
  const bool lossless = code == kAvifLossless;
  const Owned<avifEncoder, avifEncoderDestroy> enc(avifEncoderCreate());
  enc->maxThreads = modern::threads();
  enc->speed = std::clamp(speed, AVIF_SPEED_SLOWEST, AVIF_SPEED_FASTEST);
  enc->minQuantizer = enc->maxQuantizer = enc->minQuantizerAlpha = enc->maxQuantizerAlpha =
      lossless ? AVIF_QUANTIZER_LOSSLESS : quantizer(quality);
  enc->timescale = 10;  // a frame shows for a tenth of a second
  const MetadataBlocks blocks = metadataBlocks(pages[0], tags);
  // Every frame of a sequence has the first one's layout and size.
  int channels = modern::channelsFor(pages[0], bits, true);
  const avifAddImageFlags flags = pages.size() == 1 ? AVIF_ADD_IMAGE_FLAG_SINGLE : AVIF_ADD_IMAGE_FLAG_NONE;
  for (const cv::Mat& rows : modern::frameRows(pages, channels)) {
    AvifImage image;
    if (short s = toAvif(rows, lossless, quality, blocks, image)) return s;
    if (const avifResult r = avifEncoderAddImage(enc.get(), image.get(), 1, flags); r != AVIF_RESULT_OK)
      return modern::saveStatus(statusOf(r));
  }
  avifRWData out = AVIF_DATA_EMPTY;
  const avifResult r = avifEncoderFinish(enc.get(), &out);
  const std::string file(bytesOf(out));
  avifRWDataFree(&out);
  if (r != AVIF_RESULT_OK) return modern::saveStatus(statusOf(r));
  return writeFileAtomically(path, file);
}

}  // namespace pv::engine::codecs
