// HEIC and HEIF with libheif: the primary image first, then the file's other
// top-level images as pages, turned and mirrored as the container says,
// alpha kept, the EXIF, XMP and profile read and written. Written with
// libheif's HEVC encoder (x265), lossy only: the lossless mode of the
// libheif here (1.15) is off by one level in about 1 % of a photo's pixels, so
// it is not offered. Several pages become one file of several images.
#include <dlfcn.h>

#include <libheif/heif.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

#include "engine/codecs/codecs.h"
#include "engine/codecs/modern.h"
#include "engine/metadata.h"
#include "engine/status.h"

namespace pv::engine::codecs {

namespace {

using Context = Owned<heif_context, heif_context_free>;
using Handle = Owned<heif_image_handle, heif_image_handle_release>;
using HeifImage = Owned<heif_image, heif_image_release>;

// x265 (behind libheif's HEIC encoder) asks libnuma for each node's CPUs as
// it opens an encoder, and libnuma fills its cache of them on first use
// without a lock: two workers opening encoders at once write and read the
// cache unsynchronised. Filling it once, before any encoder opens, leaves
// only reads. libnuma is looked up at run time: without it there is
// nothing to fill.
struct NumaMask;
void fillNumaCache() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* lib = dlopen("libnuma.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;  // kept loaded: x265 uses the same library
    const auto available = reinterpret_cast<int (*)()>(dlsym(lib, "numa_available"));
    const auto maxNode = reinterpret_cast<int (*)()>(dlsym(lib, "numa_max_node"));
    const auto allocate = reinterpret_cast<NumaMask* (*)()>(dlsym(lib, "numa_allocate_cpumask"));
    const auto cpusOf = reinterpret_cast<int (*)(int, NumaMask*)>(dlsym(lib, "numa_node_to_cpus"));
    const auto release = reinterpret_cast<void (*)(NumaMask*)>(dlsym(lib, "numa_bitmask_free"));
    if (!available || !maxNode || !allocate || !cpusOf || !release || available() < 0) return;
    for (int node = 0; node <= maxNode(); ++node) {
      NumaMask* mask = allocate();
      if (!mask) return;
      cpusOf(node, mask);
      release(mask);
    }
  });
}

short statusOf(const heif_error& e) {
  switch (e.code) {
    case heif_error_Ok:
      return kOk;
    case heif_error_Memory_allocation_error:
      return kOutOfMemory;
    case heif_error_Unsupported_filetype:
    case heif_error_Unsupported_feature:
      return kNotSupported;
    default:
      return kDamaged;
  }
}

// libheif's plug-ins, registered once for the process (so that threads
// never race to do it).
void startHeif() {
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });
}

heif_context* newContext() {
  startHeif();
  return heif_context_alloc();
}

// The context of a file's bytes (which must outlive it); the images in the
// order the pages take: the primary one, then the others.
short open(const std::string& bytes, Context& ctx, std::vector<heif_item_id>& ids) {
  ctx.reset(newContext());
  if (short s = statusOf(
          heif_context_read_from_memory_without_copy(ctx.get(), bytes.data(), bytes.size(), nullptr)))
    return s;
  heif_item_id primary = 0;
  if (short s = statusOf(heif_context_get_primary_image_ID(ctx.get(), &primary))) return s;
  const int n = heif_context_get_number_of_top_level_images(ctx.get());
  std::vector<heif_item_id> all(static_cast<std::size_t>(std::max(n, 0)));
  heif_context_get_list_of_top_level_image_IDs(ctx.get(), all.data(), n);
  ids = {primary};
  for (heif_item_id id : all)
    if (id != primary) ids.push_back(id);
  return kOk;
}

