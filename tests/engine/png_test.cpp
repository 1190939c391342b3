#include <gtest/gtest.h>

#include <fstream>
#include <iostream>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/image.h"
#include "engine/lead.h"
#include "engine/quantize.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

using pv::test::decodeWithMagick;
using pv::test::fewColours;

TEST(PngCodec, RoundTripsGreyColourAndAlphaExactly) {
  pv::test::TempDir dir;
  struct Case {
    int channels, bits, expectBits, expectChannels;
  } cases[] = {{1, 8, 8, 1}, {3, 24, 24, 3}, {4, 32, 32, 4}, {3, 32, 32, 4}, {4, 24, 24, 3}};
  for (const auto& c : cases) {
    pv::test::LeadWithImage lead;
    cv::Mat src = pv::test::noiseImage(37, 23, c.channels, 7);
    lead.set(src, c.channels * 8);
    const std::string path = dir.file("out.png");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kPng, static_cast<short>(c.bits), 6, 0), 0);
    CLead back;
    ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(back.GetInfoFormat(), 75);
    EXPECT_EQ(back.GetInfoBits(), c.expectBits);
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(back.GetImageWidth(), 37);
    EXPECT_EQ(back.GetImageHeight(), 23);
    EXPECT_EQ(back.GetDisplayBits(), c.expectBits);
    EXPECT_EQ(back.GetHasAlpha(), c.expectChannels == 4);
    // Compare what survives: colour channels always, alpha where written.
    cv::Mat mine = decodeWithMagick(path, c.expectChannels);
    cv::Mat want = src;
    if (c.channels == 4 && c.expectChannels == 3) cv::cvtColor(src, want, cv::COLOR_BGRA2BGR);
    if (c.channels == 3 && c.expectChannels == 4) cv::cvtColor(src, want, cv::COLOR_BGR2BGRA);
    EXPECT_EQ(cv::norm(mine, want, cv::NORM_INF), 0.0) << c.bits;
  }
}

TEST(PngCodec, IndexedSavesKeepEveryColourAndLoadWithTheirPalette) {
  pv::test::TempDir dir;
  for (int bits : {1, 2, 4, 8}) {
    pv::test::LeadWithImage lead;
    cv::Mat src = fewColours(19, 11, 1 << bits);
    lead.set(src, 24);
    const std::string path = dir.file("pal.png");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kPng, static_cast<short>(bits), 0, 0), 0) << bits;
    CLead back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(back.GetDisplayBits(), bits);
    EXPECT_EQ(cv::norm(decodeWithMagick(path, 3), src, cv::NORM_INF), 0.0) << bits;
  }
}

TEST(PngCodec, AnIndexedSaveOfAPhotoReducesItsColours) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  cv::Mat photo = pv::test::gradientImage(64, 48, 3);
  lead.set(photo, 24);
  for (int bits : {4, 8}) {
    ASSERT_EQ(lead.SaveImage(dir.file("x.png"), pv::fmt::kPng, static_cast<short>(bits), 0, 0), 0);
    CLead back;
    ASSERT_EQ(back.LoadImage(dir.file("x.png"), 0, 0, 1), 0);
    EXPECT_EQ(back.GetDisplayBits(), bits);
    cv::Mat theirs = decodeWithMagick(dir.file("x.png"), 3);
    auto colours = pv::engine::exactColours(theirs, 1u << bits);
    ASSERT_TRUE(colours) << bits;
    EXPECT_GT(cv::PSNR(theirs, photo), bits == 8 ? 35.0 : 22.0) << bits;
  }
  EXPECT_EQ(cv::norm(lead.image().pixels, photo, cv::NORM_INF), 0.0);  // the current image is untouched
}

TEST(PngCodec, LoadWith32BitsAddsAnOpaqueAlphaChannel) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(8, 8, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("g.png"), pv::fmt::kPng, 24, 0, 0), 0);
  CLead back;
  ASSERT_EQ(back.LoadImage(dir.file("g.png"), 32, 0, 1), 0);
  EXPECT_TRUE(back.GetHasAlpha());
  EXPECT_EQ(back.GetDisplayBits(), 32);
  EXPECT_EQ(back.GetInfoBits(), 24);
}

