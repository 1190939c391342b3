#include "app/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/image_list.h"
#include "app/log.h"
#include "app/naming.h"
#include "app/profiles.h"
#include "core/file_format.h"
#include "core/handoff.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/handles.h"
#include "engine/status.h"
#include "formats/format.h"

namespace pv::app {

namespace {

bool startsWith(std::string_view text, std::string_view name) {
  return text.size() >= name.size() && iequals(text.substr(0, name.size()), name);
}

// A row applies to a token that begins with its name, unless a hyphen goes
// on from the name: "strip-gps" is a switch of its own, not "strip".
bool appliesTo(std::string_view token, std::string_view name) {
  return startsWith(token, name) && !(token.size() > name.size() && token[name.size()] == '-');
}

bool startsWithSwitch(std::string_view body) {
  for (const SwitchSpec& row : switchTable())
    if (row.handler && startsWith(body, row.name)) return true;
  return false;
}

// The switch text of an argument that starts a token, or empty.
std::string_view switchBody(std::string_view arg) {
  std::string_view body = arg;
  if (body.starts_with("--"))
    body.remove_prefix(2);
  else if (body.starts_with("/"))
    body.remove_prefix(1);
  else
    return {};
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

}  // namespace

class SwitchParser {
 public:
  explicit SwitchParser(Session& s)
      : s_(s),
        builder_(listContextOf(s)) {}

  void apply(const std::string& token) {
    for (const SwitchSpec& row : switchTable()) {
      if (!row.handler || !appliesTo(token, row.name)) continue;
      // The arguments: the text after the name and one blank.
      const std::string args =
          token.size() > row.name.size() + 1 ? token.substr(row.name.size() + 1) : std::string();
      row.handler(*this, token, args);
    }
  }

  ParseOutcome outcome;

  Settings& settings() { return s_.settings; }

  void setOutput(const std::string& args) {
    // An empty folder stays empty (no output place, which the checks report)
    // rather than becoming "/", the root of the file system.
    std::string folder = trimEndBlanks(args);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    s_.settings.OutPutDir = folder;
    s_.settings.UseSourcePathForOutput = false;
  }
  // A text before or after the names; one with an unknown token is refused.
  void setNameText(std::string& field, const std::string& args) {
    const std::string text = trimEndBlanks(utf8Prefix(args, 99));
    if (std::string problem = nameTokenProblem(text); !problem.empty()) {
      if (refused.empty()) refused = problem;
      return;
    }
    field = text;
  }
  std::string refused;  // why the command line cannot run
  void setMemory(const std::string& args) {
    if (const auto mb = parseMemoryMb(args)) {
      s_.settings.MemoryBudget = *mb;
    } else if (refused.empty()) {
      refused = "Commandline Error: --memory needs a size such as 2G or 500M, not \"" + trimmed(args) + "\".";
    }
  }
  void setMaxSize(const std::string& args) {
    if (const auto kb = parseSizeKb(args)) {
      s_.settings.maxSizeKb = *kb;
    } else if (refused.empty()) {
      refused = "Commandline Error: --max-size needs a size such as 300K or 2M, not \"" + trimmed(args) + "\".";
    }
  }

  void help() {
    if (!outcome.helpShown) s_.prompter.information(s_.settings.caption, kHelpText);
    outcome.helpShown = true;
  }
  void addFilter(const std::string& token) { s_.chain.appendFromText("/" + token); }
  void addProfile(const std::string& args) { loadProfile(s_.settings, s_.chain, args, s_.prompter); }
  void readLists(const std::string& args) {
    for (const std::string& given : splitBars(trimmed(args))) {
      if (given.empty()) continue;
      const std::string path = given == "-" ? given : absolute(given);
      if (!builder_.readListFile(path)) outcome.listFailed = true;
      // A file-manager hand-off list is this run's alone: once read it goes.
      if (isHandOffList(path)) ::unlink(path.c_str());
    }
  }
  void addFiles(const std::string& args) {
    for (const std::string& part : splitBars(trimmed(args))) addPart(part);
    listPending();
  }
  void convert(const std::string& token, const std::string& args) {
    if (auto f = formats::createFormat(
            std::string_view(args).substr(0, std::min<std::size_t>(4, args.size())), s_.settings.configPath))
      s_.format = std::move(f);
    s_.format->parseOptionWords(token);
  }

