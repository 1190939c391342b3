// WebP with libwebp: still pictures and animations (every frame a page, as
// the animation shows it on its canvas), the EXIF, XMP and ICCP chunks read
// and written; lossy or lossless, several pages written as an animation.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <memory>
#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/codecs/modern.h"
#include "engine/metadata.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

// A frame shows for a tenth of a second, as in the GIFs we write.
constexpr int kFrameMs = 100;

using Demux = Owned<WebPDemuxer, WebPDemuxDelete>;

WebPData dataOf(const std::string& bytes) {
  return WebPData{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

std::string_view chunk(WebPDemuxer* demux, const char* fourcc) {
  WebPChunkIterator it;
  if (!WebPDemuxGetChunk(demux, fourcc, 1, &it)) return {};
  const std::string_view out(reinterpret_cast<const char*>(it.chunk.bytes), it.chunk.size);
  WebPDemuxReleaseChunkIterator(&it);
  return out;  // points into the file's bytes, which outlive it
}

bool hasAlpha(WebPDemuxer* demux) {
  return (WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ALPHA_FLAG) != 0;
}

// Encodes one picture; the caller's config says lossy or lossless.
bool importRows(WebPPicture& pic, const cv::Mat& rows) {
  pic.width = rows.cols;
  pic.height = rows.rows;
  const int stride = static_cast<int>(rows.step);
  return rows.channels() == 4 ? WebPPictureImportRGBA(&pic, rows.data, stride) != 0
                              : WebPPictureImportRGB(&pic, rows.data, stride) != 0;
}

short encodeStill(const cv::Mat& rows, const WebPConfig& config, std::string& out) {
  WebPPicture pic;
  if (!WebPPictureInit(&pic)) return kFailed;
  pic.use_argb = config.lossless;
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  pic.writer = WebPMemoryWrite;
  pic.custom_ptr = &writer;
  const bool ok = importRows(pic, rows) && WebPEncode(&config, &pic);
  WebPPictureFree(&pic);
  if (ok) out.assign(reinterpret_cast<const char*>(writer.mem), writer.size);
  WebPMemoryWriterClear(&writer);
  return ok ? kOk : kFailed;
}

short encodeAnimation(const std::vector<cv::Mat>& frames, const WebPConfig& config, std::string& out) {
  WebPAnimEncoderOptions options;
  if (!WebPAnimEncoderOptionsInit(&options)) return kFailed;
  WebPAnimEncoder* enc = WebPAnimEncoderNew(frames[0].cols, frames[0].rows, &options);
  if (!enc) return kFailed;
  bool ok = true;
  int at = 0;
  for (const cv::Mat& f : frames) {
    WebPPicture pic;
    ok = ok && WebPPictureInit(&pic);
    pic.use_argb = 1;
    ok = ok && importRows(pic, f) && WebPAnimEncoderAdd(enc, &pic, at, &config);
    WebPPictureFree(&pic);
    at += kFrameMs;
  }
  WebPData data;
  WebPDataInit(&data);
  ok = ok && WebPAnimEncoderAdd(enc, nullptr, at, nullptr) && WebPAnimEncoderAssemble(enc, &data);
  if (ok) out.assign(reinterpret_cast<const char*>(data.bytes), data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(enc);
  return ok ? kOk : kFailed;
}

// Adds the profile, EXIF and XMP chunks to a written file.
short addChunks(std::string& file, const MetadataBlocks& blocks) {
  if (blocks.icc.empty() && blocks.exif.empty() && blocks.xmp.empty()) return kOk;
  const WebPData in = dataOf(file);
  WebPMux* mux = WebPMuxCreate(&in, 1);
  if (!mux) return kFailed;
  bool ok = true;
  for (const auto& [fourcc, bytes] :
       {std::pair{"ICCP", &blocks.icc}, {"EXIF", &blocks.exif}, {"XMP ", &blocks.xmp}})
    if (!bytes->empty()) {
      const WebPData d = dataOf(*bytes);
      ok = ok && WebPMuxSetChunk(mux, fourcc, &d, 1) == WEBP_MUX_OK;
    }
  WebPData out;
  WebPDataInit(&out);
  ok = ok && WebPMuxAssemble(mux, &out) == WEBP_MUX_OK;
  if (ok) file.assign(reinterpret_cast<const char*>(out.bytes), out.size);
  WebPDataClear(&out);
  WebPMuxDelete(mux);
  return ok ? kOk : kFailed;
}

}  // namespace

short readWebpInfo(const std::string& path, FileInfo& info) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  const WebPData data = dataOf(bytes);
  Demux demux(WebPDemux(&data));
  if (!demux) return kDamaged;
  info.format = kWebp;
  info.width = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
  info.height = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
  info.pageCount = std::max(1, static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT)));
  info.bits = hasAlpha(demux.get()) ? 32 : 24;
  return kOk;
}

