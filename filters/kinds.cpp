// The 43 filter kinds: their descriptors (the registry at the end of this
// file, with each kind's parameters) and their classes, each with the imaging
// operations of its apply. A filter does not act on an operation's status (a
// failed step leaves the image as it was and the save reports what matters),
// so the statuses are dropped with static_cast<void> where they are.
#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <utility>

#include "engine/lead.h"
#include "filters/filter.h"

namespace pv::filters {

namespace {

constexpr std::int64_t kAnyU = 0xFFFFFFFF;
using C = Param::Control;

// A number (unsigned), clamped to low..high; a value below low becomes `below`.
constexpr Param U(std::string_view label, std::int64_t low, std::int64_t high, std::int32_t initial,
                  std::string_view unit = {}, C control = Param::kSlider, std::int64_t below = -1) {
  return {Param::kUnsigned, low, high, initial, below < 0 ? low : below, label, unit, control, {}};
}
// One of the item texts, the first standing for `low`.
constexpr Param Choice(std::string_view label, std::int64_t low, std::int64_t high, std::int32_t initial,
                       std::string_view choices, std::int64_t below = -1) {
  return {Param::kUnsigned, low, high, initial, below < 0 ? low : below, label, {}, Param::kChoice, choices};
}
// An unsigned value without a rule: sizes, counts and colours.
constexpr Param Any(std::string_view label, std::int32_t initial, std::string_view unit = "px",
                    C control = Param::kSpin) {
  return {Param::kUnsigned, 0, kAnyU, initial, 0, label, unit, control, {}};
}
constexpr Param Colour(std::string_view label) {
  return Any(label, 0, {}, Param::kColour);
}
constexpr Param S(std::string_view label, std::int64_t low, std::int64_t high, std::int32_t initial,
                  std::string_view unit = {}, C control = Param::kSlider) {
  return {Param::kSigned, low, high, initial, low, label, unit, control, {}};
}
constexpr Param Angle(std::string_view label, std::int64_t low, std::int64_t high, std::int32_t initial) {
  return S(label, low, high, initial, "1/100 degree", Param::kAngle);
}
constexpr Param Word(std::string_view label, bool initial) {
  return {Param::kWord, 0, 1, initial, 0, label, {}, Param::kCheck, {}};
}
constexpr Param Flag(std::string_view label, bool initial) {
  return {Param::kFlag, 0, 1, initial, 0, label, {}, Param::kCheck, {}};
}

constexpr char kDirections[] = "North|North-east|East|South-east|South|South-west|West|North-west";
constexpr char kTwoWays[] = "Horizontal|Vertical";

constexpr std::array<Param, 0> kNone{};
constexpr std::array kResize{
    Choice("Method", 0, 5, 4,
           "Nearest neighbour|Nearest, keeping dark lines|Resample|Resample|Bicubic|Lanczos"),
    Any("Size in percent", 0, {}, Param::kCheck),
    Any("Width", 320),
    Any("Height", 240),
    Flag("Keep the aspect ratio", false),
    Flag("Never enlarge", false)};
constexpr std::array kRotate{
    Angle("Angle", -36000, 36000, 1),
    Choice("Quality", 0, 4, 4, "Nearest|Nearest, canvas grows|Bilinear|Bilinear, canvas grows|Bicubic"),
    Colour("Fill colour")};
constexpr std::array kCrop{Any("Top", 0), Any("Left", 0), Any("Width", 128), Any("Height", 128)};
constexpr std::array kAddNoise{U("Amount", 0, 1000, 0, "1/10 %"),
                               Choice("Channel", 0, 3, 0, "All|Red|Green|Blue")};
constexpr std::array kAutoTrim{U("Tolerance", 0, 244, 0)};
constexpr std::array kAverage{U("Size", 2, 255, 2, "px", Param::kSpin)};
constexpr std::array kBalance{U("Red from red", 0, 100, 100, "%"),     U("Red from green", 0, 100, 0, "%"),
                              U("Red from blue", 0, 100, 0, "%"),      U("Green from red", 0, 100, 0, "%"),
                              U("Green from green", 0, 100, 100, "%"), U("Green from blue", 0, 100, 0, "%"),
                              U("Blue from red", 0, 100, 0, "%"),      U("Blue from green", 0, 100, 0, "%"),
                              U("Blue from blue", 0, 100, 100, "%")};
constexpr std::array kBlur{U("Length", 3, 100, 3, "px", Param::kSpin), Angle("Angle", -36000, 36000, 1000),
                           Word("One way only", true)};
constexpr std::array kAmount{S("Amount", -1000, 1000, 0, "1/10 %")};
constexpr std::array kColorRes{
    U("Bits per pixel", 0, 32, 8, {}, Param::kSpin), U("Palette", 0, 128, 1, {}, Param::kSpin),
    Choice("Dither", 0, 8, 0,
           "None|Floyd-Steinberg|Stucki|Burkes|Sierra|Stevenson-Arce|Jarvis|Ordered|Clustered dot"),
    Any("Colours", 0, {})};
constexpr std::array kDpi{U("Horizontal", 1, kAnyU, 96, "dpi", Param::kSpin),
                          U("Vertical", 1, kAnyU, 96, "dpi", Param::kSpin)};
constexpr std::array kEdge{U("Threshold", 0, 255, 60), U("Kind", 257, 1032, 259, {}, Param::kSpin, 259)};
constexpr std::array kEmboss{Choice("Direction", 0, 7, 2, kDirections), U("Depth", 0, 1000, 500)};
constexpr std::array kGamma{U("Gamma", 10, 500, 200, "1/100")};
constexpr std::array kGaussian{U("Radius", 1, 1000, 50, "1/2 px")};
constexpr std::array kGradient{Choice("Direction", 8, 15, 10, kDirections, 10)};
constexpr std::array kGrey{U("Red weight", 0, 1000, 333, "1/10 %"), U("Green weight", 0, 1000, 333, "1/10 %"),
                           U("Blue weight", 0, 1000, 334, "1/10 %")};
constexpr std::array kHalftone{Choice("Pattern", 0, 6, 2, "Print|View|Circles|Ellipses|Squares|Lines|Random"),
                               Angle("Angle", -36000, 36000, 0),
                               U("Cell size", 2, 100, 5, "px", Param::kSpin)};
constexpr std::array kHue{S("Hue", -180, 180, 0, "degrees")};
constexpr std::array kIntensity{U("Low", 0, 255, 75), U("High", 0, 255, 175)};
constexpr std::array kLaplacian{
    Choice("Kernel", 16, 21, 16, "Laplacian 1|Laplacian 2|Laplacian 3|Diagonal|Horizontal|Vertical")};
constexpr std::array kLineSegment{
    Choice("Direction", 29, 32, 29, "Horizontal|Vertical|Left to right|Right to left")};
constexpr std::array kMedian{U("Size", 2, 100, 2, "px", Param::kSpin)};
constexpr std::array kMosaic{U("Tile size", 2, 64, 2, "px")};
constexpr std::array kOilify{U("Size", 2, 255, 2, "px")};
constexpr std::array kPosterize{U("Levels", 2, 64, 6)};
constexpr std::array kPrewitt{Choice("Direction", 24, 25, 24, kTwoWays)};
constexpr std::array kShiftDiff{Choice("Direction", 26, 28, 26, "Diagonal|Horizontal|Vertical")};
constexpr std::array kSkew{Angle("Angle", -4500, 4500, 1000), Word("Horizontal", true),
                           Colour("Fill colour")};
constexpr std::array kSobel{Choice("Direction", 22, 23, 22, kTwoWays)};
constexpr std::array kSolarize{U("Threshold", 0, 255, 0)};
constexpr std::array kUnsharp{U("Amount", 0, 500, 0, "%"), U("Radius", 1, 1000, 1, "1/2 px"),
                              U("Threshold", 0, 255, 0),
                              Choice("Applied to", 1, 2, 1, "Each colour channel|Luminance only")};

template <typename>
struct Arity;
template <typename... A>
struct Arity<short (engine::CLead::*)(A...)> {
  static constexpr std::size_t value = sizeof...(A);
};

// A kind whose apply is one operation taking its parameters, in order, as
// 16-bit arguments (or none).
template <auto Op>
class Direct : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    run(std::make_index_sequence<Arity<decltype(Op)>::value>{});
    return true;
  }

