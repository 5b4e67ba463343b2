// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session lock: an exclusively created, empty file in the volume's top
// directory whose existence is the lock.
#include <cerrno>

#include "core/platform.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {
namespace {

constexpr char kAcquireLock[] = "scanner::acquire_lock";

// Says why the lock file could not be created, so that an operator can tell
// a running (or crashed) scan from a create that the volume left hanging.
void log_reason(const std::string& lock_path, const std::string& volume,
                const std::error_code& why) {
  if (why.value() == EEXIST) {
    scanner::logger.error(kAcquireLock,
                          "Lock file %s on volume %s exists: another scan of the session is "
                          "running, or a crashed one left it",
                          lock_path.c_str(), volume.c_str());
  } else if (why.value() == ETIMEDOUT) {
    scanner::logger.error(kAcquireLock,
                          "Creating lock file %s on volume %s did not finish within %d s and was "
                          "given up: another client holds it and the volume did not answer, or "
                          "the volume does not answer at all",
                          lock_path.c_str(), volume.c_str(), kExclusiveCreateTimeoutSeconds);
  } else {
    scanner::logger.error(kAcquireLock, "Creating lock file %s on volume %s failed: %s",
                          lock_path.c_str(), volume.c_str(), why.message().c_str());
  }
}

}  // namespace

boost::shared_ptr<tarn_file> scanner::acquire_lock(std::string session_name) {
  lock_path = volume_name + ".lock." + session_name;
  boost::shared_ptr<tarn_file> lock = api->open(iopx, lock_path, os::kOpenCreateExclusive);
  if (!lock) {
    // The format runs the path straight into "on"; kept as operators know it.
    logger.error(kAcquireLock, "Failed to create lock file %son volume %s", lock_path.c_str(),
                 volume_name.c_str());
    log_reason(lock_path, volume_name, api->last_error());
    return boost::shared_ptr<tarn_file>();
  }
  return lock;
}

void scanner::release_lock(boost::shared_ptr<tarn_file> lock) {
  // The lock is the file: a close that fails changes nothing about it.
  if (lock) api->close(lock);
  std::error_code ec = api->unlink(iopx, lock_path);
  if (!ec || ec.value() == ENOENT) return;
  logger.error("scanner::release_lock", "Failed to remove lock file %s: %s", lock_path.c_str(),
               ec.message().c_str());
  report_.lock_left_behind = true;
  report_.warnings.push_back("The lock file " + lock_path + " could not be removed (" +
                             ec.message() +
                             "): every later run of the session ends with 16 until it is");
}

}  // namespace scanner
}  // namespace tarn
