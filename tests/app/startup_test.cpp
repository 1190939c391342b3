#include "app/startup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "app/ports.h"
#include "engine/lead.h"
#include "engine/status.h"
#include "formats/format.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;

namespace {

struct RecordingPrompter : pv::app::Prompter {
  std::vector<std::string> shown;
  void error(const std::string& caption, const std::string& text) override { shown.push_back(caption + "|" + text); }
  void information(const std::string& caption, const std::string& text) override {
    shown.push_back(caption + "|" + text);
  }
  bool askYesNo(const std::string&, const std::string&) override { return false; }
};

struct ProbeLead : pv::engine::CLead {
  short status = 0;
  bool fail = false;
  std::vector<std::string> loads;
  short LoadImage(const std::string& path, short bits, int page, int count) override {
    if (fail) throw std::runtime_error("engine gone");
    loads.push_back(path + " " + std::to_string(bits) + " " + std::to_string(page) + " " + std::to_string(count));
    return status;
  }
};

}  // namespace

TEST(Startup, TheStartFormatIsTheRegistryEntryOfDefaultFormatType) {
  pv::test::DataDirGuard data;
  std::ofstream(data.file("config.ini")) << "[Global]\nDefaultFormatType=6\n";
  auto s = pv::app::loadSettings();
  auto f = pv::app::createStartFormat(s);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->key, "CLP");
  std::ofstream(data.file("config.ini")) << "[Global]\nDefaultFormatType=77\n";
  EXPECT_EQ(pv::app::createStartFormat(pv::app::loadSettings())->key, "JPG");
}

TEST(Startup, ProbeLoadsDataDatAndReportsAFailureOnlyWhenItShould) {
  pv::test::DataDirGuard data;
  auto s = pv::app::loadSettings();
  ProbeLead lead;
  RecordingPrompter prompter;
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, true), 0);
  EXPECT_EQ(lead.loads, std::vector<std::string>{s.dataDatPath + " 0 0 1"});
  EXPECT_TRUE(fs::is_regular_file(s.dataDatPath)) << s.dataDatPath;  // shipped beside the program
  EXPECT_TRUE(prompter.shown.empty());

  lead.status = 20010;
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, false), 20010);  // no window yet
  s.ShowMessages = false;
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, true), 20010);  // silent
  EXPECT_TRUE(prompter.shown.empty());
  s.ShowMessages = true;
  pv::app::probeImagingControl(lead, s, prompter, true);
  lead.fail = true;
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, false), -1);
  EXPECT_EQ(prompter.shown,
            (std::vector<std::string>{
                "Pictoravine Image Converter|Error: Could not find data.dat. Please reinstall the program.",
                "Pictoravine Image Converter|Error 4101: Could not initialize image converter. Please re-install "
                "Pictoravine and reboot."}));
}

TEST(Startup, TheRealEngineLoadsTheShippedDataDat) {
  pv::test::DataDirGuard data;
  auto s = pv::app::loadSettings();
  pv::engine::CLead lead;
  RecordingPrompter prompter;
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, true), 0);
  EXPECT_GT(lead.GetImageWidth(), 0);
  EXPECT_TRUE(prompter.shown.empty());
  s.dataDatPath = data.file("missing.dat");
  EXPECT_EQ(pv::app::probeImagingControl(lead, s, prompter, true), pv::engine::kFileNotFound);
  EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST(Startup, ServiceErrorTexts) {
  EXPECT_EQ(pv::app::serviceErrorText(4001, 2147746132u),
            "Error 4001-2147746132: Could not initialize image converter. Please re-install Pictoravine and reboot.");
  EXPECT_EQ(pv::app::serviceErrorText(4007, 0).substr(0, 11), "Error 4007-");
}

TEST(Startup, SwitchingTheMenuOnInstallsThePluginOnceWhereAFileManagerLoadsIt) {
  using R = pv::app::ShellRegistration;
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  pv::test::EnvGuard ext("PICTORAVINE_EXTENSION_DIR", dir.file("ext/extensions-4"));
  fs::create_directories(dir.file("bin"));
  const std::string installed = dir.file("ext/extensions-4/libextpv.so");
  auto s = pv::app::loadSettings();
  s.shellLibraryPath = dir.file("libextpv.so");
  const struct {
    const char* name;
    bool fileManager, moduleBeside, on;
    R result;
    bool installedAfter;
  } cases[] = {
      {"switched off: the setting alone hides it", false, false, false, R::Done, false},
      {"no file manager", false, true, true, R::NoFileManager, false},
      {"no module to install", true, false, true, R::ModuleMissing, false},
      {"installed from beside the program", true, true, true, R::Done, true},
      {"already installed", true, false, true, R::Done, true},
      {"switched off again: the module stays for other users", true, true, false, R::Done, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir.file("bin/nautilus"));
    if (c.fileManager) {
      pv::test::writeFile(dir.file("bin/nautilus"), "#!/bin/sh\n");
      fs::permissions(dir.file("bin/nautilus"), fs::perms::owner_all);
    }
    fs::remove(s.shellLibraryPath);
    if (c.moduleBeside) pv::test::writeFile(s.shellLibraryPath, "module bytes");
    pv::test::EnvGuard path("PATH", dir.file("bin"));
    EXPECT_EQ(pv::app::registerShellExtension(s, c.on), c.result);
    EXPECT_EQ(fs::exists(installed), c.installedAfter);
    EXPECT_EQ(pv::app::shellRegistrationText(c.result).empty(), c.result == R::Done);
  }
  EXPECT_EQ(pv::test::readFile(installed), "module bytes");
  EXPECT_FALSE(fs::exists(installed + ".new"));
}
