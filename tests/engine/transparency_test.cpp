#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/codecs/codecs.h"
#include "engine/composite.h"
#include "engine/handles.h"
#include "engine/lead.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

namespace {

// A B G R A picture whose left half is fully transparent red and right half
// opaque blue, saved as a 32-bit PNG and loaded back so the info values are
// those of a real source.
void loadHalfTransparent(pv::test::LeadWithImage& lead, const pv::test::TempDir& dir) {
  cv::Mat m(6, 8, CV_8UC4, cv::Scalar(255, 0, 0, 255));
  m(cv::Rect(0, 0, 4, 6)).setTo(cv::Scalar(0, 0, 255, 0));
  lead.set(m, 32);
  ASSERT_EQ(lead.SaveImage(dir.file("a.png"), pv::fmt::kPng, 32, 0, 0), 0);
  ASSERT_EQ(lead.LoadImage(dir.file("a.png"), 0, 0, 1), 0);
}

cv::Vec4b at(pv::test::LeadWithImage& lead, int x, int y) { return lead.pixels().at<cv::Vec4b>(y, x); }

}  // namespace

TEST(FlattenTransparency, PaintsFullyTransparentPixelsAndMakesTheBackgroundTransparent) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  CLead scratch;
  loadHalfTransparent(lead, dir);
  pv::engine::flattenTransparency(lead, scratch, 75, 0xFFFFFF, false);
  EXPECT_EQ(at(lead, 0, 0), cv::Vec4b(255, 255, 255, 0));  // painted, alpha kept
  EXPECT_EQ(at(lead, 7, 5), cv::Vec4b(255, 0, 0, 255));    // opaque pixels untouched
  EXPECT_TRUE(lead.GetUseTransparentColor());
  EXPECT_EQ(lead.GetTransparentColor(), 0xFFFFFF);
  EXPECT_TRUE(lead.GetHasRegion());  // the white pixels stay selected for the save

  // Black for previews, with fill: the region is dropped afterwards.
  loadHalfTransparent(lead, dir);
  pv::engine::flattenTransparency(lead, scratch, 75, 0x000000, true);
  EXPECT_EQ(at(lead, 1, 1), cv::Vec4b(0, 0, 0, 0));
  EXPECT_EQ(lead.GetTransparentColor(), 0);
  EXPECT_FALSE(lead.GetHasRegion());
}

TEST(FlattenTransparency, BitmapSourcesAndLowDepthsSkipTheAlphaStep) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  CLead scratch;
  for (short code : {6, 84}) {
    loadHalfTransparent(lead, dir);
    pv::engine::flattenTransparency(lead, scratch, code, 0xFFFFFF, true);
    EXPECT_EQ(at(lead, 0, 0), cv::Vec4b(0, 0, 255, 0)) << code;
    EXPECT_FALSE(lead.GetUseTransparentColor()) << code;
  }
  // An 8-bit source (by its info values) with an alpha channel forced on load.
  lead.set(pv::test::fewColours(8, 6, 4), 8);
  ASSERT_EQ(lead.SaveImage(dir.file("p.png"), pv::fmt::kPng, 8, 0, 0), 0);
  ASSERT_EQ(lead.LoadImage(dir.file("p.png"), 32, 0, 1), 0);
  ASSERT_LT(lead.GetInfoBits(), 16);
  const cv::Mat before = lead.pixels().clone();
  pv::engine::flattenTransparency(lead, scratch, 75, 0xFFFFFF, true);
  EXPECT_EQ(cv::norm(lead.pixels(), before, cv::NORM_INF), 0.0);
}

TEST(FlattenTransparency, AnOpaqueAlphaChannelChangesNothing) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  CLead scratch;
  cv::Mat m(5, 5, CV_8UC4, cv::Scalar(255, 255, 255, 255));
  lead.set(m, 32);
  ASSERT_EQ(lead.SaveImage(dir.file("o.png"), pv::fmt::kPng, 32, 0, 0), 0);
  ASSERT_EQ(lead.LoadImage(dir.file("o.png"), 0, 0, 1), 0);
  pv::engine::flattenTransparency(lead, scratch, 75, 0xFFFFFF, false);
  // White pixels of an opaque picture must not turn transparent in the output.
  EXPECT_FALSE(lead.GetUseTransparentColor());
  EXPECT_FALSE(lead.GetHasRegion());
}

