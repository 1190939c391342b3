#include "core/file_format.h"
#include "core/ini.h"
#include "formats/format.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "core/format_registry.h"
#include "engine/lead.h"
#include "tests/support/support.h"

using pv::formats::createFormat;
using pv::formats::createFormatByIndex;
using pv::formats::Format;

namespace {

class FormatTest : public ::testing::Test {
 protected:
  pv::test::TempDir dir;
  std::string config = dir.file("config.ini");
  void write(const std::string& text) { std::ofstream(config, std::ios::binary) << text; }
  std::unique_ptr<Format> make(const char* key) {
    auto f = createFormat(key, config);
    EXPECT_TRUE(f) << key;
    return f;
  }
};

// Records the engine calls a format makes; the image size is set by the test.
class RecordingLead : public pv::engine::CLead {
 public:
  float width = 0, height = 0;
  std::vector<std::string> calls;
  float GetImageWidth() override { return width; }
  float GetImageHeight() override { return height; }
  void SetSaveInterlaced(bool on) override {
    calls.push_back(std::string("SetSaveInterlaced ") + (on ? "1" : "0"));
  }
  void SetPhotoshopSaveFlag(bool on) override {
    calls.push_back(std::string("SetPhotoshopSaveFlag ") + (on ? "1" : "0"));
  }
  short ResizeImage(float w, float h, short flags) override {
    calls.push_back("ResizeImage " + std::to_string(int(w)) + " " + std::to_string(int(h)) + " " +
                    std::to_string(flags));
    return 0;
  }
};

std::vector<int> allowed(Format& f, std::uint32_t method) {
  f.setAllowedDepths(method);
  std::vector<int> out;
  for (std::size_t i = 0; i < 12; ++i)
    if (f.allowedDepths[i]) out.push_back(f.depthList[i]);
  return out;
}

}  // namespace

TEST_F(FormatTest, EveryRegistryEntryCreatesItsFormatWithTheRegistrysFacts) {
  for (int i = 0; i < pv::kFormatCount; ++i) {
    auto byIndex = createFormatByIndex(i, config);
    auto byKey = createFormat(pv::formatKey(i), config);
    ASSERT_TRUE(byIndex && byKey) << i;
    EXPECT_EQ(byKey->index, i);
    EXPECT_EQ(byIndex->key, pv::formatKey(i));
    EXPECT_EQ(byIndex->extension, pv::formatExtension(i));
    // The method count of the catalogue agrees with the registry's.
    EXPECT_EQ(byIndex->methodCount,
              static_cast<int>(pv::formatRegistry()[static_cast<std::size_t>(i)].methods.size()))
        << byIndex->key;
    EXPECT_EQ(byIndex->multiPage, pv::formatRegistry()[static_cast<std::size_t>(i)].multiPage);
    EXPECT_EQ(byIndex->fileFormatCode(static_cast<std::uint32_t>(byIndex->methodCount)), 0);
    EXPECT_EQ(byIndex->methodName(static_cast<std::uint32_t>(byIndex->methodCount)), "");
    if (byIndex->methodCount == 1) {
      EXPECT_EQ(byIndex->methodName(0), "");
    }
    EXPECT_FALSE(allowed(*byIndex, 0).empty()) << byIndex->key;
  }
  EXPECT_EQ(createFormatByIndex(pv::kFormatCount, config), nullptr);
  EXPECT_EQ(createFormatByIndex(-1, config), nullptr);
}

TEST_F(FormatTest, FactoryMatchesTheFirstFourLettersExactly) {
  for (const char* jpg : {"jpg", "JPG", "jPg", "jpg ", "JPG   "}) {
    auto f = createFormat(jpg, config);
    ASSERT_TRUE(f) << jpg;
    EXPECT_EQ(f->key, "JPG");
  }
  for (const char* none : {"jpeg", "jpgx", "tiff", " jpg", "", "jp", "xyz"})
    EXPECT_EQ(createFormat(none, config), nullptr) << none;
  EXPECT_EQ(createFormat("cmp2", config)->index, 12);
  EXPECT_EQ(createFormat("CMP", config)->index, 11);
  EXPECT_EQ(createFormat("tifx-anything", config)->index, 40);
  EXPECT_EQ(createFormat("iff2", config)->index, 22);
}

