// The filter kinds: their parameters, their classes (each with the imaging
// operations of its apply, reading its parameters by name) and the registry
// at the end of this file, whose rows are made from the classes. A filter
// does not act on an operation's status (a failed step leaves the image as it
// was and the save reports what matters), so the statuses are dropped with
// static_cast<void> where they are.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "engine/lead.h"
#include "engine/status.h"
#include "filters/filter.h"

namespace pv::filters {

namespace {

constexpr std::int64_t kAnyU = 0xFFFFFFFF;
using C = Param::Control;

// Each helper takes first the name the kind's code reads the parameter by,
// then its label.

// A number (unsigned), clamped to low..high; a value below low becomes `below`.
constexpr Param U(std::string_view name, std::string_view label, std::int64_t low, std::int64_t high,
                  std::int32_t initial, std::string_view unit = {}, C control = Param::kSlider,
                  std::int64_t below = -1) {
  return {name, Param::kUnsigned, low, high, initial, below < 0 ? low : below, label, unit, control, {}};
}
// One of the item texts, the first standing for `low`.
constexpr Param Choice(std::string_view name, std::string_view label, std::int64_t low, std::int64_t high,
                       std::int32_t initial, std::string_view choices, std::int64_t below = -1) {
  return {name, Param::kUnsigned, low,    high, initial, below < 0 ? low : below, label,
          {},   Param::kChoice,   choices};
}
// An unsigned value without a rule: sizes, counts and colours.
constexpr Param Any(std::string_view name, std::string_view label, std::int32_t initial,
                    std::string_view unit = "px", C control = Param::kSpin) {
  return {name, Param::kUnsigned, 0, kAnyU, initial, 0, label, unit, control, {}};
}
constexpr Param Colour(std::string_view name, std::string_view label) {
  return Any(name, label, 0, {}, Param::kColour);
}
constexpr Param S(std::string_view name, std::string_view label, std::int64_t low, std::int64_t high,
                  std::int32_t initial, std::string_view unit = {}, C control = Param::kSlider) {
  return {name, Param::kSigned, low, high, initial, low, label, unit, control, {}};
}
constexpr Param Angle(std::string_view name, std::string_view label, std::int64_t low, std::int64_t high,
                      std::int32_t initial) {
  return S(name, label, low, high, initial, "1/100 degree", Param::kAngle);
}
constexpr Param Word(std::string_view name, std::string_view label, bool initial) {
  return {name, Param::kWord, 0, 1, initial, 0, label, {}, Param::kCheck, {}};
}
constexpr Param Flag(std::string_view name, std::string_view label, bool initial) {
  return {name, Param::kFlag, 0, 1, initial, 0, label, {}, Param::kCheck, {}};
}

constexpr char kDirections[] = "North|North-east|East|South-east|South|South-west|West|North-west";
constexpr char kTwoWays[] = "Horizontal|Vertical";

// Every kind's parameters in text-form order: the order of the text form,
// the settings forms and stored profiles.
constexpr std::array<Param, 0> kNone{};
constexpr std::array kResize{
    Choice("method", "Method", 0, 5, 4,
           "Nearest neighbour|Nearest, keeping dark lines|Resample|Resample|Bicubic|Lanczos"),
    Choice("use", "Use", 0, 5, 0,
           "Pixels|Percent|Fit inside the box|Fill the box, cropping the rest|Longest side|Shortest side"),
    Any("width", "Width", 320),
    Any("height", "Height", 240),
    Flag("keepAspect", "Keep the aspect ratio", false),
    Flag("noEnlarge", "Never enlarge", false)};
constexpr std::array kRotate{Angle("angle", "Angle", -36000, 36000, 1),
                             Choice("quality", "Quality", 0, 4, 4,
                                    "Nearest|Nearest, canvas grows|Bilinear|Bilinear, canvas grows|Bicubic"),
                             Colour("fill", "Fill colour")};
constexpr std::array kCrop{Any("top", "Top", 0), Any("left", "Left", 0), Any("width", "Width", 128),
                           Any("height", "Height", 128)};
constexpr std::array kAddNoise{U("amount", "Amount", 0, 1000, 0, "1/10 %"),
                               Choice("channel", "Channel", 0, 3, 0, "All|Red|Green|Blue")};
constexpr std::array kAutoTrim{U("tolerance", "Tolerance", 0, 244, 0)};
constexpr std::array kAverage{U("size", "Size", 2, 255, 2, "px", Param::kSpin)};
// The nine factors of the colour matrix, row by row.
constexpr std::array kBalance{U("redFromRed", "Red from red", 0, 100, 100, "%"),
                              U("redFromGreen", "Red from green", 0, 100, 0, "%"),
                              U("redFromBlue", "Red from blue", 0, 100, 0, "%"),
                              U("greenFromRed", "Green from red", 0, 100, 0, "%"),
                              U("greenFromGreen", "Green from green", 0, 100, 100, "%"),
                              U("greenFromBlue", "Green from blue", 0, 100, 0, "%"),
                              U("blueFromRed", "Blue from red", 0, 100, 0, "%"),
                              U("blueFromGreen", "Blue from green", 0, 100, 0, "%"),
                              U("blueFromBlue", "Blue from blue", 0, 100, 100, "%")};
constexpr std::array kBlur{U("length", "Length", 3, 100, 3, "px", Param::kSpin),
                           Angle("angle", "Angle", -36000, 36000, 1000),
                           Word("oneWay", "One way only", true)};
constexpr std::array kAmount{S("amount", "Amount", -1000, 1000, 0, "1/10 %")};
constexpr std::array kColorRes{
    U("bits", "Bits per pixel", 0, 32, 8, {}, Param::kSpin),
    U("palette", "Palette", 0, 128, 1, {}, Param::kSpin),
    Choice("dither", "Dither", 0, 8, 0,
           "None|Floyd-Steinberg|Stucki|Burkes|Sierra|Stevenson-Arce|Jarvis|Ordered|Clustered dot"),
    Any("colours", "Colours", 0, {})};
constexpr std::array kDpi{U("horizontal", "Horizontal", 1, kAnyU, 96, "dpi", Param::kSpin),
                          U("vertical", "Vertical", 1, kAnyU, 96, "dpi", Param::kSpin)};
constexpr std::array kEdge{U("threshold", "Threshold", 0, 255, 60),
                           U("kind", "Kind", 257, 1032, 259, {}, Param::kSpin, 259)};
constexpr std::array kEmboss{Choice("direction", "Direction", 0, 7, 2, kDirections),
                             U("depth", "Depth", 0, 1000, 500)};
constexpr std::array kGamma{U("gamma", "Gamma", 10, 500, 200, "1/100")};
constexpr std::array kGaussian{U("radius", "Radius", 1, 1000, 50, "1/2 px")};
constexpr std::array kGradient{Choice("direction", "Direction", 8, 15, 10, kDirections, 10)};
constexpr std::array kGrey{U("red", "Red weight", 0, 1000, 333, "1/10 %"),
                           U("green", "Green weight", 0, 1000, 333, "1/10 %"),
                           U("blue", "Blue weight", 0, 1000, 334, "1/10 %")};
constexpr std::array kHalftone{
    Choice("pattern", "Pattern", 0, 6, 2, "Print|View|Circles|Ellipses|Squares|Lines|Random"),
    Angle("angle", "Angle", -36000, 36000, 0), U("cellSize", "Cell size", 2, 100, 5, "px", Param::kSpin)};
constexpr std::array kHue{S("hue", "Hue", -180, 180, 0, "degrees")};
constexpr std::array kIntensity{U("low", "Low", 0, 255, 75), U("high", "High", 0, 255, 175)};
constexpr std::array kLaplacian{Choice("kernel", "Kernel", 16, 21, 16,
                                       "Laplacian 1|Laplacian 2|Laplacian 3|Diagonal|Horizontal|Vertical")};
constexpr std::array kLineSegment{
    Choice("direction", "Direction", 29, 32, 29, "Horizontal|Vertical|Left to right|Right to left")};
constexpr std::array kMedian{U("size", "Size", 2, 100, 2, "px", Param::kSpin)};
constexpr std::array kMosaic{U("tileSize", "Tile size", 2, 64, 2, "px")};
constexpr std::array kOilify{U("size", "Size", 2, 255, 2, "px")};
constexpr std::array kPosterize{U("levels", "Levels", 2, 64, 6)};
constexpr std::array kPrewitt{Choice("direction", "Direction", 24, 25, 24, kTwoWays)};
constexpr std::array kShiftDiff{Choice("direction", "Direction", 26, 28, 26, "Diagonal|Horizontal|Vertical")};
constexpr std::array kSkew{Angle("angle", "Angle", -4500, 4500, 1000), Word("horizontal", "Horizontal", true),
                           Colour("fill", "Fill colour")};
constexpr std::array kSobel{Choice("direction", "Direction", 22, 23, 22, kTwoWays)};
constexpr std::array kSolarize{U("threshold", "Threshold", 0, 255, 0)};
constexpr std::array kUnsharp{U("amount", "Amount", 0, 500, 0, "%"),
                              U("radius", "Radius", 1, 1000, 1, "1/2 px"),
                              U("threshold", "Threshold", 0, 255, 0),
                              Choice("space", "Applied to", 1, 2, 1, "Each colour channel|Luminance only")};

// The position of the parameter called `name` among a kind's parameters; a
// name that none of them has fails to compile.
template <std::size_t N>
consteval std::size_t at(const std::array<Param, N>& params, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i)
    if (params[i].name == name) return i;
  throw "a kind reads a parameter its rows do not declare";
}

// Every parameter name of a kind is its own.
template <std::size_t N>
consteval bool namesUnique(const std::array<Param, N>& params) {
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = i + 1; j < N; ++j)
      if (params[i].name == params[j].name || params[i].name.empty()) return false;
  return true;
}

