// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// tarn-scan status: per session of a volume, who holds its lock, its last
// successful run, its last manifest, the lists waiting for the applications and the leftovers of
// failed runs. It takes no lock and writes nothing.
#ifndef TARN_TOOLS_TARN_SCAN_STATUS_H_
#define TARN_TOOLS_TARN_SCAN_STATUS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/tarn-scan/options.h"
#include "tools/tarn-scan/session_record.h"

namespace tarn_scan {

struct waiting_lists {
  std::string application;
  std::uint64_t files = 0;
  std::uint64_t entries = 0;  // lines (when counted)
  std::uint64_t bytes = 0;
};

struct session_status {
  std::string session;
  bool locked = false;
  bool holder_named = false;  // the lock file holds a record
  bool holder_gone = false;
  std::string holder;         // "host=H pid=P started=U version=V"
  std::string holder_state;   // in words
  std::size_t manifests = 0;  // manifests waiting for the consumer
  std::string last_manifest;  // volume path of the newest, empty when none
  std::string last_started, last_finished, last_scan_type;
  int last_result = 0;
  std::uint64_t last_entries = 0;
  std::vector<waiting_lists> lists;    // by application name
  std::vector<std::string> leftovers;  // directories, oldest first
  bool succeeded_once = false;         // the volume's record of its last success
  last_success last_ok;
  double oldest_manifest = 0;          // start of the oldest waiting run; 0: none
  double lock_started = 0;             // when the held lock was taken; 0: unknown
};

// The sessions of o.volume (only o.session when given), by name. Without
// `count_entries` the lines of the lists are not counted (only files and
// bytes), which spares reading them all.
std::vector<session_status> collect_status(const options& o, bool count_entries = true);

std::string format_status_text(const std::vector<session_status>& sessions, const options& o);
std::string format_status_json(const std::vector<session_status>& sessions, const options& o);

// tarn-scan status: prints the sessions; 0.
int status(const options& o);

}  // namespace tarn_scan

#endif  // TARN_TOOLS_TARN_SCAN_STATUS_H_
