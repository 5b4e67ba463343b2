// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What the last run of a scanner did: kept by the scanner, read by the host
// through scanner::last_report().
#ifndef TARN_SCANNER_SCAN_REPORT_H_
#define TARN_SCANNER_SCAN_REPORT_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "core/tarn_export.h"

namespace tarn {
namespace scanner {

// One list the run wrote into the volume.
struct scan_report_list {
  std::string path;         // in the volume: ".tarn/working/scanner/<dir>/<name>"
  std::string application;  // the directory <dir> below ".tarn/working/scanner"
  uint64_t entries = 0;     // lines this run added
  bool appended = false;    // added to a list that was there before the run
  int64_t offset = 0;       // the lines added are the bytes [offset, end)
  int64_t end = 0;
};

// A replica set of the volume (a brick of its own on a volume that does
// not replicate), as `gluster volume info` lists its bricks.
struct scan_report_replica_set {
  std::vector<std::string> bricks;  // "host:/path"
  // A brick of the set lies on this node, so the change-log journals that a
  // restart hides from glusterfind could be looked for on it. Where none
  // does, such a journal of the set cannot be read from here.
  bool on_this_node = false;
};

struct scan_report {
  // The run, from initiate_scan's start to its return.
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point finished;
  std::string session;
  bool full = false;            // the glusterfind pass was a full one
  bool became_full = false;     // asked for incremental, ran full: journals it could not read
                                // (see recovered_journals), or a change log whose history
                                // does not reach back to the last pass (see warnings)
  std::error_code result;       // what initiate_scan returned
  std::string failure;          // the step that failed, empty on success
  // What the failed step could not do, where it knows: the file or
  // directory (a local path, or one in the volume) with the errno text of
  // the call that failed on it, or the command line it ran with the
  // command's status ("exit status 1", "killed by signal 9", "could not be
  // run: <errno text>"). The first failure of the step; empty on success.
  std::string failed_path;
  std::string failed_command;
  std::string failure_cause;

  // Why the lock file could not be created, when it could not (EEXIST: it
  // exists; ETIMEDOUT: the create did not return in time; others: the
  // volume cannot be reached or written).
  std::error_code lock_error;

  // The mount: checked before the lock is taken.
  bool mount_checked = false;   // it is this volume's mount (or the local directory)
  bool aux_gfid_mount = false;  // it answers below ".gfid" (-o aux-gfid-mount)

  // Journals an incremental pass of glusterfind does not read, which the
  // run read itself (or, with became_full, could not read), and the changes
  // they added to the pass's list.
  std::vector<std::string> recovered_journals;
  uint64_t recovered_changes = 0;
  // The volume's replica sets, for an incremental pass (see above).
  std::vector<scan_report_replica_set> replica_sets;
  // The bricks ("host:/path") whose part of a failed glusterfind pass
  // failed, as glusterfind's log names them: a node that could not be
  // reached, say. The run failed; no change is lost, as the next pass that
  // reaches them lists what changed meanwhile.
  std::vector<std::string> failed_bricks;

  // Every list written into the volume, in the order they were copied.
  std::vector<scan_report_list> lists;
  uint64_t total_entries = 0;   // lines added to lists
  uint64_t piece_lines = 0;     // of them, ".shard/..." pieces
  uint64_t path_lines = 0;      // of them, paths of an application's entries

  // How listed files met the owners of changed pieces: by the owners' paths,
  // each owner looked up through ".gfid" (owners_looked_up), or by reading
  // every listed file's gfid.
  bool linked_by_owner_paths = false;
  uint64_t owners_looked_up = 0;

  // Changed pieces in no list, by reason.
  uint64_t dropped_owner_gone = 0;      // owner removed since the change: nothing to back up
  uint64_t dropped_no_aux_gfid = 0;     // owner unknown: the mount lacks -o aux-gfid-mount
  uint64_t dropped_owner_excluded = 0;  // every path of the owner is excluded
  uint64_t dropped_owner_unreadable = 0;  // the owner's paths could not be read (EPERM, ...)
  // Entries of an incremental list looked up on the volume, and those whose
  // names glusterfind garbled: joined again at commas, decoded back to their
  // bytes, or beyond repair (dropped; a full scan lists them).
  uint64_t names_checked = 0;
  uint64_t names_joined = 0;
  uint64_t names_decoded = 0;
  uint64_t names_unrepaired = 0;
  uint64_t names_line_feed = 0;  // names holding a line feed, which no list can hold (dropped)
  // Where names were beyond repair, the changes of the pass were read from
  // this node's bricks (a brick of every replica set), and names_from_bricks
  // entries that the list did not hold were added to it: nothing is missing.
  bool names_read_from_bricks = false;
  uint64_t names_from_bricks = 0;
  // Listed entries whose gfid could not be read for a reason of their own
  // (EPERM, EACCES, ELOOP, ENAMETOOLONG): the pieces they might own were
  // looked up by their owners instead.
  uint64_t unreadable_entries = 0;

  // The volume path of the run's manifest, empty when none was written.
  std::string manifest;
  // The lock file could not be removed: later runs of the session end with
  // 16 until it is.
  bool lock_left_behind = false;
  // Conditions a host should look at; each a sentence.
  std::vector<std::string> warnings;

  // True when the run succeeded but left something a host must act on:
  // pieces that could not be attributed, entries that could not be named,
  // the lock left behind, or a replica set whose hidden change-log journals
  // cannot be read from this node.
  bool needs_attention() const {
    return !result && (unattributed() != 0 || unnamed() != 0 || lock_left_behind ||
                       !sets_on_this_node());
  }
  // Changed entries left out of the lists under no name.
  uint64_t unnamed() const {
    return (names_read_from_bricks ? 0 : names_unrepaired) + names_line_feed;
  }
  // Changed pieces in no list that a backup may miss.
  uint64_t unattributed() const { return dropped_no_aux_gfid + dropped_owner_unreadable; }
  // Every replica set has a brick on this node (or none were looked at).
  bool sets_on_this_node() const {
    for (const scan_report_replica_set& set : replica_sets) {
      if (!set.on_this_node) return false;
    }
    return true;
  }
};

// The report as one JSON object (schema 1): every field above, with the
// times in UTC ("2026-12-08T23:59:59.123Z"). Strings are UTF-8: a path or
// name that is not valid UTF-8 shows its invalid bytes as U+FFFD and keeps
// its bytes in an extra field "<key>_hex" beside it (two lowercase hex
// digits a byte), as "path" and "path_hex". Each run's manifest in the
// volume is this object at the end of the run's copy.
TARN_EXPORT std::string report_json(const scan_report& report, const std::string& volume);

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_SCAN_REPORT_H_
