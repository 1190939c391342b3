#include "app/console.h"

#include <gtest/gtest.h>

#include "tests/support/support.h"

using pv::test::runProcess;

TEST(Executable, PrintsItsVersion) {
  pv::test::DataDirGuard data;
  for (const char* sw : {"--version", "/version", "/VERSION"}) {
    auto r = runProcess(PV_EXECUTABLE, {sw});
    EXPECT_EQ(r.exitCode, 0) << sw;
    EXPECT_EQ(r.out, "Pictoravine 4.949\n") << sw;
    EXPECT_EQ(r.err, "");
  }
}

TEST(Executable, ListsTheLibrariesItRunsWith) {
  auto r = runProcess(PV_EXECUTABLE, {"--libraries"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("libjpeg-turbo "), std::string::npos);
  EXPECT_NE(r.out.find("OpenCV "), std::string::npos);
}

TEST(Executable, WithoutArgumentsOrDisplaySaysTheWindowNeedsOne) {
  auto none = runProcess(PV_EXECUTABLE, {});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("needs a display"), std::string::npos);
}

TEST(Executable, TheFormatsPageMatchesWhatTheBuildSays) {
  auto r = runProcess(PV_EXECUTABLE, {"--formats"});
  ASSERT_EQ(r.exitCode, 0);
  const std::string doc = pv::test::readFile(std::string(PV_SOURCE_DIR) + "/docs/formats.md");
  const std::size_t start = doc.find("```\n"), end = doc.rfind("```");
  ASSERT_NE(start, std::string::npos);
  ASSERT_GT(end, start);
  EXPECT_EQ(doc.substr(start + 4, end - start - 4), r.out) << "docs/formats.md is out of date: paste the output of "
                                                              "pictoravine --formats into it";
  EXPECT_NE(r.out.find("  PNG   -"), std::string::npos);
}
