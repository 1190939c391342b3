#include "app/startup.h"

#include <cstdlib>
#include <exception>
#include <filesystem>

#include "app/ports.h"
#include "engine/lead.h"
#include "formats/format.h"

namespace fs = std::filesystem;

namespace pv::app {

std::unique_ptr<formats::Format> createStartFormat(const Settings& settings) {
  return formats::CreateFormatByIndex(settings.DefaultFormatType, settings.configPath);
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
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/nautilus/extensions-4";
}

bool registerShellExtension(const Settings& settings, bool doRegister) {
  std::error_code ec;
  const fs::path source(settings.shellLibraryPath);
  const fs::path target = fs::path(extensionFolder()) / source.filename();
  if (!doRegister) {
    fs::remove(target, ec);
    return !ec && !fs::exists(target, ec);
  }
  if (!fs::is_regular_file(source, ec)) return false;
  fs::create_directories(target.parent_path(), ec);
  // Copy beside the target and rename, so a running file manager never maps a
  // half-copied module.
  const fs::path tmp = target.string() + ".new";
  fs::copy_file(source, tmp, fs::copy_options::overwrite_existing, ec);
  if (ec) return false;
  fs::rename(tmp, target, ec);
  if (ec) fs::remove(tmp, ec);
  return fs::is_regular_file(target, ec);
}

}  // namespace pv::app
