#include "app/profiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/session.h"
#include "core/profiles.h"
#include "engine/lead.h"
#include "formats/format.h"
#include "tests/app/prompter.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::app::Settings;

namespace {

struct Profiles : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::filters::FilterContext context;
  pv::filters::FilterChain chain{context};
  pv::test::RecordingPrompter prompter;
  Settings settings;

  std::string file(const std::string& name) { return data.file("Profiles/" + name + ".pvp"); }
  void write(const std::string& name, const std::string& text) {
    fs::create_directories(data.file("Profiles"));
    std::ofstream(file(name), std::ios::binary) << text;
  }
};

}  // namespace

TEST_F(Profiles, SaveAndLoadRoundTripAndLoadingAppends) {
  chain.appendFromText("/filter resize 4 0 640 480 1 0");
  chain.appendFromText("/filter sharpen 40");
  ASSERT_TRUE(pv::app::saveProfile(settings, chain, "web", prompter));
  EXPECT_EQ(pv::test::readFile(file("web")), "/filter resize 4 0 640 480 1 0\n/filter sharpen 40\n");

  chain.clear();
  chain.appendFromText("/filter flip");  // a command line's own filter
  ASSERT_TRUE(pv::app::loadProfile(settings, chain, "web \r\n", prompter));  // trailing blanks are ignored
  EXPECT_EQ(chain.texts(), (std::vector<std::string>{"/filter flip", "/filter resize 4 0 640 480 1 0", "/filter sharpen 40"}));
  EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Profiles, ReaderTakesAnyLineEndLongLinesAndUnknownKeys) {
  const std::string longLine = "/filter sharpen 12" + std::string(3000, ' ');
  write("mixed", "/filter flip\r\r\n\n/filter mirror\r\n" + longLine + "\n/filter nosuchkey 1 0 50 60 0 0\n/filter invert");
  ASSERT_TRUE(pv::app::loadProfile(settings, chain, "mixed", prompter));
  EXPECT_EQ(chain.texts(), (std::vector<std::string>{"/filter flip", "/filter mirror", "/filter sharpen 12",
                                                     "/filter resize 1 0 50 60 0 0", "/filter invert"}));
}

TEST_F(Profiles, OverwritingAsksAndSilentModeLeavesTheFileAlone) {
  write("keep", "/filter invert\n");
  chain.appendFromText("/filter flip");
  settings.ShowMessages = false;
  EXPECT_FALSE(pv::app::saveProfile(settings, chain, "keep", prompter));
  EXPECT_TRUE(prompter.shown.empty());
  settings.ShowMessages = true;
  prompter.answer = false;
  EXPECT_FALSE(pv::app::saveProfile(settings, chain, "keep", prompter));
  EXPECT_EQ(pv::test::readFile(file("keep")), "/filter invert\n");
  prompter.answer = true;
  EXPECT_TRUE(pv::app::saveProfile(settings, chain, "keep", prompter));
  EXPECT_EQ(pv::test::readFile(file("keep")), "/filter flip\n");
  ASSERT_EQ(prompter.shown.size(), 2u);
  EXPECT_EQ(prompter.shown[0], std::string(pv::app::kCaption) + "|" + pv::app::kProfileExistsText);
  // Unreadable existing profiles are asked about too.
  chmod(file("keep").c_str(), 0);
  prompter.answer = false;
  EXPECT_FALSE(pv::app::saveProfile(settings, chain, "keep", prompter));
  EXPECT_EQ(prompter.shown.size(), 3u);
}

