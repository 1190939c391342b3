#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/lead.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

namespace {

std::uint32_t le32(const std::string& s, std::size_t at) {
  return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8) |
         (static_cast<unsigned char>(s[at + 2]) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24);
}

}  // namespace

TEST(BmpCodec, EveryVariantRoundTripsItsDepthsExactly) {
  pv::test::TempDir dir;
  const std::string path = dir.file("b.bmp");
  struct Case {
    int code, bits, storedBits, headerSize;
  } cases[] = {{6, 1, 1, 40},    {6, 4, 4, 40},   {6, 8, 8, 40},    {6, 16, 16, 40}, {6, 24, 24, 40},
               {6, 32, 32, 108}, {6, 2, 4, 40},   {84, 4, 4, 40},   {84, 8, 8, 40},  {14, 1, 1, 12},
               {14, 4, 4, 12},   {14, 8, 8, 12},  {14, 24, 24, 12}, {74, 1, 1, 64},  {74, 4, 4, 64},
               {74, 8, 8, 64},   {74, 24, 24, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " bits " + std::to_string(c.bits));
    const int channels = c.bits == 32 ? 4 : 3;
    cv::Mat src =
        c.bits <= 8 ? pv::test::fewColours(23, 13, 1 << c.bits) : pv::test::noiseImage(23, 13, channels, 3);
    pv::test::LeadWithImage lead;
    lead.set(src, channels * 8);
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(c.code), static_cast<short>(c.bits), 0, 0), 0);
    const std::string bytes = pv::test::readFile(path);
    EXPECT_EQ(le32(bytes, 2), bytes.size());
    EXPECT_EQ(le32(bytes, 14), static_cast<std::uint32_t>(c.headerSize));
    CLead info;
    ASSERT_EQ(info.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(info.GetInfoFormat(), c.code);
    EXPECT_EQ(info.GetInfoBits(), c.storedBits);
    EXPECT_EQ(info.GetInfoValue44(), 23);
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(back.GetDisplayBits(), c.storedBits == 16 ? 16 : c.storedBits);
    EXPECT_EQ(back.GetHasAlpha(), c.bits == 32);
    cv::Mat want = src.clone();
    // 5-bit channels are read back spread over 0..255.
    if (c.bits == 16)
      want.forEach<cv::Vec3b>([](cv::Vec3b& p, const int*) {
        for (int i = 0; i < 3; ++i) p[i] = static_cast<uchar>((p[i] >> 3) * 255 / 31);
      });
    EXPECT_EQ(cv::norm(back.pixels(), want, cv::NORM_INF), 0.0);
    // ImageMagick reads the same picture, alpha aside; it misreads 64-byte
    // OS/2 2.x headers (its own reading of the suite's pal8os2v2.bmp is wrong too).
    if (c.code == 74) continue;
    cv::Mat colour = want;
    if (channels == 4) cv::cvtColor(want, colour, cv::COLOR_BGRA2BGR);
    // (It rounds 5-bit channels where we truncate: one step at most.)
    EXPECT_LE(cv::norm(pv::test::decodeWithMagick(path, 3), colour, cv::NORM_INF), c.bits == 16 ? 1.0 : 0.0);
  }
}

TEST(BmpCodec, RunLengthFilesAreSmallForFlatPictures) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  cv::Mat flat(64, 300, CV_8UC3, cv::Scalar(10, 20, 30));
  cv::rectangle(flat, cv::Rect(40, 10, 100, 30), cv::Scalar(200, 100, 0), cv::FILLED);
  lead.set(flat, 24);
  ASSERT_EQ(lead.SaveImage(dir.file("rle.bmp"), pv::fmt::kBmpRle, 8, 0, 0), 0);
  ASSERT_EQ(lead.SaveImage(dir.file("raw.bmp"), pv::fmt::kBmp, 8, 0, 0), 0);
  EXPECT_LT(fs::file_size(dir.file("rle.bmp")) * 10, fs::file_size(dir.file("raw.bmp")));
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(dir.file("rle.bmp"), 0, 0, 1), 0);
  EXPECT_EQ(cv::norm(back.pixels(), flat, cv::NORM_INF), 0.0);
}

