// JPEG XL with libjxl: every displayed frame a page, oriented as the file
// says, grey and alpha kept, the profile and the Exif and XMP boxes
// (compressed ones too) read and written; lossy at a distance or lossless,
// several pages written as an animation.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "engine/codecs/codecs.h"
#include "engine/codecs/modern.h"
#include "engine/metadata.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

using Runner = Owned<void, JxlThreadParallelRunnerDestroy>;

Runner makeRunner() {
  return Runner(JxlThreadParallelRunnerCreate(nullptr, static_cast<std::size_t>(modern::threads())));
}

// True for the colour space libjxl gives sRGB pixels in: no profile needed.
bool isSrgb(const JxlColorEncoding& c) {
  return c.white_point == JXL_WHITE_POINT_D65 && c.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
         (c.color_space == JXL_COLOR_SPACE_GRAY || c.primaries == JXL_PRIMARIES_SRGB);
}

// Everything a decode found: the pages, the metadata boxes and the profile.
struct Decoded {
  JxlBasicInfo info{};
  std::vector<Image> pages;
  std::string exif, xmp, icc;
};

// Decodes `bytes`: every frame and the metadata, or only the header and
// the number of frames shown (counted without decoding their pixels).
short decode(const std::string& bytes, bool pixels, Decoded& out, int* frames = nullptr) {
  const Owned<JxlDecoder, JxlDecoderDestroy> dec(JxlDecoderCreate(nullptr));
  if (!dec) return kOutOfMemory;
  const Runner runner = pixels ? makeRunner() : Runner();
  if (runner &&
      JxlDecoderSetParallelRunner(dec.get(), JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS)
    return kFailed;
  int events = JXL_DEC_BASIC_INFO;
  if (pixels) events |= JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE | JXL_DEC_BOX;
  if (frames) events |= JXL_DEC_FRAME;
  if (JxlDecoderSubscribeEvents(dec.get(), events) != JXL_DEC_SUCCESS) return kFailed;
  JxlDecoderSetDecompressBoxes(dec.get(), JXL_TRUE);
  JxlDecoderSetInput(dec.get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  JxlDecoderCloseInput(dec.get());
  JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  cv::Mat frame;
  std::string* box = nullptr;  // the metadata box being read
  std::string boxBuffer;
  auto finishBox = [&] {
    if (!box) return;
    const std::size_t left = JxlDecoderReleaseBoxBuffer(dec.get());
    boxBuffer.resize(boxBuffer.size() - left);
    *box = std::move(boxBuffer);
    box = nullptr;
  };
  for (;;) {
    const JxlDecoderStatus st = JxlDecoderProcessInput(dec.get());
    switch (st) {
      case JXL_DEC_BASIC_INFO: {
        if (JxlDecoderGetBasicInfo(dec.get(), &out.info) != JXL_DEC_SUCCESS) return kDamaged;
        if (!pixels && !frames) return kOk;
        if (pixels && !modern::withinLimit(out.info.xsize, out.info.ysize)) return kTooLarge;
        format.num_channels = (out.info.num_color_channels == 1 ? 1 : 3) + (out.info.alpha_bits > 0 ? 1 : 0);
        if (format.num_channels == 2) format.num_channels = 4;  // grey with alpha as R G B A
        break;
      }
      case JXL_DEC_COLOR_ENCODING: {
        JxlColorEncoding c;
        if (JxlDecoderGetColorAsEncodedProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &c) ==
                JXL_DEC_SUCCESS &&
            isSrgb(c))
          break;
        std::size_t size = 0;
        if (JxlDecoderGetICCProfileSize(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) ==
            JXL_DEC_SUCCESS) {
          out.icc.assign(size, '\0');
          if (JxlDecoderGetColorAsICCProfile(dec.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                             reinterpret_cast<std::uint8_t*>(out.icc.data()),
                                             size) != JXL_DEC_SUCCESS)
            out.icc.clear();
        }
        break;
      }
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
        std::size_t size = 0;
        if (JxlDecoderImageOutBufferSize(dec.get(), &format, &size) != JXL_DEC_SUCCESS) return kDamaged;
        // The buffer holds the picture as oriented: its rows may be the
        // header's columns.
        const bool turned = out.info.orientation >= JXL_ORIENT_TRANSPOSE;
        const int w = static_cast<int>(turned ? out.info.ysize : out.info.xsize);
        const int h = static_cast<int>(turned ? out.info.xsize : out.info.ysize);
        frame.create(h, w, CV_8UC(static_cast<int>(format.num_channels)));
        if (frame.total() * frame.elemSize() != size) return kDamaged;
        if (JxlDecoderSetImageOutBuffer(dec.get(), &format, frame.data, size) != JXL_DEC_SUCCESS)
          return kDamaged;
        break;
      }
      case JXL_DEC_FRAME:
        ++*frames;
        break;
      case JXL_DEC_FULL_IMAGE: {
        Image page = modern::pageOf(frame);
        if (out.info.num_color_channels == 1 && out.info.alpha_bits == 0) page.bits = 8;
        out.pages.push_back(std::move(page));
        frame = cv::Mat();
        break;
      }
      case JXL_DEC_BOX: {
        finishBox();
        JxlBoxType type;
        if (JxlDecoderGetBoxType(dec.get(), type, JXL_TRUE) != JXL_DEC_SUCCESS) return kDamaged;
        std::string* target = std::memcmp(type, "Exif", 4) == 0   ? &out.exif
                              : std::memcmp(type, "xml ", 4) == 0 ? &out.xmp
                                                                  : nullptr;
        if (target && target->empty()) {
          box = target;
          boxBuffer.assign(4096, '\0');
          JxlDecoderSetBoxBuffer(dec.get(), reinterpret_cast<std::uint8_t*>(boxBuffer.data()),
                                 boxBuffer.size());
        }
        break;
      }
      case JXL_DEC_BOX_NEED_MORE_OUTPUT: {
        const std::size_t left = JxlDecoderReleaseBoxBuffer(dec.get());
        const std::size_t used = boxBuffer.size() - left;
        if (boxBuffer.size() > (64u << 20)) return kDamaged;  // no metadata box is this large
        boxBuffer.resize(boxBuffer.size() * 2);
        JxlDecoderSetBoxBuffer(dec.get(), reinterpret_cast<std::uint8_t*>(boxBuffer.data()) + used,
                               boxBuffer.size() - used);
        break;
      }
      case JXL_DEC_SUCCESS:
        finishBox();
        return out.pages.empty() && pixels ? kDamaged : kOk;
      case JXL_DEC_ERROR:
      case JXL_DEC_NEED_MORE_INPUT:
      default:
        // A file cut short still gives the frames before the cut; none, and
        // it is damaged.
        finishBox();
        return kDamaged;
    }
  }
}

