#include "app/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace pv::app {

namespace {

struct ErrorRow {
  std::uint16_t first, last;
  const char* message;
};

// Rows that list several numbers appear once per number or range.
constexpr ErrorRow kErrorRows[] = {
    {20000, 20000, "Function not successful"},
    {20001, 20001, "Not enough memory available"},
    {20003, 20003, "Not enough memory available"},
    {20107, 20107, "Not enough memory available"},
    {20002, 20002, "Invalid bitmap handle"},
    {20004, 20004, "Error seeking to position"},
    {20005, 20005, "Error writing file"},
    {20102, 20102, "Error writing file"},
    {20006, 20006, "File not present - abort"},
    {20007, 20007, "Error reading file"},
    {20103, 20103, "Error reading file"},
    {20008, 20008, "Invalid filename specified"},
    {20009, 20009, "Invalid file format"},
    {20010, 20010, "File not found"},
    {20104, 20104, "File not found"},
    {20011, 20011, "Invalid width/height"},
    {20012, 20012, "Image format recognized, but sub-type not supported"},
    {20013, 20013, "Invalid parameter passed"},
    {20014, 20014, "Not able to open file"},
    {20015, 20015, "Unknown compression format"},
    {20016, 20016, "Feature not supported"},
    {20017, 20017, "VGA card only supports 256 colors (8 bit)"},
    {20018, 20018, "Printer error"},
    {20019, 20019, "Data CRC check error"},
    {20021, 20021, "Invalid QFactor specified"},
    {20022, 20022, "TARGA not installed"},
    {20023, 20023, "Invalid compression format"},
    {20024, 20024, "X origin specified invalid"},
    {20025, 20025, "Y origin specified invalid"},
    {20026, 20026, "Invalid video mode"},
    {20027, 20027, "Invalid bits/pixel"},
    {20028, 20028, "Invalid window size"},
    {20029, 20029, "Escape key pressed - or user aborted operation"},
    {20030, 20062, "Internal error"},
    {20601, 20601, "Internal error"},
    {20602, 20602, "Internal error"},
    {20063, 20063, "fixed palette data not found"},
    {20064, 20064, "fixed palette data not found"},
    {20065, 20065, "stamp not found"},
    {20070, 20070, "invalid group 3 dat"},
    {20071, 20071, "group3 code end of file"},
    {20072, 20072, "group3 code end of code"},
    {20073, 20073, "premature EOF at scanline"},
    {20074, 20077, "premature end-of-line code"},
    {20078, 20078, "bad version number"},
    {20079, 20079, "TWAIN source manager not found"},
    {20080, 20080, "TWAIN Failure due to unknown causes"},
    {20081, 20081, "TWAIN Not enough memory to perform operation"},
    {20082, 20082, "TWAIN No Data Source"},
    {20083, 20083, "TWAIN DS is connected to max possible apps"},
    {20084, 20084,
     "TWAIN DS or DSM reported error, app shouldn't (no need for your app to report the error)"},
    {20085, 20085, "TWAIN Unknown capability"},
    {20086, 20086, "TWAIN Unrecognized MSG DG DAT combination"},
    {20087, 20087, "TWAIN Data parameter out of range"},
    {20088, 20088, "TWAIN DG DAT MSG out of expected sequence"},
    {20089, 20089, "TWAIN Unknown destination App/Src in DSM_Entry"},
    {20090, 20090, "TWAIN Operation was cancelled"},
    {20091, 20091, "PanWindow creation failed"},
    {20092, 20092, "Not enough images - more input images are required"},
    {20093, 20093, "TWAIN capability unsupported"},
    {20094, 20094, "TWAIN File Transfer unsupported"},
    {20100, 20100, "User has aborted operation"},
    {20101, 20101, "Invalid FlashPix format"},
    {20105, 20105, "Color conversion error"},
    {20106, 20106, "Server initialize error"},
    {20108, 20108, "Image too big"},
    {20109, 20109, "Invalid compression"},
    {20110, 20110, "Invalid resolution"},
    {20111, 20111, "Invalid handle"},
    {20112, 20112, "Too many lines"},
    {20113, 20113, "Invalid coordinates"},
    {20114, 20114, "File system full"},
    {20115, 20115, "The table is missing"},
    {20116, 20116, "Parameter too large"},
    {20117, 20117, "Error view"},
    {20118, 20118, "The view is transformless"},
    {20119, 20119, "General error"},
    {20120, 20120, "Unimplemented function"},
    {20121, 20121, "Invalid image description"},
    {20122, 20122, "Invalid jpeg table"},
    {20123, 20123, "Illegal jpeg identifier"},
    {20124, 20124, "Memory allocation failed"},
    {20125, 20125, "No memory management"},
    {20126, 20126, "Object creation failed"},
    {20127, 20127, "Extension_failed"},
    {20128, 20128, "Free null pointer"},
    {20129, 20129, "Invalid tile"},
    {20130, 20130, "File in use"},
    {20131, 20131, "Error creating file"},
    {20132, 20132, "File not open"},
    {20133, 20133, "User abort"},
    {20134, 20134, "OLE File I/O error"},
    {20140, 20140, "Bad TIFF tag"},
    {20141, 20141, "Stamp size is too big or invalid bits/pixel, etc"},
    {20142, 20142, "Stamp is present but data is corrupted"},
    {20143, 20143, "Document capability is required to use this function"},
    {20144, 20144, "Image is empty"},
    {20145, 20145, "The image hasn't changed"},
    {20148, 20148, "One or more annotation objects are still locked"},
    {20149, 20149, "An unspecified exception occured - could be memory access violations"},
    {20150, 20150, "An error occured during creation of the common dialog"},
    {20151, 20151, "You have already initialized the dialogs"},
    {20152, 20152, "You did not initialize the dialogs"},
    {20153, 20153, "You did not initialize the dialogs with DLG_INIT_COLOR"},
    {20154, 20154, "The dialogs could not load the LTCLR dll"},
    {20155, 20155, "The dialogs could not load the LTDLGRES dll"},
    {20350, 20350, "directory browsing failed"},
    {20351, 20351, "There is nothing to do! - i.e. no files were found"},
    {20352, 20352, "Internet capability is required to use this function"},
    {20353, 20353, "The LVKRN DLL is needed to use this function"},
    {20355, 20355, "CMW filter is needed to use this function"},
    {20356, 20356, "CMP filter is needed to use this function"},
    {20357, 20357, "FAX filter is needed to use this function"},
    {20600, 20600, "DigitalPaint capability is required to use this function"},
    {20603, 20603, "DigitalPaint capability is required to use this function"},
    {20800, 20800, "The PSD Layer is missing"},
    {20801, 20801, "Bad JPEG marker"},
    {20802, 20802, "The audio data is not present"},
    {20803, 20803, "DICOM support is required to use this function"},
    {20804, 20804, "Extended grayscale support is required to use this function"},
    {20805, 20805, "File is read-only. Cannot open file with write access"},
    {20806, 20806, "Bad JPEG Resync marker"},
    {20807, 20807, "LTCLR DLL is missing"},
    {20808, 20808, "The size of the JPEG marker cannot exceed 64K"},
    {20809, 20809, "The required JPEG marker is missing"},
    {20810, 20810, "This file does not contain Exif extensions"},
    {20811, 20811, "The marker index is invalid (too big)"},
    {20812, 20812, "The ICC profile was not found"},
    {20813, 20813, "An error has occured while decoding the profile"},
    {20814, 20814, "A NULL pointer was passed"},
    {20815, 20815, "The overlay does not exist"},
    {20816, 20816, "Something is wrong with the overlay index"},
    {20900, 20900, "The LTCLR DLL is not loaded"},
    {20901, 20901, "The LDLGRES DLL is not loaded"},
    {20902, 20902, "You must initialize LTDLG using L_DlgInit"},
    {20910, 20910, "Image size not sufficient"},
    {20911, 20911, "There is no message."},
    {20912, 20912, "Invalid password."},
    {20913, 20913, "The specified TIFF command is not allowed"},
    {20914, 20914, "Bad TIFF Tag value."},
    {20915, 20915, "Not Multi-Page TIFF file."},
    {20916, 20916, "Not allowed to delete the TIFF file."},
    {21103, 21103, "Input path misses drive name"},
    {21104, 21104, "Invalid output file path"},
    {21105, 21105, "Cannot find file"},
    {21106, 21106, "Invalid input directory name"},
    {21107, 21107, "Invalid output directory name"},
};

constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

std::string timeLine(const char* what, std::time_t when, const char* before, const char* after) {
  std::tm tm{};
  if (!localtime_r(&when, &tm) || tm.tm_mon < 0 || tm.tm_mon > 11) return {};
  char buf[128];
  const int n = std::snprintf(buf, sizeof buf, "%s--- Conversion %s %s %02d. %04d %02d:%02d:%02d ---%s",
                              before, what, kMonths[static_cast<std::size_t>(tm.tm_mon)], tm.tm_mday,
                              tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, after);
  return n > 0 && static_cast<std::size_t>(n) < sizeof buf ? std::string(buf, static_cast<std::size_t>(n))
                                                           : std::string();
}

void replaceFirst(std::string& text, std::size_t& from, std::string_view what, std::string_view with) {
  const std::size_t at = text.find(what, from);
  if (at == std::string::npos) return;
  text.replace(at, what.size(), with);
  from = at + with.size();
}

}  // namespace