TEST_F(FormatTest, CatalogueValuesOfTheMultiMethodFormats) {
  auto jpg = make("JPG");
  EXPECT_EQ(jpg->methodName(0), "Lossless JPEG");
  EXPECT_EQ(jpg->fileFormatCode(0), pv::fmt::kJpeg);
  EXPECT_EQ(jpg->fileFormatCode(1), pv::fmt::kJpeg);
  EXPECT_EQ(jpg->fileFormatCode(3), pv::fmt::kJpeg411);
  EXPECT_EQ(jpg->fileFormatCode(5), pv::fmt::kJpegLab422);
  EXPECT_EQ(allowed(*jpg, 2), (std::vector<int>{8, 24}));
  EXPECT_TRUE(jpg->hasQuality && jpg->hasPasses);
  EXPECT_EQ(jpg->qualityStart, 2);
  EXPECT_EQ(jpg->qualityEnd, 255);
  auto tif = make("TIF");
  EXPECT_EQ(tif->methodName(12), "CMP");
  EXPECT_EQ(tif->fileFormatCode(12), pv::fmt::kTiffCmp);
  EXPECT_EQ(allowed(*tif, 1), (std::vector<int>{24, 32}));
  EXPECT_EQ(allowed(*tif, 0), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 16, 24, 32}));
  auto cmp = make("CMP");
  EXPECT_EQ(cmp->qualityStart, -1);
  EXPECT_EQ(cmp->qualityEnd, -9);
  EXPECT_TRUE(cmp->hasPasses);
  auto exif = make("EXIF");
  EXPECT_EQ(exif->extension, "TIF");
  for (std::uint32_t m = 0; m < 4; ++m) EXPECT_EQ(allowed(*exif, m), std::vector<int>{24});
  EXPECT_EQ(exif->methodName(0), "EXIF File - TIFF - No compresssion (RGB Color Space)");
  EXPECT_EQ(allowed(*make("TIFX"), 0), (std::vector<int>{1, 3, 8, 24}));
  EXPECT_EQ(allowed(*make("RAW"), 0), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 12, 16, 24, 32}));
  EXPECT_EQ(make("XWD")->fileFormatCode(0), pv::fmt::kXwd10);
  EXPECT_EQ(make("ICA")->methodName(9), "Uncompressed");
  auto png = make("PNG");
  EXPECT_EQ(png->fileFormatCode(0), pv::fmt::kPng);
  EXPECT_FALSE(png->hasPasses);
  EXPECT_FALSE(make("BMP")->hasQuality);
  EXPECT_EQ(make("BMP")->qualityEnd, 100);
}

TEST_F(FormatTest, DefaultsAndTheTwoJpegQualities) {
  auto jpg = make("JPG");
  EXPECT_EQ(jpg->method, 3u);
  EXPECT_EQ(jpg->quality, 25);  // key missing
  EXPECT_EQ(jpg->colorDepth, "org");
  jpg->resetOptions();
  EXPECT_EQ(jpg->quality, 26);
  EXPECT_EQ(make("TIF")->quality, 25);
  EXPECT_EQ(make("ICO")->method, 2u);
  EXPECT_EQ(make("CMP")->quality, -2);
  EXPECT_EQ(make("PNG")->quality, 0);
  EXPECT_EQ(make("GIF")->quality, 10);
}

