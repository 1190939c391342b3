#include <gtest/gtest.h>

#include <Magick++.h>

#include <fstream>

#include <opencv2/imgproc.hpp>
#include <iterator>

#include "engine/codecs/codecs.h"
#include "engine/image.h"
#include "engine/lead.h"
#include "core/file_format.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

namespace {



// Start-of-scan markers in a JPEG file: its number of scans.
int scans(const std::string& bytes) {
  int n = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && static_cast<unsigned char>(bytes[i + 1]) == 0xDA) ++n;
  return n;
}

// Horizontal sampling factor of the first component, from the SOF marker.
int lumaHSampling(const std::string& bytes) {
  for (std::size_t i = 0; i + 12 < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i + 1]);
    if (static_cast<unsigned char>(bytes[i]) == 0xFF && (b == 0xC0 || b == 0xC2))
      return static_cast<unsigned char>(bytes[i + 11]) >> 4;
  }
  return -1;
}

double psnr(const cv::Mat& a, const cv::Mat& b) { return cv::PSNR(a, b); }

cv::Mat smoothPicture(int w, int h) {
  cv::Mat m = pv::test::gradientImage(w, h, 3);
  cv::circle(m, cv::Point(w / 2, h / 2), h / 3, cv::Scalar(30, 160, 220), -1);
  return m;
}

}  // namespace

TEST(JpegCodec, RoundTripsColourAndGreyWithinAQualityBound) {
  pv::test::TempDir dir;
  for (int ch : {3, 1}) {
    pv::test::LeadWithImage lead;
    cv::Mat src = ch == 3 ? smoothPicture(120, 80) : pv::test::gradientImage(120, 80, 1);
    lead.set(src, ch * 8);
    const std::string path = dir.file("a.jpg");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kJpeg, static_cast<short>(ch * 8), 2, 0), 0);
    CLead back;
    ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(back.GetInfoFormat(), 10);
    EXPECT_EQ(back.GetInfoBits(), ch * 8);
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(back.GetImageWidth(), 120);
    EXPECT_EQ(back.GetDisplayBits(), ch * 8);
    Magick::Image im(path);
    cv::Mat theirs(80, 120, CV_8UC(ch));
    im.write(0, 0, 120, 80, ch == 3 ? "BGR" : "I", Magick::CharPixel, theirs.data);
    EXPECT_GT(psnr(theirs, src), 40.0) << ch;
  }
}

TEST(JpegCodec, TheQualityFactorIsMonotonic) {
  EXPECT_EQ(pv::engine::codecs::jpegQuality(2), 100);
  EXPECT_EQ(pv::engine::codecs::jpegQuality(255), 1);
  for (int q = 3; q <= 255; ++q)
    EXPECT_LE(pv::engine::codecs::jpegQuality(q), pv::engine::codecs::jpegQuality(q - 1));
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(64, 64, 3, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("best.jpg"), pv::fmt::kJpeg, 24, 2, 0), 0);
  ASSERT_EQ(lead.SaveImage(dir.file("small.jpg"), pv::fmt::kJpeg, 24, 200, 0), 0);
  EXPECT_GT(fs::file_size(dir.file("best.jpg")), 2 * fs::file_size(dir.file("small.jpg")));
}

TEST(JpegCodec, SubsamplingFollowsTheCodeAndPassesGiveThatManyScans) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(smoothPicture(64, 48), 24);
  const std::string path = dir.file("s.jpg");
  for (auto [code, h] : {std::pair{10, 1}, {23, 2}, {21, 4}}) {
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), 24, 20, 0), 0);
    EXPECT_EQ(lumaHSampling(pv::test::readFile(path)), h) << code;
  }
  EXPECT_EQ(scans(pv::test::readFile(path)), 1);  // baseline
  for (int passes : {4, 6, 10}) {
    lead.SetSavePasses(static_cast<short>(passes));
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kJpeg, 24, 20, 0), 0);
    EXPECT_EQ(scans(pv::test::readFile(path)), passes);
    CLead back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
  }
  lead.SetSavePasses(1);  // fewer than a colour image needs: one scan each
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kJpeg, 24, 20, 0), 0);
  EXPECT_EQ(scans(pv::test::readFile(path)), 4);
}

