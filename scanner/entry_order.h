// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The order in which post-processing sorts the entries of a collect file.
#ifndef TARN_SCANNER_ENTRY_ORDER_H_
#define TARN_SCANNER_ENTRY_ORDER_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {
namespace scanner {

// Byte order of the entries' applications (the text before the first "/",
// or the whole entry), then byte order of the entries. That is plain byte
// order except that the entries of one application stay together: in byte
// order "app 3/x" lies between "app" and "app/y", which would give the
// application "app" two list files under one name.
//
// Sorting a million entries calls this some twenty million times, so it
// walks the common prefix once instead of cutting out both applications:
// where the entries first differ, a "/" already passed means one application,
// and otherwise the entry whose application ends there comes first.
inline bool application_order(const std::string& a, const std::string& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(a.data());
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(b.data());
  std::size_t i = 0;
  while (i < n && pa[i] == pb[i]) {
    if (pa[i] == '/') {  // one application: plain order of the rest
      return std::string_view(a).substr(i + 1) < std::string_view(b).substr(i + 1);
    }
    ++i;
  }
  if (i == n) return a.size() < b.size();
  if (pa[i] == '/') return true;
  if (pb[i] == '/') return false;
  return pa[i] < pb[i];
}

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_ENTRY_ORDER_H_