template <typename>
struct Arity;
template <typename... A>
struct Arity<short (engine::CLead::*)(A...)> {
  static constexpr std::size_t value = sizeof...(A);
};

// A kind whose apply is one operation taking its parameters, in order, as
// 16-bit arguments (or none).
template <const auto& Params, auto Op>
class Direct : public Filter {
 public:
  static constexpr auto& kParams = Params;
  static_assert(Arity<decltype(Op)>::value == std::size(Params), "one parameter per argument");
  using Filter::Filter;
  bool apply() override {
    run(std::make_index_sequence<std::size(Params)>{});
    return true;
  }

 private:
  template <std::size_t... I>
  void run(std::index_sequence<I...>) {
    static_cast<void>((this->lead().*Op)(this->i2(I)...));
  }
};

// Values edited in one of the program's own dialogs, read back through the
// text form so that the range rules apply to them as to any text.
void readBack(Filter& f, const std::vector<std::uint32_t>& values) {
  std::string text = "/filter " + f.key;
  for (std::uint32_t v : values) text += " " + std::to_string(v);
  f.fromText(text);
}
std::uint32_t unsignedValue(const Filter& f, std::size_t i) {
  return static_cast<std::uint32_t>(f.value(i));
}

// ---- Geometry ----------------------------------------------------------------