TEST(BmpCodec, DamagedFilesGiveAStatus) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(50, 50, 3, 1), 24);
  const std::string path = dir.file("cut.bmp");
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kBmp, 24, 0, 0), 0);
  fs::resize_file(path, fs::file_size(path) - 100);
  CLead back;
  EXPECT_EQ(back.LoadImage(path, 0, 0, 1), pv::engine::kDamaged);
  std::ofstream(dir.file("head.bmp")) << "BM";
  EXPECT_NE(back.LoadImage(dir.file("head.bmp"), 0, 0, 1), 0);
}

TEST(BmpCorpus, SuiteFilesMatchTheirReferencePictures) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path suite = corpus / "pillow" / "Tests" / "images" / "bmp";
  const fs::path refs = corpus / "bmpsuite" / "html";
  if (!fs::exists(suite)) GTEST_SKIP() << "no BMP suite";
  int matched = 0, good = 0;
  for (const char* folder : {"g", "q", "b"}) {
    for (const auto& e : fs::directory_iterator(suite / folder)) {
      const std::string name = e.path().stem().string();
      pv::test::LeadWithImage lead;
      const short s = lead.LoadImage(e.path().string(), 0, 0, 1);
      if (std::string(folder) == "g") {
        ++good;
        EXPECT_EQ(s, 0) << name;  // every good file loads
      }
      const fs::path ref = refs / (name + ".png");
      if (s != 0 || !fs::exists(ref) || std::string(folder) == "b") continue;
      // Compare colour over the pixels the reference shows opaque.
      cv::Mat want = pv::test::decodeWithMagick(ref.string(), 4), mine = lead.pixels().clone();
      if (mine.channels() == 4) cv::cvtColor(mine, mine, cv::COLOR_BGRA2BGR);
      cv::Mat wantColour, alpha;
      cv::cvtColor(want, wantColour, cv::COLOR_BGRA2BGR);
      cv::extractChannel(want, alpha, 3);
      if (mine.size() != wantColour.size()) {
        ADD_FAILURE() << name << " size";
        continue;
      }
      // Where a bit-field file's reference has alpha, ours has it too. (The
      // pixels that run-length files leave undefined are shown transparent
      // by the references; we paint them with the first colour.)
      if (name.rfind("rgba", 0) == 0 && cv::countNonZero(alpha != 255) > 0) {
        cv::Mat ownAlpha(alpha.size(), CV_8UC1, cv::Scalar(255));
        if (lead.pixels().channels() == 4) cv::extractChannel(lead.pixels(), ownAlpha, 3);
        EXPECT_LE(cv::norm(ownAlpha, alpha, cv::NORM_INF), 8.0) << folder << "/" << name << " alpha";
      }
      mine.copyTo(wantColour, alpha != 255);
      // References of 16-bit and bit-field files round their channels.
      EXPECT_LE(cv::norm(mine, wantColour, cv::NORM_INF), 8.0) << folder << "/" << name;
      ++matched;
    }
  }
  std::cout << "bmp suite: " << good << " good files, " << matched << " matched their reference\n";
  EXPECT_GE(matched, 15);
}

namespace {

void put16(std::string& s, unsigned v) {
  s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8 & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF), put16(s, v >> 16);
}

// A bitmap file of one info header and the pixel bytes after it.
std::string bitmapFile(const std::string& header, const std::string& pixels) {
  std::string f = "BM";
  put32(f, static_cast<std::uint32_t>(14 + header.size() + pixels.size()));
  put32(f, 0);
  put32(f, static_cast<std::uint32_t>(14 + header.size()));
  return f + header + pixels;
}

}  // namespace

