#include "app/run_tally.h"

#include <sys/stat.h>

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
  overwritten += record.overwrote;
  numbered += record.numbered;
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

}  // namespace pv::app
