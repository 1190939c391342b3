#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <opencv2/imgproc.hpp>

#include "engine/capabilities.h"
#include "engine/composite.h"
#include "engine/lead.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

namespace {

// The picture as B G R over white, so images with and without alpha compare.
cv::Mat overWhite(const cv::Mat& m) {
  cv::Mat bgr;
  if (m.channels() == 1) {
    cv::cvtColor(m, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
  }
  if (m.channels() == 3) return m;
  bgr.create(m.size(), CV_8UC3);
  for (int y = 0; y < m.rows; ++y)
    for (int x = 0; x < m.cols; ++x) {
      const cv::Vec4b p = m.at<cv::Vec4b>(y, x);
      for (int c = 0; c < 3; ++c)
        bgr.at<cv::Vec3b>(y, x)[c] = static_cast<uchar>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255);
    }
  return bgr;
}

}  // namespace

TEST(MagickReader, OtherFormatsMatchTheirReferencePictures) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path root = corpus / "kimageformats" / "autotests" / "read";
  if (!fs::exists(root)) GTEST_SKIP() << "no kimageformats pictures";
  std::map<std::string, int> matched;
  for (const char* format : {"pcx", "psd", "ras", "rgb", "tga", "sct"}) {
    for (const auto& e : fs::directory_iterator(root / format)) {
      if (e.path().extension() == ".png") continue;
      fs::path ref = e.path();
      ref.replace_extension(".png");
      // ImageMagick reads these differently from the reference (grey with
      // alpha Targa, multichannel Photoshop, mono PCX palette, RLE Sun raster).
      bool differs = false;
      for (const char* known : {"bwa.tga", "rgba.tga", "mch-", "mono.pcx", "ccbug_463951", "rle_24bit.ras"})
        differs = differs || e.path().filename().string().find(known) != std::string::npos;
      if (!fs::exists(ref) || differs) continue;
      pv::test::LeadWithImage lead;
      const short s = lead.LoadImage(e.path().string(), 0, 0, 1);
      if (s != 0) continue;  // a variant ImageMagick does not read: a status, no crash
      cv::Mat want = overWhite(pv::test::decodeWithMagick(ref.string(), 4));
      cv::Mat mine = overWhite(lead.pixels());
      ASSERT_EQ(mine.size(), want.size()) << e.path();
      EXPECT_LT(cv::norm(mine, want, cv::NORM_L1) / static_cast<double>(want.total()), 6.0) << e.path();
      ++matched[format];
    }
  }
  for (const char* format : {"pcx", "psd", "ras", "rgb", "tga"}) EXPECT_GT(matched[format], 2) << format;
  for (const auto& [format, n] : matched) std::cout << format << ": " << n << " matched\n";
}

TEST(MagickReader, TargaPicturesComeUprightInEveryRowAndColumnOrder) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path tga = corpus / "kimageformats" / "autotests" / "read" / "tga";
  if (!fs::exists(tga / "orientation.png")) GTEST_SKIP() << "no Targa pictures";
  const cv::Mat want = overWhite(pv::test::decodeWithMagick((tga / "orientation.png").string(), 4));
  for (const char* file : {"top_left.tga", "top_right.tga", "bottom_left.tga", "bottom_right.tga"}) {
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage((tga / file).string(), 0, 0, 1), 0) << file;
    EXPECT_LT(cv::norm(overWhite(lead.pixels()), want, cv::NORM_L1) / static_cast<double>(want.total()), 2.0)
        << file;
  }
}

TEST(MagickReader, ReportsFormatCodesDepthAndPages) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path images = corpus / "pillow" / "Tests" / "images";
  struct Case {
    const char* file;
    short format;
    int pages;
  } cases[] = {{"hopper.pcx", 1, 1},       {"hopper.ras", 55, 1},
               {"hopper.sgi", 143, 1},     {"hopper.xpm", 109, 1},
               {"hopper.psd", 76, 1},      {"hopper.ico", 91, 1},
               {"deerstalker.cur", 92, 1}, {"tga/common/200x32_la_rle.tga", 262, 1}};
  for (const Case& c : cases) {
    const fs::path p = images / c.file;
    if (!fs::exists(p)) continue;
    CLead lead;
    ASSERT_EQ(lead.ReadFileInfo(p.string(), -1, 1), 0) << c.file;
    EXPECT_EQ(lead.GetInfoFormat(), c.format) << c.file;
    EXPECT_EQ(lead.GetInfoPageCount(), c.pages) << c.file;
    EXPECT_GT(lead.GetInfoBits(), 0) << c.file;
    ASSERT_EQ(lead.LoadImage(p.string(), 0, 0, 1), 0) << c.file;
    EXPECT_EQ(lead.GetImageWidth(), static_cast<float>(lead.GetInfoValue44())) << c.file;
  }
}

