#include <gtest/gtest.h>

#include <set>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "engine/quantize.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

using pv::test::LeadWithImage;

namespace {

cv::Mat alphaOf(const cv::Mat& m) {
  cv::Mat a;
  cv::extractChannel(m, a, 3);
  return a;
}

// One pixel of value v in every colour channel (and alpha 77 for 4 channels).
cv::Mat flat(int channels, int v) {
  return cv::Mat(2, 2, CV_8UC(channels), channels == 4 ? cv::Scalar(v, v, v, 77) : cv::Scalar::all(v));
}

int firstValue(LeadWithImage& lead) {
  return lead.pixels().ptr<std::uint8_t>(0)[0];
}

}  // namespace

TEST(PixelOperations, NeutralArgumentsLeaveEveryLayoutUnchanged) {
  for (int ch : {1, 3, 4}) {
    SCOPED_TRACE(ch);
    const cv::Mat src = pv::test::noiseImage(17, 13, ch, 3);
    LeadWithImage lead;
    lead.set(src, ch * 8);
    EXPECT_EQ(lead.ChangeIntensity(0), 0);
    EXPECT_EQ(lead.ChangeContrast(0), 0);
    EXPECT_EQ(lead.ChangeHue(0), 0);
    EXPECT_EQ(lead.ChangeHue(360), 0);
    EXPECT_EQ(lead.ChangeSaturation(0), 0);
    EXPECT_EQ(lead.GammaCorrect(100), 0);
    EXPECT_EQ(lead.BalanceColors(1, 0, 0, 0, 1, 0, 0, 0, 1), 0);
    EXPECT_EQ(lead.SharpenImage(0), 0);
    EXPECT_EQ(lead.UnsharpMask(0, 5, 0, 1), 0);
    EXPECT_EQ(lead.AddNoise(0, 0), 0);
    EXPECT_EQ(lead.RotateImage(0, 5, 0), 0);
    ASSERT_EQ(lead.pixels().channels(), ch);
    EXPECT_EQ(cv::norm(lead.pixels(), src, cv::NORM_INF), 0.0);
  }
}

TEST(PixelOperations, InversePairsAreExact) {
  for (int ch : {1, 3, 4}) {
    SCOPED_TRACE(ch);
    const cv::Mat src = pv::test::noiseImage(23, 11, ch, 5);
    LeadWithImage lead;
    lead.set(src, ch * 8);
    EXPECT_EQ(lead.FlipImage(), 0);
    EXPECT_NE(cv::norm(lead.pixels(), src, cv::NORM_INF), 0.0);
    EXPECT_EQ(lead.FlipImage(), 0);
    EXPECT_EQ(lead.MirrorImage(), 0);
    EXPECT_EQ(lead.MirrorImage(), 0);
    EXPECT_EQ(lead.InvertImage(), 0);
    EXPECT_EQ(lead.InvertImage(), 0);
    EXPECT_EQ(cv::norm(lead.pixels(), src, cv::NORM_INF), 0.0);
    EXPECT_EQ(lead.RotateImage(9000, 0, 0), 0);
    EXPECT_EQ(lead.GetImageWidth(), 11);
    EXPECT_EQ(lead.GetImageHeight(), 23);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lead.RotateImage(9000, 4, 0xFFFFFF), 0);
    EXPECT_EQ(cv::norm(lead.pixels(), src, cv::NORM_INF), 0.0);
    EXPECT_EQ(lead.RotateImage(-27000, 0, 0), 0);  // the same quarter turn
    cv::Mat turned;
    cv::rotate(src, turned, cv::ROTATE_90_CLOCKWISE);
    EXPECT_EQ(cv::norm(lead.pixels(), turned, cv::NORM_INF), 0.0);
  }
}

TEST(PixelOperations, PointOperationsGiveTheDocumentedValues) {
  struct Case {
    const char* name;
    int in, out;
    std::function<short(LeadWithImage&)> op;
  } cases[] = {
      {"invert", 10, 245, [](auto& l) { return l.InvertImage(); }},
      {"brighter", 100, 178, [](auto& l) { return l.ChangeIntensity(500); }},
      {"darker", 100, 50, [](auto& l) { return l.ChangeIntensity(-500); }},
      {"flat contrast", 30, 128, [](auto& l) { return l.ChangeContrast(-1000); }},
      {"half contrast", 28, 78, [](auto& l) { return l.ChangeContrast(-500); }},
      {"double contrast", 100, 72, [](auto& l) { return l.ChangeContrast(500); }},
      {"threshold", 129, 255, [](auto& l) { return l.ChangeContrast(1000); }},
      {"gamma 200", 64, 128, [](auto& l) { return l.GammaCorrect(200); }},
      {"solarize above", 200, 55, [](auto& l) { return l.SolarizeImage(128); }},
      {"solarize below", 100, 100, [](auto& l) { return l.SolarizeImage(128); }},
      {"posterize 2 low", 100, 0, [](auto& l) { return l.PosterizeImage(2); }},
      {"posterize 2 high", 200, 255, [](auto& l) { return l.PosterizeImage(2); }},
      {"posterize 3", 100, 128, [](auto& l) { return l.PosterizeImage(3); }},
  };
  for (const Case& c : cases) {
    for (int ch : {1, 3, 4}) {
      LeadWithImage lead;
      lead.set(flat(ch, c.in), ch * 8);
      ASSERT_EQ(c.op(lead), 0);
      EXPECT_EQ(firstValue(lead), c.out) << c.name << " channels " << ch;
      if (ch == 4) {
        EXPECT_EQ(cv::countNonZero(alphaOf(lead.pixels()) != 77), 0) << c.name;  // alpha untouched
      }
    }
  }
}

