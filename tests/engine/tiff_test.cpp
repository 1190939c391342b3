#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/codecs/lzw.h"
#include "engine/lead.h"
#include "engine/quantize.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/reference.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::engine::CLead;

namespace {

struct TiffTags {
  int compression = 0, photometric = 0, bitsPerSample = 0, samples = 0, hSub = 0;
  std::uint32_t rowsPerStrip = 0;
};

TiffTags tagsOf(const std::string& path) {
  TiffTags t;
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return t;
  std::uint16_t v = 0, h = 0, vs = 0;
  if (TIFFGetField(tif, TIFFTAG_COMPRESSION, &v)) t.compression = v;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &v)) t.photometric = v;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &v)) t.bitsPerSample = v;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &v)) t.samples = v;
  if (TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &h, &vs)) t.hSub = h;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
  TIFFClose(tif);
  return t;
}

// 16 bits stand for 5-5-5 colour: each sample is the nearest of 32 levels
// spread over 0..255.
cv::Mat truncatedTo5Bits(const cv::Mat& m) {
  cv::Mat out = m.clone();
  out.forEach<cv::Vec3b>([](cv::Vec3b& p, const int*) {
    for (int i = 0; i < 3; ++i) {
      const int five = static_cast<int>(std::lround(p[i] * 31 / 255.0));
      p[i] = static_cast<uchar>(five << 3 | five >> 2);
    }
  });
  return out;
}

}  // namespace

TEST(TiffCodec, EveryRgbMethodRoundTripsEveryDepthExactly) {
  pv::test::TempDir dir;
  const std::string path = dir.file("t.tif");
  struct Depth {
    int bits, channels, expectBits;
  } depths[] = {{1, 3, 1}, {2, 3, 2}, {3, 3, 4},   {4, 3, 4},   {6, 3, 8},
                {8, 3, 8}, {8, 1, 8}, {16, 3, 24}, {24, 3, 24}, {32, 4, 32}};
  for (int code : {3, 87, 17}) {
    for (const Depth& d : depths) {
      SCOPED_TRACE("code " + std::to_string(code) + " bits " + std::to_string(d.bits));
      pv::test::LeadWithImage lead;
      cv::Mat src = d.channels == 1 ? pv::test::gradientImage(29, 17, 1)
                    : d.bits <= 8   ? pv::test::fewColours(29, 17, 1 << d.bits)
                                    : pv::test::noiseImage(29, 17, d.channels, 5);
      lead.set(src, d.channels * 8);
      ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), static_cast<short>(d.bits), 0, 0), 0);
      EXPECT_EQ(cv::norm(lead.pixels(), src, cv::NORM_INF), 0.0);  // the save left the image alone
      CLead back;
      ASSERT_EQ(back.ReadFileInfo(path, -1, 1), 0);
      EXPECT_EQ(back.GetInfoFormat(), 3);
      EXPECT_EQ(back.GetInfoBits(), d.expectBits);
      EXPECT_EQ(back.GetInfoPageCount(), 1);
      ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
      EXPECT_EQ(back.GetImageWidth(), 29);
      EXPECT_EQ(back.GetImageHeight(), 17);
      cv::Mat want = d.bits == 16 ? truncatedTo5Bits(src) : src;
      pv::test::LeadWithImage mine;
      ASSERT_EQ(mine.LoadImage(path, 0, 0, 1), 0);
      EXPECT_EQ(cv::norm(mine.pixels(), want, cv::NORM_INF), 0.0);
      // The file as ImageMagick reads it, as an outside check.
      cv::Mat theirs = pv::test::decodeWithMagick(path, d.channels);
      EXPECT_EQ(cv::norm(theirs, want, cv::NORM_INF), 0.0);
    }
  }
  EXPECT_EQ(tagsOf(path).compression, COMPRESSION_LZW);
}