TEST_F(Profiles, NamesThatLeaveTheFolderAreRefused) {
  write("inside", "/filter flip\n");
  std::ofstream(data.file("outside.pvp")) << "/filter flip\n";
  chain.appendFromText("/filter invert");
  for (const char* bad : {"../outside", "/tmp/x", ".", "..", "", "a/b"}) {
    SCOPED_TRACE(bad);
    prompter.shown.clear();
    EXPECT_FALSE(pv::app::loadProfile(settings, chain, bad, prompter));
    EXPECT_FALSE(pv::app::saveProfile(settings, chain, bad, prompter));
    EXPECT_FALSE(pv::app::renameProfile(settings, "inside", bad, prompter));
    EXPECT_FALSE(pv::app::deleteProfile(settings, bad, prompter));
    ASSERT_EQ(prompter.shown.size(), 4u);
    EXPECT_EQ(prompter.shown[0], std::string(pv::app::kCaption) + "|" + pv::app::kProfileLoadFailedText);
    EXPECT_EQ(prompter.shown[1], std::string(pv::app::kCaption) + "|" + pv::app::kProfileSaveFailedText);
  }
  EXPECT_EQ(chain.size(), 1u);
  EXPECT_EQ(pv::test::readFile(data.file("outside.pvp")), "/filter flip\n");
  EXPECT_TRUE(fs::exists(file("inside")));
}

TEST_F(Profiles, ListingRenameAndDelete) {
  write("b", "");
  write("a", "");
  write("c.d", "");
  fs::create_directories(data.file("Profiles/folder.pvp"));
  std::ofstream(data.file("Profiles/notes.txt")) << "x";
  std::ofstream(data.file("Profiles/UPPER.PVP")) << "x";
  EXPECT_EQ(pv::app::listProfiles(), (std::vector<std::string>{"a", "b", "c.d"}));

  EXPECT_TRUE(pv::app::renameProfile(settings, "a", "z", prompter));
  // A rename never replaces another profile.
  EXPECT_FALSE(pv::app::renameProfile(settings, "b", "z", prompter));
  EXPECT_TRUE(fs::exists(file("b")));
  EXPECT_TRUE(pv::app::deleteProfile(settings, "c.d", prompter));
  EXPECT_FALSE(pv::app::deleteProfile(settings, "c.d", prompter));
  EXPECT_FALSE(pv::app::loadProfile(settings, chain, "c.d", prompter));
  EXPECT_EQ(pv::app::listProfiles(), (std::vector<std::string>{"b", "z"}));
  ASSERT_EQ(prompter.shown.size(), 3u);
  EXPECT_EQ(prompter.shown[0], std::string(pv::app::kCaption) + "|" + pv::app::kProfileRenameFailedText);
  EXPECT_EQ(prompter.shown[1], std::string(pv::app::kCaption) + "|" + pv::app::kProfileDeleteFailedText);
  EXPECT_EQ(prompter.shown[2], std::string(pv::app::kCaption) + "|" + pv::app::kProfileLoadFailedText);
}

