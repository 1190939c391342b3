// Runs larger than one sitting: a list from standard input, a run killed with
// SIGKILL half-way and started again with --skip-done, and the JSON Lines
// report read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "app/job.h"
#include "app/report.h"
#include "core/file_format.h"
#include "tests/engine/lead_holder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using pv::test::runProcess;

extern char** environ;

namespace {

// Photograph-sized JPEGs, so that a run takes long enough to be killed in.
std::vector<std::string> writeSources(const pv::test::TempDir& dir, int count, int width) {
  std::vector<std::string> paths;
  fs::create_directories(dir.file("in"));
  for (int i = 0; i < count; ++i) {
    pv::test::LeadWithImage lead;
    lead.set(pv::test::noiseImage(width, width * 2 / 3, 3, static_cast<std::uint32_t>(i + 1)), 24);
    paths.push_back(dir.file("in/img" + std::to_string(100 + i) + ".jpg"));
    EXPECT_EQ(lead.SaveImage(paths.back(), pv::fmt::kJpeg, 24, 30, 0), 0);
  }
  return paths;
}

std::vector<nlohmann::json> reportLines(const std::string& text) {
  std::vector<nlohmann::json> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(nlohmann::json::parse(line));
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

}  // namespace

// A list piped in, and one JSON object a line for each image, bad ones too.
TEST(Batch, AListFromStandardInputAndItsReport) {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  std::vector<std::string> sources = writeSources(dir, 3, 40);
  pv::test::writeFile(dir.file("in/bad.png"), "not a picture");
  sources.push_back(dir.file("in/bad.png"));
  auto r = runProcess(PV_EXECUTABLE,
                      {"--convert", "PNG", "--output", dir.file("out"), "--list", "-", "--report", "-", "--silent"}, {},
                      joined(sources));
  EXPECT_EQ(r.exitCode, 1);  // one image could not be opened
  const auto lines = reportLines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  std::map<std::string, nlohmann::json> bySource;
  for (const auto& j : lines) bySource[j["source"]] = j;
  ASSERT_EQ(bySource.size(), 4u);
  const auto& bad = bySource[dir.file("in/bad.png")];
  EXPECT_EQ(bad["status"], 5003);
  EXPECT_EQ(bad["message"], "Does not seem to be a valid image file");
  EXPECT_TRUE(bad["outputs"].empty());
  for (int i = 0; i < 3; ++i) {
    const auto& j = bySource[sources[static_cast<std::size_t>(i)]];
    EXPECT_EQ(j["status"], 0);
    EXPECT_EQ(j["skipped"], false);
    ASSERT_EQ(j["outputs"].size(), 1u);
    EXPECT_TRUE(fs::exists(j["outputs"][0].get<std::string>()));
    EXPECT_GE(j["milliseconds"].get<long long>(), 0);
  }
  // A report file is appended to, line by line.
  const std::string file = dir.file("run.jsonl");
  for (int run = 0; run < 2; ++run)
    runProcess(PV_EXECUTABLE, {"--convert", "PNG", "--output", dir.file("out2"), "--file", sources[0], "--report",
                               file, "--silent"});
  EXPECT_EQ(reportLines(pv::test::readFile(file)).size(), 2u);
  auto unwritable = runProcess(PV_EXECUTABLE, {"--convert", "PNG", "--output", dir.file("out"), "--file", sources[0],
                                               "--report", dir.file("no/such/folder/r.jsonl")});
  EXPECT_EQ(unwritable.exitCode, 2);
}

// A run killed half-way and started again with the same command: every image
// converted exactly once, nothing partial left, and the rest reported as
// skipped.
TEST(Batch, AKilledRunStartedAgainWithSkipDoneConvertsOnlyWhatIsMissing) {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  const std::vector<std::string> sources = writeSources(dir, 24, 1200);
  pv::test::writeFile(dir.file("list.txt"), joined(sources));
  const std::vector<std::string> args{PV_EXECUTABLE, "--convert", "TIF",       "0",       "24",
                                      "--output",    dir.file("out"), "--list", dir.file("list.txt"), "--skip-done",
                                      "--silent"};
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  // Killed once a few outputs are there.
  const auto outputs = [&] {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir.file("out"), ec)) n += e.path().extension() == ".tif";
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (outputs() < 4 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  const int before = outputs();
  ASSERT_GE(before, 4);
  if (before == static_cast<int>(sources.size())) GTEST_SKIP() << "the run ended before it could be killed";

  std::vector<std::string> rerun(args.begin() + 1, args.end());
  rerun.insert(rerun.end(), {"--report", "-"});
  auto again = runProcess(args[0], rerun);
  EXPECT_EQ(again.exitCode, 0) << again.err;
  const auto lines = reportLines(again.out);
  ASSERT_EQ(lines.size(), sources.size());
  int skipped = 0;
  for (const auto& j : lines) skipped += j["skipped"].get<bool>();
  // Every output that was whole after the kill is skipped, every other image
  // converted now; a file caught half-written was never under its name.
  EXPECT_GE(skipped, before - 1);
  EXPECT_LE(skipped, before);
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir.file("out"))) {
    ++files;
    EXPECT_EQ(e.path().extension(), ".tif") << e.path();  // no temporary left behind
    pv::engine::CLead lead;
    EXPECT_EQ(lead.LoadImage(e.path().string(), 0, 0, 1), 0) << e.path();
  }
  EXPECT_EQ(files, static_cast<int>(sources.size()));
}

