// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session lock: an exclusively created file in the volume's top
// directory whose existence is the lock. Its one line says who holds it
// (scanner/guards/lock_record.h); an empty one, as older versions leave, is a lock
// all the same.

#include <cerrno>
#include <cstring>

#include "core/platform.h"
#include "scanner/guards/lock_record.h"
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

// Writes the holder's record into the lock file just created. The handle of
// the exclusive create may not take writes (on GlusterFS it stands for a
// file a helper process made), so the record goes through a second open.
std::error_code write_record(tarn_api& api, const boost::shared_ptr<tarn_iopx>& iopx,
                             const std::string& path, const std::string& record) {
  boost::shared_ptr<tarn_file> file = api.open(iopx, path, os::kOpenCreateForWrite);
  if (!file) return api.last_error();
  boost::shared_ptr<tarn_mem::buff> buf = api.alloc_io_buffer(record.size() + 1);
  std::error_code ec = os::no_error();
  if (!buf) {
    ec = os::error_from(ENOMEM);
  } else {
    std::memcpy(buf->get_base(), record.data(), record.size());
    int64_t written = api.write(file, buf, record.size(), 0, 0);
    if (written < 0) {
      ec = os::error_from(written >= -4095 ? static_cast<int>(-written) : EIO);
    } else if (static_cast<uint64_t>(written) != record.size()) {
      ec = os::error_from(EIO);
    }
  }
  std::error_code closed = api.close(file);
  return ec ? ec : os::as_result(closed);
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
    report_.lock_error = api->last_error() ? api->last_error() : os::error_from(EIO);
    return boost::shared_ptr<tarn_file>();
  }
  // The lock is taken; a record that cannot be written only leaves it
  // anonymous, as an older version's.
  lock_holder me = this_process_as_holder(session_name);
  if (std::error_code ec = write_record(*api, iopx, lock_path, format_lock_record(me))) {
    logger.error(kAcquireLock,
                 "Could not write the holder's record into lock file %s on volume %s (%s); the "
                 "lock holds without it",
                 lock_path.c_str(), volume_name.c_str(), ec.message().c_str());
  }
  return lock;
}

std::error_code scanner::remove_stale_lock(std::string session_name, bool force,
                                           std::string* why) {
  static const char* const kFn = "scanner::remove_stale_lock";
  const std::string path = volume_name + ".lock." + session_name;
  const std::string named = "lock file " + path + " on volume " + volume_name;
  std::string text;
  std::error_code ec = api->read_file(iopx, path, 4096, &text);
  if (ec.value() == ENOENT) {
    *why = "there is no " + named;
    return ec;
  }
  if (ec && ec.value() != EFBIG) {
    *why = "cannot read " + named + ": " + ec.message();
    return ec;
  }
  lock_holder holder;
  std::string state;
  bool stale = false;
  if (parse_lock_record(text, &holder)) {
    stale = holder_is_gone(holder, &state);
  } else {
    state = "it names no holder (an older version made it, or its record could not be written), "
            "so whether its run is alive cannot be told";
  }
  if (!stale && !force) {
    *why = "not removing " + named + ": " + state;
    return os::error_from(EBUSY);
  }
  if ((ec = api->unlink(iopx, path))) {
    *why = "cannot remove " + named + ": " + ec.message();
    return ec;
  }
  *why = std::string(stale ? "removed " : "removed, as forced, ") + named + ": " + state;
  logger.error(kFn, "%s %s: %s", stale ? "Removed" : "Removed, as forced,", named.c_str(),
               state.c_str());
  return os::no_error();
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
