#include "engine/lead.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "engine/codecs/codecs.h"
#include "engine/image.h"
#include "engine/status.h"

namespace pv::engine {

CLead::CLead() : doc_(std::make_unique<Document>()) {}
CLead::~CLead() = default;

// ---- File input and output -------------------------------------------------

short CLead::ReadFileInfo(const std::string& path, int, int) {
  codecs::FileInfo fi;
  short s = codecs::readInfo(path, fi);
  info_ = s == kOk ? Info{fi.bits, fi.format, fi.width, fi.pageCount} : Info{};
  return s;
}

short CLead::GetInfoBits() { return info_.bits; }
short CLead::GetInfoFormat() { return info_.format; }
// The width in pixels of the inspected file.
int CLead::GetInfoValue44() { return info_.value44; }
int CLead::GetInfoPageCount() { return info_.pageCount; }

short CLead::ReadFileResolutions(const std::string&) { return kNotSupported; }
short CLead::GetResolutionCount() { return 0; }
float CLead::GetResolutionWidth(short) { return 0; }
float CLead::GetResolutionHeight(short) { return 0; }
short CLead::SetLoadResolution(short, float, float) { return kNotSupported; }

short CLead::LoadImage(const std::string& path, short bits, int page, int pageCount) {
  codecs::FileInfo fi;
  short s = codecs::readInfo(path, fi);
  if (s != kOk) return s;
  Document loaded;
  switch (fi.format) {
    case codecs::kPng:
      s = codecs::loadPng(path, loaded);
      break;
    case codecs::kJpeg:
      s = codecs::loadJpeg(path, loaded);
      break;
    case codecs::kGif:
      s = codecs::loadGif(path, page, pageCount, loaded);
      break;
    default:
      s = kNotSupported;
  }
  if (s != kOk) return s;
  if (bits == 32)
    for (Image& page : loaded.pages)
      if (page.pixels.channels() != 4) {
        cv::cvtColor(page.pixels, page.pixels, page.pixels.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
        page.bits = 32;
        page.palette.clear();
      }
  info_ = Info{fi.bits, fi.format, fi.width, fi.pageCount};
  *doc_ = std::move(loaded);
  return kOk;
}

short CLead::SaveImage(const std::string& path, short formatCode, short bits, short quality, short) {
  Image* img = doc_->image();
  if (!img) return kInvalidParameter;
  switch (formatCode) {
    case codecs::kPng:
      return codecs::savePng(path, *img, bits, std::clamp<int>(quality, 0, 9));
    case codecs::kJpeg:
    case codecs::kJpeg422:
    case codecs::kJpeg411:
      return codecs::saveJpeg(path, *img, formatCode, bits, quality, savePasses_);
    case codecs::kGif:
      // An image loaded with all its pages writes every page.
      return codecs::saveGif(path, doc_->pages.size() > 1 ? doc_->pages : std::vector<Image>{*img}, bits,
                             saveInterlaced_);
    default:
      return kNotSupported;
  }
}

short CLead::CopyToClipboard(short) { return kNotSupported; }

void CLead::SetPageNumber(short page) {
  if (page >= 0 && static_cast<std::size_t>(page) < doc_->pages.size()) doc_->current = static_cast<std::size_t>(page);
}
void CLead::SetSavePasses(short passes) { savePasses_ = passes; }
void CLead::SetSaveInterlaced(bool on) { saveInterlaced_ = on; }
void CLead::SetPhotoshopSaveFlag(bool on) { photoshopSave_ = on; }
void CLead::SetAutoRepaint(bool on) { autoRepaint_ = on; }

// ---- Image properties ------------------------------------------------------

float CLead::GetImageWidth() { return doc_->image() ? static_cast<float>(doc_->image()->width()) : 0.0f; }
float CLead::GetImageHeight() { return doc_->image() ? static_cast<float>(doc_->image()->height()) : 0.0f; }
float CLead::GetDisplayWidth() { return GetImageWidth(); }
float CLead::GetDisplayHeight() { return GetImageHeight(); }
short CLead::GetDisplayBits() { return doc_->image() ? static_cast<short>(doc_->image()->bits) : 0; }
void CLead::SetImageXResolution(short dpi) {
  if (Image* img = doc_->image()) img->xDpi = std::max<int>(1, dpi);
}
void CLead::SetImageYResolution(short dpi) {
  if (Image* img = doc_->image()) img->yDpi = std::max<int>(1, dpi);
}
void CLead::SetUnequalResolution(bool) {}
int CLead::GetImageHandle() { return 0; }
void CLead::SetImageHandle(int) {}
int CLead::GetDrawContext() { return 0; }
int CLead::MakeGdiBitmap(int) { return 0; }

// ---- Transparency and regions ----------------------------------------------

bool CLead::GetHasAlpha() { return doc_->image() && doc_->image()->hasAlpha(); }
int CLead::GetAlphaImage() { return 0; }
bool CLead::GetUseTransparentColor() { return doc_->image() && doc_->image()->useTransparentColor; }
void CLead::SetUseTransparentColor(bool on) {
  if (Image* img = doc_->image()) img->useTransparentColor = on;
}
int CLead::GetTransparentColor() {
  return doc_->image() ? static_cast<int>(doc_->image()->transparentColor) : 0;
}
void CLead::SetTransparentColor(int colour) {
  if (Image* img = doc_->image()) img->transparentColor = static_cast<std::uint32_t>(colour) & 0xFFFFFF;
}
bool CLead::GetHasRegion() { return false; }
short CLead::SetRegionByColor(int, short) { return kNotSupported; }
int CLead::GetRegionHandle() { return 0; }
short CLead::SetRegionFromHandle(int, float, float, short) { return kNotSupported; }
short CLead::FillImage(int) { return kNotSupported; }
short CLead::FreeRegion() { return kOk; }

// ---- Pixel operations --------------------------------------------------------

short CLead::ResizeImage(float width, float height, short flags) {
  Image* img = doc_->image();
  if (!img || img->pixels.empty()) return kInvalidParameter;
  const double w0 = img->width(), h0 = img->height();
  double w = std::trunc(width), h = std::trunc(height);
  if (w < 0 || h < 0 || (w == 0 && h == 0)) return kInvalidParameter;
  // A size of 0 follows from the aspect ratio.
  if (w == 0) w = std::max(1.0, std::trunc(h * w0 / h0));
  if (h == 0) h = std::max(1.0, std::trunc(w * h0 / w0));
  if (w * h > static_cast<double>(maxPixels())) return kTooLarge;
  const cv::Size size(static_cast<int>(w), static_cast<int>(h));
  const bool shrinking = w < w0 || h < h0;
  cv::Mat out;
  switch (flags) {
    case 0:
      cv::resize(img->pixels, out, size, 0, 0, cv::INTER_NEAREST);
      break;
    case 1: {
      // Nearest neighbour that keeps thin dark lines: when shrinking, each
      // sample takes the darkest pixel of the block it stands for.
      cv::Mat src = img->pixels;
      if (shrinking) {
        const int kx = std::max(1, static_cast<int>(std::ceil(w0 / w))), ky = std::max(1, static_cast<int>(std::ceil(h0 / h)));
        cv::erode(src, src, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(kx, ky)));
      }
      cv::resize(src, out, size, 0, 0, cv::INTER_NEAREST);
      break;
    }
    case 4:
    case 5: {
      cv::Mat src = img->pixels;
      // Beyond 2:1, shrink by area averaging first so nothing aliases.
      if (w * 2 < w0 || h * 2 < h0) {
        cv::resize(src, src, cv::Size(std::max(size.width * 2, std::min<int>(size.width, src.cols)),
                                      std::max(size.height * 2, std::min<int>(size.height, src.rows))),
                   0, 0, cv::INTER_AREA);
      }
      cv::resize(src, out, size, 0, 0, flags == 4 ? cv::INTER_CUBIC : cv::INTER_LANCZOS4);
      break;
    }
    default:  // 2, 3 and anything else resample
      cv::resize(img->pixels, out, size, 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  }
  img->pixels = out;
  // Interpolated pixels leave the palette; nearest-neighbour ones keep it.
  if (flags != 0 && flags != 1 && !img->palette.empty()) {
    img->palette.clear();
    img->bits = img->pixels.channels() == 4 ? 32 : 24;
  }
  return kOk;
}

short CLead::TrimImage(float, float, float, float) { return kNotSupported; }
short CLead::ReduceColors(short, short, short, short) { return kNotSupported; }
short CLead::AverageFilter(short) { return kNotSupported; }
short CLead::MedianFilter(short) { return kNotSupported; }
short CLead::ChangeContrast(short) { return kNotSupported; }
short CLead::FlipImage() { return kNotSupported; }
short CLead::ChangeHue(short) { return kNotSupported; }
short CLead::ChangeIntensity(short) { return kNotSupported; }
short CLead::InvertImage() { return kNotSupported; }
short CLead::SharpenImage(short) { return kNotSupported; }
short CLead::ChangeSaturation(short) { return kNotSupported; }
short CLead::MirrorImage() { return kNotSupported; }
short CLead::MosaicFilter(short) { return kNotSupported; }
short CLead::SpatialFilter(short) { return kNotSupported; }
short CLead::PosterizeImage(short) { return kNotSupported; }
short CLead::RotateImage(int, short, int) { return kNotSupported; }
short CLead::EmbossImage(short, short) { return kNotSupported; }
short CLead::AddNoise(short, short) { return kNotSupported; }
short CLead::IntensityDetect(short, short) { return kNotSupported; }
short CLead::StretchIntensity() { return kNotSupported; }
short CLead::GammaCorrect(short) { return kNotSupported; }
short CLead::ShearImage(short, bool, int) { return kNotSupported; }
short CLead::HalftoneImage(short, int, short) { return kNotSupported; }
short CLead::HistoContrast(short) { return kNotSupported; }
short CLead::SolarizeImage(short) { return kNotSupported; }
short CLead::AutoTrimImage(short) { return kNotSupported; }
short CLead::OilifyImage(short) { return kNotSupported; }
short CLead::GaussianBlur(short) { return kNotSupported; }
short CLead::UnsharpMask(short, short, short, short) { return kNotSupported; }
short CLead::GrayScaleWeighted(short, short, short) { return kNotSupported; }
short CLead::BalanceColors(float, float, float, float, float, float, float, float, float) { return kNotSupported; }
short CLead::EdgeDetect(short, short) { return kNotSupported; }
short CLead::MotionBlur(short, int, bool) { return kNotSupported; }

}  // namespace pv::engine