std::string_view errorMessage(unsigned status) {
  for (const ErrorRow& row : kErrorRows)
    if (status >= row.first && status <= row.last) return row.message;
  return "Unknown reason";
}

std::string errorText(std::string_view pattern, std::string_view path, unsigned status) {
  std::string out(pattern);
  std::size_t at = 0;
  replaceFirst(out, at, "%u", std::to_string(status));
  replaceFirst(out, at, "%s", errorMessage(status));
  replaceFirst(out, at, "%s", path);
  return out;
}

std::string startLine(std::time_t when) {
  return timeLine("Start", when, "", "\r\n\r\n");
}
std::string endLine(std::time_t when) {
  return timeLine("End", when, "\r\n", "\r\n");
}

void logNotAnImage(RunTexts& texts, std::string_view path) {
  const std::string p(path);
  if (texts.errorSummary.empty()) texts.errorSummary += kOpenedHeader;
  const std::string line = "ERROR 5003 - " + std::string(kNotAnImageText) + " - " + p;
  texts.errorSummary += line + "\r\n";
  texts.conversionLog += line + " could NOT be opened.\r\n";
}

void logOpenFailure(RunTexts& texts, std::string_view path, unsigned status) {
  if (texts.errorSummary.empty()) texts.errorSummary += kOpenedHeader;
  texts.errorSummary += errorText(kSummaryPattern, path, status);
  texts.conversionLog += errorText(kLogPattern, path, status);
}

