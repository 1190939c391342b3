#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/lead.h"
#include "filters/chain.h"
#include "filters/filter.h"

using pv::filters::createFilter;
using pv::filters::FilterChain;
using pv::filters::FilterContext;

namespace {

// Records every operation a filter issues, with its arguments as typed.
class RecordingLead : public pv::engine::CLead {
 public:
  std::vector<std::string> calls;
  float width = 0, height = 0;
  bool throwOnSaturation = false, throwAlways = false;

  template <typename... A>
  short rec(const char* name, A... args) {
    std::ostringstream s;
    s << name << '(';
    [[maybe_unused]] const char* sep = "";
    ((s << sep << args, sep = ","), ...);
    s << ')';
    calls.push_back(s.str());
    if (throwAlways) throw std::runtime_error("imaging failed");
    return 0;
  }
  float GetImageWidth() override { return width; }
  float GetImageHeight() override { return height; }
  short ResizeImage(float w, float h, short f) override { return rec("ResizeImage", w, h, f); }
  short TrimImage(float l, float t, float w, float h) override { return rec("TrimImage", l, t, w, h); }
  short ReduceColors(short a, short b, short c, short d) override { return rec("ReduceColors", a, b, c, d); }
  short AverageFilter(short n) override { return rec("AverageFilter", n); }
  short MedianFilter(short n) override { return rec("MedianFilter", n); }
  short ChangeContrast(short n) override { return rec("ChangeContrast", n); }
  short FlipImage() override { return rec("FlipImage"); }
  short ChangeHue(short n) override { return rec("ChangeHue", n); }
  short ChangeIntensity(short n) override { return rec("ChangeIntensity", n); }
  short InvertImage() override { return rec("InvertImage"); }
  short SharpenImage(short n) override { return rec("SharpenImage", n); }
  short ChangeSaturation(short n) override {
    if (throwOnSaturation) throw std::runtime_error("saturation failed");
    return rec("ChangeSaturation", n);
  }
  short MirrorImage() override { return rec("MirrorImage"); }
  short MosaicFilter(short n) override { return rec("MosaicFilter", n); }
  short SpatialFilter(short n) override { return rec("SpatialFilter", n); }
  short PosterizeImage(short n) override { return rec("PosterizeImage", n); }
  short RotateImage(int a, short f, int c) override { return rec("RotateImage", a, f, c); }
  short EmbossImage(short a, short b) override { return rec("EmbossImage", a, b); }
  short AddNoise(short a, short b) override { return rec("AddNoise", a, b); }
  short IntensityDetect(short a, short b) override { return rec("IntensityDetect", a, b); }
  short StretchIntensity() override { return rec("StretchIntensity"); }
  short GammaCorrect(short n) override { return rec("GammaCorrect", n); }
  short ShearImage(short a, bool h, int c) override { return rec("ShearImage", a, h, c); }
  short HalftoneImage(short a, int b, short c) override { return rec("HalftoneImage", a, b, c); }
  short HistoContrast(short n) override { return rec("HistoContrast", n); }
  short SolarizeImage(short n) override { return rec("SolarizeImage", n); }
  short AutoTrimImage(short n) override { return rec("AutoTrimImage", n); }
  short OilifyImage(short n) override { return rec("OilifyImage", n); }
  short GaussianBlur(short n) override { return rec("GaussianBlur", n); }
  short UnsharpMask(short a, short b, short c, short d) override { return rec("UnsharpMask", a, b, c, d); }
  short GrayScaleWeighted(short r, short g, short b) override { return rec("GrayScaleWeighted", r, g, b); }
  short BalanceColors(float a, float b, float c, float d, float e, float f, float g, float h,
                      float i) override {
    return rec("BalanceColors", a, b, c, d, e, f, g, h, i);
  }
  short EdgeDetect(short a, short b) override { return rec("EdgeDetect", a, b); }
  short MotionBlur(short a, int b, bool c) override { return rec("MotionBlur", a, b, c); }
  void SetImageXResolution(short n) override { rec("SetImageXResolution", n); }
  void SetImageYResolution(short n) override { rec("SetImageYResolution", n); }
  void SetUnequalResolution(bool on) override { rec("SetUnequalResolution", on); }
  short loadStatus = 0;
  short LoadImage(const std::string& path, short, int, int) override {
    rec("LoadImage", path);
    return loadStatus;
  }
  int GetImageHandle() override { return 77; }
};

// Records which kinds the settings editor is asked to edit, and answers
// with preset values (none: the user cancelled).
class RecordingEditor : public pv::filters::FilterEditor {
 public:
  std::vector<std::string> calls;
  std::optional<std::vector<std::int32_t>> answers;
  std::optional<std::vector<std::int32_t>> edit(const pv::filters::FilterKind& kind,
                                                const std::vector<std::int32_t>&, int) override {
    calls.push_back(std::string(kind.key));
    return answers;
  }
};

class RecordingFilterDialogs : public pv::filters::FilterDialogs {
 public:
  bool ok = true;
  std::vector<std::string> opened;
  pv::filters::ResizeValues resize{};
  bool editResize(pv::filters::ResizeValues& v) override {
    opened.push_back("resize " + std::to_string(v.method) + " " + std::to_string(v.width));
    if (ok) v = resize;
    return ok;
  }
  bool editCrop(pv::filters::CropValues& v) override {
    opened.push_back("crop");
    v.left = 7;
    return ok;
  }
  bool editDpi(pv::filters::DpiValues& v) override {
    opened.push_back("dpi");
    v.horizontal = 0;
    return ok;
  }
};

struct Fixture : ::testing::Test {
  RecordingLead lead;
  RecordingEditor dialogs;
  std::vector<std::string> messages;
  FilterContext context{&lead, {}, &dialogs, [this](const std::string& text) { messages.push_back(text); }};
  FilterChain chain{context};

