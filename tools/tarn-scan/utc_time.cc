// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "tools/tarn-scan/utc_time.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tarn_scan {

double unix_seconds(std::chrono::system_clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::string format_utc(std::chrono::system_clock::time_point t) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
  char out[48];
  std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(ms % 1000));
  return out;
}

bool parse_utc(const std::string& text, double* seconds) {
  std::tm parts{};
  int consumed = 0;
  const char* s = text.c_str();
  if (std::sscanf(s, "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 &&
      std::sscanf(s, "%4d%2d%2dT%2d%2d%2d%n", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                  &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6) {
    return false;
  }
  double fraction = 0;
  const char* rest = s + consumed;
  if (*rest == '.') {
    char* end = nullptr;
    fraction = std::strtod(rest, &end);
    rest = end;
  }
  if (rest[0] != 'Z' || rest[1] != '\0' || parts.tm_mon < 1 || parts.tm_mon > 12) return false;
  parts.tm_year -= 1900;
  parts.tm_mon -= 1;
  *seconds = static_cast<double>(timegm(&parts)) + fraction;
  return true;
}

std::string format_age(double seconds) {
  const long s = seconds < 0 ? 0 : static_cast<long>(seconds);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min";
  if (s < 2 * 86400) return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
  return std::to_string(s / 86400) + " d " + std::to_string(s % 86400 / 3600) + " h";
}

}  // namespace tarn_scan
