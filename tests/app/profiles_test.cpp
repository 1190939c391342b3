#include "app/profiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/profiles.h"
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
