// WebP, AVIF, HEIC and JPEG XL: round trips at every method and depth,
// several pages, metadata, the corpus's files against their reference
// pictures, peers reading our files, and damaged files.
#include <gtest/gtest.h>

// exiv2 0.27 hands out std::auto_ptr, which C++ has deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <lcms2.h>
#include <unistd.h>

#include <opencv2/imgproc.hpp>

#include "core/file_format.h"
#include "engine/metadata.h"
#include "engine/status.h"
#include "tests/engine/lead_holder.h"
#include "tests/engine/profile_bytes.h"
#include "tests/support/support.h"

namespace fmt = pv::fmt;
namespace fs = std::filesystem;

namespace {

struct Method {
  const char* name;
  short code;
  const char* ext;
  bool lossless;
  bool grey;   // holds 8-bit grey
  int effort;  // the format's default effort or speed
};

const Method kMethods[] = {
    {"WebP lossy", fmt::kWebp, "webp", false, false, 4},     {"WebP lossless", fmt::kWebpLossless, "webp", true, false, 4},
    {"AVIF lossy", fmt::kAvif, "avif", false, true, 6},      {"AVIF lossless", fmt::kAvifLossless, "avif", true, true, 6},
    {"HEIC", fmt::kHeic, "heic", false, false, 5},           {"JPEG XL lossy", fmt::kJxl, "jxl", false, true, 5},
    {"JPEG XL lossless", fmt::kJxlLossless, "jxl", true, true, 5},
};

// A smooth picture with a little texture, as photos are: lossy codecs keep
// it well, so a bound on the error catches a codec that mangles it.
cv::Mat photoLike(int w, int h, int channels) {
  cv::Mat base = pv::test::gradientImage(w, h, channels);
  cv::Mat noise = pv::test::noiseImage(w, h, channels, 7);
  cv::Mat out;
  cv::addWeighted(base, 0.9, noise, 0.1, 0, out);
  if (channels == 4) {
    // Alpha from clear to opaque across the picture.
    std::vector<cv::Mat> planes;
    cv::split(out, planes);
    for (int x = 0; x < w; ++x) planes[3].col(x).setTo(x * 255 / std::max(1, w - 1));
    cv::merge(planes, out);
  }
  return out;
}

std::string save(pv::test::LeadWithImage& lead, const pv::test::TempDir& dir, const Method& m, int bits,
                 int quality = 90, const std::string& stem = "out") {
  const std::string path = dir.file(stem + "." + m.ext);
  lead.SetSavePasses(static_cast<short>(m.effort));
  EXPECT_EQ(lead.SaveImage(path, m.code, static_cast<short>(bits), static_cast<short>(quality), 0), 0) << m.name;
  return path;
}

std::string exifTag(const pv::engine::Image& image, const char* key) {
  const auto blocks = pv::engine::metadataBlocks(image, true);
  if (blocks.exif.empty()) return {};
  Exiv2::ExifData exif;
  Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte*>(blocks.exif.data()),
                            static_cast<std::uint32_t>(blocks.exif.size()));
  const auto it = exif.findKey(Exiv2::ExifKey(key));
  return it == exif.end() ? std::string() : it->toString();
}

bool installed(const std::string& tool) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/"})
    if (access((std::string(dir) + tool).c_str(), X_OK) == 0) return true;
  return false;
}

}  // namespace

TEST(PhotoFormats, RoundTripAtEveryMethodAndDepth) {
  pv::test::TempDir dir;
  for (const Method& m : kMethods)
    for (int bits : {24, 32, 8}) {
      if (bits == 8 && !m.grey) continue;
      SCOPED_TRACE(std::string(m.name) + " at " + std::to_string(bits));
      const int channels = bits == 32 ? 4 : bits == 8 ? 1 : 3;
      const cv::Mat source = photoLike(96, 64, channels);
      pv::test::LeadWithImage lead;
      lead.set(source, bits);
      const std::string path = save(lead, dir, m, bits);
      pv::test::LeadWithImage back;
      ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
      ASSERT_EQ(back.pixels().channels(), channels);
      EXPECT_EQ(back.image().bits, bits);
      ASSERT_EQ(back.pixels().size(), source.size());
      if (m.lossless)
        EXPECT_EQ(cv::norm(back.pixels(), source, cv::NORM_INF), 0);
      else
        EXPECT_GT(cv::PSNR(back.pixels(), source), 30);
    }
}