void logListRecord(RunTexts& texts, const OutcomeRecord& record) {
  if (record.succeeded()) return;
  if (record.status == kNotAnImageStatus)
    logNotAnImage(texts, record.source);
  else
    logOpenFailure(texts, record.source, record.status);
}

std::string sizeTargetText(const OutcomeRecord::SizeTarget& t) {
  const auto kb = [](std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1000.0);
    return std::string(text);
  };
  const std::string q = std::to_string(t.quality);
  if (t.pagesTogether)
    return "its pages went into one file at quality " + q + " (" + kb(t.bytes) + "); the size limit of " +
           kb(t.limit) + " is sought for single images only.";
  if (t.fits()) return "written at quality " + q + " (" + kb(t.bytes) + ", within the limit of " + kb(t.limit) + ").";
  return "the size limit of " + kb(t.limit) + " was not reached: written at the lowest quality, " + q + " (" +
         kb(t.bytes) + ").";
}

void RunLog::add(const OutcomeRecord& r) {
  if (r.skipped) {
    if (settings_.DoLog) texts_.conversionLog += r.source + " was skipped: its output is up to date.\r\n";
  } else if (!r.passedOver) {
    if (r.succeeded()) {
      converted(r.source);
      if (!r.metadataDropped.empty())
        texts_.conversionLog += r.source + ": its metadata was left out (" + r.metadataDropped + ").\r\n";
      if (r.sourceKept)
        texts_.conversionLog += r.source + ": its output would be larger, so the source was kept as it is.\r\n";
      if (r.memoryNeeded > 0)
        texts_.conversionLog += r.source + ": it needs about " + std::to_string(std::llround(r.memoryNeeded / 1e6)) +
                                " MB, more than the memory budget of " +
                                std::to_string(std::llround(r.memoryBudget / 1e6)) + " MB, so it ran alone.\r\n";
      if (r.sizeTarget) texts_.conversionLog += r.source + ": " + sizeTargetText(*r.sizeTarget) + "\r\n";
      if (r.datesNotKept)
        texts_.conversionLog += r.source + ": its dates could not be given to its output.\r\n";
      if (r.sourceNotDeleted) notDeleted(r.source);
      if (r.outputNotRenamed && !r.outputs.empty()) notOverwritten(r.outputs.back());
    } else {
      failed(r.source, r.status);
    }
  }
  if (observer_) observer_->outcome(r);
}