  // The text form after reading `text` into a new filter of its kind.
  std::string read(const std::string& text) {
    chain.clear();
    chain.appendFromText(text);
    return chain.at(0).toText();
  }
  // The operations a text form's filter issues.
  std::vector<std::string> applied(const std::string& text) {
    chain.clear();
    chain.appendFromText(text);
    lead.calls.clear();
    EXPECT_TRUE(chain.at(0).apply());
    return lead.calls;
  }
};

using Calls = std::vector<std::string>;

}  // namespace

TEST(FilterRegistry, NamesKeysAndDescriptionsByIndex) {
  EXPECT_EQ(pv::filters::filterName(0), "Resize");
  EXPECT_EQ(pv::filters::filterKey(42), "unsharpmask");
  EXPECT_EQ(pv::filters::filterDescription(3),
            "Reverses the image (left to\nright) to produce a mirror image.");
  EXPECT_EQ(pv::filters::filterDescription(35), pv::filters::filterDescription(42));
  for (int bad : {-1, pv::filters::filterCount()}) {
    EXPECT_EQ(pv::filters::filterName(bad), "");
    EXPECT_EQ(pv::filters::filterKey(bad), "");
    EXPECT_EQ(pv::filters::filterDescription(bad), "");
  }
  EXPECT_EQ(pv::filters::filterIndexOfText("/filter BLUR 7"), 9);
  EXPECT_EQ(pv::filters::filterIndexOfText("filter   sobel"), 39);
  EXPECT_EQ(pv::filters::filterIndexOfText("/filter blurry 7"), 0);  // exact length
  EXPECT_EQ(pv::filters::filterIndexOfText("/filter"), 0);
}