TEST(TiffCodec, LoadsWhatItSavesWithDepthAndPalette) {
  pv::test::TempDir dir;
  const std::string path = dir.file("p.tif");
  pv::test::LeadWithImage lead;
  cv::Mat src = pv::test::fewColours(40, 30, 16);
  lead.set(src, 24);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiffLzw, 4, 0, 0), 0);
  EXPECT_EQ(tagsOf(path).photometric, PHOTOMETRIC_PALETTE);
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
  EXPECT_EQ(back.GetDisplayBits(), 4);
  EXPECT_EQ(back.image().palette.size(), 16u);
  EXPECT_EQ(cv::norm(back.pixels(), src, cv::NORM_INF), 0.0);

  // Black and white is stored bilevel, not as a palette.
  cv::Mat bw(9, 33, CV_8UC3, cv::Scalar(255, 255, 255));
  cv::rectangle(bw, cv::Rect(3, 2, 20, 4), cv::Scalar(0, 0, 0), cv::FILLED);
  lead.set(bw, 24);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiff, 1, 0, 0), 0);
  EXPECT_EQ(tagsOf(path).photometric, PHOTOMETRIC_MINISBLACK);
  ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
  EXPECT_EQ(back.GetDisplayBits(), 1);
  cv::Mat grey;
  cv::cvtColor(bw, grey, cv::COLOR_BGR2GRAY);
  EXPECT_EQ(cv::norm(back.pixels(), grey, cv::NORM_INF), 0.0);
}

TEST(TiffCodec, CmykAndYCbCrMethodsKeepTheColours) {
  pv::test::TempDir dir;
  const std::string path = dir.file("c.tif");
  pv::test::LeadWithImage lead;
  cv::Mat src = pv::test::noiseImage(31, 21, 3, 9);
  lead.set(src, 24);
  struct Case {
    int code, photometric, compression;
  } cases[] = {
      {85, PHOTOMETRIC_SEPARATED, COMPRESSION_NONE}, {88, PHOTOMETRIC_SEPARATED, COMPRESSION_PACKBITS},
      {86, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW},  {93, PHOTOMETRIC_YCBCR, COMPRESSION_NONE},
      {95, PHOTOMETRIC_YCBCR, COMPRESSION_PACKBITS}, {94, PHOTOMETRIC_YCBCR, COMPRESSION_LZW}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(c.code), 24, 0, 0), 0);
    const TiffTags tags = tagsOf(path);
    EXPECT_EQ(tags.photometric, c.photometric);
    EXPECT_EQ(tags.compression, c.compression);
    pv::test::LeadWithImage copy;
    ASSERT_EQ(copy.LoadImage(path, 0, 0, 1), 0);
    // CMYK is exact to rounding; YCbCr loses a little in the colour transform.
    EXPECT_LE(cv::norm(copy.pixels(), src, cv::NORM_INF), c.photometric == PHOTOMETRIC_YCBCR ? 3.0 : 1.0);
  }
}

TEST(TiffCodec, JpegMethodsSubsampleAsNamedAndStayClose) {
  pv::test::TempDir dir;
  const std::string path = dir.file("j.tif");
  pv::test::LeadWithImage lead;
  cv::Mat src = pv::test::gradientImage(64, 48, 3);
  lead.set(src, 24);
  for (auto [code, sub] : {std::pair{11, 1}, {24, 2}, {22, 4}}) {
    SCOPED_TRACE(code);
    ASSERT_EQ(lead.SaveImage(path, static_cast<short>(code), 24, 20, 0), 0);
    const TiffTags tags = tagsOf(path);
    EXPECT_EQ(tags.compression, COMPRESSION_JPEG);
    EXPECT_EQ(tags.photometric, PHOTOMETRIC_YCBCR);
    EXPECT_EQ(tags.hSub, sub);
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_GT(cv::PSNR(back.pixels(), src), 30.0);
  }
  // 8 bits: a grey JPEG page.
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiffJpeg, 8, 20, 0), 0);
  EXPECT_EQ(tagsOf(path).photometric, PHOTOMETRIC_MINISBLACK);
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
  EXPECT_EQ(back.pixels().channels(), 1);
}

