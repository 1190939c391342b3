#include "core/file_format.h"
#include "engine/lead.h"

#include <gtest/gtest.h>

#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

// Operations that are declared but not built yet must say so, never succeed.
TEST(CLead, ACopyWithoutAClipboardIsNotSupported) {
  // Without a clipboard target the copy says so.
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(8, 8, 3), 24);
  EXPECT_EQ(lead.CopyToClipboard(2), pv::engine::kNotSupported);
}

TEST(CLead, WithoutAnImagePropertiesAreZeroAndOperationsRefuse) {
  pv::engine::CLead lead;
  EXPECT_EQ(lead.GetImageWidth(), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 0);
  EXPECT_FALSE(lead.GetHasAlpha());
  EXPECT_EQ(lead.ResizeImage(10, 10, 4), pv::engine::kInvalidParameter);
  EXPECT_EQ(lead.SaveImage("/tmp/never-written.png", pv::fmt::kPng, 24, 0, 0), pv::engine::kInvalidParameter);
}

TEST(ResizeImage, AZeroSizeFollowsFromTheAspectRatio) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(400, 100, 3), 24);
  ASSERT_EQ(lead.ResizeImage(200, 0, 4), 0);
  EXPECT_EQ(lead.GetImageWidth(), 200);
  EXPECT_EQ(lead.GetImageHeight(), 50);
  ASSERT_EQ(lead.ResizeImage(0, 1, 2), 0);
  EXPECT_EQ(lead.GetImageWidth(), 4);
  ASSERT_EQ(lead.ResizeImage(1, 0, 0), 0);
  EXPECT_EQ(lead.GetImageHeight(), 1);  // never 0
  EXPECT_EQ(lead.ResizeImage(0, 0, 4), pv::engine::kInvalidParameter);
  EXPECT_EQ(lead.ResizeImage(-5, 10, 4), pv::engine::kInvalidParameter);
}

TEST(ResizeImage, EveryFlagKeepsTheChannelLayoutAndAFlatImageFlat) {
  for (int ch : {1, 3, 4})
    for (short flags : {0, 1, 2, 3, 4, 5}) {
      pv::test::LeadWithImage lead;
      lead.set(cv::Mat(60, 90, CV_8UC(ch), cv::Scalar::all(77)), ch * 8);
      ASSERT_EQ(lead.ResizeImage(13, 7, flags), 0);
      EXPECT_EQ(lead.pixels().channels(), ch);
      EXPECT_EQ(lead.pixels().size(), cv::Size(13, 7));
      EXPECT_EQ(cv::norm(lead.pixels(), cv::Mat(7, 13, CV_8UC(ch), cv::Scalar::all(77)), cv::NORM_INF), 0.0)
          << ch << " " << flags;
    }
}

TEST(ResizeImage, NearestKeepsThePaletteInterpolationDropsIt) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::checkerImage(8, 8, 3, 2), 1, {0x000000, 0xFFFFFF});
  ASSERT_EQ(lead.ResizeImage(16, 16, 0), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 1);
  ASSERT_EQ(lead.ResizeImage(5, 5, 4), 0);
  EXPECT_EQ(lead.GetDisplayBits(), 24);
}

TEST(ResizeImage, DarkFavouringNearestKeepsAThinDarkLine) {
  pv::test::LeadWithImage lead;
  cv::Mat m(40, 40, CV_8UC1, cv::Scalar(255));
  m.col(17).setTo(0);
  lead.set(m, 8);
  ASSERT_EQ(lead.ResizeImage(10, 10, 1), 0);
  double lo = 255;
  cv::minMaxLoc(lead.pixels(), &lo);
  EXPECT_EQ(lo, 0);
}
