#include "engine/quantize.h"

#include <gtest/gtest.h>

#include "tests/support/support.h"

using pv::engine::exactColours;
using pv::engine::medianCutPalette;
using pv::engine::reduceToPalette;

TEST(Quantizer, AnImageThatFitsKeepsItsColoursExactly) {
  cv::Mat img = pv::test::checkerImage(16, 16, 3, 4);
  cv::Mat copy = img.clone();
  auto palette = reduceToPalette(copy, 2);
  EXPECT_EQ(palette.size(), 2u);
  EXPECT_EQ(cv::norm(copy, img, cv::NORM_INF), 0.0);
  EXPECT_FALSE(exactColours(pv::test::noiseImage(16, 16, 3, 1), 255));
}

TEST(Quantizer, MedianCutGivesAtMostTheAskedColoursAndFollowsTheImage) {
  cv::Mat noise = pv::test::noiseImage(50, 50, 3, 4);
  for (std::size_t n : {2u, 16u, 256u}) {
    cv::Mat img = noise.clone();
    auto palette = reduceToPalette(img, n);
    EXPECT_LE(palette.size(), n);
    auto used = exactColours(img, n);
    ASSERT_TRUE(used) << n;
  }
  // A picture of two colours plus a little noise keeps both colours.
  cv::Mat two(20, 20, CV_8UC3, cv::Scalar(200, 10, 10));
  two(cv::Rect(0, 0, 10, 20)).setTo(cv::Scalar(10, 10, 200));
  auto palette = medianCutPalette(two, 2);
  ASSERT_EQ(palette.size(), 2u);
  EXPECT_NE(palette[0], palette[1]);
}

TEST(Quantizer, DitheringKeepsTheMeanColourOfAnArea) {
  cv::Mat flat(64, 64, CV_8UC3, cv::Scalar(100, 100, 100));
  pv::engine::Palette blackWhite{0x000000, 0xFFFFFF};
  cv::Mat dithered = flat.clone();
  pv::engine::mapToPalette(dithered, blackWhite, true);
  EXPECT_NEAR(cv::mean(dithered)[0], 100.0, 4.0);
  cv::Mat plain = flat.clone();
  pv::engine::mapToPalette(plain, blackWhite, false);
  EXPECT_EQ(cv::mean(plain)[0], 0.0);  // 100 is nearer black
}

TEST(Quantizer, WorksOnGreyAndKeepsAlpha) {
  cv::Mat grey = pv::test::gradientImage(40, 10, 1);
  auto p = reduceToPalette(grey, 4);
  EXPECT_LE(p.size(), 4u);
  EXPECT_TRUE(exactColours(grey, 4));
  cv::Mat rgba = pv::test::noiseImage(20, 20, 4, 5);
  std::vector<cv::Mat> before, after;
  cv::split(rgba, before);
  reduceToPalette(rgba, 8);
  cv::split(rgba, after);
  EXPECT_EQ(cv::norm(before[3], after[3], cv::NORM_INF), 0.0);
}

// The indices an indexed save stores name the very colour the reduction put
// at each pixel, whether the colours fitted or were reduced and dithered.
TEST(Quantizer, IndicesNameTheColourOfEveryPixel) {
  const struct {
    const char* name;
    cv::Mat image;
    int bits;
  } cases[] = {{"fits", pv::test::checkerImage(24, 16, 3, 4), 1},
               {"grey fits", pv::test::gradientImage(64, 4, 1), 8},
               {"reduced", pv::test::noiseImage(40, 30, 3, 9), 4},
               {"reduced grey", pv::test::noiseImage(40, 30, 1, 9), 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cv::Mat reduced = c.image.clone();
    cv::Mat indices;
    const auto palette = reduceToPalette(reduced, std::size_t{1} << c.bits, &indices);
    const auto indexed = pv::engine::toIndexed(c.image, c.bits);
    EXPECT_EQ(indexed.palette, palette);
    ASSERT_EQ(indexed.indices.size(), c.image.size());
    EXPECT_EQ(cv::norm(indexed.indices, indices, cv::NORM_INF), 0.0);
    for (int y = 0; y < reduced.rows; ++y)
      for (int x = 0; x < reduced.cols; ++x) {
        const std::uint32_t colour = palette.at(indices.at<std::uint8_t>(y, x));
        const int r = reduced.channels() == 1 ? reduced.at<std::uint8_t>(y, x) : reduced.at<cv::Vec3b>(y, x)[2];
        ASSERT_EQ(static_cast<int>(colour & 0xFF), r) << x << "," << y;
      }
  }
}
