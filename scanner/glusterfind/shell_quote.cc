// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/glusterfind/shell_quote.h"

#include <cstring>

namespace tarn {
namespace scanner {
namespace {

bool is_plain(const std::string& value) {
  if (value.empty()) return false;
  for (unsigned char c : value) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && (c == 0 || std::strchr("._-/:@+=,", c) == nullptr)) return false;
  }
  return true;
}

}  // namespace

std::string shell_quote(const std::string& value) {
  if (is_plain(value)) return value;
  std::string quoted = "'";
  for (char c : value) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += "'";
  return quoted;
}

}  // namespace scanner
}  // namespace tarn
