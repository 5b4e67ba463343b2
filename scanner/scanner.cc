// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The scanner object and one scan run, in the order of its steps.
#include "scanner/scanner.h"

#include <chrono>
#include <cstdlib>
#include <utility>

#include "core/child_process.h"
#include "core/settings.h"
#include "scanner/guards/mount_check.h"
#include "scanner/run/scan_run.h"

namespace tarn {

const std::error_code success(0, std::generic_category());
const std::error_condition ok;

namespace scanner {
tarn_debug scanner::logger;

scanner::scanner(std::string volume_name, std::string output_dir, std::string mount_path)
    : scan_type(scan_full),
      volume_name(std::move(volume_name)),
      output_dir(std::move(output_dir)),
      mount_path(std::move(mount_path)) {
  iopx_tree_cfg cfg;
  cfg.fs_type = "glusterfs";
  cfg.volume = this->volume_name;
  // The volume's description comes from the server the mount took it from
  // (a glusterd bound to one address refuses 127.0.0.1), unless the
  // environment names one.
  if (settings::gluster_server().empty() && settings::local_volume_root().empty()) {
    cfg.server = mount_server(this->mount_path, this->volume_name);
  }
  // The volume is opened through the environment in force now; init is
  // called here only, while it is.
  run_env& env = env_in_force();
  api = std::make_unique<tarn_api>(
      [&env](const iopx_tree_cfg& c, std::shared_ptr<core::volume_backend>* out) {
        return env.open_volume(c, out);
      });
  // Not tested here: an unreachable volume shows when the lock file cannot
  // be created.
  iopx = api->init(cfg);
  lock_file.reset();
}

scanner::~scanner() {
  sessions.clear();
  // Handles made by the api go before it.
  lock_file.reset();
  iopx.reset();
  api.reset();
}

void scanner::set_scan_type(scantype type) { scan_type = type; }

void scanner::set_list_files(bool on) {
  list_files = on;
  for (auto& entry : sessions) entry.second->set_list_files(on);
}

void scanner::set_memory_budget(std::size_t bytes) {
  memory_budget = bytes;
  for (auto& entry : sessions) entry.second->set_memory_budget(bytes);
}

progress_observer::~progress_observer() = default;

const char* step_name(step_id step) {
  static const char* const kNames[] = {
      "output directory", "session", "working directory", "unread journals", "glusterfind",
      "names",            "filter",  "collect file",      "post-processing", "sort",
      "distribute",       "link",    "chunk",             "copy",            "manifest",
      "tidy",
  };
  return kNames[static_cast<int>(step)];
}

namespace {

// The run's steps, told to a host's progress observer.
class progress_relay : public step_observer {
 public:
  explicit progress_relay(progress_observer& to) : to_(to) {}
  void step_begins(step_id step) override { to_.step_entered(step_name(step)); }
  void step_ends(step_id step, const scan_state& state) override {
    to_.entries_done(step_name(step), state.entries_done);
  }

 private:
  progress_observer& to_;
};

}  // namespace

std::error_code scanner::initiate_scan(std::string session_name) {
  const run_parts parts{*this,     scan_type, list_files, memory_budget, volume_name, output_dir,
                        mount_path, *api,      iopx,       lock_file,     lock_path,   report_,
                        sessions,   env_in_force()};
  if (progress_ == nullptr) return scan_run(parts, std::move(session_name)).run(nullptr);
  progress_relay relay(*progress_);
  return scan_run(parts, std::move(session_name)).run(&relay);
}

namespace {

struct scan_step {
  step_id id;
  std::error_code (scan_run::*run)();
};

// The steps of a run after the lock is taken, in their order.
const scan_step kScanSteps[] = {
    {step_id::output_directory, &scan_run::claim_output_dir},
    {step_id::session, &scan_run::find_session},
    {step_id::working_directory, &scan_run::make_working_directory},
    {step_id::unread_journals, &scan_run::find_unread_changes},
    {step_id::glusterfind, &scan_run::run_glusterfind},
    {step_id::names, &scan_run::check_names},
    {step_id::filter, &scan_run::filter_changes},
    {step_id::collect_file, &scan_run::name_collect_file},
    {step_id::post_processing, &scan_run::post_process},
    {step_id::copy, &scan_run::copy_results},
    {step_id::manifest, &scan_run::write_manifest},
    {step_id::tidy, &scan_run::remove_output_dir},
};

// Calls `release` when it goes, on every way out of the run.
template <typename F>
class scope_exit {
 public:
  explicit scope_exit(F f) : f_(std::move(f)) {}
  ~scope_exit() { f_(); }
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;

 private:
  F f_;
};

}  // namespace

std::error_code scan_run::run(step_observer* observer) {
  observer_ = observer;
  scan_report& report = parts_.report;
  report = scan_report();
  report.started = parts_.env.now();
  report.session = session_name_;
  report.full = parts_.scan_type != scanner::scan_incremental;
  std::error_code ec;
  {
    // The steps go through the run's environment, and through a local side
    // over the one in force that notes what failed them.
    scoped_run_env env_used(parts_.env);
    noting_local_files files(local_side(), note_);
    scoped_local_side files_in_force(files);
    ec = run_locked_steps();
  }
  report_counts();
  report.result = ec;
  if (ec) report.failure = step_;
  report.finished = parts_.env.now();
  return ec;
}

std::error_code scan_run::run_locked_steps() {
  if (std::error_code ec = check_inputs()) return ec;
  step_ = "mount";
  if (std::error_code ec = check_mount()) return ec;
  step_ = "lock";
  if (std::error_code ec = take_lock()) return ec;
  scope_exit release([this] { release_lock(); });
  for (const scan_step& step : kScanSteps) {
    step_ = step_name(step.id);
    note_.clear();
    state_.entries_done = 0;
    std::error_code ec = observe(observer_, step.id, state_, [&] { return (this->*step.run)(); });
    if (ec) {
      note_.fill(&parts_.report);
      return ec;
    }
  }
  return success;
}

void stop_runs() { core::stop_runs(); }

session* find_or_make_session(const run_parts& parts, const std::string& name, int* status) {
  auto found = parts.sessions.find(name);
  if (found != parts.sessions.end()) return found->second.get();

  auto sess = std::make_unique<session>(name, parts.volume_name, parts.output_dir, parts.mount_path);
  if (sess->session_exists() != 0) {
    *status = sess->create_session();
    if (*status != 0) return nullptr;
  }
  sess->set_list_files(parts.list_files);
  sess->set_memory_budget(parts.memory_budget);
  return parts.sessions.emplace(name, std::move(sess)).first->second.get();
}

session* scanner::get_sessionobj(std::string session_name) {
  const run_parts parts{*this,     scan_type, list_files, memory_budget, volume_name, output_dir,
                        mount_path, *api,      iopx,       lock_file,     lock_path,   report_,
                        sessions,   env_in_force()};
  int status = 0;
  return find_or_make_session(parts, session_name, &status);
}

}  // namespace scanner
}  // namespace tarn
