#include "app/naming.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::app::ImageEntry;
using pv::app::makeOutputName;
using pv::app::Settings;

namespace {

ImageEntry entryAt(const std::string& folder, const std::string& name) {
  ImageEntry e;
  e.folder = folder + "/";
  e.fileName = name;
  return e;
}

void touch(const std::string& path) { std::ofstream(path) << "x"; }

}  // namespace

TEST(OutputNaming, SourceFolderPrefixSuffixAndCollisions) {
  pv::test::TempDir dir;
  Settings s;
  const ImageEntry e = entryAt(dir.str(), "holiday.photo.png");
  EXPECT_EQ(makeOutputName(s, e, "JPG", -1, true), dir.file("holiday.photo.jpg"));

  s.FileNameBefore = "new-";
  s.FileNameAfter = "-s";
  touch(dir.file("new-holiday.photo-s.jpg"));
  touch(dir.file("new-holiday.photo-s-1.jpg"));
  EXPECT_EQ(makeOutputName(s, e, "jpg", -1, true), dir.file("new-holiday.photo-s-2.jpg"));
  // Without avoiding names the path is returned as built.
  EXPECT_EQ(makeOutputName(s, e, "jpg", -1, false), dir.file("new-holiday.photo-s.jpg"));

  // Only the first "%n" is replaced; other '%' stay as they are.
  s.FileNameNumber = "(%n)%n%";
  EXPECT_EQ(makeOutputName(s, e, "jpg", -1, true), dir.file("new-holiday.photo-s(1)%n%.jpg"));
  // A pattern without a placeholder gets "-%n".
  s.FileNameNumber = "_v";
  EXPECT_EQ(makeOutputName(s, e, "jpg", -1, true), dir.file("new-holiday.photo-s_v-1.jpg"));
}

TEST(OutputNaming, ASourceNeverBecomesItsOwnOutput) {
  pv::test::TempDir dir;
  touch(dir.file("a.png"));
  Settings s;
  EXPECT_EQ(makeOutputName(s, entryAt(dir.str(), "a.png"), "png", -1, true), dir.file("a-1.png"));
  EXPECT_EQ(makeOutputName(s, entryAt(dir.str(), "a.png"), "png", -1, false), dir.file("a.png"));
}

TEST(OutputNaming, EveryKindOfExistingEntryCountsAsTaken) {
  pv::test::TempDir dir;
  Settings s;
  const ImageEntry e = entryAt(dir.str(), "p.tif");
  touch(dir.file("p.png"));
  chmod(dir.file("p.png").c_str(), 0);  // unreadable, even for its owner (unless root)
  fs::create_directory(dir.file("p-1.png"));
  fs::create_symlink(dir.file("missing"), dir.file("p-2.png"));  // broken link
  EXPECT_EQ(makeOutputName(s, e, "png", -1, true), dir.file("p-3.png"));
}

TEST(OutputNaming, PagesUseTheMultiPagePattern) {
  pv::test::TempDir dir;
  Settings s;
  const ImageEntry e = entryAt(dir.str(), "scan.tif");
  EXPECT_EQ(makeOutputName(s, e, "PNG", 3, true), dir.file("scan-#3.png"));
  s.FileNameMultiPage = "-page";
  EXPECT_EQ(makeOutputName(s, e, "PNG", 3, true), dir.file("scan-page-#3.png"));
  s.FileNameMultiPage = "_p%n_of";
  EXPECT_EQ(makeOutputName(s, e, "png", 12, false), dir.file("scan_p12_of.png"));
  // A name without any dot keeps its whole name as the base.
  EXPECT_EQ(makeOutputName(s, entryAt(dir.str(), "README"), "png", -1, false), dir.file("README.png"));
}

TEST(OutputNaming, OutputFoldersAreCreatedAbsoluteOrBelowTheSource) {
  pv::test::TempDir dir;
  fs::create_directory(dir.file("pics"));
  Settings s;
  s.UseSourcePathForOutput = false;
  const ImageEntry e = entryAt(dir.file("pics"), "a.gif");

  s.OutPutDir = dir.str() + "//out///web";
  EXPECT_EQ(makeOutputName(s, e, "png", -1, true), dir.file("out/web/a.png"));
  EXPECT_TRUE(fs::is_directory(dir.file("out/web")));

  for (const char* relative : {"converted", "converted/", "./converted"}) {
    s.OutPutDir = relative;
    EXPECT_EQ(pv::app::outputFolder(s, e), dir.file("pics/") + (relative[0] == '.' ? "./" : "") + "converted/");
    EXPECT_TRUE(fs::is_directory(dir.file("pics/converted")));
  }
  s.OutPutDir = "";
  EXPECT_EQ(pv::app::outputFolder(s, e), dir.file("pics/"));
  // A folder that cannot be created is still named; the save reports it.
  touch(dir.file("blocker"));
  s.OutPutDir = dir.file("blocker/sub");
  EXPECT_EQ(makeOutputName(s, e, "png", -1, true), dir.file("blocker/sub/a.png"));
}

