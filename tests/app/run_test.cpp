#include "app/run.h"
#include "app/job_runner.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <exiv2/exiv2.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <latch>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <opencv2/imgproc.hpp>

#include "app/budget.h"
#include "engine/capabilities.h"
#include "app/heap.h"
#include "app/image_conversion.h"
#include "app/image_list.h"
#include "app/log.h"
#include "app/run_tally.h"
#include "core/file_format.h"
#include "engine/lead.h"
#include "formats/format.h"
#include "tests/app/prompter.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::app::Session;

namespace {

// How a recorded save reads: file name, file format code, bits and page mode.
std::string saved(const std::string& name, short code, int bits, int mode) {
  return "save " + name + " " + std::to_string(code) + " " + std::to_string(bits) + " " +
         std::to_string(mode);
}

// The real engine, with every load, save and page choice written down.
struct RecordingLead : pv::engine::CLead {
  std::vector<std::string> calls;
  bool emptySaves = false;  // pretend a save succeeded but wrote nothing
  std::vector<int> scales;  // the reduction each load decoded at
  short LoadImage(const std::string& path, short bits, int page, int count) override {
    calls.push_back("load " + fs::path(path).filename().string() + " " + std::to_string(bits) + " " +
                    std::to_string(page) + " " + std::to_string(count));
    const short status = CLead::LoadImage(path, bits, page, count);
    scales.push_back(GetLoadScale());
    return status;
  }
  short SaveImage(const std::string& path, short code, short bits, short quality, short mode) override {
    calls.push_back(saved(fs::path(path).filename().string(), code, bits, mode));
    if (emptySaves) return (std::ofstream(path), 0);
    return CLead::SaveImage(path, code, bits, quality, mode);
  }
  short StartPages(const std::string& path, short code, short bits, short quality) override {
    calls.push_back("start " + fs::path(path).filename().string() + " " + std::to_string(code) + " " +
                    std::to_string(bits));
    return CLead::StartPages(path, code, bits, quality);
  }
  short AddPage() override {
    calls.push_back("add");
    return CLead::AddPage();
  }
  short EndPages(bool keep) override {
    calls.push_back(keep ? "end" : "end, nothing kept");
    return CLead::EndPages(keep);
  }
  void SetPageNumber(short page) override {
    calls.push_back("page " + std::to_string(page));
    CLead::SetPageNumber(page);
  }
};

void writeImage(const std::string& path, short code, int bits, int channels = 3, int seed = 1) {
  pv::test::LeadWithImage lead;
  lead.set(pv::test::noiseImage(24, 16, channels, static_cast<std::uint32_t>(seed)), bits);
  ASSERT_EQ(lead.SaveImage(path, code, static_cast<short>(bits), 0, 0), 0) << path;
}

void writeTiffPages(const std::string& path, int pages) {
  pv::test::LeadWithImage lead;
  for (int p = 0; p < pages; ++p) {
    lead.set(pv::test::noiseImage(20 + p, 12, 3, static_cast<std::uint32_t>(p)), 24);
    ASSERT_EQ(lead.SaveImage(path, pv::fmt::kTiff, 24, 0, p == 0 ? 0 : 1), 0);
  }
}

int pagesOf(const std::string& path) {
  pv::engine::CLead lead;
  return lead.ReadFileInfo(path, -1, 1) == 0 ? lead.GetInfoPageCount() : -1;
}

struct Run : ::testing::Test {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  pv::test::RecordingPrompter prompter;
  RecordingLead* lead = new RecordingLead;
  Session s{pv::app::loadSettings(), prompter, std::unique_ptr<pv::engine::CLead>(lead)};

  // One worker, so that the recording control sees every image.
  Run() { s.settings.Threads = 1; }
  void useFormat(const char* key) { s.format = pv::formats::createFormat(key, s.settings.configPath); }
  // Lists the files as the program does.
  void list(const std::vector<std::string>& names) {
    pv::app::ImageListBuilder b(
        {s.settings, s.texts, s.primary, s.secondary, s.list, s.progress, s.running, prompter});
    std::vector<std::string> paths;
    for (const auto& n : names) paths.push_back(dir.file(n));
    b.addDropped(paths);
    ASSERT_EQ(s.list.size(), names.size()) << s.texts.errorSummary;
    lead->calls.clear();
  }
  void convert() {
    s.running = true;
    pv::app::convertAll(s);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir.path())) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

}  // namespace

TEST_F(Run, DepthRulesDecideTheLoadAndSaveDepths) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  writeImage(dir.file("b.jpg"), pv::fmt::kJpeg, 24);
  writeImage(dir.file("c.bmp"), pv::fmt::kBmp, 32, 4);
  writeImage(dir.file("d.tif"), pv::fmt::kTiff, 32, 4);
  {
    // A plain 32-bit bitmap (no bit fields): its fourth byte is padding.
    std::string bmp = std::string("BM") + std::string(52, '\0') + std::string(2 * 2 * 4, '\x7f');
    const auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
      for (int i = 0; i < bytes; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
    };
    put(2, static_cast<std::uint32_t>(bmp.size()), 4), put(10, 54, 4), put(14, 40, 4), put(18, 2, 4),
        put(22, 2, 4);
    put(26, 1, 2), put(28, 32, 2);
    pv::test::writeFile(dir.file("e.bmp"), bmp);
  }
  list({"a.png", "b.jpg", "c.bmp", "d.tif", "e.bmp"});
  useFormat("JPG");
  convert();
  EXPECT_EQ(lead->calls[0], "load a.png 32 0 1");  // a 24-bit PNG is loaded with 32 bits ...
  EXPECT_EQ(lead->calls[1], saved("a.jpg", pv::fmt::kJpeg411, 24, 0));  // ... and saved with 24
  EXPECT_EQ(lead->calls[2], "load b.jpg 0 0 1");
  lead->calls.clear();
  useFormat("PNG");
  convert();
  EXPECT_EQ(lead->calls[5], saved("c.png", pv::fmt::kPng, 32, 0));  // a BMP with an alpha mask keeps its 32
  EXPECT_EQ(lead->calls[7], saved("d.png", pv::fmt::kPng, 32, 0));  // TIF keeps 32
  EXPECT_EQ(lead->calls[9], saved("e.png", pv::fmt::kPng, 24, 0));  // a plain 32-bit BMP: 32 becomes 24
  EXPECT_TRUE(s.texts.errorSummary.empty()) << s.texts.errorSummary;
  EXPECT_EQ(s.list[2].targetBits, 32u);
  EXPECT_EQ(s.progress.percent, 100);
  EXPECT_EQ(s.progress.name(), "-");
}

