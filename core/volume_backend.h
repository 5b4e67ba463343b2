// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The seam below tarn_api: one small interface per kind of volume, a
// forwarding wrapper for fault injection in tests, and the default choice of
// a backend for a configuration. Internal to the core library.
#ifndef TARN_CORE_VOLUME_BACKEND_H_
#define TARN_CORE_VOLUME_BACKEND_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <system_error>

#include "core/tarn_api.h"

namespace tarn {
namespace core {

// An open file of a volume.
class backend_file {
 public:
  virtual ~backend_file() = default;
  // Writes all `n` bytes at `offset`, or fails (a write cut short is EIO).
  // A backend may keep writes back; their errors then show at close().
  virtual std::error_code pwrite(const void* data, std::size_t n, int64_t offset) = 0;
  // The size in bytes, counting writes kept back.
  virtual std::error_code size(int64_t* out) = 0;
  // Completes kept-back writes and closes; called at most once.
  virtual std::error_code close() = 0;
};

// One opened volume. Paths are relative to its top directory; a leading "/"
// names the same place. Thread-compatible.
class volume_backend {
 public:
  virtual ~volume_backend() = default;
  virtual std::error_code open(const std::string& path, int flags,
                               std::unique_ptr<backend_file>* out) = 0;
  virtual std::error_code mkdir(const std::string& path, unsigned int mode) = 0;
  // Makes an empty file (mode 0644); EEXIST when `path` is there.
  virtual std::error_code make_file(const std::string& path) = 0;
  virtual std::error_code unlink(const std::string& path) = 0;
  // Renames `from` to `to`, replacing a file at `to` (rename(2)).
  virtual std::error_code rename(const std::string& from, const std::string& to) = 0;
  // Reads a whole file of at most `max` bytes; EFBIG when it is longer.
  virtual std::error_code read_file(const std::string& path, std::size_t max,
                                    std::string* out) = 0;
};

// Forwards every call to another backend; tests override single calls.
class forwarding_backend : public volume_backend {
 public:
  explicit forwarding_backend(std::shared_ptr<volume_backend> target)
      : target_(std::move(target)) {}
  std::error_code open(const std::string& path, int flags,
                       std::unique_ptr<backend_file>* out) override {
    return target_->open(path, flags, out);
  }
  std::error_code mkdir(const std::string& path, unsigned int mode) override {
    return target_->mkdir(path, mode);
  }
  std::error_code make_file(const std::string& path) override {
    return target_->make_file(path);
  }
  std::error_code unlink(const std::string& path) override {
    return target_->unlink(path);
  }
  std::error_code rename(const std::string& from, const std::string& to) override {
    return target_->rename(from, to);
  }
  std::error_code read_file(const std::string& path, std::size_t max,
                            std::string* out) override {
    return target_->read_file(path, max, out);
  }

 private:
  std::shared_ptr<volume_backend> target_;
};

// The backend for `cfg` that tarn_api::init opens unless given another way:
// the local directory backend when TARN_LOCAL_VOLUME_ROOT is set, else
// GlusterFS.
TARN_EXPORT std::error_code open_default_backend(const iopx_tree_cfg& cfg,
                                                 std::shared_ptr<volume_backend>* out);

// Replaces the memory interface that tarn_mem::get_malloc_intfx() hands out
// and returns the previous one; an empty handle makes every alloc_io_buffer
// fail. For tests.
boost::shared_ptr<tarn_mem::malloc_intfx> set_malloc_intfx(
    boost::shared_ptr<tarn_mem::malloc_intfx> intfx);

// Turns a volume path into its relative form: leading and repeated "/" and
// "." components dropped. EINVAL for a ".." component (nothing may reach
// outside the volume) or an embedded NUL. The top directory is "".
std::error_code normalize_volume_path(const std::string& path, std::string* out);

}  // namespace core
}  // namespace tarn

#endif  // TARN_CORE_VOLUME_BACKEND_H_