// cjxl's mapping of a quality to a distance, at most 25, the largest
// libjxl takes (the curve passes it below quality 5).
float distanceOf(int quality) {
  const double q = std::clamp(quality, 0, 100);
  const double d = q >= 30 ? 0.1 + (100 - q) * 0.09 : 6.4 + std::pow(2.5, (30 - q) / 5.0) / 6.25;
  return static_cast<float>(std::min(d, 25.0));
}

}  // namespace

short readJxlInfo(const std::string& path, FileInfo& info) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Decoded d;
  int frames = 0;
  if (short s = decode(bytes, false, d, &frames)) return s;
  const bool turned = d.info.orientation >= JXL_ORIENT_TRANSPOSE;
  info.format = kJxl;
  info.width = static_cast<int>(turned ? d.info.ysize : d.info.xsize);
  info.height = static_cast<int>(turned ? d.info.xsize : d.info.ysize);
  info.pageCount = std::max(1, frames);
  info.bits = d.info.alpha_bits > 0 ? 32 : d.info.num_color_channels == 1 ? 8 : 24;
  return kOk;
}

short loadJxl(const std::string& path, int page, int pageCount, Document& doc) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Decoded d;
  if (short s = decode(bytes, true, d)) return s;
  // libjxl turns the picture by the file's orientation, which an Exif box
  // beside it repeats.
  auto meta = metadataFromBlocks(d.exif, d.xmp, d.icc, true, doc.metadataProblem);
  return keepPages(d.pages, page, pageCount, doc, meta);
}

