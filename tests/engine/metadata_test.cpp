// What a photo carries besides its pixels: orientation turned upright on
// load, EXIF, XMP, IPTC and the colour profile kept in outputs that hold
// them, the profile's colours turned into sRGB for those that do not.
#include "engine/metadata.h"

// exiv2 0.27 hands out std::auto_ptr, which C++ has deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <lcms2.h>

#include <cmath>
#include <cstdio>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/profile_bytes.h"
#include "tests/support/support.h"

namespace fmt = pv::fmt;

namespace {

// Sets metadata on a file with exiv2, as a camera or a photo program would.
void tag(const std::string& path, const std::function<void(Exiv2::Image&)>& edit) {
  Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(path);
  file->readMetadata();
  edit(*file);
  file->writeMetadata();
}

Exiv2::Image::AutoPtr readBack(const std::string& path) {
  Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(path);
  file->readMetadata();
  return file;
}

std::string exifOf(Exiv2::Image& file, const char* key) {
  const auto it = file.exifData().findKey(Exiv2::ExifKey(key));
  return it == file.exifData().end() ? std::string() : it->toString();
}

// A profile with sRGB's primaries and a linear tone curve: a mid grey of 128
// in it is about 188 in sRGB, far enough to tell a conversion from none.
std::string linearProfile() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
  cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {linear, linear, linear};
  const std::string bytes = pv::test::profileBytes(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(linear);
  return bytes;
}

// The picture a camera stored for `orientation`, made from the upright one by
// the EXIF rule: the stored first row is the upright picture's `row0` side,
// its first column the `col0` side.
cv::Mat storedFor(const cv::Mat& upright, int orientation) {
  struct Sides {
    char row0, col0;  // t(op), b(ottom), l(eft), r(ight)
  };
  const Sides sides[9] = {{}, {'t', 'l'}, {'t', 'r'}, {'b', 'r'}, {'b', 'l'},
                          {'l', 't'}, {'r', 't'}, {'r', 'b'}, {'l', 'b'}};
  const Sides s = sides[orientation];
  const int W = upright.cols, H = upright.rows;
  const bool across = s.row0 == 'l' || s.row0 == 'r';  // stored rows run down the picture
  cv::Mat out(across ? W : H, across ? H : W, upright.type());
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.cols; ++c) {
      int x = 0, y = 0;
      switch (s.row0) {
        case 't': y = r; break;
        case 'b': y = H - 1 - r; break;
        case 'l': x = r; break;
        case 'r': x = W - 1 - r; break;
      }
      switch (s.col0) {
        case 'l': x = c; break;
        case 'r': x = W - 1 - c; break;
        case 't': y = c; break;
        case 'b': y = H - 1 - c; break;
      }
      out.at<cv::Vec3b>(r, c) = upright.at<cv::Vec3b>(y, x);
    }
  return out;
}

}  // namespace

TEST(Orientation, EveryOrientationComesOutUprightAndTagged1) {
  pv::test::TempDir dir;
  const cv::Mat upright = pv::test::noiseImage(7, 5, 3, 11);
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string path = dir.file("o" + std::to_string(o) + ".png");
    pv::test::LeadWithImage lead;
    lead.set(storedFor(upright, o), 24);
    ASSERT_EQ(lead.SaveImage(path, fmt::kPng, 24, 0, 0), 0);
    tag(path, [o](Exiv2::Image& f) { f.exifData()["Exif.Image.Orientation"] = std::uint16_t(o); });

    lead.SetAutoOrient(true);
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(cv::norm(lead.pixels(), upright, cv::NORM_INF), 0);
    ASSERT_EQ(lead.SaveImage(dir.file("out.png"), fmt::kPng, 24, 0, 0), 0);
    EXPECT_EQ(exifOf(*readBack(dir.file("out.png")), "Exif.Image.Orientation"), "1");

    // Switched off, the picture stays as stored and keeps its tag.
    lead.SetAutoOrient(false);
    ASSERT_EQ(lead.LoadImage(path, 0, 0, 1), 0);
    EXPECT_EQ(lead.pixels().size(), storedFor(upright, o).size());
    ASSERT_EQ(lead.SaveImage(dir.file("kept.png"), fmt::kPng, 24, 0, 0), 0);
    EXPECT_EQ(exifOf(*readBack(dir.file("kept.png")), "Exif.Image.Orientation"), std::to_string(o));
  }
}

