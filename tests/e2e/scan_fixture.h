// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The fixture of the scanner-level end-to-end tests: a freshly populated
// volume, a session of the test's own, and the results a run should leave.
#ifndef TARN_TESTS_E2E_SCAN_FIXTURE_H_
#define TARN_TESTS_E2E_SCAN_FIXTURE_H_

#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "e2e/e2e_util.h"
#include "scanner/scanner.h"

namespace tarn {
namespace e2e {

using result_map = std::map<std::string, std::vector<std::string>>;

class scan_test : public volume_test {
 protected:
  void SetUp() override;

  // The result file of `application` holding `pieces`, as results() names
  // it: "<application>/<application>-<session>.<count>".
  std::string result_file(const std::string& application, std::size_t count) const;
  // What a full scan of the standard population leaves.
  result_map expected_full() const;
  // The lock file of the session, on the mount.
  std::string lock_file() const;
  // True once the lock file is gone from the mount. The mount may show an
  // entry that another client removed for up to a second, so this waits a
  // little (bounded) before it answers false.
  bool lock_gone() const;

  // Runs incremental scans of `s` until the results equal `expected` (the
  // changelog may not have caught up yet), at most `attempts` times; the
  // results are cleared before each run. Returns the last run's result.
  std::error_code scan_until(scanner::scanner& s, const result_map& expected, int attempts = 6);

  std::string session_;
  std::string out_;  // the scanner's output directory (made by the run)
};

}  // namespace e2e
}  // namespace tarn

#endif  // TARN_TESTS_E2E_SCAN_FIXTURE_H_