class FResize final : public Filter {
 public:
  static constexpr auto& kParams = kResize;
  static constexpr std::size_t kMethod = at(kParams, "method"), kUse = at(kParams, "use"),
                               kWidth = at(kParams, "width"), kHeight = at(kParams, "height"),
                               kKeepAspect = at(kParams, "keepAspect"), kNoEnlarge = at(kParams, "noEnlarge");
  // What the width and height say: pixels of a box (the aspect kept as its
  // flag says), percentages of the source, a box the whole image fits in, a
  // box the image covers (the rest cropped, centred), or the longest or
  // shortest side (the width field alone).
  enum Use { kPixels, kPercent, kFit, kFill, kLongest, kShortest };
  using Filter::Filter;
  bool apply() override {
    int w = 0, h = 0;
    sourceSize(w, h);
    int toW = 0, toH = 0;
    if (!targetSize(w, h, toW, toH)) return true;
    if ((toW != w || toH != h || value(kUse) != kFill) &&
        lead().ResizeImage(static_cast<float>(toW), static_cast<float>(toH), i2(kMethod)) != 0)
      return true;
    int boxW = 0, boxH = 0;
    if (value(kUse) == kFill && fillBox(boxW, boxH) && (toW > boxW || toH > boxH)) {
      const int cropW = std::min(toW, boxW), cropH = std::min(toH, boxH);
      static_cast<void>(lead().TrimImage(static_cast<float>((toW - cropW) / 2), static_cast<float>((toH - cropH) / 2),
                                         static_cast<float>(cropW), static_cast<float>(cropH)));
    }
    return true;
  }
  // Nearest neighbour (0) and the kind that keeps dark lines (1) pick pixels,
  // which a decoder's averaging reduction would not reproduce.
  bool resamplesTo(int width, int height, int& toWidth, int& toHeight) const override {
    return i2(kMethod) >= 2 && targetSize(width, height, toWidth, toHeight) && toWidth > 0 && toHeight > 0;
  }
  static void editOwn(Filter& f, FilterDialogs& dialogs) {
    ResizeValues v{unsignedValue(f, kMethod), unsignedValue(f, kUse), unsignedValue(f, kWidth),
                   unsignedValue(f, kHeight), f.value(kKeepAspect) != 0, f.value(kNoEnlarge) != 0};
    if (!dialogs.editResize(v)) return;
    std::vector<std::uint32_t> out(f.valueCount());
    out[kMethod] = v.method, out[kUse] = v.unit, out[kWidth] = v.width, out[kHeight] = v.height;
    out[kKeepAspect] = v.keepAspect ? 1 : 0, out[kNoEnlarge] = v.noEnlarge ? 1 : 0;
    readBack(f, out);
  }

