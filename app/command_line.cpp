#include "app/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "app/image_list.h"
#include "app/log.h"
#include "app/profiles.h"
#include "core/file_format.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/handles.h"
#include "engine/status.h"
#include "formats/format.h"

namespace pv::app {

const std::vector<std::string> kSwitchNames = {"shell", "open",   "shelloptions", "subfolder", "silent", "delete",
                                               "mpo",   "fna",    "fni",          "fnn",       "fnmp",   "usesf",
                                               "output", "?",     "help",         "filter",    "profile", "cbpaste",
                                               "list",  "file",   "convert"};

namespace {

bool startsWithSwitch(std::string_view body) {
  for (const std::string& name : kSwitchNames)
    if (body.size() >= name.size() && iequals(body.substr(0, name.size()), name)) return true;
  return false;
}

// The switch text of an argument that starts a token, or empty.
std::string_view switchBody(std::string_view arg) {
  std::string_view body = arg;
  if (body.starts_with("--")) body.remove_prefix(2);
  else if (body.starts_with("/")) body.remove_prefix(1);
  else return {};
  if (body.empty() || body.find('/') != std::string_view::npos || !startsWithSwitch(body)) return {};
  return body;
}

std::string trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::string trimEndBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

std::vector<std::string> splitBars(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('|', start);
    if (end == std::string_view::npos) end = text.size();
    parts.push_back(trimmed(text.substr(start, end - start)));
    start = end + 1;
  }
  return parts;
}

std::string absolute(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::error_code ec;
  const std::string cwd = std::filesystem::current_path(ec).string();
  return ec ? path : cwd + "/" + path;
}

class Parser {
 public:
  explicit Parser(Session& s)
      : s_(s), builder_({s.settings, s.primary, s.secondary, s.list, s.progress, s.running, s.prompter, &s.interrupted}) {}

  void apply(const std::string& token) {
    for (const std::string& name : kSwitchNames) {
      if (token.size() < name.size() || !iequals(std::string_view(token).substr(0, name.size()), name)) continue;
      // The arguments: the text after the name and one blank.
      const std::string args = token.size() > name.size() + 1 ? token.substr(name.size() + 1) : std::string();
      applySwitch(name, token, args);
    }
  }

  ParseOutcome outcome;

 private:
  void applySwitch(const std::string& name, const std::string& token, const std::string& args) {
    Settings& set = s_.settings;
    if (name == "shell") set.shellFlag = true;
    else if (name == "open") set.openFlag = true;
    else if (name == "shelloptions") set.shellOptionsFlag = true;
    else if (name == "subfolder") set.ScanSubDir = parseDecimal(args) != 0;
    else if (name == "silent") set.ShowMessages = false;
    else if (name == "delete") set.DeleteSourceAfterConvert = true;
    else if (name == "mpo") set.MultiPageOption = parseDecimal(args);
    else if (name == "fna") set.FileNameAfter = trimEndBlanks(utf8Prefix(args, 99));
    else if (name == "fni") set.FileNameBefore = trimEndBlanks(utf8Prefix(args, 99));
    else if (name == "fnn") set.FileNameNumber = withPlaceholder(trimEndBlanks(utf8Prefix(args, 9)), "-%n");
    else if (name == "fnmp") set.FileNameMultiPage = withPlaceholder(trimEndBlanks(utf8Prefix(args, 99)), "-#%n");
    else if (name == "usesf") set.UseSourcePathForOutput = true;
    else if (name == "output") {
      // An empty folder stays empty (no output place, which the checks
      // report) rather than becoming "/", the root of the file system.
      std::string folder = trimEndBlanks(args);
      if (!folder.empty() && folder.back() != '/') folder += '/';
      set.OutPutDir = folder;
      set.UseSourcePathForOutput = false;
    } else if (name == "?" || name == "help") {
      if (!outcome.helpShown) s_.prompter.information(set.caption, kHelpText);
      outcome.helpShown = true;
    } else if (name == "filter") s_.chain.appendFromText("/" + token);
    else if (name == "profile") LoadProfile(set, s_.chain, args, s_.prompter);
    else if (name == "cbpaste") pasteClipboard();
    else if (name == "list") {
      for (const std::string& path : splitBars(trimmed(args)))
        if (!path.empty() && !builder_.ReadListFile(absolute(path))) outcome.listFailed = true;
    } else if (name == "file") {
      for (const std::string& part : splitBars(trimmed(args))) addPart(part);
    } else if (name == "convert") {
      if (auto f = formats::CreateFormat(std::string_view(args).substr(0, std::min<std::size_t>(4, args.size())),
                                         set.configPath))
        s_.format = std::move(f);
      s_.format->ParseOptionWords(token);
    }
  }

