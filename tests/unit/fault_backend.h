// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// Fault injection below tarn_api: a volume backend that forwards to the real
// one and fails, shortens or intercepts chosen calls.
#ifndef TARN_TESTS_UNIT_FAULT_BACKEND_H_
#define TARN_TESTS_UNIT_FAULT_BACKEND_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "core/tarn_mem.h"
#include "core/volume_backend.h"
#include "scanner/run/run_env.h"

namespace tarn {
namespace testing_util {

// The calls a volume and its files receive.
enum class volume_call { open, mkdir, write, close, unlink, rename };

// What happens to the volume calls of every backend made under one
// fault_injection. Rules are matched against the volume path of the call (for
// write and close: the path the file was opened with). Thread-safe.
class fault_plan {
 public:
  // The `nth` call of `op` (1-based, counted from now among the calls whose
  // path contains `match`) fails with `error` and does nothing. Once.
  void fail(volume_call op, int nth, int error, const std::string& match = "");
  // The `nth` matching write writes `fewer` bytes less than asked and reports
  // the smaller count. Once.
  void short_write(int nth, std::size_t fewer, const std::string& match = "");
  // Runs `hook` with the path before every matching call of `op`, from any
  // thread; the hook may block.
  void before(volume_call op, std::function<void(const std::string&)> hook,
              const std::string& match = "");
  // Calls of `op` seen so far, on every path.
  int calls(volume_call op) const;

  // For the backend: counts the call, runs the hooks, and tells what to do.
  // Returns 0 to go on, or the errno to fail with; `*fewer` is set for a
  // write to shorten.
  int enter(volume_call op, const std::string& path, std::size_t* fewer);

 private:
  struct rule {
    volume_call op;
    std::string match;
    int remaining;  // matching calls until it fires; 0 once it has
    int error;
    std::size_t fewer;
  };
  struct hook {
    volume_call op;
    std::string match;
    std::function<void(const std::string&)> run;
  };

  mutable std::mutex mu_;
  std::vector<rule> rules_;
  std::vector<hook> hooks_;
  int counts_[6] = {0, 0, 0, 0, 0, 0};
};

// Wraps `target`, asking `plan` before each call.
class fault_backend : public core::forwarding_backend {
 public:
  fault_backend(std::shared_ptr<core::volume_backend> target, std::shared_ptr<fault_plan> plan);
  std::error_code open(const std::string& path, int flags,
                       std::unique_ptr<core::backend_file>* out) override;
  std::error_code mkdir(const std::string& path, unsigned int mode) override;
  // Counted and matched as an open: it creates a file.
  std::error_code make_file(const std::string& path) override;
  std::error_code unlink(const std::string& path) override;
  // Matched on the name renamed to.
  std::error_code rename(const std::string& from, const std::string& to) override;

 private:
  std::shared_ptr<fault_plan> plan_;
};

// For its life, the environment in force on this thread: every volume that
// a scanner made meanwhile opens (through the environment before it) is
// wrapped in a fault_backend following plan().
class fault_injection : public scanner::run_env_wrapper {
 public:
  fault_injection();
  std::error_code open_volume(const iopx_tree_cfg& cfg,
                              std::shared_ptr<core::volume_backend>* out) override;

  fault_plan& plan() { return *plan_; }

 private:
  std::shared_ptr<fault_plan> plan_;
  scanner::scoped_run_env in_force_;
};

// For its life, every tarn_api::alloc_io_buffer returns an empty handle.
class no_io_buffers {
 public:
  no_io_buffers();
  ~no_io_buffers();
  no_io_buffers(const no_io_buffers&) = delete;
  no_io_buffers& operator=(const no_io_buffers&) = delete;

 private:
  boost::shared_ptr<tarn_mem::malloc_intfx> previous_;
};

}  // namespace testing_util
}  // namespace tarn

#endif  // TARN_TESTS_UNIT_FAULT_BACKEND_H_