TEST_F(Run, MultiPageOptions) {
  writeTiffPages(dir.file("scan.tif"), 3);
  list({"scan.tif"});
  ASSERT_TRUE(s.list[0].multiPage);
  s.settings.DoLog = true;
  s.settings.OverwriteOriginalImage = true;

  // 1: every page in a file of its own, each logged, nothing replaced.
  s.settings.MultiPageOption = 1;
  useFormat("PNG");
  convert();
  EXPECT_EQ(files(), (std::vector<std::string>{"scan-#1.png", "scan-#2.png", "scan-#3.png", "scan.tif"}));
  std::size_t lines = 0;
  for (std::size_t at = 0;
       (at = s.texts.conversionLog.find("scan.tif was successfully converted.", at)) != std::string::npos;
       ++at)
    ++lines;
  EXPECT_EQ(lines, 3u);
  EXPECT_EQ(pv::test::readFile(dir.file("scan.tif")).size() > 0, true);

  // 0 with GIF output: every page loaded and added in turn, the file written
  // once.
  s.settings.MultiPageOption = 0;
  useFormat("GIF");
  lead->calls.clear();
  convert();
  const std::string gifStart = "start scan.gif " + std::to_string(pv::fmt::kGif) + " 8";
  EXPECT_EQ(lead->calls,
            (std::vector<std::string>{gifStart, "load scan.tif 0 1 1", "add", "load scan.tif 0 2 1", "add",
                                      "load scan.tif 0 3 1", "add", "end"}));
  EXPECT_EQ(pagesOf(dir.file("scan.gif")), 3);

  // 0 with TIF output: pages added one by one into one file.
  useFormat("TIF");
  lead->calls.clear();
  convert();
  ASSERT_EQ(lead->calls.size(), 8u) << ::testing::PrintToString(lead->calls) << s.texts.errorSummary;
  EXPECT_EQ(lead->calls[0].substr(0, 15), "start scan-1.ti");  // scan.tif exists: numbered
  // With OverwriteOriginalImage the numbered output then replaces the source.
  EXPECT_FALSE(fs::exists(dir.file("scan-1.tif")));
  EXPECT_EQ(pagesOf(dir.file("scan.tif")), 3);

  // 0 with another multi-page format: each page is added to the file, none
  // replaces the ones before it.
  useFormat("FLC");
  convert();
  EXPECT_EQ(pagesOf(dir.file("scan.flc")), 3) << s.texts.errorSummary;

  // 2: the first page only.
  s.settings.MultiPageOption = 2;
  useFormat("BMP");
  lead->calls.clear();
  convert();
  EXPECT_EQ(lead->calls,
            (std::vector<std::string>{"load scan.tif 0 1 1", saved("scan.bmp", pv::fmt::kBmp, 24, 0)}));

  // Any other value passes the image over: nothing loaded, logged or deleted.
  s.settings.MultiPageOption = 3;
  s.settings.DeleteSourceAfterConvert = true;
  const std::string before = s.texts.conversionLog;
  lead->calls.clear();
  convert();
  EXPECT_TRUE(lead->calls.empty());
  EXPECT_EQ(s.texts.conversionLog, before);
  EXPECT_TRUE(fs::exists(dir.file("scan.tif")));
  EXPECT_TRUE(s.texts.errorSummary.empty()) << s.texts.errorSummary;
}

TEST_F(Run, FailuresAreLoggedOnceUnderOneHeaderAndFailedSourcesStay) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  writeImage(dir.file("b.png"), pv::fmt::kPng, 24);
  writeImage(dir.file("c.png"), pv::fmt::kPng, 24);
  list({"a.png", "b.png", "c.png"});
  // Two sources damaged after they were listed.
  std::ofstream(dir.file("a.png"), std::ios::trunc) << "\x89PNG\r\n\x1a\n broken";
  fs::remove(dir.file("c.png"));
  s.settings.DeleteSourceAfterConvert = true;
  useFormat("JPG");
  convert();
  const std::string& sum = s.texts.errorSummary;
  EXPECT_EQ(sum.find("The following images could not be converted:\r\n\r\n"), 0u);
  EXPECT_EQ(sum.rfind("The following images could not be converted:"), 0u);
  EXPECT_NE(sum.find(" - " + dir.file("a.png") + "\r\n"), std::string::npos);
  EXPECT_NE(sum.find("ERROR 20010 - File not found - " + dir.file("c.png") + "\r\n"), std::string::npos)
      << sum;
  EXPECT_TRUE(fs::exists(dir.file("a.png")));   // failed: kept
  EXPECT_FALSE(fs::exists(dir.file("b.png")));  // converted: deleted
  EXPECT_TRUE(fs::exists(dir.file("b.jpg")));
  EXPECT_FALSE(fs::exists(dir.file("a.jpg")));  // no partial output
}