 private:
  void addPart(const std::string& given) {
    if (given.empty()) return;
    const std::string part = absolute(given);
    const std::size_t slash = part.rfind('/');
    const std::string last = part.substr(slash + 1);
    if (last.find('*') != std::string::npos) {
      listPending();
      const std::string folder = part.substr(0, slash + 1);
      if (s_.settings.ScanSubDir)
        builder_.searchFolder(folder, std::string(utf8Prefix(last, 149)));
      else
        builder_.addWildcard(part);
      return;
    }
    struct stat st {};
    const bool exists = stat(part.c_str(), &st) == 0;
    if (exists && !S_ISDIR(st.st_mode)) {
      pending_.push_back(part);  // files named one by one are listed together
      return;
    }
    listPending();
    if (exists) {
      builder_.searchFolder(part, "*.*");
    } else {
      // A named file that is not there is a failure the user must see.
      builder_.logFailure(part, engine::kFileNotFound);
    }
  }
  // Lists the files named since the last folder or wildcard, on every worker
  // and in their order.
  void listPending() {
    if (pending_.empty()) return;
    builder_.addDropped(pending_);
    pending_.clear();
  }

 public:
  // Why the clipboard gave no image, in the log and the error summary.
  void pasteFailed(Clipboard::Paste why) {
    using Paste = Clipboard::Paste;
    if (why == Paste::kNoImage)
      builder_.logFailure("the clipboard (no image on it)", engine::kEmptyImage);
    else if (why == Paste::kDisplayUnreachable)
      builder_.logFailure("the clipboard (the display cannot be opened)", engine::kNotSupported);
    else if (why == Paste::kNoTool)
      builder_.logFailure("the clipboard (Wayland needs wl-paste, from wl-clipboard)", engine::kNotSupported);
    else
      builder_.logFailure("the clipboard (no display)", engine::kNotSupported);
  }

  // The clipboard's image becomes a PNG file in the data folder, listed like
  // any other file.
  void pasteClipboard() {
    Settings& set = s_.settings;
    set.clipboardSource = true;
    engine::Image image;
    Clipboard* clip = s_.clipboard();
    using Paste = Clipboard::Paste;
    const Paste found = clip ? clip->getImage(image) : Paste::kNoDisplay;
    if (found == Paste::kImage && image.pixels.empty()) return pasteFailed(Paste::kNoImage);
    if (found != Paste::kImage) return pasteFailed(found);
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    const std::string path = dataFolder() + "/clipboard-" + stamp + ".png";
    engine::CLead lead;
    lead.SetImageHandle(engine::handles::create(std::move(image)));
    if (short st = lead.SaveImage(path, fmt::kPng, 0, 0, 0)) {
      builder_.logFailure(path, static_cast<std::uint16_t>(st));
      return;
    }
    builder_.addDropped({path});
  }