// A photo's rows go into strips of many rows, not one a strip: wide, narrow
// and short pictures, with and without compression.
TEST(TiffCodec, StripsHoldManyRows) {
  pv::test::TempDir dir;
  const struct {
    int width, height;
    short code;
    std::uint32_t rows;  // rows per strip expected
  } cases[] = {{3000, 300, 17, 128},
               {3000, 300, 3, 128},
               {3000, 300, 11, 128},
               {40, 300, 17, 128},
               {3000, 50, 17, 50}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " code " +
                 std::to_string(c.code));
    pv::test::LeadWithImage lead;
    const cv::Mat src = pv::test::gradientImage(c.width, c.height, 3);
    lead.set(src, 24);
    const std::string path = dir.file("s.tif");
    ASSERT_EQ(lead.SaveImage(path, c.code, 24, 20, 0), 0);
    EXPECT_EQ(tagsOf(path).rowsPerStrip, c.rows);
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    EXPECT_GT(cv::PSNR(back.pixels(), src), 30.0);
  }
}

// Pages of many strips are compressed a few strips at once; every strip must
// still decode to its own rows, for us and for ImageMagick, at every depth.
TEST(TiffCodec, StripsCompressedTogetherDecodeExactly) {
  pv::test::TempDir dir;
  const struct {
    short code;
    int bits, channels;
  } cases[] = {{17, 24, 3}, {17, 8, 1}, {17, 32, 4}, {17, 4, 3},
               {87, 24, 3}, {87, 1, 3}, {86, 24, 3}, {94, 24, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE("code " + std::to_string(c.code) + " bits " + std::to_string(c.bits));
    const cv::Mat src = c.bits <= 8 && c.channels == 3 ? pv::test::fewColours(300, 1000, 1 << c.bits)
                                                       : pv::test::noiseImage(300, 1000, c.channels, 9);
    pv::test::LeadWithImage lead;
    lead.set(src, c.channels * 8);
    const std::string path = dir.file("strips.tif");
    ASSERT_EQ(lead.SaveImage(path, c.code, static_cast<short>(c.bits), 0, 0), 0);
    ASSERT_LT(tagsOf(path).rowsPerStrip, 1000u);  // several strips
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
    if (c.code == 86 || c.code == 94) {  // CMYK and YCbCr round their colours
      EXPECT_GT(cv::PSNR(back.pixels(), src), 40.0);
      continue;
    }
    EXPECT_EQ(cv::norm(back.pixels(), src, cv::NORM_INF), 0.0);
    // libtiff's own RGBA reader, strip by strip, as an outside check (it
    // premultiplies alpha, so the page with alpha is left to ours).
    if (c.channels == 4) continue;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    cv::Mat rgba(src.rows, src.cols, CV_8UC4);
    const bool read = TIFFReadRGBAImageOriented(
        tif, static_cast<std::uint32_t>(src.cols), static_cast<std::uint32_t>(src.rows),
        reinterpret_cast<std::uint32_t*>(rgba.data), ORIENTATION_TOPLEFT, 0);
    TIFFClose(tif);
    ASSERT_TRUE(read);
    cv::Mat theirs;
    cv::cvtColor(rgba, theirs, c.channels == 3 ? cv::COLOR_RGBA2BGR : cv::COLOR_RGBA2GRAY);
    EXPECT_EQ(cv::norm(theirs, src, cv::NORM_INF), 0.0);
  }
}

TEST(TiffCodec, PagesAreWrittenLoadedAndAppended) {
  pv::test::TempDir dir;
  const std::string path = dir.file("pages.tif");
  std::vector<cv::Mat> pages = {pv::test::noiseImage(20, 10, 3, 1), pv::test::noiseImage(12, 14, 3, 2),
                                pv::test::noiseImage(9, 9, 3, 3)};
  pv::test::LeadWithImage lead;
  lead.setPages(pages, 24);
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiffLzw, 24, 0, 0),
            0);  // an image with all its pages writes them all
  CLead info;
  ASSERT_EQ(info.ReadFileInfo(path, -1, 1), 0);
  EXPECT_EQ(info.GetInfoPageCount(), 3);
  pv::test::LeadWithImage back;
  ASSERT_EQ(back.LoadImage(path, 0, 2, 1), 0);
  EXPECT_EQ(cv::norm(back.pixels(), pages[1], cv::NORM_INF), 0.0);
  ASSERT_EQ(back.LoadImage(path, 0, 1, -1), 0);
  ASSERT_EQ(back.pageCount(), 3u);
  back.SetPageNumber(2);
  EXPECT_EQ(cv::norm(back.pixels(), pages[2], cv::NORM_INF), 0.0);
  EXPECT_NE(back.LoadImage(path, 0, 4, 1), 0);

  // Page mode 1 adds each save as a page; the first save makes the file.
  const std::string added = dir.file("added.tif");
  for (const cv::Mat& page : pages) {
    lead.set(page, 24);
    ASSERT_EQ(lead.SaveImage(added, pv::fmt::kTiff, 24, 0, 1), 0);
  }
  ASSERT_EQ(info.ReadFileInfo(added, -1, 1), 0);
  EXPECT_EQ(info.GetInfoPageCount(), 3);
  for (int p = 1; p <= 3; ++p) {
    ASSERT_EQ(back.LoadImage(added, 0, p, 1), 0);
    EXPECT_EQ(cv::norm(back.pixels(), pages[static_cast<std::size_t>(p - 1)], cv::NORM_INF), 0.0) << p;
  }
  // A failed append leaves the previous file as it was.
  const std::string before = pv::test::readFile(added);
  lead.set(pv::test::noiseImage(4, 4, 3, 4), 24);
  EXPECT_NE(lead.SaveImage(added + "/x.tif", pv::fmt::kTiff, 24, 0, 1), 0);
  EXPECT_EQ(pv::test::readFile(added), before);
  int entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 2);
}

