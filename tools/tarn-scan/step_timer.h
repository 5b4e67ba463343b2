// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// How long each step of a run took, as the library announces its steps;
// passes every call on to another observer (the progress line) when given.
#ifndef TARN_TOOLS_TARN_SCAN_STEP_TIMER_H_
#define TARN_TOOLS_TARN_SCAN_STEP_TIMER_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "scanner/scanner.h"

namespace tarn_scan {

struct step_time {
  std::string step;
  double seconds = 0;
  uint64_t entries = 0;  // as the library reported them at the step's end
};

class step_timer : public tarn::scanner::progress_observer {
 public:
  // The time from construction to the first step is "checks" (the mount
  // check and the lock).
  explicit step_timer(tarn::scanner::progress_observer* next);

  void step_entered(const char* step) override;
  void entries_done(const char* step, uint64_t entries) override;

  // Ends the step in progress; the steps in the order they began.
  const std::vector<step_time>& finish();

 private:
  using clock = std::chrono::steady_clock;
  tarn::scanner::progress_observer* next_;
  std::vector<step_time> steps_;
  clock::time_point since_;
  bool finished_ = false;
};

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_STEP_TIMER_H_
