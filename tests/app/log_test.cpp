#include "app/log.h"

#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <sstream>

#include "tests/app/prompter.h"
#include "tests/support/support.h"

using pv::app::RunLog;
using pv::app::Settings;

namespace {

// The message table, written out separately from the program's own table.
constexpr const char* kTable = R"table(
20000 "Function not successful";
20001, 20003, 20107 "Not enough memory available";
20002 "Invalid bitmap handle";
20004 "Error seeking to position";
20005, 20102 "Error writing file";
20006 "File not present - abort";
20007, 20103 "Error reading file";
20008 "Invalid filename specified";
20009 "Invalid file format";
20010, 20104 "File not found";
20011 "Invalid width/height";
20012 "Image format recognized, but sub-type not supported";
20013 "Invalid parameter passed";
20014 "Not able to open file";
20015 "Unknown compression format";
20016 "Feature not supported";
20017 "VGA card only supports 256 colors (8 bit)";
20018 "Printer error";
20019 "Data CRC check error";
20021 "Invalid QFactor specified";
20022 "TARGA not installed";
20023 "Invalid compression format";
20024 "X origin specified invalid";
20025 "Y origin specified invalid";
20026 "Invalid video mode";
20027 "Invalid bits/pixel";
20028 "Invalid window size";
20029 "Escape key pressed - or user aborted operation";
20030 to 20062, 20601, 20602 "Internal error";
20063, 20064 "fixed palette data not found";
20065 "stamp not found";
20070 "invalid group 3 dat";
20071 "group3 code end of file";
20072 "group3 code end of code";
20073 "premature EOF at scanline";
20074 to 20077 "premature end-of-line code";
20078 "bad version number";
20079 "TWAIN source manager not found";
20080 "TWAIN Failure due to unknown causes";
20081 "TWAIN Not enough memory to perform operation";
20082 "TWAIN No Data Source";
20083 "TWAIN DS is connected to max possible apps";
20084 "TWAIN DS or DSM reported error, app shouldn't (no need for your app to report the error)";
20085 "TWAIN Unknown capability";
20086 "TWAIN Unrecognized MSG DG DAT combination";
20087 "TWAIN Data parameter out of range";
20088 "TWAIN DG DAT MSG out of expected sequence";
20089 "TWAIN Unknown destination App/Src in DSM_Entry";
20090 "TWAIN Operation was cancelled";
20091 "PanWindow creation failed";
20092 "Not enough images - more input images are required";
20093 "TWAIN capability unsupported";
20094 "TWAIN File Transfer unsupported";
20100 "User has aborted operation";
20101 "Invalid FlashPix format";
20105 "Color conversion error";
20106 "Server initialize error";
20108 "Image too big";
20109 "Invalid compression";
20110 "Invalid resolution";
20111 "Invalid handle";
20112 "Too many lines";
20113 "Invalid coordinates";
20114 "File system full";
20115 "The table is missing";
20116 "Parameter too large";
20117 "Error view";
20118 "The view is transformless";
20119 "General error";
20120 "Unimplemented function";
20121 "Invalid image description";
20122 "Invalid jpeg table";
20123 "Illegal jpeg identifier";
20124 "Memory allocation failed";
20125 "No memory management";
20126 "Object creation failed";
20127 "Extension_failed";
20128 "Free null pointer";
20129 "Invalid tile";
20130 "File in use";
20131 "Error creating file";
20132 "File not open";
20133 "User abort";
20134 "OLE File I/O error";
20140 "Bad TIFF tag";
20141 "Stamp size is too big or invalid bits/pixel, etc";
20142 "Stamp is present but data is corrupted";
20143 "Document capability is required to use this function";
20144 "Image is empty";
20145 "The image hasn't changed";
20148 "One or more annotation objects are still locked";
20149 "An unspecified exception occured - could be memory access violations";
20150 "An error occured during creation of the common dialog";
20151 "You have already initialized the dialogs";
20152 "You did not initialize the dialogs";
20153 "You did not initialize the dialogs with DLG_INIT_COLOR";
20154 "The dialogs could not load the LTCLR dll";
20155 "The dialogs could not load the LTDLGRES dll";
20350 "directory browsing failed";
20351 "There is nothing to do! - i.e. no files were found";
20352 "Internet capability is required to use this function";
20353 "The LVKRN DLL is needed to use this function";
20355 "CMW filter is needed to use this function";
20356 "CMP filter is needed to use this function";
20357 "FAX filter is needed to use this function";
20600, 20603 "DigitalPaint capability is required to use this function";
20800 "The PSD Layer is missing";
20801 "Bad JPEG marker";
20802 "The audio data is not present";
20803 "DICOM support is required to use this function";
20804 "Extended grayscale support is required to use this function";
20805 "File is read-only. Cannot open file with write access";
20806 "Bad JPEG Resync marker";
20807 "LTCLR DLL is missing";
20808 "The size of the JPEG marker cannot exceed 64K";
20809 "The required JPEG marker is missing";
20810 "This file does not contain Exif extensions";
20811 "The marker index is invalid (too big)";
20812 "The ICC profile was not found";
20813 "An error has occured while decoding the profile";
20814 "A NULL pointer was passed";
20815 "The overlay does not exist";
20816 "Something is wrong with the overlay index";
20900 "The LTCLR DLL is not loaded";
20901 "The LDLGRES DLL is not loaded";
20902 "You must initialize LTDLG using L_DlgInit";
20910 "Image size not sufficient";
20911 "There is no message.";
20912 "Invalid password.";
20913 "The specified TIFF command is not allowed";
20914 "Bad TIFF Tag value.";
20915 "Not Multi-Page TIFF file.";
20916 "Not allowed to delete the TIFF file.";
21103 "Input path misses drive name";
21104 "Invalid output file path";
21105 "Cannot find file";
21106 "Invalid input directory name";
21107 "Invalid output directory name";
)table";

