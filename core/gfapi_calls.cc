// Copyright 2026 The tarn-scanner Authors. All rights reserved.
// The libgfapi calls behind core/gfapi_calls.h.
#include "core/gfapi_calls.h"

#include <glusterfs/api/glfs.h>
#include <sys/stat.h>

#include <cerrno>

#include "core/platform.h"

namespace tarn {
namespace core {
namespace gfapi {
std::error_code connect(const std::string& volume, const std::string& host, int port,
                        glfs** out) {
  glfs_t* fs = glfs_new(volume.c_str());
  if (fs == nullptr) return os::last_error();
  // Without the metadata cache every path lookup asks the bricks, so that a
  // lock file or directory another client has just removed is not taken for
  // present (EEXIST, ESTALE) for up to a second. Only opens, creates and
  // directory calls pay the round trip; writes go by file handle. Not every
  // volume has the cache, so a failure here is no failure.
  glfs_set_xlator_option(fs, "*-md-cache", "md-cache-timeout", "0");
  if (glfs_set_volfile_server(fs, "tcp", host.c_str(), port) != 0 || glfs_init(fs) != 0) {
    std::error_code ec = os::last_error();
    // Finalising a connection that never came up is quick (milliseconds);
    // only an initialised one takes seconds.
    glfs_fini(fs);
    return ec;
  }
  *out = fs;
  return std::error_code();
}

std::error_code creat(glfs* fs, const std::string& path, int flags, mode_t mode,
                      glfs_fd** out) {
  errno = 0;
  glfs_fd_t* fd = glfs_creat(fs, path.c_str(), flags, mode);
  if (fd == nullptr) return os::last_error();
  *out = fd;
  return std::error_code();
}

std::error_code open(glfs* fs, const std::string& path, int flags, glfs_fd** out) {
  errno = 0;
  glfs_fd_t* fd = glfs_open(fs, path.c_str(), flags);
  if (fd == nullptr) return os::last_error();
  *out = fd;
  return std::error_code();
}

std::error_code mkdir(glfs* fs, const std::string& path, mode_t mode) {
  if (glfs_mkdir(fs, path.c_str(), mode) != 0) return os::last_error();
  return std::error_code();
}

std::error_code make_file(glfs* fs, const std::string& path, mode_t mode) {
  if (glfs_mknod(fs, path.c_str(), S_IFREG | mode, 0) != 0) return os::last_error();
  return std::error_code();
}

std::error_code unlink(glfs* fs, const std::string& path) {
  if (glfs_unlink(fs, path.c_str()) != 0) return os::last_error();
  return std::error_code();
}

std::error_code rename(glfs* fs, const std::string& from, const std::string& to) {
  errno = 0;
  if (glfs_rename(fs, from.c_str(), to.c_str()) != 0) return os::last_error();
  return std::error_code();
}

std::error_code pread(glfs_fd* fd, void* data, std::size_t n, int64_t offset, std::size_t* got) {
  for (;;) {
    errno = 0;
    ssize_t r = glfs_pread(fd, data, n, offset, 0, nullptr);
    if (r >= 0) {
      *got = static_cast<std::size_t>(r);
      return std::error_code();
    }
    if (errno != EINTR) return os::last_error();
  }
}

std::error_code pwrite_all(glfs_fd* fd, const void* data, std::size_t n, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    errno = 0;
    ssize_t w = glfs_pwrite(fd, p, n, offset, 0, nullptr, nullptr);
    if (w < 0) {
      if (errno == EINTR) continue;
      return os::last_error();
    }
    if (w == 0) return os::error_from(EIO);  // no progress: do not spin
    p += w;
    n -= static_cast<std::size_t>(w);
    offset += w;
  }
  return std::error_code();
}

std::error_code file_size(glfs_fd* fd, int64_t* out) {
  struct stat st;
  if (glfs_fstat(fd, &st) != 0) return os::last_error();
  *out = st.st_size;
  return std::error_code();
}

std::error_code close(glfs_fd* fd) {
  if (glfs_close(fd) != 0) return os::last_error();
  return std::error_code();
}

}  // namespace gfapi
}  // namespace core
}  // namespace tarn
