// The command line end to end: the real executable on real files in a
// temporary data folder, checked by its outputs, log, messages and exit code.
// exiv2 0.27 hands out std::auto_ptr, which C++ has deprecated.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/command_line.h"
#include "engine/lead.h"
#include "tests/engine/lead_holder.h"
#include "core/handoff.h"
#include "core/file_format.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::test::runProcess;

namespace {

void writeImage(const std::string& path, short code, int w = 40, int h = 30, int channels = 3) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(w, h, channels, 7), channels * 8);
  ASSERT_EQ(lead.SaveImage(path, code, static_cast<short>(channels * 8), 0, 0), 0) << path;
}

struct Facts {
  int status = -1, format = 0, bits = 0, pages = 0, width = 0;
};
Facts factsOf(const std::string& path) {
  pv::engine::CLead lead;
  Facts f;
  f.status = lead.ReadFileInfo(path, -1, 1);
  f.format = lead.GetInfoFormat();
  f.bits = lead.GetInfoBits();
  f.pages = lead.GetInfoPageCount();
  f.width = lead.GetInfoValue44();
  return f;
}

struct Cli : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  pv::test::ProcessResult run(std::vector<std::string> args) { return runProcess(PV_EXECUTABLE, args); }
};

}  // namespace

TEST(SwitchTokens, LinuxArgumentsBecomeTokens) {
  using pv::app::splitSwitchTokens;
  EXPECT_EQ(splitSwitchTokens({"/convert", "PNG", "/usesf", "/file", "/home/me/a.jpg"}),
            (std::vector<std::string>{"convert PNG", "usesf", "file /home/me/a.jpg"}));
  EXPECT_EQ(splitSwitchTokens(
                {"--CONVERT", "TIF", "3", "24", "--file", "/a b.jpg", "/c.jpg", "--filter", "resize", "4"}),
            (std::vector<std::string>{"CONVERT TIF 3 24", "file /a b.jpg|/c.jpg", "filter resize 4"}));
  // Text before the first switch and unknown switches start nothing.
  EXPECT_EQ(splitSwitchTokens({"stray", "/nosuch", "/shelloptions"}),
            (std::vector<std::string>{"shelloptions"}));
  EXPECT_EQ(splitSwitchTokens({"--output", "/srv/out", "--usesf"}),
            (std::vector<std::string>{"output /srv/out", "usesf"}));
}

