// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorting the entries of a collect file.
#include "scanner/stages/entry_order.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

#include "scanner/run/parallel_for.h"

namespace tarn {
namespace scanner {
namespace {

// Below this many entries a second thread costs more than it saves.
constexpr std::size_t kTwoThreadMinimum = 1 << 15;

using entry_iterator = std::vector<std::string>::iterator;

bool two_cores() { return std::thread::hardware_concurrency() >= 2; }

// Byte order of [first, last): two halves sorted, on two threads where one
// can be had, and merged, when the range is large and `split` allows it.
void sort_range(entry_iterator first, entry_iterator last, bool split) {
  if (!split || static_cast<std::size_t>(last - first) < kTwoThreadMinimum || !two_cores()) {
    std::sort(first, last);
    return;
  }
  const entry_iterator middle = first + (last - first) / 2;
  parallel_for(2, 2, thread_shortage::fewer_threads, [&](std::size_t half) {
    if (half == 0) {
      std::sort(first, middle);
    } else {
      std::sort(middle, last);
    }
    return true;
  });
  // Equal entries are equal strings, so the merged order is the one a single
  // sort gives.
  std::inplace_merge(first, middle, last);
}

std::string_view application_of(const std::string& entry) {
  return std::string_view(entry).substr(0, entry.find('/'));
}

// Each application's entries in byte order: those of one application make
// one range, [begin[r], begin[r + 1]), and ranges are shared out between two
// threads at the application nearest to half of the entries. An application
// of more than half of them is sorted on both threads by itself.
void sort_applications(std::vector<std::string>& entries, const std::vector<std::size_t>& begin) {
  const std::size_t n = entries.size();
  const std::size_t ranks = begin.size() - 1;
  auto sort_ranks = [&entries, &begin](std::size_t from, std::size_t to, bool split) {
    for (std::size_t r = from; r < to; ++r) {
      sort_range(entries.begin() + static_cast<std::ptrdiff_t>(begin[r]),
                 entries.begin() + static_cast<std::ptrdiff_t>(begin[r + 1]), split);
    }
  };
  std::size_t largest = 0;
  for (std::size_t r = 0; r < ranks; ++r) largest = std::max(largest, begin[r + 1] - begin[r]);
  if (n < kTwoThreadMinimum || largest > n / 2 || !two_cores()) {
    sort_ranks(0, ranks, true);
    return;
  }
  const std::size_t split = static_cast<std::size_t>(
      std::lower_bound(begin.begin(), begin.end(), n / 2) - begin.begin());
  parallel_for(2, 2, thread_shortage::fewer_threads, [&](std::size_t part) {
    if (part == 0) {
      sort_ranks(0, split, false);
    } else {
      sort_ranks(split, ranks, false);
    }
    return true;
  });
}

// Sorting a million scattered strings at once misses the caches on nearly
// every comparison. The entries are dealt out to their applications first
// (in one pass, by a hash of the application), the applications are put in
// order, and each application's entries, far fewer and all close together
// once touched, are sorted on their own.
void sort_by_application(std::vector<std::string>& entries) {
  const std::size_t n = entries.size();
  if (n > UINT32_MAX) throw std::bad_alloc();  // group numbers are 32 bits

  // The application of every entry, as a number in order of appearance.
  std::vector<std::uint32_t> group(n);
  std::vector<std::string_view> applications;
  {
    std::unordered_map<std::string_view, std::uint32_t> numbers;
    for (std::size_t i = 0; i < n; ++i) {
      auto found = numbers.emplace(application_of(entries[i]),
                                   static_cast<std::uint32_t>(applications.size()));
      if (found.second) applications.push_back(found.first->first);
      group[i] = found.first->second;
    }
  }
  // Applications in byte order; then where each one's entries begin.
  std::vector<std::uint32_t> order(applications.size());
  for (std::uint32_t a = 0; a < order.size(); ++a) order[a] = a;
  std::sort(order.begin(), order.end(),
            [&](std::uint32_t x, std::uint32_t y) { return applications[x] < applications[y]; });
  std::vector<std::size_t> begin(applications.size() + 1, 0);
  {
    std::vector<std::size_t> sizes(applications.size(), 0);
    for (std::uint32_t g : group) ++sizes[g];
    std::vector<std::size_t> rank(applications.size());
    for (std::size_t r = 0; r < order.size(); ++r) rank[order[r]] = r;
    for (std::size_t r = 0; r < order.size(); ++r) begin[r + 1] = begin[r] + sizes[order[r]];
    // From here `group` holds the rank of each entry's application.
    for (std::uint32_t& g : group) g = static_cast<std::uint32_t>(rank[g]);
  }
  applications.clear();  // its views go with the moves below

  std::vector<std::string> sorted(n);
  {
    std::vector<std::size_t> next(begin.begin(), begin.end() - 1);
    for (std::size_t i = 0; i < n; ++i) sorted[next[group[i]]++] = std::move(entries[i]);
  }
  entries.swap(sorted);
  sort_applications(entries, begin);
}
}  // namespace

void sort_entries(std::vector<std::string>& entries) {
  const std::size_t n = entries.size();
  if (n < 2) return;
  try {
    sort_by_application(entries);
  } catch (const std::bad_alloc&) {
    // The dealing out needs memory in proportion to the list; it has moved
    // nothing before its last allocation, so one sort of the whole list in
    // place can still be done.
    std::sort(entries.begin(), entries.end(), application_order);
  }
}

}  // namespace scanner
}  // namespace tarn