// The first metadata block of a type ("Exif", or "mime" with a content type).
std::string metadataOf(const heif_image_handle* h, const char* type, const char* contentType = nullptr) {
  const int n = heif_image_handle_get_number_of_metadata_blocks(h, type);
  std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(n, 0)));
  heif_image_handle_get_list_of_metadata_block_IDs(h, type, ids.data(), n);
  for (heif_item_id id : ids) {
    if (contentType && std::strcmp(heif_image_handle_get_metadata_content_type(h, id), contentType) != 0)
      continue;
    std::string out(heif_image_handle_get_metadata_size(h, id), '\0');
    if (heif_image_handle_get_metadata(h, id, out.data()).code == heif_error_Ok) return out;
  }
  return {};
}

std::string profileOf(const heif_image_handle* h) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(h);
  if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return {};
  std::string out(heif_image_handle_get_raw_color_profile_size(h), '\0');
  if (heif_image_handle_get_raw_color_profile(h, out.data()).code != heif_error_Ok) return {};
  return out;
}

short decode(heif_image_handle* h, Image& page) {
  const bool alpha = heif_image_handle_has_alpha_channel(h) != 0;
  heif_image* raw = nullptr;
  if (short s = statusOf(heif_decode_image(h, &raw, heif_colorspace_RGB,
                                           alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                           nullptr)))
    return s;
  const HeifImage img(raw);
  int stride = 0;
  const std::uint8_t* data = heif_image_get_plane_readonly(img.get(), heif_channel_interleaved, &stride);
  const int w = heif_image_get_width(img.get(), heif_channel_interleaved);
  const int hh = heif_image_get_height(img.get(), heif_channel_interleaved);
  if (!data || w <= 0 || hh <= 0) return kDamaged;
  page = modern::pageOf(cv::Mat(hh, w, alpha ? CV_8UC4 : CV_8UC3, const_cast<std::uint8_t*>(data),
                                static_cast<std::size_t>(stride)));
  return kOk;
}

// x265's presets by our speed 0 .. 9.
constexpr std::array<const char*, 10> kPresets = {"placebo",   "veryslow", "slower", "slow",
                                                  "medium",    "fast",     "faster", "veryfast",
                                                  "superfast", "ultrafast"};

short toHeif(const Image& page, int channels, const MetadataBlocks& blocks, HeifImage& out) {
  const cv::Mat rows = modern::encoderRows(page, channels);
  heif_image* raw = nullptr;
  if (short s = statusOf(heif_image_create(
          rows.cols, rows.rows, heif_colorspace_RGB,
          channels == 4 ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw)))
    return s;
  out.reset(raw);
  if (short s = statusOf(heif_image_add_plane(raw, heif_channel_interleaved, rows.cols, rows.rows, 8)))
    return s;
  int stride = 0;
  std::uint8_t* data = heif_image_get_plane(raw, heif_channel_interleaved, &stride);
  const std::size_t rowBytes = static_cast<std::size_t>(rows.cols) * static_cast<std::size_t>(channels);
  for (int y = 0; y < rows.rows; ++y)
    std::memcpy(data + static_cast<std::ptrdiff_t>(y) * stride, rows.ptr(y), rowBytes);
  if (!blocks.icc.empty())
    heif_image_set_raw_color_profile(raw, "prof", blocks.icc.data(), blocks.icc.size());
  return kOk;
}

}  // namespace

std::string heicEncoderMissing() {
  startHeif();
  return heif_have_encoder_for_format(heif_compression_HEVC)
             ? std::string()
             : "the installed libheif has no HEVC encoder (its x265 plug-in is missing)";
}

short readHeifInfo(const std::string& path, FileInfo& info) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Context ctx;
  std::vector<heif_item_id> ids;
  if (short s = open(bytes, ctx, ids)) return s;
  heif_image_handle* raw = nullptr;
  if (short s = statusOf(heif_context_get_primary_image_handle(ctx.get(), &raw))) return s;
  const Handle h(raw);
  info.format = kHeic;
  info.width = heif_image_handle_get_width(h.get());
  info.height = heif_image_handle_get_height(h.get());
  info.pageCount = static_cast<int>(ids.size());
  info.bits = heif_image_handle_has_alpha_channel(h.get()) ? 32 : 24;
  return kOk;
}