TEST(FlattenTransparency, ATransparentColourIsPaintedWithFillAndOnlySelectedWithout) {
  pv::test::LeadWithImage lead;
  CLead scratch;
  cv::Mat m(4, 4, CV_8UC3, cv::Scalar(0, 255, 0));  // green
  m(cv::Rect(0, 0, 2, 4)).setTo(cv::Scalar(255, 0, 255));  // magenta, the transparent colour
  lead.set(m, 24);
  lead.SetTransparentColor(0xFF00FF);
  lead.SetUseTransparentColor(true);
  pv::engine::flattenTransparency(lead, scratch, 2, 0xFFFFFF, false);
  EXPECT_EQ(cv::norm(lead.pixels(), m, cv::NORM_INF), 0.0);  // no pixel changed
  EXPECT_TRUE(lead.GetHasRegion());
  pv::engine::flattenTransparency(lead, scratch, 2, 0xFFFFFF, true);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(3, 3), cv::Vec3b(0, 255, 0));
  EXPECT_FALSE(lead.GetHasRegion());
}

TEST(FlattenTransparency, IconsUseTheirTransparentColourAndPaintTheirMask) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path icon = corpus / "pillow" / "Tests" / "images" / "hopper.ico";
  if (!fs::exists(icon)) GTEST_SKIP() << "no icon";
  pv::test::LeadWithImage lead;
  CLead scratch;
  ASSERT_EQ(lead.LoadImage(icon.string(), 0, 0, 1), 0);
  ASSERT_TRUE(lead.GetHasAlpha());
  cv::Mat alpha;
  cv::extractChannel(lead.pixels(), alpha, 3);
  pv::engine::flattenTransparency(lead, scratch, 91, 0xFFFFFF, false);
  EXPECT_TRUE(lead.GetUseTransparentColor());
  if (cv::countNonZero(alpha == 0) > 0) {
    EXPECT_EQ(lead.GetTransparentColor(), 0xFFFFFF);
    cv::Point clear;
    cv::minMaxLoc(alpha, nullptr, nullptr, &clear);
    const cv::Vec4b p = lead.pixels().at<cv::Vec4b>(clear);
    EXPECT_EQ(cv::Vec3b(p[0], p[1], p[2]), cv::Vec3b(255, 255, 255));
  }
}

namespace {

// Lists three resolutions; records what SetLoadResolution receives.
class ResolutionDouble : public CLead {
 public:
  std::vector<std::pair<float, float>> list;
  float setW = 0, setH = 0;
  short setCode = 0;
  short ReadFileResolutions(const std::string&) override { return 0; }
  short GetResolutionCount() override { return static_cast<short>(list.size()); }
  float GetResolutionWidth(short i) override { return list[static_cast<std::size_t>(i)].first; }
  float GetResolutionHeight(short i) override { return list[static_cast<std::size_t>(i)].second; }
  short GetInfoFormat() override { return 1003; }
  short SetLoadResolution(short code, float w, float h) override {
    setCode = code, setW = w, setH = h;
    return 0;
  }
};

}  // namespace

TEST(ChooseLoadResolution, PicksTheLargestAreaAndTheFirstOfEqualAreas) {
  ResolutionDouble lead;
  lead.list = {{192, 128}, {768, 512}, {384, 256}};
  pv::engine::chooseLoadResolution(lead, "x.pcd");
  EXPECT_EQ(lead.setCode, 1003);
  EXPECT_EQ(lead.setW, 768);
  lead.list = {{100, 400}, {200, 200}, {400, 100}};
  pv::engine::chooseLoadResolution(lead, "x.pcd");
  EXPECT_EQ(lead.setW, 100);
  EXPECT_EQ(lead.setH, 400);
}

TEST(ChooseLoadResolution, EveryFileListsItsOwnSizeAndALoadResolutionAppliesOnce) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(40, 30, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("g.png"), pv::fmt::kPng, 24, 0, 0), 0);
  CLead reader;
  ASSERT_EQ(reader.ReadFileResolutions(dir.file("g.png")), 0);
  ASSERT_EQ(reader.GetResolutionCount(), 1);
  EXPECT_EQ(reader.GetResolutionWidth(0), 40);
  EXPECT_EQ(reader.GetResolutionHeight(0), 30);
  EXPECT_EQ(reader.GetResolutionWidth(1), 0);
  ASSERT_EQ(reader.SetLoadResolution(75, 20, 15), 0);
  ASSERT_EQ(reader.LoadImage(dir.file("g.png"), 0, 0, 1), 0);
  EXPECT_EQ(reader.GetImageWidth(), 20);
  ASSERT_EQ(reader.LoadImage(dir.file("g.png"), 0, 0, 1), 0);
  EXPECT_EQ(reader.GetImageWidth(), 40);
  EXPECT_NE(reader.SetLoadResolution(75, 0, 15), 0);
}