TEST_F(Fixture, EveryKindIsCreatedWithItsDefaultsAndRoundTripsItsText) {
  const std::vector<std::string> defaults = {"/filter resize 4 0 320 240 0 0",
                              "/filter rotate 1 4 0",
                              "/filter flip",
                              "/filter mirror",
                              "/filter crop 0 0 128 128",
                              "/filter addnoise 0 0",
                              "/filter autotrim 0",
                              "/filter average 2",
                              "/filter balcolors 100 0 0 0 100 0 0 0 100",
                              "/filter blur 3 1000 true",
                              "/filter brightness 0",
                              "/filter colorres 8 1 0 0",
                              "/filter contrast 0",
                              "/filter dpi 96 96",
                              "/filter edgedetector 60 259",
                              "/filter emboss 2 500",
                              "/filter gammacorrect 200",
                              "/filter gaussian 50",
                              "/filter gradient 10",
                              "/filter grayscale 333 333 334",
                              "/filter halftone 2 0 5",
                              "/filter histocontrast 0",
                              "/filter hue 0",
                              "/filter intensitydetect 75 175",
                              "/filter invert",
                              "/filter laplacian 16",
                              "/filter linesegment 29",
                              "/filter median 2",
                              "/filter mosaic 2",
                              "/filter oilify 2",
                              "/filter oldnewspaper",
                              "/filter oldphoto",
                              "/filter posterize 6",
                              "/filter prewitt 24",
                              "/filter saturation 0",
                              "/filter sharpen 0",
                              "/filter shiftdiff 26",
                              "/filter sketch",
                              "/filter skew 1000 true 0",
                              "/filter sobel 22",
                              "/filter solarize 0",
                              "/filter stretchint",
                              "/filter unsharpmask 0 1 0 1"};
  const std::vector<int> noSettings = {2, 3, 24, 30, 31, 37, 41};
  ASSERT_EQ(defaults.size(), static_cast<std::size_t>(pv::filters::filterCount()));
  for (int i = 0; i < pv::filters::filterCount(); ++i) {
    auto f = createFilter(i, context);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, i);
    EXPECT_EQ(f->key, pv::filters::filterKey(i));
    EXPECT_EQ(f->name, pv::filters::filterName(i));
    EXPECT_EQ(f->hasSettings, std::find(noSettings.begin(), noSettings.end(), i) == noSettings.end() ? 1 : 0)
        << i;
    EXPECT_EQ(f->toText(), defaults[i]);
    // Reading its own text changes nothing, and the lookup finds the kind.
    EXPECT_EQ(read(defaults[i]), defaults[i]);
    EXPECT_EQ(pv::filters::filterIndexOfText(defaults[i]), i);
  }
  EXPECT_FALSE(createFilter(pv::filters::filterCount(), context));
}

TEST_F(Fixture, ParsingRulesAreSharedByEveryKind) {
  EXPECT_EQ(read("/filter BLUR 7 -100 false"), "/filter blur 7 -100 false");
  EXPECT_EQ(read("/filter blur 7"), "/filter blur 7 1000 true");
  EXPECT_EQ(read("/filter blur 7 -100 False"), "/filter blur 7 -100 true");
  EXPECT_EQ(read("/filter nosuchfilter 2 1 50 50"), "/filter resize 2 1 50 50 0 0");
  EXPECT_EQ(read("/filter average -5"), "/filter average 255");  // unsigned: negative lands high
  EXPECT_EQ(read("/filter brightness -5000"), "/filter brightness -1000");
  EXPECT_EQ(read("/filter crop 0 0 5000000000 10"), "/filter crop 0 0 2147483647 10");
  EXPECT_EQ(read("/filter brightness -20"), "/filter brightness -20");
  EXPECT_EQ(read("/filter histocontrast -20"), "/filter histocontrast -20");
  EXPECT_EQ(read("  /filter    mosaic     7   99 extra"), "/filter mosaic 7");
  EXPECT_EQ(read("/filter mosaic 12abc"), "/filter mosaic 12");
  EXPECT_EQ(read("/filter mosaic abc"), "/filter mosaic 2");               // no digits read 0, clamped to 2
  EXPECT_EQ(read("/filter mosaic\t9"), "/filter resize 4 0 320 240 0 0");  // a tab is no separator
  EXPECT_EQ(read("/filter invert 5"), "/filter invert");
  EXPECT_EQ(read("/filter resize 4 0 10 10 7 -3"), "/filter resize 4 0 10 10 1 1");
}

TEST_F(Fixture, RangeRulesOfToneAndColourFilters) {
  EXPECT_EQ(read("/filter grayscale 600 600 600"), "/filter grayscale 600 400 0");
  EXPECT_EQ(read("/filter grayscale 2000 0 0"), "/filter grayscale 1000 0 0");
  EXPECT_EQ(read("/filter balcolors 50 50"), "/filter balcolors 50 50 0 0 100 0 0 0 100");
  EXPECT_EQ(read("/filter hue -200"), "/filter hue -180");
  EXPECT_EQ(read("/filter gammacorrect 5"), "/filter gammacorrect 10");
  EXPECT_EQ(read("/filter gammacorrect -1"), "/filter gammacorrect 500");
  EXPECT_EQ(read("/filter colorres 24 0 0 300"), "/filter colorres 24 0 0 300");
  EXPECT_EQ(read("/filter halftone 9 -40000 1"), "/filter halftone 6 -36000 2");
  EXPECT_EQ(read("/filter intensitydetect 300"), "/filter intensitydetect 255 175");
}