TEST_F(Run, SourcesAreDeletedOnlyWhenTheOutputIsSafelyWritten) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  list({"a.png"});
  s.settings.DeleteSourceAfterConvert = true;
  lead->emptySaves = true;  // a save that claims success but leaves an empty file
  useFormat("JPG");
  convert();
  EXPECT_TRUE(fs::exists(dir.file("a.png")));
  EXPECT_NE(s.texts.errorSummary.find(
                "ERROR 5028 - You have \"Delete Source Image\" enabled, but I could not delete "
                "this file - " +
                dir.file("a.png")),
            std::string::npos);

  if (geteuid() != 0) {  // root deletes from read-only folders
    lead->emptySaves = false;
    fs::create_directory(dir.file("ro"));
    writeImage(dir.file("ro/r.png"), pv::fmt::kPng, 24);
    s.list.clear();
    list({"ro/r.png"});
    s.settings.UseSourcePathForOutput = false;
    s.settings.OutPutDir = dir.str();
    chmod(dir.file("ro").c_str(), 0555);
    convert();
    chmod(dir.file("ro").c_str(), 0755);
    EXPECT_TRUE(fs::exists(dir.file("ro/r.png")));
    EXPECT_TRUE(fs::exists(dir.file("r.jpg")));
  }
}

TEST_F(Run, OverwriteOriginalReplacesInOneRenameAndKeepsBothOnFailure) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24, 3, 1);
  writeImage(dir.file("b.tif"), pv::fmt::kTiff, 24, 3, 2);
  list({"a.png", "b.tif"});
  // b's plain output name is a folder with content: no rename can replace it.
  fs::create_directory(dir.file("b.png"));
  std::ofstream(dir.file("b.png/keep")) << "x";
  s.settings.OverwriteOriginalImage = true;
  useFormat("PNG");
  convert();
  // a.png was written as a-1.png, then renamed onto a.png.
  EXPECT_FALSE(fs::exists(dir.file("a-1.png")));
  EXPECT_GT(fs::file_size(dir.file("a.png")), 0u);
  // b: the output stays where it was written, and nothing else is touched.
  EXPECT_TRUE(fs::exists(dir.file("b-1.png")));
  EXPECT_TRUE(fs::exists(dir.file("b.png/keep")));
  EXPECT_TRUE(fs::exists(dir.file("b.tif")));
  EXPECT_EQ(s.texts.errorSummary,
            "The following images could not be converted:\r\n\r\nERROR 5044 - You have \"Overwrite Original "
            "Image\" "
            "enabled, but I could not overwrite this file - " +
                dir.file("b-1.png") + "\r\n");
}

// Writing over existing outputs replaces what earlier runs left, and the
// image's own source when it is the plain name, but never another image's
// source nor another image's output of the same run: that output stays
// numbered, with the 5044 lines. The tally counts both kinds.
TEST_F(Run, OverwritingNeverTakesAnotherImagesSourceOrOutput) {
  struct Case {
    const char* name;
    std::vector<std::string> sources;  // listed in this order
    std::vector<std::string> before;   // files there before the run (besides the sources)
    bool oneFolder;                    // every output into out/
    std::vector<std::string> after;    // every file after the run, sorted
    std::vector<std::string> kept;     // outputs the 5044 lines name
    int overwritten, numbered;
  };
  const std::vector<Case> cases = {
      {"an earlier run's output is replaced", {"a.jpg"}, {"out/a.png"}, true, {"a.jpg", "out/a.png"}, {}, 1, 0},
      {"the image's own source is replaced", {"a.png"}, {}, false, {"a.png"}, {}, 1, 0},
      {"another image's source is not", {"a.jpg", "a.png"}, {}, false, {"a-1.png", "a.jpg", "a.png"}, {"a-1.png"}, 1, 1},
      {"nor when it comes later in the list", {"a.png", "a.jpg"}, {}, false, {"a-1.png", "a.jpg", "a.png"}, {"a-1.png"}, 1, 1},
      {"two images of one run into one folder",
       {"x/a.png", "y/a.png"}, {}, true, {"out/a-1.png", "out/a.png", "x/a.png", "y/a.png"}, {"out/a-1.png"}, 0, 1},
  };
  for (int workers : {1, 4}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", workers " + std::to_string(workers));
      for (const auto& e : fs::directory_iterator(dir.path())) fs::remove_all(e.path());
      for (const std::string& f : c.before) {
        fs::create_directories(fs::path(dir.file(f)).parent_path());
        writeImage(dir.file(f), pv::fmt::kPng, 24, 3, 9);
      }
      int seed = 1;
      for (const std::string& f : c.sources) {
        fs::create_directories(fs::path(dir.file(f)).parent_path());
        writeImage(dir.file(f), f.ends_with(".jpg") ? pv::fmt::kJpeg : pv::fmt::kPng, 24, 3, ++seed);
      }
      std::map<std::string, std::string> bytesBefore;
      for (const std::string& f : c.sources) bytesBefore[f] = pv::test::readFile(dir.file(f));
      s.list.clear();
      list(c.sources);
      s.settings.Threads = workers;
      s.settings.OverwriteOriginalImage = true;
      s.settings.UseSourcePathForOutput = !c.oneFolder;
      s.settings.OutPutDir = dir.file("out") + "/";
      s.texts = {};
      useFormat("PNG");
      pv::app::RunTally tally(s.list);
      s.observer = &tally;
      convert();
      s.observer = nullptr;
      std::vector<std::string> after;
      for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.is_regular_file()) after.push_back(fs::relative(e.path(), dir.path()).string());
      std::sort(after.begin(), after.end());
      EXPECT_EQ(after, c.after);
      // A source that is not its own image's plain output name is untouched.
      for (const std::string& f : c.sources)
        if (!f.ends_with(".png") || c.oneFolder) {
          EXPECT_EQ(pv::test::readFile(dir.file(f)), bytesBefore[f]) << f;
        }
      std::string summary;
      for (const std::string& k : c.kept)
        summary += "ERROR 5044 - You have \"Overwrite Original Image\" enabled, but I could not overwrite this file - " +
                   dir.file(k) + "\r\n";
      EXPECT_EQ(s.texts.errorSummary.empty() ? std::string() : s.texts.errorSummary.substr(s.texts.errorSummary.find("ERROR")),
                summary);
      EXPECT_EQ(tally.converted, static_cast<int>(c.sources.size()));
      EXPECT_EQ(tally.overwritten, c.overwritten);
      EXPECT_EQ(tally.numbered, c.numbered);
    }
  }
}