 private:
  Session& s_;
  ImageListBuilder builder_;
  std::vector<std::string> pending_;
};

namespace {

using P = SwitchParser;
using Args = const std::string&;

std::string withPlaceholder(std::string pattern, const char* appended) {
  if (pattern.find("%n") == std::string::npos) pattern += appended;
  return pattern;
}

// In the order tokens are tested against them.
constexpr SwitchSpec kSwitches[] = {
    {"shell", "", "started from the file manager (its shell options and profile)", "",
     [](P& p, Args, Args) { p.settings().shellFlag = true; }, 19},
    {"open", "", "open the images in the window instead of converting", "",
     [](P& p, Args, Args) { p.settings().openFlag = true; }, 21},
    {"shelloptions", "", "open the file-manager menu options", "",
     [](P& p, Args, Args) { p.settings().shellOptionsFlag = true; }, 20},
    {"subfolder", "0|1", "search sub-folders of folders and wildcards", "/subfolder 0",
     [](P& p, Args, Args a) { p.settings().ScanSubDir = parseDecimal(a) != 0; }, 7},
    {"silent", "", "no messages, no progress, no error summary", "",
     [](P& p, Args, Args) { p.settings().ShowMessages = false; }, 18},
    {"delete", "", "delete each source after it was converted", "",
     [](P& p, Args, Args) { p.settings().DeleteSourceAfterConvert = true; }, 17},
    {"mpo", "0|1|2", "multi-page sources: 0 one multi-page output, 1 a file per\npage, 2 the first page only",
     "/mpo 1", [](P& p, Args, Args a) { p.settings().MultiPageOption = parseDecimal(a); }, 10},
    {"fna", "<text>", "text after each output name (tokens as for /fni)", "/fna _{width}x{height}",
     [](P& p, Args, Args a) { p.setNameText(p.settings().FileNameAfter, a); }, 12},
    {"fni", "<text>", "text before each output name; {date} {time} (taken, else the\nfile's), {width} {height}, {camera}, {name} and {folder} are\nreplaced", "/fni {date}_",
     [](P& p, Args, Args a) { p.setNameText(p.settings().FileNameBefore, a); }, 11},
    {"fnn", "<pattern>", "numbering when a name is taken (\"%n\" the number)", "/fnn _%n",
     [](P& p, Args, Args a) {
       p.settings().FileNameNumber = withPlaceholder(trimEndBlanks(utf8Prefix(a, 9)), "-%n");
     },
     13},
    {"fnmp", "<pattern>", "page numbering for /mpo 1", "/fnmp _page%n",
     [](P& p, Args, Args a) {
       p.settings().FileNameMultiPage = withPlaceholder(trimEndBlanks(utf8Prefix(a, 99)), "-#%n");
     },
     14},
    {"usesf", "", "write each output beside its source", "",
     [](P& p, Args, Args) { p.settings().UseSourcePathForOutput = true; }, 2},
    {"output", "<folder>",
     "write every output into this folder (a relative folder is\nmade below each source's folder)",
     "/output /home/me/converted", [](P& p, Args, Args a) { p.setOutput(a); }, 3},
    {"threads", "<n>", "convert on n workers at once (0: one per core, the default)", "--threads 2",
     [](P& p, Args, Args a) { p.settings().Threads = std::max(0, parseDecimal(a)); }, 17},
    {"memory", "<size>",
     "the memory the images in work may take at once (M or G, of a million\nand a billion bytes; default: half of what is available); an\nimage that needs more runs alone",
     "--memory 2G", [](P& p, Args, Args a) { p.setMemory(a); }, 17},
    {"strip", "", "leave out the sources' EXIF, XMP and IPTC (camera, date, GPS,\ncopyright); colour profiles stay",
     "", [](P& p, Args, Args) { p.settings().KeepMetadata = false; }, 15},
    {"strip-gps", "", "leave out where photos were taken (EXIF GPS, XMP exif:GPS); the\nother tags stay", "",
     [](P& p, Args, Args) { p.settings().StripLocation = true; }, 15},
    {"no-orient", "", "keep photos as stored, ignoring their EXIF orientation", "",
     [](P& p, Args, Args) { p.settings().AutoOrient = false; }, 15},
    {"keep-folders", "", "with /output, write each image found below a folder searched into\nthe same sub-folders below the output folder", "",
     [](P& p, Args, Args) { p.settings().KeepFolders = true; }, 15},
    {"only-smaller", "", "where an output in its source's format would be larger than the\nsource, the output is the source as it is", "",
     [](P& p, Args, Args) { p.settings().OnlySmaller = true; }, 15},
    {"max-size", "<size>",
     "write each file at the highest quality up to the chosen one whose\nfile is at most this size (K or KB, M or MB, of 1000 bytes;\nJPG, WEBP, AVIF, HEIC and JXL with a lossy method)",
     "--max-size 300K", [](P& p, Args, Args a) { p.setMaxSize(a); }, 15},
    {"no-keep-dates", "", "give outputs the time they are written instead of their sources'\nmodification and access times", "",
     [](P& p, Args, Args) { p.settings().KeepDates = false; }, 15},
    {"skip-done", "", "skip an image whose output exists and is not older than it\n(a killed run started again converts only what is missing)",
     "", [](P& p, Args, Args) { p.settings().skipDone = true; }, 15},
    {"report", "<file>", "one JSON line per image (source, outputs, status, message,\nmilliseconds, skipped) as the run goes; - for standard output",
     "--report /home/me/run.jsonl", [](P& p, Args, Args a) { p.settings().reportPath = trimEndBlanks(a); }, 16},
    {"?", "", "this text", "", [](P& p, Args, Args) { p.help(); }, 23},
    {"help", "", "this text", "", [](P& p, Args, Args) { p.help(); }, 22},
    {"filter", "<key> <values>", "add a filter to the chain", "/filter resize 4 0 800 600 1 0",
     [](P& p, Args t, Args) { p.addFilter(t); }, 8},
    {"profile", "<name>", "add the filters of a saved profile", "/profile web",
     [](P& p, Args, Args a) { p.addProfile(a); }, 9},
    {"cbpaste", "", "convert the image on the clipboard", "", [](P& p, Args, Args) { p.pasteClipboard(); },
     6},
    {"list", "<files>", "list files with one image path a line; - reads standard input", "/list /home/me/todo.pvl",
     [](P& p, Args, Args a) { p.readLists(a); }, 5},
    {"file", "<paths>", "images, folders or wildcard paths", "/file /home/me/pics/*.png",
     [](P& p, Args, Args a) { p.addFiles(a); }, 4},
    {"convert", "<key> [m d q p]",
     "output format by key (JPG, PNG, TIF, WEBP, AVIF, ...); optional\nmethod index, colour depth (1..32, "
     "else the source's),\nquality and progressive passes (effort or speed for WEBP,\nAVIF, HEIC and JXL)",
     "/convert JPG 0 24 20 4", [](P& p, Args t, Args a) { p.convert(t, a); }, 1},
    // Options of the console front end, each the only argument.
    {"version", "", "the program's version", "", nullptr, 24},
    {"libraries", "", "the versions of the libraries it uses", "", nullptr, 25},
    {"formats", "", "what this build writes and reads", "", nullptr, 26},
    {"console", "", "keep a run in the terminal when a display is there", "", nullptr, 27},
};

}  // namespace

std::span<const SwitchSpec> switchTable() {
  return kSwitches;
}

std::vector<const SwitchSpec*> switchesInHelpOrder() {
  std::vector<const SwitchSpec*> rows;
  for (const SwitchSpec& row : kSwitches) rows.push_back(&row);
  std::stable_sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->helpOrder < b->helpOrder; });
  return rows;
}

