#pragma once
// Where saved filter chains (profiles) live and which names they may have;
// shared by the program and the file-manager plugin, which lists them.

#include <string>
#include <string_view>
#include <vector>

namespace pv {

inline constexpr const char* kProfileExtension = ".pvp";

// <data folder>/Profiles/, created (one level) with `create`.
std::string profilesFolder(bool create = true);

// A name that stays inside the profiles folder: not empty, no '/', no NUL,
// not "." or "..".
bool validProfileName(std::string_view name);

// <profiles folder><name>.pvp
std::string profilePath(std::string_view name, bool create = true);

// The names of the profile files (entries ending in ".pvp" that are not
// folders), without the extension, sorted by name.
std::vector<std::string> listProfileNames();

}  // namespace pv