TEST_F(Run, AbortStopsBeforeTheNextImageWhateverMessagesSay) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  writeImage(dir.file("b.png"), pv::fmt::kPng, 24);
  list({"a.png", "b.png"});
  useFormat("BMP");
  for (bool shown : {true, false}) {
    SCOPED_TRACE(shown);
    s.settings.ShowMessages = shown;
    s.texts.conversionLog.clear();
    s.running = false;  // an abort request
    pv::app::convertAll(s);
    EXPECT_EQ(s.texts.conversionLog, "Conversion process aborted.\r\n");
    EXPECT_FALSE(fs::exists(dir.file("a.bmp")));
  }
  // An interrupt stops a run too.
  s.running = true;
  s.interrupted = true;
  pv::app::convertAll(s);
  EXPECT_FALSE(fs::exists(dir.file("a.bmp")));
}

TEST_F(Run, TheWorkerWritesTheWholeLogOfAJob) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  list({"a.png"});
  std::ofstream(dir.file("b.png")) << "junk";
  s.list.push_back(s.list[0]);
  s.list[1].fileName = "b.png";
  s.settings.DoLog = true;
  s.settings.LogFile = dir.file("run.log");
  s.texts.errorSummary = "left from an earlier job";
  useFormat("PNG");
  s.running = true;
  pv::app::conversionWorker(s, pv::app::kRunConvert, {});
  EXPECT_FALSE(s.running);
  const std::string log = pv::test::readFile(dir.file("run.log"));
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  ASSERT_EQ(lines.size(), 6u) << log;
  EXPECT_TRUE(lines[0].starts_with("--- Conversion Start "));
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], dir.file("a.png") + " was successfully converted.");
  EXPECT_EQ(lines[3], "ERROR 20009 - Invalid file format - " + dir.file("b.png") + " could NOT be converted");
  EXPECT_EQ(lines[4], "");
  EXPECT_TRUE(lines[5].starts_with("--- Conversion End "));
  EXPECT_EQ(log.find('\r'), std::string::npos);
  EXPECT_EQ(s.texts.errorSummary.find("The following images could not be converted:"), 0u);

  // An empty list: only the two lines, and percent 100.
  s.list.clear();
  s.running = true;
  pv::app::conversionWorker(s, pv::app::kRunConvert, {});
  EXPECT_EQ(s.progress.percent, 100);
  EXPECT_TRUE(s.texts.errorSummary.empty());
}

TEST_F(Run, TheRunnerPausesResumesAbortsAndSetsPriorities) {
  for (int i = 0; i < 3; ++i) writeImage(dir.file("p" + std::to_string(i) + ".png"), 75, 24);
  list({"p0.png", "p1.png", "p2.png"});
  useFormat("BMP");
  pv::app::JobRunner runner(s);

  runner.pause();
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
  EXPECT_FALSE(runner.start(pv::app::kRunConvert, {}));  // one job at a time
  while (runner.workerThread() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  runner.setPriority(0);
  errno = 0;
  EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(runner.workerThread())), 19);
  runner.setPriority(6);  // may be refused without privileges: never an error
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(lead->calls.empty());  // paused before the first image
  EXPECT_FALSE(runner.finished());
  runner.resume();
  runner.wait();
  EXPECT_TRUE(runner.finished());
  EXPECT_EQ(lead->calls.size(), 6u);
  EXPECT_TRUE(fs::exists(dir.file("p2.bmp")));

  // Every worker of a run waits at the pause, with and without messages.
  for (bool messages : {true, false}) {
    SCOPED_TRACE(messages);
    s.settings.Threads = 3;
    s.settings.ShowMessages = messages;
    for (int i = 0; i < 3; ++i) fs::remove(dir.file("p" + std::to_string(i) + ".bmp"));
    runner.pause();
    ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(fs::exists(dir.file("p" + std::to_string(i) + ".bmp")));
    runner.resume();
    runner.wait();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(fs::exists(dir.file("p" + std::to_string(i) + ".bmp")));
  }
  s.settings.Threads = 1;

  // An abort of a paused job lets it see the request and stop.
  lead->calls.clear();
  runner.pause();
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
  runner.abort();
  runner.wait();
  EXPECT_TRUE(lead->calls.empty());
  EXPECT_NE(s.texts.conversionLog.find("Conversion process aborted.\r\n"), std::string::npos);

  // A list job on the runner.
  s.list.clear();
  ASSERT_TRUE(runner.start(pv::app::kRunFolderSearch, dir.str()));
  runner.wait();
  EXPECT_GE(s.list.size(), 3u);
}