short saveJxl(const std::string& path, const std::vector<Image>& pages, int code, int bits, int quality,
              int effort, bool tags) {
  const bool lossless = code == kJxlLossless;
  const Owned<JxlEncoder, JxlEncoderDestroy> enc(JxlEncoderCreate(nullptr));
  const Runner runner = makeRunner();
  if (!enc || !runner) return kOutOfMemory;
  if (JxlEncoderSetParallelRunner(enc.get(), JxlThreadParallelRunner, runner.get()) != JXL_ENC_SUCCESS)
    return kFailed;
  const Image& first = pages[0];
  int channels = modern::channelsFor(first, bits, true);
  // Every frame of an animation has the first one's layout and size.
  const std::vector<cv::Mat> frames = modern::frameRows(pages, channels);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<std::uint32_t>(frames[0].cols);
  info.ysize = static_cast<std::uint32_t>(frames[0].rows);
  info.bits_per_sample = 8;
  info.num_color_channels = channels == 1 ? 1 : 3;
  info.alpha_bits = channels == 4 ? 8 : 0;
  info.num_extra_channels = channels == 4 ? 1 : 0;
  info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
  if (pages.size() > 1) {
    info.have_animation = JXL_TRUE;
    info.animation.tps_numerator = 10;  // a frame shows for a tenth of a second
    info.animation.tps_denominator = 1;
  }
  if (JxlEncoderSetBasicInfo(enc.get(), &info) != JXL_ENC_SUCCESS) return kInvalidParameter;
  const MetadataBlocks blocks = metadataBlocks(first, tags);
  bool ok = true;
  // A grey picture's RGB profile does not describe it: sRGB's grey serves.
  if (!blocks.icc.empty() && channels != 1) {
    ok = JxlEncoderSetICCProfile(enc.get(), reinterpret_cast<const std::uint8_t*>(blocks.icc.data()),
                                 blocks.icc.size()) == JXL_ENC_SUCCESS;
  } else {
    JxlColorEncoding c;
    JxlColorEncodingSetToSRGB(&c, channels == 1 ? JXL_TRUE : JXL_FALSE);
    ok = JxlEncoderSetColorEncoding(enc.get(), &c) == JXL_ENC_SUCCESS;
  }
  if (!blocks.exif.empty() || !blocks.xmp.empty()) {
    ok = ok && JxlEncoderUseBoxes(enc.get()) == JXL_ENC_SUCCESS;
    if (!blocks.exif.empty()) {
      // An Exif box starts with the offset of the TIFF header: 0.
      std::string exif(4, '\0');
      exif += blocks.exif;
      ok = ok && JxlEncoderAddBox(enc.get(), "Exif", reinterpret_cast<const std::uint8_t*>(exif.data()),
                                  exif.size(), JXL_FALSE) == JXL_ENC_SUCCESS;
    }
    if (!blocks.xmp.empty())
      ok = ok && JxlEncoderAddBox(enc.get(), "xml ", reinterpret_cast<const std::uint8_t*>(blocks.xmp.data()),
                                  blocks.xmp.size(), JXL_FALSE) == JXL_ENC_SUCCESS;
    ok = ok && (JxlEncoderCloseBoxes(enc.get()), true);
  }
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
  ok = ok && settings &&
       JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, std::clamp(effort, 1, 9)) ==
           JXL_ENC_SUCCESS;
  if (ok && lossless)
    ok = JxlEncoderSetFrameLossless(settings, JXL_TRUE) == JXL_ENC_SUCCESS;
  else if (ok)
    ok = JxlEncoderSetFrameDistance(settings, distanceOf(quality)) == JXL_ENC_SUCCESS;
  if (!ok) return kFailed;
  const JxlPixelFormat format{static_cast<std::uint32_t>(channels), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  for (const cv::Mat& rows : frames) {
    if (frames.size() > 1) {
      JxlFrameHeader header;
      JxlEncoderInitFrameHeader(&header);
      header.duration = 1;
      if (JxlEncoderSetFrameHeader(settings, &header) != JXL_ENC_SUCCESS) return kFailed;
    }
    if (JxlEncoderAddImageFrame(settings, &format, rows.data, rows.total() * rows.elemSize()) !=
        JXL_ENC_SUCCESS)
      return kFailed;
  }
  JxlEncoderCloseInput(enc.get());
  std::string file(1 << 16, '\0');
  std::size_t used = 0;
  for (;;) {
    std::uint8_t* next = reinterpret_cast<std::uint8_t*>(file.data()) + used;
    std::size_t avail = file.size() - used;
    const JxlEncoderStatus st = JxlEncoderProcessOutput(enc.get(), &next, &avail);
    used = file.size() - avail;
    if (st == JXL_ENC_SUCCESS) break;
    if (st != JXL_ENC_NEED_MORE_OUTPUT) return kFailed;
    file.resize(file.size() * 2);
  }
  file.resize(used);
  return writeFileAtomically(path, file);
}

}  // namespace pv::engine::codecs
