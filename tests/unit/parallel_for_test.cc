// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The pool every step that runs work side by side goes through.
#include "scanner/run/parallel_for.h"

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

namespace tarn {
namespace scanner {
namespace {

// Every item once, whatever the number of threads against the items.
TEST(ParallelForTest, EachItemRunsOnce) {
  for (std::size_t threads : {1u, 2u, 4u, 64u}) {
    for (std::size_t n : {0u, 1u, 3u, 1000u}) {
      std::vector<std::atomic<int>> runs(n);
      EXPECT_FALSE(parallel_for(n, threads, thread_shortage::fail, [&](std::size_t i) {
        ++runs[i];
        return true;
      }));
      for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(runs[i].load(), 1) << n << " " << i;
    }
  }
}

// After an item says stop, no item is begun: on one thread none after it;
// on several, those taken before it (items go in order) still run, each once.
TEST(ParallelForTest, AStopBeginsNoFurtherItem) {
  std::vector<std::atomic<int>> runs(100);
  parallel_for(runs.size(), 1, thread_shortage::fewer_threads, [&](std::size_t i) {
    ++runs[i];
    return i != 10;
  });
  for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].load(), i <= 10 ? 1 : 0) << i;

  std::vector<std::atomic<int>> shared(10000);
  parallel_for(shared.size(), 4, thread_shortage::fewer_threads, [&](std::size_t i) {
    ++shared[i];
    return i != 20;
  });
  for (std::size_t i = 0; i < shared.size(); ++i) {
    if (i <= 20) {
      EXPECT_EQ(shared[i].load(), 1) << i;
    } else {
      EXPECT_LE(shared[i].load(), 1) << i;
    }
  }
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
