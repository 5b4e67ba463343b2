// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The session lock: an exclusively created, empty file in the volume's top
// directory whose existence is the lock.
#include <fcntl.h>

#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

boost::shared_ptr<tarn_file> scanner::acquire_lock(std::string session_name) {
  lock_path = volume_name + ".lock." + session_name;
  boost::shared_ptr<tarn_file> lock = api->open(iopx, lock_path, O_CREAT | O_EXCL);
  if (!lock) {
    // The format runs the path straight into "on"; kept as operators know it.
    logger.error("scanner::acquire_lock", "Failed to create lock file %son volume %s",
                 lock_path.c_str(), volume_name.c_str());
    return boost::shared_ptr<tarn_file>();
  }
  return lock;
}

void scanner::release_lock(boost::shared_ptr<tarn_file> lock) {
  // Neither result is looked at: a lock file that cannot be removed blocks
  // later runs of the session, which then report it.
  if (lock) api->close(lock);
  api->unlink(iopx, lock_path);
}

}  // namespace scanner
}  // namespace tarn