// OS/2 2.x bitmaps compressed as 24-bit runs: runs, pictures written
// literally, line ends, a jump, the end.
TEST(BmpCodec, Os2RunLengthEncodedColourIsRead) {
  pv::test::TempDir dir;
  std::string header;
  put32(header, 64);  // an OS/2 2.x header
  put32(header, 5), put32(header, 3);
  put16(header, 1), put16(header, 24);
  put32(header, 4);  // RLE24
  header.resize(64, '\0');
  const std::string blue("\xFF\x00\x00", 3), red("\x00\x00\xFF", 3), green("\x00\xFF\x00", 3);
  std::string px;
  px += '\x05' + blue + std::string("\x00\x00", 2);  // bottom row: five blue
  px += std::string("\x00\x03", 2) + red + green + red + '\x00' + '\x02' + green + std::string("\x00\x00", 2);
  px += std::string("\x00\x02\x01\x00", 4) + '\x01' + red + std::string("\x00\x01", 2);  // jump, one red, end
  const std::string path = dir.file("rle24.bmp");
  pv::test::writeFile(path, bitmapFile(header, px));
  pv::test::LeadWithImage lead;
  ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
  EXPECT_EQ(lead.GetInfoFormat(), pv::fmt::kOs2Bmp2);
  const cv::Mat& p = lead.pixels();
  ASSERT_EQ(p.size(), cv::Size(5, 3));
  const auto at = [&](int x, int y) { return p.at<cv::Vec3b>(y, x); };
  for (int x = 0; x < 5; ++x) EXPECT_EQ(at(x, 2), cv::Vec3b(255, 0, 0)) << x;
  EXPECT_EQ(at(0, 1), cv::Vec3b(0, 0, 255));
  EXPECT_EQ(at(1, 1), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(at(2, 1), cv::Vec3b(0, 0, 255));
  EXPECT_EQ(at(3, 1), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(at(4, 1), cv::Vec3b(0, 255, 0));
  EXPECT_EQ(at(1, 0), cv::Vec3b(0, 0, 255));  // after the jump
  // Cut before its end, it is damaged.
  pv::test::writeFile(path, bitmapFile(header, px.substr(0, px.size() - 6)));
  EXPECT_EQ(lead.LoadImage(path, 0, 0, 1), pv::engine::kDamaged);
}

// A bit-field bitmap's alpha: kept where it says something, and a mask of
// nothing but zeros (which would hide the whole picture) read as opaque.
TEST(BmpCodec, AnAlphaMaskOfNothingButZerosIsOpaque) {
  pv::test::TempDir dir;
  for (bool someAlpha : {true, false}) {
    SCOPED_TRACE(someAlpha ? "some alpha" : "alpha all zero");
    std::string header;
    put32(header, 124);  // a version 5 header with its masks inside
    put32(header, 2), put32(header, 1);
    put16(header, 1), put16(header, 32);
    put32(header, 3);  // bit fields
    put32(header, 8), put32(header, 2835), put32(header, 2835), put32(header, 0), put32(header, 0);
    put32(header, 0x00FF0000), put32(header, 0x0000FF00), put32(header, 0x000000FF),
        put32(header, 0xFF000000);
    header.resize(124, '\0');
    std::string px("\x10\x20\x30", 3);
    px += someAlpha ? '\x80' : '\x00';
    px += std::string("\x40\x50\x60\x00", 4);
    const std::string path = dir.file("v5.bmp");
    pv::test::writeFile(path, bitmapFile(header, px));
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    const cv::Mat& p = lead.pixels();
    ASSERT_EQ(p.channels(), someAlpha ? 4 : 3);
    EXPECT_EQ(p.ptr<std::uint8_t>(0)[0], 0x10);  // blue of the first pixel
    if (someAlpha) {
      EXPECT_EQ(p.at<cv::Vec4b>(0, 0)[3], 0x80);
      EXPECT_EQ(p.at<cv::Vec4b>(0, 1)[3], 0);
    }
  }
}