namespace {

// Every report of a job, kept for the test's thread.
struct RecordingObserver : pv::app::JobObserver {
  std::mutex mutex;
  std::vector<std::string> events;
  std::vector<pv::app::OutcomeRecord> records;
  pv::app::JobSummary summary;
  std::function<void(const pv::app::OutcomeRecord&)> onOutcome;
  std::thread::id worker;
  void started(int kind, int total) override {
    std::lock_guard lock(mutex);
    worker = std::this_thread::get_id();
    events.push_back("started " + std::to_string(kind) + " " + std::to_string(total));
  }
  void outcome(const pv::app::OutcomeRecord& r) override {
    {
      std::lock_guard lock(mutex);
      records.push_back(r);
      events.push_back("outcome " + fs::path(r.source).filename().string() + " " + std::to_string(r.status));
    }
    if (onOutcome) onOutcome(r);
  }
  void finished(const pv::app::JobSummary& s) override {
    std::lock_guard lock(mutex);
    summary = s;
    events.push_back("finished");
  }
};

}  // namespace

// The observer sees every image once, in list order, with its status, its
// outputs and its time, and the log made from the records is the run's log.
TEST_F(Run, TheObserverSeesEveryImageOnceInListOrder) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  writeImage(dir.file("c.png"), pv::fmt::kPng, 24);
  list({"a.png", "c.png"});
  std::ofstream(dir.file("b.png")) << "junk";
  s.list.insert(s.list.begin() + 1, s.list[0]);
  s.list[1].fileName = "b.png";
  useFormat("BMP");
  s.settings.DoLog = true;
  RecordingObserver seen;
  pv::app::JobRunner runner(s);
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}, &seen));
  runner.wait();
  EXPECT_EQ(seen.events, (std::vector<std::string>{"started 101 3", "outcome a.png 0", "outcome b.png 20009",
                                                   "outcome c.png 0", "finished"}));
  EXPECT_NE(seen.worker, std::this_thread::get_id());
  ASSERT_EQ(seen.records.size(), 3u);
  struct Want {
    int index;
    std::vector<std::string> outputs;
    std::string text;
  } const want[] = {
      {0, {dir.file("a.bmp")}, ""}, {1, {}, "Invalid file format"}, {2, {dir.file("c.bmp")}, ""}};
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const pv::app::OutcomeRecord& r = seen.records[i];
    EXPECT_EQ(r.index, want[i].index);
    EXPECT_EQ(r.outputs, want[i].outputs);
    EXPECT_EQ(r.text, want[i].text);
    EXPECT_GE(r.milliseconds, 0);
    for (const std::string& out : r.outputs) EXPECT_TRUE(fs::exists(out));
  }
  EXPECT_EQ(seen.summary.converted, 2);
  EXPECT_EQ(seen.summary.failed, 1);
  EXPECT_FALSE(seen.summary.aborted);
  // The log and the summary came back to the session, made from the records.
  EXPECT_NE(s.texts.conversionLog.find(dir.file("a.png") + " was successfully converted.\r\n" +
                                       "ERROR 20009 - Invalid file format - " + dir.file("b.png") +
                                       " could NOT be converted\r\n" + dir.file("c.png") +
                                       " was successfully converted.\r\n"),
            std::string::npos)
      << s.texts.conversionLog;
  EXPECT_EQ(s.texts.errorSummary,
            "The following images could not be converted:\r\n\r\nERROR 20009 - Invalid "
            "file format - " +
                dir.file("b.png") + "\r\n");
}

// A Stop from another thread ends a silent run after the image in work: the
// end line is written and only whole outputs exist.
TEST_F(Run, AnAbortFromAnotherThreadStopsASilentRunAfterTheCurrentImage) {
  for (int i = 0; i < 4; ++i) writeImage(dir.file("p" + std::to_string(i) + ".png"), 75, 24);
  list({"p0.png", "p1.png", "p2.png", "p3.png"});
  useFormat("BMP");
  s.settings.ShowMessages = false;
  pv::app::JobRunner runner(s);
  RecordingObserver seen;
  seen.onOutcome = [&](const pv::app::OutcomeRecord& r) {
    if (r.index == 0) std::thread([&] { runner.abort(); }).join();
  };
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}, &seen));
  runner.wait();
  EXPECT_TRUE(fs::exists(dir.file("p0.bmp")));
  EXPECT_FALSE(fs::exists(dir.file("p1.bmp")));
  EXPECT_EQ(seen.records.size(), 1u);
  EXPECT_TRUE(seen.summary.aborted);
  EXPECT_NE(s.texts.conversionLog.find("Conversion process aborted.\r\n\r\n--- Conversion End "),
            std::string::npos);
  EXPECT_FALSE(s.running);
}

// A job works on what the session held when it started: the owner may change
// its list, chain and format meanwhile; a list job hands back its list.
TEST_F(Run, AJobWorksOnItsSnapshotAndHandsBackItsResults) {
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  list({"a.png"});
  useFormat("BMP");
  pv::app::JobRunner runner(s);
  runner.pause();
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
  s.list.clear();
  s.chain.appendFromText("/filter resize 0 0 2 2 0 0");
  useFormat("PNG");
  runner.resume();
  runner.wait();
  EXPECT_EQ(files(), (std::vector<std::string>{"a.bmp", "a.png"}));  // the format chosen later was not used
  pv::engine::CLead check;
  ASSERT_EQ(check.ReadFileInfo(dir.file("a.bmp"), -1, 1), 0);
  EXPECT_EQ(check.GetInfoValue44(), 24);  // the filter added later did not run
  EXPECT_TRUE(s.list.empty());            // a conversion leaves the owner's list as it is

  std::ofstream(dir.file("z.png")) << "junk";
  RecordingObserver seen;
  ASSERT_TRUE(runner.start(pv::app::kRunFolderSearch, dir.str(), &seen));
  runner.wait();
  EXPECT_EQ(s.list.size(), 2u);  // a.png and a.bmp; z.png is refused
  int refused = 0;
  for (const auto& r : seen.records) {
    EXPECT_EQ(r.kind, pv::app::OutcomeRecord::kListEntry);
    refused += r.status != 0;
  }
  EXPECT_EQ(refused, 1);
  EXPECT_NE(s.texts.errorSummary.find("The following images could not be opened:"), std::string::npos);
}