// A profile saved with its output keeps the format, its options and the
// output place after the filters, in the command line's words; loading it
// in the window chooses them again, while a command line (no output asked
// for) takes its filters only. Profiles without output lines change nothing.
TEST_F(Profiles, AProfileSavedWithItsOutputChoosesItAgain) {
  struct Case {
    const char* name;
    const char* format;      // the /convert words the session's format is given
    std::uint32_t maxSizeKb;
    pv::app::OutputPlace place;
    bool keepFolders;
    const char* lines;       // after the filter line
  };
  const std::vector<Case> cases = {
      {"beside the sources", "convert JPG 1 8 30 3", 0, {}, true, "/convert JPG 1 8 30 3\n/usesf\n"},
      {"one folder", "convert WEBP 0 org 70 4", 250, {pv::app::OutputPlace::kOneFolder, "/srv/web/"}, true,
       "/convert WEBP 0 org 70 4\n/max-size 250K\n/output /srv/web/\n/keep-folders\n"},
      {"below each source", "convert PNG 0 24 6 0", 0, {pv::app::OutputPlace::kBelowSource, "small/"}, false,
       "/convert PNG 0 24 6 0\n/output small/\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    pv::test::RecordingPrompter quiet;
    pv::app::Session from{pv::app::loadSettings(), quiet, std::make_unique<pv::engine::CLead>()};
    from.format = pv::formats::createFormat(std::string_view(c.format).substr(8, 4), from.settings.configPath);
    from.format->parseOptionWords(c.format);
    from.format->maxFileSize = c.maxSizeKb;
    ASSERT_TRUE(pv::app::applyOutputPlace(from.settings, c.place).empty());
    from.settings.KeepFolders = c.keepFolders;
    chain.clear();
    chain.appendFromText("/filter sharpen 40");
    const pv::app::ProfileOutput output = pv::app::outputOf(from.settings, *from.format);
    settings.ShowMessages = false;
    fs::remove(file("mine"));
    ASSERT_TRUE(pv::app::saveProfile(settings, chain, "mine", prompter, &output));
    EXPECT_EQ(pv::test::readFile(file("mine")), std::string("/filter sharpen 40\n") + c.lines);

    // The window: the filters, and the output made the session's.
    pv::app::Session to{pv::app::loadSettings(), quiet, std::make_unique<pv::engine::CLead>()};
    to.format = pv::formats::createFormat("BMP", to.settings.configPath);
    pv::app::ProfileOutput read;
    ASSERT_TRUE(pv::app::loadProfile(settings, to.chain, "mine", prompter, &read));
    EXPECT_EQ(to.chain.texts(), (std::vector<std::string>{"/filter sharpen 40"}));
    pv::app::applyProfileOutput(to, read);
    EXPECT_EQ(pv::app::outputOf(to.settings, *to.format).convertWords, output.convertWords);
    EXPECT_EQ(to.format->maxFileSize, c.maxSizeKb);
    EXPECT_EQ(to.settings.DefaultFormatType, from.format->index);
    EXPECT_EQ(pv::app::outputPlaceOf(to.settings).choice, c.place.choice);
    EXPECT_EQ(to.settings.KeepFolders, c.keepFolders && c.place.choice != pv::app::OutputPlace::kBesideSource);
    // Chosen again later, the format keeps the profile's options.
    EXPECT_EQ(pv::app::outputOf(to.settings, *pv::formats::createFormat(to.format->key, to.settings.configPath))
                  .convertWords,
              output.convertWords);

    // A command line: the filters only, no line read as a filter.
    chain.clear();
    ASSERT_TRUE(pv::app::loadProfile(settings, chain, "mine", prompter));
    EXPECT_EQ(chain.texts(), (std::vector<std::string>{"/filter sharpen 40"}));
  }
  // A profile of filters only, and a hand-edited one with numbers out of
  // range and an unknown format: what it cannot say stays as it was.
  write("plain", "/filter invert\n");
  write("odd", "/filter invert\n/convert NOPE 3 8 50 1\n/output \n");
  pv::test::RecordingPrompter quiet;
  pv::app::Session s{pv::app::loadSettings(), quiet, std::make_unique<pv::engine::CLead>()};
  s.format = pv::formats::createFormat("BMP", s.settings.configPath);
  s.settings.UseSourcePathForOutput = true;
  for (const char* name : {"plain", "odd"}) {
    SCOPED_TRACE(name);
    pv::app::ProfileOutput read;
    ASSERT_TRUE(pv::app::loadProfile(settings, s.chain, name, prompter, &read));
    pv::app::applyProfileOutput(s, read);
    EXPECT_EQ(s.format->key, "BMP");
    EXPECT_TRUE(s.settings.UseSourcePathForOutput);
  }
  write("wide", "/convert JPG 99 24 500 3\n");
  pv::app::ProfileOutput read;
  ASSERT_TRUE(pv::app::loadProfile(settings, s.chain, "wide", prompter, &read));
  pv::app::applyProfileOutput(s, read);
  EXPECT_EQ(s.format->key, "JPG");
  EXPECT_LT(static_cast<int>(s.format->method), s.format->methodCount);
  EXPECT_LE(s.format->quality, std::max(s.format->qualityStart, s.format->qualityEnd));
}
