// Formats written through ImageMagick, read back and compared pixel for pixel
// where the format is lossless.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "engine/lead.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace {

struct Row {
  int code;
  const char* ext;
  std::vector<int> depths;
  bool lossless24 = true;  // 24-bit colour comes back exactly
};

using pv::test::asColour;

}  // namespace

TEST(MagickWriter, EveryCodeWritesEachAllowedDepthAndReadsBack) {
  const std::vector<Row> rows = {
      {1, "pcx", {1, 4, 8, 24}},       {4, "tga", {8, 16, 24, 32}},   {262, "tga", {8, 16, 24, 32}},
      {76, "psd", {1, 8, 24}},         {56, "pct", {1, 4, 8, 16, 24}}, {55, "ras", {1, 4, 8, 24, 32}},
      {142, "sgi", {8, 24, 32}},       {143, "sgi", {8, 24, 32}},     {170, "wbmp", {1}},
      {110, "xbm", {1}},               {109, "xpm", {8}},         {133, "xwd", {1, 4, 8, 16, 24, 32}},
      {102, "pbm", {1}},               {103, "pbm", {1}},             {104, "pgm", {8}},
      {105, "pgm", {8}},               {106, "ppm", {24}},            {107, "ppm", {24}},
      {50, "cal", {1}},                {130, "cal", {1}},               {131, "cal", {1}},             {298, "cin", {24}, false},
  };
  pv::test::TempDir dir;
  const cv::Mat few = pv::test::fewColours(37, 23, 4);     // fits every palette depth from 2 bits
  const cv::Mat photo = pv::test::noiseImage(37, 23, 3, 5);
  cv::Mat bw = pv::test::checkerImage(37, 23, 3, 3);
  cv::threshold(bw, bw, 127, 255, cv::THRESH_BINARY);  // black and white
  for (const Row& r : rows)
    for (int d : r.depths) {
      SCOPED_TRACE(std::to_string(r.code) + " at " + std::to_string(d));
      const cv::Mat& src = d == 1 ? bw : d <= 8 ? few : photo;
      pv::test::LeadWithImage lead;
      lead.set(src, 24);
      const std::string path = dir.file(std::to_string(r.code) + "_" + std::to_string(d) + "." + r.ext);
      ASSERT_EQ(lead.SaveImage(path, static_cast<short>(r.code), static_cast<short>(d), 0, 0), 0);
      // Read back by ImageMagick's reader (the engine's loader for these).
      const cv::Mat back = asColour(pv::test::decodeWithMagick(path, 3));
      ASSERT_EQ(back.cols, 37);
      ASSERT_EQ(back.rows, 23);
      const bool grey = r.code == 104 || r.code == 105 || (r.code == 142 && d == 8) || (r.code == 143 && d == 8);
      if (d == 1 || (d >= 2 && d <= 8 && !grey) || (d == 24 && r.lossless24) || d == 32) {
        cv::Mat want = src;
        if (d == 1) want = bw;
        EXPECT_EQ(cv::norm(back, want, cv::NORM_INF), 0.0);
      }
      if (d == 16) {  // 5-5-5 colour: within the lost bits
        cv::Mat masked = photo & cv::Scalar(0xF8, 0xF8, 0xF8);
        EXPECT_LE(cv::norm(back, masked, cv::NORM_INF), 0.0);
      }
      if (grey) {
        cv::Mat g;
        cv::cvtColor(few, g, cv::COLOR_BGR2GRAY);
        EXPECT_LE(cv::norm(back, asColour(g), cv::NORM_INF), 1.0);
      }
    }
}

TEST(MagickWriter, PlainAndRawNetpbmAndTheFormatsWithoutAReader) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::checkerImage(16, 8, 3, 2), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("a.pbm"), 102, 1, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("a.pbm")).starts_with("P1"));
  ASSERT_EQ(lead.SaveImage(dir.file("b.pbm"), 103, 1, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("b.pbm")).starts_with("P4"));
  ASSERT_EQ(lead.SaveImage(dir.file("c.eps"), 16, 8, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("c.eps")).starts_with("%!PS-Adobe-3.0 EPSF-3.0"));
  ASSERT_EQ(lead.SaveImage(dir.file("d.fax"), 66, 1, 0, 0), 0);
  EXPECT_GT(pv::test::readFile(dir.file("d.fax")).size(), 8u);
  // Depth 0 keeps the image's own depth.
  const cv::Mat photo = pv::test::noiseImage(16, 8, 3, 7);
  lead.set(photo, 24);
  for (const char* name : {"own.pcx", "own.tga", "own.ras"}) {
    const short code = name[4] == 'p' ? 1 : name[4] == 't' ? 4 : 55;
    ASSERT_EQ(lead.SaveImage(dir.file(name), code, 0, 0, 0), 0) << name;
    EXPECT_EQ(cv::norm(asColour(pv::test::decodeWithMagick(dir.file(name), 3)), photo, cv::NORM_INF), 0.0) << name;
  }
  // Several pages of a PCX are a DCX.
  lead.setPages({pv::test::checkerImage(16, 8, 3, 2), pv::test::gradientImage(16, 8, 3)}, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("e.pcx"), 1, 24, 0, 0), 0);
  pv::engine::CLead r;
  ASSERT_EQ(r.ReadFileInfo(dir.file("e.pcx"), -1, 1), 0);
  EXPECT_EQ(r.GetInfoPageCount(), 2);
}