// A port called from the worker is answered where the owner answers it: here
// a prompter that hands each call to the test's thread and waits, as the
// window's does.
TEST_F(Run, APromptFromTheWorkerIsAnsweredOnTheOwnersThread) {
  struct Marshalling : pv::app::Prompter {
    std::mutex mutex;
    std::condition_variable wake;
    std::function<void()> pending;
    bool answered = false;
    std::vector<std::string> shown;
    std::thread::id shownOn;
    void call(std::function<void()> f) {
      std::unique_lock lock(mutex);
      pending = std::move(f);
      answered = false;
      wake.notify_all();
      wake.wait(lock, [&] { return answered; });
    }
    // The owner's loop: runs what the worker asked until the job ends.
    void serve(const pv::app::JobRunner& runner) {
      std::unique_lock lock(mutex);
      while (!runner.finished()) {
        if (wake.wait_for(lock, std::chrono::milliseconds(5), [&] { return static_cast<bool>(pending); })) {
          pending();
          shownOn = std::this_thread::get_id();
          pending = nullptr;
          answered = true;
          wake.notify_all();
        }
      }
    }
    void error(const std::string& c, const std::string& t) override {
      call([&] { shown.push_back(c + "|" + t); });
    }
    void information(const std::string& c, const std::string& t) override { error(c, t); }
    bool askYesNo(const std::string& c, const std::string& t) override {
      error(c, t);
      return false;
    }
  } owner;
  Session mine{pv::app::loadSettings(), owner};
  writeImage(dir.file("a.png"), pv::fmt::kPng, 24);
  pv::app::ImageListBuilder({mine.settings, mine.texts, mine.primary, mine.secondary, mine.list,
                             mine.progress, mine.running, owner})
      .addDropped({dir.file("a.png")});
  mine.format = pv::formats::createFormat("BMP", mine.settings.configPath);
  mine.settings.DoLog = true;
  mine.settings.LogFile = dir.file("no/such/folder/run.log");  // the log cannot be saved: the worker says so
  pv::app::JobRunner runner(mine);
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
  owner.serve(runner);
  runner.wait();
  ASSERT_EQ(owner.shown.size(), 1u);
  EXPECT_EQ(owner.shown[0], mine.settings.caption + "|" + pv::app::kLogSaveFailedText);
  EXPECT_EQ(owner.shownOn, std::this_thread::get_id());
  EXPECT_TRUE(fs::exists(dir.file("a.bmp")));
}

namespace {

// The log without its start and end lines, which carry the time.
std::string withoutTimes(const std::string& log) {
  std::istringstream in(log);
  std::string out;
  for (std::string line; std::getline(in, line);)
    if (line.find("--- Conversion ") == std::string::npos) out += line + "\n";
  return out;
}

}  // namespace

// Several workers give what one gives: the same log byte for byte, the same
// names (numbered the same way when sources share a name), the same records.
TEST_F(Run, SeveralWorkersGiveTheLogNamesAndRecordsOfOne) {
  for (const char* sub : {"x", "y", "z"}) fs::create_directories(dir.file(sub));
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i)
    for (const char* sub : {"x", "y", "z"}) {
      const std::string name = std::string(sub) + "/img" + std::to_string(i) + ".png";
      writeImage(dir.file(name), pv::fmt::kPng, 24, 3, i + 1);
      names.push_back(name);
    }
  writeTiffPages(dir.file("x/pages.tif"), 3);
  names.push_back("x/pages.tif");
  list(names);
  std::ofstream(dir.file("y/img2.png")) << "damaged after listing";
  useFormat("BMP");
  s.settings.DoLog = true;
  s.settings.MultiPageOption = 1;
  s.settings.UseSourcePathForOutput = false;

  struct Result {
    std::string log, summary;
    std::vector<std::vector<std::string>> outputs;
    std::vector<std::string> files;
  };
  std::vector<Result> results;
  for (int workers : {1, 4}) {
    SCOPED_TRACE(workers);
    s.settings.Threads = workers;
    s.settings.OutPutDir = dir.file("out" + std::to_string(workers)) + "/";
    RecordingObserver seen;
    pv::app::JobRunner runner(s);
    ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}, &seen));
    runner.wait();
    Result r{withoutTimes(s.texts.conversionLog), s.texts.errorSummary, {}, {}};
    for (const auto& record : seen.records) {
      std::vector<std::string> outs;
      for (const std::string& o : record.outputs) outs.push_back(fs::path(o).filename().string());
      r.outputs.push_back(outs);
    }
    for (const auto& e : fs::directory_iterator(s.settings.OutPutDir))
      r.files.push_back(e.path().filename().string());
    std::sort(r.files.begin(), r.files.end());
    results.push_back(r);
  }
  ASSERT_EQ(results.size(), 2u);
  // The one-worker run names the twelve sources img0..img3 in three waves
  // and gives the failed image's name to the next one that wants it.
  EXPECT_EQ(results[0].files.size(), 11u + 3u);
  EXPECT_NE(std::find(results[0].files.begin(), results[0].files.end(), "img3-2.bmp"),
            results[0].files.end());
  const std::string one = s.settings.OutPutDir.substr(0, s.settings.OutPutDir.size() - 2) + "1/";
  const std::string four = s.settings.OutPutDir;
  std::string log1 = results[0].log;
  for (std::size_t at; (at = log1.find(one)) != std::string::npos;) log1.replace(at, one.size(), four);
  EXPECT_EQ(results[1].log, log1);
  EXPECT_EQ(results[1].outputs, results[0].outputs);
  EXPECT_EQ(results[1].files, results[0].files);
  EXPECT_EQ(results[1].summary, results[0].summary);
}

