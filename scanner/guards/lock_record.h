// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The one line a run writes into the session's lock file, saying who holds
// the lock, and how to tell whether that holder is still alive.
#ifndef TARN_SCANNER_GUARDS_LOCK_RECORD_H_
#define TARN_SCANNER_GUARDS_LOCK_RECORD_H_

#include <cstdint>
#include <string>

#include "core/platform.h"
#include "core/tarn_export.h"

namespace tarn {
namespace scanner {

struct lock_holder {
  std::string host;          // host name of the holder's machine
  pid_t pid = 0;             // the holding process
  std::uint64_t start = 0;   // its start time, clock ticks after boot
  std::string started;       // UTC time the lock was taken, "2026-12-08T23:15:00Z"
  std::string version;       // the library's version
  std::string session;       // the session, the rest of the line
};

// "host=H pid=P start=T started=U version=V session=S\n".
std::string format_lock_record(const lock_holder& holder);
// Reads the first line of a lock file. False when it is no record (an empty
// lock file of an older version, or a damaged one). Exported for tarn-scan's
// check and status.
TARN_EXPORT bool parse_lock_record(const std::string& text, lock_holder* holder);

// This process, taking the lock of `session` now.
lock_holder this_process_as_holder(const std::string& session);

// True when the holder ran on this host and is gone: no process has its pid,
// or the one that has it started at another time. `*state` says so in words
// either way. Exported for tarn-scan's check and status.
TARN_EXPORT bool holder_is_gone(const lock_holder& holder, std::string* state);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_GUARDS_LOCK_RECORD_H_
