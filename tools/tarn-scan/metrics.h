// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The metrics of a run, in Prometheus's text exposition format, as one file
// per volume and session for node_exporter's textfile collector:
// "<dir>/tarn-scan.<volume>.<session>.prom", replaced whole after every run
// (written under "<file>.tmp", which the collector does not read, then
// renamed), so that a scrape never sees half of it.
#ifndef TARN_TOOLS_TARN_SCAN_METRICS_H_
#define TARN_TOOLS_TARN_SCAN_METRICS_H_

#include <string>
#include <system_error>
#include <vector>

#include "scanner/scan_report.h"
#include "tools/tarn-scan/status.h"
#include "tools/tarn-scan/step_timer.h"

namespace tarn_scan {

struct run_metrics {
  std::string volume;
  std::string session;
  double started = 0;   // seconds since the epoch
  double finished = 0;  // after glusterfind post, when it ran
  int exit_status = 0;
  bool succeeded = false;       // the lists are filed (and posted when asked): 0 or 3
  std::string failed_step;      // the step that failed, "post", or "stopped"
  std::vector<step_time> steps;
  const tarn::scanner::scan_report* report = nullptr;
  double last_success = 0;  // the session's last successful run ended; 0: none known
  // The session as the run left it (tarn-scan status's view).
  const session_status* state = nullptr;
  double lock_started = 0;     // when the lock that is held was taken; 0: unknown
  double oldest_manifest = 0;  // start of the oldest run whose manifest waits; 0: none
};

// The file's text.
std::string format_metrics(const run_metrics& m);

// "<dir>/tarn-scan.<volume>.<session>.prom".
std::string metrics_path(const std::string& dir, const std::string& volume,
                         const std::string& session);

// Writes the file whole. ENOENT when `dir` does not exist (it is not made:
// the collector makes its own).
std::error_code write_metrics(const std::string& dir, const run_metrics& m);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_METRICS_H_
