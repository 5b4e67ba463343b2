// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A generated benchmark case on disk (see bench/gen/gen_volume.py) and the
// process environment a scan of it needs: the fake glusterfind on PATH playing
// back the case's change list, the local-directory volume, the log file.
#ifndef TARN_BENCH_BENCH_ENV_H_
#define TARN_BENCH_BENCH_ENV_H_

#include <cstdint>
#include <map>
#include <string>
#include <system_error>

namespace benchmark {
class State;
}  // namespace benchmark

namespace tarn {
namespace bench {

// Marks the running benchmark failed with a reason; the program then exits
// with 1 (see any_failure).
void fail(benchmark::State& state, const std::string& why);
bool any_failure();

struct bench_case {
  std::string name;         // directory name below the data directory
  std::string dir;          // the case directory
  std::string volume;       // volume name
  std::string volume_root;  // TARN_LOCAL_VOLUME_ROOT
  std::string mount_path;   // volume_root/volume, the "mount" the scanner reads
  std::string output_dir;   // the scanner's output directory
  int runs = 1;             // runs on one scanner object
  uint64_t lines = 0;       // change-list lines
  uint64_t kept = 0;        // NEW and MODIFY lines: what filtering keeps
  uint64_t linked = 0;      // pieces of listed owners: the result lines of a run
  std::map<std::string, std::string> manifest;
};

// Reads <data_dir>/<name>/manifest. ENOENT when the case was not generated.
std::error_code load_case(const std::string& data_dir, const std::string& name, bench_case* out);

// Points the library and the fake glusterfind at the case. The fake's state
// directory (<case>/fake) plays back <case>/changelist on every "pre".
std::error_code enter_case(const bench_case& c);

// Removes what earlier runs left: results in the volume, the output
// directory and leftovers set aside from it, the lock file, the log. Not part
// of any timed region.
std::error_code reset_case(const bench_case& c);

// Lines in every result file below the volume's ".tarn/working/scanner".
uint64_t count_result_lines(const bench_case& c);
// The same below `mount_path`.
uint64_t count_result_lines(const std::string& mount_path);

// Peak resident set of this process so far, in MiB (getrusage ru_maxrss).
double peak_rss_mib();

// User and system CPU seconds of this process so far, all threads.
double cpu_seconds();

}  // namespace bench
}  // namespace tarn

#endif  // TARN_BENCH_BENCH_ENV_H_