std::string usageText() {
  const std::vector<const SwitchSpec*> rows = switchesInHelpOrder();
  std::string text =
      "Usage: pictoravine /convert <format> [method depth quality passes] (/usesf | /output <folder>)\n"
      "                   (/file <paths> | /list <list files> | /cbpaste) [switches]\n"
      "Every switch may also be written with \"--\" (--convert). Paths given to /file and /list\n"
      "may be separated by \"|\" or given as separate arguments.\n\n";
  const std::string indent(28, ' ');
  for (const SwitchSpec* row : rows) {
    std::string head = std::string(row->handler ? "  /" : "  --") + std::string(row->name);
    if (!row->arguments.empty()) head += " " + std::string(row->arguments);
    head.resize(std::max<std::size_t>(head.size() + 2, indent.size()), ' ');
    std::string_view usage = row->usage;
    for (bool first = true; first || !usage.empty(); first = false) {
      const std::size_t end = std::min(usage.find('\n'), usage.size());
      text += (first ? head : indent) + std::string(usage.substr(0, end)) + "\n";
      usage.remove_prefix(std::min(end + 1, usage.size()));
    }
    if (!row->example.empty()) text += indent + "e.g. " + std::string(row->example) + "\n";
  }
  text +=
      "\nExit codes: 0 every image converted, 1 an image failed or a list could not be read,\n"
      "2 the command line was rejected, 130 interrupted (Ctrl+C), 143 stopped (SIGTERM).\n";
  return text;
}