TEST(JpegCodec, ATruncatedOrDamagedFileGivesAStatus) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(200, 200, 3, 9), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("t.jpg"), pv::fmt::kJpeg, 24, 2, 0), 0);
  std::string bytes = pv::test::readFile(dir.file("t.jpg"));
  std::ofstream(dir.file("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  CLead back;
  EXPECT_EQ(back.LoadImage(dir.file("cut.jpg"), 0, 0, 1), pv::engine::kDamaged);
  std::ofstream(dir.file("head.jpg"), std::ios::binary) << bytes.substr(0, 40);
  EXPECT_NE(back.LoadImage(dir.file("head.jpg"), 0, 0, 1), 0);
  EXPECT_EQ(back.GetImageWidth(), 0);
}

TEST(JpegCorpus, RealJpegsDecodeLikeImageMagick) {
  PV_REQUIRE_CORPUS(corpus);
  int compared = 0;
  for (const auto& e : fs::recursive_directory_iterator(corpus / "pillow")) {
    if (!e.is_regular_file()) continue;
    auto ext = e.path().extension().string();
    if (ext != ".jpg" && ext != ".jpeg") continue;
    const std::string path = e.path().string();
    CLead lead;
    if (lead.LoadImage(path, 0, 0, 1) != 0) continue;  // damaged files: a status is all we ask
    Magick::Image im;
    try {
      im.read(path);
    } catch (const std::exception&) {
      continue;
    }
    if (im.columns() != static_cast<size_t>(lead.GetImageWidth()) || im.colorSpace() == Magick::CMYKColorspace) continue;
    pv::test::TempDir dir;
    ASSERT_EQ(lead.SaveImage(dir.file("o.png"), pv::fmt::kPng, 24, 0, 0), 0);
    Magick::Image ours(dir.file("o.png"));
    cv::Mat a(static_cast<int>(im.rows()), static_cast<int>(im.columns()), CV_8UC3), b = a.clone();
    im.write(0, 0, im.columns(), im.rows(), "BGR", Magick::CharPixel, a.data);
    ours.write(0, 0, ours.columns(), ours.rows(), "BGR", Magick::CharPixel, b.data);
    EXPECT_LE(cv::norm(a, b, cv::NORM_INF), 2.0) << path;
    ++compared;
  }
  EXPECT_GT(compared, 5);
}

TEST(LosslessJpeg, GreyAndColourRoundTripExactly) {
  pv::test::TempDir dir;
  for (int ch : {1, 3, 4}) {
    SCOPED_TRACE(ch);
    const cv::Mat src = pv::test::noiseImage(53, 29, ch, 11);
    pv::test::LeadWithImage lead;
    lead.set(src, ch * 8);
    const std::string path = dir.file("l" + std::to_string(ch) + ".jpg");
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kJpeg, ch == 1 ? 8 : 24, 0, 0), 0);
    EXPECT_TRUE(pv::test::readFile(path).find("\xFF\xC3") != std::string::npos);  // process 14 frame
    pv::engine::CLead back;
    ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(back.GetInfoBits(), ch == 1 ? 8 : 24);
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    cv::Mat want = src;
    if (ch == 4) cv::cvtColor(src, want, cv::COLOR_BGRA2BGR);
    pv::test::LeadWithImage probe;
    probe.SetImageHandle(back.GetImageHandle());
    EXPECT_EQ(cv::norm(probe.pixels(), want, cv::NORM_INF), 0.0);
  }
  // A cut file is damaged, never a crash.
  const std::string bytes = pv::test::readFile(dir.file("l3.jpg"));
  std::ofstream(dir.file("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  pv::engine::CLead cut;
  EXPECT_NE(cut.LoadImage(dir.file("cut.jpg"), 0, 0, 1), 0);
}

TEST(JpegReducedScale, DecodesTheSmallestScaleThatCoversWhatIsAsked) {
  pv::test::TempDir dir;
  const std::string path = dir.file("photo.jpg");
  {
    pv::test::LeadWithImage lead;
    lead.set(pv::test::gradientImage(800, 600, 3), 24);
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kJpeg, 24, 2, 0), 0);
  }
  pv::test::LeadWithImage full;
  ASSERT_EQ(full.LoadImage(path, 0, 0, 1), 0);
  struct Case {
    int wantW, wantH;
    int gotW, gotH, scale;
  } cases[] = {
      {76, 57, 100, 75, 8},    // a thumbnail: an eighth
      {101, 57, 200, 150, 4},  // one side decides
      {300, 200, 400, 300, 2},
      {500, 400, 800, 600, 1},  // half would not cover it
      {0, 0, 800, 600, 1},      // nothing asked
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.wantW << "x" << c.wantH);
    pv::test::LeadWithImage lead;
    lead.SetLoadAtLeast(c.wantW, c.wantH);
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(lead.GetImageWidth(), c.gotW);
    EXPECT_EQ(lead.GetImageHeight(), c.gotH);
    EXPECT_EQ(lead.GetLoadScale(), c.scale);
    EXPECT_EQ(lead.GetInfoValue44(), 800);  // the file's own size stays known
    EXPECT_EQ(lead.GetInfoHeight(), 600);
    // Within a small tolerance of a full decode shrunk to the same size.
    cv::Mat expected;
    cv::resize(full.pixels(), expected, lead.pixels().size(), 0, 0, cv::INTER_AREA);
    cv::Mat diff;
    cv::absdiff(expected, lead.pixels(), diff);
    EXPECT_LT(cv::mean(diff)[0], 2.0);
    // The request served one load only.
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(lead.GetImageWidth(), 800);
  }
}
