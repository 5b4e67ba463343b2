// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/after_run.h"

#include <cstdio>

#include "core/platform.h"
#include "tools/tarn-scan/check.h"
#include "tools/tarn-scan/metrics.h"
#include "tools/tarn-scan/session_record.h"
#include "tools/tarn-scan/status.h"
#include "tools/tarn-scan/utc_time.h"

namespace tarn_scan {
namespace {

// The step to blame for a run that did not succeed.
std::string failed_step(const finished_run& run) {
  if (!run.report->failure.empty()) return run.report->failure;
  if (run.stopped) return "stopped";
  if (run.done->post_ran && run.done->post_status != 0) return "post";
  return "unknown";
}

void write_run_metrics(const options& o, const finished_run& run) {
  // This session only, its lists counted in files and bytes.
  const std::vector<session_status> sessions = collect_status(o, false);
  run_metrics m;
  m.volume = o.volume;
  m.session = o.session;
  m.started = unix_seconds(run.started);
  m.finished = unix_seconds(run.finished);
  m.exit_status = run.done->exit_status;
  m.succeeded = run_succeeded(run);
  if (!m.succeeded) m.failed_step = failed_step(run);
  m.steps = run.steps;
  m.report = run.report;
  if (!sessions.empty()) {
    const session_status& s = sessions.front();
    m.state = &s;
    m.lock_started = s.lock_started;
    m.oldest_manifest = s.oldest_manifest;
    if (s.succeeded_once) parse_utc(s.last_ok.finished, &m.last_success);
  }
  if (std::error_code ec = write_metrics(o.metrics_dir, m)) {
    fprintf(stderr, "tarn-scan: the metrics could not be written to %s: %s\n",
            metrics_path(o.metrics_dir, o.volume, o.session).c_str(), ec.message().c_str());
  }
}

}  // namespace

bool run_succeeded(const finished_run& run) {
  return !run.stopped && !run.report->result &&
         (run.done->exit_status == 0 || run.done->exit_status == 3);
}

void after_run(const options& o, const finished_run& run) {
  if (run_succeeded(run)) {
    last_success record;
    record.started = format_utc(run.started);
    record.finished = format_utc(run.finished);
    record.scan_type = run.report->full ? "full" : "incremental";
    record.host = tarn::os::host_name();
    record.exit_status = run.done->exit_status;
    if (std::error_code ec = write_last_success(volume_top(o), o.session, record)) {
      fprintf(stderr, "tarn-scan: the record of this successful run could not be written to %s: %s\n",
              session_record_path(volume_top(o), o.session).c_str(), ec.message().c_str());
    }
  }
  if (!o.metrics_dir.empty()) write_run_metrics(o, run);
}

}  // namespace tarn_scan
