// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "scanner/run/run_env.h"

#include "core/platform.h"
#include "core/volume_backend.h"

namespace tarn {
namespace scanner {
namespace {

class machine final : public run_env {
 public:
  local_files& files() override { return posix_local_files(); }
  int run(const std::string& line, std::string* output) override {
    return output != nullptr ? os::run_shell_output(line, output) : os::run_shell(line);
  }
  std::error_code read_mount_table(std::string* text) override {
    return os::read_whole_file("/proc/self/mounts", text);
  }
  std::chrono::system_clock::time_point now() override {
    return std::chrono::system_clock::now();
  }
  std::error_code open_volume(const iopx_tree_cfg& cfg,
                              std::shared_ptr<core::volume_backend>* out) override {
    return core::open_default_backend(cfg, out);
  }
};

thread_local run_env* in_force = nullptr;

}  // namespace

run_env& machine_env() {
  static machine* const env = new machine;  // never destroyed: threads may still call
  return *env;
}

run_env& env_in_force() { return in_force != nullptr ? *in_force : machine_env(); }

scoped_run_env::scoped_run_env(run_env& env) : scoped_in_force(in_force, env) {}

}  // namespace scanner
}  // namespace tarn