TEST(PhotoFormats, QualityTradesSizeForFidelity) {
  pv::test::TempDir dir;
  const cv::Mat source = photoLike(128, 96, 3);
  for (const Method& m : kMethods) {
    if (m.lossless) continue;
    SCOPED_TRACE(m.name);
    pv::test::LeadWithImage lead;
    lead.set(source, 24);
    const std::string low = save(lead, dir, m, 24, 20, "low"), high = save(lead, dir, m, 24, 95, "high");
    EXPECT_LT(fs::file_size(low), fs::file_size(high));
    // The ends of the quality range save too (JPEG XL's distance stops at
    // libjxl's largest).
    const std::string lowest = save(lead, dir, m, 24, 0, "lowest"), best = save(lead, dir, m, 24, 100, "best");
    EXPECT_LE(fs::file_size(lowest), fs::file_size(low));
    EXPECT_GE(fs::file_size(best), fs::file_size(high));
    pv::test::LeadWithImage a, b;
    ASSERT_EQ(a.LoadImage(low, 0, 0, 1), 0);
    ASSERT_EQ(b.LoadImage(high, 0, 0, 1), 0);
    EXPECT_LT(cv::PSNR(a.pixels(), source), cv::PSNR(b.pixels(), source));
  }
}

TEST(PhotoFormats, SeveralPagesAreWrittenAndReadAsPages) {
  pv::test::TempDir dir;
  const std::vector<cv::Mat> pages = {cv::Mat(32, 40, CV_8UC3, cv::Scalar(200, 40, 40)),
                                      cv::Mat(32, 40, CV_8UC3, cv::Scalar(40, 200, 40)),
                                      cv::Mat(32, 40, CV_8UC3, cv::Scalar(40, 40, 200))};
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.name);
    pv::test::LeadWithImage lead;
    lead.setPages(pages, 24);
    const std::string path = save(lead, dir, m, 0);
    ASSERT_EQ(lead.ReadFileInfo(path, -1, 1), 0);
    EXPECT_EQ(lead.GetInfoPageCount(), 3);
    pv::test::LeadWithImage all;
    ASSERT_EQ(all.LoadImage(path, 0, 1, -1), 0);
    ASSERT_EQ(all.pageCount(), 3u);
    pv::test::LeadWithImage second;
    ASSERT_EQ(second.LoadImage(path, 0, 2, 1), 0);
    cv::Mat bgr = second.pixels();
    if (bgr.channels() == 4) cv::cvtColor(bgr, bgr, cv::COLOR_BGRA2BGR);
    EXPECT_GT(cv::PSNR(bgr, pages[1]), 30);
    pv::test::LeadWithImage beyond;
    EXPECT_NE(beyond.LoadImage(path, 0, 4, 1), 0);
  }
}

// Pages of different sizes: an animation or sequence draws each at the top
// left of a transparent canvas as large as the largest; HEIC's images keep
// their own sizes.
TEST(PhotoFormats, PagesOfDifferentSizesShareACanvasOrKeepTheirSizes) {
  pv::test::TempDir dir;
  const std::vector<cv::Mat> pages = {cv::Mat(32, 40, CV_8UC3, cv::Scalar(200, 40, 40)),
                                      cv::Mat(16, 20, CV_8UC3, cv::Scalar(40, 200, 40))};
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.name);
    pv::test::LeadWithImage lead;
    lead.setPages(pages, 24);
    const std::string path = save(lead, dir, m, 0);
    pv::test::LeadWithImage second;
    ASSERT_EQ(second.LoadImage(path, 0, 2, 1), 0);
    if (m.code == fmt::kHeic) {
      EXPECT_EQ(second.pixels().size(), pages[1].size());
      continue;
    }
    ASSERT_EQ(second.pixels().size(), pages[0].size());
    ASSERT_EQ(second.pixels().channels(), 4);
    const cv::Vec4b inside = second.pixels().at<cv::Vec4b>(8, 10), outside = second.pixels().at<cv::Vec4b>(24, 30);
    EXPECT_NEAR(inside[1], 200, 12);
    EXPECT_EQ(inside[3], 255);
    EXPECT_EQ(outside[3], 0);
  }
}

