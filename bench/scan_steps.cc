// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The steps of a scan run, each timed as the run goes by it.
#include "bench/scan_steps.h"

#include <chrono>
#include <fstream>
#include <list>
#include <utility>
#include <vector>

#include "bench/bench_env.h"
#include "core/platform.h"
#include "scanner/stages/list_file.h"

namespace tarn {
namespace bench {
namespace {

using clock_type = std::chrono::steady_clock;

double since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Times the steps of the run as a host's progress observer sees them go by,
// into the fields that name them; the entries each step took in are read
// from what it left in the output directory.
class step_timer : public scanner::progress_observer {
 public:
  step_timer(step_times* times, std::string output_dir, std::string session, bool count_lines)
      : times_(times),
        output_dir_(std::move(output_dir)),
        session_(std::move(session)),
        count_lines_(count_lines) {}

  // Elapsed and CPU seconds the observer itself spent between steps.
  const step_time& own() const { return own_; }

  void step_entered(const char*) override {
    cpu_ = cpu_seconds();
    start_ = clock_type::now();
    open_.emplace_back(start_, cpu_);
  }

  void entries_done(const char* step, uint64_t entries) override {
    const std::string name = step;
    if (step_time* time = field(name)) {
      time->wall = since(start_);
      time->cpu = cpu_seconds() - cpu_;
    }
    if (!open_.empty()) {
      step_time& time = times_->steps[name];
      time.wall += since(open_.back().first);
      time.cpu += cpu_seconds() - open_.back().second;
      open_.pop_back();
    }
    const double cpu = cpu_seconds();
    const clock_type::time_point start = clock_type::now();
    if (name == "glusterfind" && count_lines_) {
      times_->lines = count_lines(output_dir_ + "/full-" + session_);
    }
    if (name == "filter") times_->kept = entries;
    if (name == "distribute") {
      times_->app_lines = count_lists(/*shard=*/false);
      times_->shard_lines = count_lists(/*shard=*/true);
    }
    if (name == "link") times_->linked = count_lists(false) + count_lists(true);
    own_.wall += since(start);
    own_.cpu += cpu_seconds() - cpu;
  }

 private:
  step_time* field(const std::string& name) {
    if (name == "glusterfind") return &times_->glusterfind;
    if (name == "filter") return &times_->filter;
    if (name == "sort") return &times_->sort;
    if (name == "distribute") return &times_->distribute;
    if (name == "link") return &times_->link;
    if (name == "chunk") return &times_->chunk;
    if (name == "copy") return &times_->copy;
    return nullptr;
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

  // The entries of the session's lists in the output directory, by the
  // counts their names end in: the shard list's, or the others'.
  uint64_t count_lists(bool shard) const {
    std::list<std::string> names;
    if (os::list_directory(output_dir_, &names)) return 0;
    uint64_t total = 0;
    for (const std::string& file : names) {
      const scanner::list_name name = scanner::list_name::parse(file, session_);
      const std::string whole = name.application + "-" + session_ + "." + std::to_string(name.count);
      if (file != whole || (name.application == ".shard") != shard) continue;
      total += static_cast<uint64_t>(name.count);
    }
    return total;
  }

  step_times* times_;
  const std::string output_dir_;
  const std::string session_;
  const bool count_lines_;
  step_time own_;
  double cpu_ = 0;
  clock_type::time_point start_;
  // The steps begun and not yet ended, innermost last: start and CPU.
  std::vector<std::pair<clock_type::time_point, double>> open_;
};

}  // namespace

std::error_code run_steps(scanner::scanner& s, const std::string& output_dir,
                          const std::string& session_name, step_times* out, bool count_lines) {
  step_times t;
  step_timer timer(&t, output_dir, session_name, count_lines);
  s.set_progress_observer(&timer);
  double cpu = cpu_seconds();
  clock_type::time_point start = clock_type::now();
  std::error_code result = s.initiate_scan(session_name);
  t.total.wall = since(start);
  t.total.cpu = cpu_seconds() - cpu;
  s.set_progress_observer(nullptr);
  t.total.wall -= timer.own().wall;
  t.total.cpu -= timer.own().cpu;
  if (!result) *out = t;
  return result;
}

}  // namespace bench
}  // namespace tarn