TEST(TiffCodec, DamagedFilesGiveAStatus) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(200, 200, 3, 8), 24);
  const std::string path = dir.file("cut.tif");
  ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiffLzw, 24, 0, 0), 0);
  fs::resize_file(path, fs::file_size(path) / 2);
  CLead back;
  EXPECT_NE(back.LoadImage(path, 0, 0, 1), 0);
  std::ofstream(dir.file("head.tif")) << "II*\0garbage";
  EXPECT_NE(back.LoadImage(dir.file("head.tif"), 0, 0, 1), 0);
}

TEST(TiffCorpus, OrientationFillOrderAndMinIsWhiteGiveTheSamePicture) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path images = corpus / "pillow" / "Tests" / "images";
  auto load = [](const fs::path& p) {
    pv::test::LeadWithImage lead;
    EXPECT_EQ(lead.LoadImage(p.string(), 0, 0, 1), 0) << p;
    return lead.pixels().clone();
  };
  const cv::Mat upright = load(images / "g4_orientation_1.tif");
  for (int o = 2; o <= 8; ++o) {
    cv::Mat turned = load(images / ("g4_orientation_" + std::to_string(o) + ".tif"));
    ASSERT_EQ(turned.size(), upright.size()) << o;
    // The sample files differ in a few stray pixels; a wrong turn differs in most.
    EXPECT_LT(cv::norm(turned, upright, cv::NORM_L1) / upright.total(), 3.0) << o;
  }
  for (const char* bits : {"2", "4"}) {
    const fs::path folder = images / "tiff_gray_2_4_bpp";
    const cv::Mat plain = load(folder / (std::string("hopper") + bits + ".tif"));
    for (const char* variant : {"I", "R", "IR"}) {
      cv::Mat other = load(folder / (std::string("hopper") + bits + variant + ".tif"));
      EXPECT_EQ(cv::norm(other, plain, cv::NORM_INF), 0.0) << bits << variant;
    }
  }
}

