#include "app/naming.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
