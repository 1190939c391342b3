#include "core/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace pv {

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string stripTrailingSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

std::string homeFolder() {
  std::string home = env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string programFolder() {
  std::string dir = env("PICTORAVINE_INSTALL_DIR");
  if (!dir.empty()) return stripTrailingSlash(dir);
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return stripTrailingSlash(exe.parent_path().string());
}

std::string configFilePath(bool create) { return dataFolder(create) + "/config.ini"; }

std::string dataFolder(bool create) {
  std::string dir = env("PICTORAVINE_DATA_DIR");
  if (dir.empty()) {
    std::string base = env("XDG_CONFIG_HOME");
    if (base.empty() || base.front() != '/') base = homeFolder() + "/.config";
    dir = stripTrailingSlash(base) + "/Pictoravine";
  }
  dir = stripTrailingSlash(dir);
  if (create) {
    std::error_code ec;
    fs::create_directories(dir, ec);
  }
  return dir;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> resourceFolders() {
  const std::string prog = programFolder();
  return {prog, prog + "/../share/pictoravine"};
}

std::string resourcePath(const std::string& name) {
  const std::vector<std::string> folders = resourceFolders();
  std::error_code ec;
  for (const std::string& folder : folders)
    if (fs::is_regular_file(folder + "/" + name, ec)) return folder + "/" + name;
  return folders.front() + "/" + name;
}

}  // namespace pv
