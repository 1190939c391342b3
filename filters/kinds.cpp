// The 43 filter kinds: each class holds its parameter table (text-form order,
// range rules, defaults) and the imaging operations of its apply.
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

// Unsigned, clamped to low..high (a value below low becomes `below`).
constexpr Param U(std::int64_t low, std::int64_t high, std::int32_t initial, std::int64_t below = -1) {
  return {Param::kUnsigned, low, high, initial, below < 0 ? low : below};
}
// An unsigned value without a rule.
constexpr Param Any(std::int32_t initial) { return U(0, kAnyU, initial); }
constexpr Param S(std::int64_t low, std::int64_t high, std::int32_t initial) {
  return {Param::kSigned, low, high, initial, low};
}
constexpr Param Word(bool initial) { return {Param::kWord, 0, 1, initial, 0}; }
constexpr Param Flag(bool initial) { return {Param::kFlag, 0, 1, initial, 0}; }

constexpr std::array<Param, 0> kNone{};
constexpr std::array kResize{U(0, 5, 4), Any(0), Any(320), Any(240), Flag(false), Flag(false)};
constexpr std::array kRotate{S(-36000, 36000, 1), U(0, 4, 4), Any(0)};
constexpr std::array kCrop{Any(0), Any(0), Any(128), Any(128)};
constexpr std::array kAddNoise{U(0, 1000, 0), U(0, 3, 0)};
constexpr std::array kAutoTrim{U(0, 244, 0)};
constexpr std::array kAverage{U(2, 255, 2)};
constexpr std::array kBalance{U(0, 100, 100), U(0, 100, 0), U(0, 100, 0), U(0, 100, 0), U(0, 100, 100),
                              U(0, 100, 0),   U(0, 100, 0), U(0, 100, 0), U(0, 100, 100)};
constexpr std::array kBlur{U(3, 100, 3), S(-36000, 36000, 1000), Word(true)};
constexpr std::array kAmount{S(-1000, 1000, 0)};
constexpr std::array kColorRes{U(0, 32, 8), U(0, 128, 1), U(0, 8, 0), Any(0)};
constexpr std::array kDpi{U(1, kAnyU, 96), U(1, kAnyU, 96)};
constexpr std::array kEdge{U(0, 255, 60), U(257, 1032, 259, 259)};
constexpr std::array kEmboss{U(0, 7, 2), U(0, 1000, 500)};
constexpr std::array kGamma{U(10, 500, 200)};
constexpr std::array kGaussian{U(1, 1000, 50)};
constexpr std::array kGradient{U(8, 15, 10, 10)};
constexpr std::array kGrey{U(0, 1000, 333), U(0, 1000, 333), U(0, 1000, 334)};
constexpr std::array kHalftone{U(0, 6, 2), S(-36000, 36000, 0), U(2, 100, 5)};
constexpr std::array kHue{S(-180, 180, 0)};
constexpr std::array kIntensity{U(0, 255, 75), U(0, 255, 175)};
constexpr std::array kLaplacian{U(16, 21, 16)};
constexpr std::array kLineSegment{U(29, 32, 29)};
constexpr std::array kMedian{U(2, 100, 2)};
constexpr std::array kMosaic{U(2, 64, 2)};
constexpr std::array kOilify{U(2, 255, 2)};
constexpr std::array kPosterize{U(2, 64, 6)};
constexpr std::array kPrewitt{U(24, 25, 24)};
constexpr std::array kShiftDiff{U(26, 28, 26)};
constexpr std::array kSkew{S(-4500, 4500, 1000), Word(true), Any(0)};
constexpr std::array kSobel{U(22, 23, 22)};
constexpr std::array kSolarize{U(0, 255, 0)};
constexpr std::array kUnsharp{U(0, 500, 0), U(1, 1000, 1), U(0, 255, 0), U(1, 2, 1)};

// The dialog set of each kind by registry index: 'e' effect, 'c' colour,
// 'g' geometry, '-' none (no settings, or a dialog of the program's own).
constexpr char kDialogSets[kFilterCount + 1] = "-g---egececcc-eeceeccccc-eeeee--cecee-gec-e";