TEST(SwitchTokens, AnUnknownSwitchIsNamedAndItsArgumentsGoNowhere) {
  struct Case {
    std::vector<std::string> args, tokens, unknown;
  };
  const Case cases[] = {
      {{"--convert", "JPG", "--qualty", "80", "--usesf"}, {"convert JPG", "usesf"}, {"--qualty"}},
      // Without the warning, "--colour" and "srgb" became part of the suffix.
      {{"--fna", "_web", "--colour", "srgb", "--usesf"}, {"fna _web", "usesf"}, {"--colour"}},
      {{"--nosuch", "--other", "x", "--usesf"}, {"usesf"}, {"--nosuch", "--other"}},
      // Paths and single dashes stay arguments; a "/name" may be a path.
      {{"--file", "/tmp", "-x", "/nosuch"}, {"file /tmp|-x|/nosuch"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[2]);
    std::vector<std::string> unknown;
    EXPECT_EQ(pv::app::splitSwitchTokens(c.args, &unknown), c.tokens);
    EXPECT_EQ(unknown, c.unknown);
  }
  EXPECT_EQ(pv::app::unknownSwitchText("--qualty"), "unknown switch --qualty ignored");
}

TEST_F(Cli, AMistypedSwitchIsNamedOnStderrAndTheRunGoesOn) {
  writeImage(dir.file("a.png"), pv::fmt::kPng);
  auto r = run({"--convert", "JPG", "--qualty", "80", "--usesf", "--file", dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("unknown switch --qualty ignored\n"), std::string::npos) << r.err;
  EXPECT_EQ(factsOf(dir.file("a.jpg")).status, 0);
}

// Names from the picture: a photo's EXIF date and camera, listed with it;
// a text with an unknown token is refused with the list of tokens.
TEST_F(Cli, OutputNamesTakeTokensFromThePhoto) {
  writeImage(dir.file("photo.jpg"), pv::fmt::kJpeg, 40, 30);
  {
    Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(dir.file("photo.jpg"));
    file->readMetadata();
    file->exifData()["Exif.Photo.DateTimeOriginal"] = "2023:12:31 23:59:58";
    file->exifData()["Exif.Image.Model"] = "Pocket/Cam";
    file->writeMetadata();
  }
  const auto out = dir.file("named");
  auto r = run({"--convert", "PNG", "--output", out, "--fni", "{date}_{time}_", "--fna", "_{camera}_{width}",
                "--file", dir.file("photo.jpg")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(out + "/2023-12-31_23-59-58_photo_Pocket_Cam_40.png"));
  r = run({"--convert", "PNG", "--output", out, "--fni", "{dat}_", "--file", dir.file("photo.jpg")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Unknown name token {dat}: the tokens are {date}, {time}"), std::string::npos) << r.err;
}

// Tokens on real photos: taken dates and camera models from their EXIF
// (the date the file was last written where the EXIF has no date, no camera
// where it names none), their sizes and folder.
TEST_F(Cli, RealPhotosAreNamedFromTheirExif) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path images = corpus / "pillow" / "Tests" / "images";
  const auto fileDate = [](const fs::path& p) {
    struct stat st {};
    if (stat(p.c_str(), &st) != 0) return std::string();
    std::tm tm{};
    localtime_r(&st.st_mtime, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d_%H-%M-%S", &tm);
    return std::string(text);
  };
  struct Case {
    const char* source;
    std::string name;  // after the date and time
  } cases[] = {
      {"flower.jpg", "2003-12-14_12-01-44_flower_Canon PowerShot S40_480x360_images.png"},
      {"empty_gps_ifd.jpg", "2020-07-27_14-46-48_empty_gps_ifd_Redmi Note 9S_10x10_images.png"},
      {"exif-72dpi-int.jpg", "2012-08-18_15-32-58_exif-72dpi-int__500x450_images.png"},  // DateTime, no model
      {"hopper.jpg", fileDate(images / "hopper.jpg") + "_hopper__128x128_images.png"},    // no EXIF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    if (!fs::exists(images / c.source)) GTEST_SKIP() << "the corpus lacks " << c.source;
    const std::string out = dir.file("named-real");
    auto r = run({"--convert", "PNG", "--output", out, "--fni", "{date}_{time}_", "--fna",
                  "_{camera}_{width}x{height}_{folder}", "--file", (images / c.source).string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(fs::exists(out + "/" + c.name)) << c.name;
  }
}

TEST_F(Cli, ConvertsOneFileBesideItsSourceWithTheLogWritten) {
  writeImage(dir.file("a.png"), pv::fmt::kPng);
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << dir.file("run.log") << "\n";
  auto r = run({"/convert", "JPG", "/usesf", "/file", dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const Facts f = factsOf(dir.file("a.jpg"));
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.width, 40);
  EXPECT_EQ(f.bits, 24);
  const std::string log = pv::test::readFile(dir.file("run.log"));
  EXPECT_NE(log.find(dir.file("a.png") + " was successfully converted.\n"), std::string::npos) << log;
  EXPECT_TRUE(log.starts_with("--- Conversion Start "));
  // A command-line job never writes config.ini.
  EXPECT_EQ(pv::test::readFile(data.file("config.ini")),
            "[Global]\nDoLog=1\nLogFile=" + dir.file("run.log") + "\n");
}

TEST_F(Cli, OptionWordsFiltersAndNamingSwitches) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 80, 60);
  fs::create_directory(dir.file("out"));
  auto r = run({"--convert",
                "TIF",
                "9",
                "8",
                "--output",
                dir.file("out"),
                "--usesf",
                "--output",
                dir.file("out"),
                "--fni",
                "pre-",
                "--fna",
                "-post",
                "--fnn",
                "_copy",
                "--filter",
                "resize",
                "4",
                "0",
                "20",
                "15",
                "0",
                "0",
                "--file",
                dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const Facts f = factsOf(dir.file("out/pre-a-post.tif"));
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.width, 20);
  EXPECT_EQ(f.bits, 8);
  // Again: the name is taken, so the fnn pattern (with "-%n" appended) numbers it.
  r = run({"--convert", "TIF", "--output", dir.file("out"), "--fni", "pre-", "--fna", "-post", "--fnn",
           "_copy", "--file", dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("out/pre-a-post_copy-1.tif")));
  // usesf after output wins.
  r = run({"--convert", "BMP", "--output", dir.file("out"), "--usesf", "--file", dir.file("a.png")});
  EXPECT_TRUE(fs::exists(dir.file("a.bmp")));
}

TEST_F(Cli, WildcardsFoldersAndSubFolders) {
  fs::create_directories(dir.file("pics/sub"));
  writeImage(dir.file("pics/a.png"), pv::fmt::kPng);
  writeImage(dir.file("pics/b.bmp"), pv::fmt::kBmp);
  writeImage(dir.file("pics/sub/c.png"), pv::fmt::kPng);
  auto r = run({"/convert", "GIF", "/usesf", "/subfolder", "0", "/file", dir.file("pics/*.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("pics/a.gif")));
  EXPECT_FALSE(fs::exists(dir.file("pics/b.gif")));
  EXPECT_FALSE(fs::exists(dir.file("pics/sub/c.gif")));
  r = run({"/convert", "GIF", "/usesf", "/file", dir.file("pics/*.png")});  // sub-folders on by default
  EXPECT_TRUE(fs::exists(dir.file("pics/sub/c.gif")));
  r = run({"/convert", "PNG", "/usesf", "/file", dir.file("pics")});  // a folder: every image in it
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("pics/b.png")));
  // Relative paths are taken from the current folder.
  r = runProcess("/bin/sh", {"-c", "cd '" + dir.file("pics") +
                                       "' && exec '" PV_EXECUTABLE "' --convert TIF --usesf --file a.png"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("pics/a.tif")));
}

TEST_F(Cli, WithoutAConvertSwitchTheStartFormatIsUsed) {
  writeImage(dir.file("a.png"), pv::fmt::kPng);
  std::ofstream(data.file("config.ini")) << "[Global]\nDefaultFormatType=1\n";  // BMP
  auto r = run({"/usesf", "/file", dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(factsOf(dir.file("a.bmp")).format, 6);
}

TEST_F(Cli, TheShellHandOffUsesShellOptionsAndTheDefaultProfile) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 64, 48);
  writeImage(dir.file("b.png"), pv::fmt::kPng, 64, 48);
  fs::create_directories(data.file("Profiles"));
  std::ofstream(data.file("Profiles/small.pvp")) << "/filter resize 4 0 32 24 0 0\r\n/filter flip\r\n";
  std::ofstream(data.file("config.ini")) << "[Global]\nDefaultShellContextProfile=small\nAskWhereSave=1\n"
                                         << "[JPG Shell]\nQuality=50\n";
  std::ofstream(data.file("pictoravine.dat")) << dir.file("a.png") << "\r\n" << dir.file("b.png") << "\r\n";
  auto r = run({"/shell", "/convert", "JPG", "/list", data.file("pictoravine.dat")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(factsOf(dir.file("a.jpg")).width, 32);
  EXPECT_EQ(factsOf(dir.file("b.jpg")).width, 32);
  EXPECT_TRUE(fs::exists(data.file("pictoravine.dat")));  // a list of the user's own stays

  // The file manager's own list goes once it has been read.
  const auto handOff = pv::writeHandOffList({dir.file("a.png")});
  ASSERT_TRUE(handOff);
  r = run({"/shell", "/convert", "BMP", "/list", *handOff});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.file("a.bmp")));
  EXPECT_FALSE(fs::exists(*handOff));

  r = run({"/shell", "/shelloptions"});  // needs the window, and there is no display
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("needs a display"), std::string::npos);
}

TEST_F(Cli, PhotosComeOutUprightWithTheirMetadataUnlessToldOtherwise) {
  writeImage(dir.file("side.jpg"), pv::fmt::kJpeg, 40, 30);
  {
    Exiv2::Image::AutoPtr f = Exiv2::ImageFactory::open(dir.file("side.jpg"));
    f->readMetadata();
    f->exifData()["Exif.Image.Orientation"] = std::uint16_t(6);
    f->exifData()["Exif.Image.Model"] = "Phone";
    f->writeMetadata();
  }
  const struct {
    std::vector<std::string> switches;
    int width;
    std::string model, orientation;
  } cases[] = {
      {{}, 30, "Phone", "1"},
      {{"--strip"}, 30, "", ""},
      {{"--no-orient"}, 40, "Phone", "6"},
      {{"--no-orient", "--strip"}, 40, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.switches));
    std::vector<std::string> args = {"/convert", "PNG", "/usesf", "/file", dir.file("side.jpg")};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    fs::remove(dir.file("side.png"));
    auto r = run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(factsOf(dir.file("side.png")).width, c.width);
    Exiv2::Image::AutoPtr out = Exiv2::ImageFactory::open(dir.file("side.png"));
    out->readMetadata();
    const auto value = [&](const char* key) {
      const auto it = out->exifData().findKey(Exiv2::ExifKey(key));
      return it == out->exifData().end() ? std::string() : it->toString();
    };
    EXPECT_EQ(value("Exif.Image.Model"), c.model);
    EXPECT_EQ(value("Exif.Image.Orientation"), c.orientation);
  }
}

// --strip-gps on real photos with a location (and one with an empty GPS
// directory, one without): read back with exiv2, no GPS tag is left and
// every other EXIF tag the source had is there with its value, except those
// that describe the file rather than the photo (orientation, sizes, the
// layout of the old file's pixels, the thumbnail), which a save writes anew.
TEST_F(Cli, RealPhotosLoseTheirLocationAndKeepEveryOtherTag) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path images = corpus / "pillow" / "Tests" / "images";
  const auto tags = [](const std::string& path) {
    std::map<std::string, std::string> out;
    Exiv2::Image::AutoPtr f = Exiv2::ImageFactory::open(path);
    f->readMetadata();
    for (const Exiv2::Exifdatum& d : f->exifData())
      if (d.size() < 4096) out[d.key()] = d.toString();
    return out;
  };
  const auto rewritten = [](const std::string& key) {
    static const std::set<std::string> file{
        "Exif.Image.Orientation",     "Exif.Photo.PixelXDimension",         "Exif.Photo.PixelYDimension",
        "Exif.Image.ExifTag",         "Exif.Photo.InteroperabilityTag",     "Exif.Image.GPSTag",
        "Exif.Image.ImageWidth",      "Exif.Image.ImageLength",             "Exif.Image.BitsPerSample",
        "Exif.Image.Compression",     "Exif.Image.PhotometricInterpretation", "Exif.Image.SamplesPerPixel",
        "Exif.Image.YCbCrPositioning", "Exif.Image.JPEGInterchangeFormat",  "Exif.Image.JPEGInterchangeFormatLength",
        "Exif.Image.StripOffsets",    "Exif.Image.StripByteCounts",         "Exif.Image.RowsPerStrip"};
    return key.starts_with("Exif.Thumbnail.") || file.count(key) > 0;
  };
  int located = 0;  // sources with a latitude
  for (const char* name : {"exif_gps.jpg", "empty_gps_ifd.jpg", "exif-72dpi-int.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path source = images / name;
    if (!fs::exists(source)) GTEST_SKIP() << "the corpus lacks " << name;
    const std::string out = dir.file("gps");
    auto r = run({"--convert", "JPG", "--output", out, "--strip-gps", "--file", source.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto before = tags(source.string()), after = tags(out + "/" + name);
    int kept = 0;
    for (const auto& [key, value] : before) {
      located += key.starts_with("Exif.GPSInfo.GPSLatitude");
      if (key.starts_with("Exif.GPSInfo.")) continue;
      if (rewritten(key)) continue;
      const auto at = after.find(key);
      EXPECT_TRUE(at != after.end() && at->second == value) << key << " = " << value;
      ++kept;
    }
    for (const auto& [key, value] : after) EXPECT_FALSE(key.starts_with("Exif.GPSInfo.")) << key;
    EXPECT_EQ(after.count("Exif.Image.GPSTag"), 0u);
    EXPECT_GT(kept, 3) << "a camera photo has more than a few tags";
  }
  EXPECT_GT(located, 0) << "no photo had a location to lose";
}

// Phone photos arrive as HEIC, stored as the sensor saw them and turned by
// the container: a folder of them becomes upright JPEGs with their EXIF.
TEST_F(Cli, AFolderOfHeicPhotosBecomesUprightJpegsWithTheirMetadata) {
  PV_REQUIRE_CORPUS(corpus);
  const fs::path heic = corpus / "kimageformats" / "autotests" / "read" / "heic";
  if (!fs::is_directory(heic)) GTEST_SKIP() << "no HEIC files in the corpus";
  fs::create_directory(dir.file("phone"));
  for (int o = 1; o <= 8; ++o) {
    const std::string name = "orientation" + std::to_string(o) + ".heic";
    fs::copy_file(heic / name, dir.file("phone/" + name));
  }
  auto r = run({"/convert", "JPG", "/output", dir.file("out"), "/file", dir.file("phone")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE(o);
    const std::string out = dir.file("out/orientation" + std::to_string(o) + ".jpg");
    pv::test::LeadWithImage lead;
    ASSERT_EQ(lead.LoadImage(out, 0, 0, 1), 0);
    ASSERT_EQ(lead.pixels().size(), cv::Size(480, 160));  // every one upright
    Exiv2::Image::AutoPtr file = Exiv2::ImageFactory::open(out);
    file->readMetadata();
    const auto it = file->exifData().findKey(Exiv2::ExifKey("Exif.Image.Software"));
    ASSERT_NE(it, file->exifData().end());
    EXPECT_EQ(it->toString(), "LIFE Pro 2.20.35 (Linux)");
    const auto orientation = file->exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (orientation != file->exifData().end()) {
      EXPECT_EQ(orientation->toString(), "1");
    }
  }
}

// JPEG photos published as WebP, AVIF and JPEG XL, each file written whole.
TEST_F(Cli, JpegPhotosBecomeWebpAvifAndJpegXl) {
  writeImage(dir.file("a.jpg"), pv::fmt::kJpeg, 64, 48);
  writeImage(dir.file("b.jpg"), pv::fmt::kJpeg, 48, 64);
  const struct {
    const char* key;
    const char* ext;
    short code;
  } cases[] = {{"WEBP", "webp", pv::fmt::kWebp}, {"AVIF", "avif", pv::fmt::kAvif}, {"JXL", "jxl", pv::fmt::kJxl}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    auto r = run({"/convert", c.key, "/output", dir.file(c.ext), "/file", dir.file("a.jpg"), dir.file("b.jpg")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* stem : {"a", "b"}) {
      const Facts f = factsOf(dir.file(std::string(c.ext) + "/" + stem + "." + c.ext));
      EXPECT_EQ(f.status, 0);
      EXPECT_EQ(f.format, c.code);
      EXPECT_EQ(f.width, std::string(stem) == "a" ? 64 : 48);
    }
  }
}

TEST_F(Cli, TransparentSourcesStayTransparentInPngAndTiff) {
  // An icon with clear corners, and a GIF whose first colour is transparent.
  cv::Mat icon(32, 32, CV_8UC4, cv::Scalar(40, 90, 200, 255));
  icon(cv::Rect(0, 0, 8, 8)).setTo(cv::Scalar(0, 0, 0, 0));
  pv::test::LeadWithImage lead;
  lead.set(icon, 32);
  ASSERT_EQ(lead.SaveImage(dir.file("app.ico"), pv::fmt::kIcon, 32, 0, 0), 0);
  ASSERT_EQ(lead.SaveImage(dir.file("alpha.bmp"), pv::fmt::kBmp, 32, 0, 0), 0);
  lead.set(pv::test::noiseImage(16, 16, 3, 3), 8);
  ASSERT_EQ(lead.SaveImage(dir.file("anim.gif"), pv::fmt::kGif, 4, 0, 0), 0);
  ASSERT_EQ(lead.LoadImage(dir.file("anim.gif"), 0, 0, 1), 0);
  const std::uint32_t first = [&] {
    const cv::Vec3b c = lead.pixels().at<cv::Vec3b>(0, 0);
    return static_cast<std::uint32_t>(c[2] | c[1] << 8 | c[0] << 16);
  }();
  lead.SetTransparentColor(static_cast<int>(first));
  lead.SetUseTransparentColor(true);
  ASSERT_EQ(lead.SaveImage(dir.file("anim.gif"), pv::fmt::kGif, 4, 0, 0), 0);
  const struct {
    const char* source;
    const char* format;
    const char* output;
    int bits;
  } cases[] = {{"app.ico", "PNG", "app.png", 32},   {"alpha.bmp", "PNG", "alpha.png", 32},
               {"anim.gif", "PNG", "anim.png", 4},  {"anim.gif", "TIF", "anim.tif", 32},
               {"app.ico", "TIF", "app.tif", 32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    auto r = run({"/convert", c.format, "/usesf", "/file", dir.file(c.source)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(factsOf(dir.file(c.output)).bits, c.bits);  // alpha, or the palette with its transparent entry
  }
  pv::test::LeadWithImage png;
  ASSERT_EQ(png.LoadImage(dir.file("app.png"), 0, 0, 1), 0);
  EXPECT_EQ(png.pixels().at<cv::Vec4b>(2, 2)[3], 0);
  EXPECT_EQ(png.pixels().at<cv::Vec4b>(20, 20)[3], 255);
  ASSERT_EQ(png.LoadImage(dir.file("alpha.png"), 0, 0, 1), 0);
  EXPECT_EQ(png.pixels().at<cv::Vec4b>(2, 2)[3], 0);
  ASSERT_EQ(png.LoadImage(dir.file("anim.png"), 32, 0, 1), 0);
  EXPECT_EQ(png.pixels().at<cv::Vec4b>(0, 0)[3], 0);
  ASSERT_EQ(png.LoadImage(dir.file("anim.tif"), 0, 0, 1), 0);
  EXPECT_EQ(png.pixels().at<cv::Vec4b>(0, 0)[3], 0);
}

TEST_F(Cli, MultiPageToSinglePages) {
  pv::test::LeadWithImage lead;
  for (int p = 0; p < 3; ++p) {
    lead.set(pv::test::noiseImage(10 + p, 10, 3, static_cast<std::uint32_t>(p)), 24);
    ASSERT_EQ(lead.SaveImage(dir.file("scan.tif"), pv::fmt::kTiff, 24, 0, p ? 1 : 0), 0);
  }
  auto r = run({"--convert", "PNG", "--usesf", "--mpo", "1", "--fnmp", "_p", "--file", dir.file("scan.tif")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (int p = 1; p <= 3; ++p)
    EXPECT_EQ(factsOf(dir.file("scan_p-#" + std::to_string(p) + ".png")).width, 9 + p);
}

TEST_F(Cli, BadCommandLinesGiveTheirMessageAndANonZeroCode) {
  writeImage(dir.file("a.png"), pv::fmt::kPng);
  const std::string caption = "Pictoravine Image Converter: ";
  // An output switch without a folder is no output place (never the root folder).
  auto r = run({"/convert", "PNG", "/file", dir.file("a.png"), "/output"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, caption + pv::app::kNoOutputPlaceText + "\n");
  EXPECT_FALSE(fs::exists("/a.png"));
  r = run({"/convert", "PNG", "/usesf"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, caption + pv::app::kNoImagesText + "\n");
  r = run({"/convert", "PNG", "/usesf", "/silent"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "");  // silent: no message at all
  r = run({"/convert", "PNG", "/usesf", "/list", dir.file("missing.pvl")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("Could not load the file."), std::string::npos);
  r = run({"/convert", "PNG", "/usesf", "/list", dir.file("missing.pvl"), "/file", dir.file("a.png")});
  EXPECT_EQ(r.exitCode, 1);  // converted, but a list could not be read
  fs::create_directory(dir.file("empty"));
  r = run({"/convert", "PNG", "/usesf", "/file", dir.file("empty")});
  EXPECT_EQ(r.exitCode, 2);
  r = run({"/nosuchswitch", "/convert", "NOPE", "/usesf", "/file",
           dir.file("a.png")});  // unknown key: start format
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::ofstream(dir.file("broken.png")) << "\x89PNG\r\n\x1a\nbroken";
  r = run({"/convert", "PNG", "/usesf", "/file", dir.file("broken.png")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "The following images could not be opened:\n\nERROR 5003 - Does not seem to be a valid image file - " +
                       dir.file("broken.png") + "\n");
  std::string png = pv::test::readFile(dir.file("a.png"));
  std::ofstream(dir.file("cut.png"), std::ios::binary) << png.substr(0, png.size() - 40);
  r = run({"/convert", "PNG", "/usesf", "/file", dir.file("cut.png")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.err.starts_with("The following images could not be opened:\n\nERROR ")) << r.err;
  r = run({"/help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Pictoravine Commandline Help"), std::string::npos);
  EXPECT_NE(r.out.find("/fnmp <pattern>"), std::string::npos);
}

TEST_F(Cli, CtrlCStopsAfterTheCurrentImageAndStillWritesTheLog) {
  for (int i = 0; i < 30; ++i) writeImage(dir.file("p" + std::to_string(i) + ".png"), 75, 800, 600);
  const std::string logPath = dir.file("run.log");
  std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << logPath << "\n";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(PV_EXECUTABLE, PV_EXECUTABLE, "--convert", "PNG", "--usesf", "--filter", "median", "9", "--file",
          (dir.str() + "/*.png").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Interrupt once the first output exists (a sanitizer build may take long
  // to get there).
  for (int i = 0; i < 60000 && !fs::exists(dir.file("p0-1.png")); ++i) usleep(2000);
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  int outputs = 0;
  for (const auto& e : fs::directory_iterator(dir.path()))
    outputs += e.path().filename().string().find("-1.png") != std::string::npos;
  EXPECT_GE(outputs, 1);
  EXPECT_LT(outputs, 30);
  const std::string log = pv::test::readFile(logPath);
  EXPECT_NE(log.find("\n--- Conversion End "), std::string::npos) << log;
  // No partial output: every output written decodes.
  for (const auto& e : fs::directory_iterator(dir.path()))
    if (e.path().filename().string().find("-1.png") != std::string::npos) {
      pv::engine::CLead lead;
      EXPECT_EQ(lead.LoadImage(e.path().string(), 0, 0, 1), 0) << e.path();
    }
}

namespace {

struct FakeClipboard : pv::app::Clipboard {
  cv::Mat image;
  Paste answer = Paste::kImage;  // what a paste finds when there is no image
  bool putImage(const pv::engine::Image&) override { return true; }
  Paste getImage(pv::engine::Image& out) override {
    if (image.empty()) return answer == Paste::kImage ? Paste::kNoImage : answer;
    out.pixels = image.clone();
    out.bits = 24;
    return Paste::kImage;
  }
};

struct QuietPrompter : pv::app::Prompter {
  std::vector<std::string> shown;
  void error(const std::string&, const std::string& t) override { shown.push_back(t); }
  void information(const std::string&, const std::string& t) override { shown.push_back(t); }
  bool askYesNo(const std::string&, const std::string&) override { return false; }
};

}  // namespace

TEST(CommandLineParse, ClipboardPasteBecomesAListedPngOrAClearError) {
  pv::test::DataDirGuard data;
  QuietPrompter prompter;
  {
    pv::app::Session s(pv::app::loadSettings(), prompter);
    FakeClipboard clip;
    clip.image = pv::test::noiseImage(33, 21, 3, 4);
    s.setClipboard(&clip);
    const auto out =
        pv::app::parseCommandLine(s, pv::app::splitSwitchTokens({"/convert", "JPG", "/usesf", "/cbpaste"}));
    EXPECT_TRUE(out.proceed);
    ASSERT_EQ(s.list.size(), 1u) << s.texts.errorSummary;
    EXPECT_EQ(s.list[0].folder, data.str() + "/");
    EXPECT_TRUE(s.list[0].fileName.starts_with("clipboard-"));
    EXPECT_EQ(s.list[0].width, 33u);
  }
  using Paste = pv::app::Clipboard::Paste;
  struct Case {
    const char* name;
    bool clipboard;  // false: no display, so the session has no clipboard
    Paste answer;
    const char* line;
  };
  const Case cases[] = {
      {"no display", false, Paste::kImage, "ERROR 20016 - Feature not supported - the clipboard (no display)"},
      {"no image", true, Paste::kNoImage, "the clipboard (no image on it)"},
      {"text only", true, Paste::kImage, "the clipboard (no image on it)"},
      {"display unreachable", true, Paste::kDisplayUnreachable,
       "ERROR 20016 - Feature not supported - the clipboard (the display cannot be opened)"},
      {"wayland without its tools", true, Paste::kNoTool,
       "the clipboard (Wayland needs wl-paste, from wl-clipboard)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pv::app::Session s(pv::app::loadSettings(), prompter);
    FakeClipboard clip;
    clip.answer = c.answer;
    if (c.clipboard) s.setClipboard(&clip);
    const auto out =
        pv::app::parseCommandLine(s, pv::app::splitSwitchTokens({"/convert", "JPG", "/usesf", "/cbpaste"}));
    EXPECT_TRUE(out.proceed);
    EXPECT_TRUE(s.list.empty());
    EXPECT_TRUE(s.texts.errorSummary.starts_with("The following images could not be opened:\r\n\r\n"))
        << s.texts.errorSummary;
    EXPECT_NE(s.texts.errorSummary.find(std::string(c.line) + "\r\n"), std::string::npos)
        << s.texts.errorSummary;
  }
}

// Switches whose names begin with another switch's name set only their own
// setting where the shorter one would undo it.
TEST(CommandLineParse, TheNewPhotoAndFileSwitchesSetOnlyTheirOwnSettings) {
  pv::test::DataDirGuard data;
  QuietPrompter prompter;
  using S = pv::app::Settings;
  struct Case {
    const char* token;
    std::function<bool(const S&)> expected;
  } cases[] = {
      {"strip", [](const S& s) { return !s.KeepMetadata && !s.StripLocation; }},
      {"strip-gps", [](const S& s) { return s.KeepMetadata && s.StripLocation; }},
      {"no-keep-dates", [](const S& s) { return !s.KeepDates && s.AutoOrient; }},
      {"no-orient", [](const S& s) { return s.KeepDates && !s.AutoOrient; }},
      {"keep-folders", [](const S& s) { return s.KeepFolders && !s.OnlySmaller; }},
      {"only-smaller", [](const S& s) { return s.OnlySmaller && !s.KeepFolders; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    pv::app::Session s(pv::app::loadSettings(), prompter);
    pv::app::parseCommandLine(s, pv::app::splitSwitchTokens({"--convert", "PNG", "--usesf", std::string("--") + c.token}));
    EXPECT_TRUE(c.expected(s.settings));
  }
}

TEST(CommandLineParse, SizesForMaxSizeAreKilobytesOfAThousandBytes) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> kb;
  } cases[] = {
      {"300K", 300},   {"300k", 300},  {"300KB", 300},      {" 300 kb ", 300}, {"300", 300},
      {"2M", 2000},    {"1.5MB", 1500}, {"0.5k", std::nullopt}, {"0", std::nullopt}, {"0K", std::nullopt},
      {"abc", std::nullopt}, {"", std::nullopt}, {"K", std::nullopt}, {"12GB", 12000000},
      {"1.2.3K", std::nullopt}, {"-5K", std::nullopt}, {"5000000M", std::nullopt}, {".5M", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pv::app::parseSizeKb(c.text), c.kb);
  }
  // --memory: megabytes without a unit, at least one.
  struct Memory {
    const char* text;
    std::optional<int> mb;
  } memory[] = {{"2G", 2000}, {"2GB", 2000}, {"500M", 500}, {"500", 500}, {"1.5g", 1500},
                {"900K", std::nullopt}, {"0", std::nullopt}, {"lots", std::nullopt}, {"3000000G", std::nullopt}};
  for (const Memory& c : memory) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(pv::app::parseMemoryMb(c.text), c.mb);
  }
}

// --max-size reaches the run's format (after /convert, whichever comes
// first, and over the format's own setting); a size that is no size, a
// format without a size target and a lossless method are refused, with
// what would work.
TEST(CommandLineParse, MaxSizeSetsTheFormatsLimitOrIsRefusedClearly) {
  pv::test::DataDirGuard data;
  std::ofstream(data.file("config.ini")) << "[WEBP]\nMaxFileSize=900\n";
  struct Case {
    std::vector<std::string> args;
    bool proceed;
    std::uint64_t bytes;  // the limit the run's saves take
    std::string message;
  } cases[] = {
      {{"--max-size", "300K", "--convert", "JPG"}, true, 300000, ""},
      {{"--convert", "WEBP", "--max-size", "2M"}, true, 2000000, ""},
      {{"--convert", "WEBP"}, true, 900000, ""},
      {{"--convert", "AVIF", "--max-size", "0"}, false, 0,
       "Commandline Error: --max-size needs a size such as 300K or 2M, not \"0\"."},
      {{"--convert", "AVIF", "--max-size", "big"}, false, 0,
       "Commandline Error: --max-size needs a size such as 300K or 2M, not \"big\"."},
      {{"--convert", "PNG", "--max-size", "300K"}, false, 0,
       "Commandline Error: --max-size works with JPG, WEBP, AVIF, HEIC, JXL, not with PNG."},
      {{"--convert", "JXL", "1", "--max-size", "300K"}, false, 0,
       "Commandline Error: --max-size needs a lossy method; JXL method 1 keeps every pixel."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args.back());
    QuietPrompter prompter;
    pv::app::Session s(pv::app::loadSettings(), prompter);
    std::vector<std::string> args = c.args;
    args.push_back("--usesf");
    args.push_back("--cbpaste");
    const auto out = pv::app::parseCommandLine(s, pv::app::splitSwitchTokens(args));
    EXPECT_EQ(out.proceed, c.proceed);
    if (c.proceed) {
      EXPECT_EQ(s.format->sizeLimit().bytes, c.bytes);
    } else {
      EXPECT_EQ(prompter.shown.back(), c.message);
    }
  }
}

TEST(CommandLineParse, SwitchesSetTheirSettings) {
  pv::test::DataDirGuard data;
  QuietPrompter prompter;
  pv::app::Session s(pv::app::loadSettings(), prompter);
  const auto out = pv::app::parseCommandLine(
      s, pv::app::splitSwitchTokens({"/shelloptions", "/subfolder", "0",        "/delete", "/mpo", "2",
                                     "/fnn",          "_copy",      "/fnmp",    "p%nx",    "/fna", "after   ",
                                     "/output",       "/srv/out",   "/convert", "TIF",     "3",    "48",
                                     "/silent",       "/?"}));
  EXPECT_TRUE(out.proceed);  // shell options: the checks do not apply
  EXPECT_TRUE(out.helpShown);
  const auto& set = s.settings;
  EXPECT_TRUE(set.shellFlag && set.shellOptionsFlag);
  EXPECT_FALSE(set.ScanSubDir);
  EXPECT_TRUE(set.DeleteSourceAfterConvert);
  EXPECT_EQ(set.MultiPageOption, 2);
  EXPECT_EQ(set.FileNameNumber, "_copy-%n");
  EXPECT_EQ(set.FileNameMultiPage, "p%nx");
  EXPECT_EQ(set.FileNameAfter, "after");
  EXPECT_EQ(set.OutPutDir, "/srv/out/");
  EXPECT_FALSE(set.UseSourcePathForOutput);
  EXPECT_FALSE(set.ShowMessages);
  EXPECT_EQ(s.format->key, "TIF");
  EXPECT_EQ(s.format->method, 3u);
  EXPECT_EQ(s.format->colorDepth, "org");  // 48 is beyond 32
  EXPECT_EQ(prompter.shown, std::vector<std::string>{pv::app::kHelpText});
}

// Each row's example is a command line that starts a token of that switch,
// and the usage text names every row.
TEST(SwitchTable, ExamplesSplitIntoTheirOwnSwitchAndTheUsageListsEveryRow) {
  const std::string usage = pv::app::usageText();
  for (const pv::app::SwitchSpec& row : pv::app::switchTable()) {
    SCOPED_TRACE(std::string(row.name));
    const std::string shown = std::string(row.handler ? "  /" : "  --") + std::string(row.name);
    EXPECT_NE(usage.find(shown), std::string::npos);
    if (row.example.empty()) continue;
    std::vector<std::string> words;
    std::string word;
    for (char c : std::string(row.example) + " ") {
      if (c != ' ')
        word += c;
      else if (!word.empty())
        words.push_back(word), word.clear();
    }
    const std::vector<std::string> tokens = pv::app::splitSwitchTokens(words);
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].substr(0, row.name.size()), row.name);
  }
}

// The manual's switch list is the usage text of this build.
TEST(SwitchTable, TheManualsSwitchListMatchesTheUsageText) {
  const std::string doc = pv::test::readFile(std::string(PV_SOURCE_DIR) + "/docs/command-line.md");
  const std::size_t start = doc.find("```\n"), end = doc.rfind("```");
  ASSERT_NE(start, std::string::npos);
  ASSERT_GT(end, start);
  EXPECT_EQ(doc.substr(start + 4, end - start - 4), pv::app::usageText())
      << "docs/command-line.md is out of date: run scripts/update-docs";
}