TEST(TiffCorpus, TestImagesLoadLikeImageMagickOrFailCleanly) {
  PV_REQUIRE_CORPUS(corpus);
  int loaded = 0, compared = 0, refused = 0;
  for (const fs::path& folder : {corpus / "libtiff", corpus / "pillow" / "Tests" / "images"}) {
    if (!fs::exists(folder)) continue;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".tif" && ext != ".tiff")) continue;
      const std::string path = e.path().string();
      pv::test::LeadWithImage lead;
      const short info = lead.ReadFileInfo(path, -1, 1);
      const short s = lead.LoadImage(path, 0, 0, 1);
      if (s != 0) {
        ++refused;
        continue;
      }
      ++loaded;
      EXPECT_EQ(info, 0) << path;
      const int ch = lead.pixels().channels();
      cv::Mat theirs;
      try {
        theirs = pv::test::decodeWithMagick(path, ch);
      } catch (const std::exception&) {
        continue;
      }
      // ImageMagick ignores the orientation tag and separate-plane alpha, and
      // reads Lab, signed and
      // min-is-white grey and CMYK JPEG differently; those are checked above
      // or only loaded.
      const std::string name = e.path().filename().string();
      bool skip = theirs.size() != lead.pixels().size();
      for (const char* part : {"orientation", "lab", "Lab", "16bit.s", "cmyk", "gray_2_4", "2c-8b-alpha"})
        skip = skip || path.find(part) != std::string::npos;
      if (skip) continue;
      if (ch == 4) {
        // Straight alpha from premultiplied samples: compare opaque pixels.
        cv::Mat alpha, mask;
        cv::extractChannel(lead.pixels(), alpha, 3);
        mask = alpha == 255;
        lead.pixels().copyTo(theirs, ~mask);
      }
      ++compared;
      const bool lossy = path.find("jpeg") != std::string::npos || path.find("jpg") != std::string::npos ||
                         path.find("ojpeg") != std::string::npos;
      if (lossy)
        EXPECT_GT(cv::PSNR(lead.pixels(), theirs), 25.0) << path;
      else
        EXPECT_LE(cv::norm(lead.pixels(), theirs, cv::NORM_L1) / lead.pixels().total(), 2.0) << path;
    }
  }
  std::cout << "tiff corpus: " << loaded << " loaded, " << compared << " compared, " << refused
            << " refused\n";
  EXPECT_GT(loaded, 40);
}

// TIFFs of 32-bit floating-point samples, as scanners and HDR tools write
// them: grey and RGB, with alpha, in strips, tiles or planes, predicted or
// not, read at 8 bits from their sample range.
TEST(TiffCodec, FloatingPointSamplesAreReadAndScaled) {
  pv::test::TempDir dir;
  struct Case {
    const char* name;
    int samples;
    bool tiled, planes, predictor, alpha;
    double low, high;
  } cases[] = {{"grey", 1, false, false, false, false, 0, 1},
               {"rgb", 3, false, false, false, false, 0, 1},
               {"rgb-predicted", 3, false, false, true, false, 0, 1},
               {"rgb-tiled", 3, true, false, false, false, 0, 1},
               {"rgb-planes", 3, false, true, false, false, 0, 1},
               {"rgba", 4, false, false, false, true, 0, 1},
               {"grey-alpha", 2, false, false, false, true, 0, 1},
               {"rgb-range", 3, false, false, false, false, -2, 6}};
  const int w = 37, h = 21;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string(c.name) + ".tif");
    // Sample s of pixel (x, y): a ramp over the range, a little beyond it at the ends.
    const auto value = [&](int x, int y, int s) {
      return static_cast<float>(c.low + (c.high - c.low) * (((x * 7 + y * 3 + s * 11) % 40) / 36.0 - 0.05));
    };
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, c.samples);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, c.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, c.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    if (c.alpha) {
      const std::uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
      TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    if (c.low != 0 || c.high != 1) {
      TIFFSetField(t, TIFFTAG_SMINSAMPLEVALUE, c.low);
      TIFFSetField(t, TIFFTAG_SMAXSAMPLEVALUE, c.high);
    }
    if (c.predictor) {
      TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
      TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_FLOATINGPOINT);
    }
    if (c.tiled) {
      TIFFSetField(t, TIFFTAG_TILEWIDTH, 16);
      TIFFSetField(t, TIFFTAG_TILELENGTH, 16);
      std::vector<float> tile(16 * 16 * static_cast<std::size_t>(c.samples));
      for (int ty = 0; ty < h; ty += 16)
        for (int tx = 0; tx < w; tx += 16) {
          for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
              for (int s = 0; s < c.samples; ++s)
                tile[(static_cast<std::size_t>(y) * 16 + x) * c.samples + s] = value(tx + x, ty + y, s);
          ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, 0), 0);
        }
    } else {
      std::vector<float> row(static_cast<std::size_t>(w) * c.samples);
      for (int s = 0; s < (c.planes ? c.samples : 1); ++s)
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x)
            for (int k = 0; k < (c.planes ? 1 : c.samples); ++k)
              row[static_cast<std::size_t>(x) * (c.planes ? 1 : c.samples) + k] =
                  value(x, y, c.planes ? s : k);
          ASSERT_GE(
              TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), static_cast<std::uint16_t>(s)),
              0);
        }
    }
    TIFFClose(t);

    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    const int colours = c.samples >= 3 ? 3 : 1;
    EXPECT_EQ(lead.GetInfoBits(), 32 * c.samples);  // the file's own depth
    const cv::Mat px = lead.pixels();
    ASSERT_EQ(px.channels(), c.alpha ? 4 : colours == 3 ? 3 : 1);
    const auto expected = [&](int x, int y, int s) {
      return cv::saturate_cast<std::uint8_t>((value(x, y, s) - c.low) * 255.0 / (c.high - c.low));
    };
    int wrong = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = px.ptr<std::uint8_t>(y) + static_cast<std::size_t>(x) * px.channels();
        if (colours == 3) {
          wrong += std::abs(p[2] - expected(x, y, 0)) > 1 || std::abs(p[1] - expected(x, y, 1)) > 1 ||
                   std::abs(p[0] - expected(x, y, 2)) > 1;
        } else {
          wrong += std::abs(p[0] - expected(x, y, 0)) > 1;
        }
        if (c.alpha) wrong += std::abs(p[3] - expected(x, y, colours)) > 1;
      }
    EXPECT_EQ(wrong, 0);
  }
}