TEST(Regions, SetByColourCombinesAndFillPaintsOnlyTheRegion) {
  pv::test::LeadWithImage lead;
  cv::Mat m(3, 3, CV_8UC3, cv::Scalar(0, 0, 0));
  m.at<cv::Vec3b>(0, 0) = cv::Vec3b(0, 0, 255);  // red (0x0000FF)
  m.at<cv::Vec3b>(2, 2) = cv::Vec3b(255, 0, 0);  // blue (0xFF0000)
  lead.set(m, 24);
  EXPECT_FALSE(lead.GetHasRegion());
  ASSERT_EQ(lead.SetRegionByColor(0x0000FF, 1), 0);
  ASSERT_EQ(lead.SetRegionByColor(0xFF0000, 6), 0);  // add
  ASSERT_EQ(lead.FillImage(0x00FF00), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(2, 2), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(1, 1), cv::Vec3b(0, 0, 0));
  ASSERT_EQ(lead.SetRegionByColor(0x0000FF, 1), 0);  // set: nothing is red any more
  EXPECT_FALSE(lead.GetHasRegion());
  EXPECT_EQ(lead.GetRegionHandle(), 0);
  EXPECT_NE(lead.SetRegionByColor(0, 3), 0);  // modes other than set and add are refused

  // A region handed from one instance to another, with an offset.
  CLead other;
  pv::test::LeadWithImage source;
  cv::Mat mask(2, 2, CV_8UC3, cv::Scalar(255, 255, 255));
  source.set(mask, 24);
  ASSERT_EQ(source.SetRegionByColor(0xFFFFFF, 1), 0);
  const int handle = source.GetRegionHandle();
  ASSERT_NE(handle, 0);
  ASSERT_EQ(lead.SetRegionFromHandle(handle, 2, 2, 1), 0);  // only (2,2) falls inside
  ASSERT_EQ(lead.FillImage(0xFFFFFF), 0);
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(2, 2), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(1, 1), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(lead.FreeRegion(), 0);
  EXPECT_FALSE(lead.GetHasRegion());
  EXPECT_NE(lead.SetRegionFromHandle(987654, 0, 0, 1), 0);
}

TEST(Handles, ImagesPassBetweenInstancesAndDieWithTheirMaker) {
  pv::test::LeadWithImage scratch;
  int alpha = 0;
  {
    pv::test::LeadWithImage lead;
    cv::Mat m(4, 5, CV_8UC4, cv::Scalar(1, 2, 3, 200));
    lead.set(m, 32);
    alpha = lead.GetAlphaImage();
    ASSERT_NE(alpha, 0);
    scratch.SetImageHandle(alpha);
    EXPECT_EQ(scratch.pixels().channels(), 1);
    EXPECT_EQ(scratch.pixels().at<uchar>(0, 0), 200);
    // A bitmap for drawing belongs to the caller.
    const int bitmap = lead.MakeGdiBitmap(lead.GetDrawContext());
    auto image = pv::engine::handles::take(bitmap);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels.type(), CV_8UC4);
    EXPECT_FALSE(pv::engine::handles::find(bitmap));
    const int current = lead.GetImageHandle();
    EXPECT_EQ(pv::engine::handles::find(current)->width(), 5);
  }
  EXPECT_FALSE(pv::engine::handles::find(alpha));  // released with its instance
  CLead empty;
  EXPECT_EQ(empty.GetAlphaImage(), 0);
  EXPECT_EQ(empty.MakeGdiBitmap(empty.GetDrawContext()), 0);
}