TEST_F(Fixture, RangeRulesOfSpatialAndGeometryFilters) {
  EXPECT_EQ(read("/filter gradient 3"), "/filter gradient 10");
  EXPECT_EQ(read("/filter gradient 20"), "/filter gradient 15");
  EXPECT_EQ(read("/filter gradient 12"), "/filter gradient 12");
  EXPECT_EQ(read("/filter edgedetector 100 5"), "/filter edgedetector 100 259");
  EXPECT_EQ(read("/filter edgedetector 300 2000"), "/filter edgedetector 255 1032");
  EXPECT_EQ(read("/filter laplacian 25"), "/filter laplacian 21");
  EXPECT_EQ(read("/filter sobel 0"), "/filter sobel 22");
  EXPECT_EQ(read("/filter gaussian 0"), "/filter gaussian 1");
  EXPECT_EQ(read("/filter unsharpmask 600 0 300 0"), "/filter unsharpmask 500 1 255 1");
  EXPECT_EQ(read("/filter blur 1 40000"), "/filter blur 3 36000 true");
  EXPECT_EQ(read("/filter median 1"), "/filter median 2");
  EXPECT_EQ(read("/filter mosaic 100"), "/filter mosaic 64");
  EXPECT_EQ(read("/filter dpi 0 0"), "/filter dpi 1 1");
  EXPECT_EQ(read("/filter rotate -40000 9"), "/filter rotate -36000 4 0");
  EXPECT_EQ(read("/filter skew 5000 false 255"), "/filter skew 4500 false 255");
  EXPECT_EQ(read("/filter autotrim 300"), "/filter autotrim 244");
}

TEST_F(Fixture, ATextFormLongerThan99CharactersIsRefused) {
  chain.appendFromText("/filter balcolors 100 0 0 0 100 0 0 0 100");
  auto& f = chain.at(0);
  for (std::size_t i = 0; i < 9; ++i) f.setValue(i, -1);  // only a dialog could store these
  EXPECT_EQ(f.toText(), "");
}

