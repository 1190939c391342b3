#include "app/profiles.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "app/command_line.h"
#include "app/session.h"
#include "core/ini.h"
#include "core/paths.h"
#include "core/profiles.h"
#include "formats/format.h"

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

// The output lines' first words.
constexpr std::string_view kConvert = "/convert ", kMaxSize = "/max-size ", kUseSourceFolder = "/usesf",
                           kOutput = "/output ", kKeepFolders = "/keep-folders";

// Reads an output line into `output`; false when the line is a filter's.
bool readOutputLine(std::string_view line, ProfileOutput& output) {
  if (line.starts_with(kConvert)) {
    output.convertWords = std::string(line.substr(1));
  } else if (line.starts_with(kMaxSize)) {
    output.maxSizeKb = parseSizeKb(line.substr(kMaxSize.size())).value_or(0);
  } else if (line == kUseSourceFolder) {
    output.place = OutputPlace{};
  } else if (line.starts_with(kOutput)) {
    const std::string_view folder = line.substr(kOutput.size());
    output.place = OutputPlace{folder.starts_with('/') ? OutputPlace::kOneFolder : OutputPlace::kBelowSource,
                               std::string(folder)};
  } else if (line == kKeepFolders) {
    output.keepFolders = true;
  } else {
    return false;
  }
  return true;
}

// Appends the filters of a profile file: whole lines, whatever their length,
// with any mix of LF, CR LF and CR CR LF. Output lines go into `output`, or
// nowhere.
void appendLines(std::istream& in, filters::FilterChain& chain, ProfileOutput* output = nullptr) {
  std::string line;
  ProfileOutput ignored;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (!line.empty() && !readOutputLine(line, output ? *output : ignored)) chain.appendFromText(line);
  }
}

std::string chainText(const filters::FilterChain& chain, const ProfileOutput* output = nullptr) {
  std::string text;
  for (const std::string& t : chain.texts()) text += t + "\n";
  if (!output) return text;
  if (!output->convertWords.empty()) text += "/" + output->convertWords + "\n";
  if (output->maxSizeKb) text += std::string(kMaxSize) + std::to_string(output->maxSizeKb) + "K\n";
  if (output->place)
    text += (output->place->choice == OutputPlace::kBesideSource ? std::string(kUseSourceFolder)
                                                                  : std::string(kOutput) + output->place->path) +
            "\n";
  if (output->keepFolders) text += std::string(kKeepFolders) + "\n";
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

ProfileOutput outputOf(const Settings& settings, const formats::Format& format) {
  ProfileOutput out;
  out.convertWords = "convert " + format.key + " " + std::to_string(format.method) + " " + format.colorDepth + " " +
                     std::to_string(format.quality) + " " + std::to_string(format.passes);
  out.maxSizeKb = format.maxFileSize;
  out.place = outputPlaceOf(settings);
  out.keepFolders = settings.KeepFolders && out.place->choice != OutputPlace::kBesideSource;
  return out;
}

void applyProfileOutput(Session& session, const ProfileOutput& output) {
  Settings& s = session.settings;
  if (!output.convertWords.empty()) {
    const std::string_view words = output.convertWords;
    const std::size_t keyAt = words.find(' ') + 1, keyEnd = words.find(' ', keyAt);
    if (auto format = formats::createFormat(words.substr(keyAt, keyEnd - keyAt), s.configPath)) {
      format->parseOptionWords(words);
      // Numbers out of the format's ranges (a hand-edited line) are brought in.
      format->method = std::min<std::uint32_t>(format->method, static_cast<std::uint32_t>(std::max(0, format->methodCount - 1)));
      format->quality = std::clamp(format->quality, std::min(format->qualityStart, format->qualityEnd),
                                   std::max(format->qualityStart, format->qualityEnd));
      format->maxFileSize = output.maxSizeKb;
      format->saveOptions();
      s.DefaultFormatType = format->index;
      session.format = std::move(format);
    }
  }
  if (output.place && applyOutputPlace(s, *output.place).empty())
    s.KeepFolders = output.keepFolders;
}

bool loadProfile(const Settings& settings, filters::FilterChain& chain, std::string_view name, Prompter& prompter,
                 ProfileOutput* output) {
  name = trimEnd(name);
  if (!validProfileName(name)) return report(settings, prompter, kProfileLoadFailedText);
  std::ifstream in(profilePath(name), std::ios::binary);
  if (!in) return report(settings, prompter, kProfileLoadFailedText);
  appendLines(in, chain, output);
  return true;
}

bool saveProfile(const Settings& settings, const filters::FilterChain& chain, std::string_view name,
                 Prompter& prompter, const ProfileOutput* output) {
  if (!validProfileName(name)) return report(settings, prompter, kProfileSaveFailedText);
  const std::string path = profilePath(name);
  // Any entry at the path counts, so an unreadable profile is not replaced unasked.
  if (entryExists(path)) {
    if (!settings.ShowMessages || !prompter.askYesNo(settings.caption, kProfileExistsText)) return false;
  }
  if (!ini::replaceFileAtomically(path, chainText(chain, output)))
    return report(settings, prompter, kProfileSaveFailedText);
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