TEST(MagickReader, PhotoCdListsItsResolutionsAndLoadsTheChosenOne) {
  PV_REQUIRE_CORPUS(corpus);
  const std::string pcd = (corpus / "pillow/Tests/images/hopper.pcd").string();
  CLead lead;
  // A plain load is the Base resolution, not the smallest.
  ASSERT_EQ(lead.ReadFileInfo(pcd, -1, 1), 0);
  EXPECT_EQ(lead.GetInfoPageCount(), 1);
  ASSERT_EQ(lead.LoadImage(pcd, 0, 1, 1), 0);
  EXPECT_EQ(lead.GetImageWidth(), 768);
  ASSERT_EQ(lead.ReadFileResolutions(pcd), 0);
  ASSERT_EQ(lead.GetResolutionCount(), 3);  // this image pac has no 4Base
  EXPECT_EQ(lead.GetResolutionWidth(0), 192);
  EXPECT_EQ(lead.GetResolutionHeight(1), 256);
  EXPECT_EQ(lead.GetResolutionWidth(2), 768);
  // A smaller resolution is decoded from the file, as ImageMagick gives it.
  ASSERT_EQ(lead.SetLoadResolution(static_cast<short>(lead.GetInfoFormat()), 384, 256), 0);
  pv::test::LeadWithImage small;
  EXPECT_EQ(small.SetLoadResolution(static_cast<short>(lead.GetInfoFormat()), 384, 256), 0);
  ASSERT_EQ(small.LoadImage(pcd, 0, 1, 1), 0);
  ASSERT_EQ(small.GetImageWidth(), 384);
  Magick::Image im;
  im.quiet(true);
  im.read(pcd + "[2]");
  im.colorSpace(Magick::sRGBColorspace);  // Photo CD pixels are YCC
  cv::Mat ref(256, 384, CV_8UC3);
  im.write(0, 0, 384, 256, "BGR", Magick::CharPixel, ref.data);
  EXPECT_LE(cv::norm(small.pixels(), ref, cv::NORM_INF), 1.0);
  // The composite operation picks the largest.
  pv::test::LeadWithImage best;
  pv::engine::chooseLoadResolution(best, pcd);
  ASSERT_EQ(best.LoadImage(pcd, 0, 1, 1), 0);
  EXPECT_EQ(best.GetImageWidth(), 768);
}

TEST(MagickReader, ExtensionsThatNameACoderOtherwiseLoad) {
  PV_REQUIRE_CORPUS(corpus);
  pv::test::TempDir dir;
  // Scitex CT has no signature: the extension .ct must lead to its reader.
  fs::copy_file(corpus / "kimageformats/autotests/read/sct/rgb.sct", dir.file("scan.ct"));
  fs::copy_file(corpus / "pillow/Tests/images/hopper.fits", dir.file("sky.fit"));
  CLead lead;
  ASSERT_EQ(lead.ReadFileInfo(dir.file("scan.ct"), -1, 1), 0);
  EXPECT_EQ(lead.GetInfoFormat(), 250);
  EXPECT_EQ(lead.LoadImage(dir.file("scan.ct"), 0, 1, 1), 0);
  EXPECT_EQ(lead.LoadImage(dir.file("sky.fit"), 0, 1, 1), 0);
  EXPECT_EQ(pv::engine::readerOf("ct"), "ImageMagick");
  EXPECT_EQ(pv::engine::readerOf("jtf"), "own");
}

TEST(MagickReader, ANameIsNeverReadAsAnInstruction) {
  pv::test::TempDir dir;
  // ImageMagick would read "label:x" as a text rendering; here it is a file
  // name like any other, and a text file is no image.
  CLead lead;
  EXPECT_EQ(lead.LoadImage("label:hello", 0, 0, 1), pv::engine::kFileNotFound);
  std::ofstream(dir.file("notes.txt")) << "plain text, not a picture\n";
  EXPECT_NE(lead.LoadImage(dir.file("notes.txt"), 0, 0, 1), 0);
  std::ofstream(dir.file("drawing.mvg")) << "viewbox 0 0 10 10 image over 0,0 0,0 '/etc/passwd'\n";
  EXPECT_NE(lead.LoadImage(dir.file("drawing.mvg"), 0, 0, 1), 0);
  std::ofstream(dir.file("empty.tga"));
  EXPECT_EQ(lead.LoadImage(dir.file("empty.tga"), 0, 0, 1), pv::engine::kNotAnImage);
}

// Every deliberately damaged file of the corpus, in every format: a status,
// never a crash or a hang (the sanitizer run checks the memory side).
TEST(DamagedCorpus, EveryDamagedFileGivesAStatusWithoutACrash) {
  PV_REQUIRE_CORPUS(corpus);
  int damaged = 0, refused = 0;
  for (const auto& e : fs::recursive_directory_iterator(corpus)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    bool bad = false;
    for (const char* word :
         {"crash", "broken", "truncated", "bad", "oom", "cut", "_overflow", "_oob", "shortfile"})
      bad = bad || name.find(word) != std::string::npos;
    if (!bad || e.path().extension() == ".py") continue;
    ++damaged;
    pv::test::LeadWithImage lead;
    static_cast<void>(lead.ReadFileInfo(e.path().string(), -1, 1));  // any status, but no crash
    if (lead.LoadImage(e.path().string(), 0, 0, -1) != 0) ++refused;
  }
  std::cout << "damaged files: " << damaged << ", refused: " << refused << "\n";
  EXPECT_GT(damaged, 30);
  EXPECT_GT(refused * 10, damaged * 6);  // most cannot be loaded; the rest load what they hold
}
