// The five file managers as data: what the options page says of each, Dolphin's
// service menu written from the menu model (and refused into a folder that
// cannot be written), and the hand-off its actions make.
#include "shellext/file_managers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/handoff.h"
#include "core/ini.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::shell::FileManager;

namespace {

void makeProgram(const std::string& path) {
  pv::test::writeFile(path, "#!/bin/sh\n");
  fs::permissions(path, fs::perms::owner_all);
}

}  // namespace

TEST(FileManagers, TheFiveAreListedWithTheBuildsModuleFolders) {
  const std::vector<FileManager> fms = pv::shell::fileManagers();
  ASSERT_EQ(fms.size(), 5u);
  std::string names;
  for (const FileManager& fm : fms) {
    names += fm.program + " ";
    EXPECT_FALSE(fm.folder.empty()) << fm.name;
    EXPECT_EQ(fm.serviceMenu, fm.program == "dolphin") << fm.name;
  }
  EXPECT_EQ(names, "nautilus nemo caja thunar dolphin ");
  EXPECT_EQ(fms[4].folder, pv::shell::serviceMenuFolder());
}

TEST(FileManagers, StatusSaysWhetherEachHasTheMenuAndWhyNot) {
  pv::test::TempDir dir;
  fs::create_directories(dir.file("bin"));
  fs::create_directories(dir.file("ext"));
  fs::create_directories(dir.file("locked"));
  makeProgram(dir.file("bin/caja"));
  pv::test::writeFile(dir.file("ext/module.so"), "module");
  ::chmod(dir.file("locked").c_str(), 0555);
  const bool root = ::geteuid() == 0;  // root writes every folder
  const std::string path = "/nonexistent:" + dir.file("bin");
  const struct {
    const char* name;
    FileManager fm;
    bool enabled;
    bool installed, hasMenu;
    std::string text, detail;
  } cases[] = {
      {"not on PATH", {"Nemo", "Cinnamon", "nemo", dir.file("ext"), "module.so"}, true, false, false,
       "not installed", "nemo is not on this computer's PATH"},
      {"module in place", {"Caja", "MATE", "caja", dir.file("ext"), "module.so"}, true, true, true, "has the menu",
       dir.file("ext/module.so")},
      {"module in place, menu off", {"Caja", "MATE", "caja", dir.file("ext"), "module.so"}, false, true, true,
       "has the menu, switched off above", dir.file("ext/module.so")},
      {"module folder missing", {"Caja", "MATE", "caja", dir.file("gone"), "module.so"}, true, true, false,
       "no menu: module folder missing", "its module folder " + dir.file("gone") + " does not exist"},
      {"module not in a writable folder", {"Caja", "MATE", "caja", dir.file("ext"), "other.so"}, true, true, false,
       "no menu: module not installed", "other.so is not in " + dir.file("ext")},
      {"no module in this build", {"Caja", "MATE", "caja", "", "module.so"}, true, true, false,
       "no menu in this build", "this build of Pictoravine has no module for it"},
      {"service menu not written yet", {"Dolphin", "KDE", "caja", dir.file("ext"), "menu.desktop", true}, true, true,
       false, "written when these options are saved",
       dir.file("ext/menu.desktop") + " is written when these options are saved"},
      {"service menu, menu off", {"Dolphin", "KDE", "caja", dir.file("ext"), "menu.desktop", true}, false, true,
       false, "no menu while switched off", dir.file("ext/menu.desktop") + " is removed while the menu is switched off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const pv::shell::MenuStatus s = pv::shell::statusOf(c.fm, c.enabled, path);
    EXPECT_EQ(s.installed, c.installed);
    EXPECT_EQ(s.hasMenu, c.hasMenu);
    EXPECT_EQ(s.text, c.text);
    EXPECT_EQ(s.detail, c.detail);
  }
  if (!root) {
    const FileManager fm{"Caja", "MATE", "caja", dir.file("locked"), "module.so"};
    const pv::shell::MenuStatus s = pv::shell::statusOf(fm, true, path);
    EXPECT_EQ(s.text, "no menu: install the package");
    EXPECT_EQ(s.detail, "module.so is not in " + dir.file("locked") +
                            ", which only the system's administrator can write (install the Pictoravine package)");
  }
  ::chmod(dir.file("locked").c_str(), 0755);
}

class ServiceMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::test::writeFile(data_.file("config.ini"), "[Global]\n[Shell]\nJPG=1\nPNG=1\nCLP=1\n");
    fs::create_directories(data_.file("Profiles"));
    pv::test::writeFile(data_.file("Profiles/Web.pvp"), "/filter flip\r\n");
  }
  std::string config() const { return data_.file("config.ini"); }
  pv::test::DataDirGuard data_;
  pv::test::TempDir dir_;
};