// Our LZW strips read back through libtiff's own decoder, byte for byte:
// strings that fill the code table many times over, long runs, the edges of
// each code width, and the smallest strips. Below 10,000 bytes (where
// libtiff's encoder never clears the table early for a falling ratio) they
// are libtiff's own strips, the final code widths and EOI included.
TEST(Tiff, OurLzwStripsAreLibtiffsAndDecode) {
  std::mt19937 random(7);
  const auto noise = [&](std::size_t n, int levels) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random() % static_cast<unsigned>(levels));
    return s;
  };
  std::string ramp;
  for (int i = 0; i < 70000; ++i) ramp.push_back(static_cast<char>((i / 3) & 0xFF));
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases{
      {"one byte", "x"},
      {"two bytes", "xy"},
      {"a run", std::string(100000, '\7')},
      {"noise, many table resets", noise(200000, 256)},
      {"few levels", noise(150000, 4)},
      {"a ramp", ramp},
  };
  // Noise around each width's last code and the table's end.
  for (std::size_t n : {252u, 253u, 254u, 255u, 765u, 766u, 767u, 1789u, 1790u, 3835u, 3836u, 3837u, 3838u, 9000u})
    cases.push_back({"noise near a width's end", noise(n, 256)});
  pv::test::TempDir dir;
  const auto write = [&](const std::string& path, const std::string& bytes, const std::string* raw) {
    TIFF* out = TIFFOpen(path.c_str(), "w");
    if (!out) return;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(bytes.size()));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, 1u);
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1u);
    std::string copy = raw ? *raw : bytes;
    if (raw)
      TIFFWriteRawStrip(out, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
    else
      TIFFWriteEncodedStrip(out, 0, copy.data(), static_cast<tmsize_t>(copy.size()));
    TIFFClose(out);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(c.bytes.size()) + " bytes");
    const std::string encoded = pv::engine::codecs::lzwEncode(
        reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size());
    write(dir.file("ours.tif"), c.bytes, &encoded);
    TIFF* in = TIFFOpen(dir.file("ours.tif").c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::string back(c.bytes.size(), '\0');
    EXPECT_EQ(TIFFReadEncodedStrip(in, 0, back.data(), static_cast<tmsize_t>(back.size())),
              static_cast<tmsize_t>(back.size()));
    TIFFClose(in);
    EXPECT_TRUE(back == c.bytes);
    if (c.bytes.size() >= 10000) continue;
    write(dir.file("theirs.tif"), c.bytes, nullptr);
    in = TIFFOpen(dir.file("theirs.tif").c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::string theirs(static_cast<std::size_t>(TIFFRawStripSize(in, 0)), '\0');
    TIFFReadRawStrip(in, 0, theirs.data(), static_cast<tmsize_t>(theirs.size()));
    TIFFClose(in);
    EXPECT_TRUE(encoded == theirs) << encoded.size() << " bytes against " << theirs.size();
  }
}
