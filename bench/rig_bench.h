// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// One scan of a real GlusterFS volume through its mount, with the real
// glusterfind, timed step by step; the volume is filled and changed by
// bench/rig/rig_volume.py (scripts/bench.sh rig-100000 does it all).
#ifndef TARN_BENCH_RIG_BENCH_H_
#define TARN_BENCH_RIG_BENCH_H_

#include <string>

namespace benchmark {
class State;
}  // namespace benchmark

namespace tarn {
namespace bench {

struct rig_target {
  std::string name;      // the case, e.g. "rig-100000"
  std::string volume;    // GlusterFS volume
  std::string mount;     // its aux-gfid FUSE mount
  std::string session;   // glusterfind session
  std::string work_dir;  // local directory for the output directory and log
  std::string expect;    // file of lines the run's lists must hold (empty: no check)
  bool full = true;      // full pass, else incremental
  bool post = true;      // run "glusterfind post" after the scan (not timed with it)
  // The lists hold the changed entries too (set_list_files); without, only
  // pieces, as a default scan, and only the expected pieces are checked.
  bool list_files = true;
};

// From the environment: TARN_BENCH_RIG_VOLUME (none: false), TARN_BENCH_RIG_MOUNT
// (default /mnt/VOLUME), TARN_BENCH_RIG_SCAN ("full" or "incremental"),
// TARN_BENCH_RIG_CASE, TARN_BENCH_RIG_SESSION, TARN_BENCH_RIG_EXPECT,
// TARN_BENCH_RIG_NO_POST, TARN_BENCH_RIG_LIST_FILES ("1" or "0"; default 0 for
// a full scan, 1 for an incremental one); work directory below `data_dir`.
bool rig_target_from_env(const std::string& data_dir, rig_target* out);

// One run with files listed (scanner::set_list_files): the results of
// earlier runs are removed from the volume first. Every line of the expect
// file must be in the run's lists; any other line must name a directory or
// an entry that is gone, and never a piece, or the benchmark fails. Peak
// memory is taken before the check.
void bm_rig(benchmark::State& state, const rig_target& target);

}  // namespace bench
}  // namespace tarn

#endif  // TARN_BENCH_RIG_BENCH_H_
