// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// One scan run with the time of each of its steps: the run of
// scanner::initiate_scan itself, watched step by step.
#ifndef TARN_BENCH_SCAN_STEPS_H_
#define TARN_BENCH_SCAN_STEPS_H_

#include <cstdint>
#include <map>
#include <string>
#include <system_error>

#include "scanner/scanner.h"

namespace tarn {
namespace bench {

// Seconds of one step: elapsed, and CPU of this process (all threads).
struct step_time {
  double wall = 0;
  double cpu = 0;
};

// Seconds per step, and the entries each step took in.
struct step_times {
  step_time glusterfind;  // the "pre" pass (the fake copies the change list)
  step_time filter;       // filter_new_and_modified, and the change list removed
  step_time sort;         // reading the collect file into memory and sorting it
  step_time distribute;   // distribute_basedon_application
  step_time link;         // link_shard_to_app
  step_time chunk;        // multithreaded_chunking
  step_time copy;         // copy_files_to_gluster
  step_time total;        // the whole run: lock, leftovers and release included

  uint64_t kept = 0;         // entries in the collect file
  uint64_t app_lines = 0;    // entries of the application lists
  uint64_t shard_lines = 0;  // entries of the shard lists
  uint64_t linked = 0;       // entries of the linked shard lists
  uint64_t lines = 0;        // change-list lines (counted only when asked)

  // Every step of the run by the name it goes by ("session", "unread
  // journals", "post-processing", ...), nested ones included.
  std::map<std::string, step_time> steps;
};

// Runs one scan of `session_name` with scanner::initiate_scan, timing each
// step as a progress observer sees it go by; `output_dir` is the scanner's.
// The entries of the lists, and with `count_lines` the lines of
// glusterfind's change list, are counted between two steps, and the time
// that takes is taken out of `total`. Returns the run's result; `*out` is
// set only on success.
std::error_code run_steps(scanner::scanner& s, const std::string& output_dir,
                          const std::string& session_name, step_times* out,
                          bool count_lines = false);

}  // namespace bench
}  // namespace tarn

#endif  // TARN_BENCH_SCAN_STEPS_H_