TEST(Metadata, TravelsIntoJpegPngAndTiffAndStripLeavesOnlyTheProfile) {
  pv::test::TempDir dir;
  const std::string source = dir.file("photo.jpg");
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(64, 48, 3), 24);
  ASSERT_EQ(lead.SaveImage(source, fmt::kJpeg, 24, 20, 0), 0);
  const std::string icc = linearProfile();
  tag(source, [&](Exiv2::Image& f) {
    f.exifData()["Exif.Image.Make"] = "TestCam";
    f.exifData()["Exif.Photo.DateTimeOriginal"] = "2026:01:02 03:04:05";
    f.exifData()["Exif.Photo.PixelXDimension"] = std::uint32_t(64);
    f.exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    f.xmpData()["Xmp.dc.creator"] = "Someone";
    f.iptcData()["Iptc.Application2.Copyright"] = "Me";
    Exiv2::DataBuf buf(reinterpret_cast<const Exiv2::byte*>(icc.data()), static_cast<long>(icc.size()));
    f.setIccProfile(buf);
  });
  const struct {
    const char* name;
    short code;
  } outputs[] = {{"out.jpg", fmt::kJpeg}, {"out.png", fmt::kPng}, {"out.tif", fmt::kTiffLzw}};
  for (bool keep : {true, false})
    for (const auto& o : outputs) {
      SCOPED_TRACE(std::string(o.name) + (keep ? " kept" : " stripped"));
      lead.SetKeepMetadata(keep);
      ASSERT_EQ(lead.LoadImage(source, 0, 0, 1), 0);
      cv::resize(lead.pixels(), const_cast<cv::Mat&>(lead.pixels()), cv::Size(32, 24));
      ASSERT_EQ(lead.SaveImage(dir.file(o.name), o.code, 24, 20, 0), 0);
      EXPECT_EQ(lead.GetMetadataProblem(), "");
      auto back = readBack(dir.file(o.name));
      EXPECT_EQ(exifOf(*back, "Exif.Image.Make"), keep ? "TestCam" : "");
      EXPECT_EQ(exifOf(*back, "Exif.Photo.DateTimeOriginal"), keep ? "2026:01:02 03:04:05" : "");
      EXPECT_EQ(exifOf(*back, "Exif.GPSInfo.GPSLatitudeRef"), keep ? "N" : "");
      EXPECT_EQ(exifOf(*back, "Exif.Photo.PixelXDimension"), keep ? "32" : "");
      EXPECT_EQ(back->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.creator")) != back->xmpData().end(), keep);
      EXPECT_EQ(back->iptcData().findKey(Exiv2::IptcKey("Iptc.Application2.Copyright")) != back->iptcData().end(),
                keep);
      ASSERT_TRUE(back->iccProfileDefined());  // colours stay right either way
      EXPECT_EQ(back->iccProfile()->size_, static_cast<long>(icc.size()));
      // libpng drops a profile chunk without a name ("bad keyword").
      if (o.code == fmt::kPng) {
        EXPECT_NE(pv::test::readFile(dir.file(o.name)).find(std::string("iCCPICC profile\0\0", 17)), std::string::npos);
      }
      pv::test::LeadWithImage check;
      ASSERT_EQ(check.LoadImage(dir.file(o.name), 0, 0, 1), 0);  // still a sound file
      EXPECT_EQ(check.pixels().size(), cv::Size(32, 24));
    }
}

