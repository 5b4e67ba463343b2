// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/step_timer.h"

namespace tarn_scan {

step_timer::step_timer(tarn::scanner::progress_observer* next)
    : next_(next), steps_{step_time{"checks", 0, 0}}, since_(clock::now()) {}

void step_timer::step_entered(const char* step) {
  const clock::time_point now = clock::now();
  steps_.back().seconds += std::chrono::duration<double>(now - since_).count();
  since_ = now;
  steps_.push_back(step_time{step, 0, 0});
  if (next_ != nullptr) next_->step_entered(step);
}

void step_timer::entries_done(const char* step, uint64_t entries) {
  for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
    if (it->step == step) {
      it->entries = entries;
      break;
    }
  }
  if (next_ != nullptr) next_->entries_done(step, entries);
}

const std::vector<step_time>& step_timer::finish() {
  if (!finished_) {
    steps_.back().seconds += std::chrono::duration<double>(clock::now() - since_).count();
    finished_ = true;
  }
  return steps_;
}

}  // namespace tarn_scan
