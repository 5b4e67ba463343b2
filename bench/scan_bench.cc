// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Benchmarks of scan runs on generated cases: every run end to end through
// initiate_scan ("scan/<case>"), and the same run step by step ("steps/<case>").
//
//   tarn_bench --data=DIR [Google Benchmark flags]
//
// DIR holds cases made by bench/gen/gen_volume.py. A case whose manifest says
// runs=2 runs twice on one scanner object; the counters of the second run
// carry the prefix "r2_". Each run's results in the volume are counted and
// must equal the manifest's "linked" (set TARN_BENCH_NO_VERIFY to skip that).
// Peak memory is the process's own: run one benchmark per process for a
// figure that belongs to one case (scripts/bench.sh does).
//
// With TARN_BENCH_GLUSTER_VOLUME=VOL (and the volume mounted at /mnt/VOL, or
// at TARN_BENCH_GLUSTER_MOUNT), "copy_to_glusterfs/100000" times the copy step
// alone into that GlusterFS volume instead (scripts/gluster-rig.sh up VOL).
//
// With TARN_BENCH_RIG_VOLUME=VOL, "rig/<case>/<full|incremental>" scans that
// real volume once with the real glusterfind, step by step, and checks its
// lists (see bench/rig_bench.h; scripts/bench.sh rig-100000 sets it up).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_env.h"
#include "bench/copy_bench.h"
#include "bench/rig_bench.h"
#include "bench/scan_steps.h"
#include "scanner/scanner.h"

namespace tarn {
namespace bench {
namespace {

const char kSession[] = "bench";

using clock_type = std::chrono::steady_clock;

// Per-iteration sums, reported as averages over the iterations.
class counters {
 public:
  explicit counters(benchmark::State& state) : state_(state) {}
  void add(const std::string& name, double value) { sums_[name] += value; }
  void publish() {
    for (const auto& entry : sums_) {
      state_.counters[entry.first] =
          benchmark::Counter(entry.second, benchmark::Counter::kAvgIterations);
    }
    state_.counters["peak_MiB"] = peak_rss_mib();
  }