 private:
  template <std::size_t... I>
  void run(std::index_sequence<I...>) {
    static_cast<void>((this->lead().*Op)(this->i2(I)...));
  }
};

// Runs an operation whose failure the filter ignores; false when it threw.
template <typename Op>
bool swallowed(Op op) {
  try {
    op();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// ---- Geometry ----------------------------------------------------------------

class FResize final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    int w = 0, h = 0;
    sourceSize(w, h);
    int toW = 0, toH = 0;
    if (targetSize(w, h, toW, toH))
      static_cast<void>(lead().ResizeImage(static_cast<float>(toW), static_cast<float>(toH), i2(0)));
    return true;
  }
  // Nearest neighbour (0) and the kind that keeps dark lines (1) pick pixels,
  // which a decoder's averaging reduction would not reproduce.
  bool resamplesTo(int width, int height, int& toWidth, int& toHeight) const override {
    return i2(0) >= 2 && targetSize(width, height, toWidth, toHeight) && toWidth > 0 && toHeight > 0;
  }

 private:
  // The size passed to the resize (a side of 0 follows from the aspect
  // ratio); false when the image is left as it is.
  bool targetSize(int w, int h, int& toW, int& toH) const {
    const double boxW = static_cast<std::uint32_t>(value(2)), boxH = static_cast<std::uint32_t>(value(3));
    const auto set = [&](double newW, double newH) {
      toW = static_cast<int>(std::min(newW, 2147483647.0));
      toH = static_cast<int>(std::min(newH, 2147483647.0));
      return true;
    };
    if (value(1) != 0)  // percentages of the source size
      return set(std::trunc(w * boxW / 100.0), std::trunc(h * boxH / 100.0));
    const bool keepAspect = value(4) != 0, noEnlarge = value(5) != 0;
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
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().RotateImage(value(0), i2(1), value(2)));
    return true;
  }
};

