// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Items read ahead on threads come out in the order they were taken, a last
// item ends them, and memory running out ends them with a lost item.
#include "scanner/stages/ordered_read_ahead.h"

#include <new>
#include <thread>

#include <gtest/gtest.h>

namespace tarn {
namespace scanner {
namespace {

struct item {
  int number = -1;
  int square = -1;
  bool lost = false;
};

// Items 0 to count-1; take() throws bad_alloc at `throw_at` and
// complete() at `throw_completing` (-1: never); item `last` ends the reading.
read_ahead_steps<item> numbers(int* next, int count, int last = -1, int throw_at = -1,
                               int throw_completing = -1) {
  read_ahead_steps<item> steps;
  steps.take = [=](item* out) {
    if (*next == count) return false;
    if (*next == throw_at) throw std::bad_alloc();
    out->number = (*next)++;
    return true;
  };
  steps.complete = [=](item* out) {
    if (out->number == throw_completing) throw std::bad_alloc();
    // Later items finish sooner, so that they are ready out of order.
    if (out->number % 7 == 0) std::this_thread::yield();
    out->square = out->number * out->number;
  };
  steps.is_last = [=](const item& i) { return i.number == last; };
  steps.lost = [](item* out) { out->lost = true; };
  return steps;
}

std::vector<item> drain(ordered_read_ahead<item>& reader) {
  std::vector<item> items;
  item i;
  while (reader.next(&i)) items.push_back(i);
  return items;
}

TEST(OrderedReadAheadTest, ItemsComeOutInOrderWithAndWithoutThreads) {
  for (unsigned threads : {0u, 1u, 4u}) {
    SCOPED_TRACE(threads);
    int next = 0;
    ordered_read_ahead<item> reader(numbers(&next, 1000), threads, 8);
    std::vector<item> items = drain(reader);
    ASSERT_EQ(items.size(), 1000u);
    for (int n = 0; n < 1000; ++n) {
      EXPECT_EQ(items[n].number, n);
      EXPECT_EQ(items[n].square, n * n);
    }
  }
}

TEST(OrderedReadAheadTest, ALastItemEndsTheReading) {
  for (unsigned threads : {0u, 4u}) {
    int next = 0;
    ordered_read_ahead<item> reader(numbers(&next, 1000, 300), threads, 8);
    std::vector<item> items = drain(reader);
    ASSERT_EQ(items.size(), 301u) << threads;
    EXPECT_EQ(items.back().number, 300);
  }
}

TEST(OrderedReadAheadTest, MemoryRunningOutEndsWithALostItem) {
  // Taking item 500 fails; then completing item 200 fails: the earlier wins.
  for (int throw_completing : {-1, 200}) {
    int next = 0;
    ordered_read_ahead<item> reader(numbers(&next, 1000, -1, 500, throw_completing), 4, 8);
    std::vector<item> items = drain(reader);
    const std::size_t lost_at = throw_completing < 0 ? 500 : 200;
    ASSERT_EQ(items.size(), lost_at + 1);
    for (std::size_t n = 0; n < lost_at; ++n) ASSERT_FALSE(items[n].lost);
    EXPECT_TRUE(items.back().lost);
  }
}

TEST(OrderedReadAheadTest, DestroyingItEarlyStopsTheThreads) {
  int next = 0;
  ordered_read_ahead<item> reader(numbers(&next, 1000000), 4, 8);
  item first;
  ASSERT_TRUE(reader.next(&first));
  EXPECT_EQ(first.number, 0);
}

}  // namespace
}  // namespace scanner
}  // namespace tarn
