// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// What a run works on besides its local files and the volume: the commands
// it runs, the machine's mount table and its clock. The steps reach them
// only through run_env, so that tests can answer and record them in process;
// machine_env() is the real thing.
#ifndef TARN_SCANNER_RUN_RUN_ENV_H_
#define TARN_SCANNER_RUN_RUN_ENV_H_

#include <chrono>
#include <string>
#include <system_error>

namespace tarn {
namespace scanner {

class run_env {
 public:
  virtual ~run_env() = default;
  // Runs the command line `line`, as the run built it, through the shell.
  // The raw wait status, as system(3) gives it (an exit status of 1 is
  // 256), or -1 with errno set when it could not be run. With `output`, the
  // command's standard output is read into it.
  virtual int run(const std::string& line, std::string* output) = 0;
  // The text of the mount table, /proc/self/mounts.
  virtual std::error_code read_mount_table(std::string* text) = 0;
  virtual std::chrono::system_clock::time_point now() = 0;
};

// The machine: the shell, its mount table, its clock. Lives as long as the
// process; safe to call from several threads at once.
run_env& machine_env();

// The environment in force on this thread: the one the innermost
// scoped_run_env of the thread put in place, else the machine.
run_env& env_in_force();

// Puts `env`, which must outlive it, in place on this thread until it goes.
class scoped_run_env {
 public:
  explicit scoped_run_env(run_env& env);
  ~scoped_run_env();
  scoped_run_env(const scoped_run_env&) = delete;
  scoped_run_env& operator=(const scoped_run_env&) = delete;

 private:
  run_env* previous_;
};

}  // namespace scanner
}  // namespace tarn

#endif  // TARN_SCANNER_RUN_RUN_ENV_H_
