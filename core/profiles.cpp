#include "core/profiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/paths.h"

namespace fs = std::filesystem;

namespace pv {

std::string profilesFolder(bool create) {
  const std::string folder = dataFolder(create) + "/Profiles/";
  if (create) {
    std::error_code ec;
    fs::create_directory(folder, ec);
  }
  return folder;
}

bool validProfileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string profilePath(std::string_view name, bool create) {
  return profilesFolder(create) + std::string(name) + kProfileExtension;
}

std::vector<std::string> listProfileNames() {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(profilesFolder(false), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::error_code kind;
    if (it->is_directory(kind)) continue;
    const std::string file = it->path().filename().string();
    // Only the exact extension: a profile is opened by its name + ".pvp",
    // so "X.PVP" could be listed but never loaded.
    if (file.size() <= 4 || !file.ends_with(kProfileExtension)) continue;
    names.push_back(file.substr(0, file.size() - 4));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace pv
