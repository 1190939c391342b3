#pragma once
// The three pages of the options sheet as plain values: what each page shows
// (read from the settings) and how it is stored back, with its checks. A page
// that was never shown is never applied, so it changes nothing.

#include <array>
#include <functional>
#include <string>

#include "app/settings.h"

namespace pv::app {

inline constexpr const char* kNoLogFileText = "Please enter a logfile.";
inline constexpr const char* kRestartText = "The program has to be restarted for this change to take effect.";
inline constexpr const char* kShellRestartText =
    "Your computer might need to be to be restarted for this change to take effect.";
inline constexpr const char* kDeleteWarningText =
    "Use this option with caution! Some images might not always convert correctly.\n\nIf the result is not "
    "acceptable, you will not be able to revert back the original image since it will be deleted.";
inline constexpr const char* kOverwriteWarningText =
    "Use this option with caution! Some images might not always convert correctly.\n\nIf the result is not "
    "acceptable, you will not be able to revert back the original image since it will be overwritten.";

struct GlobalPage {
  bool askWhereSave = true, showThumbnails = true, silent = false, scanSubDir = true, doLog = false;
  std::string logFile;
  int multiPage = 0;
  int threads = 0;  // workers of a conversion, 0: one per core
  bool autoOrient = true, keepMetadata = true, keepDates = true, stripLocation = false;
};
GlobalPage globalPageOf(const Settings& settings);
// Stores the page; the message when the log is on without a file (then the
// settings before it are already stored, the rest is not).
std::string applyGlobalPage(Settings& settings, const GlobalPage& page);

struct FilePage {
  bool deleteSource = false, overwrite = false;
  OutputPlace place;
  std::string before, after, number = "-%n", multiPage = "-#%n";
  bool onlySmaller = false, keepFolders = false;
  int whenExists = Settings::kNumberNew;
};
FilePage filePageOf(const Settings& settings);
// Stores the page; "-%n" / "-#%n" are appended to a numbering format
// without "%n". The message of an empty folder or path stops it.
std::string applyFilePage(Settings& settings, const FilePage& page);

struct ShellPage {
  bool enabled = true;
  std::array<bool, kFormatCount> formats{};
};
ShellPage shellPageOf(const Settings& settings);
// Stores the page; when the menu is switched on or off, `registerMenu` is
// called with the new state.
void applyShellPage(Settings& settings, const ShellPage& page, const std::function<void(bool)>& registerMenu);

}  // namespace pv::app
