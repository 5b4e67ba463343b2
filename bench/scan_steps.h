// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// One scan run taken apart: the steps of scanner::initiate_scan called one by
// one through the public methods of scanner and session, each timed.
#ifndef TARN_BENCH_SCAN_STEPS_H_
#define TARN_BENCH_SCAN_STEPS_H_

#include <cstdint>
#include <string>
#include <system_error>

#include "scanner/scanner.h"

namespace tarn {
namespace bench {

// Seconds per step, and the entries each step took in.
struct step_times {
  double glusterfind = 0;  // the "pre" pass (the fake copies the change list)
  double filter = 0;       // filter_new_and_modified
  double sort = 0;         // reading the collect file into memory and sorting it
  double distribute = 0;   // distribute_basedon_application
  double link = 0;         // link_shard_to_app
  double chunk = 0;        // multithreaded_chunking
  double copy = 0;         // copy_files_to_gluster
  double total = 0;        // lock to release, all of the above included

  uint64_t kept = 0;       // entries in the collect file
  uint64_t app_lines = 0;  // entries of the application lists
  uint64_t shard_lines = 0;  // entries of the shard lists
  uint64_t linked = 0;     // entries of the linked shard lists
};

// Runs the steps of one scan of `session_name` in the order of
// scanner::initiate_scan. The read-and-sort of the collect file is done here
// the way the post-processing driver does it, since the driver exposes no
// seam between it and distribution. Returns the first failure.
std::error_code run_steps(scanner::scanner& s, const std::string& volume,
                          const std::string& output_dir, const std::string& session_name,
                          step_times* out);

}  // namespace bench
}  // namespace tarn

#endif  // TARN_BENCH_SCAN_STEPS_H_
