#include "app/naming.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <utility>

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

namespace {

// The token that starts at `at` in `text`, or null.
const std::string_view* tokenAt(std::string_view text, std::size_t at) {
  const auto found = std::find_if(std::begin(kNameTokens), std::end(kNameTokens),
                                  [&](std::string_view t) { return text.substr(at, t.size()) == t; });
  return found == std::end(kNameTokens) ? nullptr : found;
}

}  // namespace

std::string nameTokenProblem(std::string_view text) {
  for (std::size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at + 1)) {
    if (tokenAt(text, at)) continue;
    const std::size_t end = text.find('}', at);
    std::string list;
    for (std::string_view token : kNameTokens) list += (list.empty() ? "" : ", ") + std::string(token);
    return "Unknown name token " + std::string(text.substr(at, end == std::string_view::npos ? 1 : end - at + 1)) +
           ": the tokens are " + list + ".";
  }
  return {};
}

namespace {

// Characters no file name should hold (or that other systems refuse) become
// '_'; blanks at the ends go.
std::string safeForName(std::string_view text) {
  std::string out;
  for (char c : text) {
    const bool bad = static_cast<unsigned char>(c) < 32 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    out += bad ? '_' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && out.front() == ' ') out.erase(out.begin());
  return out;
}

// The date and time an image was taken, "YYYY-MM-DD" and "HH-MM-SS": EXIF's,
// else its file's modification time.
std::pair<std::string, std::string> takenOf(const ImageEntry& entry) {
  const std::string& t = entry.dateTaken;
  if (t.size() >= 19 && t[4] == ':' && t[7] == ':' && t[13] == ':' && t[16] == ':' && t.substr(0, 4) != "0000")
    return {t.substr(0, 4) + "-" + t.substr(5, 2) + "-" + t.substr(8, 2),
            t.substr(11, 2) + "-" + t.substr(14, 2) + "-" + t.substr(17, 2)};
  struct stat st {};
  std::tm tm{};
  const std::time_t when = stat(entry.path().c_str(), &st) == 0 ? st.st_mtime : 0;
  localtime_r(&when, &tm);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
  std::strftime(time, sizeof time, "%H-%M-%S", &tm);
  return {date, time};
}

}  // namespace

std::string expandNameTokens(std::string_view text, const ImageEntry& entry) {
  if (text.find('{') == std::string_view::npos) return std::string(text);
  std::optional<std::pair<std::string, std::string>> taken;
  const auto value = [&](std::string_view token) -> std::string {
    if (token == "{date}" || token == "{time}") {
      if (!taken) taken = takenOf(entry);
      return token == "{date}" ? taken->first : taken->second;
    }
    if (token == "{width}") return std::to_string(entry.width);
    if (token == "{height}") return std::to_string(entry.height);
    if (token == "{camera}") return safeForName(entry.camera);
    if (token == "{name}") return entry.fileName.substr(0, entry.fileName.rfind('.'));
    std::string folder = entry.folder;
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return safeForName(folder.substr(folder.rfind('/') + 1));
  };
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::string_view* token = text[i] == '{' ? tokenAt(text, i) : nullptr;
    if (token) {
      out += value(*token);
      i += token->size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string outputFileName(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page) {
  const std::size_t dot = entry.fileName.rfind('.');
  const std::string base = entry.fileName.substr(0, dot);
  std::string name = expandNameTokens(settings.FileNameBefore, entry) + base +
                     expandNameTokens(settings.FileNameAfter, entry);
  if (page >= 1) name += fillPattern(effectivePattern(settings.FileNameMultiPage, "-#%n"), page);
  const std::string ext = "." + asciiLower(extension);
  // A file name holds at most 255 bytes: a longer one is cut, leaving room
  // for the extension and a number, so the file system never refuses it.
  constexpr std::size_t kNameLimit = 255, kNumberRoom = 24;
  const std::size_t room = kNameLimit > ext.size() + kNumberRoom ? kNameLimit - ext.size() - kNumberRoom : 0;
  if (name.size() + ext.size() > kNameLimit) name = std::string(utf8Prefix(name, room));
  return name + ext;
}

std::string makeOutputName(const Settings& settings, const ImageEntry& entry, std::string_view extension, int page,
                           bool avoidExisting, const std::function<bool(const std::string&)>& taken) {
  const std::string folder = outputFolder(settings, entry);
  const std::string file = outputFileName(settings, entry, extension, page);
  const std::string ext = "." + asciiLower(extension);
  const std::string name = file.substr(0, file.size() - ext.size());
  std::string path = folder + file;
  const auto free = [&](const std::string& p) { return !entryExists(p) && !(taken && taken(p)); };
  if (!avoidExisting || free(path)) return path;
  const std::string number = effectivePattern(settings.FileNameNumber, "-%n");
  for (long long k = 1;; ++k) {
    path = folder + name + fillPattern(number, k) + ext;
    if (free(path)) return path;
  }
}

}  // namespace pv::app