template <int Type, const auto& Params>
class Kind : public Filter {
 public:
  explicit Kind(FilterContext& context) : Filter(Type, Params, context) {}

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    const char set = kDialogSets[Type];
    if (set == '-') return false;
    plan.set = set == 'e' ? DialogSet::kEffect : set == 'c' ? DialogSet::kColour : DialogSet::kGeometry;
    return true;
  }
};

template <typename>
struct Arity;
template <typename... A>
struct Arity<short (engine::CLead::*)(A...)> {
  static constexpr std::size_t value = sizeof...(A);
};

// A kind whose apply is one operation taking its parameters, in order, as
// 16-bit arguments (or none).
template <int Type, const auto& Params, auto Op>
class Direct : public Kind<Type, Params> {
 public:
  using Kind<Type, Params>::Kind;
  bool apply() override {
    run(std::make_index_sequence<Arity<decltype(Op)>::value>{});
    return true;
  }

 private:
  template <std::size_t... I>
  void run(std::index_sequence<I...>) {
    (this->lead().*Op)(this->i2(I)...);
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

class FResize final : public Kind<0, kResize> {
 public:
  using Kind::Kind;
  bool apply() override {
    int w = 0, h = 0;
    sourceSize(w, h);
    const double boxW = static_cast<std::uint32_t>(value(2)), boxH = static_cast<std::uint32_t>(value(3));
    const short method = i2(0);
    if (value(1) != 0) {  // percentages of the source size
      lead().ResizeImage(static_cast<float>(std::trunc(w * boxW / 100.0)), static_cast<float>(std::trunc(h * boxH / 100.0)),
                         method);
      return true;
    }
    const bool keepAspect = value(4) != 0, noEnlarge = value(5) != 0;
    if (noEnlarge && w <= boxW && h <= boxH) return true;  // already fits
    if (!keepAspect || w <= 0 || h <= 0) {
      lead().ResizeImage(static_cast<float>(boxW), static_cast<float>(boxH), method);
      return true;
    }
    // The box is a maximum: landscape fits the width, portrait the height; a
    // zero box side hands the fit to the other side.
    const bool byWidth = w >= h ? boxW != 0 : boxH == 0;
    double newW, newH;
    if (byWidth) {
      newW = boxW;
      newH = std::max(1.0, std::trunc(boxW * h / w));
    } else {
      newH = boxH;
      newW = std::max(1.0, std::trunc(boxH * w / h));
    }
    lead().ResizeImage(static_cast<float>(newW), static_cast<float>(newH), method);
    return true;
  }
};

class FRotate final : public Kind<1, kRotate> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().RotateImage(value(0), i2(1), value(2));
    return true;
  }

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    Kind::dialogPlan(plan);
    plan.options = 28;
    return true;
  }
};

class FFlip final : public Direct<2, kNone, &engine::CLead::FlipImage> {
 public:
  using Direct::Direct;
};

class FMirror final : public Direct<3, kNone, &engine::CLead::MirrorImage> {
 public:
  using Direct::Direct;
};

class FCrop final : public Kind<4, kCrop> {
 public:
  using Kind::Kind;
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
    lead().TrimImage(static_cast<float>(left), static_cast<float>(top), static_cast<float>(width),
                     static_cast<float>(height));
    return true;
  }
};

class FAutoTrim final : public Kind<6, kAutoTrim> {
 public:
  using Kind::Kind;
  bool apply() override {
    swallowed([&] { lead().AutoTrimImage(i2(0)); });
    return true;
  }

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    Kind::dialogPlan(plan);
    plan.secondSetting = 0;
    plan.options = 4;
    return true;
  }
};

class FDPI final : public Kind<13, kDpi> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().SetImageXResolution(i2(0));
    lead().SetImageYResolution(i2(1));
    lead().SetUnequalResolution(value(0) != value(1));
    return true;
  }
};

class FSkew final : public Kind<38, kSkew> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().ShearImage(i2(0), value(1) != 0, value(2));
    return true;
  }

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    Kind::dialogPlan(plan);
    plan.options = 29;
    return true;
  }
};

// ---- Tone and colour ---------------------------------------------------------

class FAddNoise final : public Direct<5, kAddNoise, &engine::CLead::AddNoise> {
 public:
  using Direct::Direct;
};

