#include "engine/metadata.h"

// exiv2 0.27 hands out std::auto_ptr, which C++ has deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <lcms2.h>
#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <array>
#include <mutex>
#include <opencv2/core.hpp>
#include <string_view>

#include "engine/codecs/codecs.h"
#include "engine/image.h"
#include "engine/status.h"

namespace pv::engine {

struct Metadata {
  Exiv2::ExifData exif;
  Exiv2::XmpData xmp;
  Exiv2::IptcData iptc;
  std::string icc;
};

namespace {

// Tags that describe how a TIFF stores its pixels: true of the source, false
// of any output, so they never travel.
constexpr std::array<std::string_view, 24> kLayoutTags = {
    "Exif.Image.NewSubfileType",
    "Exif.Image.SubfileType",
    "Exif.Image.ImageWidth",
    "Exif.Image.ImageLength",
    "Exif.Image.BitsPerSample",
    "Exif.Image.Compression",
    "Exif.Image.PhotometricInterpretation",
    "Exif.Image.StripOffsets",
    "Exif.Image.SamplesPerPixel",
    "Exif.Image.RowsPerStrip",
    "Exif.Image.StripByteCounts",
    "Exif.Image.PlanarConfiguration",
    "Exif.Image.Predictor",
    "Exif.Image.ColorMap",
    "Exif.Image.TileWidth",
    "Exif.Image.TileLength",
    "Exif.Image.TileOffsets",
    "Exif.Image.TileByteCounts",
    "Exif.Image.SubIFDs",
    "Exif.Image.ExtraSamples",
    "Exif.Image.SampleFormat",
    "Exif.Image.YCbCrSubSampling",
    "Exif.Image.YCbCrPositioning",
    "Exif.Image.InterColorProfile",
};

bool layoutTag(const std::string& key) {
  for (std::string_view t : kLayoutTags)
    if (key == t) return true;
  return false;
}

int orientationIn(const Exiv2::ExifData& exif) {
  const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
  if (it == exif.end() || it->count() == 0) return 1;
  const long o = it->toLong();
  return o >= 1 && o <= 8 ? static_cast<int>(o) : 1;
}

// Sets `key` to `value` where the data already has it.
template <class Data, class Key>
void setIfPresent(Data& data, const char* key, std::uint32_t value) {
  const auto it = data.findKey(Key(key));
  if (it != data.end()) it->setValue(std::to_string(value));
}

}  // namespace

PhotoFacts photoFacts(const Metadata& m) {
  PhotoFacts facts;
  const auto text = [&](const char* key) {
    const auto it = m.exif.findKey(Exiv2::ExifKey(key));
    return it == m.exif.end() || it->count() == 0 ? std::string() : it->toString();
  };
  facts.taken = text("Exif.Photo.DateTimeOriginal");
  if (facts.taken.empty()) facts.taken = text("Exif.Image.DateTime");
  facts.camera = text("Exif.Image.Model");
  return facts;
}

void dropLocation(Image& image) {
  if (!image.metadata) return;
  const auto isGps = [](const std::string& key) {
    return key.rfind("Exif.GPSInfo.", 0) == 0 || key == "Exif.Image.GPSTag" || key.rfind("Xmp.exif.GPS", 0) == 0;
  };
  const Metadata& m = *image.metadata;
  const bool any = std::any_of(m.exif.begin(), m.exif.end(), [&](const auto& d) { return isGps(d.key()); }) ||
                   std::any_of(m.xmp.begin(), m.xmp.end(), [&](const auto& d) { return isGps(d.key()); });
  if (!any) return;
  auto without = std::make_shared<Metadata>(m);  // a new copy: metadata is shared
  for (auto it = without->exif.begin(); it != without->exif.end();)
    it = isGps(it->key()) ? without->exif.erase(it) : std::next(it);
  for (auto it = without->xmp.begin(); it != without->xmp.end();)
    it = isGps(it->key()) ? without->xmp.erase(it) : std::next(it);
  image.metadata = std::move(without);
}

namespace {

// The image's metadata without its profile (a new copy: metadata is shared).
void dropProfile(Image& image) {
  auto plain = std::make_shared<Metadata>(*image.metadata);
  plain->icc.clear();
  image.metadata = std::move(plain);
}

// The source's EXIF as an output carries it: the tags that describe the
// source's layout and its thumbnail (it shows the source, not the output)
// left out, the pixel dimensions the output's.
void mergeOutputExif(Exiv2::ExifData& exif, const Metadata& m, const Image& image) {
  for (const Exiv2::Exifdatum& d : m.exif)
    if (!layoutTag(d.key()) && d.groupName().rfind("Thumbnail", 0) != 0) exif[d.key()] = d.value();
  const auto w = static_cast<std::uint32_t>(image.width()), h = static_cast<std::uint32_t>(image.height());
  setIfPresent<Exiv2::ExifData, Exiv2::ExifKey>(exif, "Exif.Photo.PixelXDimension", w);
  setIfPresent<Exiv2::ExifData, Exiv2::ExifKey>(exif, "Exif.Photo.PixelYDimension", h);
  Exiv2::ExifThumb(exif).erase();
}

Exiv2::XmpData outputXmp(const Metadata& m, const Image& image) {
  Exiv2::XmpData xmp = m.xmp;
  const auto w = static_cast<std::uint32_t>(image.width()), h = static_cast<std::uint32_t>(image.height());
  setIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(xmp, "Xmp.exif.PixelXDimension", w);
  setIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(xmp, "Xmp.exif.PixelYDimension", h);
  return xmp;
}

// Where a block's TIFF header starts ("II*\0" or "MM\0*") within its first
// bytes, or npos.
std::size_t tiffHeaderAt(std::string_view exif) {
  for (std::size_t at = 0; at + 4 <= exif.size() && at <= 16; ++at) {
    const std::string_view four = exif.substr(at, 4);
    if (four == std::string_view("II*\0", 4) || four == std::string_view("MM\0*", 4)) return at;
  }
  return std::string_view::npos;
}

}  // namespace

void startExiv2() {
  static std::once_flag once;
  std::call_once(once, [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    // XMP's toolkit keeps process-wide state; with a lock it may be used
    // from several threads.
    static std::mutex xmpLock;
    Exiv2::XmpParser::initialize(
        [](void* data, bool lock) {
          auto* m = static_cast<std::mutex*>(data);
          if (lock)
            m->lock();
          else
            m->unlock();
        },
        &xmpLock);
  });
}

std::shared_ptr<const Metadata> readMetadata(const std::string& path, std::string& problem) {
  startExiv2();
  try {
    // Pictures only: exiv2's video parsers (RIFF, Matroska, QuickTime, ASF)
    // take any file with their box names for a video, and a damaged one can
    // keep them busy for minutes.
    static constexpr int kVideoTypes[] = {20, 21, 22, 24};
    const int type = Exiv2::ImageFactory::getType(path);
    if (std::find(std::begin(kVideoTypes), std::end(kVideoTypes), type) != std::end(kVideoTypes)) return nullptr;
    Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(path);
    if (!file.get()) return nullptr;
    file->readMetadata();
    auto m = std::make_shared<Metadata>();
    m->exif = file->exifData();
    m->xmp = file->xmpData();
    m->iptc = file->iptcData();
    if (file->iccProfileDefined()) {
      const Exiv2::DataBuf* icc = file->iccProfile();
      m->icc.assign(reinterpret_cast<const char*>(icc->pData_), static_cast<std::size_t>(icc->size_));
    }
    if (m->exif.empty() && m->xmp.empty() && m->iptc.empty() && m->icc.empty()) return nullptr;
    return m;
  } catch (const Exiv2::AnyError& e) {
    // An unknown kind of file is no problem; a damaged block is.
    if (e.code() != Exiv2::kerFileContainsUnknownImageType) problem = e.what();
  } catch (const std::exception& e) {
    problem = e.what();
  }
  return nullptr;
}

int orientationOf(const Metadata& m) {
  return orientationIn(m.exif);
}

void orientUpright(Image& image) {
  if (!image.metadata) return;
  const int o = orientationOf(*image.metadata);
  if (o == 1) return;
  cv::Mat& p = image.pixels;
  switch (o) {
    case 2:
      cv::flip(p, p, 1);
      break;
    case 3:
      cv::flip(p, p, -1);
      break;
    case 4:
      cv::flip(p, p, 0);
      break;
    case 5:
      cv::transpose(p, p);
      break;
    case 6:
      cv::rotate(p, p, cv::ROTATE_90_CLOCKWISE);
      break;
    case 7:
      cv::transpose(p, p);
      cv::flip(p, p, -1);
      break;
    case 8:
      cv::rotate(p, p, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
  }
  if (o >= 5) std::swap(image.xDpi, image.yDpi);
  auto upright = std::make_shared<Metadata>(*image.metadata);
  upright->exif["Exif.Image.Orientation"] = std::uint16_t{1};
  setIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(upright->xmp, "Xmp.tiff.Orientation", 1);
  image.metadata = std::move(upright);
}

bool writeMetadata(const std::string& path, const Image& image, bool tags, std::string& problem,
                   short* status) {
  if (!image.metadata) return true;
  const Metadata& m = *image.metadata;
  if (m.icc.empty() && !tags) return true;
  startExiv2();
  try {
    // Edited in memory and written whole through a temporary file and a
    // rename: exiv2 on a file would rewrite it in place, and a failure there
    // would leave the codec's file half rewritten.
    Exiv2::BasicIo::AutoPtr memory(new Exiv2::MemIo);
    {
      Exiv2::FileIo source(path);
      if (source.open() != 0) return false;
      memory->transfer(source);
    }
    Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(memory);
    if (!file.get()) return false;
    file->readMetadata();
    if (tags) {
      Exiv2::ExifData exif = file->exifData();
      mergeOutputExif(exif, m, image);
      file->setExifData(exif);
      file->setXmpData(outputXmp(m, image));
      file->setIptcData(m.iptc);
    }
    if (!m.icc.empty()) {
      Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte*>(m.icc.data()), static_cast<long>(m.icc.size()));
      file->setIccProfile(icc, true);
    }
    file->writeMetadata();
    // The new file is written straight from exiv2's memory: a copy of it
    // would be one more whole file (tens of megabytes for a TIFF photo) on
    // every worker at once.
    Exiv2::BasicIo& io = file->io();
    if (io.open() != 0) return false;
    const std::string_view bytes(reinterpret_cast<const char*>(io.mmap()), io.size());
    const short written = codecs::writeFileAtomically(path, bytes);
    io.munmap();
    io.close();
    if (status) *status = written;
    if (written != kOk) {
      problem = "the file could not be written again";
      return false;
    }
    return true;
  } catch (const Exiv2::AnyError& e) {
    problem = e.what();
  } catch (const std::exception& e) {
    problem = e.what();
  }
  return false;
}

MetadataBlocks metadataBlocks(const Image& image, bool tags) {
  MetadataBlocks out;
  if (!image.metadata) return out;
  const Metadata& m = *image.metadata;
  out.icc = m.icc;
  if (!tags) return out;
  startExiv2();
  try {
    if (!m.exif.empty()) {
      Exiv2::ExifData exif;
      mergeOutputExif(exif, m, image);
      Exiv2::Blob blob;
      Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
      out.exif.assign(blob.begin(), blob.end());
    }
    if (!m.xmp.empty()) Exiv2::XmpParser::encode(out.xmp, outputXmp(m, image));
  } catch (const std::exception&) {
    // What cannot be encoded is left out; the picture is still written.
  }
  return out;
}

std::shared_ptr<const Metadata> metadataFromBlocks(std::string_view exif, std::string_view xmp,
                                                   std::string_view icc, bool upright, std::string& problem) {
  if (exif.empty() && xmp.empty() && icc.empty()) return nullptr;
  startExiv2();
  auto m = std::make_shared<Metadata>();
  m->icc = std::string(icc);
  try {
    if (!exif.empty()) {
      const std::size_t at = tiffHeaderAt(exif);
      if (at == std::string_view::npos) {
        problem = "its EXIF block has no TIFF header";
      } else {
        exif.remove_prefix(at);
        Exiv2::ExifParser::decode(m->exif, reinterpret_cast<const Exiv2::byte*>(exif.data()),
                                  static_cast<std::uint32_t>(exif.size()));
      }
    }
  } catch (const std::exception& e) {
    m->exif.clear();
    problem = e.what();
  }
  try {
    if (!xmp.empty() && Exiv2::XmpParser::decode(m->xmp, std::string(xmp)) != 0) {
      m->xmp.clear();
      problem = "its XMP packet is damaged";
    }
  } catch (const std::exception& e) {
    m->xmp.clear();
    problem = e.what();
  }
  if (upright && orientationIn(m->exif) != 1) m->exif["Exif.Image.Orientation"] = std::uint16_t{1};
  if (upright) setIfPresent<Exiv2::XmpData, Exiv2::XmpKey>(m->xmp, "Xmp.tiff.Orientation", 1);
  if (m->exif.empty() && m->xmp.empty() && m->icc.empty()) return nullptr;
  return m;
}

void dropForeignProfile(Image& image) {
  if (!image.metadata || image.metadata->icc.empty()) return;
  const std::string& icc = image.metadata->icc;
  cmsHPROFILE p = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  const cmsColorSpaceSignature space = p ? cmsGetColorSpace(p) : cmsSigCmykData;
  if (p) cmsCloseProfile(p);
  const bool fits = image.pixels.channels() == 1 ? space == cmsSigGrayData : space == cmsSigRgbData;
  if (!fits) dropProfile(image);
}

bool convertToSrgb(Image& image) {
  if (!image.metadata || image.metadata->icc.empty()) return false;
  const std::string& icc = image.metadata->icc;
  const int channels = image.pixels.channels();
  if (channels < 3 || image.pixels.depth() != CV_8U) return false;
  cmsHPROFILE source = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  if (!source) return false;
  bool done = false;
  if (cmsGetColorSpace(source) == cmsSigRgbData) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    const cmsUInt32Number type = channels == 4 ? TYPE_BGRA_8 : TYPE_BGR_8;
    cmsHTRANSFORM t = cmsCreateTransform(source, type, srgb, type, INTENT_PERCEPTUAL,
                                         channels == 4 ? cmsFLAGS_COPY_ALPHA : 0);
    if (t) {
      // A new buffer: the pixels may be shared with the control's image.
      cv::Mat out(image.pixels.size(), image.pixels.type());
      for (int y = 0; y < out.rows; ++y)
        cmsDoTransform(t, image.pixels.ptr(y), out.ptr(y), static_cast<cmsUInt32Number>(out.cols));
      image.pixels = out;
      if (channels == 3)
        for (std::uint32_t& c : image.palette) {
          const std::uint8_t bgr[3] = {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                                       static_cast<std::uint8_t>(c)};
          std::uint8_t out3[3];
          cmsDoTransform(t, bgr, out3, 1);
          c = static_cast<std::uint32_t>(out3[0]) << 16 | static_cast<std::uint32_t>(out3[1]) << 8 | out3[2];
        }
      cmsDeleteTransform(t);
      done = true;
    }
    cmsCloseProfile(srgb);
  }
  cmsCloseProfile(source);
  if (done) dropProfile(image);
  return done;
}

}  // namespace pv::engine
