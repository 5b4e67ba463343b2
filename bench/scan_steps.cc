// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The steps of a scan run, each timed as the run goes by it.
#include "bench/scan_steps.h"

#include <chrono>
#include <fstream>
#include <vector>

#include "bench/bench_env.h"
#include "scanner/run/scan_run.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace bench {
namespace {

using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Times the steps of the run as they go by, into the fields that name them.
class step_timer : public scanner::step_observer {
 public:
  step_timer(step_times* times, bool count_lines) : times_(times), count_lines_(count_lines) {}

  // Elapsed and CPU seconds the observer itself spent between steps.
  const step_time& own() const { return own_; }

  void step_begins(scanner::step_id) override {
    cpu_ = cpu_seconds();
    start_ = clock_type::now();
    open_.emplace_back(start_, cpu_);
  }

  void step_ends(scanner::step_id step, const scanner::scan_state& state) override {
    using scanner::step_id;
    if (step_time* time = field(step)) {
      time->wall = since(start_);
      time->cpu = cpu_seconds() - cpu_;
    }
    if (!open_.empty()) {
      step_time& time = times_->steps[scanner::step_name(step)];
      time.wall += since(open_.back().first);
      time.cpu += cpu_seconds() - open_.back().second;
      open_.pop_back();
    }
    if (step == step_id::glusterfind && count_lines_) {
      double cpu = cpu_seconds();
      clock_type::time_point start = clock_type::now();
      times_->lines = count_lines(state.scan_output);
      own_.wall += since(start);
      own_.cpu += cpu_seconds() - cpu;
    }
    if (step == step_id::filter) times_->kept = state.kept;
    if (step == step_id::distribute) {
      times_->app_lines = count_total(state.app_files);
      times_->shard_lines = count_total(state.shard_files);
    }
    if (step == step_id::link) times_->linked = count_total(state.linked_files);
  }

 private:
  step_time* field(scanner::step_id step) {
    switch (step) {
      case scanner::step_id::glusterfind: return &times_->glusterfind;
      case scanner::step_id::filter: return &times_->filter;
      case scanner::step_id::sort: return &times_->sort;
      case scanner::step_id::distribute: return &times_->distribute;
      case scanner::step_id::link: return &times_->link;
      case scanner::step_id::chunk: return &times_->chunk;
      case scanner::step_id::copy: return &times_->copy;
      default: return nullptr;
    }
  }

  static uint64_t count_lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    uint64_t lines = 0;
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
      for (std::streamsize i = 0; i < in.gcount(); ++i) lines += buf[i] == '\n';
    }
    return lines;
  }

  static uint64_t count_total(const std::vector<std::string>& paths) {
    uint64_t total = 0;
    for (const std::string& p : paths) {
      total += static_cast<uint64_t>(scanner::list_name::parse(p).count);
    }
    return total;
  }

  step_times* times_;
  const bool count_lines_;
  step_time own_;
  double cpu_ = 0;
  clock_type::time_point start_;
  // The steps begun and not yet ended, innermost last: start and CPU.
  std::vector<std::pair<clock_type::time_point, double>> open_;
};

}  // namespace

std::error_code run_steps(scanner::scanner& s, const std::string& session_name,
                          step_times* out, bool count_lines) {
  step_times t;
  step_timer timer(&t, count_lines);
  double cpu = cpu_seconds();
  clock_type::time_point start = clock_type::now();
  std::error_code result = scanner::scan_run(s, session_name).run(&timer);
  t.total.wall = since(start);
  t.total.cpu = cpu_seconds() - cpu;
  t.total.wall -= timer.own().wall;
  t.total.cpu -= timer.own().cpu;
  if (!result) *out = t;
  return result;
}

}  // namespace bench
}  // namespace tarn
