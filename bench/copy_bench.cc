// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The copy step into a real GlusterFS volume, timed.
#include "bench/copy_bench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench/bench_env.h"
#include "scanner/scanner.h"

namespace tarn {
namespace bench {
namespace {

namespace fs = std::filesystem;

// A piece path as a linked list holds it.
std::string piece_line(int i) {
  char buf[80];
  std::snprintf(buf, sizeof buf, ".shard/7c1d2e3f-4a5b-4c6d-8e7f-%012x.%d\n", i / 100, i % 100 + 1);
  return buf;
}

std::error_code write_results(const std::string& out_dir, int lines) {
  std::error_code ec;
  fs::remove_all(out_dir, ec);
  fs::create_directories(out_dir, ec);
  if (ec) return ec;
  const int chunk = 16000;
  int big = std::min(lines, 4 * chunk);  // the large application, cut into chunks
  int next = 0;
  auto write = [&](const std::string& name, int count) {
    std::ofstream out(out_dir + "/" + name);
    for (int i = 0; i < count; ++i) out << piece_line(next++);
    return static_cast<bool>(out);
  };
  for (int k = 1; big > 0; ++k, big -= chunk) {
    int count = std::min(big, chunk);
    if (!write("vmstore-bench-" + std::to_string(k) + "." + std::to_string(count), count)) {
      return std::error_code(EIO, std::generic_category());
    }
  }
  for (int app = 0; next < lines; ++app) {
    int count = std::min(lines - next, 1000);
    if (!write("app" + std::to_string(app) + "-bench." + std::to_string(count), count)) {
      return std::error_code(EIO, std::generic_category());
    }
  }
  return std::error_code();
}

}  // namespace

void bm_copy_to_volume(benchmark::State& state, const copy_target& target) {
  const std::string out_dir = target.work_dir + "/out";
  // The volume is the GlusterFS one: no local-directory stand-in.
  unsetenv("TARN_LOCAL_VOLUME_ROOT");
  setenv("TARN_LOG_FILE", (target.work_dir + "/copy.log").c_str(), 1);
  double seconds = 0;
  for (auto _ : state) {
    std::error_code ec;
    fs::remove_all(target.mount + "/.tarn", ec);
    if (!ec) ec = write_results(out_dir, target.lines);
    if (ec) {
      fail(state, "setup: " + ec.message());
      break;
    }
    scanner::scanner s(target.volume, out_dir, target.mount);
    s.create_recursive_directory(".tarn/working/scanner");  // as a run does before its scan
    auto start = std::chrono::steady_clock::now();
    ec = s.copy_files_to_gluster();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (ec) {
      fail(state, "copy_files_to_gluster: " + ec.message());
      break;
    }
    uint64_t copied = count_result_lines(target.mount);
    if (copied != static_cast<uint64_t>(target.lines)) {
      fail(state, "the volume holds " + std::to_string(copied) + " result lines, expected " +
                      std::to_string(target.lines));
      break;
    }
    state.SetIterationTime(elapsed);
    seconds += elapsed;
  }
  if (state.iterations() > 0) {
    state.counters["copy_s"] = seconds / state.iterations();
    state.counters["copy_eps"] = target.lines * state.iterations() / seconds;
  }
  state.counters["lines"] = target.lines;
}

}  // namespace bench
}  // namespace tarn
