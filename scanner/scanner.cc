// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The scanner object and one scan run, in the order of its steps.
#include "scanner/scanner.h"

#include <cerrno>
#include <cstdlib>

#include "scanner/changelog_tail.h"
#include "scanner/leftovers.h"
#include "scanner/os.h"
#include "scanner/paths.h"

namespace tarn {

const std::error_code success(0, std::generic_category());
const std::error_condition ok;

namespace scanner {
namespace {

// Looks for changes that the incremental pass of `session` would miss (a
// brick restart, a full pass just before). False when the pass must be a full one to miss nothing; else
// `tail->lines` holds the changes to add to its list.
bool incremental_is_complete(const std::string& volume, const std::string& session,
                             lost_tail* tail) {
  tail_probe probe;
  probe.volume = volume;
  probe.session = session;
  if (const char* dir = std::getenv("TARN_GLUSTERFIND_DIR")) probe.state_dir = dir;
  *tail = find_lost_tail(probe);
  if (tail->journals.empty()) return true;
  std::string names;
  for (const std::string& journal : tail->journals) names += (names.empty() ? "" : ", ") + journal;
  if (!tail->failure.empty()) {
    scanner::logger.error("scanner::initiate_scan",
                          "Found change-log journals that the incremental pass does not read "
                          "(%s); running a full pass instead, since %s",
                          names.c_str(), tail->failure.c_str());
    return false;
  }
  scanner::logger.error("scanner::initiate_scan",
                        "Found change-log journals that the incremental pass does not read "
                        "(%s); adding the %zu changes they hold to it",
                        names.c_str(), tail->lines.size());
  return true;
}

}  // namespace

tarn_debug scanner::logger;

scanner::scanner(std::string volume_name, std::string output_dir, std::string mount_path)
    : scan_type(scan_full),
      volume_name(std::move(volume_name)),
      output_dir(std::move(output_dir)),
      mount_path(std::move(mount_path)),
      api(nullptr) {
  iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = this->volume_name;
  api = new tarn_api;
  // Not tested here: an unreachable volume shows when the lock file cannot
  // be created.
  iopx = api->init(cfg);
  lock_file.reset();
}

scanner::~scanner() {
  for (auto& entry : sessions) delete entry.second;
  // Handles made by the api go before it.
  lock_file.reset();
  iopx.reset();
  delete api;
}

void scanner::set_scan_type(scantype type) { scan_type = type; }

std::error_code scanner::initiate_scan(std::string session_name) {
  static const char* const kFn = "scanner::initiate_scan";
  const std::error_code efault(EFAULT, std::generic_category());

  if (session_name.empty()) {
    logger.error(kFn, "Session name is empty, Please provide a valid session name");
    return efault;
  }
  if (output_dir.empty()) {
    logger.error(kFn, "Failed to find volume path");
    return efault;
  }

  if (lock_file) {
    logger.error(kFn, "Lock is already being held for session %s", session_name.c_str());
  } else {
    logger.error(kFn, "Trying to acquire lock for session %s", session_name.c_str());
    lock_file = acquire_lock(session_name);
    if (!lock_file) {
      logger.error(kFn, "Failed to acquire lock for session %s", session_name.c_str());
      return std::error_code(EBUSY, std::generic_category());
    }
  }
  // Every exit from here on releases the lock. The handle is dropped with
  // it, so the next run takes a lock of its own and never closes it twice.
  auto release = [this] {
    release_lock(lock_file);
    lock_file.reset();
  };

  session* sess = get_sessionobj(session_name);
  if (sess == nullptr) {
    logger.error(kFn, "Failed to initiate session object for session %s ", session_name.c_str());
    release();
    return efault;
  }

  // Whatever output_dir holds now was left by a run that failed or was
  // killed: lists cut short, lists of files rather than pieces, files already
  // (partly) copied. The copy step files everything in output_dir into the
  // volume, so they are moved out of its way, never taken for results.
  std::string set_aside;
  std::size_t moved = 0;
  if (std::error_code ec = set_aside_leftovers(output_dir, &set_aside, &moved)) {
    logger.error(kFn, "Failed to move the files left in %s by an earlier run: %s",
                 output_dir.c_str(), ec.message().c_str());
    release();
    return efault;
  }
  if (moved > 0) {
    logger.error(kFn, "Moved %zu files left in %s by an earlier run to %s", moved,
                 output_dir.c_str(), set_aside.c_str());
  }

  // Not tested: a volume where it cannot be made fails at the copy step.
  create_recursive_directory(kWorkingDirectory);
  sess->insert_to_excludelist(kWorkingDirectory);
  sess->insert_to_excludelist(lock_path);

  std::string prefix = "full";
  std::string scan_output;
  sess->get_outputfilepath(prefix, "", scan_output);
  lost_tail tail;
  bool full = scan_type != scan_incremental;
  if (!full) full = !incremental_is_complete(volume_name, session_name, &tail);
  int status = full ? sess->full_scan(scan_output) : sess->incremental_scan(scan_output);
  if (status == 0 && !tail.lines.empty()) {
    if (std::error_code ec = add_to_change_list(scan_output, tail.lines)) {
      logger.error(kFn, "Failed to add the changes of the hidden journals to %s: %s",
                   scan_output.c_str(), ec.message().c_str());
      status = -1;
    }
  }
  if (status != 0) {
    if (full) {
      logger.error(kFn, "Failed to perform full scan for session %s on volume %s",
                   session_name.c_str(), volume_name.c_str());
    } else {
      logger.error(kFn, "Failed to perform incr scan for session %s on volume %s",
                   session_name.c_str(), volume_name.c_str());
    }
    release();
    return efault;
  }

  prefix = "filteredfile";
  std::string filtered;
  sess->get_outputfilepath(prefix, "", filtered);
  sess->insert_to_excludelist(filtered);

  unsigned long count = 0;
  std::string collect_file;
  std::error_code filtered_ec = sess->filter_new_and_modified(scan_output, filtered, count);
  // The change list has served its purpose whatever the filter made of it.
  os::remove_file(scan_output);

  if (filtered_ec == success) {
    prefix = "processed";
    sess->get_collectfilename(prefix, count, collect_file);
    sess->insert_to_excludelist(collect_file);
    if (std::error_code ec = os::rename_file(filtered, collect_file)) {
      logger.error(kFn, "Failed to rename the generated file %s to %s", filtered.c_str(),
                   collect_file.c_str());
      release();
      return ec;
    }
    sess->savefilename(collect_file);  // a bookkeeping record; the run does not depend on it
  }

  // After a failed filter the empty collect-file path makes this step fail.
  if (sess->process_filtered_files(collect_file) != success) {
    logger.error(kFn, "Failed to split processed collect files");
    release();
    return efault;
  }

  if (copy_files_to_gluster() != success) {
    logger.error(kFn, "Failed to copy collect files into gluster volume");
    release();
    return efault;
  }

  // Not tested: a directory that still holds an entry stays.
  os::remove_directory(output_dir);
  release();
  return success;
}

session* scanner::get_sessionobj(std::string session_name) {
  auto found = sessions.find(session_name);
  if (found != sessions.end()) return found->second;

  session* sess = new session(session_name, volume_name, output_dir, mount_path);
  if (sess->session_exists() != 0 && sess->create_session() != 0) {
    delete sess;
    return nullptr;
  }
  sessions.emplace(session_name, sess);
  return sess;
}

}  // namespace scanner
}  // namespace tarn