void RunLog::start(std::time_t when) {
  texts_.conversionLog += startLine(when);
}
void RunLog::end(std::time_t when) {
  texts_.conversionLog += endLine(when);
}

void RunLog::summary(const std::string& line) {
  if (!headerWritten_) texts_.errorSummary += kConvertedHeader;
  headerWritten_ = true;
  texts_.errorSummary += line;
}

void RunLog::converted(std::string_view sourcePath) {
  if (settings_.DoLog) texts_.conversionLog += std::string(sourcePath) + " was successfully converted.\r\n";
}

void RunLog::failed(std::string_view sourcePath, unsigned status) {
  summary(errorText(kSummaryPattern, sourcePath, status));
  texts_.conversionLog += errorText(kLogPattern, sourcePath, status);
}

void RunLog::notDeleted(std::string_view sourcePath) {
  const std::string p(sourcePath);
  const std::string text =
      "ERROR 5028 - You have \"Delete Source Image\" enabled, but I could not delete this file - " + p;
  summary(text + "\r\n");
  texts_.conversionLog += text + " could NOT be deleted.\r\n";
}

void RunLog::notOverwritten(std::string_view outputPath) {
  const std::string p(outputPath);
  const std::string text =
      "ERROR 5044 - You have \"Overwrite Original Image\" enabled, but I could not overwrite this file - " +
      p;
  summary(text + "\r\n");
  texts_.conversionLog += text + " could NOT be overwritten.\r\n";
}

void RunLog::aborted() {
  texts_.conversionLog += "Conversion process aborted.\r\n";
}

bool saveLog(const Settings& settings, const RunTexts& texts, Prompter& prompter) {
  auto fail = [&] {
    if (settings.ShowMessages) prompter.error(settings.caption, kLogSaveFailedText);
    return false;
  };
  const int fd = settings.LogFile.empty()
                     ? -1
                     : ::open(settings.LogFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return fail();
  // "\r\n" in memory is one LF on disk.
  std::string text;
  text.reserve(texts.conversionLog.size());
  const std::string& log = texts.conversionLog;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
    text.push_back(log[i]);
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  // A log that did not reach the disk whole (a full disk) is reported too.
  const bool written = ::close(fd) == 0 && done == text.size();
  return written ? true : fail();
}

}  // namespace pv::app