  static std::string withPlaceholder(std::string pattern, const char* appended) {
    if (pattern.find("%n") == std::string::npos) pattern += appended;
    return pattern;
  }

  void addPart(const std::string& given) {
    if (given.empty()) return;
    const std::string part = absolute(given);
    const std::size_t slash = part.rfind('/');
    const std::string last = part.substr(slash + 1);
    if (last.find('*') != std::string::npos) {
      const std::string folder = part.substr(0, slash + 1);
      if (s_.settings.ScanSubDir) builder_.searchFolder(folder, std::string(utf8Prefix(last, 149)));
      else builder_.addWildcard(part);
      return;
    }
    struct stat st {};
    if (stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      builder_.searchFolder(part, "*.*");
    } else if (stat(part.c_str(), &st) == 0) {
      if (builder_.IsAcceptedFile(part, true)) builder_.AddImage(part);
    } else {
      // A named file that is not there is a failure the user must see.
      logOpenFailure(s_.settings, part, engine::kFileNotFound);
    }
  }

  // The clipboard's image becomes a PNG file in the data folder, listed like
  // any other file.
  void pasteClipboard() {
    Settings& set = s_.settings;
    set.clipboardSource = true;
    engine::Image image;
    Clipboard* clip = s_.clipboard();
    if (!clip) {
      logOpenFailure(set, "the clipboard (no display)", engine::kNotSupported);
      return;
    }
    if (!clip->getImage(image) || image.pixels.empty()) {
      logOpenFailure(set, "the clipboard (no image on it)", engine::kEmptyImage);
      return;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string path = dataFolder() + "/clipboard-" + stamp + ".png";
    engine::CLead lead;
    lead.SetImageHandle(engine::handles::create(std::move(image)));
    if (short st = lead.SaveImage(path, fmt::kPng, 0, 0, 0)) {
      logOpenFailure(set, path, static_cast<std::uint16_t>(st));
      return;
    }
    if (builder_.IsAcceptedFile(path, true)) builder_.AddImage(path);
  }

  Session& s_;
  ImageListBuilder builder_;
};

}  // namespace

std::vector<std::string> splitSwitchTokens(const std::vector<std::string>& args) {
  std::vector<std::string> tokens;
  bool pathList = false, first = true;
  for (const std::string& arg : args) {
    if (std::string_view body = switchBody(arg); !body.empty()) {
      tokens.emplace_back(body);
      pathList = iequals(body, "file") || iequals(body, "list");
      first = true;
      continue;
    }
    if (tokens.empty()) continue;  // text before the first switch is ignored
    tokens.back() += first ? " " : (pathList ? "|" : " ");
    tokens.back() += arg;
    first = false;
  }
  return tokens;
}

ParseOutcome ParseCommandLine(Session& s, const std::vector<std::string>& tokens) {
  s.running = true;
  Parser parser(s);
  for (const std::string& token : tokens) parser.apply(token);
  ParseOutcome out = parser.outcome;
  Settings& set = s.settings;
  const auto reject = [&](const char* text) {
    if (set.ShowMessages) s.prompter.error(set.caption, text);
    out.proceed = false;
    return out;
  };
  if (set.shellOptionsFlag || set.openFlag) {
    out.proceed = true;
    return out;
  }
  if (!set.UseSourcePathForOutput && set.OutPutDir.empty()) return reject(kNoOutputPlaceText);
  if (!s.format || s.format->index == -1) return reject(kNoFormatText);
  if (!set.clipboardSource && s.list.empty() && set.errorSummary.empty()) return reject(kNoImagesText);
  if (set.shellFlag) {
    s.format->LoadShellOptions();
    if (!set.DefaultShellContextProfile.empty()) LoadProfile(set, s.chain, set.DefaultShellContextProfile, s.prompter);
  }
  out.proceed = true;
  return out;
}

}  // namespace pv::app