short loadWebp(const std::string& path, int page, int pageCount, Document& doc) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  const WebPData data = dataOf(bytes);
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return kFailed;
  options.color_mode = MODE_RGBA;
  options.use_threads = 1;
  WebPAnimDecoder* dec = WebPAnimDecoderNew(&data, &options);
  if (!dec) return kDamaged;
  WebPAnimInfo anim;
  WebPAnimDecoderGetInfo(dec, &anim);
  const WebPDemuxer* demux = WebPAnimDecoderGetDemuxer(dec);
  const int frames = std::max(1, static_cast<int>(anim.frame_count));
  std::vector<Image> all;
  short status = modern::withinLimit(anim.canvas_width, anim.canvas_height) ? kOk : kTooLarge;
  const int needed = modern::pagesNeeded(page, pageCount, frames);
  while (status == kOk && static_cast<int>(all.size()) < needed && WebPAnimDecoderHasMoreFrames(dec)) {
    std::uint8_t* rgba = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(dec, &rgba, &timestamp)) {
      status = kDamaged;
      break;
    }
    all.push_back(modern::pageOf(
        cv::Mat(static_cast<int>(anim.canvas_height), static_cast<int>(anim.canvas_width), CV_8UC4, rgba)));
  }
  // Alpha where the file says so, or where an animation's canvas shows
  // through around a smaller frame (no frame of it need have alpha).
  const bool alpha = hasAlpha(const_cast<WebPDemuxer*>(demux)) ||
                     std::any_of(all.begin(), all.end(), [](const Image& p) { return seeThrough(p); });
  if (!alpha)
    for (Image& p : all) {
      cv::cvtColor(p.pixels, p.pixels, cv::COLOR_BGRA2BGR);
      p.bits = 24;
    }
  std::shared_ptr<const Metadata> meta;
  if (status == kOk) {
    auto* d = const_cast<WebPDemuxer*>(demux);
    // Viewers turn a WebP by its EXIF orientation; the picture is stored as taken.
    meta =
        metadataFromBlocks(chunk(d, "EXIF"), chunk(d, "XMP "), chunk(d, "ICCP"), false, doc.metadataProblem);
  }
  WebPAnimDecoderDelete(dec);
  if (status != kOk) return status;
  return keepPages(all, page, pageCount, doc, meta);
}

short saveWebp(const std::string& path, const std::vector<Image>& pages, int code, int bits, int quality,
               int effort, bool tags) {
  WebPConfig config;
  if (!WebPConfigInit(&config)) return kFailed;
  config.lossless = code == kWebpLossless;
  config.quality = static_cast<float>(std::clamp(quality, 0, 100));
  config.method = std::clamp(effort, 0, 6);
  config.thread_level = 1;
  // Lossless keeps the colour under transparent pixels too.
  config.exact = config.lossless;
  if (config.lossless) config.quality = 75;  // libwebp's lossless default
  if (!WebPValidateConfig(&config)) return kInvalidParameter;
  std::string file;
  short s;
  if (pages.size() == 1) {
    s = encodeStill(modern::encoderRows(pages[0], modern::channelsFor(pages[0], bits, false)), config, file);
  } else {
    int channels = 4;
    s = encodeAnimation(modern::frameRows(pages, channels), config, file);
  }
  if (s != kOk) return s;
  if (short m = addChunks(file, metadataBlocks(pages[0], tags))) return m;
  return writeFileAtomically(path, file);
}

}  // namespace pv::engine::codecs
