// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// POSIX calls on paths below the volume's directory.
#include "core/local_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/write_coalescer.h"

namespace tarn {
namespace core {
namespace {

// Results are written a line per call; a local file gathers them into writes
// of this size, small enough to stay off the mapped-memory path of malloc.
constexpr std::size_t kLocalWriteBatch = 64 * 1024;

std::error_code os_error(int e) { return std::error_code(e, std::generic_category()); }

class local_file : public backend_file {
 public:
  explicit local_file(int fd) : fd_(fd) {}
  ~local_file() override {
    if (fd_ >= 0) ::close(fd_);
  }

  int64_t pwrite(const void* data, std::size_t n, int64_t offset) override {
    if (offset < 0) return -EINVAL;
    ssize_t w;
    do {
      w = ::pwrite(fd_, data, n, offset);
    } while (w < 0 && errno == EINTR);
    if (w < 0) return -errno;
    return w;
  }

  std::error_code size(int64_t* out) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return os_error(errno);
    *out = st.st_size;
    return std::error_code();
  }

  std::error_code close() override {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return os_error(errno);
    return std::error_code();
  }

 private:
  int fd_;
};

class local_backend : public volume_backend {
 public:
  explicit local_backend(std::string root) : root_(std::move(root)) {}

  std::error_code open(const std::string& path, int flags,
                       std::unique_ptr<backend_file>* out) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    int fd = ::open(full.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return os_error(errno);
    std::unique_ptr<backend_file> file(new local_file(fd));
    out->reset(new coalescing_file(std::move(file), kLocalWriteBatch));
    return std::error_code();
  }

  std::error_code mkdir(const std::string& path, unsigned int mode) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    if (::mkdir(full.c_str(), static_cast<mode_t>(mode)) != 0) return os_error(errno);
    return std::error_code();
  }

  std::error_code unlink(const std::string& path) override {
    std::string full;
    if (std::error_code ec = resolve(path, &full)) return ec;
    if (::unlink(full.c_str()) != 0) return os_error(errno);
    return std::error_code();
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

std::error_code open_local_backend(const std::string& root,
                                   std::shared_ptr<volume_backend>* out) {
  struct stat st;
  if (::stat(root.c_str(), &st) != 0) return os_error(errno);
  if (!S_ISDIR(st.st_mode)) return os_error(ENOTDIR);
  out->reset(new local_backend(root));
  return std::error_code();
}

}  // namespace core
}  // namespace tarn