class FFlip final : public Direct<&engine::CLead::FlipImage> {
 public:
  using Direct::Direct;
};

class FMirror final : public Direct<&engine::CLead::MirrorImage> {
 public:
  using Direct::Direct;
};

class FCrop final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    int w = 0, h = 0;
    sourceSize(w, h);
    std::int64_t top = static_cast<std::uint32_t>(value(0)), left = static_cast<std::uint32_t>(value(1));
    std::int64_t width = static_cast<std::uint32_t>(value(2)), height = static_cast<std::uint32_t>(value(3));
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
};

class FAutoTrim final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    swallowed([&] { return lead().AutoTrimImage(i2(0)); });
    return true;
  }
};

class FDPI final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    lead().SetImageXResolution(i2(0));
    lead().SetImageYResolution(i2(1));
    lead().SetUnequalResolution(value(0) != value(1));
    return true;
  }
};

class FSkew final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().ShearImage(i2(0), value(1) != 0, value(2)));
    return true;
  }
};

// ---- Tone and colour ---------------------------------------------------------

class FAddNoise final : public Direct<&engine::CLead::AddNoise> {
 public:
  using Direct::Direct;
};

class FBalanceColors final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    float m[9];
    for (std::size_t i = 0; i < 9; ++i)
      m[i] = static_cast<float>(static_cast<std::uint32_t>(value(i))) / 100.0f;
    swallowed([&] { return lead().BalanceColors(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]); });
    return true;
  }
};