TEST(PixelOperations, StretchAndIntensityDetect) {
  LeadWithImage lead;
  cv::Mat m = (cv::Mat_<uchar>(1, 3) << 50, 100, 150);
  lead.set(m, 8);
  EXPECT_EQ(lead.StretchIntensity(), 0);
  EXPECT_EQ(cv::norm(lead.pixels(), cv::Mat((cv::Mat_<uchar>(1, 3) << 0, 128, 255)), cv::NORM_INF), 0.0);
  lead.set(m, 8);
  EXPECT_EQ(lead.IntensityDetect(60, 120), 0);
  EXPECT_EQ(cv::norm(lead.pixels(), cv::Mat((cv::Mat_<uchar>(1, 3) << 0, 255, 0)), cv::NORM_INF), 0.0);
}

TEST(PixelOperations, GreyScaleAndColourMixing) {
  LeadWithImage lead;
  cv::Mat bgr(1, 1, CV_8UC3, cv::Scalar(10, 20, 30));  // B G R
  lead.set(bgr, 24);
  EXPECT_EQ(lead.GrayScaleWeighted(1000, 0, 0), 0);
  EXPECT_EQ(lead.pixels().channels(), 1);
  EXPECT_EQ(lead.GetDisplayBits(), 8);
  EXPECT_EQ(firstValue(lead), 30);
  cv::Mat bgra(1, 1, CV_8UC4, cv::Scalar(10, 20, 30, 40));
  lead.set(bgra, 32);
  EXPECT_EQ(lead.GrayScaleWeighted(0, 0, 1000), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec4b>(0, 0), cv::Vec4b(10, 10, 10, 40));  // alpha kept
  // R' = B, G' = G, B' = R: the channels swap.
  lead.set(bgr, 24);
  EXPECT_EQ(lead.BalanceColors(0, 0, 1, 0, 1, 0, 1, 0, 0), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(30, 20, 10));
  // Grey made colourful becomes a colour image.
  lead.set(cv::Mat(1, 1, CV_8UC1, cv::Scalar(100)), 8);
  EXPECT_EQ(lead.BalanceColors(1.5f, 0, 0, 0, 1, 0, 0, 0, 0.5f), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(50, 100, 150));
  EXPECT_EQ(lead.GetDisplayBits(), 24);
  // A half turn of hue on pure red gives cyan; saturation -1000 gives grey.
  lead.set(cv::Mat(1, 1, CV_8UC3, cv::Scalar(0, 0, 255)), 24);
  EXPECT_EQ(lead.ChangeHue(180), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 0));
  EXPECT_EQ(lead.ChangeSaturation(-1000), 0);
  const cv::Vec3b grey = lead.pixels().at<cv::Vec3b>(0, 0);
  EXPECT_TRUE(grey[0] == grey[1] && grey[1] == grey[2]);
}

TEST(PixelOperations, IndexedImagesStayIndexedWhereTheirColoursMapOneToOne) {
  LeadWithImage lead;
  const cv::Mat src = pv::test::fewColours(9, 7, 4);
  lead.set(src, 2, {0x05FF00, 0x0AF425, 0x0FE94A, 0x14DE6F});
  EXPECT_EQ(lead.InvertImage(), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 2);
  ASSERT_EQ(lead.image().palette.size(), 4u);
  EXPECT_EQ(lead.image().palette[0], 0xFA00FFu);
  EXPECT_EQ(lead.MirrorImage(), 0);
  EXPECT_EQ(lead.RotateImage(9000, 0, 0), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 2);
  EXPECT_EQ(lead.AverageFilter(3), 0);
  EXPECT_TRUE(lead.image().palette.empty());
  EXPECT_EQ(lead.GetDisplayBits(), 24);
}

