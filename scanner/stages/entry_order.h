// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The order in which post-processing sorts the entries of a collect file.
#ifndef TARN_SCANNER_STAGES_ENTRY_ORDER_H_
#define TARN_SCANNER_STAGES_ENTRY_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tarn {
namespace scanner {

// Byte order of the entries' applications (the text before the first "/",
// or the whole entry), then byte order of the entries. That is plain byte
// order except that the entries of one application stay together: in byte
// order "app 3/x" lies between "app" and "app/y", which would give the
// application "app" two list files under one name.
//
// Sorting a million entries calls this some twenty million times, so it
// finds where the entries first differ, eight bytes at a time, instead of
// cutting out both applications: a "/" before that point means one
// application, and otherwise the entry whose application ends there comes
// first.
inline bool application_order(const std::string& a, const std::string& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t wa;
    std::uint64_t wb;
    std::memcpy(&wa, pa + i, 8);
    std::memcpy(&wb, pb + i, 8);
    if (wa != wb) break;
  }
  while (i < n && pa[i] == pb[i]) ++i;
  if (i == n) return a.size() < b.size();
  if (i > 0 && std::memchr(pa, '/', i) != nullptr) return pa[i] < pb[i];
  if (pa[i] == '/') return true;
  if (pb[i] == '/') return false;
  return pa[i] < pb[i];
}

// Sorts `entries` in application_order: dealt out by application, then each
// application's entries in byte order, on two threads for large lists where
// a thread can be had.
void sort_entries(std::vector<std::string>& entries);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_STAGES_ENTRY_ORDER_H_
