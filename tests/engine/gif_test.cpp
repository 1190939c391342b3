#include <gtest/gtest.h>

#include <Magick++.h>

#include <fstream>
#include <iterator>

#include "core/file_format.h"
#include "engine/quantize.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;
using pv::test::LeadWithImage;

namespace {

cv::Mat colours(int w, int h, int n, int seed) {
  cv::Mat m(h, w, CV_8UC3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int c = (x * 7 + y * 3 + seed) % n;
      m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(c * 13), static_cast<uchar>(255 - c * 3), static_cast<uchar>((c * 91) & 255));
    }
  return m;
}

cv::Mat magickFrame(const std::string& path, std::size_t frame) {
  std::vector<Magick::Image> frames;
  Magick::readImages(&frames, path);
  Magick::coalesceImages(&frames, frames.begin(), frames.end());
  Magick::Image& im = frames.at(frame);
  cv::Mat out(static_cast<int>(im.rows()), static_cast<int>(im.columns()), CV_8UC3);
  im.write(0, 0, im.columns(), im.rows(), "BGR", Magick::CharPixel, out.data);
  return out;
}


}  // namespace

TEST(GifCodec, EveryPaletteDepthRoundTripsExactly) {
  pv::test::TempDir dir;
  for (int bits = 1; bits <= 8; ++bits) {
    LeadWithImage lead;
    cv::Mat src = colours(23, 17, 1 << bits, 0);
    lead.set(src, 24);
    ASSERT_EQ(lead.SaveImage(dir.file("a.gif"), pv::fmt::kGif, static_cast<short>(bits), 0, 0), 0) << bits;
    CLead back;
    ASSERT_EQ(back.ReadFileInfo(dir.file("a.gif"), -1, 1), 0);
    EXPECT_EQ(back.GetInfoFormat(), 2);
    EXPECT_EQ(back.GetInfoBits(), bits);
    EXPECT_EQ(back.GetInfoPageCount(), 1);
    ASSERT_EQ(back.LoadImage(dir.file("a.gif"), 0, 0, 1), 0);
    EXPECT_EQ(back.GetDisplayBits(), bits);
    EXPECT_EQ(cv::norm(magickFrame(dir.file("a.gif"), 0), src, cv::NORM_INF), 0.0) << bits;
  }
}

TEST(GifCodec, InterlaceAndTransparentColourAreWritten) {
  pv::test::TempDir dir;
  LeadWithImage lead;
  cv::Mat src = colours(40, 30, 16, 1);
  lead.set(src, 24);
  lead.SetTransparentColor(static_cast<int>(src.at<cv::Vec3b>(0, 0)[2] | (src.at<cv::Vec3b>(0, 0)[1] << 8) |
                                            (src.at<cv::Vec3b>(0, 0)[0] << 16)));
  lead.SetUseTransparentColor(true);
  lead.SetSaveInterlaced(true);
  ASSERT_EQ(lead.SaveImage(dir.file("i.gif"), pv::fmt::kGif, 8, 0, 0), 0);
  EXPECT_EQ(cv::norm(magickFrame(dir.file("i.gif"), 0), src, cv::NORM_INF), 0.0);
  const std::string bytes = pv::test::readFile(dir.file("i.gif"));
  auto at = bytes.find('\x2C');  // image descriptor after the extensions
  ASSERT_NE(at, std::string::npos);
  EXPECT_TRUE(static_cast<unsigned char>(bytes[at + 9]) & 0x40);
  CLead back;
  ASSERT_EQ(back.LoadImage(dir.file("i.gif"), 0, 0, 1), 0);
  EXPECT_TRUE(back.GetUseTransparentColor());
  EXPECT_EQ(back.GetTransparentColor(), lead.GetTransparentColor());
}

