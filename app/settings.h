#pragma once
// The program-wide settings record and its file config.ini in the data folder.

#include <array>
#include <cstdint>
#include <string>

#include "core/format_registry.h"

namespace pv::app {

inline constexpr const char* kCaption = "Pictoravine Image Converter";

struct Settings {
  // Command-line state.
  bool commandLineMode = false;
  bool shellFlag = false;
  bool clipboardSource = false;
  // --skip-done: an image whose output is already there and not older than it
  // is skipped. --report: where the JSON Lines report goes ("-": standard
  // output; empty: none).
  bool skipDone = false;
  std::string reportPath;
  // --max-size: the output format's size limit for this run in kilobytes of
  // 1000 bytes (0: the format's own setting).
  std::uint32_t maxSizeKb = 0;

  // Paths built from the program and data folders.
  std::string configPath;
  std::string dataDatPath;
  std::string helpPath;
  std::string shellLibraryPath;

  bool ShellContextEnabled = true;
  bool openFlag = false;
  // Device pixels per pixel of the thumbnail box, set by a window on a
  // high-density screen so thumbnails are made sharp there (1 to 4).
  double thumbnailScale = 1.0;

  // Section "Global", in the file's key order.
  bool ScanSubDir = true;
  bool ShowMessages = true;
  bool UseSourcePathForOutput = true;
  bool DeleteSourceAfterConvert = false;
  bool OverwriteOriginalImage = false;
  // An output in its source's own format that comes out larger than the
  // source is the source's own bytes instead.
  bool OnlySmaller = false;
  // With an output folder, an image found below a folder searched goes into
  // the same sub-folders below the output folder.
  bool KeepFolders = false;
  bool DoLog = false;
  int MultiPageOption = 0;
  std::string OutPutDir;
  std::string LogFile;
  std::string FileNameAfter;
  std::string FileNameBefore;
  std::string FileNameNumber = "-%n";
  std::string FileNameMultiPage = "-#%n";
  int DefaultFormatType = 0;
  std::string DefaultShellContextProfile;
  // What a run does where an image's output exists already: number a new
  // name (kNumberNew), write over it (kOverwrite, as OverwriteOriginalImage
  // does: the window keeps the two together), or skip the image when its
  // outputs are not older than it (kSkipExisting, the rule of --skip-done).
  // Other values number.
  enum WhenOutputExists { kNumberNew = 0, kOverwrite = 1, kSkipExisting = 2 };
  int WhenOutputExists = kNumberNew;
  bool overwritesOutputs() const { return OverwriteOriginalImage || WhenOutputExists == kOverwrite; }
  // The folder the window's open dialogs last took images from; they open
  // there next time (else in the Pictures folder).
  std::string LastImageFolder;

  // Section "Shell": one flag per format registry entry.
  std::array<bool, kFormatCount> shellFormats{};

  bool ShowPictureBefore = true;
  bool ShowPictureAfter = false;
  bool ShowThumbnails = true;
  bool AskWhereSave = true;
  // Workers of a conversion: 0 one per core.
  int Threads = 0;
  // The memory the images in work may take at once, in megabytes of a
  // million bytes: 0 half of what is available when a run starts.
  int MemoryBudget = 0;
  // Photos are turned upright by their EXIF orientation when loaded, and
  // outputs keep the source's EXIF, XMP and IPTC.
  bool AutoOrient = true;
  bool KeepMetadata = true;
  // Outputs keep the rest of the source's tags but not where it was taken.
  bool StripLocation = false;
  // Outputs take their source's modification and access times.
  bool KeepDates = true;

  bool shellOptionsFlag = false;

  std::string caption = kCaption;
};

// Builds the paths, presets every field and reads section "Global" (keys in
// table order) and section "Shell" from config.ini in the data folder. A missing
// or damaged file reads as the defaults. A DefaultFormatType outside the
// registry selects index 0 (JPG).
Settings loadSettings();

// Writes every "Global" key in table order, then every "Shell" key, into the
// config path in one atomic replacement of the file; other keys, sections and
// comments of the file are kept. Returns false when the file could not be
// written (callers do not report it).
bool saveSettings(const Settings& settings);

// Where converted images go, as the save-location dialog and the file options
// page show it: beside their sources, in one folder (an absolute path), or in
// a path made below each source's folder.
struct OutputPlace {
  enum Choice { kBesideSource, kOneFolder, kBelowSource } choice = kBesideSource;
  std::string path;  // the folder or the path of the last two choices
};
OutputPlace outputPlaceOf(const Settings& settings);
// The stored output folder as the dialogs show it, also while outputs go
// beside their sources (so that switching back needs no typing): a folder
// (kOneFolder) or a path below each source (kBelowSource); kBesideSource
// when none is stored.
OutputPlace storedOutputFolder(const Settings& settings);
inline constexpr const char* kNoOutputFolderText = "Please enter an output folder.";
inline constexpr const char* kNoOutputPathText = "Please enter an output path to create.";
// Stores a place in UseSourcePathForOutput and OutPutDir (a path below the
// source loses its '/' at both ends and gets one at its end). Returns the
// message for an empty folder or path, and then changes nothing.
std::string applyOutputPlace(Settings& settings, const OutputPlace& place);

// The built-in "Shell" flag of a format key: on for JPG, BMP, PNG, GIF, ICO,
// TIF and CLP.
bool defaultShellFlag(std::string_view key);

}  // namespace pv::app
