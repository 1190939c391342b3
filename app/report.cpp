#include "app/report.h"

#include <nlohmann/json.hpp>

namespace pv::app {

ReportWriter::~ReportWriter() {
  if (file_ && ownsFile_) std::fclose(file_);
}

bool ReportWriter::open(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (path == "-") {
    file_ = stdout;
  } else {
    file_ = std::fopen(path.c_str(), "ae");
    ownsFile_ = file_ != nullptr;
  }
  if (!file_) return false;
  for (const OutcomeRecord& r : pending_) write(r);
  pending_.clear();
  return true;
}

void ReportWriter::discard() {
  std::lock_guard lock(mutex_);
  pending_.clear();
  discarding_ = true;
}

void ReportWriter::outcome(const OutcomeRecord& record) {
  if (record.kind == OutcomeRecord::kListEntry && record.succeeded()) return;  // its conversion reports it
  std::lock_guard lock(mutex_);
  if (file_) write(record);
  else if (!discarding_) pending_.push_back(record);
}

std::string ReportWriter::line(const OutcomeRecord& r) {
  nlohmann::ordered_json j;
  j["source"] = r.source;
  j["outputs"] = r.outputs;
  j["status"] = r.status;
  j["message"] = r.text;
  j["milliseconds"] = r.milliseconds;
  j["skipped"] = r.skipped;
  if (r.page > 0) j["page"] = r.page;
  if (r.sizeTarget) {
    j["quality"] = r.sizeTarget->quality;
    j["bytes"] = r.sizeTarget->bytes;
    j["size_limit"] = r.sizeTarget->limit;
  }
  // Paths are bytes: one that is not UTF-8 is written with U+FFFD in place
  // of its bad bytes rather than failing the line.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void ReportWriter::write(const OutcomeRecord& r) {
  const std::string text = line(r) + "\n";
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

std::string openCommandLineReport(ReportWriter& report, const Settings& settings) {
  if (settings.reportPath.empty()) {
    report.discard();
    return {};
  }
  if (report.open(settings.reportPath)) return {};
  return "Commandline Error: the report file " + settings.reportPath + " cannot be written.";
}

}  // namespace pv::app