class FBrightness final : public Direct<&engine::CLead::ChangeIntensity> {
 public:
  using Direct::Direct;
};

class FColorRes final : public Direct<&engine::CLead::ReduceColors> {
 public:
  using Direct::Direct;
};

class FContrast final : public Direct<&engine::CLead::ChangeContrast> {
 public:
  using Direct::Direct;
};

class FGammaCorrect final : public Direct<&engine::CLead::GammaCorrect> {
 public:
  using Direct::Direct;
};

class FGrayscale final : public Direct<&engine::CLead::GrayScaleWeighted> {
 public:
  using Direct::Direct;

 protected:
  // The weights are tenths of a percent and never sum to more than 1000.
  void afterRead() override {
    if (value(0) + value(1) > 1000) setValue(1, 1000 - value(0));
    if (value(0) + value(1) + value(2) > 1000) setValue(2, 1000 - value(0) - value(1));
  }
};

class FHalfTone final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().HalftoneImage(i2(0), value(1), i2(2)));
    return true;
  }
};

class FHistoContrast final : public Direct<&engine::CLead::HistoContrast> {
 public:
  using Direct::Direct;
};

class FHue final : public Direct<&engine::CLead::ChangeHue> {
 public:
  using Direct::Direct;
};

class FIntensityDetect final : public Direct<&engine::CLead::IntensityDetect> {
 public:
  using Direct::Direct;
};

class FInvert final : public Direct<&engine::CLead::InvertImage> {
 public:
  using Direct::Direct;
};

class FPosterize final : public Direct<&engine::CLead::PosterizeImage> {
 public:
  using Direct::Direct;
};

class FSaturation final : public Direct<&engine::CLead::ChangeSaturation> {
 public:
  using Direct::Direct;
};

class FSolarize final : public Direct<&engine::CLead::SolarizeImage> {
 public:
  using Direct::Direct;
};

class FStretchIntensity final : public Direct<&engine::CLead::StretchIntensity> {
 public:
  using Direct::Direct;
};

// ---- Spatial, edge and effect ------------------------------------------------

class FAverage final : public Direct<&engine::CLead::AverageFilter> {
 public:
  using Direct::Direct;
};

class FBlur final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().MotionBlur(i2(0), value(1), value(2) != 0));
    return true;
  }
};

class FEdgeDetector final : public Direct<&engine::CLead::EdgeDetect> {
 public:
  using Direct::Direct;
};

class FEmboss final : public Direct<&engine::CLead::EmbossImage> {
 public:
  using Direct::Direct;
};

class FGaussianBlur final : public Direct<&engine::CLead::GaussianBlur> {
 public:
  using Direct::Direct;
};

// The six predefined spatial filters differ only in their band of codes.
class FGradient final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FLaplacian final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FLineSegment final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FPrewitt final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FShiftDiff final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FSobel final : public Direct<&engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};

class FMedian final : public Direct<&engine::CLead::MedianFilter> {
 public:
  using Direct::Direct;
};

class FMosaic final : public Direct<&engine::CLead::MosaicFilter> {
 public:
  using Direct::Direct;
};

class FOilify final : public Direct<&engine::CLead::OilifyImage> {
 public:
  using Direct::Direct;
};

class FOldNewspaper final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    // A failing first step skips the second; neither failure is passed on.
    if (swallowed([&] { return lead().ChangeSaturation(-800); }))
      swallowed([&] { return lead().BalanceColors(0.5f, 0.38f, 0.5f, 0.4f, 0.33f, 0.0f, 0.0f, 0.0f, 0.0f); });
    return true;
  }
};

class FOldPhoto final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().ChangeSaturation(-800));
    return true;
  }
};

class FSharpen final : public Direct<&engine::CLead::SharpenImage> {
 public:
  using Direct::Direct;
};

