// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// POSIX calls on paths below the volume's directory.
#include "core/local_backend.h"

#include <cerrno>
#include <utility>

#include "core/platform.h"
#include "core/write_coalescer.h"

namespace tarn {
namespace core {
namespace {

// Results are written a line per call; a local file gathers them into writes
// of this size, small enough to stay off the mapped-memory path of malloc.
constexpr std::size_t kLocalWriteBatch = 64 * 1024;

class local_file : public backend_file {
 public:
  explicit local_file(os::file file) : file_(std::move(file)) {}

  std::error_code pwrite(const void* data, std::size_t n, int64_t offset) override {
    std::size_t written = 0;
    if (std::error_code ec = file_.pwrite(data, n, offset, &written)) return ec;
    // One call, as ever: a write cut short (a disk filling up) is an I/O
    // failure of the whole write.
    return written == n ? std::error_code() : os::error_from(EIO);
  }

  std::error_code size(int64_t* out) override { return file_.size(out); }

  std::error_code close() override { return file_.close(); }

 private:
  os::file file_;
};

class local_backend : public volume_backend {
 public:
  explicit local_backend(std::string root) : root_(std::move(root)) {}

  std::error_code open(const std::string& path, int flags,
                       std::unique_ptr<backend_file>* out) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    os::file opened;
    if (std::error_code ec = os::file::open(full, flags, 0644, &opened)) return ec;
    std::unique_ptr<backend_file> file = std::make_unique<local_file>(std::move(opened));
    *out = std::make_unique<coalescing_file>(std::move(file), kLocalWriteBatch);
    return std::error_code();
  }

  std::error_code mkdir(const std::string& path, unsigned int mode) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    return os::make_directory(full, mode);
  }

  std::error_code make_file(const std::string& path) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    os::file made;
    if (std::error_code ec =
            os::file::open(full, os::kOpenCreateExclusive | os::kOpenForWrite, 0644, &made)) {
      return ec;
    }
    return made.close();
  }

  std::error_code unlink(const std::string& path) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    return os::remove_file(full);
  }

  std::error_code rename(const std::string& from, const std::string& to) override {
    std::string full_from, full_to;
    if (std::error_code ec = resolve(from, &full_from)) return ec;
    if (std::error_code ec = resolve(to, &full_to)) return ec;
    return os::rename_file(full_from, full_to);
  }

  std::error_code read_file(const std::string& path, std::size_t max, std::string* out) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    bool whole = false;
    if (std::error_code ec = os::read_file_tail(full, max, out, &whole)) return ec;
    return whole ? std::error_code() : os::error_from(EFBIG);
  }

 private:
  std::error_code resolve(const std::string& path, std::string* full) const {
    std::string rel;
    if (std::error_code ec = normalize_volume_path(path, &rel)) return ec;
    *full = rel.empty() ? root_ : root_ + "/" + rel;
    return std::error_code();
  }

  std::string root_;
};

}  // namespace

std::error_code open_local_backend(const std::string& root, std::shared_ptr<volume_backend>* out) {
  bool directory = false;
  if (std::error_code ec = os::stat_path(root, &directory)) return ec;
  if (!directory) return os::error_from(ENOTDIR);
  *out = std::make_shared<local_backend>(root);
  return std::error_code();
}

}  // namespace core
}  // namespace tarn