TEST(SaveImage, ReplacesTheTargetWholeAndLeavesNothingBehindOnFailure) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(16, 16, 3), 24);
  const std::string path = dir.file("out.png");
  std::ofstream(path) << "old contents";
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kPng, 24, 0, 0), 0);
  CLead back;
  EXPECT_EQ(back.LoadImage(path, 0, 0, 1), 0);
  // A folder that does not exist, and a path below a regular file.
  EXPECT_EQ(lead.SaveImage(dir.file("missing/out.png"), pv::fmt::kPng, 24, 0, 0), pv::engine::kCannotCreate);
  EXPECT_EQ(lead.SaveImage(path + "/below.png", pv::fmt::kPng, 24, 0, 0), pv::engine::kCannotCreate);
  int entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
  EXPECT_EQ(lead.SaveImage(dir.file("x.awd"), pv::fmt::kAwd, 1, 0, 0), pv::engine::kNotSupported);  // no encoder
}

TEST(LoadImage, BadInputGivesAStatusAndKeepsTheCurrentImage) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(5, 4, 3), 24);
  EXPECT_EQ(lead.LoadImage(dir.file("none.png"), 0, 0, 1), pv::engine::kFileNotFound);
  std::ofstream(dir.file("text.png")) << "just some text";
  EXPECT_EQ(lead.LoadImage(dir.file("text.png"), 0, 0, 1), pv::engine::kNotAnImage);
  // A PNG cut in the middle of its image data.
  lead.set(pv::test::noiseImage(64, 64, 3, 1), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("full.png"), pv::fmt::kPng, 24, 0, 0), 0);
  fs::resize_file(dir.file("full.png"), fs::file_size(dir.file("full.png")) / 2);
  lead.set(pv::test::gradientImage(5, 4, 3), 24);
  EXPECT_EQ(lead.LoadImage(dir.file("full.png"), 0, 0, 1), pv::engine::kDamaged);
  EXPECT_EQ(lead.GetImageWidth(), 5);
}

TEST(LoadImage, RefusesImagesAboveThePixelLimitBeforeDecoding) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(100, 100, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("big.png"), pv::fmt::kPng, 24, 0, 0), 0);
  pv::test::EnvGuard limit("PICTORAVINE_MAX_PIXELS", "9999");
  CLead back;
  EXPECT_EQ(back.LoadImage(dir.file("big.png"), 0, 0, 1), pv::engine::kTooLarge);
}

TEST(PngCorpus, EverySuiteFileDecodesLikeImageMagickOrFailsCleanly) {
  PV_REQUIRE_CORPUS(corpus);
  int loaded = 0, refused = 0;
  for (const auto& e : fs::recursive_directory_iterator(corpus / "pngsuite")) {
    if (!e.is_regular_file() || e.path().extension() != ".png") continue;
    const std::string path = e.path().string();
    const bool damaged = e.path().filename().string()[0] == 'x' || path.find("badpal") != std::string::npos ||
                         path.find("crashers") != std::string::npos;
    CLead lead;
    short s = lead.LoadImage(path, 0, 0, 1);
    if (s != 0) {
      ++refused;
      EXPECT_TRUE(damaged) << path << " status " << s;
      continue;
    }
    ++loaded;
    const int ch = lead.GetHasAlpha() ? 4 : 3;
    cv::Mat theirs;
    try {
      theirs = decodeWithMagick(path, ch);
    } catch (const std::exception&) {
      continue;  // ImageMagick cannot read it: nothing to compare with
    }
    pv::test::TempDir dir;
    // Compare through a 24/32-bit save of ours, decoded by ImageMagick too.
    ASSERT_EQ(lead.SaveImage(dir.file("o.png"), pv::fmt::kPng, static_cast<short>(ch * 8), 0, 0), 0) << path;
    cv::Mat ours = decodeWithMagick(dir.file("o.png"), ch);
    ASSERT_EQ(ours.size(), theirs.size()) << path;
    // 16-bit samples are held at 8 bits by truncation; ImageMagick rounds.
    EXPECT_LE(cv::norm(ours, theirs, cv::NORM_INF), 1.0) << path;
  }
  EXPECT_GT(loaded, 150);
  std::cout << "pngsuite: " << loaded << " loaded, " << refused << " refused\n";
}

TEST(PngCodec, LargePicturesCompressedInParallelBandsStayExact) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  // Noise on the left, a gradient on the right: every filter gets chosen.
  cv::Mat src = pv::test::noiseImage(900, 700, 4, 11);
  pv::test::gradientImage(450, 700, 4).copyTo(src(cv::Rect(450, 0, 450, 700)));
  lead.set(src, 32);
  for (int level : {1, 6, 9}) {
    const std::string path = dir.file("big.png");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kPng, 32, static_cast<short>(level), 0), 0);
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(cv::norm(back.pixels(), src, cv::NORM_INF), 0.0) << level;
    EXPECT_EQ(cv::norm(decodeWithMagick(path, 4), src, cv::NORM_INF), 0.0) << level;
  }
}
