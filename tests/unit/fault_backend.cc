// Copyright 2026 The tarn-scanner Authors. All rights reserved.
#include "unit/fault_backend.h"

#include <algorithm>
#include <utility>

namespace tarn {
namespace testing_util {
namespace {

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

bool matches(const std::string& match, const std::string& path) {
  return path.find(match) != std::string::npos;
}

class fault_file : public core::backend_file {
 public:
  fault_file(std::unique_ptr<core::backend_file> target, std::string path,
             std::shared_ptr<fault_plan> plan)
      : target_(std::move(target)), path_(std::move(path)), plan_(std::move(plan)) {}

  // A write cut short lands in part and fails, as a backend reports it.
  std::error_code pwrite(const void* data, std::size_t n, int64_t offset) override {
    std::size_t fewer = 0;
    if (int e = plan_->enter(volume_call::write, path_, &fewer)) return os_error(e);
    if (fewer == 0) return target_->pwrite(data, n, offset);
    if (fewer < n) {
      if (std::error_code ec = target_->pwrite(data, n - fewer, offset)) return ec;
    }
    return os_error(EIO);
  }

  std::error_code size(int64_t* out) override { return target_->size(out); }

  // A failing close still closes, as a volume reporting a late write error does.
  std::error_code close() override {
    std::size_t fewer = 0;
    int e = plan_->enter(volume_call::close, path_, &fewer);
    std::error_code ec = target_->close();
    return e != 0 ? os_error(e) : ec;
  }

 private:
  std::unique_ptr<core::backend_file> target_;
  std::string path_;
  std::shared_ptr<fault_plan> plan_;
};

}  // namespace

void fault_plan::fail(volume_call op, int nth, int error, const std::string& match) {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back(rule{op, match, nth, error, 0});
}

void fault_plan::short_write(int nth, std::size_t fewer, const std::string& match) {
  std::lock_guard<std::mutex> lock(mu_);
  rules_.push_back(rule{volume_call::write, match, nth, 0, fewer});
}

void fault_plan::before(volume_call op, std::function<void(const std::string&)> run,
                        const std::string& match) {
  std::lock_guard<std::mutex> lock(mu_);
  hooks_.push_back(hook{op, match, std::move(run)});
}

int fault_plan::calls(volume_call op) const {
  std::lock_guard<std::mutex> lock(mu_);
  return counts_[static_cast<int>(op)];
}

int fault_plan::enter(volume_call op, const std::string& path, std::size_t* fewer) {
  std::vector<std::function<void(const std::string&)>> to_run;
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++counts_[static_cast<int>(op)];
    for (const hook& h : hooks_) {
      if (h.op == op && matches(h.match, path)) to_run.push_back(h.run);
    }
    for (rule& r : rules_) {
      if (r.op != op || r.remaining == 0 || !matches(r.match, path)) continue;
      if (--r.remaining == 0 && error == 0 && *fewer == 0) {
        error = r.error;
        *fewer = r.fewer;
      }
    }
  }
  // Outside the lock: a hook may wait for another process or thread.
  for (const auto& run : to_run) run(path);
  return error;
}

fault_backend::fault_backend(std::shared_ptr<core::volume_backend> target,
                             std::shared_ptr<fault_plan> plan)
    : forwarding_backend(std::move(target)), plan_(std::move(plan)) {}

std::error_code fault_backend::open(const std::string& path, int flags,
                                    std::unique_ptr<core::backend_file>* out) {
  std::size_t fewer = 0;
  if (int e = plan_->enter(volume_call::open, path, &fewer)) return os_error(e);
  std::unique_ptr<core::backend_file> file;
  if (std::error_code ec = forwarding_backend::open(path, flags, &file)) return ec;
  out->reset(new fault_file(std::move(file), path, plan_));
  return std::error_code();
}

std::error_code fault_backend::mkdir(const std::string& path, unsigned int mode) {
  std::size_t fewer = 0;
  if (int e = plan_->enter(volume_call::mkdir, path, &fewer)) return os_error(e);
  return forwarding_backend::mkdir(path, mode);
}

std::error_code fault_backend::make_file(const std::string& path) {
  std::size_t fewer = 0;
  if (int e = plan_->enter(volume_call::open, path, &fewer)) return os_error(e);
  return forwarding_backend::make_file(path);
}

std::error_code fault_backend::unlink(const std::string& path) {
  std::size_t fewer = 0;
  if (int e = plan_->enter(volume_call::unlink, path, &fewer)) return os_error(e);
  return forwarding_backend::unlink(path);
}

std::error_code fault_backend::rename(const std::string& from, const std::string& to) {
  std::size_t fewer = 0;
  if (int e = plan_->enter(volume_call::rename, to, &fewer)) return os_error(e);
  return forwarding_backend::rename(from, to);
}

fault_injection::fault_injection()
    : run_env_wrapper(scanner::env_in_force()),
      plan_(std::make_shared<fault_plan>()),
      in_force_(*this) {}

std::error_code fault_injection::open_volume(const iopx_tree_cfg& cfg,
                                             std::shared_ptr<core::volume_backend>* out) {
  std::shared_ptr<core::volume_backend> real;
  if (std::error_code ec = target().open_volume(cfg, &real)) return ec;
  *out = std::make_shared<fault_backend>(std::move(real), plan_);
  return std::error_code();
}

no_io_buffers::no_io_buffers()
    : previous_(core::set_malloc_intfx(boost::shared_ptr<tarn_mem::malloc_intfx>())) {}

no_io_buffers::~no_io_buffers() { core::set_malloc_intfx(previous_); }

}  // namespace testing_util
}  // namespace tarn
