// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Sorting the entries of a collect file.
#include "scanner/entry_order.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace tarn {
namespace scanner {
namespace {

// Below this many entries a second thread costs more than it saves.
constexpr std::size_t kTwoThreadMinimum = 1 << 15;

}  // namespace

void sort_entries(std::vector<std::string>& entries) {
  if (entries.size() < kTwoThreadMinimum || std::thread::hardware_concurrency() < 2) {
    std::sort(entries.begin(), entries.end(), application_order);
    return;
  }
  const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
  std::thread helper;
  try {
    helper = std::thread([&entries, middle] {
      std::sort(entries.begin(), middle, application_order);
    });
  } catch (const std::exception&) {
    std::sort(entries.begin(), entries.end(), application_order);
    return;
  }
  std::sort(middle, entries.end(), application_order);
  helper.join();
  // Equal entries are equal strings, so the merged order is the one a single
  // sort gives.
  std::inplace_merge(entries.begin(), middle, entries.end(), application_order);
}

}  // namespace scanner
}  // namespace tarn