// A Stop in a run of several workers: the images in work finish whole, none
// begins after it, every output is in the log, and the records run from the
// first image without a gap.
TEST_F(Run, AnAbortStopsEveryWorker) {
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) {
    names.push_back("p" + std::to_string(10 + i) + ".png");
    writeImage(dir.file(names.back()), 75, 24);
  }
  list(names);
  useFormat("BMP");
  s.settings.Threads = 3;
  s.settings.DoLog = true;
  pv::app::JobRunner runner(s);

  // Stopped while paused before the first image: no worker begins one.
  runner.pause();
  ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}));
  std::thread([&] { runner.abort(); }).join();
  runner.wait();
  EXPECT_NE(s.texts.conversionLog.find("Conversion process aborted."), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.file("p10.bmp")));

  // Stopped when the first record comes, and when the last one comes (every
  // image has begun by then, so nothing is cut short and the summary says so).
  for (int at : {0, 11}) {
    SCOPED_TRACE(at);
    for (const auto& n : names) fs::remove(dir.file(fs::path(n).stem().string() + ".bmp"));
    RecordingObserver seen;
    seen.onOutcome = [&](const pv::app::OutcomeRecord& r) {
      if (r.index == at) runner.abort();
    };
    ASSERT_TRUE(runner.start(pv::app::kRunConvert, {}, &seen));
    runner.wait();
    const std::string& log = s.texts.conversionLog;
    int written = 0;
    for (const auto& n : names) {
      const std::string out = dir.file(fs::path(n).stem().string() + ".bmp");
      const bool logged = log.find(dir.file(n) + " was successfully converted.") != std::string::npos;
      EXPECT_EQ(fs::exists(out), logged) << n;
      written += logged;
    }
    EXPECT_GE(written, at + 1);
    if (at == 11) {
      EXPECT_EQ(written, 12);
    }
    EXPECT_EQ(static_cast<int>(seen.records.size()), written);
    for (std::size_t i = 0; i < seen.records.size(); ++i)
      EXPECT_EQ(seen.records[i].index, static_cast<int>(i));
    EXPECT_EQ(log.find("Conversion process aborted.\r\n\r\n--- Conversion End ") != std::string::npos,
              written < 12);
    EXPECT_EQ(seen.summary.aborted, written < 12);
  }
}

// A chain that starts by shrinking a JPEG to half or less decodes it smaller
// (libjpeg's DCT scaling) and resamples the rest of the way: the output has
// the size and, within resampling error, the pixels of a full decode followed
// by the same resize. Photos taken on their side are measured upright.
TEST_F(Run, AChainThatStartsByShrinkingAJpegDecodesItSmallerWithTheSameResult) {
  // A photo-like picture: smooth shading with some texture.
  cv::Mat photo = pv::test::gradientImage(640, 480, 3), texture;
  cv::GaussianBlur(pv::test::noiseImage(640, 480, 3, 7), texture, cv::Size(0, 0), 2.0);
  cv::addWeighted(photo, 0.7, texture, 0.3, 0, photo);
  for (const char* name : {"up.jpg", "side.jpg"}) {
    pv::test::LeadWithImage lead;
    lead.set(photo, 24);
    ASSERT_EQ(lead.SaveImage(dir.file(name), pv::fmt::kJpeg, 24, 2, 0), 0);
  }
  {
    Exiv2::Image::AutoPtr f = Exiv2::ImageFactory::open(dir.file("side.jpg"));
    f->readMetadata();
    f->exifData()["Exif.Image.Orientation"] = std::uint16_t(6);
    f->writeMetadata();
  }
  useFormat("PNG");
  s.settings.UseSourcePathForOutput = false;
  s.settings.OutPutDir = dir.file("out") + "/";
  const struct {
    const char* filter;
    const char* source;
    int scale;
    cv::Size size;
    short method;
  } cases[] = {
      {"/filter resize 4 1 50 50 0 0", "up", 2, {320, 240}, 4},
      {"/filter resize 5 1 25 25 0 0", "up", 4, {160, 120}, 5},
      {"/filter resize 2 0 100 100 1 0", "up", 4, {100, 75}, 2},
      {"/filter resize 4 0 100 100 1 0", "side", 4, {75, 100}, 4},
      {"/filter resize 4 1 20 50 0 0", "side", 2, {96, 320}, 4},
      // Not reduced: picking pixels, shrinking by less than half, a size
      // that already fits.
      {"/filter resize 0 1 25 25 0 0", "up", 1, {160, 120}, 0},
      {"/filter resize 1 1 25 25 0 0", "up", 1, {160, 120}, 1},
      {"/filter resize 4 1 60 60 0 0", "up", 1, {384, 288}, 4},
      {"/filter resize 4 0 1000 1000 1 1", "up", 1, {640, 480}, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + c.source);
    s.chain.clear();
    s.chain.appendFromText(c.filter);
    s.chain.appendFromText("/filter invert");  // the chain goes on after the shrink
    s.list.clear();
    list({std::string(c.source) + ".jpg"});
    fs::remove_all(dir.file("out"));
    lead->scales.clear();
    convert();
    ASSERT_EQ(lead->scales, std::vector<int>{c.scale});
    EXPECT_TRUE(s.texts.errorSummary.empty()) << s.texts.errorSummary;
    pv::test::LeadWithImage out, full;
    ASSERT_EQ(out.LoadImage(dir.file("out/") + c.source + ".png", 0, 0, 1), 0);
    full.SetAutoOrient(true);
    ASSERT_EQ(full.LoadImage(dir.file(std::string(c.source) + ".jpg"), 0, 0, 1), 0);
    ASSERT_EQ(full.ResizeImage(static_cast<float>(c.size.width), static_cast<float>(c.size.height), c.method),
              0);
    ASSERT_EQ(full.InvertImage(), 0);
    ASSERT_EQ(out.pixels().size(), c.size);
    EXPECT_GT(cv::PSNR(out.pixels(), full.pixels()), c.scale == 1 ? 99.0 : 40.0);
  }
}

