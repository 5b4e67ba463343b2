// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run works on: its local files, the volume, the commands it runs,
// the machine's mount table and its clock. The scanner and its steps reach
// them only through run_env, so that tests can answer, record and fail them
// in process; machine_env() is the real thing.
#ifndef TARN_SCANNER_RUN_RUN_ENV_H_
#define TARN_SCANNER_RUN_RUN_ENV_H_

#include <chrono>
#include <memory>
#include <string>
#include <system_error>

#include "core/tarn_api.h"
#include "scanner/run/in_force.h"
#include "scanner/run/local_files.h"

namespace tarn {
namespace scanner {

class run_env {
 public:
  virtual ~run_env() = default;
  // The working files and the attributes read through the mount; the steps
  // take them from local_side(), which a run puts its own wrapper on.
  virtual local_files& files() = 0;
  // Runs the command line `line`, as the run built it, through the shell.
  // The raw wait status, as system(3) gives it (an exit status of 1 is
  // 256), or -1 with errno set when it could not be run. With `output`, the
  // command's standard output is read into it.
  virtual int run(const std::string& line, std::string* output) = 0;
  // The text of the mount table, /proc/self/mounts.
  virtual std::error_code read_mount_table(std::string* text) = 0;
  virtual std::chrono::system_clock::time_point now() = 0;
  // Opens the volume `cfg` names, for tarn_api::init. A scanner opens its
  // volume once, when it is made, through the environment in force then.
  virtual std::error_code open_volume(const iopx_tree_cfg& cfg,
                                      std::shared_ptr<core::volume_backend>* out) = 0;
};

// Forwards every call to `target`, which must outlive it; tests derive from
// it and answer, record or fail the calls they care about.
class run_env_wrapper : public run_env {
 public:
  explicit run_env_wrapper(run_env& target) : target_(target) {}
  local_files& files() override { return target_.files(); }
  int run(const std::string& line, std::string* output) override {
    return target_.run(line, output);
  }
  std::error_code read_mount_table(std::string* text) override {
    return target_.read_mount_table(text);
  }
  std::chrono::system_clock::time_point now() override { return target_.now(); }
  std::error_code open_volume(const iopx_tree_cfg& cfg,
                              std::shared_ptr<core::volume_backend>* out) override {
    return target_.open_volume(cfg, out);
  }

 protected:
  run_env& target() const { return target_; }

 private:
  run_env& target_;
};

// The machine: its file system, the shell, its mount table, its clock, and
// the volume as tarn_api opens it by default. Lives as long as the
// process; safe to call from several threads at once.
run_env& machine_env();

// The environment in force on this thread: the one the innermost
// scoped_run_env of the thread put in place, else the machine.
run_env& env_in_force();

// Puts `env`, which must outlive it, in place on this thread until it goes.
class scoped_run_env : public scoped_in_force<run_env> {
 public:
  explicit scoped_run_env(run_env& env);
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_RUN_ENV_H_