TEST(PhotoFormats, MetadataTravelsAndStripKeepsOnlyTheProfile) {
  pv::test::TempDir dir;
  const std::string source = dir.file("photo.jpg");
  // Stored on its side, as a camera held upright stores it with orientation 6.
  const cv::Mat upright = photoLike(48, 32, 3);
  cv::Mat stored;
  cv::rotate(upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
  {
    pv::test::LeadWithImage lead;
    lead.set(stored, 24);
    ASSERT_EQ(lead.SaveImage(source, fmt::kJpeg, 24, 2, 0), 0);
  }
  const std::string icc = pv::test::profileBytes(cmsCreate_sRGBProfile());
  {
    Exiv2::Image::AutoPtr f = Exiv2::ImageFactory::open(source);
    f->readMetadata();
    f->exifData()["Exif.Image.Make"] = "TestCam";
    f->exifData()["Exif.Image.Orientation"] = std::uint16_t{6};
    f->xmpData()["Xmp.dc.creator"] = "Someone";
    Exiv2::DataBuf buf(reinterpret_cast<const Exiv2::byte*>(icc.data()), static_cast<long>(icc.size()));
    f->setIccProfile(buf);
    f->writeMetadata();
  }
  for (const Method& m : kMethods)
    for (bool keep : {true, false}) {
      SCOPED_TRACE(std::string(m.name) + (keep ? " kept" : " stripped"));
      pv::test::LeadWithImage lead;
      lead.SetAutoOrient(true);
      lead.SetKeepMetadata(keep);
      ASSERT_EQ(lead.LoadImage(source, 0, 0, 1), 0);
      const std::string path = save(lead, dir, m, 24);
      pv::test::LeadWithImage back;
      back.SetAutoOrient(true);
      ASSERT_EQ(back.LoadImage(path, 0, 0, 1), 0);
      EXPECT_EQ(back.GetMetadataProblem(), "");
      ASSERT_EQ(back.pixels().size(), upright.size());  // upright, and not turned again
      EXPECT_GT(cv::PSNR(back.pixels(), upright), 28);
      EXPECT_EQ(exifTag(back.image(), "Exif.Image.Make"), keep ? "TestCam" : "");
      EXPECT_EQ(exifTag(back.image(), "Exif.Image.Orientation"), keep ? "1" : "");
      EXPECT_EQ(pv::engine::metadataBlocks(back.image(), true).xmp.find("Someone") != std::string::npos, keep);
      // JPEG XL's lossy mode stores colours in its own space and gives them
      // back in sRGB, which needs no profile.
      const std::string backIcc = pv::engine::metadataBlocks(back.image(), false).icc;
      if (m.code == fmt::kJxl && backIcc.empty()) continue;
      EXPECT_EQ(backIcc, icc);
    }
}

// The corpus's files decode to their reference pictures (made by other
// decoders), turned as the files say.
TEST(PhotoFormats, CorpusFilesMatchTheirReferences) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path read = corpus / "kimageformats" / "autotests" / "read";
  const fs::path pillow = corpus / "pillow" / "Tests" / "images";
  struct Case {
    fs::path file, reference;
    double minPsnr;  // 0: exact
  };
  std::vector<Case> cases = {
      {read / "avif/rgb.avif", read / "avif/rgb.png", 0},
      {read / "avif/rgba.avif", read / "avif/rgba.png", 0},
      {read / "avif/bw.avif", read / "avif/bw.png", 0},
      {read / "avif/bwa.avif", read / "avif/bwa.png", 45},
      {read / "heic/rgb.heic", read / "heic/rgb.png", 0},
      {read / "heic/rgba.heic", read / "heic/rgba.png", 0},
      {read / "jxl/chicken8.jxl", read / "jxl/chicken8.png", 0},
      {pillow / "hopper_orientation_6.webp", pillow / "hopper.webp", 30},
  };
  for (const char* turn : {"unrotated", "rotated180", "rotated270"})
    for (const char* mirror : {"", "_left-to-right", "_top-to-bottom"})
      cases.push_back({read / "avif" / (std::string(turn) + mirror + ".avif"),
                       read / "avif" / (std::string(turn) + mirror + ".png"), 0});
  for (int o = 1; o <= 8; ++o) {
    const std::string n = std::to_string(o);
    cases.push_back({read / "heic" / ("orientation" + n + ".heic"), read / "heic/orientation_all.png", 0});
    cases.push_back({read / "jxl" / ("orientation" + n + ".jxl"), read / "jxl" / ("orientation" + n + ".png"), 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string());
    if (!fs::exists(c.file)) continue;
    pv::test::LeadWithImage ours, ref;
    ours.SetAutoOrient(true);
    ASSERT_EQ(ours.LoadImage(c.file.string(), 0, 0, 1), 0);
    ASSERT_EQ(ref.LoadImage(c.reference.string(), 0, 0, 1), 0);
    cv::Mat a = ours.pixels(), b = ref.pixels();
    ASSERT_EQ(a.size(), b.size());
    // References are saved with whatever channels their writer chose.
    if (a.channels() != b.channels()) {
      const int want = std::max(a.channels(), b.channels());
      auto widen = [want](cv::Mat m) {
        if (m.channels() == want) return m;
        cv::Mat out;
        cv::cvtColor(m, out, m.channels() == 1 ? (want == 4 ? cv::COLOR_GRAY2BGRA : cv::COLOR_GRAY2BGR)
                                               : cv::COLOR_BGR2BGRA);
        return out;
      };
      a = widen(a), b = widen(b);
    }
    if (c.minPsnr == 0)
      EXPECT_LE(cv::norm(a, b, cv::NORM_INF), 1);
    else
      EXPECT_GT(cv::PSNR(a, b), c.minPsnr);
  }
}

// JPEG XL may hold its Exif and XMP boxes compressed (brob): they are read
// all the same.
TEST(PhotoFormats, CompressedJpegXlMetadataBoxesAreRead) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path jxl = corpus / "kimageformats" / "autotests" / "read" / "jxl";
  if (!fs::exists(jxl / "compressed_exif.jxl")) GTEST_SKIP() << "no compressed JPEG XL boxes in the corpus";
  pv::test::LeadWithImage exif, xmp;
  ASSERT_EQ(exif.LoadImage((jxl / "compressed_exif.jxl").string(), 0, 0, 1), 0);
  ASSERT_EQ(xmp.LoadImage((jxl / "compressed_xmp.jxl").string(), 0, 0, 1), 0);
  EXPECT_FALSE(pv::engine::metadataBlocks(exif.image(), true).exif.empty());
  EXPECT_FALSE(pv::engine::metadataBlocks(xmp.image(), true).xmp.empty());
}