 private:
  // The box a fill covers: both sides given.
  bool fillBox(int& boxW, int& boxH) const {
    boxW = static_cast<int>(std::min<std::uint32_t>(unsignedValue(*this, kWidth), 2147483647u));
    boxH = static_cast<int>(std::min<std::uint32_t>(unsignedValue(*this, kHeight), 2147483647u));
    return boxW > 0 && boxH > 0;
  }

  // The size passed to the resize (a side of 0 follows from the aspect
  // ratio); false when the image is left as it is.
  bool targetSize(int w, int h, int& toW, int& toH) const {
    const double boxW = unsignedValue(*this, kWidth), boxH = unsignedValue(*this, kHeight);
    const auto set = [&](double newW, double newH) {
      toW = static_cast<int>(std::min(newW, 2147483647.0));
      toH = static_cast<int>(std::min(newH, 2147483647.0));
      return true;
    };
    const bool noEnlarge = value(kNoEnlarge) != 0;
    const auto use = value(kUse);
    if (use == kPercent) {  // percentages of the source size; never enlarging, at most 100
      const double byW = noEnlarge ? std::min(boxW, 100.0) : boxW, byH = noEnlarge ? std::min(boxH, 100.0) : boxH;
      if (byW == 100 && byH == 100 && noEnlarge) return false;  // held at the source's size
      return set(std::trunc(w * byW / 100.0), std::trunc(h * byH / 100.0));
    }
    if (use != kPixels) {
      // One scale for both sides, each rounded to whole pixels.
      if (w <= 0 || h <= 0) return false;
      const double byW = boxW / w, byH = boxH / h;
      double scale = 0;
      if (use == kLongest || use == kShortest)
        scale = boxW / (use == kLongest ? std::max(w, h) : std::min(w, h));
      else if (boxW == 0 || boxH == 0)  // one side given: that side decides
        scale = boxW != 0 ? byW : byH;
      else
        scale = use == kFit ? std::min(byW, byH) : std::max(byW, byH);
      if (scale <= 0) return false;
      // Never enlarging, a fill still crops what lies outside the box.
      if (noEnlarge && scale >= 1) {
        if (use != kFill) return false;
        scale = 1;
      }
      return set(std::max(1.0, std::round(w * scale)), std::max(1.0, std::round(h * scale)));
    }
    const bool keepAspect = value(kKeepAspect) != 0;
    if (noEnlarge && w <= boxW && h <= boxH) return false;  // already fits
    if (!keepAspect || w <= 0 || h <= 0) return set(boxW, boxH);
    // The box is a maximum: landscape fits the width, portrait the height; a
    // zero box side hands the fit to the other side.
    const bool byWidth = w >= h ? boxW != 0 : boxH == 0;
    if (byWidth) return set(boxW, std::max(1.0, std::trunc(boxW * h / w)));
    return set(std::max(1.0, std::trunc(boxH * w / h)), boxH);
  }
};

