// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run left in the volume, from the scanner's report of the run: the
// result files it wrote or appended to below .tarn/working/scanner.
#ifndef TARN_TOOLS_TARN_SCAN_SUMMARY_H_
#define TARN_TOOLS_TARN_SCAN_SUMMARY_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "scanner/scan_report.h"

namespace tarn_scan {

struct result_file {
  std::string name;      // file name
  uint64_t entries = 0;  // lines the run wrote to it
};

struct application_result {
  std::string application;  // directory below .tarn/working/scanner
  std::vector<result_file> files;
  uint64_t entries = 0;
};

struct summary {
  std::vector<application_result> applications;
  uint64_t total_entries = 0;
  double seconds = 0;
  uint64_t dropped_no_aux_gfid = 0;  // pieces that could not be attributed
  uint64_t dropped_owner_gone = 0;   // pieces of files removed since the change
  uint64_t dropped_owner_excluded = 0;
  std::string manifest;
  std::vector<std::string> warnings;
};

// The lists the run wrote, grouped by application directory in the order
// the report has them.
summary summarize(const tarn::scanner::scan_report& report, double seconds);

std::string format_text(const summary& s, const std::string& volume, const std::string& session);
std::string format_json(const summary& s, const std::string& volume, const std::string& session);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_SUMMARY_H_
