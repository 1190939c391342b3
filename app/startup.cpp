#include "app/startup.h"

#include <unistd.h>

#include <exception>
#include <filesystem>

#include "app/ports.h"
#include "engine/lead.h"
#include "formats/format.h"
#include "shellext/file_managers.h"

namespace fs = std::filesystem;

namespace pv::app {

std::unique_ptr<formats::Format> createStartFormat(const Settings& settings) {
  return formats::createFormatByIndex(settings.DefaultFormatType, settings.configPath);
}

std::string serviceErrorText(int number, unsigned result) {
  return "Error " + std::to_string(number) + "-" + std::to_string(result) +
         ": Could not initialize image converter. Please re-install Pictoravine and reboot.";
}

int probeImagingControl(engine::CLead& lead, const Settings& settings, Prompter& prompter, bool windowExists) {
  try {
    int status = lead.LoadImage(settings.dataDatPath, 0, 0, 1);
    if (status != 0 && windowExists && settings.ShowMessages) prompter.error(settings.caption, kDataDatMissing);
    return status;
  } catch (const std::exception&) {
    prompter.error(settings.caption, kEngineUnusable);
    return -1;
  }
}

namespace {

// Installs one module into its file manager's folder when it is not there.
ShellRegistration installModule(const fs::path& source, const fs::path& target) {
  std::error_code ec;
  if (fs::is_regular_file(target, ec)) return ShellRegistration::Done;
  if (!fs::is_regular_file(source, ec)) return ShellRegistration::ModuleMissing;
  fs::create_directories(target.parent_path(), ec);
  if (::access(target.parent_path().c_str(), W_OK) == 0) {
    // Copied beside the target and renamed, so a running file manager never
    // maps a half-copied module.
    const fs::path tmp = target.string() + ".new";
    fs::copy_file(source, tmp, fs::copy_options::overwrite_existing, ec);
    if (!ec) fs::rename(tmp, target, ec);
    if (ec) fs::remove(tmp, ec);
  } else {
    runToSuccess("pkexec", {"install", "-D", "-m", "0644", source.string(), target.string()});
  }
  return fs::is_regular_file(target, ec) ? ShellRegistration::Done : ShellRegistration::InstallFailed;
}

}  // namespace

ShellRegistration registerShellExtension(const Settings& settings, bool doRegister) {
  if (!doRegister) return ShellRegistration::Done;  // the setting alone hides the menu
  bool any = false;
  ShellRegistration worst = ShellRegistration::Done;
  const fs::path modules = fs::path(settings.shellLibraryPath).parent_path();
  for (const shell::FileManager& fm : shell::fileManagers()) {
    if (!shell::onPath(fm.program, shell::searchPath())) continue;
    any = true;
    // Dolphin's service menu is written with the settings; a build without
    // a module for a file manager has nothing to install.
    if (fm.serviceMenu || fm.folder.empty()) continue;
    const ShellRegistration r = installModule(modules / fm.file, fs::path(fm.folder) / fm.file);
    if (static_cast<int>(r) > static_cast<int>(worst)) worst = r;
  }
  return any ? worst : ShellRegistration::NoFileManager;
}

std::string shellRegistrationText(ShellRegistration result) {
  switch (result) {
    case ShellRegistration::Done:
      return {};
    case ShellRegistration::NoFileManager:
      return "No file manager that shows Pictoravine's menu is installed (Files, Nemo, Caja, Thunar or "
             "Dolphin). The setting is kept for when one is.";
    case ShellRegistration::ModuleMissing:
      return "A file manager's plugin is not installed with this copy of Pictoravine, so its menu cannot be "
             "shown.";
    case ShellRegistration::InstallFailed:
      return "A file manager's plugin could not be installed into its folder. Install the Pictoravine "
             "package, or install it there as administrator.";
  }
  return {};
}

std::function<void(bool)> shellMenuSwitch(const Settings& settings, Prompter& prompter) {
  return [&settings, &prompter](bool on) {
    const std::string problem = shellRegistrationText(registerShellExtension(settings, on));
    if (!problem.empty()) prompter.information(settings.caption, problem);
  };
}

}  // namespace pv::app
