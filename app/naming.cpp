#include "app/naming.h"

#include <filesystem>

#include "core/paths.h"
#include "core/text.h"

namespace pv::app {

namespace {

constexpr std::size_t kPatternLimit = 254;

}  // namespace

std::string outputFolder(const Settings& settings, const ImageEntry& entry) {
  if (settings.UseSourcePathForOutput) return entry.folder;
  std::string wanted = settings.OutPutDir;
  // Kept folders: the output folder (a relative one below the folder
  // searched) and the image's sub-folders below it.
  const bool tree = settings.KeepFolders && !entry.subFolder.empty() && entry.folder.ends_with(entry.subFolder);
  const std::string base = tree ? entry.folder.substr(0, entry.folder.size() - entry.subFolder.size()) : entry.folder;
  if (wanted.empty() || wanted.front() != '/') wanted = base + wanted;
  if (tree) wanted += "/" + entry.subFolder;
  // Rebuilt part by part, so doubled separators disappear and each level is
  // created before the next.
  std::string folder = wanted.starts_with('/') ? "/" : "";
  std::size_t start = 0;
  while (start <= wanted.size()) {
    std::size_t end = wanted.find('/', start);
    if (end == std::string::npos) end = wanted.size();
    if (end > start) {
      folder.append(wanted, start, end - start).push_back('/');
      std::error_code ec;
      std::filesystem::create_directory(folder, ec);
    }
    start = end + 1;
  }
  return folder;
}

std::string effectivePattern(std::string_view pattern, std::string_view appended) {
  if (pattern.find("%n") != std::string_view::npos) return std::string(pattern);
  const std::size_t room = kPatternLimit > appended.size() ? kPatternLimit - appended.size() : 0;
  std::string out(utf8Prefix(pattern, room));
  out += appended;
  return out;
}

std::string fillPattern(std::string_view pattern, long long n) {
  std::string out(pattern);
  const std::size_t at = out.find("%n");
  if (at != std::string::npos) out.replace(at, 2, std::to_string(n));
  return out;
}

std::string makeOutputName(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page,
                           bool avoidExisting, const std::function<bool(const std::string&)>& taken) {
  const std::string folder = outputFolder(settings, entry);
  const std::size_t dot = entry.fileName.rfind('.');
  const std::string base = entry.fileName.substr(0, dot);
  std::string name = settings.FileNameBefore + base + settings.FileNameAfter;
  if (page >= 1) name += fillPattern(effectivePattern(settings.FileNameMultiPage, "-#%n"), page);
  const std::string ext = "." + asciiLower(extension);
  std::string path = folder + name + ext;
  const auto free = [&](const std::string& p) { return !entryExists(p) && !(taken && taken(p)); };
  if (!avoidExisting || free(path)) return path;
  const std::string number = effectivePattern(settings.FileNameNumber, "-%n");
  for (long long k = 1;; ++k) {
    path = folder + name + fillPattern(number, k) + ext;
    if (free(path)) return path;
  }
}

}  // namespace pv::app