TEST_F(Fixture, ApplyIssuesEachKindsOperationsWithTheirArguments) {
  EXPECT_EQ(applied("/filter addnoise 500 2"), Calls{"AddNoise(500,2)"});
  EXPECT_EQ(applied("/filter balcolors 50 50"), Calls{"BalanceColors(0.5,0.5,0,0,1,0,0,0,1)"});
  EXPECT_EQ(applied("/filter brightness -20"), Calls{"ChangeIntensity(-20)"});
  EXPECT_EQ(applied("/filter colorres 4 2 1 16"), Calls{"ReduceColors(4,2,1,16)"});
  EXPECT_EQ(applied("/filter colorres 4 2 1 70000"), Calls{"ReduceColors(4,2,1,4464)"});  // low 16 bits
  EXPECT_EQ(applied("/filter contrast 300"), Calls{"ChangeContrast(300)"});
  EXPECT_EQ(applied("/filter gammacorrect 150"), Calls{"GammaCorrect(150)"});
  EXPECT_EQ(applied("/filter grayscale 299 587 114"), Calls{"GrayScaleWeighted(299,587,114)"});
  EXPECT_EQ(applied("/filter halftone 3 -4500 7"), Calls{"HalftoneImage(3,-4500,7)"});
  EXPECT_EQ(applied("/filter histocontrast -20"), Calls{"HistoContrast(-20)"});
  EXPECT_EQ(applied("/filter hue 90"), Calls{"ChangeHue(90)"});
  EXPECT_EQ(applied("/filter intensitydetect 10 20"), Calls{"IntensityDetect(10,20)"});
  EXPECT_EQ(applied("/filter invert"), Calls{"InvertImage()"});
  EXPECT_EQ(applied("/filter posterize 4"), Calls{"PosterizeImage(4)"});
  EXPECT_EQ(applied("/filter saturation 100"), Calls{"ChangeSaturation(100)"});
  EXPECT_EQ(applied("/filter solarize 128"), Calls{"SolarizeImage(128)"});
  EXPECT_EQ(applied("/filter stretchint"), Calls{"StretchIntensity()"});
  EXPECT_EQ(applied("/filter average 5"), Calls{"AverageFilter(5)"});
  EXPECT_EQ(applied("/filter blur 7 -100 false"), Calls{"MotionBlur(7,-100,0)"});
  EXPECT_EQ(applied("/filter edgedetector 60 513"), Calls{"EdgeDetect(60,513)"});
  EXPECT_EQ(applied("/filter emboss 3 250"), Calls{"EmbossImage(3,250)"});
  EXPECT_EQ(applied("/filter gaussian 40"), Calls{"GaussianBlur(40)"});
  for (const char* text : {"/filter gradient 12", "/filter laplacian 17", "/filter linesegment 30",
                           "/filter prewitt 25", "/filter shiftdiff 27", "/filter sobel 23"}) {
    const std::string code = std::string(text).substr(std::string(text).rfind(' ') + 1);
    EXPECT_EQ(applied(text), Calls{"SpatialFilter(" + code + ")"});
  }
  EXPECT_EQ(applied("/filter median 3"), Calls{"MedianFilter(3)"});
  EXPECT_EQ(applied("/filter mosaic 8"), Calls{"MosaicFilter(8)"});
  EXPECT_EQ(applied("/filter oilify 4"), Calls{"OilifyImage(4)"});
  EXPECT_EQ(applied("/filter oldphoto"), Calls{"ChangeSaturation(-800)"});
  EXPECT_EQ(applied("/filter oldnewspaper"),
            (Calls{"ChangeSaturation(-800)", "BalanceColors(0.5,0.38,0.5,0.4,0.33,0,0,0,0)"}));
  EXPECT_EQ(applied("/filter sharpen -300"), Calls{"SharpenImage(-300)"});
  EXPECT_EQ(applied("/filter sketch"),
            (Calls{"GrayScaleWeighted(333,333,334)", "SpatialFilter(15)", "InvertImage()"}));
  EXPECT_EQ(applied("/filter unsharpmask 200 30 5 2"), Calls{"UnsharpMask(200,30,5,2)"});
  EXPECT_EQ(applied("/filter rotate -9000 1 255"), Calls{"RotateImage(-9000,1,255)"});
  EXPECT_EQ(applied("/filter flip"), Calls{"FlipImage()"});
  EXPECT_EQ(applied("/filter mirror"), Calls{"MirrorImage()"});
  EXPECT_EQ(applied("/filter autotrim 10"), Calls{"AutoTrimImage(10)"});
  EXPECT_EQ(applied("/filter skew -1000 false 65280"), Calls{"ShearImage(-1000,0,65280)"});
  EXPECT_EQ(applied("/filter dpi 300 72"),
            (Calls{"SetImageXResolution(300)", "SetImageYResolution(72)", "SetUnequalResolution(1)"}));
  EXPECT_EQ(applied("/filter dpi 300 300"),
            (Calls{"SetImageXResolution(300)", "SetImageYResolution(300)", "SetUnequalResolution(0)"}));
}

TEST_F(Fixture, ResizeAndCropWorkFromTheRecordedSourceSize) {
  int recordedW = 1000, recordedH = 600;
  bool listed = true;
  context.recordedSize = [&](int& w, int& h) {
    w = recordedW, h = recordedH;
    return listed;
  };
  lead.width = 10, lead.height = 10;  // the recorded size wins over the current one
  EXPECT_EQ(applied("/filter resize 4 1 50 25"), Calls{"ResizeImage(500,150,4)"});
  recordedW = 200, recordedH = 100;
  EXPECT_EQ(applied("/filter resize 4 0 320 240 0 1"), Calls{});  // already fits
  recordedW = 400;
  EXPECT_EQ(applied("/filter resize 4 0 320 240 0 1"), Calls{"ResizeImage(320,240,4)"});
  // Keep aspect: landscape fits the width, portrait the height.
  EXPECT_EQ(applied("/filter resize 2 0 320 240 1 0"), Calls{"ResizeImage(320,80,2)"});
  recordedW = 100, recordedH = 400;
  EXPECT_EQ(applied("/filter resize 2 0 320 240 1 0"), Calls{"ResizeImage(60,240,2)"});
  EXPECT_EQ(applied("/filter resize 2 0 320 0 1 0"),
            Calls{"ResizeImage(320,1280,2)"});  // zero side hands over
  recordedW = 10000, recordedH = 1;
  EXPECT_EQ(applied("/filter resize 0 0 100 100 1 0"), Calls{"ResizeImage(100,1,0)"});  // at least 1
  // Crop against the source size.
  recordedW = 100, recordedH = 50;
  EXPECT_EQ(applied("/filter crop 0 0 128 128"), Calls{"TrimImage(0,0,100,50)"});
  EXPECT_EQ(applied("/filter crop 0 500 10 10"), Calls{"TrimImage(99,0,1,10)"});
  EXPECT_EQ(applied("/filter crop 60 0 0 0"), Calls{"TrimImage(0,49,1,1)"});
  // Without a current list entry, the current image's size.
  listed = false;
  lead.width = 64.7f, lead.height = 32.2f;
  EXPECT_EQ(applied("/filter resize 4 1 50 50"), Calls{"ResizeImage(32,16,4)"});
}