TEST_F(FormatTest, OptionsLoadSaveAndTheShellSection) {
  write(
      "[jpg]\nCompressionMethod=1\nQuality=40x\nChosenColorDepth=8\nProgressivePass=3\n"
      "[JPG Shell]\nCompressionMethod=2\nQuality=abc\n[CMP2]\nQuality=7\n[TIF]\nChosenColorDepth=17\n");
  auto jpg = make("JPG");
  EXPECT_EQ(jpg->method, 1u);
  EXPECT_EQ(jpg->quality, 40);
  EXPECT_EQ(jpg->colorDepth, "8");
  EXPECT_EQ(jpg->passes, 3u);
  jpg->loadShellOptions();
  EXPECT_EQ(jpg->method, 2u);
  EXPECT_EQ(jpg->quality, 0);  // no number
  EXPECT_EQ(jpg->colorDepth, "org");
  EXPECT_EQ(jpg->passes, 0u);
  EXPECT_EQ(make("CMP")->quality, -2);  // CMP and CMP2 keep separate sections
  EXPECT_EQ(make("CMP2")->quality, 7);
  EXPECT_EQ(make("TIF")->colorDepth, "org");  // hand-edited depth outside the list

  auto gif = make("GIF");
  gif->method = 1;
  gif->quality = -5;
  gif->colorDepth = "4";
  gif->passes = 2;
  gif->saveOptions();
  gif->method = 0;
  gif->saveShellOptions();
  auto again = make("GIF");
  EXPECT_EQ(again->method, 1u);
  EXPECT_EQ(again->quality, -5);
  EXPECT_EQ(again->colorDepth, "4");
  EXPECT_EQ(again->passes, 2u);
  again->loadShellOptions();
  EXPECT_EQ(again->method, 0u);
  EXPECT_EQ(pv::test::runProcess("/bin/grep", {"-c", "^\\[GIF Shell\\]$", config}).out, "1\n");
}

// MaxFileSize belongs to the formats with a size target: kept in their
// sections (the shell's too), written only once a limit was set, taken by
// a save only with a lossy method; other formats neither read nor write it.
TEST_F(FormatTest, TheSizeLimitIsStoredWhereItAppliesAndTakenByLossySaves) {
  write("[JPG]\nMaxFileSize=300\n[JPG Shell]\nMaxFileSize=50\n[PNG]\nMaxFileSize=10\n[WEBP]\nMaxFileSize=-4\n");
  struct Case {
    const char* key;
    std::uint32_t method;
    std::uint32_t stored;  // read from the file
    std::uint64_t bytes;   // the limit of a save
    int worst;
  } cases[] = {
      {"JPG", 3, 300, 300000, 255}, {"JPG", 0, 300, 0, 0},  // lossless JPEG
      {"PNG", 0, 0, 0, 0},          {"WEBP", 0, 0, 0, 0},   // no target; a negative size
      {"AVIF", 1, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " method " + std::to_string(c.method));
    auto f = make(c.key);
    f->method = c.method;
    EXPECT_EQ(f->maxFileSize, c.stored);
    EXPECT_EQ(f->sizeLimit().bytes, c.bytes);
    EXPECT_EQ(f->sizeLimit().worstQuality, c.worst);
  }
  auto jpg = make("JPG");
  jpg->loadShellOptions();
  EXPECT_EQ(jpg->maxFileSize, 50u);
  jpg->resetOptions();
  EXPECT_EQ(jpg->maxFileSize, 0u);
  // A section without a limit stays without the key; a limit set, then
  // taken off, stays as 0.
  auto avif = make("AVIF");
  avif->saveOptions();
  EXPECT_EQ(pv::test::readFile(config).find("[AVIF]"), pv::test::readFile(config).rfind("[AVIF]"));
  EXPECT_FALSE(pv::ini::Document::load(config).get("AVIF", "MaxFileSize"));
  avif->maxFileSize = 120;
  avif->saveOptions();
  EXPECT_EQ(make("AVIF")->maxFileSize, 120u);
  EXPECT_EQ(make("AVIF")->sizeLimit(), (pv::engine::SizeLimit{.bytes = 120000, .worstQuality = 0}));
  avif->maxFileSize = 0;
  avif->saveOptions();
  EXPECT_EQ(pv::ini::Document::load(config).get("AVIF", "MaxFileSize"), "0");
  auto png = make("PNG");
  png->maxFileSize = 99;
  png->saveOptions();
  EXPECT_EQ(pv::ini::Document::load(config).get("PNG", "MaxFileSize"), "10");  // as it was, untouched
}

TEST_F(FormatTest, CommandLineOptionWords) {
  auto jpg = make("JPG");
  jpg->parseOptionWords("convert JPG 1");
  EXPECT_EQ(jpg->method, 1u);
  EXPECT_EQ(jpg->colorDepth, "org");
  EXPECT_EQ(jpg->quality, 25);
  jpg->parseOptionWords("convert  JPG   2 24  30 4");
  EXPECT_EQ(jpg->method, 2u);
  EXPECT_EQ(jpg->colorDepth, "24");
  EXPECT_EQ(jpg->quality, 30);
  EXPECT_EQ(jpg->passes, 4u);
  for (const char* bad : {"0", "-8", "33", "48", "deep"}) {
    jpg->parseOptionWords(std::string("convert JPG 1 ") + bad);
    EXPECT_EQ(jpg->colorDepth, "org") << bad;
  }
  jpg->parseOptionWords("convert JPG");
  EXPECT_EQ(jpg->method, 1u);
}

