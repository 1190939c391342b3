#include "app/settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "core/format_registry.h"
#include "tests/support/support.h"

namespace {


class SettingsTest : public ::testing::Test {
 protected:
  pv::test::DataDirGuard data;
  std::string config() const { return data.file("config.ini"); }
  void write(const std::string& text) const { std::ofstream(config(), std::ios::binary) << text; }
};

}  // namespace

TEST_F(SettingsTest, WithoutAFileEveryFieldHasItsDefault) {
  auto s = pv::app::loadSettings();
  EXPECT_EQ(s.configPath, config());
  EXPECT_EQ(s.caption, "Pictoravine Image Converter");
  EXPECT_TRUE(s.ShellContextEnabled && s.ScanSubDir && s.ShowMessages && s.UseSourcePathForOutput);
  EXPECT_TRUE(s.ShowPictureBefore && s.ShowThumbnails && s.AskWhereSave);
  EXPECT_FALSE(s.DeleteSourceAfterConvert || s.OverwriteOriginalImage || s.DoLog || s.ShowPictureAfter);
  EXPECT_FALSE(s.commandLineMode || s.shellFlag || s.clipboardSource || s.openFlag || s.shellOptionsFlag);
  EXPECT_EQ(s.MultiPageOption, 0);
  EXPECT_EQ(s.DefaultFormatType, 0);
  EXPECT_EQ(s.FileNameNumber, "-%n");
  EXPECT_EQ(s.FileNameMultiPage, "-#%n");
  EXPECT_EQ(s.OutPutDir, "");
  for (int i = 0; i < pv::kFormatCount; ++i)
    EXPECT_EQ(s.shellFormats[static_cast<std::size_t>(i)], pv::app::defaultShellFlag(pv::formatKey(i)))
        << pv::formatKey(i);
  EXPECT_TRUE(s.shellFormats[6]);    // CLP
  EXPECT_FALSE(s.shellFormats[40]);  // TIFX
  // The formats people publish photos in are on the menu from the start.
  for (const char* on : {"WEBP", "AVIF", "JXL"})
    EXPECT_TRUE(s.shellFormats[static_cast<std::size_t>(pv::formatIndexOfKey(on))]) << on;
  EXPECT_FALSE(s.shellFormats[static_cast<std::size_t>(pv::formatIndexOfKey("HEIC"))]);
}

TEST_F(SettingsTest, FirstSaveWritesEveryKeyInOrderWithTheDefaults) {
  auto s = pv::app::loadSettings();
  ASSERT_TRUE(pv::app::saveSettings(s));
  std::ostringstream want;
  want << "[Global]\nShellContextEnabled=1\nScanSubDir=1\nShowMessages=1\nUseSourcePathForOutput=1\n"
          "DeleteSourceAfterConvert=0\nOverwriteOriginalImage=0\nDoLog=0\nMultiPageOption=0\nOutPutDir=\n"
          "LogFile=\nFileNameAfter=\nFileNameBefore=\nFileNameNumber=-%n\nFileNameMultiPage=-#%n\n"
          "DefaultFormatType=0\nDefaultShellContextProfile=\nShowPictureBefore=1\nShowPictureAfter=0\n"
          "ShowThumbnails=1\nAskWhereSave=1\nThreads=0\nMemoryBudget=0\nAutoOrient=1\nKeepMetadata=1\nStripLocation=0\nKeepDates=1\nOnlySmaller=0\nKeepFolders=0\n"
          "WhenOutputExists=0\nLastImageFolder=\n\n[Shell]\n";
  for (int i = 0; i < pv::kFormatCount; ++i)
    want << pv::formatKey(i) << "=" << (pv::app::defaultShellFlag(pv::formatKey(i)) ? 1 : 0) << "\n";
  EXPECT_EQ(pv::test::readFile(config()), want.str());
}

