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
