#include "app/run_tally.h"

#include <sys/stat.h>

#include <cstdio>

#include "app/progress.h"

namespace pv::app {

namespace {

long long fileBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

}  // namespace

RunTally::RunTally(const std::vector<ImageEntry>& list) {
  sourceBytes_.reserve(list.size());
  for (const ImageEntry& e : list) sourceBytes_.push_back(fileBytes(e.path()));
}

void RunTally::outcome(const OutcomeRecord& record) {
  if (record.kind != OutcomeRecord::kConversion || record.passedOver) return;
  if (record.skipped) {
    ++skipped;
    return;
  }
  if (!record.succeeded()) {
    ++failed;
    return;
  }
  ++converted;
  for (const std::string& out : record.outputs) {
    bytesOut += fileBytes(out);
    if (outputFolder.empty()) outputFolder = out.substr(0, out.rfind('/') + 1);
  }
  if (record.index >= 0 && static_cast<std::size_t>(record.index) < sourceBytes_.size() &&
      counted_.insert(record.index).second)
    bytesIn += sourceBytes_[static_cast<std::size_t>(record.index)];
}

void RunTally::finished(const JobSummary& summary) {
  milliseconds = summary.milliseconds;
  aborted = summary.aborted;
}

std::string RunTally::text() const {
  return "Converted: " + std::to_string(converted) + "\nSkipped: " + std::to_string(skipped) +
         "\nFailed: " + std::to_string(failed) + "\nTime: " + clockText(static_cast<double>(milliseconds) / 1000) +
         "\nRead: " + sizeText(bytesIn) + ", written: " + sizeText(bytesOut);
}

std::string sizeText(long long bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  int unit = 0;
  while (value >= 1000 && unit < 3) {
    value /= 1000;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", value, kUnits[unit]);
  return buf;
}

}  // namespace pv::app
