// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan's exit statuses, one meaning each; the table in --help, the
// manual page and the README lists the same. An errno goes into the message
// and the JSON, never into the exit status.
#ifndef TARN_TOOLS_TARN_SCAN_EXIT_CODES_H_
#define TARN_TOOLS_TARN_SCAN_EXIT_CODES_H_

#include <cerrno>
#include <system_error>

#include "scanner/scan_report.h"

namespace tarn_scan {

enum exit_code : int {
  kDone = 0,
  kPostFailed = 1,      // the results are in the volume, 'glusterfind post' failed
  kUsage = 2,           // bad command line
  kAttention = 3,       // done, but pieces could not be attributed or the lock stayed
  kNotUsable = 4,       // the volume or the mount cannot be used
  kStepFailed = 14,     // a step of the run failed
  kLocked = 16,         // another run holds the session's lock
  kTimedOut = 124,      // --timeout; 128 + N after stop signal N
};

// The status of a run that did not succeed.
inline int failed_run_status(const std::error_code& ec, const tarn::scanner::scan_report& r) {
  if (r.failure == "mount") return kNotUsable;
  if (r.failure == "lock" && ec.value() == EBUSY) {
    const int why = r.lock_error.value();
    // A lock file that exists, or a create that another client's holds up.
    return why == EEXIST || why == ETIMEDOUT ? kLocked : kNotUsable;
  }
  return kStepFailed;
}

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_EXIT_CODES_H_
