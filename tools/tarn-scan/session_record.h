// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The last successful run of each session, kept in the volume so that every
// node that runs or inspects the session sees the same:
// ".tarn/working/sessions/<session>.json". tarn-scan writes it after a run
// that filed its lists (and, when asked, posted); status and the metrics
// read it. The library's filter never lists ".tarn", so writing it is no
// change that a scan reports.
#ifndef TARN_TOOLS_TARN_SCAN_SESSION_RECORD_H_
#define TARN_TOOLS_TARN_SCAN_SESSION_RECORD_H_

#include <string>
#include <system_error>

namespace tarn_scan {

struct last_success {
  std::string started;    // UTC, "2026-12-08T01:30:00.123Z"
  std::string finished;
  std::string scan_type;  // "full" or "incremental"
  std::string host;       // the node that ran it
  int exit_status = 0;    // 0, or 3 when it needed attention
};

// The record's path below the volume's top directory `top`.
std::string session_record_path(const std::string& top, const std::string& session);

// Writes the record whole (a temporary name renamed over the old one),
// making its directory when missing.
std::error_code write_last_success(const std::string& top, const std::string& session,
                                   const last_success& record);

// Reads the record; false when there is none or it cannot be read.
bool read_last_success(const std::string& top, const std::string& session, last_success* record);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_SESSION_RECORD_H_
