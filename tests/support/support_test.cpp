#include "tests/support/support.h"

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using pv::test::TempDir;

TEST(TempDir, RemovesEverythingInsideIncludingLockedFolders) {
  fs::path kept;
  {
    TempDir dir;
    kept = dir.path();
    fs::create_directories(dir.path() / "a" / "b");
    std::ofstream(dir.file("a/b/file.txt")) << "x";
    fs::permissions(dir.path() / "a", fs::perms::none);
    EXPECT_TRUE(fs::is_directory(kept));
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(TempDir, EachIsDistinct) {
  TempDir a, b;
  EXPECT_NE(a.path(), b.path());
}

TEST(DataDirGuard, PointsTheDataFolderAtATemporaryFolderAndRestoresIt) {
  const char* before = std::getenv("PICTORAVINE_DATA_DIR");
  std::string old = before ? before : "";
  {
    pv::test::DataDirGuard guard;
    ASSERT_NE(std::getenv("PICTORAVINE_DATA_DIR"), nullptr);
    EXPECT_EQ(std::getenv("PICTORAVINE_DATA_DIR"), guard.str());
    EXPECT_TRUE(fs::is_directory(guard.path()));
  }
  const char* after = std::getenv("PICTORAVINE_DATA_DIR");
  EXPECT_EQ(after ? std::string(after) : std::string(), old);
}

TEST(SyntheticImages, AreDeterministicAndHaveTheAskedLayout) {
  for (int ch : {1, 3, 4}) {
    cv::Mat a = pv::test::noiseImage(17, 9, ch, 42), b = pv::test::noiseImage(17, 9, ch, 42);
    EXPECT_EQ(a.channels(), ch);
    EXPECT_EQ(a.cols, 17);
    EXPECT_EQ(a.rows, 9);
    EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(a, pv::test::noiseImage(17, 9, ch, 43), cv::NORM_INF), 0.0);
  }
  cv::Mat c = pv::test::checkerImage(8, 8, 3, 4);
  EXPECT_NE(c.at<cv::Vec3b>(0, 0), c.at<cv::Vec3b>(0, 4));
  EXPECT_EQ(c.at<cv::Vec3b>(0, 0), c.at<cv::Vec3b>(4, 4));
}

TEST(RunProcess, CollectsOutputErrorInputAndExitCode) {
  auto r = pv::test::runProcess("/bin/sh", {"-c", "cat; echo oops >&2; exit 3"}, {}, "hello");
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "hello");
  EXPECT_EQ(r.err, "oops\n");
  auto e = pv::test::runProcess("/bin/sh", {"-c", "printf %s \"$PV_PROBE\""}, {"PV_PROBE=on"});
  EXPECT_EQ(e.out, "on");
  auto k = pv::test::runProcess("/bin/sh", {"-c", "kill -9 $$"});
  EXPECT_EQ(k.exitCode, 128 + 9);
}