namespace {

// A size in bytes, `bareUnit` bytes a unit when none is given; empty for
// text or a size below one byte.
std::optional<double> parseByteSize(std::string_view text, double bareUnit) {
  const std::string t = asciiLower(trimmed(text));
  std::size_t digits = 0, dots = 0;
  while (digits < t.size() && (std::isdigit(static_cast<unsigned char>(t[digits])) || t[digits] == '.'))
    dots += t[digits++] == '.';
  if (digits == 0 || dots > 1 || t[0] == '.' || t[digits - 1] == '.') return std::nullopt;
  const std::string unit = trimmed(std::string_view(t).substr(digits));
  double factor = 0;
  if (unit.empty()) factor = bareUnit;
  if (unit == "k" || unit == "kb") factor = 1e3;
  if (unit == "m" || unit == "mb") factor = 1e6;
  if (unit == "g" || unit == "gb") factor = 1e9;
  const double bytes = std::strtod(t.substr(0, digits).c_str(), nullptr) * factor;
  if (!(bytes >= 1)) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<std::uint32_t> parseSizeKb(std::string_view text) {
  const auto bytes = parseByteSize(text, 1e3);
  if (!bytes || *bytes < 1e3 || *bytes > 4e12) return std::nullopt;
  return static_cast<std::uint32_t>(*bytes / 1e3);
}

std::optional<int> parseMemoryMb(std::string_view text) {
  const auto bytes = parseByteSize(text, 1e6);
  if (!bytes || *bytes < 1e6 || *bytes > 2e15) return std::nullopt;
  return static_cast<int>(*bytes / 1e6);
}

namespace {

// Why --max-size cannot apply to the run's format: the formats it works
// with, or its lossless method.
std::string maxSizeRefusal(const formats::Format& f) {
  std::string formats;
  for (const FormatRow& row : formatRegistry())
    if (row.sizeTarget) formats += (formats.empty() ? "" : ", ") + std::string(row.key);
  if (!f.row().sizeTarget)
    return "Commandline Error: --max-size works with " + formats + ", not with " + f.key + ".";
  return "Commandline Error: --max-size needs a lossy method; " + f.key + " method " + std::to_string(f.method) +
         " keeps every pixel.";
}

}  // namespace

std::string unknownSwitchText(const std::string& arg) { return "unknown switch " + arg + " ignored"; }

std::vector<std::string> splitSwitchTokens(const std::vector<std::string>& args,
                                           std::vector<std::string>* unknown) {
  std::vector<std::string> tokens;
  bool pathList = false, first = true, skipping = false;
  for (const std::string& arg : args) {
    if (std::string_view body = switchBody(arg); !body.empty()) {
      tokens.emplace_back(body);
      pathList = iequals(body, "file") || iequals(body, "list");
      first = true;
      skipping = false;
      continue;
    }
    if (arg.size() > 2 && arg.starts_with("--") && arg.find('/') == std::string::npos) {
      if (unknown) unknown->push_back(arg);
      skipping = true;
      continue;
    }
    // Text before the first switch, and the arguments of an unknown one, are
    // ignored.
    if (tokens.empty() || skipping) continue;
    tokens.back() += first ? " " : (pathList ? "|" : " ");
    tokens.back() += arg;
    first = false;
  }
  return tokens;
}

ParseOutcome parseCommandLine(Session& s, const std::vector<std::string>& tokens) {
  s.running = true;
  SwitchParser parser(s);
  for (const std::string& token : tokens) parser.apply(token);
  ParseOutcome out = parser.outcome;
  Settings& set = s.settings;
  const auto reject = [&](const std::string& text) {
    if (set.ShowMessages) s.prompter.error(set.caption, text);
    out.proceed = false;
    return out;
  };
  if (!parser.refused.empty()) return reject(parser.refused);
  if (set.shellOptionsFlag || set.openFlag) {
    out.proceed = true;
    return out;
  }
  if (!set.UseSourcePathForOutput && set.OutPutDir.empty()) return reject(kNoOutputPlaceText);
  if (!s.format) return reject(kNoFormatText);
  const bool listing = s.deferred && s.deferred->pending();
  if (!set.clipboardSource && s.list.empty() && !listing && s.texts.errorSummary.empty())
    return reject(kNoImagesText);
  if (set.shellFlag) {
    s.format->loadShellOptions();
    if (!set.DefaultShellContextProfile.empty())
      loadProfile(set, s.chain, set.DefaultShellContextProfile, s.prompter);
  }
  if (set.maxSizeKb > 0) {
    s.format->maxFileSize = set.maxSizeKb;
    if (s.format->sizeLimit().bytes == 0) return reject(maxSizeRefusal(*s.format));
  }
  out.proceed = true;
  return out;
}

int commandLineExitCode(const Session& s, const ParseOutcome& parsed) {
  if (s.interrupted) return 130;
  return s.texts.errorSummary.empty() && !parsed.listFailed ? 0 : 1;
}

}  // namespace pv::app