TEST_F(SettingsTest, TheShellNoRule) {
  write("[Shell]\nBMP=0\nGIF=NO\nTGA=1\nPCX=no\nXWD=  7\n");
  auto s = pv::app::loadSettings();
  EXPECT_TRUE(s.shellFormats[2]);    // PNG missing: built-in on
  EXPECT_FALSE(s.shellFormats[1]);   // BMP stored 0
  EXPECT_TRUE(s.shellFormats[3]);    // GIF stored NO: built-in on
  EXPECT_TRUE(s.shellFormats[41]);   // TGA stored 1
  EXPECT_FALSE(s.shellFormats[29]);  // PCX "no" is no number: off
  EXPECT_TRUE(s.shellFormats[48]);   // XWD 7
}

TEST_F(SettingsTest, ValuesAreReadAsNumbersFlagsAndCutTexts) {
  write("[GLOBAL]\nshowmessages=0\nDoLog=2\nScanSubDir=abc\nMultiPageOption= 2x\nFileNameNumber=-%n-abcdefgh\n"
        "FileNameBefore=" + std::string(120, 'b') + "\nFileNameAfter=" + std::string(98, 'a') + "é\n"
        "DefaultFormatType=6\n");
  auto s = pv::app::loadSettings();
  EXPECT_FALSE(s.ShowMessages);
  EXPECT_TRUE(s.DoLog);
  EXPECT_FALSE(s.ScanSubDir);  // no number reads as 0
  EXPECT_EQ(s.MultiPageOption, 2);
  EXPECT_EQ(s.FileNameNumber, "-%n-abcde");
  EXPECT_EQ(s.FileNameBefore, std::string(99, 'b'));
  EXPECT_EQ(s.FileNameAfter, std::string(98, 'a'));  // never half a character
  EXPECT_EQ(s.DefaultFormatType, 6);                  // the clipboard format
}

TEST_F(SettingsTest, AFormatIndexOutsideTheRegistrySelectsJpg) {
  for (const char* v : {"53", "-1", "4294967295", "99999999999"}) {
    write(std::string("[Global]\nDefaultFormatType=") + v + "\n");
    EXPECT_EQ(pv::app::loadSettings().DefaultFormatType, 0) << v;
  }
}

TEST_F(SettingsTest, NegativeNumbersSurviveASaveAsUnsignedText) {
  write("[Global]\nMultiPageOption=-1\n");
  auto s = pv::app::loadSettings();
  EXPECT_EQ(s.MultiPageOption, -1);
  ASSERT_TRUE(pv::app::saveSettings(s));
  EXPECT_NE(pv::test::readFile(config()).find("MultiPageOption=4294967295\n"), std::string::npos);
  EXPECT_EQ(pv::app::loadSettings().MultiPageOption, -1);
}

TEST_F(SettingsTest, SaveKeepsCommentsUnknownKeysAndSectionsOfAHandWrittenFile) {
  write("; written by hand\n[global]\nDOLOG = 1\nMyOwnKey=keep\n\n[JPG]\nQuality=30\n\n[shell]\njpg=0\n");
  auto s = pv::app::loadSettings();
  EXPECT_TRUE(s.DoLog);
  EXPECT_FALSE(s.shellFormats[0]);
  s.DoLog = false;
  s.OutPutDir = "/home/me/converted";
  ASSERT_TRUE(pv::app::saveSettings(s));
  const std::string text = pv::test::readFile(config());
  EXPECT_EQ(text.rfind("; written by hand\n[global]\nDOLOG = 0\nMyOwnKey=keep\n", 0), 0u) << text;
  EXPECT_NE(text.find("\n[JPG]\nQuality=30\n"), std::string::npos);
  EXPECT_NE(text.find("\n[shell]\njpg=0\n"), std::string::npos);
  EXPECT_EQ(text.find("[Shell]"), std::string::npos);  // the existing section took the keys
  auto again = pv::app::loadSettings();
  EXPECT_FALSE(again.DoLog);
  EXPECT_EQ(again.OutPutDir, "/home/me/converted");
}

TEST_F(SettingsTest, ADamagedFileReadsAsDefaultsAndAFailedSaveIsReported) {
  write(std::string("\0\0\xff\xfe[Global\n\x01=\x02\n", 12));
  auto s = pv::app::loadSettings();
  EXPECT_TRUE(s.ShowMessages);
  EXPECT_EQ(s.FileNameNumber, "-%n");
  s.configPath = data.file("no/such/folder/config.ini");
  EXPECT_FALSE(pv::app::saveSettings(s));
}
