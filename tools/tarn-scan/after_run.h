// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What tarn-scan leaves after a scan besides its output: the session's record
// of its last success in the volume, and the run's metrics file.
#ifndef TARN_TOOLS_TARN_SCAN_AFTER_RUN_H_
#define TARN_TOOLS_TARN_SCAN_AFTER_RUN_H_

#include <chrono>
#include <vector>

#include "scanner/scan_report.h"
#include "tools/tarn-scan/options.h"
#include "tools/tarn-scan/step_timer.h"
#include "tools/tarn-scan/summary.h"

namespace tarn_scan {

struct finished_run {
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  const tarn::scanner::scan_report* report = nullptr;
  const outcome* done = nullptr;
  std::vector<step_time> steps;
  bool stopped = false;  // by a signal or --timeout
};

// The run filed its lists and, when asked, posted them: exit status 0 or 3.
bool run_succeeded(const finished_run& run);

// Records a successful run in the volume and, with --metrics-dir, writes the
// metrics. What cannot be written is said on standard error; it never
// changes the run's exit status.
void after_run(const options& o, const finished_run& run);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_AFTER_RUN_H_