class FRotate final : public Filter {
 public:
  static constexpr auto& kParams = kRotate;
  static constexpr std::size_t kAngle = at(kParams, "angle"), kQuality = at(kParams, "quality"),
                               kFill = at(kParams, "fill");
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().RotateImage(value(kAngle), i2(kQuality), value(kFill)));
    return true;
  }
};

class FCrop final : public Filter {
 public:
  static constexpr auto& kParams = kCrop;
  static constexpr std::size_t kTop = at(kParams, "top"), kLeft = at(kParams, "left"),
                               kWidth = at(kParams, "width"), kHeight = at(kParams, "height");
  using Filter::Filter;
  bool apply() override {
    int w = 0, h = 0;
    sourceSize(w, h);
    std::int64_t top = unsignedValue(*this, kTop), left = unsignedValue(*this, kLeft);
    std::int64_t width = unsignedValue(*this, kWidth), height = unsignedValue(*this, kHeight);
    if (left >= w) left = w - 1;
    if (left + width > w) width = w - left;
    if (top >= h) top = h - 1;
    if (top + height > h) height = h - top;
    if (width == 0) width = 1;
    if (height == 0) height = 1;
    static_cast<void>(lead().TrimImage(static_cast<float>(left), static_cast<float>(top),
                                       static_cast<float>(width), static_cast<float>(height)));
    return true;
  }
  static void editOwn(Filter& f, FilterDialogs& dialogs) {
    CropValues v{unsignedValue(f, kTop), unsignedValue(f, kLeft), unsignedValue(f, kWidth),
                 unsignedValue(f, kHeight)};
    if (!dialogs.editCrop(v)) return;
    std::vector<std::uint32_t> out(f.valueCount());
    out[kTop] = v.top, out[kLeft] = v.left, out[kWidth] = v.width, out[kHeight] = v.height;
    readBack(f, out);
  }
};

// A failed trim leaves the image as it was.
class FAutoTrim final : public Filter {
 public:
  static constexpr auto& kParams = kAutoTrim;
  static constexpr std::size_t kTolerance = at(kParams, "tolerance");
  using Filter::Filter;
  bool apply() override {
    engine::guarded([&] { return lead().AutoTrimImage(i2(kTolerance)); });
    return true;
  }
};

class FDPI final : public Filter {
 public:
  static constexpr auto& kParams = kDpi;
  static constexpr std::size_t kHorizontal = at(kParams, "horizontal"), kVertical = at(kParams, "vertical");
  using Filter::Filter;
  bool apply() override {
    lead().SetImageXResolution(i2(kHorizontal));
    lead().SetImageYResolution(i2(kVertical));
    lead().SetUnequalResolution(value(kHorizontal) != value(kVertical));
    return true;
  }
  static void editOwn(Filter& f, FilterDialogs& dialogs) {
    DpiValues v{unsignedValue(f, kHorizontal), unsignedValue(f, kVertical)};
    if (!dialogs.editDpi(v)) return;
    std::vector<std::uint32_t> out(f.valueCount());
    out[kHorizontal] = v.horizontal, out[kVertical] = v.vertical;
    readBack(f, out);
  }
};

class FSkew final : public Filter {
 public:
  static constexpr auto& kParams = kSkew;
  static constexpr std::size_t kAngle = at(kParams, "angle"), kHorizontal = at(kParams, "horizontal"),
                               kFill = at(kParams, "fill");
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().ShearImage(i2(kAngle), value(kHorizontal) != 0, value(kFill)));
    return true;
  }
};