TEST_F(FormatTest, NearestAllowedDepthSearchesUpThenDown) {
  auto png = make("PNG");  // 1, 4, 8, 24, 32
  EXPECT_EQ(png->nearestAllowedDepth(0, 12), 24);
  EXPECT_EQ(png->nearestAllowedDepth(0, 48), 32);
  EXPECT_EQ(png->nearestAllowedDepth(0, 32), 32);
  EXPECT_EQ(png->nearestAllowedDepth(0, 2), 4);
  EXPECT_EQ(png->nearestAllowedDepth(0, 64), 32);
  EXPECT_EQ(png->nearestAllowedDepth(0, 9), 8);  // not listed: moves to 8 first
  EXPECT_EQ(png->nearestAllowedDepth(5, 8), 0);  // a method beyond the list allows nothing
  auto tif = make("TIF");
  EXPECT_EQ(tif->nearestAllowedDepth(1, 8), 24);
  EXPECT_EQ(tif->nearestAllowedDepth(2, 32), 24);  // YCbCr: only 24, found downward
  auto wbmp = make("WBMP");
  EXPECT_EQ(wbmp->nearestAllowedDepth(0, 24), 1);
}

TEST_F(FormatTest, OutputDepthKeepsColourForJpegLikeMethods) {
  auto jpg = make("JPG");
  EXPECT_EQ(jpg->outputDepth(8), 24);
  EXPECT_EQ(jpg->outputDepth(1), 24);
  jpg->colorDepth = "8";
  EXPECT_EQ(jpg->outputDepth(24), 8);
  auto tif = make("TIF");
  EXPECT_EQ(tif->outputDepth(8), 8);
  tif->method = 6;
  EXPECT_EQ(tif->outputDepth(8), 24);
  tif->method = 9;
  EXPECT_EQ(tif->outputDepth(1), 1);
  EXPECT_EQ(make("CMP")->outputDepth(8), 24);
  auto gif = make("GIF");
  EXPECT_EQ(gif->outputDepth(24), 8);
  gif->colorDepth = "ORG";
  EXPECT_EQ(gif->outputDepth(4), 4);
}

TEST_F(FormatTest, PrepareImageOfIconsCursorsGifAndPsd) {
  RecordingLead lead;
  lead.width = 200;
  lead.height = 100;
  auto ico = make("ICO");
  ico->method = 5;
  EXPECT_TRUE(ico->prepareImage(lead));
  ico->method = 2;
  lead.width = lead.height = 32;
  EXPECT_TRUE(ico->prepareImage(lead));
  ico->method = 77;  // any other value is 32
  EXPECT_TRUE(ico->prepareImage(lead));
  EXPECT_EQ(lead.calls, std::vector<std::string>{"ResizeImage 128 128 4"});

  lead.calls.clear();
  EXPECT_TRUE(make("CUR")->prepareImage(lead));  // already 32 x 32
  EXPECT_TRUE(make("ANI")->prepareImage(lead));  // always
  lead.width = 33;
  EXPECT_TRUE(make("CUR")->prepareImage(lead));
  auto gif = make("GIF");
  EXPECT_TRUE(gif->prepareImage(lead));
  gif->method = 1;
  EXPECT_TRUE(gif->prepareImage(lead));
  EXPECT_TRUE(make("PSD")->prepareImage(lead));
  EXPECT_FALSE(make("PNG")->prepareImage(lead));
  EXPECT_FALSE(make("TIF")->prepareImage(lead));
  EXPECT_EQ(lead.calls,
            (std::vector<std::string>{"ResizeImage 32 32 4", "ResizeImage 32 32 4", "SetSaveInterlaced 0",
                                      "SetSaveInterlaced 1", "SetPhotoshopSaveFlag 1"}));
}