 private:
  benchmark::State& state_;
  std::map<std::string, double> sums_;
};

double rate(double entries, double seconds) { return seconds > 0 ? entries / seconds : 0; }

std::string run_prefix(int run) { return run == 0 ? "" : "r" + std::to_string(run + 1) + "_"; }

// Counts the results a run added to the volume; false (and the benchmark
// skipped) when they are not what the case must produce.
bool verify(benchmark::State& state, const bench_case& c, uint64_t* seen) {
  uint64_t total = count_result_lines(c);
  uint64_t added = total - *seen;
  *seen = total;
  if (getenv("TARN_BENCH_NO_VERIFY") != nullptr || added == c.linked) return true;
  fail(state, "the run left " + std::to_string(added) + " result lines, expected " +
                  std::to_string(c.linked));
  return false;
}

bool prepare(benchmark::State& state, const bench_case& c) {
  std::error_code ec = enter_case(c);
  if (!ec) ec = reset_case(c);
  if (ec) fail(state, "case setup: " + ec.message());
  return !ec;
}

void bm_scan(benchmark::State& state, const bench_case& c) {
  counters out(state);
  for (auto _ : state) {
    if (!prepare(state, c)) break;
    scanner::scanner s(c.volume, c.output_dir, c.mount_path);
    double iteration = 0;
    uint64_t seen = 0;
    bool failed = false;
    for (int run = 0; run < c.runs && !failed; ++run) {
      double cpu = cpu_seconds();
      clock_type::time_point start = clock_type::now();
      std::error_code ec = s.initiate_scan(kSession);
      double seconds = std::chrono::duration<double>(clock_type::now() - start).count();
      cpu = cpu_seconds() - cpu;
      if (ec) {
        fail(state, "initiate_scan: " + std::to_string(ec.value()));
        failed = true;
      } else if (!verify(state, c, &seen)) {
        failed = true;
      }
      iteration += seconds;
      out.add(run_prefix(run) + "run_s", seconds);
      out.add(run_prefix(run) + "run_cpu_s", cpu);
      out.add(run_prefix(run) + "run_eps", rate(c.lines, seconds));
    }
    if (failed) break;
    state.SetIterationTime(iteration);
  }
  state.counters["lines"] = c.lines;
  out.publish();
}

void add_step(counters* out, const std::string& name, const step_time& t, double entries) {
  out->add(name + "_s", t.wall);
  out->add(name + "_cpu_s", t.cpu);
  if (entries > 0) out->add(name + "_eps", rate(entries, t.wall));
}

void add_steps(counters* out, const std::string& p, const bench_case& c, const step_times& t) {
  add_step(out, p + "glusterfind", t.glusterfind, 0);
  add_step(out, p + "filter", t.filter, c.lines);
  add_step(out, p + "sort", t.sort, t.kept);
  add_step(out, p + "distribute", t.distribute, t.kept);
  add_step(out, p + "link", t.link, t.app_lines + t.shard_lines);
  add_step(out, p + "chunk", t.chunk, t.linked);
  add_step(out, p + "copy", t.copy, t.linked);
  add_step(out, p + "total", t.total, 0);
  out->add(p + "kept", t.kept);
  out->add(p + "app_lines", t.app_lines);
  out->add(p + "shard_lines", t.shard_lines);
  out->add(p + "linked", t.linked);
}

void bm_steps(benchmark::State& state, const bench_case& c) {
  counters out(state);
  for (auto _ : state) {
    if (!prepare(state, c)) break;
    scanner::scanner s(c.volume, c.output_dir, c.mount_path);
    double iteration = 0;
    uint64_t seen = 0;
    bool failed = false;
    for (int run = 0; run < c.runs && !failed; ++run) {
      step_times t;
      if (std::error_code ec = run_steps(s, c.output_dir, kSession, &t)) {
        fail(state, "steps: " + ec.message());
        failed = true;
      } else if (!verify(state, c, &seen)) {
        failed = true;
      }
      iteration += t.total.wall;
      add_steps(&out, run_prefix(run), c, t);
    }
    if (failed) break;
    state.SetIterationTime(iteration);
  }
  state.counters["lines"] = c.lines;
  out.publish();
}

std::vector<bench_case> find_cases(const std::string& data_dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(data_dir, ec)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<bench_case> cases;
  for (const std::string& name : names) {
    bench_case c;
    if (!load_case(data_dir, name, &c)) cases.push_back(c);
  }
  return cases;
}

}  // namespace
}  // namespace bench
}  // namespace tarn

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string data_dir = "build/bench-data";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--data=", 0) == 0) {
      data_dir = arg.substr(7);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  std::vector<tarn::bench::bench_case> cases = tarn::bench::find_cases(data_dir);
  tarn::bench::rig_target rig;
  const char* gluster = getenv("TARN_BENCH_GLUSTER_VOLUME");
  if (tarn::bench::rig_target_from_env(data_dir, &rig)) {
    cases.clear();
    std::string name = "rig/" + rig.name + "/" + (rig.full ? "full" : "incremental");
    benchmark::RegisterBenchmark(name.c_str(), tarn::bench::bm_rig, rig)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  } else if (gluster != nullptr && *gluster != '\0') {
    tarn::bench::copy_target target;
    target.volume = gluster;
    const char* mount = getenv("TARN_BENCH_GLUSTER_MOUNT");
    target.mount = mount != nullptr && *mount != '\0' ? mount : "/mnt/" + target.volume;
    target.work_dir = data_dir + "/copy-" + target.volume;
    benchmark::RegisterBenchmark(("copy_to_glusterfs/" + std::to_string(target.lines)).c_str(),
                                 tarn::bench::bm_copy_to_volume, target)
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  } else if (cases.empty()) {
    fprintf(stderr, "tarn_bench: no generated case in %s (run scripts/bench.sh)\n",
            data_dir.c_str());
    return 1;
  }
  for (const auto& c : cases) {
    benchmark::RegisterBenchmark(("scan/" + c.name).c_str(), tarn::bench::bm_scan, c)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("steps/" + c.name).c_str(), tarn::bench::bm_steps, c)
        ->Iterations(1)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return tarn::bench::any_failure() ? 1 : 0;
}