using FFlip = Direct<kNone, &engine::CLead::FlipImage>;
using FMirror = Direct<kNone, &engine::CLead::MirrorImage>;

// ---- Tone and colour ---------------------------------------------------------

// The factors are percentages; a failed mix leaves the image as it was.
class FBalanceColors final : public Filter {
 public:
  static constexpr auto& kParams = kBalance;
  using Filter::Filter;
  bool apply() override {
    float m[std::size(kParams)];
    for (std::size_t i = 0; i < std::size(m); ++i)
      m[i] = static_cast<float>(unsignedValue(*this, i)) / 100.0f;
    engine::guarded(
        [&] { return lead().BalanceColors(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]); });
    return true;
  }
};

// The weights are tenths of a percent and never sum to more than 1000.
class FGrayscale final : public Direct<kGrey, &engine::CLead::GrayScaleWeighted> {
 public:
  static constexpr std::size_t kRed = at(kParams, "red"), kGreen = at(kParams, "green"),
                               kBlue = at(kParams, "blue");
  using Direct::Direct;

 protected:
  void afterRead() override {
    if (value(kRed) + value(kGreen) > 1000) setValue(kGreen, 1000 - value(kRed));
    if (value(kRed) + value(kGreen) + value(kBlue) > 1000)
      setValue(kBlue, 1000 - value(kRed) - value(kGreen));
  }
};

class FHalfTone final : public Filter {
 public:
  static constexpr auto& kParams = kHalftone;
  static constexpr std::size_t kPattern = at(kParams, "pattern"), kAngle = at(kParams, "angle"),
                               kCellSize = at(kParams, "cellSize");
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().HalftoneImage(i2(kPattern), value(kAngle), i2(kCellSize)));
    return true;
  }
};

using FAddNoise = Direct<kAddNoise, &engine::CLead::AddNoise>;
using FBrightness = Direct<kAmount, &engine::CLead::ChangeIntensity>;
using FColorRes = Direct<kColorRes, &engine::CLead::ReduceColors>;
using FContrast = Direct<kAmount, &engine::CLead::ChangeContrast>;
using FGammaCorrect = Direct<kGamma, &engine::CLead::GammaCorrect>;
using FHistoContrast = Direct<kAmount, &engine::CLead::HistoContrast>;
using FHue = Direct<kHue, &engine::CLead::ChangeHue>;
using FIntensityDetect = Direct<kIntensity, &engine::CLead::IntensityDetect>;
using FInvert = Direct<kNone, &engine::CLead::InvertImage>;
using FPosterize = Direct<kPosterize, &engine::CLead::PosterizeImage>;
using FSaturation = Direct<kAmount, &engine::CLead::ChangeSaturation>;
using FSolarize = Direct<kSolarize, &engine::CLead::SolarizeImage>;
using FStretchIntensity = Direct<kNone, &engine::CLead::StretchIntensity>;

// ---- Spatial, edge and effect ------------------------------------------------

class FBlur final : public Filter {
 public:
  static constexpr auto& kParams = kBlur;
  static constexpr std::size_t kLength = at(kParams, "length"), kAngle = at(kParams, "angle"),
                               kOneWay = at(kParams, "oneWay");
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().MotionBlur(i2(kLength), value(kAngle), value(kOneWay) != 0));
    return true;
  }
};

// A failing first step skips the second; neither failure is passed on.
class FOldNewspaper final : public Filter {
 public:
  static constexpr auto& kParams = kNone;
  using Filter::Filter;
  bool apply() override {
    if (engine::guarded([&] { static_cast<void>(lead().ChangeSaturation(-800)); }) == engine::kOk)
      engine::guarded(
          [&] { return lead().BalanceColors(0.5f, 0.38f, 0.5f, 0.4f, 0.33f, 0.0f, 0.0f, 0.0f, 0.0f); });
    return true;
  }
};

class FOldPhoto final : public Filter {
 public:
  static constexpr auto& kParams = kNone;
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().ChangeSaturation(-800));
    return true;
  }
};

