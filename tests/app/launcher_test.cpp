// The launcher without a window toolkit starts real programs: documents go
// to xdg-open (here a stand-in on PATH that records its argument).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/ports.h"
#include "tests/support/support.h"

namespace {

// Waits up to five seconds for a file that a started program writes.
std::string waitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) > 0) return pv::test::readFile(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return {};
}

}  // namespace

TEST(SpawnLauncher, StartsProgramsAndOpensDocumentsThroughXdgOpen) {
  pv::test::TempDir dir;
  const std::string bin = dir.file("bin");
  std::filesystem::create_directory(bin);
  pv::test::writeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + dir.str() + "/opened\"\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  const char* path = std::getenv("PATH");
  pv::test::EnvGuard onPath("PATH", bin + ":" + (path ? path : "/usr/bin:/bin"));

  pv::app::SpawnLauncher launcher;
  struct Case {
    const char* what;
    std::function<bool()> call;
    std::string file, expected;
  } cases[] = {
      {"a program with its arguments",
       [&] { return launcher.start("sh", {"-c", "printf '%s' \"$0\" > \"$1\"", "a b", dir.str() + "/started"}); },
       dir.str() + "/started", "a b"},
      {"a document", [&] { return launcher.open("/home/me/My Pictures/log.txt"); }, dir.str() + "/opened",
       "/home/me/My Pictures/log.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.call());
    EXPECT_EQ(waitForFile(c.file), c.expected);
  }
  EXPECT_FALSE(launcher.start("pictoravine-no-such-program", {}));
}