TEST(PixelOperations, GeometryChangesTheSize) {
  LeadWithImage lead;
  // A picture with a 3-pixel white border (tolerance 10) around a dark box.
  cv::Mat m(20, 30, CV_8UC3, cv::Scalar(250, 250, 250));
  m.at<cv::Vec3b>(0, 5) = cv::Vec3b(245, 245, 245);
  cv::rectangle(m, cv::Rect(3, 3, 24, 14), cv::Scalar(10, 20, 30), cv::FILLED);
  lead.set(m, 24);
  EXPECT_EQ(lead.AutoTrimImage(10), 0);
  EXPECT_EQ(lead.GetImageWidth(), 24);
  EXPECT_EQ(lead.GetImageHeight(), 14);
  lead.set(m, 24);
  EXPECT_EQ(lead.AutoTrimImage(0), 0);  // the odd pixel keeps the top row; the bottom border goes
  EXPECT_EQ(lead.GetImageHeight(), 17);
  lead.set(cv::Mat(5, 5, CV_8UC3, cv::Scalar::all(9)), 24);
  EXPECT_EQ(lead.AutoTrimImage(0), 0);  // all background: nothing to keep but the image
  EXPECT_EQ(lead.GetImageWidth(), 5);

  lead.set(m, 24);
  EXPECT_EQ(lead.TrimImage(5, 2, 10, 4), 0);
  EXPECT_EQ(lead.GetImageWidth(), 10);
  EXPECT_EQ(lead.GetImageHeight(), 4);
  lead.set(m, 24);
  EXPECT_EQ(lead.TrimImage(25, 18, 100, 100), 0);  // cut to the image
  EXPECT_EQ(lead.GetImageWidth(), 5);
  EXPECT_EQ(lead.GetImageHeight(), 2);

  lead.set(m, 24);
  EXPECT_EQ(lead.RotateImage(4500, 4, 0x0000FF), 0);
  EXPECT_EQ(lead.GetImageWidth(), 30);  // without the canvas flag the size stays
  // Without the flag, every angle follows one rule: the canvas keeps its size
  // turned by the nearest quarter turn.
  const struct {
    int angle, w, h;
  } canvases[] = {{0, 30, 20},     {4400, 30, 20},  {4500, 30, 20},  {4600, 20, 30},  {8999, 20, 30},
                  {9000, 20, 30},  {13400, 20, 30}, {13600, 30, 20}, {18000, 30, 20}, {27000, 20, 30},
                  {-9000, 20, 30}, {-8999, 20, 30}};
  for (const auto& c : canvases) {
    SCOPED_TRACE(c.angle);
    lead.set(m, 24);
    EXPECT_EQ(lead.RotateImage(c.angle, 4, 0x0000FF), 0);
    EXPECT_EQ(lead.GetImageWidth(), c.w);
    EXPECT_EQ(lead.GetImageHeight(), c.h);
  }
  {
    // A hundredth of a degree short of a quarter turn is the quarter turn, nearly.
    LeadWithImage exact, almost;
    exact.set(pv::test::gradientImage(30, 20, 3), 24);
    almost.set(pv::test::gradientImage(30, 20, 3), 24);
    EXPECT_EQ(exact.RotateImage(9000, 4, 0), 0);
    EXPECT_EQ(almost.RotateImage(8999, 4, 0), 0);
    const cv::Rect inside(2, 2, 16, 26);
    EXPECT_LT(cv::norm(exact.pixels()(inside), almost.pixels()(inside), cv::NORM_L1) / inside.area(), 2.0);
  }
  lead.set(m, 24);
  EXPECT_EQ(lead.RotateImage(4500, 5, 0x0000FF), 0);
  EXPECT_EQ(lead.GetImageWidth(), 36);  // ceil(30 cos 45 + 20 sin 45)
  EXPECT_EQ(lead.GetImageHeight(), 36);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 255));  // the fill colour (red)

  lead.set(m, 24);
  EXPECT_EQ(lead.ShearImage(4500, true, 0), 0);
  EXPECT_EQ(lead.GetImageWidth(), 50);
  EXPECT_EQ(lead.GetImageHeight(), 20);
  lead.set(m, 24);
  EXPECT_EQ(lead.ShearImage(-4500, false, 0), 0);
  EXPECT_EQ(lead.GetImageHeight(), 50);
}

TEST(PixelOperations, NeighbourhoodFiltersMatchAPlainReference) {
  const cv::Mat src = pv::test::noiseImage(31, 19, 3, 21);
  auto at = [&](int x, int y, int c) {
    x = std::clamp(x, 0, src.cols - 1), y = std::clamp(y, 0, src.rows - 1);
    return static_cast<int>(src.at<cv::Vec3b>(y, x)[c]);
  };
  LeadWithImage mean, median;
  mean.set(src, 24);
  median.set(src, 24);
  EXPECT_EQ(mean.AverageFilter(3), 0);
  EXPECT_EQ(median.MedianFilter(3), 0);
  for (int y = 0; y < src.rows; ++y)
    for (int x = 0; x < src.cols; ++x)
      for (int c = 0; c < 3; ++c) {
        std::vector<int> around;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) around.push_back(at(x + dx, y + dy, c));
        int sum = 0;
        for (int v : around) sum += v;
        EXPECT_LE(std::abs(mean.pixels().at<cv::Vec3b>(y, x)[c] - (sum + 4) / 9), 1);
        std::nth_element(around.begin(), around.begin() + 4, around.end());
        if (x > 0 && y > 0 && x + 1 < src.cols && y + 1 < src.rows) {  // borders are the library's choice
          EXPECT_EQ(median.pixels().at<cv::Vec3b>(y, x)[c], around[4]);
        }
      }
  // Mosaic: blocks of their mean.
  LeadWithImage mosaic;
  mosaic.set((cv::Mat_<uchar>(2, 4) << 0, 10, 100, 100, 20, 30, 100, 100), 8);
  EXPECT_EQ(mosaic.MosaicFilter(2), 0);
  EXPECT_EQ(cv::norm(mosaic.pixels(), cv::Mat((cv::Mat_<uchar>(2, 4) << 15, 15, 100, 100, 15, 15, 100, 100)),
                     cv::NORM_INF),
            0.0);
}