// The report's line of a record, field by field.
TEST(Batch, AReportLineHoldsEveryFieldOfItsRecord) {
  pv::app::OutcomeRecord r;
  r.source = "/p/a \"b\".jpg";
  r.outputs = {"/q/a.png"};
  r.status = 20009;
  r.text = "Invalid file format";
  r.milliseconds = 12;
  r.page = 2;
  const auto j = nlohmann::json::parse(pv::app::ReportWriter::line(r));
  EXPECT_EQ(j["source"], "/p/a \"b\".jpg");
  EXPECT_EQ(j["outputs"], nlohmann::json::array({"/q/a.png"}));
  EXPECT_EQ(j["status"], 20009);
  EXPECT_EQ(j["message"], "Invalid file format");
  EXPECT_EQ(j["milliseconds"], 12);
  EXPECT_EQ(j["skipped"], false);
  EXPECT_EQ(j["page"], 2);
  r.source = std::string("/p/\xff.jpg");  // not UTF-8: still one line
  EXPECT_TRUE(nlohmann::json::accept(pv::app::ReportWriter::line(r)));
}

namespace {

// What a completed run leaves: its exit code, log (without the start and end
// times), error summary, report (without timings) and outputs.
struct RunResult {
  int exitCode = -1;
  std::string log, summary, report;
  std::map<std::string, std::string> outputs;
};

RunResult runAndCollect(const pv::test::TempDir& dir, const std::vector<std::string>& args, bool listFirst,
                        const std::function<void()>& makeSources) {
  fs::remove_all(dir.file("out"));
  makeSources();
  fs::remove(dir.file("run.log"));
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--output", dir.file("out"), "--report", "-"});
  const auto r =
      runProcess(PV_EXECUTABLE, all, {std::string("PICTORAVINE_LIST_FIRST=") + (listFirst ? "1" : "0")});
  RunResult out;
  out.exitCode = r.exitCode;
  std::istringstream log(pv::test::readFile(dir.file("run.log")));
  for (std::string line; std::getline(log, line);)
    if (!line.starts_with("--- Conversion Start") && !line.starts_with("--- Conversion End")) out.log += line + "\n";
  std::istringstream err(r.err);
  for (std::string line; std::getline(err, line);)
    if (!line.starts_with("[")) out.summary += line + "\n";  // progress lines count differently
  for (nlohmann::json j : reportLines(r.out)) {
    j.erase("milliseconds");
    out.report += j.dump() + "\n";
  }
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir.file("out"), ec))
    out.outputs[e.path().filename().string()] = pv::test::readFile(e.path().string());
  return out;
}

}  // namespace

