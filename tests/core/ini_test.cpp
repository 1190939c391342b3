#include "core/ini.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::ini::Document;

namespace {
void spit(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
}  // namespace

TEST(IniRead, SectionsAndKeysIgnoreCaseAndValuesLoseBlanksAndQuotes) {
  Document d = Document::parse(
      "; settings\n[Global]\n  ShowMessages =  0 \nOutPutDir=\"/home/me/out dir\"\n[global]\nDoLog=1\n");
  EXPECT_EQ(d.get("GLOBAL", "showmessages"), "0");
  EXPECT_EQ(d.get("Global", "OutPutDir"), "/home/me/out dir");
  // Only the first section of a name is read.
  EXPECT_EQ(d.get("Global", "DoLog"), std::nullopt);
  EXPECT_EQ(d.get("Shell", "JPG"), std::nullopt);
  EXPECT_EQ(d.get("Global", "Missing"), std::nullopt);
}

TEST(IniRead, AcceptsEveryLineEndAndTextWithoutOne) {
  Document d = Document::parse("[A]\r\r\nx=1\r\ny=2\nz=3");
  EXPECT_EQ(d.get("A", "x"), "1");
  EXPECT_EQ(d.get("A", "y"), "2");
  EXPECT_EQ(d.get("A", "z"), "3");
}

TEST(IniRead, DamagedOrBinaryFilesReadAsMissing) {
  const char raw[] = "\0\xff[\x01=\n]]]==\n[Global\nShowMessages";
  std::string junk(raw, sizeof raw - 1);
  Document d = Document::parse(junk);
  EXPECT_EQ(d.get("Global", "ShowMessages"), std::nullopt);
  EXPECT_EQ(d.text(), junk);  // kept as it was
  EXPECT_EQ(pv::ini::readString("/nonexistent/dir/config.ini", "Global", "DoLog", "dflt"), "dflt");
}

TEST(IniWrite, ChangesOneValueAndKeepsEveryOtherByte) {
  const std::string before =
      "; my notes\r\n[Global]\r\nShowMessages = 1   \r\n; keep me\r\nUnknownKey=abc\r\n\r\n[Other]\r\nx=1";
  Document d = Document::parse(before);
  d.set("global", "SHOWMESSAGES", "0");
  EXPECT_EQ(d.text(),
            "; my notes\r\n[Global]\r\nShowMessages = 0\r\n; keep me\r\nUnknownKey=abc\r\n\r\n[Other]\r\nx=1");
}

TEST(IniWrite, AddsKeysAfterTheSectionsLastEntryAndNewSectionsAtTheEnd) {
  Document d = Document::parse("[Global]\nDoLog=1\n\n[Shell]\nJPG=1");
  d.set("Global", "LogFile", "/tmp/log.txt");
  d.set("Shell", "PNG", "0");
  d.set("JPG Shell", "Quality", "25");
  EXPECT_EQ(d.text(),
            "[Global]\nDoLog=1\nLogFile=/tmp/log.txt\n\n[Shell]\nJPG=1\nPNG=0\n\n[JPG Shell]\nQuality=25\n");
  Document empty;
  empty.set("Global", "DoLog", "0");
  EXPECT_EQ(empty.text(), "[Global]\nDoLog=0\n");
}

TEST(IniWrite, ALineEndInAValueCannotSplitTheFile) {
  Document d;
  d.set("Global", "FileNameAfter", "a\r\n[Shell]\nJPG=0");
  EXPECT_EQ(d.get("Global", "FileNameAfter"), "a  [Shell] JPG=0");
  EXPECT_EQ(d.get("Shell", "JPG"), std::nullopt);
}

TEST(IniFile, WritesReplaceTheFileWholeAndLeaveNoTemporaryFiles) {
  pv::test::TempDir dir;
  const std::string path = dir.file("config.ini");
  spit(path, "# hand-written\n[global]\nDoLog = 1\n");
  ASSERT_TRUE(pv::ini::writeString(path, "Global", "DoLog", "0"));
  ASSERT_TRUE(pv::ini::writeString(path, "Global", "ScanSubDir", "1"));
  EXPECT_EQ(pv::test::readFile(path), "# hand-written\n[global]\nDoLog = 0\nScanSubDir=1\n");
  EXPECT_EQ(pv::ini::readString(path, "GLOBAL", "doLOG", "x"), "0");
  int entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}

TEST(IniFile, AFailedWriteLeavesTheOldFileAsItWas) {
  pv::test::TempDir dir;
  // The "file" is a folder: no temporary file can be renamed over it.
  fs::create_directories(dir.file("config.ini"));
  EXPECT_FALSE(pv::ini::writeString(dir.file("config.ini"), "Global", "DoLog", "1"));
  EXPECT_TRUE(fs::is_directory(dir.file("config.ini")));
  // A folder that does not exist cannot take the file either.
  EXPECT_FALSE(pv::ini::writeString(dir.file("missing/config.ini"), "Global", "DoLog", "1"));
  int entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1);
}