class FSketch final : public Filter {
 public:
  static constexpr auto& kParams = kNone;
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().GrayScaleWeighted(333, 333, 334));
    static_cast<void>(lead().SpatialFilter(15));
    static_cast<void>(lead().InvertImage());
    return true;
  }
};

using FAverage = Direct<kAverage, &engine::CLead::AverageFilter>;
using FEdgeDetector = Direct<kEdge, &engine::CLead::EdgeDetect>;
using FEmboss = Direct<kEmboss, &engine::CLead::EmbossImage>;
using FGaussianBlur = Direct<kGaussian, &engine::CLead::GaussianBlur>;
// The six predefined spatial filters differ only in their band of codes.
using FGradient = Direct<kGradient, &engine::CLead::SpatialFilter>;
using FLaplacian = Direct<kLaplacian, &engine::CLead::SpatialFilter>;
using FLineSegment = Direct<kLineSegment, &engine::CLead::SpatialFilter>;
using FPrewitt = Direct<kPrewitt, &engine::CLead::SpatialFilter>;
using FShiftDiff = Direct<kShiftDiff, &engine::CLead::SpatialFilter>;
using FSobel = Direct<kSobel, &engine::CLead::SpatialFilter>;
using FMedian = Direct<kMedian, &engine::CLead::MedianFilter>;
using FMosaic = Direct<kMosaic, &engine::CLead::MosaicFilter>;
using FOilify = Direct<kOilify, &engine::CLead::OilifyImage>;
using FSharpen = Direct<kAmount, &engine::CLead::SharpenImage>;
using FUnsharpMask = Direct<kUnsharp, &engine::CLead::UnsharpMask>;

// A registry row made from its kind's class: the parameters it reads, its
// constructor and, where it has one, its own dialog.
template <typename T>
constexpr FilterKind kind(std::string_view key, std::string_view name, std::string_view description) {
  static_assert(namesUnique(T::kParams), "every parameter of a kind has a name of its own");
  void (*editOwn)(Filter&, FilterDialogs&) = nullptr;
  if constexpr (requires { &T::editOwn; }) editOwn = &T::editOwn;
  return {key,
          name,
          description,
          T::kParams,
          [](const FilterKind& k, FilterContext& c) -> std::unique_ptr<Filter> {
            return std::make_unique<T>(k, c);
          },
          editOwn};
}