class FBalanceColors final : public Kind<8, kBalance> {
 public:
  using Kind::Kind;
  bool apply() override {
    float m[9];
    for (std::size_t i = 0; i < 9; ++i) m[i] = static_cast<float>(static_cast<std::uint32_t>(value(i))) / 100.0f;
    swallowed([&] { lead().BalanceColors(m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]); });
    return true;
  }

 protected:
  // The dialog works in factors: percentages / 100, back times 100 truncated.
  void putValues(OptionDialogSet& dialogs, DialogSet set) override {
    for (int i = 0; i < 9; ++i) dialogs.setValue(set, i, static_cast<std::uint32_t>(value(static_cast<std::size_t>(i))) / 100.0);
  }
  void takeValues(OptionDialogSet& dialogs, DialogSet set) override {
    for (int i = 0; i < 9; ++i)
      setValue(static_cast<std::size_t>(i), static_cast<std::int32_t>(static_cast<std::int64_t>(dialogs.value(set, i) * 100.0)));
  }
};

class FBrightness final : public Direct<10, kAmount, &engine::CLead::ChangeIntensity> {
 public:
  using Direct::Direct;
};

class FColorRes final : public Direct<11, kColorRes, &engine::CLead::ReduceColors> {
 public:
  using Direct::Direct;

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    Kind::dialogPlan(plan);
    plan.secondOnGeometry = true;
    plan.secondSetting = 0;
    plan.hasExtra = true;
    plan.extra = 0x3FFFFFFF;
    plan.options = 28;
    return true;
  }
};

class FContrast final : public Direct<12, kAmount, &engine::CLead::ChangeContrast> {
 public:
  using Direct::Direct;
};

class FGammaCorrect final : public Direct<16, kGamma, &engine::CLead::GammaCorrect> {
 public:
  using Direct::Direct;

 protected:
  bool dialogPlan(DialogPlan& plan) const override {
    Kind::dialogPlan(plan);
    plan.options = 28;
    return true;
  }
  // The dialog edits red, green and blue gamma; the filter keeps their mean.
  void putValues(OptionDialogSet& dialogs, DialogSet set) override {
    for (int i = 0; i < 3; ++i) dialogs.setValue(set, i, static_cast<std::uint32_t>(value(0)));
    dialogs.setExtraValue(set, 1);
  }
  void takeValues(OptionDialogSet& dialogs, DialogSet set) override {
    std::int64_t sum = 0;
    for (int i = 0; i < 3; ++i) sum += static_cast<std::int32_t>(static_cast<std::int64_t>(dialogs.value(set, i)));
    setValue(0, static_cast<std::int32_t>(sum / 3));
  }
};

class FGrayscale final : public Direct<19, kGrey, &engine::CLead::GrayScaleWeighted> {
 public:
  using Direct::Direct;

 protected:
  // The weights are tenths of a percent and never sum to more than 1000.
  void afterRead() override {
    if (value(0) + value(1) > 1000) setValue(1, 1000 - value(0));
    if (value(0) + value(1) + value(2) > 1000) setValue(2, 1000 - value(0) - value(1));
  }
};

class FHalfTone final : public Kind<20, kHalftone> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().HalftoneImage(i2(0), value(1), i2(2));
    return true;
  }
};

class FHistoContrast final : public Direct<21, kAmount, &engine::CLead::HistoContrast> {
 public:
  using Direct::Direct;
};

class FHue final : public Direct<22, kHue, &engine::CLead::ChangeHue> {
 public:
  using Direct::Direct;
};

class FIntensityDetect final : public Direct<23, kIntensity, &engine::CLead::IntensityDetect> {
 public:
  using Direct::Direct;
};

class FInvert final : public Direct<24, kNone, &engine::CLead::InvertImage> {
 public:
  using Direct::Direct;
};

class FPosterize final : public Direct<32, kPosterize, &engine::CLead::PosterizeImage> {
 public:
  using Direct::Direct;
};

class FSaturation final : public Direct<34, kAmount, &engine::CLead::ChangeSaturation> {
 public:
  using Direct::Direct;
};

class FSolarize final : public Direct<40, kSolarize, &engine::CLead::SolarizeImage> {
 public:
  using Direct::Direct;
};

class FStretchIntensity final : public Direct<41, kNone, &engine::CLead::StretchIntensity> {
 public:
  using Direct::Direct;
};

// ---- Spatial, edge and effect ------------------------------------------------

class FAverage final : public Direct<7, kAverage, &engine::CLead::AverageFilter> {
 public:
  using Direct::Direct;
};

