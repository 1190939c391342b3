#pragma once
// The machine-readable report of a run: one JSON object a line (JSON Lines)
// for every image, written as the run goes and flushed line by line, so the
// reports of many runs (on many machines) can be joined. Each object holds
// "source", "outputs", "status", "message", "milliseconds", "skipped" and,
// for a page saved by itself, "page".

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/job.h"
#include "app/settings.h"

namespace pv::app {

class ReportWriter final : public JobObserver {
 public:
  ReportWriter() = default;
  ~ReportWriter() override;
  ReportWriter(const ReportWriter&) = delete;
  ReportWriter& operator=(const ReportWriter&) = delete;

  // Starts writing to `path` (appending; "-" is standard output); the records
  // that came before are written first. False when the file cannot be opened.
  bool open(const std::string& path);
  // Records that came before an open are kept until then, or dropped here.
  void discard();

  // Conversions, and candidates that could not be opened (an image that never
  // reaches the conversion still gets its line).
  void outcome(const OutcomeRecord& record) override;

  // One record as its JSON line (without the line end).
  static std::string line(const OutcomeRecord& record);

 private:
  void write(const OutcomeRecord& record);
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  bool ownsFile_ = false;
  bool discarding_ = false;
  std::vector<OutcomeRecord> pending_;
};

// Opens the report the command line asked for (--report), or drops what was
// kept when it asked for none. The message when the file cannot be written,
// else empty.
std::string openCommandLineReport(ReportWriter& report, const Settings& settings);

}  // namespace pv::app