// The registry: every kind once, in registry order.
constexpr FilterKind kKinds[] = {
    kind<FResize>("resize", "Resize", "Resizes the image to\na new width and height."),
    kind<FRotate>("rotate", "Rotate", "Rotates the image."),
    kind<FFlip>("flip", "Flip", "Flips the image from top\nto bottom."),
    kind<FMirror>("mirror", "Mirror", "Reverses the image (left to\nright) to produce a mirror image."),
    kind<FCrop>("crop", "Crop", "Crops the image."),
    kind<FAddNoise>("addnoise", "Add Noise", "Adds random pixels to the image\nresulting in a noise effect."),
    kind<FAutoTrim>("autotrim", "Auto-Trim", "Trims the image, removing blank\nspace around the edges."),
    kind<FAverage>("average", "Average", "Changes the color of each pixel,\nresulting in a blur effect."),
    kind<FBalanceColors>("balcolors", "Balance Colors", "Redistributes the RGB values\nof the image."),
    kind<FBlur>("blur", "Blur", "Creates the illusion of movement\nin the image."),
    kind<FBrightness>("brightness", "Brightness", "Changes the intensity\n(brightness) of the image."),
    kind<FColorRes>("colorres", "Color Resolution", "Changes the color resolution\nof the image."),
    kind<FContrast>("contrast", "Contrast", "Changes the contrast of\nthe image."),
    kind<FDPI>("dpi", "DPI Resolution",
               "Changes the physical resolution of\nthe image, measured in dots per inch."),
    kind<FEdgeDetector>("edgedetector", "Edge Detector", "Detectes edges in the image."),
    kind<FEmboss>("emboss", "Emboss", "Applies an emboss effect on\nthe image."),
    kind<FGammaCorrect>("gammacorrect", "Gamma Correct",
                        "Adjusts the intensity of colors, by\nchanging the gamma constant."),
    kind<FGaussianBlur>("gaussian", "Gaussian Blur", "Smoothes or blurs an image."),
    kind<FGradient>("gradient", "Gradient Filter",
                    "Sharpening an image or detecting\nedges within the image (gradient)."),
    kind<FGrayscale>("grayscale", "Grayscale", "Convert the image to\na grayscale image."),
    kind<FHalfTone>("halftone", "Half-Tone", "Convert the image to\na halftoned image."),
    kind<FHistoContrast>("histocontrast", "HistoContrast",
                         "Changes the contrast of the\nimage, by using a histogram."),
    kind<FHue>("hue", "Hue", "Changes the hue of colors in the\nbitmap by rotating the color wheel."),
    kind<FIntensityDetect>("intensitydetect", "Intensity Detect",
                           "Filters the image to detect colors\nin a specified intensity range."),
    kind<FInvert>("invert", "Invert", "Inverts the colors, making it\nlike a photographic negative."),
    kind<FLaplacian>("laplacian", "Laplacian",
                     "Sharpening an image or detecting\nedges within the image (laplacian)."),
    kind<FLineSegment>("linesegment", "Line Segment",
                       "Sharpening an image or detecting\nedges within the image (l-s)."),
    kind<FMedian>("median", "Median", "Changes the color of each pixel,\nresulting in a noise reduction."),
    kind<FMosaic>("mosaic", "Mosaic", "Applies a mosaic effect to\nthe image."),
    kind<FOilify>("oilify", "Oilify", "Applies an oil-painting effect\nto the image."),
    kind<FOldNewspaper>("oldnewspaper", "Old Newspaper", "Applies an old-newspaper effect\nto the image."),
    kind<FOldPhoto>("oldphoto", "Old Photo", "Applies an old-photo effect\nto the image."),
    kind<FPosterize>("posterize", "Posterize", "Imposes a poster effect on\nthe image."),
    kind<FPrewitt>("prewitt", "Prewitt",
                   "Sharpening an image or detecting\nedges within the image (prewitt)."),
    kind<FSaturation>("saturation", "Saturation", "Changes the saturation of colors\nin the image."),
    kind<FSharpen>("sharpen", "Sharpen", "Changes the sharpness of\nthe image."),
    kind<FShiftDiff>("shiftdiff", "Shift and Difference",
                     "Sharpening an image or detecting\nedges within the image (s-d)."),
    kind<FSketch>("sketch", "Sketch", "Applies a sketch effect\nto the image."),
    kind<FSkew>("skew", "Skew", "Moves the corners of the image\nin the fashion of a parallelogram."),
    kind<FSobel>("sobel", "Sobel", "Sharpening an image or detecting\nedges within the image (sobel)."),
    kind<FSolarize>("solarize", "Solarize",
                    "An effect that mimics the exposure\nof photographic film to light."),
    kind<FStretchIntensity>("stretchint", "Stretch Intensity",
                            "Changes the contrast of the image\nby a range of intensity values."),
    kind<FUnsharpMask>("unsharpmask", "Unsharp Mask", "Changes the sharpness of\nthe image."),
};

}  // namespace

namespace {

// What a filter the user adds starts with, where it differs from what a
// text form's missing token means (the parameter's initial value, which
// command lines and stored profiles rely on): a new resize keeps the
// aspect ratio.
struct NewFilterValue {
  std::string_view kind, param;
  std::int32_t value;
};
constexpr NewFilterValue kNewFilterValues[] = {{"resize", "keepAspect", 1}};

}  // namespace

void giveNewFilterValues(Filter& filter) {
  for (const NewFilterValue& v : kNewFilterValues) {
    if (filter.key != v.kind) continue;
    const auto params = filter.kind().params;
    for (std::size_t i = 0; i < params.size() && i < filter.valueCount(); ++i)
      if (params[i].name == v.param) filter.setValue(i, v.value);
  }
}

std::span<const FilterKind> filterKinds() {
  return kKinds;
}

}  // namespace pv::filters