TEST(PhotoFormats, PeersReadOurFiles) {
  pv::test::TempDir dir;
  const cv::Mat source = photoLike(80, 56, 3);
  struct Peer {
    const char* tool;
    short code;
    const char* ext;
    std::vector<std::string> args;  // the file and the PNG it writes are appended
  };
  const Peer peers[] = {{"dwebp", fmt::kWebp, "webp", {}},
                        {"avifdec", fmt::kAvif, "avif", {}},
                        {"heif-convert", fmt::kHeic, "heic", {}},
                        {"djxl", fmt::kJxl, "jxl", {}},
                        {"vips", fmt::kAvif, "avif", {"copy"}},
                        {"vips", fmt::kWebp, "webp", {"copy"}}};
  int ran = 0;
  for (const Peer& p : peers) {
    SCOPED_TRACE(std::string(p.tool) + " " + p.ext);
    if (!installed(p.tool)) continue;
    pv::test::LeadWithImage lead;
    lead.set(source, 24);
    const std::string file = dir.file(std::string("ours.") + p.ext), png = dir.file("peer.png");
    ASSERT_EQ(lead.SaveImage(file, p.code, 24, 90, 0), 0);
    std::vector<std::string> args = p.args;
    args.push_back(file);
    if (std::string(p.tool) == "dwebp") args.push_back("-o");
    args.push_back(png);
    const auto r = pv::test::runProcess(std::string("/usr/bin/") + p.tool, args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    pv::test::LeadWithImage peer, ours;
    ASSERT_EQ(peer.LoadImage(png, 0, 0, 1), 0);
    ASSERT_EQ(ours.LoadImage(file, 0, 0, 1), 0);
    cv::Mat theirs = peer.pixels();
    if (theirs.channels() == 4) cv::cvtColor(theirs, theirs, cv::COLOR_BGRA2BGR);
    EXPECT_GT(cv::PSNR(theirs, ours.pixels()), 40);  // the same picture, up to rounding
    ++ran;
    fs::remove(png);
  }
  if (ran == 0) GTEST_SKIP() << "no peer decoder installed";
}

TEST(PhotoFormats, DamagedFilesGiveAStatusAndNoPicture) {
  pv::test::TempDir dir;
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.name);
    pv::test::LeadWithImage lead;
    lead.set(photoLike(64, 48, 3), 24);
    const std::string bytes = pv::test::readFile(save(lead, dir, m, 24));
    ASSERT_GT(bytes.size(), 64u);
    for (double keep : {0.1, 0.5, 0.9}) {
      const std::string cut = dir.file(std::string("cut.") + m.ext);
      pv::test::writeFile(cut, bytes.substr(0, static_cast<std::size_t>(bytes.size() * keep)));
      pv::test::LeadWithImage back;
      EXPECT_NE(back.LoadImage(cut, 0, 0, 1), 0) << keep;
    }
    // Scrambled data after the header: any status, but no crash.
    std::string scrambled = bytes;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size(); i += 7) scrambled[i] = static_cast<char>(~scrambled[i]);
    const std::string bad = dir.file(std::string("bad.") + m.ext);
    pv::test::writeFile(bad, scrambled);
    pv::test::LeadWithImage back;
    static_cast<void>(back.LoadImage(bad, 0, 0, 1));
    static_cast<void>(back.ReadFileInfo(bad, -1, 1));
  }
}