class FBlur final : public Kind<9, kBlur> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().MotionBlur(i2(0), value(1), value(2) != 0);
    return true;
  }
};

class FEdgeDetector final : public Direct<14, kEdge, &engine::CLead::EdgeDetect> {
 public:
  using Direct::Direct;
};

class FEmboss final : public Direct<15, kEmboss, &engine::CLead::EmbossImage> {
 public:
  using Direct::Direct;
};

class FGaussianBlur final : public Direct<17, kGaussian, &engine::CLead::GaussianBlur> {
 public:
  using Direct::Direct;
};

// The six predefined spatial filters differ only in their band of codes.
class FGradient final : public Direct<18, kGradient, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FLaplacian final : public Direct<25, kLaplacian, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FLineSegment final : public Direct<26, kLineSegment, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FPrewitt final : public Direct<33, kPrewitt, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FShiftDiff final : public Direct<36, kShiftDiff, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};
class FSobel final : public Direct<39, kSobel, &engine::CLead::SpatialFilter> {
 public:
  using Direct::Direct;
};

class FMedian final : public Direct<27, kMedian, &engine::CLead::MedianFilter> {
 public:
  using Direct::Direct;
};

class FMosaic final : public Direct<28, kMosaic, &engine::CLead::MosaicFilter> {
 public:
  using Direct::Direct;
};

class FOilify final : public Direct<29, kOilify, &engine::CLead::OilifyImage> {
 public:
  using Direct::Direct;
};

class FOldNewspaper final : public Kind<30, kNone> {
 public:
  using Kind::Kind;
  bool apply() override {
    // A failing first step skips the second; neither failure is passed on.
    if (swallowed([&] { lead().ChangeSaturation(-800); }))
      swallowed([&] { lead().BalanceColors(0.5f, 0.38f, 0.5f, 0.4f, 0.33f, 0.0f, 0.0f, 0.0f, 0.0f); });
    return true;
  }
};

class FOldPhoto final : public Kind<31, kNone> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().ChangeSaturation(-800);
    return true;
  }
};

class FSharpen final : public Direct<35, kAmount, &engine::CLead::SharpenImage> {
 public:
  using Direct::Direct;
};

class FSketch final : public Kind<37, kNone> {
 public:
  using Kind::Kind;
  bool apply() override {
    lead().GrayScaleWeighted(333, 333, 334);
    lead().SpatialFilter(15);
    lead().InvertImage();
    return true;
  }
};

class FUnsharpMask final : public Direct<42, kUnsharp, &engine::CLead::UnsharpMask> {
 public:
  using Direct::Direct;
};

template <typename T>
std::unique_ptr<Filter> make(FilterContext& context) {
  return std::make_unique<T>(context);
}

using Maker = std::unique_ptr<Filter> (*)(FilterContext&);

// By registry index.
constexpr Maker kMakers[kFilterCount] = {
    make<FResize>,        make<FRotate>,         make<FFlip>,          make<FMirror>,         make<FCrop>,
    make<FAddNoise>,      make<FAutoTrim>,       make<FAverage>,       make<FBalanceColors>,  make<FBlur>,
    make<FBrightness>,    make<FColorRes>,       make<FContrast>,      make<FDPI>,            make<FEdgeDetector>,
    make<FEmboss>,        make<FGammaCorrect>,   make<FGaussianBlur>,  make<FGradient>,       make<FGrayscale>,
    make<FHalfTone>,      make<FHistoContrast>,  make<FHue>,           make<FIntensityDetect>, make<FInvert>,
    make<FLaplacian>,     make<FLineSegment>,    make<FMedian>,        make<FMosaic>,         make<FOilify>,
    make<FOldNewspaper>,  make<FOldPhoto>,       make<FPosterize>,     make<FPrewitt>,        make<FSaturation>,
    make<FSharpen>,       make<FShiftDiff>,      make<FSketch>,        make<FSkew>,           make<FSobel>,
    make<FSolarize>,      make<FStretchIntensity>, make<FUnsharpMask>,
};

}  // namespace

std::unique_ptr<Filter> createFilter(int index, FilterContext& context) {
  if (index < 0 || index >= kFilterCount) return nullptr;
  return kMakers[index](context);
}

}  // namespace pv::filters