TEST(PixelOperations, BlurAndSharpenChangeDetailInTheRightDirection) {
  const cv::Mat src = pv::test::noiseImage(40, 40, 3, 2);
  auto detail = [](const cv::Mat& m) {
    cv::Mat lap;
    cv::Laplacian(m, lap, CV_32F);
    return cv::norm(lap);
  };
  for (auto op : std::vector<std::function<short(LeadWithImage&)>>{
           [](auto& l) { return l.GaussianBlur(4); }, [](auto& l) { return l.SharpenImage(-800); },
           [](auto& l) { return l.AverageFilter(5); }}) {
    LeadWithImage lead;
    lead.set(src, 24);
    ASSERT_EQ(op(lead), 0);
    EXPECT_LT(detail(lead.pixels()), detail(src) * 0.8);
  }
  for (auto op : std::vector<std::function<short(LeadWithImage&)>>{
           [](auto& l) { return l.SharpenImage(800); }, [](auto& l) { return l.UnsharpMask(200, 4, 0, 1); },
           [](auto& l) { return l.UnsharpMask(200, 4, 0, 2); }}) {
    LeadWithImage lead;
    lead.set(pv::test::gradientImage(40, 40, 3), 24);
    const cv::Mat before = lead.pixels().clone();
    EXPECT_EQ(lead.GaussianBlur(2), 0);  // some softness to sharpen back
    const cv::Mat soft = lead.pixels().clone();
    ASSERT_EQ(op(lead), 0);
    EXPECT_GT(detail(lead.pixels()), detail(soft));
    (void)before;
  }
  // An unsharp threshold above every difference leaves the image alone.
  LeadWithImage lead;
  lead.set(pv::test::gradientImage(20, 20, 3), 24);
  const cv::Mat gentle = lead.pixels().clone();
  EXPECT_EQ(lead.UnsharpMask(300, 2, 255, 1), 0);
  EXPECT_EQ(cv::norm(lead.pixels(), gentle, cv::NORM_INF), 0.0);
}

TEST(PixelOperations, HandEditedArgumentsAreClampedNotTrusted) {
  LeadWithImage lead;
  lead.set(pv::test::noiseImage(12, 9, 4, 1), 32);
  EXPECT_EQ(lead.AverageFilter(-5), 0);
  EXPECT_EQ(lead.MedianFilter(32767), 0);
  EXPECT_EQ(lead.GaussianBlur(-1), 0);
  EXPECT_EQ(lead.MosaicFilter(0), 0);
  EXPECT_EQ(lead.PosterizeImage(-3), 0);
  EXPECT_EQ(lead.GammaCorrect(0), 0);
  EXPECT_EQ(lead.ChangeContrast(32767), 0);
  EXPECT_EQ(lead.RotateImage(2147483647, 7, -1), 0);
  EXPECT_EQ(lead.ShearImage(32767, true, 0), 0);
  EXPECT_EQ(lead.BalanceColors(1e30f, -1e30f, NAN, 0, 1, 0, 0, 0, 1), 0);
  EXPECT_EQ(lead.AddNoise(32767, 99), 0);
  EXPECT_EQ(lead.TrimImage(-10, -10, -5, 1e9f), 0);
  EXPECT_TRUE(lead.GetHasAlpha());
  pv::engine::CLead empty;
  EXPECT_EQ(empty.InvertImage(), pv::engine::kInvalidParameter);
  EXPECT_EQ(empty.RotateImage(4500, 1, 0), pv::engine::kInvalidParameter);
}

