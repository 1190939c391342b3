#include "filters/filter.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "core/text.h"
#include "engine/lead.h"

namespace pv::filters {

namespace {

struct Row {
  const char* key;
  const char* name;
  const char* description;
};

constexpr Row kRegistry[kFilterCount] = {
    {"resize", "Resize", "Resizes the image to\na new width and height."},
    {"rotate", "Rotate", "Rotates the image."},
    {"flip", "Flip", "Flips the image from top\nto bottom."},
    {"mirror", "Mirror", "Reverses the image (left to\nright) to produce a mirror image."},
    {"crop", "Crop", "Crops the image."},
    {"addnoise", "Add Noise", "Adds random pixels to the image\nresulting in a noise effect."},
    {"autotrim", "Auto-Trim", "Trims the image, removing blank\nspace around the edges."},
    {"average", "Average", "Changes the color of each pixel,\nresulting in a blur effect."},
    {"balcolors", "Balance Colors", "Redistributes the RGB values\nof the image."},
    {"blur", "Blur", "Creates the illusion of movement\nin the image."},
    {"brightness", "Brightness", "Changes the intensity\n(brightness) of the image."},
    {"colorres", "Color Resolution", "Changes the color resolution\nof the image."},
    {"contrast", "Contrast", "Changes the contrast of\nthe image."},
    {"dpi", "DPI Resolution", "Changes the physical resolution of\nthe image, measured in dots per inch."},
    {"edgedetector", "Edge Detector", "Detectes edges in the image."},
    {"emboss", "Emboss", "Applies an emboss effect on\nthe image."},
    {"gammacorrect", "Gamma Correct", "Adjusts the intensity of colors, by\nchanging the gamma constant."},
    {"gaussian", "Gaussian Blur", "Smoothes or blurs an image."},
    {"gradient", "Gradient Filter", "Sharpening an image or detecting\nedges within the image (gradient)."},
    {"grayscale", "Grayscale", "Convert the image to\na grayscale image."},
    {"halftone", "Half-Tone", "Convert the image to\na halftoned image."},
    {"histocontrast", "HistoContrast", "Changes the contrast of the\nimage, by using a histogram."},
    {"hue", "Hue", "Changes the hue of colors in the\nbitmap by rotating the color wheel."},
    {"intensitydetect", "Intensity Detect", "Filters the image to detect colors\nin a specified intensity range."},
    {"invert", "Invert", "Inverts the colors, making it\nlike a photographic negative."},
    {"laplacian", "Laplacian", "Sharpening an image or detecting\nedges within the image (laplacian)."},
    {"linesegment", "Line Segment", "Sharpening an image or detecting\nedges within the image (l-s)."},
    {"median", "Median", "Changes the color of each pixel,\nresulting in a noise reduction."},
    {"mosaic", "Mosaic", "Applies a mosaic effect to\nthe image."},
    {"oilify", "Oilify", "Applies an oil-painting effect\nto the image."},
    {"oldnewspaper", "Old Newspaper", "Applies an old-newspaper effect\nto the image."},
    {"oldphoto", "Old Photo", "Applies an old-photo effect\nto the image."},
    {"posterize", "Posterize", "Imposes a poster effect on\nthe image."},
    {"prewitt", "Prewitt", "Sharpening an image or detecting\nedges within the image (prewitt)."},
    {"saturation", "Saturation", "Changes the saturation of colors\nin the image."},
    {"sharpen", "Sharpen", "Changes the sharpness of\nthe image."},
    {"shiftdiff", "Shift and Difference", "Sharpening an image or detecting\nedges within the image (s-d)."},
    {"sketch", "Sketch", "Applies a sketch effect\nto the image."},
    {"skew", "Skew", "Moves the corners of the image\nin the fashion of a parallelogram."},
    {"sobel", "Sobel", "Sharpening an image or detecting\nedges within the image (sobel)."},
    {"solarize", "Solarize", "An effect that mimics the exposure\nof photographic film to light."},
    {"stretchint", "Stretch Intensity", "Changes the contrast of the image\nby a range of intensity values."},
    {"unsharpmask", "Unsharp Mask", "Changes the sharpness of\nthe image."},
};

bool inRange(int index) { return index >= 0 && index < kFilterCount; }

// Tokens at spaces only; runs of spaces are one separator.
std::vector<std::string> tokens(const std::string& text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

// A decimal number: leading white space, a sign, digits up to the first other
// character; no digits read 0; beyond the signed 32-bit range the nearest limit.
std::int32_t decimal(const std::string& token) {
  errno = 0;
  const long long v = std::strtoll(token.c_str(), nullptr, 10);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string filterName(int index) { return inRange(index) ? kRegistry[index].name : ""; }
std::string filterKey(int index) { return inRange(index) ? kRegistry[index].key : ""; }
std::string filterDescription(int index) { return inRange(index) ? kRegistry[index].description : ""; }

int filterIndexOfText(const std::string& text) {
  const std::vector<std::string> t = tokens(text.substr(0, 1499));
  if (t.size() < 2 || t[1].size() > 49) return 0;
  const std::string key = asciiLower(t[1]);
  for (int i = 0; i < kFilterCount; ++i)
    if (key == kRegistry[i].key) return i;
  return 0;
}

Filter::Filter(int type_, std::span<const Param> params, FilterContext& context)
    : name(filterName(type_)), key(filterKey(type_)), type(type_), hasSettings(params.empty() ? 0 : 1),
      params_(params), context_(context) {
  for (const Param& p : params_) values_.push_back(p.initial);
}

std::string Filter::toText() {
  std::string text = "/filter " + key;
  for (std::size_t i = 0; i < params_.size(); ++i) {
    text += ' ';
    const std::int32_t v = values_[i];
    switch (params_[i].style) {
      case Param::kUnsigned: text += std::to_string(static_cast<std::uint32_t>(v)); break;
      case Param::kSigned: text += std::to_string(v); break;
      case Param::kWord: text += v ? "true" : "false"; break;
      case Param::kFlag: text += v ? "1" : "0"; break;
    }
  }
  return text.size() <= 99 ? text : std::string();
}

void Filter::fromText(const std::string& text) {
  const std::vector<std::string> t = tokens(text);
  for (std::size_t i = 0; i < params_.size(); ++i) {
    const Param& p = params_[i];
    std::int32_t& v = values_[i];
    if (i + 2 < t.size()) {
      const std::string& token = t[i + 2];
      if (p.style == Param::kWord) v = token == "false" ? 0 : 1;
      else v = decimal(token);
    }
    switch (p.style) {
      case Param::kUnsigned: {
        const std::uint32_t u = static_cast<std::uint32_t>(v);
        if (u < static_cast<std::uint64_t>(p.low)) v = static_cast<std::int32_t>(p.below);
        else if (u > static_cast<std::uint64_t>(p.high)) v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p.high));
        break;
      }
      case Param::kSigned:
        if (v < p.low) v = static_cast<std::int32_t>(p.below);
        else if (v > p.high) v = static_cast<std::int32_t>(p.high);
        break;
      case Param::kWord:
        break;
      case Param::kFlag:
        v = v != 0;
        break;
    }
  }
  afterRead();
}

void Filter::editSettings() {
  if (!hasSettings) {
    if (context_.inform) context_.inform(kNoSettingsText);
    return;
  }
  DialogPlan plan{DialogSet::kEffect};
  if (!dialogPlan(plan) || !context_.dialogs) return;
  OptionDialogSet& d = *context_.dialogs;
  const DialogSet set = plan.set;
  putValues(d, set);
  d.setFirstSetting(set, 0);
  d.setSourceImage(set, lead().GetImageHandle());
  d.setSecondSetting(plan.secondOnGeometry ? DialogSet::kGeometry : set, plan.secondSetting);
  d.setThirdSetting(set, 0);
  if (plan.hasExtra) d.setExtraValue(set, plan.extra);
  d.setOptions(set, plan.options);
  if (d.show(set, key) != 0 || d.resultCode(set) != 100) return;
  takeValues(d, set);
}

void Filter::putValues(OptionDialogSet& dialogs, DialogSet set) {
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const bool isSigned = params_[i].style == Param::kSigned;
    dialogs.setValue(set, static_cast<int>(i),
                     isSigned ? static_cast<double>(values_[i]) : static_cast<double>(static_cast<std::uint32_t>(values_[i])));
  }
}

void Filter::takeValues(OptionDialogSet& dialogs, DialogSet set) {
  // Stored as returned, without the range rules; yes/no values are true when nonzero.
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const double v = dialogs.value(set, static_cast<int>(i));
    if (params_[i].style == Param::kWord || params_[i].style == Param::kFlag) values_[i] = v != 0;
    else values_[i] = static_cast<std::int32_t>(static_cast<std::int64_t>(v));
  }
}

void Filter::sourceSize(int& width, int& height) {
  if (context_.recordedSize && context_.recordedSize(width, height)) return;
  width = static_cast<int>(lead().GetImageWidth());
  height = static_cast<int>(lead().GetImageHeight());
}

}  // namespace pv::filters