TEST_F(ServiceMenu, HasAnActionPerFormatShownAndOpenAndCustomize) {
  const std::string text = pv::shell::serviceMenuText(pv::shell::ShellMenu::build(config(), {"Web"}),
                                                      "/opt/my apps/pictoravine");
  const pv::ini::Document doc = pv::ini::Document::parse(text);
  EXPECT_EQ(doc.get("Desktop Entry", "Type").value_or(""), "Service");
  EXPECT_EQ(doc.get("Desktop Entry", "X-KDE-Submenu").value_or(""), "Pictoravine");
  EXPECT_EQ(doc.get("Desktop Entry", "Actions").value_or(""), "convert-JPG;convert-PNG;convert-CLP;customize;open;");
  const struct {
    const char* action;
    const char* name;
    const char* exec;
  } rows[] = {
      {"convert-JPG", "Convert to JPG", R"("/opt/my apps/pictoravine" --menu-hand-off convert JPG %F)"},
      {"convert-CLP", "Copy to Clipboard", R"("/opt/my apps/pictoravine" --menu-hand-off convert CLP %F)"},
      {"open", "Open With Pictoravine", R"("/opt/my apps/pictoravine" --menu-hand-off open %F)"},
      {"customize", "Customize Above Menu", R"("/opt/my apps/pictoravine" --menu-hand-off customize)"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.action);
    const std::string group = std::string("Desktop Action ") + r.action;
    EXPECT_EQ(doc.get(group, "Name").value_or(""), r.name);
    EXPECT_EQ(doc.get(group, "Exec").value_or(""), r.exec);
  }
  // A program path with the letters Exec lines escape.
  const std::string odd = pv::shell::serviceMenuText(pv::shell::ShellMenu::build(config(), {}), "/a\"b$c\\d%e");
  EXPECT_NE(odd.find(R"(Exec="/a\\"b\\$c\\\\d%%e" --menu-hand-off open %F)"), std::string::npos) << odd;
}

TEST_F(ServiceMenu, IsWrittenExecutableRemovedWhenOffAndRefusedWhereItCannotBeWritten) {
  const std::string folder = dir_.file("kio/servicemenus");
  const std::string file = folder + "/pictoravine.desktop";
  EXPECT_EQ(pv::shell::updateServiceMenu(config(), "/usr/bin/pictoravine", folder), "");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_NE(pv::test::readFile(file).find("convert-PNG"), std::string::npos);

  pv::ini::writeString(config(), "Shell", "PNG", "0");
  EXPECT_EQ(pv::shell::updateServiceMenu(config(), "/usr/bin/pictoravine", folder), "");
  EXPECT_EQ(pv::test::readFile(file).find("convert-PNG"), std::string::npos);

  pv::ini::writeString(config(), "Global", "ShellContextEnabled", "0");
  EXPECT_EQ(pv::shell::updateServiceMenu(config(), "/usr/bin/pictoravine", folder), "");
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(pv::shell::updateServiceMenu(config(), "/usr/bin/pictoravine", folder), "");  // already gone

  // A folder that cannot be made (a file is in the way): a message, and the
  // settings and everything else are left as they were.
  pv::ini::writeString(config(), "Global", "ShellContextEnabled", "1");
  const std::string before = pv::test::readFile(config());
  pv::test::writeFile(dir_.file("blocked"), "a file");
  const std::string problem =
      pv::shell::updateServiceMenu(config(), "/usr/bin/pictoravine", dir_.file("blocked/servicemenus"));
  EXPECT_EQ(problem.rfind("Dolphin's menu could not be written: the folder " + dir_.file("blocked/servicemenus"), 0),
            0u)
      << problem;
  EXPECT_EQ(pv::test::readFile(config()), before);
  EXPECT_EQ(pv::test::readFile(dir_.file("blocked")), "a file");
}

TEST_F(ServiceMenu, HandOffTakesTheGivenFilesLiterally) {
  pv::test::TempDir pics;
  const std::string a = pics.file("a [1] *.jpg"), b = pics.file("b|c.png"), text = pics.file("notes.txt");
  for (const std::string& f : {a, b, text}) pv::test::writeFile(f, "x");
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::optional<std::vector<std::string>> head;  // the arguments before the list file
    std::vector<std::string> listed;
  } cases[] = {
      {"not a hand-off", {"/convert", "PNG"}, std::nullopt, {}},
      {"convert", {"--menu-hand-off", "convert", "PNG", a, text, b}, {{"/shell", "/convert", "PNG", "/list"}}, {a, b}},
      {"open", {"--menu-hand-off", "open", b}, {{"/shell", "/open", "/list"}}, {b}},
      {"customize", {"--menu-hand-off", "customize"}, {{"/shell", "/shelloptions"}}, {}},
      {"no file the program reads", {"--menu-hand-off", "convert", "PNG", text}, {{}}, {}},
      {"an unknown action", {"--menu-hand-off", "erase", a}, {{}}, {}},
      {"convert without a format", {"--menu-hand-off", "convert"}, {{}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto got = pv::shell::handOffArguments(c.args, config());
    ASSERT_EQ(got.has_value(), c.head.has_value());
    if (!got) continue;
    const std::vector<std::string>& head = *c.head;
    if (head.empty() || head.back() != "/list") {
      EXPECT_EQ(*got, head);
      continue;
    }
    ASSERT_EQ(got->size(), head.size() + 1);
    EXPECT_EQ(std::vector<std::string>(got->begin(), got->end() - 1), head);
    const std::string list = got->back();
    EXPECT_TRUE(pv::isHandOffList(list)) << list;
    std::string expected;
    for (const std::string& f : c.listed) expected += f + "\n";
    EXPECT_EQ(pv::test::readFile(list), expected);
    fs::remove(list);
  }
}
