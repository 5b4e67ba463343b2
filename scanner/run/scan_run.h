// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// One scan run as a list of named steps over the scanner's members it is
// handed: scanner::initiate_scan runs them in order, and a host's progress
// observer (the benchmarks' timer among them) sees each go by.
#ifndef TARN_SCANNER_RUN_SCAN_RUN_H_
#define TARN_SCANNER_RUN_SCAN_RUN_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "scanner/glusterfind/changelog_tail.h"
#include "scanner/run/failure_note.h"
#include "scanner/run/run_env.h"
#include "scanner/stages/distribute.h"
#include "scanner/scanner.h"

namespace tarn {
namespace scanner {

// The steps of a run, in their order; post-processing holds sort,
// distribute, link and chunk.
enum class step_id {
  output_directory, session, working_directory, unread_journals, glusterfind, names, filter,
  collect_file, post_processing, sort, distribute, link, chunk, copy, manifest, tidy,
};
// The step's name, as the report and a host's progress observer give it:
// "output directory", "post-processing", ...
const char* step_name(step_id step);

// What the steps of one run hand on to each other. Each field is valid once
// the step that fills it has succeeded.
struct scan_state {
  session* sess = nullptr;
  bool full = false;          // the glusterfind pass is a full one
  std::vector<std::string> unread_changes;  // change-list lines the pass misses
  std::vector<std::string> local_bricks;    // the volume's bricks on this node
  std::string scan_output;    // glusterfind's change list
  std::string filtered;       // the filter's output
  std::string collect_file;   // empty after a failed filter
  unsigned long kept = 0;     // entries of the collect file
  // The collect file, sorted, when it fits in the session's memory budget;
  // otherwise empty, and the distribution merges run files instead. Emptied
  // once distributed.
  std::vector<std::string> entries;
  std::size_t sort_runs = 0;  // run files the sort wrote, merge passes' included; 0: none
  std::vector<std::string> app_files;     // application lists
  std::vector<std::string> shard_files;   // shard lists
  std::vector<std::string> linked_files;  // linked shard lists
  bool linked = false;                     // the link step has begun
  // The lists the run copies into the volume, in order, once chunked: the
  // linked lists, each long one as its chunks.
  std::vector<std::string> results;
  // What the step that ended last has done, for a progress display: the
  // entries the filter kept (filter, post-processing), the lines written
  // into the volume (copy); 0 for the other steps.
  uint64_t entries_done = 0;
};

// Sees the steps of a run go by, on the run's thread.
class step_observer {
 public:
  virtual ~step_observer() = default;
  virtual void step_begins(step_id step) = 0;
  // Also after a failed step; `state` is as that step left it.
  virtual void step_ends(step_id step, const scan_state& state) = 0;
};

// Runs `run` (a step) between the two calls of `observer`, which may be null.
template <typename Step>
std::error_code observe(step_observer* observer, step_id step, const scan_state& state,
                        Step&& run) {
  if (observer != nullptr) observer->step_begins(step);
  std::error_code ec = run();
  if (observer != nullptr) observer->step_ends(step, state);
  return ec;
}

// The post-processing of `collect_file` (session::process_filtered_files)
// through `files`, its lists made at `place`, its entries sorted in `budget`
// bytes, its steps seen by `observer` (may be null), its lists kept in
// `*state`.
std::error_code post_process_collect_file(session& sess, local_files& files,
                                          const list_place& place, std::size_t budget,
                                          const std::string& collect_file, scan_state* state,
                                          step_observer* observer);

// The scanner's members that a run works on, handed to it by the scanner.
struct run_parts {
  scanner& owner;  // for its own calls: the lock, directories in the volume
  scanner::scantype scan_type;
  bool list_files;
  std::size_t memory_budget;
  const std::string& volume_name;
  const std::string& output_dir;
  const std::string& mount_path;
  tarn_api& api;
  const boost::shared_ptr<tarn_iopx>& iopx;
  boost::shared_ptr<tarn_file>& lock_file;
  const std::string& lock_path;
  scan_report& report;
  std::unordered_map<std::string, std::unique_ptr<session>>& sessions;
  // The commands, the mount table and the clock of the run: in force on its
  // thread while it runs.
  run_env& env;
};

// The session object of the name in `parts.sessions`, made (and the
// glusterfind session created when `glusterfind list` does not name it) on
// first use. Null when it can be neither found nor created; `*status` is
// then the status of the create command.
session* find_or_make_session(const run_parts& parts, const std::string& name, int* status);

// One run of one session on one scanner. Not thread-safe: lives on the
// caller's thread for the length of the run.
class scan_run {
 public:
  scan_run(const run_parts& parts, std::string session_name) noexcept
      : parts_(parts), session_name_(std::move(session_name)) {}

  // The whole run: checks, lock, the steps, release. The result is the one
  // scanner::initiate_scan documents.
  std::error_code run(step_observer* observer);

  // The steps, in their order (scanner.cc). Each logs its own failure and
  // returns the run's result for it.
  std::error_code claim_output_dir();
  std::error_code find_session();
  std::error_code make_working_directory();
  std::error_code find_unread_changes();
  std::error_code run_glusterfind();
  bool full_for_lost_history(const tail_probe& probe);
  std::error_code check_names();
  std::error_code add_unread_changes();
  void read_names_from_bricks();
  std::error_code filter_changes();
  std::error_code name_collect_file();
  std::error_code post_process();
  std::error_code copy_results();
  std::error_code write_manifest();
  std::error_code remove_output_dir();

 private:
  std::error_code check_inputs();
  std::error_code check_mount();
  std::error_code take_lock();
  void release_lock();
  void report_replica_sets(const lost_tail& tail);
  void report_failed_bricks(const std::string& log, std::uint64_t from);
  // Everything from the checks to the release of the lock.
  std::error_code run_locked_steps();
  // The report's figures from the lists copied and what the session's
  // steps kept; report_counts() adds the warnings they call for.
  void tally();
  void report_counts();

  const run_parts& parts_;
  const std::string session_name_;
  step_observer* observer_ = nullptr;
  scan_state state_;
  const char* step_ = "checks";  // the step running, for the report
  // What failed the step running, as its parts told it.
  failure_note note_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_SCAN_RUN_H_