TEST(GifCodec, AllPagesAreWrittenAndEachCanBeLoaded) {
  pv::test::TempDir dir;
  LeadWithImage lead;
  std::vector<cv::Mat> pages{colours(20, 10, 4, 0), colours(20, 10, 8, 1), colours(20, 10, 2, 2)};
  lead.setPages(pages, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("m.gif"), pv::fmt::kGif, 8, 0, 0), 0);
  CLead info;
  ASSERT_EQ(info.ReadFileInfo(dir.file("m.gif"), -1, 1), 0);
  EXPECT_EQ(info.GetInfoPageCount(), 3);
  LeadWithImage all;
  ASSERT_EQ(all.LoadImage(dir.file("m.gif"), 0, 0, -1), 0);
  EXPECT_EQ(all.pageCount(), 3u);
  for (short p = 0; p < 3; ++p) {
    all.SetPageNumber(p);
    EXPECT_EQ(cv::norm(all.pixels(), pages[static_cast<std::size_t>(p)], cv::NORM_INF), 0.0) << p;
  }
  LeadWithImage second;
  ASSERT_EQ(second.LoadImage(dir.file("m.gif"), 0, 2, 1), 0);
  EXPECT_EQ(second.pageCount(), 1u);
  EXPECT_EQ(cv::norm(second.pixels(), pages[1], cv::NORM_INF), 0.0);
  EXPECT_EQ(second.LoadImage(dir.file("m.gif"), 0, 9, 1), pv::engine::kInvalidParameter);
}

TEST(GifCorpus, RealGifsDecodeLikeImageMagickOrFailCleanly) {
  PV_REQUIRE_CORPUS(corpus);
  int compared = 0;
  for (const auto& e : fs::recursive_directory_iterator(corpus / "pillow")) {
    if (!e.is_regular_file() || e.path().extension() != ".gif") continue;
    const std::string path = e.path().string();
    CLead lead;
    if (lead.LoadImage(path, 0, 0, 1) != 0) continue;
    cv::Mat theirs;
    try {
      theirs = magickFrame(path, 0);
    } catch (const std::exception&) {
      continue;
    }
    if (theirs.cols != static_cast<int>(lead.GetImageWidth()) || theirs.rows != static_cast<int>(lead.GetImageHeight()))
      continue;  // ImageMagick sizes some frames differently from the screen
    pv::test::TempDir dir;
    ASSERT_EQ(lead.SaveImage(dir.file("o.png"), pv::fmt::kPng, 24, 0, 0), 0);
    Magick::Image ours(dir.file("o.png"));
    cv::Mat mine(theirs.rows, theirs.cols, CV_8UC3);
    ours.write(0, 0, ours.columns(), ours.rows(), "BGR", Magick::CharPixel, mine.data);
    // Transparent pixels differ in colour between decoders; compare the rest.
    if (lead.GetUseTransparentColor()) continue;
    EXPECT_EQ(cv::norm(mine, theirs, cv::NORM_INF), 0.0) << path;
    ++compared;
  }
  EXPECT_GT(compared, 3);
}

TEST(GifCodec, PageModeOneAddsAFrameAndKeepsTheOldFileUntilDone) {
  pv::test::TempDir dir;
  const std::string path = dir.file("added.gif");
  std::vector<cv::Mat> frames = {pv::test::fewColours(10, 8, 4), pv::test::fewColours(10, 8, 8), pv::test::fewColours(10, 8, 2)};
  pv::test::LeadWithImage lead;
  for (const cv::Mat& f : frames) {
    lead.set(f, 8);
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kGif, 8, 0, 1), 0);
  }
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
  EXPECT_EQ(back.GetInfoPageCount(), 3);
  ASSERT_EQ(back.LoadImage(path, 0, 0, -1), 0);
  ASSERT_EQ(back.pageCount(), 3u);
  for (short p = 0; p < 3; ++p) {
    back.SetPageNumber(p);
    EXPECT_EQ(cv::norm(back.pixels(), frames[static_cast<std::size_t>(p)], cv::NORM_INF), 0.0) << p;
  }
}