TEST(PixelOperations, SpatialKernelsAndEdges) {
  // A vertical step: dark left half, bright right half.
  cv::Mat step(9, 10, CV_8UC1, cv::Scalar(20));
  step(cv::Rect(5, 0, 5, 9)).setTo(220);
  auto run = [&](auto op) {
    LeadWithImage lead;
    lead.set(step, 8);
    EXPECT_EQ(op(lead), 0);
    return lead.pixels().clone();
  };
  // Sobel across x (code 23) responds on the step and nowhere else; the
  // horizontal one (22) sees nothing.
  cv::Mat sx = run([](auto& l) { return l.SpatialFilter(23); });
  EXPECT_EQ(sx.at<uchar>(4, 4), 255);
  EXPECT_EQ(sx.at<uchar>(4, 1), 0);
  EXPECT_EQ(cv::countNonZero(run([](auto& l) { return l.SpatialFilter(22); })), 0);
  // Every code runs on every layout; a flat picture gives flat results.
  for (int code = 0; code <= 32; ++code) {
    LeadWithImage lead;
    lead.set(cv::Mat(5, 5, CV_8UC4, cv::Scalar(90, 90, 90, 33)), 32);
    ASSERT_EQ(lead.SpatialFilter(static_cast<short>(code)), 0);
    cv::Mat colour;
    cv::cvtColor(lead.pixels(), colour, cv::COLOR_BGRA2BGR);
    double lo, hi;
    cv::minMaxLoc(colour.reshape(1), &lo, &hi);
    EXPECT_EQ(lo, hi) << code;
    EXPECT_EQ(cv::countNonZero(alphaOf(lead.pixels()) != 33), 0) << code;
  }
  // The compass gradients: north responds to a bright top, south does not.
  cv::Mat top(6, 6, CV_8UC1, cv::Scalar(0));
  top(cv::Rect(0, 0, 6, 3)).setTo(200);
  LeadWithImage north, south;
  north.set(top, 8);
  south.set(top, 8);
  EXPECT_EQ(north.SpatialFilter(8), 0);
  EXPECT_EQ(south.SpatialFilter(12), 0);
  EXPECT_GT(north.pixels().at<uchar>(2, 3) + north.pixels().at<uchar>(3, 3), 0);
  EXPECT_EQ(cv::countNonZero(south.pixels()), 0);
  // Edge detection: Sobel both ways finds the step; a threshold above every
  // magnitude leaves nothing.
  cv::Mat edges = run([](auto& l) { return l.EdgeDetect(0, 259); });
  EXPECT_GT(edges.at<uchar>(4, 5), 0);
  EXPECT_EQ(edges.at<uchar>(4, 0), 0);
  EXPECT_EQ(cv::countNonZero(run([](auto& l) { return l.EdgeDetect(255, 0x101); }) > 254), 9 * 2);
  // Emboss: flat areas go mid grey.
  cv::Mat relief = run([](auto& l) { return l.EmbossImage(2, 100); });
  EXPECT_EQ(relief.at<uchar>(4, 1), 128);
  EXPECT_NE(relief.at<uchar>(4, 5), 128);
}

TEST(PixelOperations, MotionBlurAndHistogramContrast) {
  cv::Mat dot(11, 11, CV_8UC1, cv::Scalar(0));
  dot.at<uchar>(5, 5) = 250;
  LeadWithImage lead;
  lead.set(dot, 8);
  EXPECT_EQ(lead.MotionBlur(5, 0, false), 0);  // horizontal: the dot spreads along its row only
  EXPECT_EQ(lead.pixels().at<uchar>(5, 5), 50);
  EXPECT_EQ(lead.pixels().at<uchar>(5, 7), 50);
  EXPECT_EQ(lead.pixels().at<uchar>(4, 5), 0);
  lead.set(dot, 8);
  EXPECT_EQ(lead.MotionBlur(5, 9000, true), 0);  // one way, along a vertical line
  EXPECT_EQ(cv::countNonZero(lead.pixels().col(5)), 5);
  EXPECT_EQ(cv::countNonZero(lead.pixels()), 5);
  // Angles turn clockwise, as rotation's do: one way, the dot smears toward
  // the angle's direction and never the opposite one.
  const struct {
    int angle;
    cv::Point toward, away;
  } ways[] = {{0, {7, 5}, {3, 5}}, {9000, {5, 7}, {5, 3}}, {4500, {7, 7}, {3, 3}},
              {13500, {3, 7}, {7, 3}}, {27000, {5, 3}, {5, 7}}};
  for (const auto& w : ways) {
    SCOPED_TRACE(w.angle);
    lead.set(dot, 8);
    EXPECT_EQ(lead.MotionBlur(5, w.angle, true), 0);
    EXPECT_GT(lead.pixels().at<uchar>(w.toward), 0);
    EXPECT_EQ(lead.pixels().at<uchar>(w.away), 0);
  }

  const cv::Mat dull = (cv::Mat_<uchar>(1, 4) << 100, 110, 120, 130);
  lead.set(dull, 8);
  EXPECT_EQ(lead.HistoContrast(1000), 0);
  EXPECT_LT(lead.pixels().at<uchar>(0, 0), 100);
  EXPECT_EQ(lead.pixels().at<uchar>(0, 3), 255);
  lead.set(dull, 8);
  EXPECT_EQ(lead.HistoContrast(-1000), 0);  // all the way to the mean grey
  EXPECT_EQ(cv::countNonZero(lead.pixels() != 115), 0);
}

