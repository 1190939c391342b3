#pragma once
// The conversion log and the error summary: the exact lines a job writes into
// the two texts a run makes (RunTexts), the words for an engine status, and
// the log file on disk. Lines end in "\r\n" in memory.

#include <ctime>
#include <string>
#include <string_view>

#include "app/job.h"
#include "app/ports.h"
#include "app/settings.h"

namespace pv::app {

// What runs make for people to read, as opposed to the settings they read:
// the conversion log and the error summary of the current run (a
// command-line run keeps the lines of its parse before the run's own).
struct RunTexts {
  std::string conversionLog;
  std::string errorSummary;
};

inline constexpr const char* kOpenedHeader = "The following images could not be opened:\r\n\r\n";
inline constexpr const char* kConvertedHeader = "The following images could not be converted:\r\n\r\n";
inline constexpr const char* kSummaryPattern = "ERROR %u - %s - %s\r\n";
inline constexpr const char* kLogPattern = "ERROR %u - %s - %s could NOT be converted\r\n";
inline constexpr const char* kNotAnImageText = "Does not seem to be a valid image file";
inline constexpr const char* kLogSaveFailedText =
    "Could not save the conversion log file. Perhaps it is in use or write-protected?";

// The words for an engine status; "Unknown reason" for a number the table lacks.
std::string_view errorMessage(unsigned status);

// `pattern` with its first "%u" replaced by the status in decimal, then its
// first "%s" by the status's words and the next "%s" by `path`. Only these
// three are replaced, so a '%' in a path is copied as it is.
std::string errorText(std::string_view pattern, std::string_view path, unsigned status);

// "--- Conversion Start December 07. 2026 20:30:00 ---" style lines: the local
// time with English month names whatever the locale; empty when the time
// cannot be converted.
std::string startLine(std::time_t when);
std::string endLine(std::time_t when);

// Open failures while an image is being listed. The first one of a summary
// comes under the "could not be opened" header.
void logNotAnImage(RunTexts& texts, std::string_view path);                    // ERROR 5003 lines
void logOpenFailure(RunTexts& texts, std::string_view path, unsigned status);  // load status lines
// The lines of a list candidate's record (none for an entry added).
void logListRecord(RunTexts& texts, const OutcomeRecord& record);
// What a save under a size limit wrote, for the log: the quality and size,
// and whether the limit was reached.
std::string sizeTargetText(const OutcomeRecord::SizeTarget& target);

// The lines of one conversion run. The "could not be converted" header goes
// before the first failure line of the run, once, whatever the summary holds.
class RunLog {
 public:
  // Success lines are written with `settings`' DoLog on.
  RunLog(RunTexts& texts, const Settings& settings, JobObserver* observer = nullptr)
      : texts_(texts), settings_(settings), observer_(observer) {}
  // The lines of one image's (or page's) record, then the record goes to the
  // observer.
  void add(const OutcomeRecord& record);
  void start(std::time_t when);
  void end(std::time_t when);
  // Success lines are written only with DoLog on.
  void converted(std::string_view sourcePath);
  void failed(std::string_view sourcePath, unsigned status);
  void notDeleted(std::string_view sourcePath);
  void notOverwritten(std::string_view outputPath);
  void aborted();

 private:
  void summary(const std::string& line);
  RunTexts& texts_;
  const Settings& settings_;
  JobObserver* observer_;
  bool headerWritten_ = false;
};

// Appends the conversion log of `texts` to LogFile with LF line ends. When the file
// cannot be opened for appending (an empty LogFile included) it returns false
// and, with ShowMessages on, tells the user. The log in memory is unchanged.
bool saveLog(const Settings& settings, const RunTexts& texts, Prompter& prompter);

}  // namespace pv::app
