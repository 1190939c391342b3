#include "app/options.h"

#include "app/naming.h"

namespace pv::app {

GlobalPage globalPageOf(const Settings& s) {
  return {s.AskWhereSave, s.ShowThumbnails, !s.ShowMessages, s.ScanSubDir, s.DoLog, s.LogFile, s.MultiPageOption,
          s.Threads,      s.AutoOrient,    s.KeepMetadata, s.KeepDates, s.StripLocation};
}

std::string applyGlobalPage(Settings& s, const GlobalPage& p) {
  s.ShowMessages = !p.silent;
  s.AskWhereSave = p.askWhereSave;
  s.ShowThumbnails = p.showThumbnails;
  s.ScanSubDir = p.scanSubDir;
  s.DoLog = p.doLog;
  if (p.doLog) {
    if (p.logFile.empty()) return kNoLogFileText;
    s.LogFile = p.logFile;
  }
  s.MultiPageOption = p.multiPage;
  s.Threads = std::max(0, p.threads);
  s.AutoOrient = p.autoOrient;
  s.KeepMetadata = p.keepMetadata;
  s.KeepDates = p.keepDates;
  s.StripLocation = p.stripLocation;
  return {};
}

FilePage filePageOf(const Settings& s) {
  // The overwrite box and the "when an output exists" choice say one thing.
  return {s.DeleteSourceAfterConvert,
          s.overwritesOutputs(),
          outputPlaceOf(s),
          s.FileNameBefore,
          s.FileNameAfter,
          s.FileNameNumber,
          s.FileNameMultiPage,
          s.OnlySmaller,
          s.KeepFolders,
          s.overwritesOutputs() ? Settings::kOverwrite : s.WhenOutputExists};
}

std::string applyFilePage(Settings& s, const FilePage& p) {
  for (const std::string& text : {p.before, p.after})
    if (std::string problem = nameTokenProblem(text); !problem.empty()) return problem;
  s.DeleteSourceAfterConvert = p.deleteSource;
  s.OverwriteOriginalImage = p.overwrite || p.whenExists == Settings::kOverwrite;
  s.OnlySmaller = p.onlySmaller;
  s.KeepFolders = p.keepFolders;
  s.WhenOutputExists = s.OverwriteOriginalImage ? Settings::kOverwrite : p.whenExists;
  if (std::string problem = applyOutputPlace(s, p.place); !problem.empty()) return problem;
  s.FileNameBefore = p.before;
  s.FileNameAfter = p.after;
  s.FileNameNumber = p.number.find("%n") == std::string::npos ? p.number + "-%n" : p.number;
  s.FileNameMultiPage = p.multiPage.find("%n") == std::string::npos ? p.multiPage + "-#%n" : p.multiPage;
  return {};
}

ShellPage shellPageOf(const Settings& s) { return {s.ShellContextEnabled, s.shellFormats}; }

void applyShellPage(Settings& s, const ShellPage& p, const std::function<void(bool)>& registerMenu) {
  if (p.enabled != s.ShellContextEnabled) {
    s.ShellContextEnabled = p.enabled;
    if (registerMenu) registerMenu(p.enabled);
  }
  s.shellFormats = p.formats;
}

}  // namespace pv::app