// Memory in flight: an image waits while the others hold too much of the
// budget, and one larger than the whole budget runs alone.
TEST(MemoryBudget, AnImageWaitsForRoomAndAHugeOneRunsAlone) {
  const struct {
    double held, wanted;
    bool waits;
    double gets;
  } cases[] = {
      {60, 30, false, 30},   // room beside the other
      {60, 60, true, 60},    // two large images not together
      {10, 150, true, 100},  // larger than the budget: alone, holding all of it
      {0, 150, false, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wanted);
    pv::app::MemoryBudget budget(100);
    EXPECT_EQ(budget.exceeds(c.wanted), c.gets < c.wanted);
    const double first = c.held > 0 ? budget.acquire(c.held) : 0;
    std::atomic<bool> got{false};
    double gets = 0;
    std::thread second([&] {
      gets = budget.acquire(c.wanted);
      got = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(got.load(), !c.waits);
    if (c.held > 0) budget.release(first);
    second.join();
    EXPECT_EQ(gets, c.gets);
    // While it runs, nothing else starts unless there is room.
    std::atomic<bool> third{false};
    std::thread later([&] {
      budget.release(budget.acquire(100 - c.gets + 1));
      third = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(third.load());
    budget.release(gets);
    later.join();
    EXPECT_TRUE(third.load());
  }
}

// The program shares one heap before it starts a thread; so does this test
// program, or a thread of an earlier test would keep an arena of its own.
const bool kOneHeap = (pv::app::shareOneHeap(), true);

// A thread's freed memory serves the next thread that needs as much, while
// both live: otherwise every worker keeps its own peak for the whole run.
TEST(Heap, ThreadsReuseTheMemoryAnotherFreed) {
#if defined(PV_TSAN) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers allocate outside glibc's heap";
#endif
  ASSERT_TRUE(kOneHeap);
  const pv::app::HeapKeptForRun kept;
  constexpr std::size_t kBig = std::size_t{32} << 20;
  const auto touchAndFree = [] {
    void* p = std::malloc(kBig);
    ASSERT_NE(p, nullptr);
    std::memset(p, 1, kBig);
    std::free(p);
  };
  const std::size_t before = mallinfo2().arena;
  std::latch freed(1), done(1);
  std::thread first([&] {
    touchAndFree();
    freed.count_down();
    done.wait();
  });
  freed.wait();
  std::thread second(touchAndFree);
  second.join();
  done.count_down();
  first.join();
  EXPECT_LT(mallinfo2().arena - before, kBig + kBig / 2);
}

// What an image holds while it is converted, for the memory budget: the
// page in work and one page more where the writer writes page by page,
// every page where it gathers them, one page when the pages go to files of
// their own; and its encoder's working memory, at the effort chosen, for
// the size the chain's first filter resamples to.
TEST_F(Run, TheBudgetCountsThePagesAWriterHoldsAndTheEncoder) {
  writeTiffPages(dir.file("scan.tif"), 5);
  list({"scan.tif"});
  const pv::app::ImageEntry& e = s.list[0];
  ASSERT_EQ(e.pageCount, 5u);
  const double page = static_cast<double>(e.width) * e.height;
  struct Case {
    const char* format;
    int option;
    double pages;
    int effort = -1;       // -1: the format's own
    bool halved = false;   // a chain that starts by halving both sides
  } cases[] = {{"TIF", 0, 2},          {"GIF", 0, 2},          {"WEBP", 0, 5},   {"ICO", 0, 5},
               {"TIF", 1, 1},          {"PNG", 0, 1},          {"JXL", 1, 1, 5}, {"JXL", 1, 1, 7},
               {"JXL", 1, 1, 7, true}, {"AVIF", 1, 1, 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " option " + std::to_string(c.option) + " effort " +
                 std::to_string(c.effort) + (c.halved ? " halved" : ""));
    useFormat(c.format);
    if (c.effort >= 0) s.format->passes = static_cast<std::uint32_t>(c.effort);
    s.settings.MultiPageOption = c.option;
    s.chain.clear();
    if (c.halved) s.chain.appendFromText("/filter resize 4 1 50 50 0 0");
    pv::app::NameBook names;
    pv::app::ImageConversion image(
        s, names, [](const pv::app::OutcomeRecord&) {}, 0);
    const int code = s.format->fileFormatCode(s.format->method);
    const double encoder = pv::engine::encoderBytesPerPixel(code, static_cast<int>(s.format->passes));
    EXPECT_DOUBLE_EQ(image.bytes(), page * c.pages * pv::app::kDecodedBytesPerPixel +
                                        (c.halved ? page / 4 : page) * encoder);
  }
  s.chain.clear();
  // The encoders' estimates grow with the effort and for lossless methods.
  using pv::engine::encoderBytesPerPixel;
  EXPECT_LT(encoderBytesPerPixel(pv::fmt::kJxl, 5), encoderBytesPerPixel(pv::fmt::kJxl, 7));
  EXPECT_LT(encoderBytesPerPixel(pv::fmt::kJxl, 7), encoderBytesPerPixel(pv::fmt::kJxl, 9));
  EXPECT_LT(encoderBytesPerPixel(pv::fmt::kWebp, 4), encoderBytesPerPixel(pv::fmt::kWebpLossless, 4));
  EXPECT_LT(encoderBytesPerPixel(pv::fmt::kAvif, 8), encoderBytesPerPixel(pv::fmt::kAvif, 2));
  EXPECT_LE(encoderBytesPerPixel(pv::fmt::kPng, 0), 4);
}
