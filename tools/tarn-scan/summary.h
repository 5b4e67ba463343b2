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
  uint64_t piece_lines = 0;          // of total_entries, pieces
  uint64_t path_lines = 0;           // of total_entries, paths (--with-files)
  uint64_t dropped_no_aux_gfid = 0;  // pieces that could not be attributed
  uint64_t dropped_owner_gone = 0;   // pieces of files removed since the change
  uint64_t dropped_owner_excluded = 0;
  std::string manifest;
  std::vector<std::string> warnings;
  bool first_run = false;  // asked for incremental, ran full: the session was new
};

// The lists the run wrote, grouped by application directory in the order
// the report has them.
summary summarize(const tarn::scanner::scan_report& report, double seconds);

std::string format_text(const summary& s, const std::string& volume, const std::string& session);
// How the run ended for tarn-scan.
struct outcome {
  int exit_status = 0;
  std::string message;  // the line printed on standard error, empty on success
  double seconds = 0;
  bool post_asked = false;
  bool post_ran = false;
  int post_status = 0;  // of 'glusterfind post', when it ran
  bool incremental_asked = false;
  bool first_run = false;  // asked for incremental, ran full: the session was new
};

// One JSON object for every outcome: the library's report of the run (its
// "schema", "result", "lists", "dropped", "warnings", ...; see
// scan_report.h), with tarn-scan's "exit_status", "message", "seconds",
// "post", "scan_type_asked", "first_run_of_session" (an incremental scan
// asked of a session that did not exist ran full) and the lists by
// "applications". Names that are not valid UTF-8
// show U+FFFD for their invalid bytes; their bytes are in the "<key>_hex"
// fields of the report.
std::string format_json(const tarn::scanner::scan_report& report, const std::string& volume,
                        const outcome& done);
// The object for a command line that was refused: "schema", "exit_status"
// and "message" only, nothing having run.
std::string format_usage_json(const std::string& message, int exit_status);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_SUMMARY_H_