std::map<unsigned, std::string> expectedMessages() {
  std::map<unsigned, std::string> out;
  std::istringstream in(kTable);
  std::string line;
  while (std::getline(in, line)) {
    // <numbers> "<message>";
    const std::size_t quote = line.find(" \"");
    if (quote == std::string::npos || !line.ends_with("\";")) continue;
    const std::string message = line.substr(quote + 2, line.size() - quote - 4);
    std::istringstream nums(line.substr(0, quote));
    std::string part;
    while (std::getline(nums, part, ',')) {
      unsigned a = 0, b = 0;
      if (std::sscanf(part.c_str(), " %u to %u", &a, &b) != 2)
        b = a = static_cast<unsigned>(std::stoul(part));
      for (unsigned n = a; n <= b; ++n) out[n] = message;
    }
  }
  return out;
}

std::time_t localTime(int year, int month, int day, int h, int m, int s) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = h;
  tm.tm_min = m;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

}  // namespace

TEST(ConversionLog, TheWholeMessageTable) {
  const auto expected = expectedMessages();
  std::size_t rows = 0;
  for (char c : std::string(kTable)) rows += c == ';';
  EXPECT_EQ(rows, 138u);
  for (unsigned n = 0; n <= 70000; ++n) {
    auto it = expected.find(n);
    const std::string want = it == expected.end() ? "Unknown reason" : it->second;
    ASSERT_EQ(pv::app::errorMessage(n), want) << n;
  }
  EXPECT_EQ(pv::app::errorText(pv::app::kSummaryPattern, "/a/b.png", 20020),
            "ERROR 20020 - Unknown reason - /a/b.png\r\n");
  // A '%' in a path is copied, never read as a conversion.
  EXPECT_EQ(pv::app::errorText(pv::app::kLogPattern, "/x/%s%u%n.jpg", 20009),
            "ERROR 20009 - Invalid file format - /x/%s%u%n.jpg could NOT be converted\r\n");
}

TEST(ConversionLog, StartAndEndLinesUseEnglishMonthsWhateverTheLocale) {
  const std::time_t t = localTime(2026, 3, 4, 9, 5, 7);
  const char* old = std::setlocale(LC_TIME, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_TIME, "de_DE.UTF-8");  // may be missing; the result must not depend on it
  EXPECT_EQ(pv::app::startLine(t), "--- Conversion Start March 04. 2026 09:05:07 ---\r\n\r\n");
  EXPECT_EQ(pv::app::endLine(t), "\r\n--- Conversion End March 04. 2026 09:05:07 ---\r\n");
  std::setlocale(LC_TIME, saved.c_str());
}