TEST(PixelOperations, ReduceColorsKeepsFittingImagesAndLimitsTheRest) {
  const cv::Mat photo = pv::test::gradientImage(48, 32, 3);
  for (int dither = 0; dither <= 8; ++dither) {
    for (int palette : {1, 2, 64, 0}) {
      LeadWithImage lead;
      lead.set(photo, 24);
      ASSERT_EQ(lead.ReduceColors(4, static_cast<short>(palette), static_cast<short>(dither), 0), 0);
      EXPECT_EQ(lead.GetDisplayBits(), 4);
      auto colours = pv::engine::exactColours(lead.pixels(), 16);
      ASSERT_TRUE(colours) << "dither " << dither << " palette " << palette;
      for (std::uint32_t c : *colours)
        EXPECT_NE(std::find(lead.image().palette.begin(), lead.image().palette.end(), c),
                  lead.image().palette.end());
    }
  }
  // Dithering keeps the average tone closer than plain mapping does.
  LeadWithImage plain, dithered;
  plain.set(photo, 24);
  dithered.set(photo, 24);
  EXPECT_EQ(plain.ReduceColors(1, 1, 0, 0), 0);
  EXPECT_EQ(dithered.ReduceColors(1, 1, 1, 0), 0);
  EXPECT_LT(std::abs(cv::mean(dithered.pixels())[1] - cv::mean(photo)[1]),
            std::abs(cv::mean(plain.pixels())[1] - cv::mean(photo)[1]) + 1);
  // A colour count below 2^bits, and an image that already fits.
  LeadWithImage lead;
  lead.set(photo, 24);
  EXPECT_EQ(lead.ReduceColors(8, 2, 1, 5), 0);
  EXPECT_LE(pv::engine::exactColours(lead.pixels(), 5).value_or(pv::engine::Palette(6)).size(), 5u);
  const cv::Mat few = pv::test::fewColours(20, 10, 7);
  lead.set(few, 24);
  EXPECT_EQ(lead.ReduceColors(3, 2, 1, 0), 0);
  EXPECT_EQ(cv::norm(lead.pixels(), few, cv::NORM_INF), 0.0);
  // 16, 24 and 32 bits change the layout only.
  lead.set(pv::test::noiseImage(6, 6, 4, 1), 32);
  EXPECT_EQ(lead.ReduceColors(24, 0, 0, 0), 0);
  EXPECT_FALSE(lead.GetHasAlpha());
  EXPECT_EQ(lead.ReduceColors(32, 0, 0, 0), 0);
  EXPECT_TRUE(lead.GetHasAlpha());
  EXPECT_EQ(lead.ReduceColors(16, 0, 0, 0), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 16);
  EXPECT_EQ(lead.ReduceColors(12, 0, 0, 0), pv::engine::kInvalidParameter);
}

TEST(PixelOperations, OilifyAndHalftone) {
  // Oilify: each pixel takes the mean colour of its neighbourhood's most
  // frequent intensity, so a lone odd pixel disappears.
  cv::Mat m(9, 9, CV_8UC3, cv::Scalar(40, 80, 120));
  m.at<cv::Vec3b>(4, 4) = cv::Vec3b(250, 250, 250);
  LeadWithImage lead;
  lead.set(m, 24);
  ASSERT_EQ(lead.OilifyImage(3), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(4, 4), cv::Vec3b(40, 80, 120));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(40, 80, 120));
  // Halftone: black and white only, darker areas inked more.
  for (short pattern = 0; pattern <= 6; ++pattern) {
    cv::Mat ramp(40, 80, CV_8UC1);
    for (int x = 0; x < 80; ++x) ramp.col(x).setTo(x < 40 ? 60 : 200);
    lead.set(ramp, 8);
    ASSERT_EQ(lead.HalftoneImage(pattern, 4500, 6), 0);
    EXPECT_EQ(lead.GetDisplayBits(), 1);
    EXPECT_EQ(cv::countNonZero((lead.pixels() != 0) & (lead.pixels() != 255)), 0) << pattern;
    const double darkInk = 40 * 40 - cv::countNonZero(lead.pixels()(cv::Rect(0, 0, 40, 40)));
    const double lightInk = 40 * 40 - cv::countNonZero(lead.pixels()(cv::Rect(40, 0, 40, 40)));
    EXPECT_GT(darkInk, lightInk * 1.5) << pattern;
  }
}

