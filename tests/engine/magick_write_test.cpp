// Formats written through ImageMagick, read back and compared pixel for pixel
// where the format is lossless.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
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
      {pv::fmt::kPcx, "pcx", {1, 4, 8, 24}},       {pv::fmt::kTga, "tga", {8, 16, 24, 32}},   {pv::fmt::kTgaRle, "tga", {8, 16, 24, 32}},
      {pv::fmt::kPsd, "psd", {1, 8, 24}},         {pv::fmt::kPict, "pct", {1, 4, 8, 16, 24}}, {pv::fmt::kSunRaster, "ras", {1, 4, 8, 24, 32}},
      {pv::fmt::kSgi, "sgi", {8, 24, 32}},       {pv::fmt::kSgiRle, "sgi", {8, 24, 32}},     {pv::fmt::kWbmp, "wbmp", {1}},
      {pv::fmt::kXbm, "xbm", {1}},               {pv::fmt::kXpm, "xpm", {8}},         {pv::fmt::kXwd11, "xwd", {1, 4, 8, 16, 24, 32}},
      {pv::fmt::kPbmAscii, "pbm", {1}},               {pv::fmt::kPbm, "pbm", {1}},             {pv::fmt::kPgmAscii, "pgm", {8}},
      {pv::fmt::kPgm, "pgm", {8}},               {pv::fmt::kPpmAscii, "ppm", {24}},            {pv::fmt::kPpm, "ppm", {24}},
      {pv::fmt::kCals, "cal", {1}},                {pv::fmt::kCalsG4, "cal", {1}},               {pv::fmt::kCalsFaxG4, "cal", {1}},             {pv::fmt::kCineon, "cin", {24}, false},
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
  ASSERT_EQ(lead.SaveImage(dir.file("a.pbm"), pv::fmt::kPbmAscii, 1, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("a.pbm")).starts_with("P1"));
  ASSERT_EQ(lead.SaveImage(dir.file("b.pbm"), pv::fmt::kPbm, 1, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("b.pbm")).starts_with("P4"));
  ASSERT_EQ(lead.SaveImage(dir.file("c.eps"), pv::fmt::kEps, 8, 0, 0), 0);
  EXPECT_TRUE(pv::test::readFile(dir.file("c.eps")).starts_with("%!PS-Adobe-3.0 EPSF-3.0"));
  ASSERT_EQ(lead.SaveImage(dir.file("d.fax"), pv::fmt::kFaxG3, 1, 0, 0), 0);
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
  ASSERT_EQ(lead.SaveImage(dir.file("e.pcx"), pv::fmt::kPcx, 24, 0, 0), 0);
  pv::engine::CLead r;
  ASSERT_EQ(r.ReadFileInfo(dir.file("e.pcx"), -1, 1), 0);
  EXPECT_EQ(r.GetInfoPageCount(), 2);
}
