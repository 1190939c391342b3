#include "app/profiles.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "core/ini.h"
#include "core/paths.h"
#include "core/profiles.h"

namespace pv::app {

namespace {

bool report(const Settings& settings, Prompter& prompter, const char* text) {
  if (settings.ShowMessages) prompter.error(settings.caption, text);
  return false;
}

std::string_view trimEnd(std::string_view name) {
  while (!name.empty() && (name.back() == '\r' || name.back() == '\n' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

// A rename that never replaces an existing file (it would destroy another
// profile). File systems without RENAME_NOREPLACE get a check before the rename.
bool renameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  return !entryExists(to) && std::rename(from.c_str(), to.c_str()) == 0;
}

// Appends the filters of a profile file: whole lines, whatever their length,
// with any mix of LF, CR LF and CR CR LF.
void appendLines(std::istream& in, filters::FilterChain& chain) {
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty()) chain.appendFromText(line);
  }
}

std::string chainText(const filters::FilterChain& chain) {
  std::string text;
  for (const std::string& t : chain.texts()) text += t + "\n";
  return text;
}

std::string lastChainPath() { return dataFolder() + "/" + kLastChainFile; }

}  // namespace

void loadLastChain(filters::FilterChain& chain) {
  std::ifstream in(lastChainPath(), std::ios::binary);
  if (in) appendLines(in, chain);
}

bool saveLastChain(const filters::FilterChain& chain) {
  return ini::replaceFileAtomically(lastChainPath(), chainText(chain));
}

bool loadProfile(const Settings& settings, filters::FilterChain& chain, std::string_view name, Prompter& prompter) {
  name = trimEnd(name);
  if (!validProfileName(name)) return report(settings, prompter, kProfileLoadFailedText);
  std::ifstream in(profilePath(name), std::ios::binary);
  if (!in) return report(settings, prompter, kProfileLoadFailedText);
  appendLines(in, chain);
  return true;
}

bool saveProfile(const Settings& settings, const filters::FilterChain& chain, std::string_view name,
                 Prompter& prompter) {
  if (!validProfileName(name)) return report(settings, prompter, kProfileSaveFailedText);
  const std::string path = profilePath(name);
  // Any entry at the path counts, so an unreadable profile is not replaced unasked.
  if (entryExists(path)) {
    if (!settings.ShowMessages || !prompter.askYesNo(settings.caption, kProfileExistsText)) return false;
  }
  if (!ini::replaceFileAtomically(path, chainText(chain))) return report(settings, prompter, kProfileSaveFailedText);
  return true;
}

std::vector<std::string> listProfiles() { return listProfileNames(); }

bool renameProfile(const Settings& settings, std::string_view oldName, std::string_view newName, Prompter& prompter) {
  if (!validProfileName(oldName) || !validProfileName(newName) ||
      !renameWithoutReplacing(profilePath(oldName), profilePath(newName)))
    return report(settings, prompter, kProfileRenameFailedText);
  return true;
}

bool deleteProfile(const Settings& settings, std::string_view name, Prompter& prompter) {
  if (!validProfileName(name) || std::remove(profilePath(name).c_str()) != 0)
    return report(settings, prompter, kProfileDeleteFailedText);
  return true;
}

}  // namespace pv::app