// Every operation on an indexed image, and on colour with alpha: afterwards
// the reported depth must describe the pixels. An image that still reports a
// palette depth has every pixel in its palette, and alpha survives colour work.
TEST(PixelOperations, EveryOperationLeavesTruthfulPropertiesOnIndexedAndAlphaInput) {
  using Op = std::function<short(LeadWithImage&)>;
  const std::vector<std::pair<const char*, Op>> ops = {
      {"resize", [](LeadWithImage& l) { return l.ResizeImage(13, 9, 0); }},
      {"trim", [](LeadWithImage& l) { return l.TrimImage(1, 1, 5, 4); }},
      {"reduce", [](LeadWithImage& l) { return l.ReduceColors(4, 0, 1, 16); }},
      {"average", [](LeadWithImage& l) { return l.AverageFilter(3); }},
      {"median", [](LeadWithImage& l) { return l.MedianFilter(3); }},
      {"contrast", [](LeadWithImage& l) { return l.ChangeContrast(40); }},
      {"flip", [](LeadWithImage& l) { return l.FlipImage(); }},
      {"hue", [](LeadWithImage& l) { return l.ChangeHue(90); }},
      {"intensity", [](LeadWithImage& l) { return l.ChangeIntensity(-30); }},
      {"invert", [](LeadWithImage& l) { return l.InvertImage(); }},
      {"sharpen", [](LeadWithImage& l) { return l.SharpenImage(50); }},
      {"saturation", [](LeadWithImage& l) { return l.ChangeSaturation(50); }},
      {"mirror", [](LeadWithImage& l) { return l.MirrorImage(); }},
      {"mosaic", [](LeadWithImage& l) { return l.MosaicFilter(3); }},
      {"spatial", [](LeadWithImage& l) { return l.SpatialFilter(5); }},
      {"posterize", [](LeadWithImage& l) { return l.PosterizeImage(4); }},
      {"rotate", [](LeadWithImage& l) { return l.RotateImage(3000, 0, 0xFFFFFF); }},
      {"emboss", [](LeadWithImage& l) { return l.EmbossImage(0, 50); }},
      {"noise", [](LeadWithImage& l) { return l.AddNoise(200, 0); }},
      {"detect", [](LeadWithImage& l) { return l.IntensityDetect(10, 200); }},
      {"stretch", [](LeadWithImage& l) { return l.StretchIntensity(); }},
      {"gamma", [](LeadWithImage& l) { return l.GammaCorrect(200); }},
      {"shear", [](LeadWithImage& l) { return l.ShearImage(20, true, 0); }},
      {"halftone", [](LeadWithImage& l) { return l.HalftoneImage(0, 45, 4); }},
      {"histo", [](LeadWithImage& l) { return l.HistoContrast(50); }},
      {"solarize", [](LeadWithImage& l) { return l.SolarizeImage(100); }},
      {"autotrim", [](LeadWithImage& l) { return l.AutoTrimImage(10); }},
      {"oilify", [](LeadWithImage& l) { return l.OilifyImage(3); }},
      {"gaussian", [](LeadWithImage& l) { return l.GaussianBlur(2); }},
      {"unsharp", [](LeadWithImage& l) { return l.UnsharpMask(100, 2, 0, 1); }},
      {"greyweighted", [](LeadWithImage& l) { return l.GrayScaleWeighted(300, 590, 110); }},
      {"balance", [](LeadWithImage& l) { return l.BalanceColors(0.5f, 0.5f, 0, 0, 1, 0, 0, 0, 1); }},
      {"edge", [](LeadWithImage& l) { return l.EdgeDetect(0, 0); }},
      {"motion", [](LeadWithImage& l) { return l.MotionBlur(5, 30, false); }},
  };
  // fewColours(…, 4) as 0x00BBGGRR.
  std::vector<std::uint32_t> palette;
  for (std::uint32_t c = 0; c < 4; ++c) palette.push_back((c * 37) << 16 | (255 - c * 11) << 8 | c * 5);
  auto inPalette = [](const cv::Mat& m, const std::vector<std::uint32_t>& pal) {
    for (int y = 0; y < m.rows; ++y)
      for (int x = 0; x < m.cols; ++x) {
        const cv::Vec3b p = m.at<cv::Vec3b>(y, x);
        const std::uint32_t v = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
        if (std::find(pal.begin(), pal.end(), v) == pal.end()) return false;
      }
    return true;
  };
  for (const auto& [name, op] : ops) {
    SCOPED_TRACE(name);
    {
      LeadWithImage lead;
      lead.set(pv::test::fewColours(11, 8, 4), 2, palette);
      EXPECT_EQ(op(lead), 0);
      const auto& img = lead.image();
      ASSERT_FALSE(img.pixels.empty());
      if (img.palette.empty()) {
        EXPECT_GE(lead.GetDisplayBits(), 8);
      } else {
        EXPECT_LE(img.palette.size(), std::size_t{1} << lead.GetDisplayBits());
        ASSERT_EQ(img.pixels.channels(), 3);
        EXPECT_TRUE(inPalette(img.pixels, img.palette));
      }
      EXPECT_EQ(lead.GetImageWidth(), static_cast<float>(img.pixels.cols));
      EXPECT_EQ(lead.GetImageHeight(), static_cast<float>(img.pixels.rows));
    }
    {
      LeadWithImage lead;
      cv::Mat src = pv::test::noiseImage(11, 8, 4, 9);
      lead.set(src, 32);
      EXPECT_EQ(op(lead), 0);
      // Alpha is kept by every operation; only a colour reduction makes it a palette image.
      ASSERT_EQ(lead.pixels().channels(), 4);
      EXPECT_EQ(lead.GetDisplayBits(), std::string(name) == "reduce" ? 4 : 32);
    }
  }
}

// A halftone keeps the grey level: the share of inked pixels is the grey's
// darkness, whatever the screen's pattern, cell and angle.
TEST(PixelOperations, HalftoneKeepsTheGreyLevel) {
  for (int pattern = 0; pattern <= 6; ++pattern)
    for (int grey : {40, 128, 210})
      for (int angle : {0, 4500}) {
        SCOPED_TRACE(testing::Message() << "pattern " << pattern << " grey " << grey << " angle " << angle);
        LeadWithImage lead;
        lead.set(cv::Mat(160, 160, CV_8UC1, cv::Scalar(grey)), 8);
        ASSERT_EQ(lead.HalftoneImage(static_cast<short>(pattern), angle, 8), 0);
        EXPECT_NEAR(cv::mean(lead.pixels())[0], grey, 8.0);
      }
}

