#include "core/paths.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::test::EnvGuard;
using pv::test::TempDir;

TEST(DataFolder, ComesFromTheEnvironmentAndIsCreatedWithParents) {
  TempDir tmp;
  EnvGuard data("PICTORAVINE_DATA_DIR", tmp.file("deep/er/Pictoravine/"));
  EXPECT_EQ(pv::dataFolder(false), tmp.file("deep/er/Pictoravine"));
  EXPECT_FALSE(fs::exists(tmp.file("deep")));
  EXPECT_EQ(pv::dataFolder(), tmp.file("deep/er/Pictoravine"));
  EXPECT_TRUE(fs::is_directory(tmp.file("deep/er/Pictoravine")));
}

TEST(DataFolder, FallsBackToXdgConfigHomeThenHome) {
  TempDir tmp;
  EnvGuard data("PICTORAVINE_DATA_DIR", std::nullopt);
  {
    EnvGuard xdg("XDG_CONFIG_HOME", tmp.file("xdg"));
    EXPECT_EQ(pv::dataFolder(), tmp.file("xdg/Pictoravine"));
  }
  EnvGuard xdg("XDG_CONFIG_HOME", std::nullopt);
  EnvGuard home("HOME", tmp.str());
  EXPECT_EQ(pv::dataFolder(), tmp.file(".config/Pictoravine"));
  EXPECT_TRUE(fs::is_directory(tmp.file(".config/Pictoravine")));
}

TEST(DataFolder, AFileInTheWayIsLeftAloneAndThePathStillReturned) {
  TempDir tmp;
  std::ofstream(tmp.file("blocker")) << "x";
  EnvGuard data("PICTORAVINE_DATA_DIR", tmp.file("blocker/Pictoravine"));
  EXPECT_EQ(pv::dataFolder(), tmp.file("blocker/Pictoravine"));
  EXPECT_TRUE(fs::is_regular_file(tmp.file("blocker")));
}

TEST(ProgramFolder, IsTheInstallDirWhenSetElseTheExecutablesFolder) {
  {
    EnvGuard install("PICTORAVINE_INSTALL_DIR", "/opt/pv/");
    EXPECT_EQ(pv::programFolder(), "/opt/pv");
  }
  EnvGuard install("PICTORAVINE_INSTALL_DIR", std::nullopt);
  EXPECT_EQ(pv::programFolder(), fs::read_symlink("/proc/self/exe").parent_path().string());
}

TEST(ResourcePath, FindsTheProgramFolderOrTheSharedDataFolder) {
  TempDir tmp;
  fs::create_directories(tmp.path() / "bin");
  fs::create_directories(tmp.path() / "share/pictoravine");
  EnvGuard install("PICTORAVINE_INSTALL_DIR", tmp.file("bin"));
  EXPECT_EQ(pv::resourcePath("data.dat"), tmp.file("bin/data.dat"));  // nothing exists yet
  std::ofstream(tmp.file("share/pictoravine/data.dat")) << "x";
  EXPECT_EQ(pv::resourcePath("data.dat"), tmp.file("bin/../share/pictoravine/data.dat"));
  std::ofstream(tmp.file("bin/data.dat")) << "x";
  EXPECT_EQ(pv::resourcePath("data.dat"), tmp.file("bin/data.dat"));
}