short loadHeif(const std::string& path, int page, int pageCount, Document& doc) {
  std::string bytes;
  if (short s = readFileBytes(path, bytes)) return s;
  Context ctx;
  std::vector<heif_item_id> ids;
  if (short s = open(bytes, ctx, ids)) return s;
  std::vector<Image> all;
  std::shared_ptr<const Metadata> meta;
  const int needed = modern::pagesNeeded(page, pageCount, static_cast<int>(ids.size()));
  for (int i = 0; i < needed; ++i) {
    heif_image_handle* raw = nullptr;
    if (short s = statusOf(heif_context_get_image_handle(ctx.get(), ids[static_cast<std::size_t>(i)], &raw)))
      return s;
    const Handle h(raw);
    if (!modern::withinLimit(static_cast<std::uint64_t>(heif_image_handle_get_width(h.get())),
                             static_cast<std::uint64_t>(heif_image_handle_get_height(h.get()))))
      return kTooLarge;
    Image p;
    if (short s = decode(h.get(), p)) return s;
    // libheif turns and mirrors the picture as the container says, which is
    // the turn an EXIF orientation beside it describes.
    p.metadata =
        metadataFromBlocks(metadataOf(h.get(), "Exif"), metadataOf(h.get(), "mime", "application/rdf+xml"),
                           profileOf(h.get()), true, doc.metadataProblem);
    if (i == 0) meta = p.metadata;
    all.push_back(std::move(p));
  }
  return keepPages(all, page, pageCount, doc, meta);
}

short saveHeic(const std::string& path, const std::vector<Image>& pages, int, int bits, int quality,
               int speed, bool tags) {
  if (!heicEncoderMissing().empty()) return kNotSupported;
  fillNumaCache();
  const Context ctx(newContext());
  heif_encoder* rawEncoder = nullptr;
  if (short s = statusOf(heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder)))
    return s == kDamaged ? static_cast<short>(kNotSupported) : s;
  const Owned<heif_encoder, heif_encoder_release> enc(rawEncoder);
  heif_encoder_set_lossy_quality(enc.get(), std::clamp(quality, 0, 100));
  heif_encoder_set_parameter_string(enc.get(), "preset",
                                    kPresets[static_cast<std::size_t>(std::clamp(speed, 0, 9))]);
  if (quality >= 90) heif_encoder_set_parameter_string(enc.get(), "chroma", "444");
  heif_encoding_options* options = heif_encoding_options_alloc();
  short status = kOk;
  for (std::size_t i = 0; i < pages.size() && status == kOk; ++i) {
    HeifImage image;
    const MetadataBlocks blocks = metadataBlocks(pages[i], tags);
    status = toHeif(pages[i], modern::channelsFor(pages[i], bits, false), blocks, image);
    heif_image_handle* raw = nullptr;
    if (status == kOk)
      status = statusOf(heif_context_encode_image(ctx.get(), image.get(), enc.get(), options, &raw));
    if (status != kOk) break;
    const Handle h(raw);
    if (!blocks.exif.empty())
      heif_context_add_exif_metadata(ctx.get(), h.get(), blocks.exif.data(),
                                     static_cast<int>(blocks.exif.size()));
    if (!blocks.xmp.empty())
      heif_context_add_XMP_metadata(ctx.get(), h.get(), blocks.xmp.data(),
                                    static_cast<int>(blocks.xmp.size()));
    if (i == 0) heif_context_set_primary_image(ctx.get(), h.get());
  }
  heif_encoding_options_free(options);
  if (status != kOk) return modern::saveStatus(status);
  std::string file;
  heif_writer writer{1, [](heif_context*, const void* data, std::size_t size, void* user) {
                       static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
                       return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                     }};
  if (short s = statusOf(heif_context_write(ctx.get(), &writer, &file))) return modern::saveStatus(s);
  return writeFileAtomically(path, file);
}

}  // namespace pv::engine::codecs