// A median of any size, even ones too, against sorting each window: an even
// window reaches k/2 up and left, k/2 - 1 down and right, and its median is
// the mean of the two middle values (rounded up).
TEST(PixelOperations, MedianOfEvenAndOddSizes) {
  const cv::Mat noise = pv::test::noiseImage(23, 17, 1, 5);
  for (int k : {2, 3, 4, 5, 6, 8}) {
    SCOPED_TRACE(k);
    LeadWithImage lead;
    lead.set(noise, 8);
    ASSERT_EQ(lead.MedianFilter(static_cast<short>(k)), 0);
    cv::Mat padded;
    cv::copyMakeBorder(noise, padded, k / 2, (k - 1) / 2, k / 2, (k - 1) / 2, cv::BORDER_REPLICATE);
    int wrong = 0;
    for (int y = 0; y < noise.rows; ++y)
      for (int x = 0; x < noise.cols; ++x) {
        std::vector<int> v;
        for (int dy = 0; dy < k; ++dy)
          for (int dx = 0; dx < k; ++dx) v.push_back(padded.at<uchar>(y + dy, x + dx));
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        const int want = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2] + 1) / 2;
        wrong += lead.pixels().at<uchar>(y, x) != want;
      }
    EXPECT_EQ(wrong, 0);
  }
  // Colour: each channel on its own, the size kept.
  LeadWithImage colour;
  colour.set(pv::test::noiseImage(9, 7, 3, 2), 24);
  ASSERT_EQ(colour.MedianFilter(4), 0);
  EXPECT_EQ(colour.pixels().size(), cv::Size(9, 7));
  EXPECT_EQ(colour.pixels().channels(), 3);
}

// Large blurs take box blurs of the same variance: within a grey level or two
// of the exact Gaussian, and as fast at radius 1000 as at 20.
TEST(PixelOperations, LargeGaussianBlursStayCloseToTheExactOne) {
  const cv::Mat photo = pv::test::noiseImage(200, 150, 3, 9) / 2 + pv::test::gradientImage(200, 150, 3) / 2;
  // Beyond the picture's own size (radius 1000 here) the edges are repeated
  // only as far as the picture is large, which costs a grey level or two more.
  const struct {
    int radius;
    double most, mean;
  } cases[] = {{18, 6, 1}, {40, 6, 1}, {120, 6, 1}, {1000, 10, 2.5}};
  for (const auto& [radius, most, mean] : cases) {
    SCOPED_TRACE(radius);
    LeadWithImage lead;
    lead.set(photo, 24);
    ASSERT_EQ(lead.GaussianBlur(static_cast<short>(radius)), 0);
    cv::Mat exact;
    cv::GaussianBlur(photo, exact, cv::Size(0, 0), radius / 2.0, radius / 2.0, cv::BORDER_REPLICATE);
    EXPECT_LE(cv::norm(lead.pixels(), exact, cv::NORM_INF), most);
    EXPECT_LE(cv::norm(lead.pixels(), exact, cv::NORM_L1) / photo.total() / 3, mean);
  }
}

// Colour resolution: an ordered or clustered dither over an optimised palette
// stays close to the undithered picture (the dither follows the palette's own
// spacing); 16 bits keep black and white; the fixed 4-bit palette has four
// greens.
TEST(PixelOperations, ColourResolutionDithersAndLevels) {
  const cv::Mat photo = pv::test::gradientImage(160, 120, 3);
  const auto psnrOf = [&](short dither) {
    LeadWithImage lead;
    lead.set(photo, 24);
    EXPECT_EQ(lead.ReduceColors(8, 0, dither, 0), 0);
    return cv::PSNR(lead.pixels(), photo);
  };
  const double plain = psnrOf(0);
  for (short dither : {7, 8}) {
    SCOPED_TRACE(dither);
    EXPECT_GT(psnrOf(dither), plain - 6.0);
  }

  LeadWithImage lead;
  lead.set((cv::Mat_<cv::Vec3b>(1, 4) << cv::Vec3b(0, 0, 0), cv::Vec3b(255, 255, 255), cv::Vec3b(128, 64, 8),
            cv::Vec3b(250, 5, 131)),
           24);
  ASSERT_EQ(lead.ReduceColors(16, 0, 0, 0), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 1), cv::Vec3b(255, 255, 255));
  EXPECT_LE(cv::norm(lead.pixels().at<cv::Vec3b>(0, 2), cv::Vec3b(128, 64, 8), cv::NORM_INF), 4.0);
  EXPECT_LE(cv::norm(lead.pixels().at<cv::Vec3b>(0, 3), cv::Vec3b(250, 5, 131), cv::NORM_INF), 4.0);

  lead.set(photo, 24);
  ASSERT_EQ(lead.ReduceColors(4, 1, 0, 0), 0);  // the fixed palette
  std::set<int> greens, reds, blues;
  for (std::uint32_t c : lead.image().palette) reds.insert(c & 0xFF), greens.insert(c >> 8 & 0xFF), blues.insert(c >> 16 & 0xFF);
  EXPECT_EQ(greens.size(), 4u);
  EXPECT_EQ(reds.size() * greens.size() * blues.size(), 16u);
}
