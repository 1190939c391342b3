// The "Pictoravine" menu as data: accepted files, the items and offsets built
// from config.ini and the profiles, what each offset does, and the program's
// command line with its hand-off list.
#include "shellext/menu_model.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/handoff.h"
#include "core/ini.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::shell::Action;
using pv::shell::MenuEntry;
using pv::shell::ShellMenu;

namespace {

// One line per entry: "label", "(label)" greyed, "-" a separator,
// "label {...}" a submenu, "*" before a checked label, "@n" its offset.
std::string outline(const std::vector<MenuEntry>& entries) {
  std::string out;
  for (const MenuEntry& e : entries) {
    if (!out.empty()) out += " | ";
    switch (e.kind) {
      case MenuEntry::Kind::Separator:
        out += "-";
        break;
      case MenuEntry::Kind::Greyed:
        out += "(" + e.label + ")";
        break;
      case MenuEntry::Kind::Submenu:
        out += e.label + " {" + outline(e.children) + "}";
        break;
      case MenuEntry::Kind::Item:
        out += (e.checked ? "*" : "") + e.label + "@" + std::to_string(e.offset);
        break;
    }
  }
  return out;
}

}  // namespace

TEST(ShellMenu, AcceptsLocalFilesByTheirLastExtension) {
  const struct {
    std::string path;
    bool accepted;
  } cases[] = {
      {"/photos/A.JPG", true},       {"/photos/b.txt", false},      {"/photos/x.jpg.bak", false},
      {"/photos/scan.TIFF", true},   {"/photos/README", false},     {"/photos/dir.jpg/file", false},
      {"/a b/\"q\" é.png", true},    {"", false},                   {"relative.png", false},
      {"/photos/.png", true},        {"/photos/x.pspimage", true},  {"/photos/x.jpeg ", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(pv::shell::acceptedFiles({c.path}).size(), c.accepted ? 1u : 0u);
  }
  EXPECT_EQ(pv::shell::acceptedFiles({"/p/A.JPG", "/p/b.txt", "", "/p/c.gif"}),
            (std::vector<std::string>{"/p/A.JPG", "/p/c.gif"}));
}

TEST(ShellMenu, ItemsAndOffsetsFollowTheShownFormatsAndTheProfiles) {
  const struct {
    const char* name;
    std::string config;
    std::vector<std::string> profiles;
    std::string outline;
    int count;
  } cases[] = {
      {"two formats, no profiles", "[Shell]\nJPG=1\nCLP=1\nPNG=0\n", {},
       "Convert to JPG@0 | Copy to Clipboard@1 | - | Customize Above Menu@2 | Open With Pictoravine@3", 4},
      {"nothing shown, B the default", "[Global]\nDefaultShellContextProfile=B\n", {"A", "B"},
       "(No formats chosen to show) | - | Current Profile {A@0 | *B@1 | - | None@2} | - | "
       "Customize Above Menu@3 | Open With Pictoravine@4",
       5},
      {"no config at all", "", {},
       "(No formats chosen to show) | - | Customize Above Menu@0 | Open With Pictoravine@1", 2},
      {"no default: None is checked", "[Shell]\nTIF=2\nclp=1\n", {"small"},
       "Convert to TIF@0 | Copy to Clipboard@1 | - | Current Profile {small@2 | - | *None@3} | - | "
       "Customize Above Menu@4 | Open With Pictoravine@5",
       6},
      {"the default compares exactly", "[Global]\nDefaultShellContextProfile=web\n[Shell]\nXWD=1\nJPG=1\n",
       {"Web"}, "Convert to JPG@0 | Convert to XWD@1 | - | Current Profile {Web@2 | - | None@3} | - | "
                "Customize Above Menu@4 | Open With Pictoravine@5",
       6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    pv::test::TempDir dir;
    const std::string config = dir.file("config.ini");
    if (!c.config.empty()) pv::test::writeFile(config, c.config);
    const ShellMenu m = ShellMenu::build(config, c.profiles);
    EXPECT_EQ(outline(m.entries()), c.outline);
    EXPECT_EQ(m.commandCount(), c.count);
  }
}

TEST(ShellMenu, OffsetsTellTheirCommandsAndHelpTexts) {
  pv::test::TempDir dir;
  pv::test::writeFile(dir.file("config.ini"), "[Shell]\nPNG=1\n");
  const ShellMenu m = ShellMenu::build(dir.file("config.ini"), {"A"});
  const struct {
    int offset;
    Action action;
    std::string argument, tip;
  } cases[] = {
      {0, Action::Convert, "PNG", "Convert the selected images to the chosen format"},
      {1, Action::ChooseProfile, "A", "Choose the default profile to use when converting"},
      {2, Action::ClearProfile, "", "Do not use any profile when converting"},
      {3, Action::Customize, "", "Customize the image formats shown in the shell context menu"},
      {4, Action::Open, "", "Open Pictoravine with the chosen images"},
      {5, Action::None, "", ""},
      {-1, Action::None, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(m.commandAt(c.offset).action, c.action);
    EXPECT_EQ(m.commandAt(c.offset).argument, c.argument);
    EXPECT_EQ(m.helpText(c.offset), c.tip);
  }
}

TEST(ShellMenu, TheMenuIsOnUnlessTheUserTurnedItOff) {
  const struct {
    std::string config;
    bool on;
  } cases[] = {{"", true}, {"[Global]\nShellContextEnabled=1\n", true}, {"[Global]\nShellContextEnabled=0\n", false},
               {"[global]\nshellcontextenabled = 0\n", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    pv::test::TempDir dir;
    if (!c.config.empty()) pv::test::writeFile(dir.file("config.ini"), c.config);
    EXPECT_EQ(pv::shell::menuEnabled(dir.file("config.ini")), c.on);
  }
}

TEST(ShellMenu, ProfileChoicesWriteTheDefaultAndStartNothing) {
  pv::test::DataDirGuard data;
  const std::string config = data.file("config.ini");
  pv::test::writeFile(config, "[Global]\nScanSubDir=0\n");
  EXPECT_TRUE(pv::shell::perform({Action::ChooseProfile, "web"}, {"/a.png"}, config, "/bin/pv").empty());
  EXPECT_EQ(pv::ini::readString(config, "Global", "DefaultShellContextProfile", "?"), "web");
  EXPECT_EQ(outline(ShellMenu::build(config, {"web"}).entries()).find("*web") != std::string::npos, true);
  EXPECT_TRUE(pv::shell::perform({Action::ClearProfile, {}}, {"/a.png"}, config, "/bin/pv").empty());
  EXPECT_EQ(pv::ini::readString(config, "Global", "DefaultShellContextProfile", "?"), "");
  EXPECT_NE(outline(ShellMenu::build(config, {"web"}).entries()).find("*None"), std::string::npos);
  EXPECT_EQ(pv::ini::readString(config, "Global", "ScanSubDir", "?"), "0");  // the rest is kept
  EXPECT_TRUE(pv::shell::perform({}, {"/a.png"}, config, "/bin/pv").empty());
}

TEST(ShellMenu, HandOffsGiveTheProgramItsArgumentsAndAListOfTheirOwn) {
  pv::test::DataDirGuard data;
  const std::string config = data.file("config.ini");
  const std::vector<std::string> files = {"/home/me/my photos/A.JPG", "/home/me/\"quoted\" 'x'.png",
                                          "/home/me/été.gif"};
  const std::vector<std::string> convert = pv::shell::perform({Action::Convert, "PNG"}, files, config, "/opt/pv");
  ASSERT_EQ(convert.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(convert.begin(), convert.end() - 1),
            (std::vector<std::string>{"/opt/pv", "/shell", "/convert", "PNG", "/list"}));
  EXPECT_TRUE(pv::isHandOffList(convert.back()));
  EXPECT_EQ(pv::test::readFile(convert.back()),
            "/home/me/my photos/A.JPG\n/home/me/\"quoted\" 'x'.png\n/home/me/été.gif\n");

  // A second hand-off right after the first never touches the first's list.
  const std::string first = pv::test::readFile(convert.back());
  const std::vector<std::string> open = pv::shell::perform({Action::Open, {}}, {files[0]}, config, "/opt/pv");
  ASSERT_EQ(open.size(), 5u);
  EXPECT_EQ(open[2], "/open");
  EXPECT_NE(open.back(), convert.back());
  EXPECT_EQ(pv::test::readFile(open.back()), "/home/me/my photos/A.JPG\n");
  EXPECT_EQ(pv::test::readFile(convert.back()), first);

  EXPECT_EQ(pv::shell::perform({Action::Customize, {}}, files, config, "/opt/pv"),
            (std::vector<std::string>{"/opt/pv", "/shell", "/shelloptions"}));
  EXPECT_TRUE(pv::shell::perform({Action::Convert, "PNG"}, {}, config, "/opt/pv").empty());
}

TEST(ShellMenu, ALostListFolderStartsNothing) {
  pv::test::TempDir dir;
  pv::test::writeFile(dir.file("plain-file"), "x");
  pv::test::EnvGuard data("PICTORAVINE_DATA_DIR", dir.file("plain-file/sub"));
  EXPECT_TRUE(pv::shell::perform({Action::Convert, "PNG"}, {"/a.png"}, dir.file("config.ini"), "/pv").empty());
}

TEST(ShellMenu, TheProgramIsFoundByTheInstallFolderThenBesideTheModule) {
  pv::test::TempDir dir;
  pv::test::writeFile(dir.file("pictoravine"), "#!/bin/sh\n");
  fs::permissions(dir.file("pictoravine"), fs::perms::owner_all);
  {
    pv::test::EnvGuard env("PICTORAVINE_INSTALL_DIR", std::string("/opt/pv"));
    EXPECT_EQ(pv::shell::programPath(dir.str()), "/opt/pv/pictoravine");
  }
  pv::test::EnvGuard env("PICTORAVINE_INSTALL_DIR", std::nullopt);
  EXPECT_EQ(pv::shell::programPath(dir.str()), dir.file("pictoravine"));
  const std::string installed = pv::shell::programPath(dir.file("elsewhere"));
  EXPECT_EQ(fs::path(installed).filename(), "pictoravine");
  EXPECT_TRUE(fs::path(installed).is_absolute());
}

TEST(HandOffLists, AreRecognisedOnlyInTheDataFolderAndStaleOnesAreRemoved) {
  pv::test::DataDirGuard data;
  const auto list = pv::writeHandOffList({"/a.png"});
  ASSERT_TRUE(list);
  const struct {
    std::string path;
    bool handOff;
  } cases[] = {
      {*list, true},
      {data.file("pictoravine.dat"), false},
      {data.file("pictoravine-abc.dat"), false},
      {data.file("pictoravine-abcdef.txt"), false},
      {"/tmp/" + fs::path(*list).filename().string(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(pv::isHandOffList(c.path), c.handOff);
  }
  const auto old = pv::writeHandOffList({"/b.png"});
  ASSERT_TRUE(old);
  fs::last_write_time(*old, fs::file_time_type::clock::now() - std::chrono::hours(30));
  pv::test::writeFile(data.file("pictoravine-zzzzzz.txt"), "not ours");
  EXPECT_EQ(pv::removeStaleHandOffLists(std::chrono::hours(24)), 1);
  EXPECT_FALSE(fs::exists(*old));
  EXPECT_TRUE(fs::exists(*list));
  EXPECT_TRUE(fs::exists(data.file("pictoravine-zzzzzz.txt")));
}
