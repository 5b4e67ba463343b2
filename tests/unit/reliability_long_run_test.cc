// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// A host that keeps one scanner for a long time: many runs on changing
// change lists, each correct, with no growth in descriptors, threads or heap.
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>

#include <gtest/gtest.h>

#include "unit/scan_scenario.h"
#include "unit/test_util.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARN_SANITIZER_HEAP 1
// The sanitizers' allocator replaces malloc; it reports its own figure.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace tarn {
namespace scanner {
namespace {

using testing_util::fake_glusterfind;
using testing_util::list_dir;
using testing_util::log_capture;
using testing_util::read_tree;
using testing_util::scan_scenario;
using testing_util::scoped_env;
using testing_util::temp_dir;

std::size_t open_descriptors() { return list_dir("/proc/self/fd").size(); }
std::size_t threads() { return list_dir("/proc/self/task").size(); }

// Bytes the heap holds for the program.
std::size_t heap_in_use() {
#ifdef TARN_SANITIZER_HEAP
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

TEST(LongRunningHostTest, TwoHundredRunsStayCorrectAndFlat) {
  temp_dir root;
  scoped_env volume_root("TARN_LOCAL_VOLUME_ROOT", root.path());
  const std::string volume = root.path("vol1");
  const std::string working = volume + "/.tarn/working/scanner";
  mkdir(volume.c_str(), 0755);
  fake_glusterfind tool;
  log_capture log;

  scanner s("vol1", root.path("out"), volume);
  const auto gfids = testing_util::use_scenario_gfids();
  constexpr int kRuns = 200;
  constexpr int kWarmUp = 10;
  std::size_t fds = 0, tasks = 0, heap = 0;
  for (int run = 0; run < kRuns; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    // Every 100th run cuts a list into chunks on worker threads.
    scan_scenario scenario = run % 100 == 99
                                 ? testing_util::make_scenario("s1", 1, 2, 8001, run)
                                 : testing_util::make_scenario("s1", 1 + run % 4, 1 + run % 3,
                                                               1 + run % 5, run % 7);
    tool.set_changelist(scenario.changelist);
    s.set_scan_type(run % 2 == 0 ? scanner::scan_full : scanner::scan_incremental);
    ASSERT_EQ(s.initiate_scan("s1"), success);
    ASSERT_EQ(read_tree(working), scenario.results);
    // The consumer takes the results.
    for (const auto& result : scenario.results) ::unlink((working + "/" + result.first).c_str());
    if (run == kWarmUp) {
      fds = open_descriptors();
      tasks = threads();
      heap = heap_in_use();
    }
  }
  EXPECT_EQ(open_descriptors(), fds);
  EXPECT_EQ(threads(), tasks);
  // What a session remembers of its runs (names in its exclude list) is a
  // few hundred bytes; a leak of a list, a buffer or a thread's stack per
  // run would be far more.
  EXPECT_LT(heap_in_use(), heap + 256 * 1024) << "heap grew from " << heap;
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
