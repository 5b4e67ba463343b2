// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// UTC times as tarn-scan writes and reads them: in the session record, the
// lock record, the manifests' names and the metrics.
#ifndef TARN_TOOLS_TARN_SCAN_UTC_TIME_H_
#define TARN_TOOLS_TARN_SCAN_UTC_TIME_H_

#include <chrono>
#include <string>

namespace tarn_scan {

// Seconds since the Unix epoch, with the fraction.
double unix_seconds(std::chrono::system_clock::time_point t);

// "2026-12-08T23:59:59.123Z".
std::string format_utc(std::chrono::system_clock::time_point t);

// Reads "2026-12-08T23:59:59Z" or the compact "20261208T235959Z", either
// with a fraction of a second before the "Z", into seconds since the epoch.
// False for anything else.
bool parse_utc(const std::string& text, double* seconds);

// An age in words: "42 s", "17 min", "5 h 12 min", "3 d 4 h".
std::string format_age(double seconds);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_UTC_TIME_H_
