#include "app/settings.h"

#include <variant>

#include "core/ini.h"
#include "core/paths.h"
#include "core/text.h"

namespace pv::app {

namespace {

constexpr const char* kGlobal = "Global";
constexpr const char* kShell = "Shell";

struct TextField {
  std::string Settings::*member;
  std::size_t limit;  // bytes
};

struct GlobalKey {
  const char* name;
  std::variant<bool Settings::*, int Settings::*, TextField> field;
};

// Section "Global", in the order the keys are read and written. The defaults
// are the member initialisers of Settings.
const GlobalKey kGlobalKeys[] = {
    {"ShellContextEnabled", &Settings::ShellContextEnabled},
    {"ScanSubDir", &Settings::ScanSubDir},
    {"ShowMessages", &Settings::ShowMessages},
    {"UseSourcePathForOutput", &Settings::UseSourcePathForOutput},
    {"DeleteSourceAfterConvert", &Settings::DeleteSourceAfterConvert},
    {"OverwriteOriginalImage", &Settings::OverwriteOriginalImage},
    {"DoLog", &Settings::DoLog},
    {"MultiPageOption", &Settings::MultiPageOption},
    {"OutPutDir", TextField{&Settings::OutPutDir, 1499}},
    {"LogFile", TextField{&Settings::LogFile, 1499}},
    {"FileNameAfter", TextField{&Settings::FileNameAfter, 99}},
    {"FileNameBefore", TextField{&Settings::FileNameBefore, 99}},
    {"FileNameNumber", TextField{&Settings::FileNameNumber, 9}},
    {"FileNameMultiPage", TextField{&Settings::FileNameMultiPage, 99}},
    {"DefaultFormatType", &Settings::DefaultFormatType},
    {"DefaultShellContextProfile", TextField{&Settings::DefaultShellContextProfile, 254}},
    {"ShowPictureBefore", &Settings::ShowPictureBefore},
    {"ShowPictureAfter", &Settings::ShowPictureAfter},
    {"ShowThumbnails", &Settings::ShowThumbnails},
    {"AskWhereSave", &Settings::AskWhereSave},
    {"Threads", &Settings::Threads},
    {"MemoryBudget", &Settings::MemoryBudget},
    {"AutoOrient", &Settings::AutoOrient},
    {"KeepMetadata", &Settings::KeepMetadata},
    {"StripLocation", &Settings::StripLocation},
    {"KeepDates", &Settings::KeepDates},
    {"OnlySmaller", &Settings::OnlySmaller},
    {"KeepFolders", &Settings::KeepFolders},
    {"WhenOutputExists", &Settings::WhenOutputExists},
    {"LastImageFolder", TextField{&Settings::LastImageFolder, 1499}},
};

std::string unsignedText(int v) { return std::to_string(static_cast<unsigned>(v)); }

}  // namespace

bool defaultShellFlag(std::string_view key) {
  for (std::string_view on : {"JPG", "BMP", "PNG", "GIF", "ICO", "TIF", "CLP", "WEBP", "AVIF", "JXL"})
    if (key == on) return true;
  return false;
}

Settings loadSettings() {
  Settings s;
  const std::string program = programFolder();
  s.configPath = configFilePath();
  s.dataDatPath = resourcePath("data.dat");
  s.helpPath = resourcePath("help/index.html");
  s.shellLibraryPath = program + "/libextpv.so";

  // One read of the file serves every key: the file is not changed meanwhile.
  const ini::Document doc = ini::Document::load(s.configPath);
  for (const auto& key : kGlobalKeys) {
    auto stored = doc.get(kGlobal, key.name);
    if (!stored) continue;
    std::visit(
        [&](auto&& field) {
          using F = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<F, bool Settings::*>)
            s.*field = parseDecimal(*stored) != 0;
          else if constexpr (std::is_same_v<F, int Settings::*>)
            s.*field = parseDecimal(*stored);
          else
            s.*(field.member) = std::string(utf8Prefix(*stored, field.limit));
        },
        key.field);
  }
  if (s.DefaultFormatType < 0 || s.DefaultFormatType >= kFormatCount) s.DefaultFormatType = 0;

  for (int i = 0; i < kFormatCount; ++i) {
    const std::string_view key = formatKey(i);
    const std::string stored = doc.get(kShell, key).value_or("NO");
    s.shellFormats[static_cast<std::size_t>(i)] =
        stored == "NO" ? defaultShellFlag(key) : parseDecimal(stored) != 0;
  }
  return s;
}

bool saveSettings(const Settings& s) {
  ini::Document doc = ini::Document::load(s.configPath);
  for (const auto& key : kGlobalKeys) {
    std::visit(
        [&](auto&& field) {
          using F = std::decay_t<decltype(field)>;
          if constexpr (std::is_same_v<F, bool Settings::*>)
            doc.set(kGlobal, key.name, (s.*field) ? "1" : "0");
          else if constexpr (std::is_same_v<F, int Settings::*>)
            doc.set(kGlobal, key.name, unsignedText(s.*field));
          else
            doc.set(kGlobal, key.name, s.*(field.member));
        },
        key.field);
  }
  for (int i = 0; i < kFormatCount; ++i)
    doc.set(kShell, formatKey(i), s.shellFormats[static_cast<std::size_t>(i)] ? "1" : "0");
  return doc.save(s.configPath);
}

OutputPlace outputPlaceOf(const Settings& settings) {
  if (settings.UseSourcePathForOutput) return {};
  return storedOutputFolder(settings);
}

OutputPlace storedOutputFolder(const Settings& settings) {
  if (settings.OutPutDir.empty()) return {};
  if (settings.OutPutDir.front() == '/') return {OutputPlace::kOneFolder, settings.OutPutDir};
  return {OutputPlace::kBelowSource, settings.OutPutDir};
}

std::string applyOutputPlace(Settings& settings, const OutputPlace& place) {
  switch (place.choice) {
    case OutputPlace::kBesideSource:
      settings.UseSourcePathForOutput = true;
      return {};
    case OutputPlace::kOneFolder:
      if (place.path.empty()) return kNoOutputFolderText;
      settings.OutPutDir = place.path;
      settings.UseSourcePathForOutput = false;
      return {};
    case OutputPlace::kBelowSource: {
      const std::size_t first = place.path.find_first_not_of('/'), last = place.path.find_last_not_of('/');
      // Slashes only would leave "/", which names the root folder, not a
      // path below the source: it counts as no path.
      if (first == std::string::npos) return kNoOutputPathText;
      settings.OutPutDir = place.path.substr(first, last - first + 1) + "/";
      settings.UseSourcePathForOutput = false;
      return {};
    }
  }
  return {};
}

}  // namespace pv::app