TEST(ConversionLog, ARunWithOneFailureGivesTheExpectedLogAndSummary) {
  for (bool doLog : {true, false}) {
    SCOPED_TRACE(doLog);
    Settings s;
    s.DoLog = doLog;
    pv::app::RunTexts texts;
    const std::time_t t = localTime(2026, 12, 7, 20, 30, 0);
    RunLog run(texts, s);
    run.start(t);
    run.converted("/p/one.jpg");
    run.failed("/p/two.jpg", 20009);
    run.converted("/p/three.jpg");
    run.notDeleted("/p/three.jpg");
    run.notOverwritten("/p/three.png");
    run.aborted();
    run.end(t);
    std::string log = "--- Conversion Start December 07. 2026 20:30:00 ---\r\n\r\n";
    if (doLog) log += "/p/one.jpg was successfully converted.\r\n";
    log += "ERROR 20009 - Invalid file format - /p/two.jpg could NOT be converted\r\n";
    if (doLog) log += "/p/three.jpg was successfully converted.\r\n";
    log +=
        "ERROR 5028 - You have \"Delete Source Image\" enabled, but I could not delete this file - "
        "/p/three.jpg could NOT "
        "be deleted.\r\n"
        "ERROR 5044 - You have \"Overwrite Original Image\" enabled, but I could not overwrite this file - "
        "/p/three.png "
        "could NOT be overwritten.\r\n"
        "Conversion process aborted.\r\n"
        "\r\n--- Conversion End December 07. 2026 20:30:00 ---\r\n";
    EXPECT_EQ(texts.conversionLog, log);
    EXPECT_EQ(
        texts.errorSummary,
        "The following images could not be converted:\r\n\r\n"
        "ERROR 20009 - Invalid file format - /p/two.jpg\r\n"
        "ERROR 5028 - You have \"Delete Source Image\" enabled, but I could not delete this file - "
        "/p/three.jpg\r\n"
        "ERROR 5044 - You have \"Overwrite Original Image\" enabled, but I could not overwrite this file - "
        "/p/three.png\r\n");
  }
}

TEST(ConversionLog, OpenFailuresAndHeadersFollowTheirRules) {
  pv::app::RunTexts s;
  pv::app::logNotAnImage(s, "/p/x.jpg");  // under the header like every open failure
  EXPECT_EQ(s.errorSummary,
            "The following images could not be opened:\r\n\r\nERROR 5003 - Does not seem to be a valid image "
            "file - "
            "/p/x.jpg\r\n");
  EXPECT_EQ(s.conversionLog,
            "ERROR 5003 - Does not seem to be a valid image file - /p/x.jpg could NOT be opened.\r\n");

  const Settings settings;
  pv::app::RunTexts t;
  pv::app::logOpenFailure(t, "/p/a.png", 20007);
  pv::app::logOpenFailure(t, "/p/b.png", 20019);
  RunLog run(t, settings);  // a command-line job: the parse's lines come first
  run.failed("/p/c.png", 20016);
  RunLog second(t, settings);
  second.failed("/p/d.png", 20016);
  EXPECT_EQ(t.errorSummary,
            "The following images could not be opened:\r\n\r\n"
            "ERROR 20007 - Error reading file - /p/a.png\r\n"
            "ERROR 20019 - Data CRC check error - /p/b.png\r\n"
            "The following images could not be converted:\r\n\r\n"
            "ERROR 20016 - Feature not supported - /p/c.png\r\n"
            "The following images could not be converted:\r\n\r\n"
            "ERROR 20016 - Feature not supported - /p/d.png\r\n");
  EXPECT_EQ(t.conversionLog,
            "ERROR 20007 - Error reading file - /p/a.png could NOT be converted\r\n"
            "ERROR 20019 - Data CRC check error - /p/b.png could NOT be converted\r\n"
            "ERROR 20016 - Feature not supported - /p/c.png could NOT be converted\r\n"
            "ERROR 20016 - Feature not supported - /p/d.png could NOT be converted\r\n");
}

TEST(ConversionLog, SaveLogAppendsWithLineFeedsAndReportsFailures) {
  pv::test::TempDir dir;
  Settings s;
  s.LogFile = dir.file("run.log");
  pv::app::RunTexts texts;
  texts.conversionLog = "one\r\ntwo\r\n\r\nlast";
  pv::test::RecordingPrompter p;
  ASSERT_TRUE(pv::app::saveLog(s, texts, p));
  ASSERT_TRUE(pv::app::saveLog(s, texts, p));
  EXPECT_EQ(pv::test::readFile(s.LogFile), "one\ntwo\n\nlastone\ntwo\n\nlast");
  EXPECT_EQ(texts.conversionLog, "one\r\ntwo\r\n\r\nlast");
  EXPECT_TRUE(p.shown.empty());

  for (const std::string& bad : {std::string(), dir.file("no/such/folder/run.log"), dir.str()}) {
    s.LogFile = bad;
    s.ShowMessages = true;
    EXPECT_FALSE(pv::app::saveLog(s, texts, p));
    s.ShowMessages = false;
    EXPECT_FALSE(pv::app::saveLog(s, texts, p));
  }
  ASSERT_EQ(p.shown.size(), 3u);
  EXPECT_EQ(p.shown[0], std::string(pv::app::kCaption) + "|" + pv::app::kLogSaveFailedText);
}