class FSketch final : public Filter {
 public:
  using Filter::Filter;
  bool apply() override {
    static_cast<void>(lead().GrayScaleWeighted(333, 333, 334));
    static_cast<void>(lead().SpatialFilter(15));
    static_cast<void>(lead().InvertImage());
    return true;
  }
};

class FUnsharpMask final : public Direct<&engine::CLead::UnsharpMask> {
 public:
  using Direct::Direct;
};

template <typename T>
std::unique_ptr<Filter> make(const FilterKind& kind, FilterContext& context) {
  return std::make_unique<T>(kind, context);
}

constexpr DialogSet E = DialogSet::kEffect, Co = DialogSet::kColour, G = DialogSet::kGeometry,
                    No = DialogSet::kNone;
constexpr DialogPlan kPlain{};

// The registry: every kind once, in registry order. Resize, crop and dpi are
// edited in the program's own dialogs, so they name no dialog set.
constexpr FilterKind kKinds[] = {
    {"resize", "Resize", "Resizes the image to\na new width and height.", No, kResize, kPlain, make<FResize>},
    {"rotate", "Rotate", "Rotates the image.", G, kRotate, {.options = 28}, make<FRotate>},
    {"flip", "Flip", "Flips the image from top\nto bottom.", No, kNone, kPlain, make<FFlip>},
    {"mirror", "Mirror", "Reverses the image (left to\nright) to produce a mirror image.", No, kNone, kPlain,
     make<FMirror>},
    {"crop", "Crop", "Crops the image.", No, kCrop, kPlain, make<FCrop>},
    {"addnoise", "Add Noise", "Adds random pixels to the image\nresulting in a noise effect.", E, kAddNoise,
     kPlain, make<FAddNoise>},
    {"autotrim",
     "Auto-Trim",
     "Trims the image, removing blank\nspace around the edges.",
     G,
     kAutoTrim,
     {.options = 4, .secondSetting = 0},
     make<FAutoTrim>},
    {"average", "Average", "Changes the color of each pixel,\nresulting in a blur effect.", E, kAverage,
     kPlain, make<FAverage>},
    {"balcolors",
     "Balance Colors",
     "Redistributes the RGB values\nof the image.",
     Co,
     kBalance,
     {.mapping = DialogPlan::kPercentFactor},
     make<FBalanceColors>},
    {"blur", "Blur", "Creates the illusion of movement\nin the image.", E, kBlur, kPlain, make<FBlur>},
    {"brightness", "Brightness", "Changes the intensity\n(brightness) of the image.", Co, kAmount, kPlain,
     make<FBrightness>},
    {"colorres",
     "Color Resolution",
     "Changes the color resolution\nof the image.",
     Co,
     kColorRes,
     {.options = 28, .secondSetting = 0, .secondOnGeometry = true, .hasExtra = true, .extra = 0x3FFFFFFF},
     make<FColorRes>},
    {"contrast", "Contrast", "Changes the contrast of\nthe image.", Co, kAmount, kPlain, make<FContrast>},
    {"dpi", "DPI Resolution", "Changes the physical resolution of\nthe image, measured in dots per inch.", No,
     kDpi, kPlain, make<FDPI>},
    {"edgedetector", "Edge Detector", "Detectes edges in the image.", E, kEdge, kPlain, make<FEdgeDetector>},
    {"emboss", "Emboss", "Applies an emboss effect on\nthe image.", E, kEmboss, kPlain, make<FEmboss>},
    {"gammacorrect",
     "Gamma Correct",
     "Adjusts the intensity of colors, by\nchanging the gamma constant.",
     Co,
     kGamma,
     {.options = 28, .mapping = DialogPlan::kOneAsThree},
     make<FGammaCorrect>},
    {"gaussian", "Gaussian Blur", "Smoothes or blurs an image.", E, kGaussian, kPlain, make<FGaussianBlur>},
    {"gradient", "Gradient Filter", "Sharpening an image or detecting\nedges within the image (gradient).", E,
     kGradient, kPlain, make<FGradient>},
    {"grayscale", "Grayscale", "Convert the image to\na grayscale image.", Co, kGrey, kPlain,
     make<FGrayscale>},
    {"halftone", "Half-Tone", "Convert the image to\na halftoned image.", Co, kHalftone, kPlain,
     make<FHalfTone>},
    {"histocontrast", "HistoContrast", "Changes the contrast of the\nimage, by using a histogram.", Co,
     kAmount, kPlain, make<FHistoContrast>},
    {"hue", "Hue", "Changes the hue of colors in the\nbitmap by rotating the color wheel.", Co, kHue, kPlain,
     make<FHue>},
    {"intensitydetect", "Intensity Detect",
     "Filters the image to detect colors\nin a specified intensity range.", Co, kIntensity, kPlain,
     make<FIntensityDetect>},
    {"invert", "Invert", "Inverts the colors, making it\nlike a photographic negative.", No, kNone, kPlain,
     make<FInvert>},
    {"laplacian", "Laplacian", "Sharpening an image or detecting\nedges within the image (laplacian).", E,
     kLaplacian, kPlain, make<FLaplacian>},
    {"linesegment", "Line Segment", "Sharpening an image or detecting\nedges within the image (l-s).", E,
     kLineSegment, kPlain, make<FLineSegment>},
    {"median", "Median", "Changes the color of each pixel,\nresulting in a noise reduction.", E, kMedian,
     kPlain, make<FMedian>},
    {"mosaic", "Mosaic", "Applies a mosaic effect to\nthe image.", E, kMosaic, kPlain, make<FMosaic>},
    {"oilify", "Oilify", "Applies an oil-painting effect\nto the image.", E, kOilify, kPlain, make<FOilify>},
    {"oldnewspaper", "Old Newspaper", "Applies an old-newspaper effect\nto the image.", No, kNone, kPlain,
     make<FOldNewspaper>},
    {"oldphoto", "Old Photo", "Applies an old-photo effect\nto the image.", No, kNone, kPlain,
     make<FOldPhoto>},
    {"posterize", "Posterize", "Imposes a poster effect on\nthe image.", Co, kPosterize, kPlain,
     make<FPosterize>},
    {"prewitt", "Prewitt", "Sharpening an image or detecting\nedges within the image (prewitt).", E, kPrewitt,
     kPlain, make<FPrewitt>},
    {"saturation", "Saturation", "Changes the saturation of colors\nin the image.", Co, kAmount, kPlain,
     make<FSaturation>},
    {"sharpen", "Sharpen", "Changes the sharpness of\nthe image.", E, kAmount, kPlain, make<FSharpen>},
    {"shiftdiff", "Shift and Difference", "Sharpening an image or detecting\nedges within the image (s-d).",
     E, kShiftDiff, kPlain, make<FShiftDiff>},
    {"sketch", "Sketch", "Applies a sketch effect\nto the image.", No, kNone, kPlain, make<FSketch>},
    {"skew",
     "Skew",
     "Moves the corners of the image\nin the fashion of a parallelogram.",
     G,
     kSkew,
     {.options = 29},
     make<FSkew>},
    {"sobel", "Sobel", "Sharpening an image or detecting\nedges within the image (sobel).", E, kSobel, kPlain,
     make<FSobel>},
    {"solarize", "Solarize", "An effect that mimics the exposure\nof photographic film to light.", Co,
     kSolarize, kPlain, make<FSolarize>},
    {"stretchint", "Stretch Intensity", "Changes the contrast of the image\nby a range of intensity values.",
     No, kNone, kPlain, make<FStretchIntensity>},
    {"unsharpmask", "Unsharp Mask", "Changes the sharpness of\nthe image.", E, kUnsharp, kPlain,
     make<FUnsharpMask>},
};
static_assert(std::size(kKinds) == kFilterCount);

}  // namespace

std::span<const FilterKind> filterKinds() {
  return kKinds;
}

}  // namespace pv::filters