TEST(Handles, AnOperationNeverChangesAHandlesImageNorTheOtherWayRound) {
  pv::test::LeadWithImage lead, other;
  lead.set(cv::Mat(3, 4, CV_8UC3, cv::Scalar(10, 20, 30)), 24);
  const int handle = lead.GetImageHandle();
  other.SetImageHandle(handle);
  ASSERT_EQ(lead.InvertImage(), 0);   // in place on the first control
  ASSERT_EQ(other.InvertImage(), 0);  // and on the one that took the handle
  const auto kept = pv::engine::handles::find(handle);
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->pixels.at<cv::Vec3b>(0, 0), cv::Vec3b(10, 20, 30));
  EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(245, 235, 225));
  EXPECT_EQ(other.pixels().at<cv::Vec3b>(0, 0), cv::Vec3b(245, 235, 225));
}

namespace {

class FakeClipboard : public pv::engine::ClipboardTarget {
 public:
  bool accept = true;
  int width = 0;
  bool putImage(const pv::engine::Image& image) override {
    width = image.width();
    return accept;
  }
};

}  // namespace

TEST(CopyToClipboard, GoesThroughTheTargetAndFailsWithoutOne) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(7, 3, 3), 24);
  EXPECT_EQ(lead.CopyToClipboard(2), pv::engine::kNotSupported);
  FakeClipboard clipboard;
  lead.SetClipboardTarget(&clipboard);
  EXPECT_EQ(lead.CopyToClipboard(2), 0);
  EXPECT_EQ(clipboard.width, 7);
  clipboard.accept = false;
  EXPECT_NE(lead.CopyToClipboard(2), 0);
}

TEST(CLeadInstances, TwoThreadsConvertIndependently) {
  pv::test::TempDir dir;
  auto work = [&](int seed, const std::string& name, bool& same) {
    pv::test::LeadWithImage lead;
    cv::Mat src = pv::test::noiseImage(60, 40, 3, static_cast<std::uint32_t>(seed));
    same = true;
    for (int i = 0; i < 20; ++i) {
      lead.set(src, 24);
      same = same && lead.SaveImage(dir.file(name + ".tif"), pv::fmt::kTiffLzw, 24, 0, 0) == 0;
      same = same && lead.LoadImage(dir.file(name + ".tif"), 0, 0, 1) == 0;
      same = same && lead.SaveImage(dir.file(name + ".png"), pv::fmt::kPng, 8, 0, 0) == 0;
      same = same && cv::norm(lead.pixels(), src, cv::NORM_INF) == 0.0;
    }
  };
  bool a = false, b = false;
  std::thread t1(work, 1, "one", std::ref(a)), t2(work, 2, "two", std::ref(b));
  t1.join();
  t2.join();
  EXPECT_TRUE(a);
  EXPECT_TRUE(b);
}

namespace {

// The page as B G R A, its transparent colour made alpha 0, as a save with
// alpha writes it.
cv::Mat withAlpha(const pv::engine::Image& page) { return pv::engine::codecs::bgraOf(page); }

// ImageMagick's frames of a GIF, composed on the screen (coalesced), B G R A.
std::vector<cv::Mat> coalescedFrames(const std::string& path) {
  std::vector<Magick::Image> frames, composed;
  Magick::readImages(&frames, path);
  Magick::coalesceImages(&composed, frames.begin(), frames.end());
  std::vector<cv::Mat> out;
  for (Magick::Image& f : composed) {
    cv::Mat m(static_cast<int>(f.rows()), static_cast<int>(f.columns()), CV_8UC4);
    f.write(0, 0, f.columns(), f.rows(), "BGRA", Magick::CharPixel, m.data);
    out.push_back(m);
  }
  return out;
}

// Pixels that differ, fully transparent ones compared on their alpha only.
int differing(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size()) return -1;
  int n = 0;
  for (int y = 0; y < a.rows; ++y)
    for (int x = 0; x < a.cols; ++x) {
      const cv::Vec4b p = a.at<cv::Vec4b>(y, x), q = b.at<cv::Vec4b>(y, x);
      if (p[3] == 0 && q[3] == 0) continue;
      if (p != q) ++n;
    }
  return n;
}

}  // namespace

