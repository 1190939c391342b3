#include "app/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>

#include "app/ports.h"
#include "engine/lead.h"
#include "formats/format.h"

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

std::string extensionFolder() {
  if (const char* dir = std::getenv("PICTORAVINE_EXTENSION_DIR"); dir && *dir) return dir;
  return PV_NAUTILUS_EXTENSION_DIR;
}

namespace {

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string dir(rest.substr(0, colon));
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
  }
  return false;
}

}  // namespace

ShellRegistration registerShellExtension(const Settings& settings, bool doRegister) {
  if (!doRegister) return ShellRegistration::Done;  // the setting alone hides the menu
  if (!onPath("nautilus")) return ShellRegistration::NoFileManager;
  std::error_code ec;
  const fs::path source(settings.shellLibraryPath);
  const fs::path target = fs::path(extensionFolder()) / source.filename();
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

std::string shellRegistrationText(ShellRegistration result) {
  switch (result) {
    case ShellRegistration::Done:
      return {};
    case ShellRegistration::NoFileManager:
      return "No file manager that shows Pictoravine's menu is installed (the menu needs Files, also called "
             "Nautilus). The setting is kept for when it is.";
    case ShellRegistration::ModuleMissing:
      return "The file manager's plugin (libextpv.so) is not installed with this copy of Pictoravine, so its "
             "menu cannot be shown.";
    case ShellRegistration::InstallFailed:
      return "The file manager's plugin could not be installed into " + extensionFolder() +
             ". Install the Pictoravine package, or install it there as administrator.";
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