// The modes that keep the aspect by one scale: fit inside a box, fill it
// (cropping the rest, centred), the longest or the shortest side; "never
// enlarge" holds in each, and a fill still crops then.
TEST_F(Fixture, ResizeFitsFillsAndSetsASideInExactSizes) {
  struct Size {
    int w, h;
  };
  const Size landscape{1600, 1200}, portrait{1200, 1600}, square{1000, 1000};
  struct Case {
    const char* text;
    Size source;
    Calls calls;
  };
  const Case cases[] = {
      {"/filter resize 4 2 1920 1080 0 0", landscape, {"ResizeImage(1440,1080,4)"}},
      {"/filter resize 4 2 1920 1080 0 0", portrait, {"ResizeImage(810,1080,4)"}},
      {"/filter resize 4 2 1920 1080 0 0", square, {"ResizeImage(1080,1080,4)"}},
      {"/filter resize 4 2 1920 1080 0 1", square, {}},
      {"/filter resize 4 2 1920 0 0 0", landscape, {"ResizeImage(1920,1440,4)"}},
      {"/filter resize 4 2 1000 1000 1 1", landscape, {"ResizeImage(1000,750,4)"}},
      {"/filter resize 4 3 1920 1080 0 0", landscape, {"ResizeImage(1920,1440,4)", "TrimImage(0,180,1920,1080)"}},
      {"/filter resize 4 3 1920 1080 0 0", portrait, {"ResizeImage(1920,2560,4)", "TrimImage(0,740,1920,1080)"}},
      {"/filter resize 4 3 1920 1080 0 0", square, {"ResizeImage(1920,1920,4)", "TrimImage(0,420,1920,1080)"}},
      {"/filter resize 4 3 800 800 0 0", landscape, {"ResizeImage(1067,800,4)", "TrimImage(133,0,800,800)"}},
      {"/filter resize 4 3 1920 1080 0 1", landscape, {"TrimImage(0,60,1600,1080)"}},
      {"/filter resize 4 3 1920 1080 0 1", square, {}},  // inside the box already
      {"/filter resize 2 4 800 0 0 0", landscape, {"ResizeImage(800,600,2)"}},
      {"/filter resize 2 4 800 0 0 0", portrait, {"ResizeImage(600,800,2)"}},
      {"/filter resize 2 4 800 0 0 0", square, {"ResizeImage(800,800,2)"}},
      {"/filter resize 2 4 2000 0 0 1", landscape, {}},
      {"/filter resize 2 5 600 0 0 0", landscape, {"ResizeImage(800,600,2)"}},
      {"/filter resize 2 5 600 0 0 0", portrait, {"ResizeImage(600,800,2)"}},
      {"/filter resize 2 5 600 0 0 0", square, {"ResizeImage(600,600,2)"}},
      // The modes before them give what they gave.
      {"/filter resize 4 0 1920 1080 1 0", landscape, {"ResizeImage(1920,1440,4)"}},
      {"/filter resize 4 0 1920 1080 0 0", portrait, {"ResizeImage(1920,1080,4)"}},
      {"/filter resize 4 1 50 50 0 0", square, {"ResizeImage(500,500,4)"}},
      // A percentage never enlarging: at most 100 %, and nothing at all when
      // both sides are held at the source's size.
      {"/filter resize 4 1 50 50 0 1", square, {"ResizeImage(500,500,4)"}},
      {"/filter resize 4 1 200 50 0 1", landscape, {"ResizeImage(1600,600,4)"}},
      {"/filter resize 4 1 200 150 0 1", landscape, {}},
      {"/filter resize 4 1 200 150 0 0", landscape, {"ResizeImage(3200,1800,4)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " of " + std::to_string(c.source.w) + "x" + std::to_string(c.source.h));
    context.recordedSize = [&](int& w, int& h) {
      w = c.source.w, h = c.source.h;
      return true;
    };
    EXPECT_EQ(applied(c.text), c.calls);
  }
}

TEST_F(Fixture, SwallowedErrorsAndPropagatedOnes) {
  lead.throwOnSaturation = true;
  EXPECT_EQ(applied("/filter oldnewspaper"), Calls{});  // the mixing step is skipped
  lead.throwOnSaturation = false;
  lead.throwAlways = true;
  for (const char* text : {"/filter autotrim 5", "/filter balcolors", "/filter oldnewspaper"}) {
    chain.clear();
    chain.appendFromText(text);
    EXPECT_NO_THROW(chain.at(0).apply()) << text;
  }
  chain.clear();
  chain.appendFromText("/filter invert");
  EXPECT_THROW(chain.at(0).apply(), std::runtime_error);
}

TEST_F(Fixture, TheChainKeepsOrderAndAppliesACount) {
  for (const char* t : {"/filter flip", "/filter flip", "/filter flip"}) chain.appendFromText(t);
  lead.calls.clear();
  chain.apply();
  EXPECT_EQ(lead.calls.size(), 3u);
  lead.calls.clear();
  chain.apply(0);
  EXPECT_TRUE(lead.calls.empty());
  chain.clear();
  for (const char* t : {"/filter invert", "/filter mirror", "/filter hue 5", "/filter sobel 23"})
    chain.appendFromText(t);
  lead.calls.clear();
  chain.apply(2);
  EXPECT_EQ(lead.calls, (Calls{"InvertImage()", "MirrorImage()"}));
  EXPECT_TRUE(chain.swapWithNeighbour(0, false));
  EXPECT_FALSE(chain.swapWithNeighbour(0, true));
  EXPECT_FALSE(chain.swapWithNeighbour(3, false));
  chain.moveToBottom(0);  // mirror goes last
  chain.moveToTop(2);     // sobel comes first
  EXPECT_EQ(chain.texts(), (std::vector<std::string>{"/filter sobel 23", "/filter invert", "/filter hue 5",
                                                     "/filter mirror"}));
  chain.remove({0, 2, 9});
  EXPECT_EQ(chain.texts(), (std::vector<std::string>{"/filter invert", "/filter mirror"}));
  EXPECT_TRUE(chain.createByIndex(9));
  EXPECT_FALSE(chain.createByIndex(pv::filters::filterCount()));
  EXPECT_EQ(chain.texts().back(), "/filter blur 3 1000 true");
}

TEST_F(Fixture, FiltersWithoutSettingsSaySoAndOwnDialogKindsWaitForTheEditor) {
  for (const char* text : {"/filter flip", "/filter sketch", "/filter stretchint"}) {
    chain.clear();
    chain.appendFromText(text);
    chain.at(0).editSettings();
  }
  EXPECT_EQ(messages,
            (std::vector<std::string>(3, "The chosen filter does not have any associated settings.")));
  for (const char* text : {"/filter resize", "/filter crop", "/filter dpi"}) {
    chain.clear();
    chain.appendFromText(text);
    chain.at(0).editSettings();
  }
  EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(Fixture, TheSettingsEditorPreviewsTheChainAndRestoresTheStartImage) {
  RecordingFilterDialogs own;
  own.resize = {9, 0, 640, 480, true, false};
  for (const char* t : {"/filter invert", "/filter mirror", "/filter resize", "/filter hue 5"})
    chain.appendFromText(t);
  const std::string selected = "/pics/a.png";
  lead.calls.clear();
  ASSERT_TRUE(chain.editSettings(2, &selected, "/opt/data.dat", own));
  EXPECT_EQ(lead.calls,
            (Calls{"LoadImage(/pics/a.png)", "InvertImage()", "MirrorImage()", "LoadImage(/opt/data.dat)"}));
  EXPECT_EQ(own.opened, (std::vector<std::string>{"resize 4 320"}));
  EXPECT_EQ(chain.at(2).toText(), "/filter resize 5 0 640 480 1 0");  // through the reading rules
  // Cancel keeps the values; dpi and crop go through their own dialogs too.
  own.ok = false;
  chain.editSettings(2, nullptr, "/opt/data.dat", own);
  EXPECT_EQ(chain.at(2).toText(), "/filter resize 5 0 640 480 1 0");
  own.ok = true;
  chain.appendFromText("/filter dpi 300 300");
  chain.appendFromText("/filter crop");
  chain.editSettings(4, nullptr, "/opt/data.dat", own);
  chain.editSettings(5, nullptr, "/opt/data.dat", own);
  EXPECT_EQ(chain.at(4).toText(), "/filter dpi 1 300");
  EXPECT_EQ(chain.at(5).toText(), "/filter crop 0 7 128 128");
  // The other kinds use their option dialog.
  dialogs.answers = std::vector<std::int32_t>{45};
  chain.editSettings(3, nullptr, "/opt/data.dat", own);
  EXPECT_EQ(chain.at(3).toText(), "/filter hue 45");
  // A selected image that does not load: nothing is edited or reloaded.
  lead.loadStatus = 20009;
  lead.calls.clear();
  dialogs.calls.clear();
  EXPECT_FALSE(chain.editSettings(3, &selected, "/opt/data.dat", own));
  EXPECT_EQ(lead.calls, Calls{"LoadImage(/pics/a.png)"});
  EXPECT_TRUE(dialogs.calls.empty());
}

// Every descriptor is complete enough to build a settings form from, and its
// defaults obey its own range rules.
TEST(FilterDescriptors, EveryParameterHasALabelARangeAndAControlThatFits) {
  using pv::filters::Param;
  ASSERT_EQ(pv::filters::filterKinds().size(), static_cast<std::size_t>(pv::filters::filterCount()));
  for (const pv::filters::FilterKind& kind : pv::filters::filterKinds()) {
    SCOPED_TRACE(std::string(kind.key));
    EXPECT_EQ(pv::filters::filterKind(kind.index()), &kind);
    EXPECT_FALSE(kind.name.empty());
    EXPECT_EQ(std::count(kind.description.begin(), kind.description.end(), '\n'),
              kind.description.find('\n') == std::string_view::npos ? 0 : 1);
    // A kind with a dialog of its own has something to edit in it.
    if (kind.editOwn) {
      EXPECT_FALSE(kind.params.empty());
    }
    for (const Param& p : kind.params) {
      SCOPED_TRACE(std::string(p.label));
      EXPECT_FALSE(p.label.empty());
      EXPECT_LE(p.low, p.high);
      if (p.style != Param::kWord && p.style != Param::kFlag) {
        EXPECT_GE(static_cast<std::int64_t>(
                      p.style == Param::kSigned ? p.initial : static_cast<std::uint32_t>(p.initial)),
                  p.low);
        EXPECT_LE(p.initial, p.high);
        EXPECT_GE(p.below, p.low);
        EXPECT_LE(p.below, p.high);
      } else {
        EXPECT_EQ(p.control, Param::kCheck);
      }
      if (p.control == Param::kChoice) {
        EXPECT_EQ(static_cast<std::int64_t>(p.choiceTexts().size()), p.high - p.low + 1);
      } else {
        EXPECT_TRUE(p.choices.empty());
      }
    }
  }
}

// The port hands the editor the descriptor and the values, and takes back
// what it returns; a cancelled edit changes nothing.
TEST(FilterDescriptors, TheEditorPortGetsTheDescriptorAndItsAnswerIsKept) {
  struct Editor : pv::filters::FilterEditor {
    std::optional<std::vector<std::int32_t>> answer;
    std::string key;
    std::vector<std::int32_t> given;
    int image = 0;
    std::optional<std::vector<std::int32_t>> edit(const pv::filters::FilterKind& kind,
                                                  const std::vector<std::int32_t>& values,
                                                  int sourceImage) override {
      key = kind.key, given = values, image = sourceImage;
      return answer;
    }
  } editor;
  pv::engine::CLead lead;
  FilterContext context{&lead, {}, &editor, {}};
  FilterChain chain{context};
  chain.appendFromText("/filter unsharpmask 120 4 3 2");
  editor.answer = std::nullopt;
  chain.at(0).editSettings();
  EXPECT_EQ(editor.key, "unsharpmask");
  EXPECT_EQ(editor.given, (std::vector<std::int32_t>{120, 4, 3, 2}));
  EXPECT_EQ(chain.at(0).toText(), "/filter unsharpmask 120 4 3 2");
  editor.answer = std::vector<std::int32_t>{200, 8, 0, 1};
  chain.at(0).editSettings();
  EXPECT_EQ(chain.at(0).toText(), "/filter unsharpmask 200 8 0 1");
  // An answer of the wrong shape is not taken.
  editor.answer = std::vector<std::int32_t>{1};
  chain.at(0).editSettings();
  EXPECT_EQ(chain.at(0).toText(), "/filter unsharpmask 200 8 0 1");
}
