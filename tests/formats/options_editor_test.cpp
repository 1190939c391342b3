// The format options dialog's rules, checked on config.ini on disk.
#include "formats/options_editor.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/ini.h"
#include "tests/support/support.h"

namespace {

using pv::formats::OptionsEditor;

struct Editor : ::testing::Test {
  pv::test::TempDir dir;
  std::string config = dir.file("config.ini");
  void write(const std::string& text) { std::ofstream(config, std::ios::binary) << text; }
  std::string stored(const std::string& section, const std::string& key) {
    return pv::ini::Document::load(config).get(section, key).value_or("<none>");
  }
};

TEST_F(Editor, QualitySliderArithmetic) {
  struct Case {
    const char* key;
    const char* options;   // the format's section before the dialog opens
    int opensAt;           // the slider's position when opened
    int movedTo;           // -1: not touched
    const char* confirmed; // Quality stored by OK
    const char* shell;     // Quality stored by "Set as Default"
  } cases[] = {
      {"JPG", "CompressionMethod=2\nQuality=25\n", 9, -1, "23", "22"},
      {"JPG", "CompressionMethod=2\nQuality=25\n", 9, 0, "2", "2"},       // 1 raised to the start
      {"JPG", "CompressionMethod=2\nQuality=25\n", 9, 100, "255", "255"}, // 256 lowered to the end
      {"JPG", "CompressionMethod=0\nQuality=25\n", 9, -1, "0", "0"},      // lossless: no quality
      {"CMP", "CompressionMethod=0\nQuality=-2\n", 1, -1, "-2", "-2"},
      {"CMP", "CompressionMethod=0\nQuality=-2\n", 1, 8, "-9", "-9"},
      {"PNG", "Quality=6\n", 6, 0, "0", "0"},
      {"BMP", "Quality=7\n", 0, -1, "7", "0"},  // no quality: OK keeps it, the shell default stores 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.key << " " << c.options << " moved to " << c.movedTo);
    write(std::string("[") + c.key + "]\n" + c.options);
    auto format = pv::formats::createFormat(c.key, config);
    ASSERT_TRUE(format);
    OptionsEditor editor(*format);
    EXPECT_EQ(editor.position, c.opensAt);
    if (c.movedTo >= 0) editor.position = c.movedTo;
    editor.confirm();
    EXPECT_EQ(stored(c.key, "Quality"), c.confirmed);
    editor.storeShellDefault();
    EXPECT_EQ(stored(std::string(c.key) + " Shell", "Quality"), c.shell);
  }
}

TEST_F(Editor, TextsAndWhatIsEnabled) {
  write("[CMP]\nQuality=-2\n[JPG]\nCompressionMethod=0\n");
  auto cmp = pv::formats::createFormat("CMP", config);
  OptionsEditor c(*cmp);
  EXPECT_EQ(c.valueText(c.position), "Perfect Quality 2");
  EXPECT_EQ(c.sliderMax(), 8);
  EXPECT_EQ(c.leftLabel(), "Highest Quality");

  auto png = pv::formats::createFormat("PNG", config);
  OptionsEditor p(*png);
  EXPECT_EQ(p.valueText(0), "0 (Default)");
  EXPECT_EQ(p.valueText(7), "7");
  EXPECT_EQ(p.leftLabel(), "Lowest Compression");
  EXPECT_FALSE(p.sliderInverted());
  EXPECT_FALSE(c.sliderInverted());
  EXPECT_FALSE(p.methodsEnabled());
  EXPECT_FALSE(p.passesEnabled());

  auto jpg = pv::formats::createFormat("JPG", config);
  OptionsEditor j(*jpg);
  EXPECT_FALSE(j.qualityEnabled());  // lossless JPEG
  EXPECT_FALSE(j.passesEnabled());
  j.passes = 3;
  j.selectMethod(2);
  EXPECT_TRUE(j.qualityEnabled());
  EXPECT_TRUE(j.passesEnabled());
  EXPECT_EQ(j.passes, 3);
  j.selectMethod(4);
  EXPECT_FALSE(j.passesEnabled());
  EXPECT_EQ(j.passes, 0);  // back to "0 (None)"
  EXPECT_EQ(j.passTexts().size(), 11u);
  EXPECT_EQ(j.passTexts().front(), "0 (None)");
  EXPECT_EQ(j.passesLabel(), "Progressive:");
}

// Today's photo formats: quality rising from 0 to 100 straight on the
// slider, an effort or speed list in place of passes, and no quality for
// their lossless method.
TEST_F(Editor, PhotoFormatsShowEffortAndRisingQuality) {
  struct Case {
    const char* key;
    const char* passesLabel;
    std::string firstPass, lastPass;
    int quality, effort;
    bool lossless;
  };
  const Case cases[] = {{"WEBP", "Effort:", "0", "6", 80, 4, true},
                        {"AVIF", "Speed:", "0", "10", 60, 6, true},
                        {"HEIC", "Speed:", "0", "9", 50, 5, false},
                        {"JXL", "Effort:", "1", "9", 90, 5, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    write("");
    auto f = pv::formats::createFormat(c.key, config);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->quality, c.quality);
    EXPECT_EQ(f->passes, static_cast<std::uint32_t>(c.effort));
    OptionsEditor e(*f);
    EXPECT_EQ(e.passesLabel(), c.passesLabel);
    EXPECT_EQ(e.passTexts().front(), c.firstPass);
    EXPECT_EQ(e.passTexts().back(), c.lastPass);
    // One direction for every slider: the best quality on the left, drawn
    // inverted because these numbers rise with quality.
    EXPECT_EQ(e.leftLabel(), "Highest Quality");
    EXPECT_EQ(e.rightLabel(), "Highest Compression");
    EXPECT_TRUE(e.sliderInverted());
    EXPECT_EQ(e.position, c.quality);
    EXPECT_EQ(e.methodsEnabled(), c.lossless);
    if (c.lossless) {
      EXPECT_EQ(e.methodNames(), (std::vector<std::string>{"Lossy", "Lossless"}));
    }
    EXPECT_TRUE(e.qualityEnabled());
    EXPECT_TRUE(e.passesEnabled());
    // The slider stores its position as the quality; the list its value.
    e.position = 35;
    e.passes = 2;
    e.confirm();
    auto again = pv::formats::createFormat(c.key, config);
    EXPECT_EQ(again->quality, 35);
    EXPECT_EQ(again->passes, static_cast<std::uint32_t>(std::stoi(c.firstPass) + 2));
    OptionsEditor reread(*again);
    EXPECT_EQ(reread.passes, 2);
    if (!c.lossless) continue;
    reread.selectMethod(1);
    EXPECT_FALSE(reread.qualityEnabled());
    EXPECT_TRUE(reread.passesEnabled());
  }
}

// "At most ... KB": shown for the formats with a size target, open while
// the method is lossy, stored by OK and by "Set as Default" in their sections.
TEST_F(Editor, TheSizeLimitFieldFollowsTheFormatAndMethod) {
  write("[JPG]\nCompressionMethod=2\nMaxFileSize=250\n");
  struct Case {
    const char* key;
    int method;
    bool shown, enabled;
    std::uint32_t opensWith;
  } cases[] = {
      {"JPG", 2, true, true, 250}, {"JPG", 0, true, false, 250}, {"WEBP", 0, true, true, 0},
      {"WEBP", 1, true, false, 0}, {"AVIF", 0, true, true, 0},   {"HEIC", 0, true, true, 0},
      {"JXL", 1, true, false, 0},  {"PNG", 0, false, false, 0},  {"TIF", 6, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " method " + std::to_string(c.method));
    auto f = pv::formats::createFormat(c.key, config);
    OptionsEditor e(*f);
    e.selectMethod(c.method);
    EXPECT_EQ(e.sizeLimitShown(), c.shown);
    EXPECT_EQ(e.sizeLimitEnabled(), c.enabled);
    EXPECT_EQ(e.maxFileSize, c.opensWith);
  }
  auto webp = pv::formats::createFormat("WEBP", config);
  OptionsEditor e(*webp);
  e.maxFileSize = 480;
  e.confirm();
  EXPECT_EQ(stored("WEBP", "MaxFileSize"), "480");
  e.maxFileSize = 90;
  e.storeShellDefault();
  EXPECT_EQ(stored("WEBP Shell", "MaxFileSize"), "90");
  EXPECT_EQ(stored("WEBP", "MaxFileSize"), "480");
  auto png = pv::formats::createFormat("PNG", config);
  OptionsEditor p(*png);
  p.maxFileSize = 5;
  p.confirm();
  EXPECT_EQ(stored("PNG", "MaxFileSize"), "<none>");
}

TEST_F(Editor, DepthListFollowsTheMethod) {
  write("[TIF]\nCompressionMethod=0\nChosenColorDepth=16\n[JPG]\nCompressionMethod=2\n");
  auto tif = pv::formats::createFormat("TIF", config);
  OptionsEditor e(*tif);
  ASSERT_GE(e.depth, 1);
  EXPECT_EQ(e.depthTexts()[static_cast<std::size_t>(e.depth)], "16");
  EXPECT_EQ(e.depthTexts().front(), "Use Source Image BPP");
  // A method that does not allow the stored depth leaves no selection.
  bool sawNone = false;
  for (int m = 0; m < tif->methodCount; ++m) {
    e.selectMethod(m);
    const auto& d = e.depthTexts();
    const bool allows = std::find(d.begin(), d.end(), "16") != d.end();
    EXPECT_EQ(e.depth == -1, !allows) << "method " << m;
    sawNone = sawNone || !allows;
  }
  EXPECT_TRUE(sawNone) << "TIFF's JPEG methods refuse 16 bits";

  // Confirm stores the selected entry, "org" for the first.
  auto jpg = pv::formats::createFormat("JPG", config);
  OptionsEditor j(*jpg);
  j.depth = 0;
  j.confirm();
  EXPECT_EQ(stored("JPG", "ChosenColorDepth"), "org");
  EXPECT_EQ(stored("JPG", "CompressionMethod"), "2");
}

TEST_F(Editor, ResetWritesTheDefaultsAndReadsThemBack) {
  write("[JPG]\nCompressionMethod=3\nQuality=200\nProgressivePass=4\n");
  auto jpg = pv::formats::createFormat("JPG", config);
  OptionsEditor e(*jpg);
  EXPECT_EQ(e.passes, 4);
  e.reset();
  EXPECT_EQ(stored("JPG", "CompressionMethod"), std::to_string(jpg->method));
  EXPECT_EQ(stored("JPG", "Quality"), std::to_string(jpg->quality));
  EXPECT_EQ(e.method, static_cast<int>(jpg->method));
  EXPECT_EQ(e.position, jpg->quality * 100 / jpg->qualityEnd);
  EXPECT_NE(e.resetQuestion().find("for JPG to the default one?"), std::string::npos);
  EXPECT_NE(e.shellDefaultQuestion().find("the JPG image format"), std::string::npos);
}

}  // namespace