// Without its location a photo keeps every other tag: the EXIF GPS directory
// and XMP's exif:GPS properties go, in each format that carries tags.
TEST(Metadata, TheLocationAloneIsLeftOut) {
  pv::test::TempDir dir;
  const std::string source = dir.file("photo.jpg");
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(64, 48, 3), 24);
  ASSERT_EQ(lead.SaveImage(source, fmt::kJpeg, 24, 20, 0), 0);
  tag(source, [&](Exiv2::Image& f) {
    f.exifData()["Exif.Image.Make"] = "TestCam";
    f.exifData()["Exif.Image.Model"] = "Model 7";
    f.exifData()["Exif.Photo.DateTimeOriginal"] = "2026:01:02 03:04:05";
    f.exifData()["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    f.exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    f.exifData()["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 2437/100";
    f.exifData()["Exif.GPSInfo.GPSLongitudeRef"] = "E";
    f.xmpData()["Xmp.exif.GPSLatitude"] = "48,51.4N";
    f.xmpData()["Xmp.dc.creator"] = "Someone";
    f.iptcData()["Iptc.Application2.Copyright"] = "Me";
  });
  const struct {
    const char* name;
    short code;
  } outputs[] = {{"out.jpg", fmt::kJpeg}, {"out.png", fmt::kPng}, {"out.tif", fmt::kTiffLzw},
                 {"out.webp", fmt::kWebp}};
  for (bool keepLocation : {true, false})
    for (const auto& o : outputs) {
      SCOPED_TRACE(std::string(o.name) + (keepLocation ? " with its location" : " without"));
      lead.SetKeepMetadata(true);
      lead.SetKeepLocation(keepLocation);
      ASSERT_EQ(lead.LoadImage(source, 0, 0, 1), 0);
      ASSERT_EQ(lead.SaveImage(dir.file(o.name), o.code, 24, 20, 0), 0);
      EXPECT_EQ(lead.GetMetadataProblem(), "");
      auto back = readBack(dir.file(o.name));
      EXPECT_EQ(exifOf(*back, "Exif.Image.Make"), "TestCam");
      EXPECT_EQ(exifOf(*back, "Exif.Image.Model"), "Model 7");
      EXPECT_EQ(exifOf(*back, "Exif.Photo.DateTimeOriginal"), "2026:01:02 03:04:05");
      EXPECT_EQ(exifOf(*back, "Exif.Photo.ExposureTime"), "1/250");
      EXPECT_EQ(exifOf(*back, "Exif.GPSInfo.GPSLatitudeRef"), keepLocation ? "N" : "");
      EXPECT_EQ(exifOf(*back, "Exif.GPSInfo.GPSLongitudeRef"), keepLocation ? "E" : "");
      EXPECT_EQ(exifOf(*back, "Exif.Image.GPSTag").empty(), !keepLocation);
      EXPECT_EQ(back->xmpData().findKey(Exiv2::XmpKey("Xmp.exif.GPSLatitude")) != back->xmpData().end(),
                keepLocation);
      EXPECT_NE(back->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.creator")), back->xmpData().end());
      if (o.code != fmt::kWebp) {
        EXPECT_NE(back->iptcData().findKey(Exiv2::IptcKey("Iptc.Application2.Copyright")),
                  back->iptcData().end());
      }
    }
}

TEST(Metadata, FormatsWithoutProfilesGetTheirColoursInSrgb) {
  pv::test::TempDir dir;
  const std::string source = dir.file("linear.png");
  pv::test::LeadWithImage lead;
  lead.set(cv::Mat(8, 8, CV_8UC3, cv::Scalar(128, 128, 128)), 24);
  ASSERT_EQ(lead.SaveImage(source, fmt::kPng, 24, 0, 0), 0);
  const std::string icc = linearProfile();
  tag(source, [&](Exiv2::Image& f) {
    Exiv2::DataBuf buf(reinterpret_cast<const Exiv2::byte*>(icc.data()), static_cast<long>(icc.size()));
    f.setIccProfile(buf);
  });
  const struct {
    const char* name;
    short code;
    int grey;  // the pixel read back, within 2
  } outputs[] = {{"a.png", fmt::kPng, 128}, {"a.bmp", fmt::kBmp, 188}, {"a.ppm", fmt::kPpm, 188},
                 {"a.tif", fmt::kTiff, 128}};
  for (const auto& o : outputs) {
    SCOPED_TRACE(o.name);
    ASSERT_EQ(lead.LoadImage(source, 0, 0, 1), 0);
    ASSERT_EQ(lead.SaveImage(dir.file(o.name), o.code, 24, 0, 0), 0);
    EXPECT_EQ(lead.pixels().at<cv::Vec3b>(0, 0)[1], 128);  // the control's own image is left alone
    pv::test::LeadWithImage back;
    ASSERT_EQ(back.LoadImage(dir.file(o.name), 0, 0, 1), 0);
    EXPECT_NEAR(back.pixels().at<cv::Vec3b>(4, 4)[1], o.grey, 2);
  }
}

TEST(Metadata, ADamagedBlockIsDroppedAndTheImageStillConverts) {
  pv::test::TempDir dir;
  pv::test::LeadWithImage lead;
  lead.set(pv::test::gradientImage(16, 12, 3), 24);
  ASSERT_EQ(lead.SaveImage(dir.file("plain.jpg"), fmt::kJpeg, 24, 20, 0), 0);
  const std::string plain = pv::test::readFile(dir.file("plain.jpg"));
  // An APP1 EXIF segment whose TIFF header and directory are nonsense, and an
  // APP2 profile that is cut short.
  const std::string exif = std::string("Exif\0\0II*\0\x08\0\0\0\xff\xff", 16) + std::string(40, '\x7f');
  const std::string icc = std::string("ICC_PROFILE\0\x01\x01", 14) + std::string("\0\0\x10\0acsp", 8);
  const auto segment = [](char marker, const std::string& body) {
    const std::size_t n = body.size() + 2;
    return std::string{'\xff', marker, static_cast<char>(n >> 8), static_cast<char>(n & 0xff)} + body;
  };
  pv::test::writeFile(dir.file("damaged.jpg"), plain.substr(0, 2) + segment('\xe1', exif) + segment('\xe2', icc) +
                                                   plain.substr(2));
  for (const char* out : {"out.jpg", "out.png", "out.gif"}) {
    SCOPED_TRACE(out);
    lead.SetAutoOrient(true);
    ASSERT_EQ(lead.LoadImage(dir.file("damaged.jpg"), 0, 0, 1), 0);
    EXPECT_EQ(lead.pixels().size(), cv::Size(16, 12));
    EXPECT_NE(lead.GetMetadataProblem(), "");  // told, for the log
    const short code = std::string(out).ends_with("jpg") ? fmt::kJpeg : std::string(out).ends_with("png") ? fmt::kPng
                                                                                                         : fmt::kGif;
    ASSERT_EQ(lead.SaveImage(dir.file(out), code, std::string(out).ends_with("gif") ? 8 : 24, 20, 0), 0);
    pv::test::LeadWithImage back;
    EXPECT_EQ(back.LoadImage(dir.file(out), 0, 0, 1), 0);
  }
}

namespace {

// A CMYK profile of the test's own (lcms builds it from a table): its inks
// print darker mid-tones than the plain formula, so the two are told apart.
int inkToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void* toLab) {
  double ink[4];
  for (int i = 0; i < 4; ++i) ink[i] = in[i] / 65535.0;
  double rgb[3];
  for (int i = 0; i < 3; ++i) rgb[i] = std::pow((1 - ink[i]) * (1 - ink[3]), 1.8);
  cmsCIELab lab;
  cmsDoTransform(toLab, rgb, &lab, 1);
  cmsFloat2LabEncodedV2(out, &lab);
  return TRUE;
}

std::string cmykProfile() {
  cmsHPROFILE srgb = cmsCreate_sRGBProfile(), labProfile = cmsCreateLab4Profile(nullptr);
  cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL, INTENT_PERCEPTUAL, 0);
  cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(p, 2.1);
  cmsSetDeviceClass(p, cmsSigOutputClass);
  cmsSetColorSpace(p, cmsSigCmykData);
  cmsSetPCS(p, cmsSigLabData);
  cmsPipeline* pipe = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsStageSampleCLut16bit(table, inkToLab, toLab, 0);
  cmsPipelineInsertStage(pipe, cmsAT_BEGIN, table);
  cmsWriteTag(p, cmsSigAToB0Tag, pipe);
  cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsPipelineFree(pipe);
  const std::string bytes = pv::test::profileBytes(p);
  cmsDeleteTransform(toLab);
  cmsCloseProfile(srgb);
  cmsCloseProfile(labProfile);
  return bytes;
}