TEST(OutputNaming, PatternsWithoutRoomForThePlaceholderAreShortened) {
  const std::string full(254, 'x');
  const std::string p = pv::app::effectivePattern(full, "-%n");
  EXPECT_EQ(p.size(), 254u);
  EXPECT_TRUE(p.ends_with("x-%n"));
  // Shortening never splits a UTF-8 character.
  std::string wide;
  while (wide.size() < 252) wide += "é";
  EXPECT_EQ(pv::app::effectivePattern(wide, "-#%n"), wide.substr(0, 250) + "-#%n");
  EXPECT_EQ(pv::app::effectivePattern("ab%ncd", "-%n"), "ab%ncd");
  EXPECT_EQ(pv::app::fillPattern("-#%n", 7), "-#7");
}

// Tokens in the texts before and after a name, for photos with EXIF and
// without (the file's own date then); other '{' are refused when set.
TEST(OutputNaming, TokensSayWhatTheImageIs) {
  pv::test::TempDir dir;
  fs::create_directories(dir.file("Holiday 2024"));
  ImageEntry withExif = entryAt(dir.file("Holiday 2024"), "IMG_0001.JPG");
  withExif.width = 4000, withExif.height = 3000;
  withExif.dateTaken = "2024:07:14 09:08:07";
  withExif.camera = " Canon EOS R6/Mark II ";
  ImageEntry without = entryAt(dir.str(), "scan.png");
  without.width = 10, without.height = 20;
  touch(without.path());
  std::tm tm{};
  tm.tm_year = 2001 - 1900, tm.tm_mon = 1, tm.tm_mday = 3, tm.tm_hour = 4, tm.tm_min = 5, tm.tm_sec = 6;
  tm.tm_isdst = -1;
  const timespec when[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, without.path().c_str(), when, 0), 0);
  struct Case {
    const char* before;
    const char* after;
    const ImageEntry& entry;
    const char* file;
  } cases[] = {
      {"{date}_", "", withExif, "2024-07-14_IMG_0001.jpg"},
      {"{date} {time} ", "_{width}x{height}", withExif, "2024-07-14 09-08-07 IMG_0001_4000x3000.jpg"},
      {"", "_{camera}", withExif, "IMG_0001_Canon EOS R6_Mark II.jpg"},
      {"{folder}-", "-{name}", withExif, "Holiday 2024-IMG_0001-IMG_0001.jpg"},
      {"{date}_{time}_", "", without, "2001-02-03_04-05-06_scan.jpg"},
      {"", "_{camera}", without, "scan_.jpg"},
      {"plain-", "", without, "plain-scan.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before) + "|" + c.after);
    Settings s;
    s.FileNameBefore = c.before;
    s.FileNameAfter = c.after;
    EXPECT_EQ(pv::app::outputFileName(s, c.entry, "JPG", -1), c.file);
    EXPECT_EQ(pv::app::nameTokenProblem(c.before) + pv::app::nameTokenProblem(c.after), "");
  }
  EXPECT_EQ(pv::app::nameTokenProblem("{dat}_"),
            "Unknown name token {dat}: the tokens are {date}, {time}, {width}, {height}, {camera}, {name}, {folder}.");
  EXPECT_NE(pv::app::nameTokenProblem("a{b"), "");
  // A name the tokens make too long is cut to fit, leaving room for a number.
  Settings s;
  s.FileNameBefore = "{name}{name}{name}{name}{name}{name}{name}{name}";
  ImageEntry longName = entryAt(dir.str(), std::string(60, 'x') + ".png");
  const std::string file = pv::app::outputFileName(s, longName, "jpg", -1);
  EXPECT_LE(file.size(), 255u - 24u);
  EXPECT_TRUE(file.ends_with(".jpg"));
  touch(dir.file(file));
  const std::string numbered = makeOutputName(s, longName, "jpg", -1, true);
  EXPECT_LE(fs::path(numbered).filename().string().size(), 255u);
  touch(numbered);
  EXPECT_TRUE(fs::exists(numbered));
}
