// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The copy step alone into a real GlusterFS volume: result files as a run
// leaves them in the output directory, copied by copy_files_to_gluster.
#ifndef TARN_BENCH_COPY_BENCH_H_
#define TARN_BENCH_COPY_BENCH_H_

#include <string>

namespace benchmark {
class State;
}  // namespace benchmark

namespace tarn {
namespace bench {

struct copy_target {
  std::string volume;    // GlusterFS volume, reached over libgfapi
  std::string mount;     // its FUSE mount, where the results are counted
  std::string work_dir;  // local directory for the output directory and log
  int lines = 100000;    // result lines in all files together
};

// Times copy_files_to_gluster() of `lines` result lines: four chunk files of
// one large application and lists of 1,000 lines for the rest, named as a
// run names them. The results in the volume are removed (through the mount)
// before each iteration and counted after it.
void bm_copy_to_volume(benchmark::State& state, const copy_target& target);

}  // namespace bench
}  // namespace tarn

#endif  // TARN_BENCH_COPY_BENCH_H_