// A CMYK JPEG as Adobe writes them (inverted samples, an Adobe marker), of
// flat patches of the given inks, with `icc` embedded when not empty.
void writeCmykJpeg(const std::string& path, const std::vector<cv::Vec4b>& inks, const std::string& icc) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(16 * inks.size());
  c.image_height = 16;
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  if (!icc.empty())
    jpeg_write_icc_profile(&c, reinterpret_cast<const JOCTET*>(icc.data()), static_cast<unsigned>(icc.size()));
  std::vector<JSAMPLE> row;
  for (const cv::Vec4b& ink : inks)
    for (int x = 0; x < 16; ++x)
      for (int i = 0; i < 4; ++i) row.push_back(static_cast<JSAMPLE>(255 - ink[i]));
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

}  // namespace

TEST(Metadata, CmykJpegsGoThroughTheirProfile) {
  pv::test::TempDir dir;
  const std::vector<cv::Vec4b> inks = {{0, 0, 0, 0}, {128, 0, 0, 0}, {0, 128, 128, 0}, {60, 40, 20, 100}};
  const std::string icc = cmykProfile();
  // What the profile makes of each ink, in sRGB.
  cmsHPROFILE source = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
  ASSERT_NE(source, nullptr) << icc.size();
  cmsHPROFILE srgb = cmsCreate_sRGBProfile();
  cmsHTRANSFORM t = cmsCreateTransform(source, TYPE_CMYK_8, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
  ASSERT_NE(t, nullptr);
  writeCmykJpeg(dir.file("profiled.jpg"), inks, icc);
  writeCmykJpeg(dir.file("plain.jpg"), inks, "");
  pv::test::LeadWithImage profiled, plain;
  ASSERT_EQ(profiled.LoadImage(dir.file("profiled.jpg"), 0, 0, 1), 0);
  ASSERT_EQ(plain.LoadImage(dir.file("plain.jpg"), 0, 0, 1), 0);
  double apart = 0;
  for (std::size_t i = 0; i < inks.size(); ++i) {
    SCOPED_TRACE(i);
    cv::Vec3b want;
    cmsDoTransform(t, inks[i].val, want.val, 1);
    const cv::Point centre(static_cast<int>(16 * i + 8), 8);
    EXPECT_LE(cv::norm(profiled.pixels().at<cv::Vec3b>(centre), want, cv::NORM_INF), 4.0);
    // Without a profile, the plain formula: (1 - ink)(1 - black).
    const cv::Vec4b& k = inks[i];
    const cv::Vec3b formula((255 - k[2]) * (255 - k[3]) / 255, (255 - k[1]) * (255 - k[3]) / 255,
                            (255 - k[0]) * (255 - k[3]) / 255);
    EXPECT_LE(cv::norm(plain.pixels().at<cv::Vec3b>(centre), formula, cv::NORM_INF), 4.0);
    apart = std::max(apart, cv::norm(profiled.pixels().at<cv::Vec3b>(centre), formula, cv::NORM_INF));
  }
  EXPECT_GT(apart, 20.0);  // the profile counted
  cmsDeleteTransform(t);
  cmsCloseProfile(srgb);
  cmsCloseProfile(source);
  // The pixels are sRGB now: the CMYK profile does not travel into a PNG.
  ASSERT_EQ(profiled.SaveImage(dir.file("out.png"), fmt::kPng, 24, 0, 0), 0);
  EXPECT_FALSE(readBack(dir.file("out.png"))->iccProfileDefined());
}