TEST(GifTransparency, EveryFrameMatchesImageMagicksComposition) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path dir = corpus / "pillow/Tests/images";
  for (const char* name : {"transparent.gif", "first_frame_transparency.gif", "dispose_bgnd.gif",
                           "dispose_bgnd_transparency.gif", "dispose_none.gif", "dispose_prev.gif",
                           "dispose_prev_first_frame.gif", "different_transparency.gif", "iss634.gif", "chi.gif"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir / name).string();
    if (!fs::exists(path)) continue;
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(path, 0, 1, -1), 0);
    const std::vector<cv::Mat> reference = coalescedFrames(path);
    ASSERT_EQ(lead.pageCount(), reference.size());
    for (std::size_t i = 0; i < reference.size(); ++i) {
      lead.SetPageNumber(static_cast<short>(i));
      EXPECT_EQ(differing(withAlpha(lead.image()), reference[i]), 0) << "frame " << i;
    }
  }
}

TEST(GifTransparency, ATransparentColourSurvivesEveryPngDepth) {
  pv::test::TempDir dir;
  // A few colours, one of them (and only it) transparent; a second entry of
  // the same colour as the key would make it ambiguous, so there is none.
  cv::Mat m = pv::test::fewColours(12, 9, 6);
  const cv::Vec3b key = m.at<cv::Vec3b>(0, 0);
  cv::Mat clear;
  cv::inRange(m, cv::Scalar(key[0], key[1], key[2]), cv::Scalar(key[0], key[1], key[2]), clear);
  for (int bits : {8, 24, 32}) {
    SCOPED_TRACE(bits);
    pv::test::LeadWithImage lead;
    lead.set(m, 8);
    lead.SetTransparentColor(key[2] | key[1] << 8 | key[0] << 16);
    lead.SetUseTransparentColor(true);
    ASSERT_EQ(lead.SaveImage(dir.file("t.png"), pv::fmt::kPng, static_cast<short>(bits), 0, 0), 0);
    Magick::Image back(dir.file("t.png"));
    cv::Mat px(9, 12, CV_8UC4);
    back.write(0, 0, 12, 9, "BGRA", Magick::CharPixel, px.data);
    cv::Mat alpha;
    cv::extractChannel(px, alpha, 3);
    EXPECT_EQ(cv::countNonZero(alpha == 0), cv::countNonZero(clear));
    EXPECT_EQ(cv::countNonZero((alpha == 0) != clear), 0);
  }
}

// After flattening, a picture's clear pixels and its opaque pixels of the
// background colour are told apart at the save: only the clear ones come out
// transparent, at every depth of GIF and PNG.
TEST(GifTransparency, OnlyTheClearPixelsStayTransparentAfterFlattening) {
  pv::test::TempDir dir;
  cv::Mat m(8, 10, CV_8UC4, cv::Scalar(255, 255, 255, 255));  // opaque white
  m(cv::Rect(6, 0, 4, 8)).setTo(cv::Scalar(30, 120, 200, 255));
  m(cv::Rect(0, 0, 2, 2)).setTo(cv::Scalar(255, 255, 255, 0));  // clear, white underneath
  pv::test::LeadWithImage source;
  source.set(m, 32);
  ASSERT_EQ(source.SaveImage(dir.file("in.png"), pv::fmt::kPng, 32, 0, 0), 0);
  const struct {
    const char* name;
    short code, bits;
  } outputs[] = {{"out.gif", pv::fmt::kGif, 8}, {"out8.png", pv::fmt::kPng, 8}, {"out24.png", pv::fmt::kPng, 24},
                 {"out32.png", pv::fmt::kPng, 32}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.name);
    pv::test::LeadWithImage lead;
    CLead scratch;
    ASSERT_EQ(lead.LoadImage(dir.file("in.png"), 32, 0, 1), 0);
    pv::engine::flattenTransparency(lead, scratch, pv::fmt::kPng, 0xFFFFFF, false);
    ASSERT_EQ(lead.SaveImage(dir.file(o.name), o.code, o.bits, 0, 0), 0);
    Magick::Image back(dir.file(o.name));
    cv::Mat px(8, 10, CV_8UC4);
    back.write(0, 0, 10, 8, "BGRA", Magick::CharPixel, px.data);
    cv::Mat alpha;
    cv::extractChannel(px, alpha, 3);
    EXPECT_EQ(cv::countNonZero(alpha == 0), 4);
    EXPECT_EQ(cv::countNonZero(alpha(cv::Rect(0, 0, 2, 2))), 0);
    EXPECT_EQ(px.at<cv::Vec4b>(5, 3), cv::Vec4b(255, 255, 255, 255));  // opaque white stays
  }
}
