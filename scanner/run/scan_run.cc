// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The steps of one scan run, each with the message that says it failed.
#include "scanner/run/scan_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "core/platform.h"
#include "scanner/glusterfind/changelog_tail.h"
#include "scanner/glusterfind/commands.h"
#include "scanner/glusterfind/log.h"
#include "scanner/glusterfind/name_repair.h"
#include "scanner/guards/mount_check.h"
#include "scanner/guards/output_dir.h"
#include "scanner/run/failure_note.h"
#include "scanner/run/run_manifest.h"
#include "scanner/run/volume_layout.h"
#include "scanner/stages/copy.h"
#include "scanner/stages/list_file.h"
#include "scanner/stages/sorted_runs.h"

namespace tarn {
namespace scanner {
namespace {

const char* const kFn = "scanner::initiate_scan";

std::error_code efault() { return std::error_code(EFAULT, std::generic_category()); }

}  // namespace

std::error_code scan_run::check_inputs() {
  if (session_name_.empty()) {
    scanner::logger.error(kFn, "Session name is empty, Please provide a valid session name");
    return efault();
  }
  if (parts_.output_dir.empty()) {
    scanner::logger.error(kFn, "Failed to find volume path");
    return efault();
  }
  return success;
}

// Every gfid read of the run goes through the mount: a path that is not
// this volume's mount would make each read fail and each piece vanish.
std::error_code scan_run::check_mount() {
  const std::string& mount = parts_.mount_path;
  std::string found;
  if (std::error_code ec = ::tarn::scanner::check_mount(mount, parts_.volume_name, &found)) {
    if (ec.value() == EINVAL) {
      scanner::logger.error(kFn, "%s is not a mount of volume %s: %s", mount.c_str(),
                            parts_.volume_name.c_str(), found.c_str());
    } else {
      scanner::logger.error(kFn, "Failed to check the mount %s of volume %s: %s", mount.c_str(),
                            parts_.volume_name.c_str(), found.c_str());
    }
    note_failure(&parts_.report, mount, ec);
    parts_.report.failure_cause =
        (ec.value() == EINVAL ? "not a mount of volume " + parts_.volume_name + ": " : "") + found;
    return ec;
  }
  scan_report& report = parts_.report;
  report.mount_checked = true;
  bool directory = false;
  report.aux_gfid_mount = !os::stat_path(mount + "/.gfid", &directory) && directory;
  return success;
}

void scan_run::tally() {
  scan_report& report = parts_.report;
  report.full = report.full || state_.full;
  report.total_entries = 0;
  for (const scan_report_list& list : report.lists) report.total_entries += list.entries;
  // What an earlier run linked is not this run's.
  if (state_.sess == nullptr || !state_.linked) return;
  const link_counts& counts = state_.sess->last_link_counts();
  report.path_lines = counts.path_lines;
  report.piece_lines = report.total_entries - std::min(counts.path_lines, report.total_entries);
  report.dropped_owner_gone = counts.dropped_owner_gone;
  report.dropped_no_aux_gfid = counts.dropped_no_aux_gfid;
  report.dropped_owner_excluded = counts.dropped_owner_excluded;
  report.dropped_owner_unreadable = counts.dropped_owner_unreadable;
  report.unreadable_entries = counts.unreadable_entries;
  report.linked_by_owner_paths = counts.linked_by_paths;
  report.owners_looked_up = counts.owners_looked_up;
}

void scan_run::report_counts() {
  tally();
  scan_report& report = parts_.report;
  if (report.dropped_no_aux_gfid != 0) {
    report.warnings.push_back(std::to_string(report.dropped_no_aux_gfid) +
                              " changed pieces could not be attributed: " + parts_.mount_path +
                              " is not mounted with -o aux-gfid-mount");
  }
  if (report.dropped_owner_unreadable != 0) {
    report.warnings.push_back(std::to_string(report.dropped_owner_unreadable) +
                              " changed pieces could not be attributed: their files' paths "
                              "could not be read (the first: " +
                              state_.sess->last_link_counts().owner_unreadable_example + ")");
  }
}

std::error_code scan_run::take_lock() {
  if (parts_.lock_file) {
    scanner::logger.error(kFn, "Lock is already being held for session %s", session_name_.c_str());
    return success;
  }
  scanner::logger.error(kFn, "Trying to acquire lock for session %s", session_name_.c_str());
  parts_.lock_file = parts_.owner.acquire_lock(session_name_);
  if (!parts_.lock_file) {
    scanner::logger.error(kFn, "Failed to acquire lock for session %s", session_name_.c_str());
    const std::error_code why = parts_.report.lock_error;
    note_failure(&parts_.report, parts_.lock_path, why ? why : os::error_from(EIO));
    return std::error_code(EBUSY, std::generic_category());
  }
  return success;
}

// The handle goes with the lock, so the next run takes a lock of its own and
// never closes this one twice.
void scan_run::release_lock() {
  parts_.owner.release_lock(parts_.lock_file);
  parts_.lock_file.reset();
}

std::error_code scan_run::find_session() {
  int status = 0;
  state_.sess = find_or_make_session(parts_, session_name_, &status);
  if (state_.sess == nullptr) {
    note_command_failure(&parts_.report,
                         without_redirection(create_session_line(session_name_, parts_.volume_name)),
                         command_status_text(status, os::last_error()));
    scanner::logger.error(kFn, "Failed to initiate session object for session %s ",
                          session_name_.c_str());
    return efault();
  }
  return success;
}

// The output directory must be the library's own before anything is
// written there or filed from it: a directory holding a user's files, or the
// volume's mount, is refused, so that a run never moves, files or deletes
// files it did not make. Whatever a claimed directory holds now was left by a
// run that failed or was killed: lists cut short, lists of files rather than
// pieces, files already (partly) copied. They are set aside, so that the
// directory holds this run's files only and goes when the run is done.
std::error_code scan_run::claim_output_dir() {
  const std::string& output_dir = parts_.output_dir;
  std::string why;
  if (std::error_code ec = ::tarn::scanner::claim_output_dir(output_dir, parts_.mount_path, &why)) {
    scanner::logger.error(kFn, "Refusing to run session %s: %s", session_name_.c_str(),
                          why.c_str());
    note_failure(&parts_.report, output_dir, ec);
    parts_.report.failure_cause = why;
    return ec;
  }
  leftovers_moved moved;
  std::error_code ec = set_aside_leftovers(output_dir, session_name_, &moved);
  // A copy that was killed may have left its new list half-written under
  // the temporary name; it is the library's own, and goes.
  for (const std::string& name : moved.names) {
    if (is_sort_run_name(name, session_name_)) continue;  // never copied
    parts_.api.unlink(parts_.iopx, partial_copy_name(std::string(kWorkingDirectory) + "/" +
                                                      filing_prefix(name) + "/" + name));
  }
  if (ec) {
    scanner::logger.error(kFn, "Failed to move the files left in %s by an earlier run: %s",
                          output_dir.c_str(), ec.message().c_str());
    note_failure(&parts_.report, output_dir, ec);
    return efault();
  }
  if (moved.sort_runs_removed > 0) {
    scanner::logger.error(kFn, "Removed %zu sort run files left in %s by an earlier run",
                          moved.sort_runs_removed, output_dir.c_str());
  }
  if (moved.files > 0) {
    scanner::logger.error(kFn, "Moved %zu files left in %s by an earlier run to %s", moved.files,
                          output_dir.c_str(), moved.to.c_str());
  }
  for (const std::string& old : moved.pruned) {
    scanner::logger.error(kFn, "Removed %s, files an earlier run left, keeping the newest %zu such sets of session %s",
                          old.c_str(), kKeptLeftoverSets, session_name_.c_str());
  }
  return success;
}

std::error_code scan_run::make_working_directory() {
  if (std::error_code ec = parts_.owner.create_recursive_directory(kWorkingDirectory)) {
    scanner::logger.error(kFn, "Failed to make %s in volume %s: %s", kWorkingDirectory,
                          parts_.volume_name.c_str(), ec.message().c_str());
    note_failure(&parts_.report, kWorkingDirectory, ec);
    return efault();
  }
  state_.sess->insert_to_excludelist(kWorkingDirectory);
  state_.sess->insert_to_excludelist(parts_.lock_path);
  // The lock files of the volume's other sessions are the library's too: a
  // pass may see one that a run of another session held meanwhile.
  state_.sess->insert_to_excludelist(parts_.volume_name + ".lock.");
  return success;
}

// The changes an incremental pass of glusterfind would miss: journals that a
// brick restart left out of the change-log index, or that the pass takes for
// read after a full pass. Their changes join the pass's list; when they
// cannot be read, the pass is a full one.
std::error_code scan_run::find_unread_changes() {
  state_.full = parts_.scan_type != scanner::scan_incremental;
  if (state_.full) return success;
  tail_probe probe;
  probe.volume = parts_.volume_name;
  probe.session = session_name_;
  probe.state_dir = glusterfind_state_dir();
  lost_tail tail = find_lost_tail(probe);
  state_.local_bricks = tail.local_bricks;
  scan_report& report = parts_.report;
  report_replica_sets(tail);
  // Read by this pass, whether it adds their changes or runs full: once its
  // post has succeeded, no later pass reads them again.
  if (std::error_code ec = note_recovered(probe, tail.journals)) {
    scanner::logger.error(kFn, "Failed to record the journals this pass reads itself: %s; a "
                          "later pass may list their changes again", ec.message().c_str());
  }
  if (full_for_lost_history(probe)) return success;
  if (tail.journals.empty()) return success;
  report.recovered_journals = tail.journals;
  std::string names;
  for (const std::string& journal : tail.journals) names += (names.empty() ? "" : ", ") + journal;
  if (!tail.failure.empty()) {
    scanner::logger.error(kFn,
                          "Found change-log journals that the incremental pass does not read "
                          "(%s); running a full pass instead, since %s",
                          names.c_str(), tail.failure.c_str());
    state_.full = true;
    report.became_full = true;
    report.warnings.push_back("Change-log journals that the incremental pass does not read "
                              "could not be read (" + tail.failure + "): the pass ran full");
    return success;
  }
  report.recovered_changes = tail.lines.size();
  scanner::logger.error(kFn,
                        "Found change-log journals that the incremental pass does not read "
                        "(%s); adding the %zu changes they hold to it",
                        names.c_str(), tail.lines.size());
  state_.unread_changes = std::move(tail.lines);
  return success;
}

// A brick whose change-log history does not reach back to the session's
// last pass (the change log was switched off and on) is passed over by every
// incremental pass without a word: the pass is a full one. Its list holds
// every entry, and its times start the bricks' history afresh.
bool scan_run::full_for_lost_history(const tail_probe& probe) {
  const std::vector<std::string> blind =
      bricks_without_history(probe.state_dir, probe.session, probe.volume, state_.local_bricks);
  if (blind.empty()) return false;
  std::string bricks;
  for (const std::string& brick : blind) bricks += (bricks.empty() ? "" : ", ") + brick;
  scanner::logger.error(kFn,
                        "The change log of brick %s holds no history back to the session's last "
                        "pass (it was switched off and on, or the brick was replaced): an "
                        "incremental pass would see none of its changes; running a full pass",
                        bricks.c_str());
  state_.full = true;
  parts_.report.became_full = true;
  parts_.report.warnings.push_back("The change log of brick " + bricks +
                                    " holds no history back to the session's last pass: the "
                                    "pass ran full");
  return true;
}

// Which replica sets the journals were looked for in. A set without a brick
// on this node hides what a restart of its bricks cut off from every pass
// made here: said, and the run needs attention.
void scan_run::report_replica_sets(const lost_tail& tail) {
  scan_report& report = parts_.report;
  for (const auto& set : tail.sets) {
    report.replica_sets.push_back({set.first, set.second});
    if (set.second) continue;
    std::string bricks;
    for (const std::string& brick : set.first) bricks += (bricks.empty() ? "" : ", ") + brick;
    scanner::logger.error(kFn,
                          "No brick of the replica set %s is on this node: changes that a "
                          "restart of its bricks hid from glusterfind cannot be recovered from "
                          "here; scan from a node that holds a brick of every set, or run a "
                          "full scan after such a restart",
                          bricks.c_str());
    report.warnings.push_back("The replica set " + bricks +
                              " has no brick on this node: changes that a restart of its bricks "
                              "hid cannot be recovered from here");
  }
}

// A pass that a node could not do its part of names the node's bricks in
// glusterfind's log. Nothing is lost: the session's time of those bricks
// stays where it was, so the next pass that reaches them lists what changed
// meanwhile.
void scan_run::report_failed_bricks(const std::string& log, std::uint64_t from) {
  for (const failed_brick& failed : failed_bricks_since(log, from, "pre")) {
    parts_.report.failed_bricks.push_back(failed.brick);
    const std::string node = failed.brick.substr(0, failed.brick.find(':'));
    scanner::logger.error(kFn,
                          "glusterfind could not do its part of the pass on node %s, brick %s%s%s; "
                          "no change is lost: the next pass that reaches it lists the changes "
                          "made meanwhile",
                          node.c_str(), failed.brick.c_str(),
                          failed.reason.empty() ? "" : ": ", failed.reason.c_str());
  }
}

std::error_code scan_run::run_glusterfind() {
  std::string prefix = "full";
  state_.sess->get_outputfilepath(prefix, "", state_.scan_output);
  const bool full = state_.full;
  const std::string log = glusterfind_log_path(session_name_, parts_.volume_name);
  const std::uint64_t log_before = log_end(log);
  int status = full ? state_.sess->full_scan(state_.scan_output)
                    : state_.sess->incremental_scan(state_.scan_output);
  if (status != 0) {
    note_command_failure(&parts_.report,
                         without_redirection(pre_line(session_name_, parts_.volume_name,
                                                      state_.scan_output, full)),
                         command_status_text(status, os::last_error()));
    report_failed_bricks(log, log_before);
  }
  if (status == 0) return success;
  scanner::logger.error(kFn,
                        full ? "Failed to perform full scan for session %s on volume %s"
                             : "Failed to perform incr scan for session %s on volume %s",
                        session_name_.c_str(), parts_.volume_name.c_str());
  return efault();
}

// An incremental list names some entries wrongly (scanner/glusterfind/name_repair.h):
// each is looked up before the filter keeps it, on this node's bricks where
// it can be, and repaired where the volume tells how. Of a full pass's list
// only the lines that no list can hold go.
std::error_code scan_run::check_names() {
  name_repairs repairs;
  std::error_code ec =
      repair_change_list(state_.scan_output, volume_entries(state_.local_bricks, parts_.mount_path),
                         state_.full, &repairs);
  if (ec) {
    scanner::logger.error(kFn, "Failed to check the names of %s: %s", state_.scan_output.c_str(),
                          ec.message().c_str());
    note_failure(&parts_.report, state_.scan_output, ec);
    return efault();
  }
  if (std::error_code added = add_unread_changes()) return added;
  scan_report& report = parts_.report;
  report.names_checked = repairs.checked;
  report.names_joined = repairs.joined;
  report.names_decoded = repairs.decoded;
  report.names_unrepaired = repairs.unrepaired;
  report.names_line_feed = repairs.line_feed;
  if (repairs.joined != 0) {
    scanner::logger.error(kFn, "Joined %lu entries that glusterfind split at commas (the first: %s)",
                          static_cast<unsigned long>(repairs.joined), repairs.joined_example.c_str());
  }
  if (repairs.decoded != 0) {
    scanner::logger.error(kFn, "Decoded %lu names that glusterfind took byte by byte (the first: %s)",
                          static_cast<unsigned long>(repairs.decoded), repairs.decoded_example.c_str());
  }
  if (repairs.unrepaired != 0) {
    scanner::logger.error(kFn, "Dropped %lu entries whose names glusterfind garbled beyond repair "
                          "(the first: %s)",
                          static_cast<unsigned long>(repairs.unrepaired),
                          repairs.unrepaired_example.c_str());
    read_names_from_bricks();
    if (!report.names_read_from_bricks) {
      report.warnings.push_back(std::to_string(repairs.unrepaired) +
                                " changed entries could not be named: glusterfind garbled their "
                                "names beyond repair (the first: " + repairs.unrepaired_example +
                                "); a full scan lists them");
    }
  }
  if (repairs.line_feed != 0) {
    scanner::logger.error(kFn, "Dropped %lu entries whose names hold a line feed, which no list "
                          "can hold (the first: %s)",
                          static_cast<unsigned long>(repairs.line_feed),
                          repairs.line_feed_example.c_str());
    report.warnings.push_back(std::to_string(repairs.line_feed) +
                              " changed entries hold a line feed in their names, which no list "
                              "can hold (the first: " + repairs.line_feed_example + ")");
  }
  return success;
}

// The changes of the journals the pass does not read join its list once its
// names are repaired: a change that spans such a journal and the next one is
// in both, under its true name here and maybe garbled in the pass's list, and
// it is listed once only when the two are compared under the same name.
std::error_code scan_run::add_unread_changes() {
  if (state_.unread_changes.empty()) return success;
  if (std::error_code ec = add_to_change_list(state_.scan_output, state_.unread_changes)) {
    scanner::logger.error(kFn, "Failed to add the changes of unread journals to %s: %s",
                          state_.scan_output.c_str(), ec.message().c_str());
    note_failure(&parts_.report, state_.scan_output, ec);
    return efault();
  }
  return success;
}

// Names beyond repair: the bricks of this node say what the pass should
// have listed, under the names of now, where they hold a brick of every
// replica set. What they name and the list does not hold joins it.
void scan_run::read_names_from_bricks() {
  scan_report& report = parts_.report;
  if (state_.full || state_.local_bricks.empty() || !report.sets_on_this_node()) {
    scanner::logger.error(kFn, "The changes of this pass cannot be read from this node's bricks "
                          "(it lacks a brick of some replica set); a full scan lists them");
    return;
  }
  tail_probe probe;
  probe.volume = parts_.volume_name;
  probe.session = session_name_;
  probe.state_dir = glusterfind_state_dir();
  std::vector<std::string> lines;
  std::size_t added = 0;
  std::error_code ec = changed_on_bricks(probe, state_.local_bricks, &lines);
  if (!ec) ec = add_to_change_list(state_.scan_output, lines, &added);
  if (ec) {
    scanner::logger.error(kFn, "Failed to read the changes of this pass from this node's bricks: "
                          "%s; a full scan lists them", ec.message().c_str());
    return;
  }
  report.names_read_from_bricks = true;
  report.names_from_bricks = added;
  scanner::logger.error(kFn, "Read the changes of this pass from this node's bricks under their "
                        "names of now: %zu entries that the list did not hold were added to it",
                        added);
}

// Entries that the filter did not read, or could not write, would look
// unchanged to every later pass: a failed filter ends the run.
std::error_code scan_run::filter_changes() {
  std::string prefix = "filteredfile";
  state_.sess->get_outputfilepath(prefix, "", state_.filtered);
  state_.sess->insert_to_excludelist(state_.filtered);
  unsigned long count = 0;
  std::error_code ec =
      state_.sess->filter_new_and_modified(state_.scan_output, state_.filtered, count);
  // The change list has served its purpose whatever the filter made of it.
  local_side().remove(state_.scan_output);
  if (ec) {
    scanner::logger.error(kFn, "Failed to filter the change list into %s: %s",
                          state_.filtered.c_str(), ec.message().c_str());
    return efault();
  }
  state_.kept = count;
  state_.entries_done = count;
  prefix = "processed";
  state_.sess->get_collectfilename(prefix, count, state_.collect_file);
  return success;
}

std::error_code scan_run::name_collect_file() {
  if (state_.collect_file.empty()) return success;
  state_.sess->insert_to_excludelist(state_.collect_file);
  if (std::error_code ec = local_side().rename(state_.filtered, state_.collect_file)) {
    scanner::logger.error(kFn, "Failed to rename the generated file %s to %s",
                          state_.filtered.c_str(), state_.collect_file.c_str());
    note_failure(&parts_.report, state_.filtered, ec);
    return ec;
  }
  // A record for the host's bookkeeping; the run does not need it, so a
  // record that cannot be written is a warning, not a failure.
  if (std::error_code ec = state_.sess->savefilename(state_.collect_file)) {
    parts_.report.warnings.push_back("The name of the collect file could not be recorded beside " +
                                      parts_.output_dir + ": " + ec.message());
  }
  return success;
}

std::error_code scan_run::post_process() {
  std::error_code ec =
      post_process_collect_file(*state_.sess, local_side(), {parts_.output_dir, session_name_},
                                state_.sess->memory_budget(), state_.collect_file, &state_,
                                observer_);
  state_.entries_done = state_.kept;
  if (ec != success) {
    scanner::logger.error(kFn, "Failed to split processed collect files");
    return efault();
  }
  return success;
}

std::error_code scan_run::copy_results() {
  std::vector<std::string> names;  // in the output directory
  for (const std::string& path : state_.results) {
    names.push_back(path.substr(path.rfind('/') + 1));
  }
  std::error_code ec =
      copy_lists(local_side(), parts_.iopx, parts_.output_dir, parts_.volume_name, names,
                 &parts_.report);
  for (const scan_report_list& list : parts_.report.lists) state_.entries_done += list.entries;
  if (ec != success) {
    scanner::logger.error(kFn, "Failed to copy collect files into gluster volume");
    return efault();
  }
  return success;
}

// Written only when every list is complete in the volume, under a temporary
// name and renamed: a consumer that sees a manifest may take its lists.
std::error_code scan_run::write_manifest() {
  scan_report& report = parts_.report;
  tally();
  report.finished = parts_.env.now();
  const std::string path = manifest_path(report);
  std::error_code ec = parts_.owner.create_recursive_directory(manifest_directory(session_name_));
  if (!ec) ec = write_volume_file(parts_.api, parts_.iopx, path, manifest_json(report, parts_.volume_name));
  if (ec) {
    scanner::logger.error(kFn, "Failed to write the manifest %s of the run: %s", path.c_str(),
                          ec.message().c_str());
    note_failure(&report, path, ec);
    return efault();
  }
  report.manifest = path;
  return success;
}

// A directory that still holds leftovers or a file that could not be
// removed stays, marked, for the next run.
std::error_code scan_run::remove_output_dir() {
  release_output_dir(parts_.output_dir);
  return success;
}

}  // namespace scanner
}  // namespace tarn
