// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run left in the volume: the result files it wrote or appended to
// below .tarn/working/scanner, read back through the local mount.
#ifndef TARN_TOOLS_TARN_SCAN_SUMMARY_H_
#define TARN_TOOLS_TARN_SCAN_SUMMARY_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarn_scan {

// Sizes of every file below <mount>/.tarn/working/scanner, keyed by the path
// relative to that directory ("app/app-nightly.3").
using snapshot = std::map<std::string, int64_t>;

snapshot take_snapshot(const std::string& mount);

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
};

// The files that are new or grew between `before` and now; their entry
// counts are the lines added since `before`.
summary summarize(const std::string& mount, const snapshot& before, double seconds);

std::string format_text(const summary& s, const std::string& volume, const std::string& session);
std::string format_json(const summary& s, const std::string& volume, const std::string& session);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_SUMMARY_H_