// A command-line run lists each image with the decode its conversion uses.
// Whatever the images (damaged, cut short, several pages, a palette, a file
// named that is not there between the folder and a file), the chain (none,
// or one that lets a JPEG be decoded smaller) and the workers, it leaves what
// listing every image first leaves, byte for byte.
TEST(Batch, ListingWhileConvertingLeavesWhatListingFirstLeaves) {
  pv::test::DataDirGuard data;
  pv::test::TempDir dir;
  const auto makeSources = [&] {
  fs::remove_all(dir.file("in"));
  fs::create_directories(dir.file("in"));
  const auto save = [&](const std::string& name, const cv::Mat& pixels, short code, int bits,
                        std::vector<std::uint32_t> palette = {}) {
    pv::test::LeadWithImage lead;
    lead.set(pixels, bits, std::move(palette));
    ASSERT_EQ(lead.SaveImage(dir.file(name), code, static_cast<short>(bits), 40, 0), 0) << name;
  };
  save("in/a.jpg", pv::test::noiseImage(400, 300, 3, 1), pv::fmt::kJpeg, 24);
  save("in/b.jpg", pv::test::gradientImage(240, 320, 3), pv::fmt::kJpeg, 24);
  save("in/c.png", pv::test::noiseImage(64, 48, 3, 2), pv::fmt::kPng, 24);
  std::vector<std::uint32_t> palette;
  for (std::uint32_t i = 0; i < 256; ++i) palette.push_back(i * 0x010101u);
  save("in/d.png", pv::test::gradientImage(50, 40, 1), pv::fmt::kPng, 8, palette);
  {
    pv::test::LeadWithImage lead;
    for (int p = 0; p < 3; ++p) {
      lead.set(pv::test::noiseImage(30 + p, 20, 3, static_cast<std::uint32_t>(p + 5)), 24);
      ASSERT_EQ(lead.SaveImage(dir.file("in/e.tif"), pv::fmt::kTiff, 24, 0, p == 0 ? 0 : 1), 0);
    }
  }
  const std::string whole = pv::test::readFile(dir.file("in/a.jpg"));
  pv::test::writeFile(dir.file("in/cut.jpg"), whole.substr(0, whole.size() / 3));
  pv::test::writeFile(dir.file("in/headless.jpg"), whole.substr(0, 40));
  pv::test::writeFile(dir.file("in/bad.png"), "not a picture");
  pv::test::writeFile(dir.file("in/notes.txt"), "no image");
  save("x.jpg", pv::test::noiseImage(90, 60, 3, 9), pv::fmt::kJpeg, 24);
  };
  const std::string files = dir.file("in") + "|" + dir.file("missing.jpg") + "|" + dir.file("x.jpg");

  struct Case {
    const char* name;
    std::vector<std::string> convert;
    std::string settings = {};  // more of [Global]
    std::string more = {};      // more files named
  };
  const std::vector<Case> cases{
      {"PNG, no chain", {"--convert", "PNG"}},
      {"JPEG at half size", {"--convert", "JPG", "1", "24", "40", "--filter", "resize", "4", "1", "50", "50", "0", "0"}},
      {"multi-page TIFF", {"--convert", "TIF", "9"}},
      // Sources deleted, one of them named twice: its second listing must
      // find the file, so everything is listed first.
      {"sources deleted", {"--convert", "PNG", "--delete"}, "", "|" + dir.file("x.jpg")},
      // An output may replace an existing file, never another listed source:
      // everything is listed first.
      {"outputs overwrite", {"--convert", "PNG"}, "WhenOutputExists=1\nOverwriteOriginalImage=1\n"},
  };
  for (const Case& c : cases)
    for (const char* threads : {"1", "4"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + threads + " workers");
      std::ofstream(data.file("config.ini")) << "[Global]\nDoLog=1\nLogFile=" << dir.file("run.log") << "\n"
                                             << c.settings;
      std::vector<std::string> args = c.convert;
      args.insert(args.end(), {"--threads", threads, "--file", files + c.more});
      const RunResult fused = runAndCollect(dir, args, false, makeSources);
      const RunResult first = runAndCollect(dir, args, true, makeSources);
      EXPECT_EQ(fused.exitCode, 1);  // the damaged files and the missing one
      EXPECT_EQ(fused.exitCode, first.exitCode);
      EXPECT_EQ(fused.log, first.log);
      EXPECT_EQ(fused.summary, first.summary);
      EXPECT_EQ(fused.report, first.report);
      EXPECT_GE(fused.outputs.size(), 5u);
      EXPECT_TRUE(fused.outputs == first.outputs);
      EXPECT_NE(fused.log.find("missing.jpg"), std::string::npos) << fused.log;
      EXPECT_NE(fused.summary.find("could not be opened"), std::string::npos) << fused.summary;
    }
}
